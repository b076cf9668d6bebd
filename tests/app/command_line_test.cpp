#include "app/command_line.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace lumarok {
namespace {

TEST(CommandLine, ArgumentListDropsOnlyTheProgramName) {
    const char* argv[] = {"lumarok", "-laser", "", "-i"};
    EXPECT_EQ(makeArgumentList(4, argv), (ArgumentList{"-laser", "", "-i"}));
    EXPECT_TRUE(makeArgumentList(1, argv).empty());
}

TEST(CommandLine, OptionsMatchWholeArgumentsExactly) {
    const ArgumentList args{"-Laser", "--laser", "-lase", "-laserx", "-osc"};
    EXPECT_FALSE(hasOption(args, "-laser"));
    EXPECT_TRUE(hasOption(args, "-osc"));
    EXPECT_TRUE(hasOption({"-osc", "-laser"}, "-laser"));
    EXPECT_TRUE(hasOption({"-laser", "-osc"}, "-laser"));
    EXPECT_FALSE(hasOption({}, "-osc"));
}

TEST(CommandLine, OptionValueIsTheArgumentAfterTheFirstOccurrence) {
    EXPECT_EQ(optionValue({"-laser", "-i", "20", "-i", "80"}, "-i"), "20");
    EXPECT_EQ(optionValue({"-laser", "-i"}, "-i"), "");
    EXPECT_EQ(optionValue({"-laser"}, "-i"), "");
    EXPECT_EQ(optionValue({"-i", "-osc"}, "-i"), "-osc");
    // The first -i is last but a later one is not: still the first that counts.
    EXPECT_EQ(optionValue({"x", "-i", "-i"}, "-i"), "-i");
}

TEST(CommandLine, IntensityIsPercentOverHundredWithDefaultTenth) {
    EXPECT_FLOAT_EQ(intensityOption({"-laser"}), 0.1f);
    EXPECT_FLOAT_EQ(intensityOption({"-laser", "-i"}), 0.1f);
    EXPECT_FLOAT_EQ(intensityOption({"-laser", "-i", "50"}), 0.5f);
    EXPECT_FLOAT_EQ(intensityOption({"-laser", "-i", "20", "-i", "80"}), 0.2f);
    EXPECT_FLOAT_EQ(intensityOption({"-laser", "-i", "150"}), 1.5f); // no clamping here
    EXPECT_FLOAT_EQ(intensityOption({"-laser", "-i", "-50"}), -0.5f);
    // The division happens in float, as the path builder's input does.
    EXPECT_EQ(intensityOption({"-i", "33"}), 33.0f / 100.0f);
}

TEST(CommandLine, IntensityTextIsReadByStrtofRules) {
    EXPECT_FLOAT_EQ(intensityOption({"-i", "50%"}), 0.5f);
    EXPECT_FLOAT_EQ(intensityOption({"-i", "  \t25"}), 0.25f);
    EXPECT_FLOAT_EQ(intensityOption({"-i", "12.5abc"}), 0.125f);
    EXPECT_FLOAT_EQ(intensityOption({"-i", "1e2"}), 1.0f);
    EXPECT_FLOAT_EQ(intensityOption({"-i", "0x20"}), 0.32f);
}

TEST(CommandLine, IntensityWithoutANumberIsInvalid) {
    for (const char* text : {"-osc", "abc", "%50", " ", "-", "."}) {
        try {
            (void)intensityOption({"-laser", "-i", text});
            ADD_FAILURE() << "no error for '" << text << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid stof argument") << text;
        }
    }
}

TEST(CommandLine, IntensityOutsideFloatRangeIsOutOfRange) {
    for (const char* text : {"1e39", "-1e39", "1e-50"}) {
        try {
            (void)intensityOption({"-i", text});
            ADD_FAILURE() << "no error for '" << text << "'";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stof argument out of range") << text;
        }
    }
}

TEST(CommandLine, ShowOptionsAreNotMistakenForExtraOnes) {
    const ExtraOptions none = readExtraOptions({"-laser", "-osc", "-i", "50", "--unknown"});
    EXPECT_FALSE(none.help);
    EXPECT_FALSE(none.version);
    EXPECT_FALSE(none.render);
    EXPECT_TRUE(none.audioSource.empty());
}

TEST(CommandLine, ExtraOptionsReadTheirValues) {
    const ExtraOptions o = readExtraOptions(
        {"--render", "-2.5", "--out", "x.png", "--audio-source", "sink.monitor", "--version"});
    EXPECT_TRUE(o.render);
    EXPECT_DOUBLE_EQ(o.renderClockSeconds, -2.5);
    EXPECT_EQ(o.renderOut, "x.png");
    EXPECT_EQ(o.audioSource, "sink.monitor");
    EXPECT_TRUE(o.version);
    EXPECT_TRUE(readExtraOptions({"--help"}).help);

    const ExtraOptions e = readExtraOptions(
        {"--export-ilda", "s.ild", "--fps", "12.5", "--from", "-1", "--to", "3", "--ltc"});
    EXPECT_EQ(e.exportIlda, "s.ild");
    EXPECT_DOUBLE_EQ(e.exportFramesPerSecond, 12.5);
    EXPECT_DOUBLE_EQ(e.exportFromSeconds, -1.0);
    EXPECT_EQ(e.exportToSeconds, 3.0);
    EXPECT_TRUE(e.ltc);
    EXPECT_TRUE(e.ltcSource.empty());
    const ExtraOptions d = readExtraOptions({"--ltc", "tc.monitor", "-laser"});
    EXPECT_EQ(d.ltcSource, "tc.monitor");
    EXPECT_DOUBLE_EQ(readExtraOptions({"--export-ilda", "x"}).exportFramesPerSecond, 30.0);
    EXPECT_FALSE(readExtraOptions({"--export-ilda", "x"}).exportToSeconds.has_value());
}

TEST(CommandLine, ExtraOptionsRejectMissingOrMalformedValues) {
    const ArgumentList bad[] = {
        {"--render", "--out", "x.png"},
        {"--render", "10"},
        {"--render", "10s", "--out", "a"},
        {"--render", "nan", "--out", "a"},
        {"--render", "1e999", "--out", "a"},
        {"--render", "3", "--out"},
        {"--audio-source"},
        {"--export-ilda"},
        {"--export-ilda", "a.ild", "--fps", "0"},
        {"--export-ilda", "a.ild", "--fps", "-30"},
        {"--export-ilda", "a.ild", "--fps", "30x"},
        {"--export-ilda", "a.ild", "--from", "5", "--to", "5"},
        {"--export-ilda", "a.ild", "--to", "inf"},
        {"--fps", "30"},
        {"--ltc", "-osc"},
    };
    for (const ArgumentList& args : bad) {
        EXPECT_THROW((void)readExtraOptions(args), std::invalid_argument) << args.front();
    }
}

} // namespace
} // namespace lumarok
