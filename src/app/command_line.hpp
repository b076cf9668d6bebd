#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarok {

// The command-line arguments after the program name, in order.
using ArgumentList = std::vector<std::string>;

[[nodiscard]] ArgumentList makeArgumentList(int argc, const char* const* argv);

// True when some argument equals the option exactly (case-sensitive, whole argument).
[[nodiscard]] bool hasOption(const ArgumentList& arguments, std::string_view option);

// The argument after the first occurrence of the option; empty when the option is
// absent or is the last argument.
[[nodiscard]] std::string optionValue(const ArgumentList& arguments, std::string_view option);

// Reads text by strtof rules (leading blanks skipped, longest numeric prefix, rest
// ignored). Throws std::invalid_argument("invalid stof argument") when no number is
// there and std::out_of_range("stof argument out of range") when strtof reports ERANGE.
[[nodiscard]] float readFloat(const std::string& text);

// Laser colour intensity: the `-i` percentage / 100, or 0.1 without a value.
inline constexpr float kDefaultIntensity = 0.1f;
[[nodiscard]] float intensityOption(const ArgumentList& arguments);

// Options of our own, beyond -osc, -laser and -i.
struct ExtraOptions {
    bool help = false;
    bool version = false;
    std::string audioSource; // empty: monitor of the default output
    bool render = false;     // headless render instead of a show
    double renderClockSeconds = 0.0;
    std::string renderOut;
    std::string exportIlda; // empty: no ILDA export
    double exportFramesPerSecond = 30.0;
    double exportFromSeconds = 0.0;
    std::optional<double> exportToSeconds; // default: the show's end
    bool ltc = false;                      // follow timecode instead of the steady clock
    std::string ltcSource;                 // empty: the default input
};

// Throws std::invalid_argument with a user-facing message for malformed values.
[[nodiscard]] ExtraOptions readExtraOptions(const ArgumentList& arguments);

// The --help text, ending with a newline.
[[nodiscard]] const char* usageText();

} // namespace lumarok
