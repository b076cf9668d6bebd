#pragma once

#include "net/osc_packet.hpp"

#include <optional>
#include <set>
#include <string>

namespace lumarok {

// One request of the operator's live control.
struct ControlCommand {
    enum class Kind { blackout, intensity, projectorBlackout, status };
    Kind kind = Kind::status;
    bool on = false;       // blackout, projectorBlackout
    float percent = 100.0; // intensity: the master level in percent of -i
    std::string projector; // projectorBlackout
};

// The command a message stands for: /lumarok/blackout i|f (non-zero: on),
// /lumarok/intensity f (percent), /lumarok/projector/NAME/blackout, /lumarok/status.
// Nullopt for any other address (not control's). Throws the OSC parser's errors for
// a control message without a readable number.
[[nodiscard]] std::optional<ControlCommand> readControlMessage(const OscMessageView& message);

// What live control asks of the light: a blackout of all, of some projectors, and a
// master level that multiplies the start-up intensity. Control can only lower the
// light: the level stays within 0 to 100 % of -i. Thread: one.
class ShowControl {
public:
    // How much one + or - of the preview moves the master level.
    static constexpr float kLevelStep = 10.0f;

    // startPercent: the start-up -i in percent, for the lines.
    explicit ShowControl(float startIntensityPercent = 100.0f)
        : startPercent(startIntensityPercent) {}

    // Acts on a command; returns the line for stderr (without "lumarok: ") for a change,
    // empty when nothing changed (or for a status request).
    std::string apply(const ControlCommand& command);

    // The scale for the colours a projector gets, by any of its names (device name, the
    // word it was chosen by): 0 while blacked out, else the master level.
    [[nodiscard]] float scaleFor(const std::string& name, const std::string& otherName) const;
    [[nodiscard]] bool blackout() const { return allDark; }
    [[nodiscard]] bool someProjectorDark() const { return !darkProjectors.empty(); }
    // Percent of -i, 0 to 100.
    [[nodiscard]] float level() const { return levelPercent; }
    // "blackout" or "level 50%" for the status line; empty when the light is as started.
    [[nodiscard]] std::string summary() const;

private:
    float startPercent;
    bool allDark = false;
    float levelPercent = 100.0f;
    std::set<std::string> darkProjectors;
};

} // namespace lumarok
