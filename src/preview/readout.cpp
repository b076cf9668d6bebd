#include "preview/readout.hpp"

#include "audio/audio_capture.hpp"
#include "clock/time_provider.hpp"
#include "effects/vector_font.hpp"
#include "show/effect_kind.hpp"
#include "show/show_timeline.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace lumarok {

namespace {

constexpr float kGlyphHeight = 1.2f; // the font's own units, -0.6 to 0.6
constexpr float kCellWidth = 1.0f;   // glyphs are 0.8 wide; the rest is spacing
constexpr PreviewVertex kInk{0.0f, 0.0f, 0.75f, 0.7f, 0.2f};

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string clockLine(const TimeProvider* clock) {
    return clock == nullptr ? "CLOCK NONE" : upper(clock->readoutText());
}

std::string audioLine(const AudioCapture* audio) {
    if (audio == nullptr) {
        return "AUDIO NONE";
    }
    const std::vector<glm::vec2> samples = audio->copySamples();
    double sum = 0.0;
    for (const glm::vec2 frame : samples) {
        sum += 0.5 * (double(frame.x) * frame.x + double(frame.y) * frame.y);
    }
    const double level = samples.empty() ? 0.0 : std::sqrt(sum / double(samples.size()));
    return upper(format("AUDIO %.3f ", level) + audio->sourceText());
}

void appendGlyph(const Polyline& glyph, float centreX, float centreY, float scale,
                 std::vector<PreviewVertex>& vertices) {
    bool penDown = false;
    glm::vec2 previous{};
    for (const glm::vec2 point : glyph) {
        if (point.x == kPenUp) {
            penDown = false;
            continue;
        }
        const glm::vec2 here{centreX + point.x * scale, centreY - point.y * scale};
        if (penDown) {
            for (const glm::vec2 end : {previous, here}) {
                PreviewVertex v = kInk;
                v.x = end.x;
                v.y = end.y;
                vertices.push_back(v);
            }
        }
        previous = here;
        penDown = true;
    }
}

} // namespace

std::vector<std::string> readoutLines(const ReadoutSources& sources, double showTime,
                                      double framesPerSecond) {
    std::vector<std::string> lines;
    lines.push_back(format("SHOW %.2f S", showTime));
    lines.push_back(clockLine(sources.clock));
    if (sources.timeline != nullptr) {
        const std::size_t index = sources.timeline->selectedIndex(showTime);
        lines.push_back("ENTRY " + std::to_string(index) + " " +
                        upper(effectKind(*sources.timeline->entry(index).effect)));
    }
    lines.push_back(format("%.0f FRAMES/S", framesPerSecond));
    lines.push_back(audioLine(sources.audio));
    return lines;
}

void appendReadoutSegments(const std::vector<std::string>& lines,
                           std::vector<PreviewVertex>& vertices) {
    const float scale = kReadoutCharHeight / kGlyphHeight;
    const float cell = kCellWidth * scale;
    for (std::size_t row = 0; row < lines.size(); ++row) {
        const float centreY =
            kReadoutTop + static_cast<float>(row) * kReadoutLineHeight + 0.5f * kReadoutCharHeight;
        const std::string& line = lines[row];
        for (std::size_t column = 0; column < line.size(); ++column) {
            const int index = static_cast<signed char>(line[column]) - kFirstGlyphCode;
            if (index < 0 || static_cast<std::size_t>(index) >= vectorFont.size()) {
                continue; // blanks and characters the font lacks keep their cell
            }
            const float centreX = kReadoutLeft + (static_cast<float>(column) + 0.5f) * cell;
            appendGlyph(vectorFont[static_cast<std::size_t>(index)], centreX, centreY, scale,
                        vertices);
        }
    }
}

} // namespace lumarok
