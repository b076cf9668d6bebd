#include "app/config_file.hpp"

#include "app/command_line.hpp"
#include "core/settings_toml.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>

namespace lumarok {

namespace {

enum class Kind { Switch, Text, Number, Integer, TextList, SwitchOrText };

// Every long option a file may set; --help, --version and --config stay on the command
// line. A new option that belongs in a file is one row here.
const std::map<std::string_view, Kind> kKeys = {
    {"show", Kind::Text},
    {"osc", Kind::Switch},
    {"laser", Kind::Switch},
    {"intensity", Kind::Number},
    {"audio-source", Kind::Text},
    {"display", Kind::Text},
    {"quiet", Kind::Switch},
    {"verbose", Kind::Switch},
    {"render", Kind::Number},
    {"out", Kind::Text},
    {"osc-port", Kind::Integer},
    {"osc-address", Kind::Text},
    {"osc-from", Kind::TextList},
    {"list-projectors", Kind::Switch},
    {"projector", Kind::TextList},
    {"interface", Kind::Text},
    {"ltc", Kind::SwitchOrText},
    {"export-ilda", Kind::Text},
    {"fps", Kind::Number},
    {"from", Kind::Number},
    {"to", Kind::Number},
    {"status-to", Kind::TextList},
    {"clock-timeout", Kind::Number},
    {"control-port", Kind::Integer},
    {"control-address", Kind::Text},
    {"control-from", Kind::TextList},
    {"at-end", Kind::Text},
    {"on-beat", Kind::Switch},
    {"latency", Kind::Number},
    {"venue", Kind::Text},
    {"ilda", Kind::TextList},
    {"ilda-fps", Kind::Number},
    {"loop", Kind::Switch},
    {"rate", Kind::Integer},
};

const char* expected(Kind kind) {
    switch (kind) {
    case Kind::Switch:
        return "true or false";
    case Kind::Text:
        return "a string";
    case Kind::Number:
        return "a number";
    case Kind::Integer:
        return "a whole number";
    case Kind::TextList:
        return "a list of strings";
    case Kind::SwitchOrText:
        return "true, false or a string";
    }
    return "";
}

// A number as the command line would spell it: integers as they are, other numbers in
// the shortest form that reads back the same.
std::string numberText(const toml::node& node) {
    if (const auto integer = node.value_exact<std::int64_t>()) {
        return std::to_string(*integer);
    }
    const double value = *node.value_exact<double>();
    if (!std::isfinite(value)) {
        return {};
    }
    std::array<char, 64> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return std::string(text.data(), result.ptr);
}

// The words for one key, or nothing when the value has the wrong type.
std::optional<std::vector<std::string>> wordsFor(const std::string& key, Kind kind,
                                                 const toml::node& node) {
    const std::string option = "--" + key;
    switch (kind) {
    case Kind::Switch:
        if (const auto on = node.value_exact<bool>()) {
            return *on ? std::vector<std::string>{option} : std::vector<std::string>{};
        }
        return std::nullopt;
    case Kind::SwitchOrText:
        if (const auto text = node.value_exact<std::string>()) {
            return std::vector<std::string>{option + "=" + *text};
        }
        return wordsFor(key, Kind::Switch, node);
    case Kind::Text:
        if (const auto text = node.value_exact<std::string>()) {
            return std::vector<std::string>{option + "=" + *text};
        }
        return std::nullopt;
    case Kind::Integer:
    case Kind::Number:
        if (node.is_integer() || (kind == Kind::Number && node.is_floating_point())) {
            const std::string text = numberText(node);
            if (!text.empty()) {
                return std::vector<std::string>{option + "=" + text};
            }
        }
        return std::nullopt;
    case Kind::TextList: {
        if (node.is_string()) {
            return wordsFor(key, Kind::Text, node);
        }
        const toml::array* list = node.as_array();
        if (list == nullptr) {
            return std::nullopt;
        }
        std::vector<std::string> words;
        for (const toml::node& item : *list) {
            const auto text = item.value_exact<std::string>();
            if (!text) {
                return std::nullopt;
            }
            words.push_back(option + "=" + *text);
        }
        return words;
    }
    }
    return std::nullopt;
}

} // namespace

std::vector<ConfigSetting> readConfigFile(const std::string& path) {
    const toml::table table = parseSettingsFile("--config", path);
    std::vector<ConfigSetting> settings;
    for (const auto& [name, node] : table) {
        const auto line = name.source().begin.line;
        ConfigSetting setting{std::string(name.str()), path + ":" + std::to_string(line), {}, line};
        const auto known = kKeys.find(setting.key);
        if (known == kKeys.end()) {
            throw UsageError(setting.where + ": unknown key '" + setting.key +
                             "' (the keys are the long options of lumarok --help)");
        }
        auto words = wordsFor(setting.key, known->second, node);
        if (!words) {
            throw UsageError(setting.where + ": " + setting.key + " takes " +
                             expected(known->second));
        }
        setting.words = std::move(*words);
        settings.push_back(std::move(setting));
    }
    // The file's order, so that a later key acts as a later option would.
    std::sort(settings.begin(), settings.end(),
              [](const ConfigSetting& a, const ConfigSetting& b) { return a.line < b.line; });
    return settings;
}

} // namespace lumarok
