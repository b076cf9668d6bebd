#include "core/settings_toml.hpp"

#include "core/usage_error.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace lumarok {

namespace {

std::string readSettingsText(const std::string& option, const std::string& path) {
    // A settings file is a few kilobytes; anything near this is no settings file.
    constexpr std::uintmax_t kLargestFile = 16u << 20;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw UsageError(option + ": '" + path + "' is a folder, not a file");
    }
    // A FIFO or a device would block or never end.
    if (std::filesystem::exists(path, error) && !std::filesystem::is_regular_file(path, error)) {
        throw UsageError(option + ": '" + path + "' is not a regular file");
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kLargestFile) {
        throw UsageError(option + ": '" + path + "' is larger than 16 MiB");
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) {
        text << in.rdbuf();
    }
    if (!in || in.bad()) {
        throw UsageError(option + ": cannot read '" + path + "': " + std::strerror(errno));
    }
    return text.str();
}

} // namespace

toml::table parseSettingsFile(const std::string& option, const std::string& path) {
    const std::string text = readSettingsText(option, path);
    try {
        return toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        throw UsageError(path + ":" + std::to_string(e.source().begin.line) + ": " +
                         std::string(e.description()));
    }
}

} // namespace lumarok
