#include "effects/audio_shapes.hpp"

#include "audio/audio_capture.hpp"

#include <cmath>
#include <cstddef>

namespace lumarok {
namespace {

constexpr float kTwoPi = 6.2831855f;
const glm::vec2 kSilence{0.0f, 0.0f};

// Index for a float position in 0..n-1: truncated toward zero, then clamped.
// Comparing before converting keeps NaN and huge values out of the conversion.
std::size_t clampedIndex(float position, std::size_t count) {
    const std::size_t last = count == 0 ? 0 : count - 1;
    if (!(position >= 1.0f)) {
        return 0;
    }
    if (position >= static_cast<float>(last)) {
        return last;
    }
    return static_cast<std::size_t>(position);
}

// A snapshot handed in directly may be empty; it then reads as one silent frame.
glm::vec2 frameAt(const AudioSnapshot& snapshot, std::size_t index) {
    return snapshot.empty() ? kSilence : snapshot[index];
}

float lastIndex(const AudioSnapshot& snapshot) {
    return snapshot.empty() ? 0.0f : static_cast<float>(snapshot.size() - 1);
}

} // namespace

AudioSnapshot takeAudioSnapshot(const AudioCapture* audio) {
    AudioSnapshot snapshot;
    takeAudioSnapshot(audio, snapshot);
    return snapshot;
}

void takeAudioSnapshot(const AudioCapture* audio, AudioSnapshot& snapshot) {
    snapshot.clear();
    if (audio != nullptr) {
        audio->copySamples(snapshot);
    }
    if (snapshot.empty()) {
        snapshot.push_back(kSilence);
    }
}

Polyline waveformPolyline(const AudioSnapshot& snapshot, float baseHeight) {
    Polyline wave;
    waveformPolyline(snapshot, baseHeight, wave);
    return wave;
}

void waveformPolyline(const AudioSnapshot& snapshot, float baseHeight, Polyline& wave) {
    constexpr int kSteps = 32;
    wave.clear();
    wave.reserve(kSteps + 1);
    const float last = lastIndex(snapshot);
    for (int i = 0; i <= kSteps; ++i) {
        const float u = static_cast<float>(i) * 0.03125f;
        // The sample index runs over i / 33 while the position uses i / 32, so the
        // last point reads a sample a little before the end.
        const float position = std::floor(last * (static_cast<float>(i) / 33.0f));
        const glm::vec2 frame = frameAt(snapshot, clampedIndex(position, snapshot.size()));
        wave.emplace_back(u * 4095.0f, (frame.x + frame.y) * 400.0f + baseHeight);
    }
}

Polyline circlePolyline(const AudioSnapshot& snapshot, float radius) {
    Polyline circle;
    circlePolyline(snapshot, radius, circle);
    return circle;
}

void circlePolyline(const AudioSnapshot& snapshot, float radius, Polyline& circle) {
    constexpr int kSteps = 64;
    circle.clear();
    circle.reserve(kSteps + 1);
    const float last = lastIndex(snapshot);
    for (int i = 0; i <= kSteps; ++i) {
        const float angle = static_cast<float>(i) * kTwoPi * 0.015625f;
        const float c = std::cos(angle);
        const float s = std::sin(angle);
        // Following the cosine makes angles a and -a read the same frame: the shape
        // is mirrored about the horizontal through the centre.
        const float position = std::floor((c * 0.5f + 0.5f) * last);
        const glm::vec2 frame = frameAt(snapshot, clampedIndex(position, snapshot.size()));
        const float h = frame.x + frame.y;
        const float r = (1.0f - h) * radius + (radius * 1.3f) * h;
        circle.emplace_back(r * c + kCentre, r * s + kCentre);
    }
}

Frame displaceFrame(const Frame& frame, const std::function<glm::vec2(glm::vec2)>& offset) {
    Frame moved;
    moved.reserve(frame.size());
    for (const Polyline& polyline : frame) {
        Polyline& out = moved.emplace_back();
        out.reserve(polyline.size());
        for (const glm::vec2 point : polyline) {
            out.push_back(point + offset(point));
        }
    }
    return moved;
}

glm::vec2 disturbanceOffset(const AudioSnapshot& snapshot, float strength, glm::vec2 point) {
    const std::size_t count = snapshot.empty() ? 1 : snapshot.size();
    const float position = (static_cast<float>(count) * point.x) * 0.000244140625f;
    const glm::vec2 frame = frameAt(snapshot, clampedIndex(position, count));
    return {frame.x * frame.x * strength, frame.y * frame.y * strength};
}

} // namespace lumarok
