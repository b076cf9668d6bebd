#include "laser/placement.hpp"

#include "core/laser_sample.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace lumarok {

namespace {

constexpr float kMax = 4095.0f;
constexpr float kCentre = 2047.0f;
// Beyond these the picture is nowhere near the projector's range: a typing error.
constexpr float kLargestScale = 16.0f;
constexpr float kLargestOffset = 8190.0f;
constexpr double kPi = 3.14159265358979323846;

const char* const kForms = " (flip-x, flip-y, rotate=DEG, scale=F, offset=DX:DY)";

float readNumber(const std::string& text, const std::string& word) {
    const char* const begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(begin, &end);
    if (text.empty() || end != begin + text.size() || errno == ERANGE || !std::isfinite(value)) {
        throw std::invalid_argument("placement '" + word + "' needs a number, not '" + text + "'");
    }
    return value;
}

void readWord(const std::string& word, Placement& placement, unsigned& seen) {
    const std::size_t equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    const unsigned bit = key == "flip-x"   ? 1u
                         : key == "flip-y" ? 2u
                         : key == "rotate" ? 4u
                         : key == "scale"  ? 8u
                         : key == "offset" ? 16u
                                           : 0u;
    if (bit == 0) {
        throw std::invalid_argument("unknown placement '" + word + "'" + kForms);
    }
    if ((seen & bit) != 0) {
        throw std::invalid_argument("placement '" + key + "' given twice");
    }
    seen |= bit;
    if (bit <= 2u) {
        if (equals != std::string::npos) {
            throw std::invalid_argument("placement '" + key + "' takes no value");
        }
        (bit == 1u ? placement.flipX : placement.flipY) = true;
        return;
    }
    if (equals == std::string::npos) {
        throw std::invalid_argument("placement '" + key + "' needs a value" + kForms);
    }
    if (bit == 4u) {
        setTurn(placement, readNumber(value, word));
    } else if (bit == 8u) {
        placement.scale = readNumber(value, word);
    } else {
        const std::size_t colon = value.find(':');
        if (colon == std::string::npos) {
            throw std::invalid_argument("offset takes DX:DY in drawing units, not '" + value + "'");
        }
        placement.offsetX = readNumber(value.substr(0, colon), word);
        placement.offsetY = readNumber(value.substr(colon + 1), word);
    }
    checkPlacement(placement);
}

} // namespace

void setTurn(Placement& placement, double degrees) {
    if (!std::isfinite(degrees) || std::fabs(degrees) > 3600.0) {
        throw std::invalid_argument("rotate takes degrees from -3600 to 3600");
    }
    const double turns = degrees / 90.0;
    placement.quarterTurns = 0;
    placement.turnDegrees = 0.0f;
    if (turns == std::floor(turns)) {
        placement.quarterTurns = ((static_cast<int>(turns) % 4) + 4) % 4;
        return;
    }
    const double within = std::fmod(std::fmod(degrees, 360.0) + 360.0, 360.0);
    placement.turnDegrees = static_cast<float>(within);
}

void checkPlacement(const Placement& placement) {
    if (!(placement.scale > 0.0f && placement.scale <= kLargestScale)) {
        throw std::invalid_argument("scale takes a number above 0 and up to 16");
    }
    if (!(std::fabs(placement.offsetX) <= kLargestOffset &&
          std::fabs(placement.offsetY) <= kLargestOffset)) {
        throw std::invalid_argument("offset moves the picture out of sight (at most 8190)");
    }
}

Placement parsePlacement(const std::string& text) {
    Placement placement;
    unsigned seen = 0;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        const std::string word = text.substr(from, comma - from);
        if (word.empty()) {
            throw std::invalid_argument("an empty placement word in '" + text + "'");
        }
        readWord(word, placement, seen);
        if (comma == std::string::npos) {
            return placement;
        }
        from = comma + 1;
    }
}

void placeSamples(const Placement& placement, std::span<const LaserSample> samples,
                  std::vector<LaserSample>& placed) {
    placed.assign(samples.begin(), samples.end());
    if (placement.identity()) {
        return;
    }
    for (LaserSample& sample : placed) {
        // Samples hold the drawing mirrored on both axes (see toLaserSample).
        float x = kMax - static_cast<float>(sample.x);
        float y = kMax - static_cast<float>(sample.y);
        if (placement.flipX) {
            x = kMax - x;
        }
        if (placement.flipY) {
            y = kMax - y;
        }
        for (int turn = 0; turn < placement.quarterTurns; ++turn) {
            // A quarter turn clockwise with y downward: right of the centre goes below it.
            const float dx = x - kCentre;
            const float dy = y - kCentre;
            x = kCentre - dy;
            y = kCentre + dx;
        }
        if (placement.turnDegrees != 0.0f) {
            // Any other angle, in double so that the result is exact to its rounding.
            const double angle = static_cast<double>(placement.turnDegrees) * kPi / 180.0;
            const double dx = x - kCentre;
            const double dy = y - kCentre;
            x = static_cast<float>(kCentre + dx * std::cos(angle) - dy * std::sin(angle));
            y = static_cast<float>(kCentre + dx * std::sin(angle) + dy * std::cos(angle));
        }
        x = kCentre + (x - kCentre) * placement.scale + placement.offsetX;
        y = kCentre + (y - kCentre) * placement.scale + placement.offsetY;
        const bool outside = x < 0.0f || x > kMax || y < 0.0f || y > kMax;
        sample.x = static_cast<std::uint16_t>(std::lround(kMax - std::clamp(x, 0.0f, kMax)));
        sample.y = static_cast<std::uint16_t>(std::lround(kMax - std::clamp(y, 0.0f, kMax)));
        if (outside) {
            sample.r = sample.g = sample.b = 0;
        }
    }
}

} // namespace lumarok
