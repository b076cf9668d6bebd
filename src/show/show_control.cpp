#include "show/show_control.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace lumarok {

namespace {

constexpr std::string_view kPrefix = "/lumarok/";
constexpr std::string_view kProjectorPrefix = "/lumarok/projector/";
constexpr std::string_view kBlackoutSuffix = "/blackout";

std::string percentText(float percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", static_cast<double>(percent));
    return text;
}

} // namespace

std::optional<ControlCommand> readControlMessage(const OscMessageView& message) {
    const std::string_view address(message.address);
    if (!address.starts_with(kPrefix)) {
        return std::nullopt;
    }
    ControlCommand command;
    if (address == "/lumarok/status") {
        command.kind = ControlCommand::Kind::status;
        return command;
    }
    if (address == "/lumarok/blackout") {
        command.kind = ControlCommand::Kind::blackout;
        command.on = numberArgument(message) != 0.0f;
        return command;
    }
    if (address == "/lumarok/intensity") {
        command.kind = ControlCommand::Kind::intensity;
        command.percent = numberArgument(message);
        return command;
    }
    if (address.starts_with(kProjectorPrefix) && address.ends_with(kBlackoutSuffix) &&
        address.size() > kProjectorPrefix.size() + kBlackoutSuffix.size()) {
        command.kind = ControlCommand::Kind::projectorBlackout;
        command.projector = std::string(
            address.substr(kProjectorPrefix.size(),
                           address.size() - kProjectorPrefix.size() - kBlackoutSuffix.size()));
        command.on = numberArgument(message) != 0.0f;
        return command;
    }
    return std::nullopt;
}

std::string ShowControl::apply(const ControlCommand& command) {
    switch (command.kind) {
    case ControlCommand::Kind::status:
        return {};
    case ControlCommand::Kind::blackout:
        if (command.on == allDark) {
            return {};
        }
        allDark = command.on;
        return allDark ? "control: blackout on every projector"
                       : "control: blackout off, the light is back";
    case ControlCommand::Kind::intensity: {
        // Above 100 % would lift the light over what the operator started with.
        const float wanted = command.percent;
        if (!std::isfinite(wanted)) {
            return {};
        }
        const float level = std::clamp(wanted, 0.0f, 100.0f);
        if (level == levelPercent) {
            return {};
        }
        levelPercent = level;
        std::string line = "control: master level " + percentText(level) + " of -i (intensity " +
                           percentText(startPercent * level / 100.0f) + ")";
        if (wanted > 100.0f) {
            line += "; more than 100% is not taken";
        }
        return line;
    }
    case ControlCommand::Kind::projectorBlackout: {
        const bool dark = darkProjectors.contains(command.projector);
        if (command.on == dark) {
            return {};
        }
        if (command.on) {
            darkProjectors.insert(command.projector);
        } else {
            darkProjectors.erase(command.projector);
        }
        return "control: projector " + command.projector + " blackout " +
               (command.on ? "on" : "off");
    }
    }
    return {};
}

float ShowControl::scaleFor(const std::string& name, const std::string& otherName) const {
    if (allDark || darkProjectors.contains(name) || darkProjectors.contains(otherName)) {
        return 0.0f;
    }
    return levelPercent / 100.0f;
}

std::string ShowControl::summary() const {
    if (allDark) {
        return "blackout";
    }
    std::string text;
    if (levelPercent < 100.0f) {
        text = "level " + percentText(levelPercent);
    }
    if (!darkProjectors.empty()) {
        text += text.empty() ? "" : ", ";
        text += std::to_string(darkProjectors.size()) + " dark";
    }
    return text;
}

} // namespace lumarok
