#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace lumarok {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, OneDashAndTwoDashFormsMeanTheSame) {
    for (const Args& args : {Args{"-laser", "-osc", "-i", "100"}, Args{"-osc", "-laser", "-i100"},
                             Args{"--laser", "--osc", "--intensity=100"},
                             Args{"--osc", "--intensity", "100", "--laser"}}) {
        const Options o = parseOptions(args);
        EXPECT_TRUE(o.is<LaserMode>()) << args.front();
        EXPECT_TRUE(o.osc) << args.front();
        EXPECT_FLOAT_EQ(o.intensity, 1.0f) << args.front();
    }
    const Options none = parseOptions({});
    EXPECT_TRUE(none.is<PreviewMode>());
    EXPECT_FALSE(none.osc);
    EXPECT_FLOAT_EQ(none.intensity, kDefaultIntensity);
    EXPECT_EQ(none.oscPort, kDefaultOscPort);
    EXPECT_TRUE(parseOptions({"-h"}).is<HelpMode>());
    EXPECT_TRUE(parseOptions({"--help", "-laser"}).is<HelpMode>());
    EXPECT_TRUE(parseOptions({"-V"}).is<VersionMode>());
}

TEST(CommandLine, IntensityIsPercentOverHundredReadByStrtofRules) {
    const struct {
        Args args;
        float intensity;
    } cases[] = {
        {{"-i", "50"}, 0.5f},
        {{"-i", "150"}, 1.5f}, // no clamping here
        {{"-i", "-50"}, -0.5f},
        {{"-i", "50%"}, 0.5f},
        {{"-i", "  \t25"}, 0.25f},
        {{"-i", "12.5abc"}, 0.125f},
        {{"-i", "1e2"}, 1.0f},
        {{"-i", "0x20"}, 0.32f},
        {{"-i", "20", "-i", "80"}, 0.2f}, // the first -i counts
        {{"-i", "20", "-i", "x"}, 0.2f},  // ... and only it is read
        {{"-i", "33"}, 33.0f / 100.0f},   // divided in float
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseOptions(c.args).intensity, c.intensity) << c.args.at(1);
    }
    for (const char* text : {"-osc", "abc", "%50", " ", "-", "."}) {
        try {
            (void)parseOptions({"-laser", "-i", text});
            ADD_FAILURE() << "no error for '" << text << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid stof argument") << text;
        }
    }
    for (const char* text : {"1e39", "-1e39", "1e-50"}) {
        try {
            (void)parseOptions({"-i", text});
            ADD_FAILURE() << "no error for '" << text << "'";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stof argument out of range") << text;
        }
    }
}

TEST(CommandLine, ValuedOptionsTakeBothSpellings) {
    const Options o =
        parseOptions({"--render", "-2.5", "--out=x.png", "--audio-source", "sink.monitor",
                      "--show=/s", "--display", ":3", "-q", "--projector", "a",
                      "--projector=10.0.0.9", "--interface", "veth0"});
    ASSERT_TRUE(o.is<RenderMode>());
    EXPECT_DOUBLE_EQ(std::get<RenderMode>(o.mode).clockSeconds, -2.5);
    EXPECT_EQ(std::get<RenderMode>(o.mode).out, "x.png");
    EXPECT_EQ(o.audioSource, "sink.monitor");
    EXPECT_EQ(o.showFolder, "/s");
    EXPECT_EQ(o.display, ":3");
    EXPECT_EQ(o.verbosity, -1);
    EXPECT_EQ(projectorNames(o), (std::vector<std::string>{"a", "10.0.0.9"}));
    EXPECT_EQ(o.interfaceName, "veth0");
    const Options e =
        parseOptions({"--export-ilda", "s.ild", "--fps", "30", "--from", "1", "--to=2"});
    ASSERT_TRUE(e.is<ExportIldaMode>());
    EXPECT_EQ(std::get<ExportIldaMode>(e.mode).file, "s.ild");
    EXPECT_DOUBLE_EQ(*e.fps, 30.0);
    EXPECT_DOUBLE_EQ(*e.fromSeconds, 1.0);
    EXPECT_DOUBLE_EQ(*e.toSeconds, 2.0);
    for (const Args& args : {Args{"--ltc=line_in"}, Args{"--ltc", "line_in", "-q"}}) {
        const Options ltc = parseOptions(args);
        EXPECT_TRUE(ltc.ltc);
        EXPECT_EQ(ltc.ltcSource, "line_in");
    }
    EXPECT_EQ(parseOptions({"--ltc", "-q"}).ltcSource, "");
    EXPECT_TRUE(parseOptions({"--list-projectors", "-v"}).is<ListProjectorsMode>());

    const Options osc = parseOptions({"-osc", "--osc-port=9000", "--osc-address", "127.0.0.1",
                                      "--osc-from", "10.1.2.3/8", "--osc-from=192.168.0.7"});
    EXPECT_EQ(osc.oscPort, 9000);
    EXPECT_EQ(osc.oscAddress, "127.0.0.1");
    ASSERT_EQ(osc.oscFrom.size(), 2u);
    EXPECT_EQ(osc.oscFrom[0].text(), "10.0.0.0/8");
    EXPECT_TRUE(osc.oscFrom[0].contains(Ipv4Address(0x0AFFFFFFu)));
    EXPECT_FALSE(osc.oscFrom[0].contains(Ipv4Address(0x0B000000u)));
    EXPECT_TRUE(osc.oscFrom[1].contains(Ipv4Address(0xC0A80007u)));
    EXPECT_FALSE(osc.oscFrom[1].contains(Ipv4Address(0xC0A80008u)));

    const Options live = parseOptions({"-laser", "--ltc", "--clock-timeout=2.5", "--control-port",
                                       "9100", "--control-address=127.0.0.1", "--control-from",
                                       "10.0.0.0/8", "--at-end", "loop"});
    EXPECT_DOUBLE_EQ(live.clockTimeout, 2.5);
    EXPECT_EQ(live.controlPort, std::optional<std::uint16_t>(9100));
    EXPECT_EQ(live.controlAddress, "127.0.0.1");
    ASSERT_EQ(live.controlFrom.size(), 1u);
    EXPECT_EQ(live.controlFrom[0].text(), "10.0.0.0/8");
    EXPECT_EQ(live.atEnd, std::optional<AtEnd>(AtEnd::loop));
}

