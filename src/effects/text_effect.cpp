#include "effects/text_effect.hpp"

#include "effects/geometry.hpp"
#include "effects/vector_font.hpp"

#include <cstddef>
#include <utility>

namespace lumarok {

namespace {

// The glyph of one character, or nullptr when the font has none. The byte is read
// as signed, so codes above 127 fall below the table like any other missing glyph.
const Polyline* glyphFor(char character) {
    const int index = static_cast<signed char>(character) - kFirstGlyphCode;
    if (index < 0 || static_cast<std::size_t>(index) >= vectorFont.size()) {
        return nullptr;
    }
    return &vectorFont[static_cast<std::size_t>(index)];
}

} // namespace

Frame layoutText(std::string_view text, float scale) {
    Frame result;
    if (text.empty()) {
        return result;
    }
    const float cell = 4096.0f / static_cast<float>(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
        const Polyline* glyph = glyphFor(text[k]);
        if (glyph == nullptr || glyph->empty()) {
            continue;
        }
        const float left = static_cast<float>(k) * cell;
        Polyline stroke;
        for (const glm::vec2 point : *glyph) {
            if (point.x == kPenUp) {
                result.push_back(stroke);
                stroke.clear();
                continue;
            }
            // Glyph y grows upward, drawing-space y downward.
            const float x = ((left + point.x * cell + cell * 0.5f) - kCentre) * scale + kCentre;
            const float y = (-point.y * cell) * scale + kCentre;
            stroke.emplace_back(x, y);
        }
        result.push_back(std::move(stroke));
    }
    return result;
}

TextEffect::TextEffect(glm::vec3 givenColor, float givenScale, std::string givenText)
    : color(givenColor), scale(givenScale), text(std::move(givenText)),
      drawn(colorizeFrame(layoutText(text, scale), color)) {}

void TextEffect::apply(const Frame& /*frame*/, float /*time*/, ColorFrame& out,
                       EffectStorage& storage) const {
    // Copied into the caller's polylines, so their storage is reused.
    clearFrame(out, storage.pools());
    for (const ColorPolyline& stroke : drawn) {
        ColorPolyline& copy = addPolyline(out, storage.pools());
        reserveRoom(copy, stroke.size());
        copy.assign(stroke.begin(), stroke.end());
    }
}

} // namespace lumarok
