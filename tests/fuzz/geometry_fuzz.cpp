// Feeds arbitrary shapes (including NaN, infinities and huge values) through the
// effect geometry and the mask and text effects, and checks the promises that hold
// for every input: nothing read out of bounds (ASan), no endless clipping, point
// counts never above what was asked for.
#include "effects/geometry.hpp"
#include "effects/mask_effect.hpp"
#include "effects/text_effect.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t length) : data(bytes), size(length) {}

    std::uint8_t byte() { return at < size ? data[at++] : 0; }

    // Raw floats reach NaN and infinities; grid values stay inside drawing space
    // where crossings are plentiful.
    float coordinate(bool raw) {
        if (raw) {
            std::uint32_t bits = 0;
            for (int i = 0; i < 4; ++i) {
                bits = (bits << 8) | byte();
            }
            float value = 0.0f;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        const auto high = static_cast<unsigned>(byte());
        const auto low = static_cast<unsigned>(byte());
        return static_cast<float>((high << 8) | low) / 16.0f;
    }

    lumarok::Polyline polyline(bool raw) {
        lumarok::Polyline points(byte() % 48);
        for (glm::vec2& p : points) {
            p.x = coordinate(raw);
            p.y = coordinate(raw);
        }
        return points;
    }

    std::string rest() {
        const std::string text(data + at, data + size);
        at = size;
        return text;
    }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumarok;
    Reader in(data, size);
    const std::uint8_t flags = in.byte();
    const bool keepInside = (flags & 1u) != 0;
    const bool raw = (flags & 2u) != 0;
    const auto count = static_cast<std::int32_t>(static_cast<std::int8_t>(in.byte())) * 16;

    const Polyline mask = in.polyline(raw);
    Frame frame(in.byte() % 6);
    for (Polyline& polyline : frame) {
        polyline = in.polyline(raw);
    }

    const Frame resampled = resampleFrame(frame, count);
    check(resampled.size() == frame.size());
    std::size_t points = 0;
    for (const Polyline& polyline : resampled) {
        points += polyline.size();
    }
    check(count > 0 ? points <= static_cast<std::size_t>(count) : points == 0);

    for (const Polyline& polyline : frame) {
        const Frame pieces = clipPolylineToMask(polyline, mask, keepInside);
        // Each mask segment is crossed at most once per polyline segment.
        const std::size_t segments = polyline.empty() ? 0 : polyline.size() - 1;
        check(polyline.empty() ? pieces.empty() : pieces.size() <= segments * mask.size() + 1);
    }

    const MaskEffect effect({0, 1, 0}, {0, 0, 1}, 0.95f, mask);
    const ColorFrame masked = effect.apply(frame, 0.0f);
    check(!masked.empty() && masked[0].size() == mask.size());

    const std::string word = in.rest();
    const Frame text = layoutText(word, 0.75f);
    check(text.size() <= 3 * word.size());
    return 0;
}