TEST(CommandLine, OnBeatTakesALatencyFromMinus200To1000Milliseconds) {
    EXPECT_FALSE(parseOptions({"-laser"}).onBeat);
    EXPECT_FALSE(parseOptions({"-laser"}).latencyMs);
    const struct {
        const char* text;
        std::optional<double> ms; // none: refused
    } cases[] = {
        {"0", 0.0},     {"40", 40.0},   {"-200", -200.0}, {"12.5", 12.5}, {"1000", 1000.0},
        {"-200.5", {}}, {"1000.1", {}}, {"40ms", {}},     {"", {}},       {"nan", {}},
    };
    for (const auto& c : cases) {
        const Args args{"-laser", "-osc", "--on-beat", "--latency", c.text};
        if (c.ms) {
            EXPECT_EQ(parseOptions(args).latencyMs, c.ms) << c.text;
            EXPECT_TRUE(parseOptions(args).onBeat);
        } else {
            EXPECT_THROW((void)parseOptions(args), UsageError) << c.text;
        }
    }
    try {
        (void)parseOptions({"-laser", "--latency", "40"});
        ADD_FAILURE() << "--latency without --on-beat was taken";
    } catch (const UsageError& e) {
        EXPECT_STREQ(e.what(), "--latency goes with --on-beat");
    }
    EXPECT_TRUE(parseOptions({"--on-beat"}).onBeat); // the preview too
}

TEST(CommandLine, SeveralProjectorsTakeEachAPlacementAndStatusTargets) {
    const Options o = parseOptions({"-laser", "--projector", "a:flip-x", "--projector=10.0.0.9",
                                    "--status-to", "127.0.0.1:9000", "--status-to=10.0.0.2:9001"});
    ASSERT_EQ(projectorNames(o), (Args{"a", "10.0.0.9"}));
    EXPECT_TRUE(o.projectors[0].placement.flipX);
    EXPECT_TRUE(o.projectors[1].placement.identity());
    ASSERT_EQ(o.statusTo.size(), 2u);
    EXPECT_EQ(o.statusTo[1].address.text(), "10.0.0.2");
    EXPECT_EQ(o.statusTo[1].port, 9001);
    const Options dac =
        parseOptions({"-laser", "--projector", "etherdream:10.0.0.9:flip-y", "--rate", "45000"});
    ASSERT_EQ(projectorNames(dac), (Args{"etherdream:10.0.0.9"}));
    EXPECT_TRUE(dac.projectors[0].placement.flipY);
    EXPECT_EQ(dac.pointRate, 45000u);
    const Options unit = parseOptions({"-laser", "--projector", "idn:10.0.0.7/main:flip-x"});
    ASSERT_EQ(projectorNames(unit), (Args{"idn:10.0.0.7/main"}));
    EXPECT_TRUE(unit.projectors[0].placement.flipX);
    EXPECT_EQ(parseOptions({"-laser"}).pointRate, 30000u);
    const Options all = parseOptions({"-laser", "--projector", "all:scale=0.5"});
    ASSERT_TRUE(all.allProjectors);
    EXPECT_TRUE(all.projectors.empty());
    EXPECT_FLOAT_EQ(all.allProjectors->scale, 0.5f);
}

