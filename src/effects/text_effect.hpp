#pragma once

#include "effects/effect.hpp"

#include <glm/vec3.hpp>

#include <string>
#include <string_view>

namespace lumarok {

// Lays out `text` in the vector font across the full width of the drawing space,
// one stroke per Polyline, scaled by `scale` about the centre. Each character owns
// a cell of 4096 / length units. Characters without a glyph (space, lower case,
// bytes outside '!'..'_') are blanks: they keep their cell and draw nothing.
[[nodiscard]] Frame layoutText(std::string_view text, float scale);

// One word in one colour, in place of the animation. Ignores frame and time.
class TextEffect final : public Effect {
public:
    TextEffect(glm::vec3 color, float scale, std::string text);

    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& storage) const override;
    [[nodiscard]] EffectKind kind() const override { return EffectKind::text; }

private:
    glm::vec3 color;
    float scale;
    std::string text;
    ColorFrame drawn; // the laid-out word: it depends on nothing else
};

} // namespace lumarok
