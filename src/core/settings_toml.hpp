#pragma once

#include <toml++/toml.h>

#include <string>

namespace lumarok {

// The TOML table of a settings file named by `option` (--config, --venue): a regular file
// of at most 16 MiB. Throws UsageError naming the option and the file, or the file and
// the line of a syntax error. Apart from config_file.hpp so that only the readers of such
// files pull in the TOML library.
[[nodiscard]] toml::table parseSettingsFile(const std::string& option, const std::string& path);

} // namespace lumarok
