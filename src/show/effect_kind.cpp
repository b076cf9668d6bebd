#include "show/effect_kind.hpp"

#include "effects/effect.hpp"

namespace lumarok {

const char* effectKind(const Effect& effect) {
    switch (effect.kind()) {
    case EffectKind::circle:
        return "circle";
    case EffectKind::colour:
        return "colour";
    case EffectKind::disturb:
        return "disturb";
    case EffectKind::innerCircle:
        return "inner circle";
    case EffectKind::line:
        return "line";
    case EffectKind::mask:
        return "mask";
    case EffectKind::plasma:
        return "plasma";
    case EffectKind::text:
        return "text";
    case EffectKind::tunnel:
        return "tunnel";
    }
    return "effect"; // not reached: every kind is named above
}

std::string effectClassName(const Effect& effect) {
    switch (effect.kind()) {
    case EffectKind::circle:
        return "CircleEffect";
    case EffectKind::colour:
        return "ColorEffect";
    case EffectKind::disturb:
        return "DisturbEffect";
    case EffectKind::innerCircle:
        return "InnerCircleEffect";
    case EffectKind::line:
        return "LineEffect";
    case EffectKind::mask:
        return "MaskEffect";
    case EffectKind::plasma:
        return "PlasmaEffect";
    case EffectKind::text:
        return "TextEffect";
    case EffectKind::tunnel:
        return "TunnelEffect";
    }
    return "Effect"; // not reached
}

} // namespace lumarok
