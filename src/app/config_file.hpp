#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace lumarok {

// One key of a --config file, as the option words the command line takes for it.
struct ConfigSetting {
    std::string key;                // the long option's name, e.g. "intensity"
    std::string where;              // "FILE:LINE", for messages
    std::vector<std::string> words; // e.g. {"--intensity=20"}; none for `laser = false`
    std::size_t line = 0;
};

// Reads a TOML file whose keys are the long option names: a switch takes true or false,
// a number option a number, a text option a string, a repeatable option a list of
// strings (or one string), --ltc true or a source's name. Throws UsageError naming the
// file and line for a file that cannot be read or is not TOML, an unknown key or a
// value of the wrong type; the values themselves are the command line parser's to judge.
[[nodiscard]] std::vector<ConfigSetting> readConfigFile(const std::string& path);

} // namespace lumarok