TEST(CommandLine, WordsAfterTheOptionsAreMoreIldaFiles) {
    const Options options =
        parseOptions({"--ilda", "a.ild", "-laser", "b.ild", "--ilda=c.ild", "--loop", "d.ild"});
    EXPECT_EQ(options.ildaFiles, (std::vector<std::string>{"a.ild", "c.ild", "b.ild", "d.ild"}));
    EXPECT_TRUE(options.loop && options.is<LaserMode>());
    EXPECT_EQ(parseOptions({"--ilda", "a", "--ilda-fps=12.5"}).ildaFps, 12.5);
    EXPECT_EQ(std::get<ListFramesMode>(parseOptions({"--list-frames", "x.ild"}).mode).file,
              "x.ild");
}

TEST(CommandLine, WhatCannotBeActedOnIsAUsageError) {
    const Args bad[] = {
        {"--bogus"},
        {"-laser", "--projector", "etherdream:10.0.0"},
        {"-laser", "--projector", "idn:10.0.0.9/"},
        {"-laser", "--projector", "idn:laser"},
        {"-laser", "--rate", "0"},
        {"-laser", "--rate", "30000.5"},
        {"--laser=1"},
        {"-Laser"},
        {"--render=5"},
        {"-laser", "stray"},
        {"-i"},
        {"--show"},
        {"--show="},
        {"--render", "10s", "--out", "a"},
        {"--render", "nan", "--out", "a"},
        {"--render", "1e999", "--out", "a"},
        {"--render", "3", "--out"},
        {"--out", "a.png"},
        {"--audio-source"},
        {"-osc", "--osc-port", "x"},
        {"-osc", "--osc-port", "65536"},
        {"-osc", "--osc-port", "-1"},
        {"-osc", "--osc-address", "localhost"},
        {"-osc", "--osc-address", "10.0.0.0/8"},
        {"-osc", "--osc-from", "1.2.3"},
        {"-osc", "--osc-from", "1.2.3.4/"},
        {"-osc", "--osc-from", "1.2.3.4/33"},
        {"--render", "1", "--out", "a.png", "-laser"},
        {"--render", "1", "--out", "a.png", "-osc"},
        {"--osc-port", "9000"},
        {"--osc-from", "1.2.3.4"},
        {"--laser", "--list-projectors"},
        {"--interface", "a-name-far-too-long-for-linux"},
        {"--fps", "0"},
        {"--export-ilda", "a.ild", "--from", "5", "--to", "4"},
        {"--fps", "30"},
        {"--export-ilda", "a.ild", "--laser"},
        {"--osc", "--ltc"},
        {"-laser", "--projector", "a:flip-z"},
        {"-laser", "--projector", "a:rotate=1e9"},
        {"-laser", "--projector", "a:scale=0"},
        {"-laser", "--projector", "a:"},
        {"-laser", "--projector", ":flip-x"},
        {"-laser", "--projector", "a", "--projector", "a:flip-x"},
        {"-laser", "--projector", "all", "--projector", "b"},
        {"--status-to", "127.0.0.1:9000"},
        {"-laser", "--status-to", "127.0.0.1"},
        {"-laser", "--status-to", "desk:9000"},
        {"-laser", "--status-to", "255.255.255.255:9000"},
        {"-laser", "--status-to", "127.0.0.1:0"},
        {"--ilda-fps", "30"},
        {"--loop"},
        {"--ilda", "a.ild", "--ilda-fps", "0"},
        {"--ilda", "a.ild", "--show", "data"},
        {"--list-frames", "a.ild", "--ilda", "b.ild"},
        {"--list-frames", "a.ild", "-laser"},
        {"--render", "1", "--out", "a.json", "--venue", "v.toml"},
        {"--export-ilda", "a.ild", "--venue", "v.toml", "--projector", "all"},
        {"--list-projectors", "--venue", "v.toml"},
        {"-osc", "--clock-timeout", "-1"},
        {"--clock-timeout", "2"},
        {"-laser", "--control-from", "10.0.0.1"},
        {"--control-port", "9100"},
        {"-laser", "--control-port", "70000"},
        {"-laser", "--control-port", "9100", "--control-address", "10.0.0.0/8"},
        {"--at-end", "stop"},
        {"--ilda", "a.ild", "--loop", "--at-end", "dark"},
        {"--export-ilda", "a.ild", "--at-end", "dark"},
        {"--render", "1", "--out", "a.json", "--on-beat"},
        {"--export-ilda", "a.ild", "--on-beat"},
    };
    for (const Args& args : bad) {
        EXPECT_THROW((void)parseOptions(args), UsageError) << args.front() << " " << args.size();
    }
}

} // namespace
} // namespace lumarok
