#include "app/effect_kind.hpp"

#include "effects/circle_effect.hpp"
#include "effects/color_effect.hpp"
#include "effects/disturb_effect.hpp"
#include "effects/inner_circle_effect.hpp"
#include "effects/line_effect.hpp"
#include "effects/mask_effect.hpp"
#include "effects/plasma_effect.hpp"
#include "effects/text_effect.hpp"
#include "effects/tunnel_effect.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace lumarok {

namespace {

template <typename Kind> bool is(const Effect& effect) {
    return dynamic_cast<const Kind*>(&effect) != nullptr;
}

} // namespace

const char* effectKind(const Effect& effect) {
    // Asked a few times a second at most, so a chain of casts is cheap enough and
    // keeps the effects free of readout concerns.
    if (is<CircleEffect>(effect)) {
        return "circle";
    }
    if (is<ColorEffect>(effect)) {
        return "colour";
    }
    if (is<DisturbEffect>(effect)) {
        return "disturb";
    }
    if (is<InnerCircleEffect>(effect)) {
        return "inner circle";
    }
    if (is<LineEffect>(effect)) {
        return "line";
    }
    if (is<MaskEffect>(effect)) {
        return "mask";
    }
    if (is<PlasmaEffect>(effect)) {
        return "plasma";
    }
    if (is<TextEffect>(effect)) {
        return "text";
    }
    if (is<TunnelEffect>(effect)) {
        return "tunnel";
    }
    return "effect";
}

std::string effectClassName(const Effect& effect) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(typeid(effect).name(), nullptr, nullptr, &status), &std::free);
    std::string text = status == 0 ? name.get() : typeid(effect).name();
    const auto colons = text.rfind("::");
    return colons == std::string::npos ? text : text.substr(colons + 2);
}

} // namespace lumarok
