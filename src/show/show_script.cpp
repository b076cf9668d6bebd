#include "show/show_script.hpp"

#include "effects/circle_effect.hpp"
#include "effects/color_effect.hpp"
#include "effects/disturb_effect.hpp"
#include "effects/inner_circle_effect.hpp"
#include "effects/line_effect.hpp"
#include "effects/mask_effect.hpp"
#include "effects/plasma_effect.hpp"
#include "effects/text_effect.hpp"
#include "effects/tunnel_effect.hpp"

#include <glm/vec3.hpp>

#include <memory>
#include <utility>

namespace lumarok {

namespace {

constexpr glm::vec3 rgb(float r, float g, float b) {
    return {r, g, b};
}

} // namespace

// The show, in storage order. The order is part of the script: where two entries
// start together, the later one is the one that plays.
ShowTimeline makeShowTimeline(const Polyline& mask, const AudioCapture* audio) {
    std::vector<TimelineEntry> entries;
    entries.reserve(kShowEntryCount);
    const auto add = [&entries](std::int32_t startMs, std::unique_ptr<Effect> effect) {
        entries.push_back({startMs, std::move(effect)});
    };
    // startMs, effect with its values in member order; // entry number
    add(0, std::make_unique<ColorEffect>(rgb(0.0f, 0.0f, 1.0f))); // 0
    add(2040, std::make_unique<MaskEffect>(rgb(0.0f, 1.0f, 0.0f), rgb(0.0f, 0.0f, 1.0f), 0.95f,
                                           mask));                                   // 1
    add(7720, std::make_unique<ColorEffect>(rgb(0.0f, 0.0f, 1.0f)));                 // 2
    add(19570, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 1.0f, "KRELM"));  // 3
    add(20470, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 1.0f, "OF"));     // 4
    add(21370, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 1.0f, "LASER"));  // 5
    add(22270, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 1.0f, "BEAM"));   // 6
    add(23170, std::make_unique<TunnelEffect>(rgb(1.0f, 1.0f, 0.95f), 15.0f, 3.0f)); // 7
    add(33990, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f)));               // 8
    add(43630, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "COOL"));       // 9
    add(43830, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "CODE"));       // 10
    add(44030, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "BY"));         // 11
    add(44230, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "ZUBIN-Q"));    // 12
    add(44430, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "KRAZY"));      // 13
    add(44630, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "MUSIC"));      // 14
    add(44830, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "BY"));         // 15
    add(45030, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "BELKIRON"));   // 16
    add(45230, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "QUIX"));       // 17
    add(45430, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "DORMUTE"));    // 18
    add(45630, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "LOVES"));      // 19
    add(45830, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "FENWORKLIN")); // 20
    add(45430, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "GASKOVIN"));   // 21
    add(45630, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "URBELT"));     // 22
    add(45830, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "LASER"));      // 23
    add(46030, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "CUBE"));       // 24
    add(46230, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "RULEZ"));      // 25
    add(46430, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "VOTE"));       // 26
    add(46630, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "YEAH"));       // 27
    add(46830, std::make_unique<CircleEffect>(1500.0f, rgb(0.0f, 1.0f, 0.0f), rgb(0.0f, 0.0f, 1.0f),
                                              audio)); // 28
    add(58030, std::make_unique<LineEffect>(0.1f, rgb(0.0f, 1.0f, 1.0f), rgb(0.0f, 1.0f, 1.0f),
                                            rgb(1.0f, 0.0f, 0.0f), audio)); // 29
    add(66670, std::make_unique<CircleEffect>(1500.0f, rgb(1.0f, 0.0f, 1.0f), rgb(0.0f, 1.0f, 0.0f),
                                              audio));                                  // 30
    add(73870, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "THANX"));    // 31
    add(74070, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "TOSKARI"));  // 32
    add(74270, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "WEMBRIDO")); // 33
    add(74470, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "VECTOR"));   // 34
    add(74670, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "BEAM"));     // 35
    add(74870, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "DANCE"));    // 36
    add(75070, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "LOUD"));     // 37
    add(75270, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "REAL"));     // 38
    add(75470, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "TIME"));     // 39
    add(75670, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "GOGO"));     // 40
    add(75870, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "GADGET"));   // 41
    add(76070, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "SUPER"));    // 42
    add(75670, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "HOT"));      // 43
    add(75870, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "LIGHT"));    // 44
    add(76070, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "SPEED"));    // 45
    add(76270, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "CUTE"));     // 46
    add(76470, std::make_unique<TextEffect>(rgb(1.0f, 1.0f, 1.0f), 0.75f, "SHAPE"));    // 47
    add(76670, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 48
    add(77030, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 49
    add(77470, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 50
    add(77910, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 51
    add(78350, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 52
    add(78790, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 53
    add(79230, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 54
    add(79670, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 55
    add(80110, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 56
    add(80550, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 57
    add(80990, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 58
    add(81430, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 59
    add(81870, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 60
    add(82310, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 61
    add(82750, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 62
    add(83190, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 63
    add(83630, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 64
    add(84070, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 65
    add(84470, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 66
    add(84910, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 67
    add(85350, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 68
    add(85830, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 69
    add(86270, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 70
    add(86710, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 71
    add(87150, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 72
    add(87590, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 73
    add(88030, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 74
    add(88470, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 75
    add(88910, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 76
    add(89350, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 77
    add(89750, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 78
    add(90190, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 79
    add(90630, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                   rgb(1.0f, 0.0f, 0.0f))); // 80
    add(91070, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                   rgb(0.0f, 1.0f, 1.0f))); // 81
    add(91510, std::make_unique<CircleEffect>(1500.0f, rgb(0.5f, 1.0f, 0.5f), rgb(1.0f, 1.0f, 0.0f),
                                              audio));                                        // 82
    add(105550, std::make_unique<DisturbEffect>(2000.0f, rgb(0.5f, 1.0f, 0.5f), 100, audio)); // 83
    add(138070, std::make_unique<PlasmaEffect>(1000));                                        // 84
    add(154750, std::make_unique<CircleEffect>(1500.0f, rgb(0.5f, 1.0f, 0.5f),
                                               rgb(1.0f, 1.0f, 0.0f), audio)); // 85
    add(175590, std::make_unique<PlasmaEffect>(1000));                         // 86
    add(203310, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 87
    add(203750, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 88
    add(204190, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 89
    add(204630, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 90
    add(205070, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 91
    add(205510, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 92
    add(205950, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 93
    add(206390, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 94
    add(206830, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 95
    add(207270, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 96
    add(207710, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 97
    add(208150, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 98
    add(208590, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 99
    add(209030, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 100
    add(209470, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 101
    add(209910, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 102
    add(210350, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 103
    add(210790, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 104
    add(211230, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 105
    add(211670, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 106
    add(212110, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 107
    add(212550, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 108
    add(212990, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 109
    add(213430, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 110
    add(213870, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 111
    add(214310, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 112
    add(214750, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 113
    add(215190, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 114
    add(215630, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 115
    add(216070, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 116
    add(216510, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(0.0f, 0.0f, 1.0f),
                                                    rgb(1.0f, 0.0f, 0.0f))); // 117
    add(216870, std::make_unique<InnerCircleEffect>(64.0f, -8.0f, 1000, rgb(1.0f, 1.0f, 0.0f),
                                                    rgb(0.0f, 1.0f, 1.0f))); // 118
    add(217630, std::make_unique<LineEffect>(0.1f, rgb(1.0f, 1.0f, 1.0f), rgb(0.25f, 0.25f, 0.25f),
                                             rgb(0.0f, 0.0f, 1.0f), audio)); // 119
    return ShowTimeline(std::move(entries));
}

} // namespace lumarok
