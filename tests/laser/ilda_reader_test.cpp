#include "laser/ilda_reader.hpp"

#include "laser/ilda_palette.hpp"
#include "laser/ilda_writer.hpp"
#include "support/ilda_bytes.hpp"
#include "support/lumarok_process.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace lumarok {
namespace {

using test::IldaTestPoint;

// The writer's documented widening, written out here rather than taken from it.
int widen(int level) {
    return 16 * level + level / 256 - 32768;
}

IldaFile parse(const std::string& bytes, const IldaLimits& limits = {}) {
    return parseIlda(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                     "f.ild", limits);
}

auto tied(const IldaPoint& p) {
    return std::tuple(p.x, p.y, p.r, p.g, p.b);
}

TEST(IldaMapping, InvertsTheWritersMappingForEveryValue) {
    for (int v = 0; v <= 4095; ++v) {
        const auto level = static_cast<std::uint16_t>(v);
        ASSERT_EQ(ildaLevelFromCoordinate(ildaCoordinate(level)), v);
        ASSERT_EQ(ildaLevelFromCoordinate(static_cast<std::int16_t>(widen(v))), v);
        // Colour levels share 16 to a byte: the way back lands within half a byte's
        // width, and a level the reader makes survives the trip exactly.
        const std::uint16_t back = ildaLevelFromColor(ildaColorLevel(level));
        ASSERT_LE(std::abs(back - v), 8) << v;
        ASSERT_EQ(ildaLevelFromColor(ildaColorLevel(back)), back);
    }
    for (int c = 0; c <= 255; ++c) {
        ASSERT_EQ(ildaColorLevel(ildaLevelFromColor(static_cast<std::uint8_t>(c))), c);
    }
    // Any other writer's coordinate goes to the nearest level.
    for (int x = -32768; x <= 32767; ++x) {
        const int level = ildaLevelFromCoordinate(static_cast<std::int16_t>(x));
        for (const int other : {level - 1, level + 1}) {
            if (other >= 0 && other <= 4095) {
                ASSERT_LE(std::abs(widen(level) - x), std::abs(widen(other) - x)) << x;
            }
        }
    }
}

TEST(IldaReader, GivesBackWhatTheWriterWrote) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> level(0, 4095);
    std::uniform_int_distribution<int> byte(0, 255);
    const auto color = [&] { return ildaLevelFromColor(static_cast<std::uint8_t>(byte(random))); };
    std::vector<std::vector<LaserSample>> frames(3);
    for (std::vector<LaserSample>& frame : frames) {
        for (int i = 0; i < 500; ++i) {
            const bool dark = i % 7 == 0;
            frame.push_back({static_cast<std::uint16_t>(level(random)),
                             static_cast<std::uint16_t>(level(random)),
                             dark ? std::uint16_t{0} : color(), dark ? std::uint16_t{0} : color(),
                             dark ? std::uint16_t{0} : color()});
        }
    }
    const test::TempDir dir;
    {
        IldaWriter writer(dir.path() / "w.ild", frames.size());
        for (const std::vector<LaserSample>& frame : frames) {
            writer.writeFrame(frame);
        }
        writer.finish();
    }
    const IldaFile file = readIldaFile(dir.path() / "w.ild");
    EXPECT_TRUE(file.warnings.empty());
    ASSERT_EQ(file.frames.size(), frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        ASSERT_EQ(file.frames[k].pointCount, frames[k].size());
        for (std::size_t i = 0; i < frames[k].size(); ++i) {
            const LaserSample& s = frames[k][i];
            const IldaPoint& p = file.points[file.frames[k].firstPoint + i];
            ASSERT_EQ(std::tuple(p.x, p.y, ildaLevelFromColor(p.r), ildaLevelFromColor(p.g),
                                 ildaLevelFromColor(p.b)),
                      std::tuple(s.x, s.y, s.r, s.g, s.b))
                << k << " " << i;
        }
    }
}

IldaTestPoint at(int x, int y, int red, int green, int blue, bool blanked = false) {
    IldaTestPoint p;
    p.x = widen(4095 - x); // the projector's x runs opposite to ILDA's
    p.y = widen(y);
    p.z = -1234;
    p.red = red;
    p.green = green;
    p.blue = blue;
    p.blanked = blanked;
    return p;
}

IldaTestPoint indexed(int x, int y, int index, bool blanked = false) {
    IldaTestPoint p = at(x, y, 0, 0, 0, blanked);
    p.index = index;
    return p;
}

IldaPoint expected(int x, int y, IldaColor c) {
    return {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y), c.r, c.g, c.b};
}

TEST(IldaReader, ReadsEveryFormatFromAnIndependentWriter) {
    const auto& standard = ildaDefaultPalette();
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::vector<IldaPoint>> frames;
        std::size_t warnings;
    };
    std::vector<Case> cases;
    {
        Case c{"format 5, two frames, a blanked point with a colour", {}, {}, 0};
        test::appendIldaFrame(c.bytes, 5, {at(100, 200, 255, 128, 1), at(4095, 0, 9, 9, 9, true)});
        test::appendIldaFrame(c.bytes, 5, {at(0, 4095, 0, 0, 255)});
        test::appendIldaEnd(c.bytes);
        c.frames = {{expected(100, 200, {255, 128, 1}), expected(4095, 0, {})},
                    {expected(0, 4095, {0, 0, 255})}};
        cases.push_back(c);
    }
    {
        Case c{"format 4 drops Z", {}, {}, 0};
        test::appendIldaFrame(c.bytes, 4, {at(2047, 2048, 10, 20, 30), at(1, 2, 0, 0, 0)});
        test::appendIldaEnd(c.bytes);
        c.frames = {{expected(2047, 2048, {10, 20, 30}), expected(1, 2, {})}};
        cases.push_back(c);
    }
    {
        Case c{"format 1 without palette takes the standard's 64 colours", {}, {}, 0};
        test::appendIldaFrame(
            c.bytes, 1,
            {indexed(1, 1, 0), indexed(2, 2, 24), indexed(3, 3, 56), indexed(4, 4, 31, true)});
        test::appendIldaEnd(c.bytes);
        c.frames = {{expected(1, 1, standard[0]), expected(2, 2, standard[24]),
                     expected(3, 3, standard[56]), expected(4, 4, {})}};
        cases.push_back(c);
    }
    {
        Case c{"format 2 then 1: later frames only, past its end the last colour", {}, {}, 1};
        test::appendIldaFrame(c.bytes, 1, {indexed(5, 5, 1)});
        test::appendIldaPalette(c.bytes, {{1, 2, 3}, {4, 5, 6}});
        test::appendIldaFrame(c.bytes, 1, {indexed(5, 5, 1), indexed(6, 6, 200)});
        test::appendIldaEnd(c.bytes);
        c.frames = {{expected(5, 5, standard[1])},
                    {expected(5, 5, {4, 5, 6}), expected(6, 6, {4, 5, 6})}};
        cases.push_back(c);
    }
    {
        Case c{"format 0 with another projector's palette", {}, {}, 0};
        test::appendIldaPalette(c.bytes, {{1, 2, 3}, {4, 5, 6}}, 1);
        test::appendIldaFrame(c.bytes, 0, {indexed(7, 8, 40)}, true, 0);
        test::appendIldaFrame(c.bytes, 0, {indexed(7, 8, 0)}, true, 1);
        test::appendIldaEnd(c.bytes);
        c.frames = {{expected(7, 8, standard[40])}, {expected(7, 8, {1, 2, 3})}};
        cases.push_back(c);
    }
    {
        Case c{"no closing header", {}, {}, 1};
        test::appendIldaFrame(c.bytes, 5, {at(9, 9, 1, 1, 1)});
        c.frames = {{expected(9, 9, {1, 1, 1})}};
        cases.push_back(c);
    }
    {
        Case c{"no last-point bit, names padded with spaces, a stray trailing byte", {}, {}, 1};
        test::appendIldaFrame(c.bytes, 5, {at(3, 4, 5, 6, 7), at(8, 9, 10, 11, 12)}, false);
        c.bytes.replace(8, 16, "ab      cd      ");
        c.bytes.push_back('\n');
        c.frames = {{expected(3, 4, {5, 6, 7}), expected(8, 9, {10, 11, 12})}};
        cases.push_back(c);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const IldaFile file = parse(c.bytes);
        EXPECT_EQ(file.warnings.size(), c.warnings);
        for (const std::string& line : file.warnings) {
            EXPECT_EQ(line.rfind("f.ild: ", 0), 0u) << line;
            EXPECT_NE(line.find("frame"), std::string::npos) << line;
        }
        ASSERT_EQ(file.frames.size(), c.frames.size());
        for (std::size_t k = 0; k < c.frames.size(); ++k) {
            ASSERT_EQ(file.frames[k].pointCount, c.frames[k].size()) << k;
            for (std::size_t i = 0; i < c.frames[k].size(); ++i) {
                EXPECT_EQ(tied(file.points[file.frames[k].firstPoint + i]), tied(c.frames[k][i]))
                    << k << " " << i;
            }
        }
    }
    const IldaFile padded = parse(cases.back().bytes);
    EXPECT_EQ(padded.sections.at(0).name, "ab");
    EXPECT_EQ(padded.sections.at(0).company, "cd");
}

// Each fault is either refused with one line naming the file and the frame, or played
// within the frame budget with one warning line that names them.
TEST(IldaReader, HostileFilesAreRefusedOrPlayedWithinBounds) {
    const IldaTestPoint p = at(1, 2, 3, 4, 5);
    std::string threeFrames;
    for (int k = 0; k < 3; ++k) {
        test::appendIldaFrame(threeFrames, 5, {p, p});
    }
    const std::string oneFrame = threeFrames.substr(0, 48);
    struct Case {
        const char* name;
        std::string bytes;
        const char* refusedAt;    // the frame named when refused; null: played
        const char* warningAt;    // the frame named in the one warning line
        std::size_t framesPlayed; // when played
    };
    std::string cutFirst;
    test::appendIldaHeader(cutFirst, 5, 65535);
    cutFirst += std::string(80, '\0');
    std::string cutThird = threeFrames.substr(0, 2 * 48);
    test::appendIldaHeader(cutThird, 4, 65535);
    std::string bigPalette;
    std::vector<test::IldaTestColor> colors(65535, {0, 0, 0});
    colors[255] = {9, 8, 7};
    test::appendIldaPalette(bigPalette, colors);
    test::appendIldaFrame(bigPalette, 1, {indexed(1, 2, 255)});
    test::appendIldaEnd(bigPalette);
    std::string hugeFrame;
    std::vector<IldaTestPoint> many(65535, p);
    for (std::size_t i = 0; i < many.size(); i += 3) {
        many[i].blanked = true;
    }
    test::appendIldaFrame(hugeFrame, 5, many);
    test::appendIldaEnd(hugeFrame);
    std::string format3 = oneFrame;
    test::appendIldaHeader(format3, 3, 10);
    format3 += std::string(100, 'x');
    std::string closingOnly;
    test::appendIldaEnd(closingOnly);
    const std::vector<Case> cases{
        {"a record count past the file's end, first frame", cutFirst, "frame 0", nullptr, 0},
        {"a record count past the file's end, third frame", cutThird, nullptr, "frame 2", 2},
        {"a palette of 65,535 colours", bigPalette, nullptr, "frame 0", 1},
        {"a frame of 65,535 points", hugeFrame, nullptr, "frame 0", 1},
        {"format 3 first", format3.substr(48), "frame 0", nullptr, 0},
        {"format 3 after a frame", format3, nullptr, "frame 1", 1},
        {"bytes that are no section", "ILDX" + std::string(60, '\0'), "frame 0", nullptr, 0},
        {"an empty file", "", "no frame", nullptr, 0},
        {"only a closing header", closingOnly, "no frame", nullptr, 0},
    };
    IldaLimits limits;
    limits.maxFramePoints = 29800;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.refusedAt != nullptr) {
            try {
                (void)parse(c.bytes, limits);
                ADD_FAILURE() << "not refused";
            } catch (const std::runtime_error& e) {
                const std::string what = e.what();
                EXPECT_EQ(what.rfind("f.ild: ", 0), 0u) << what;
                EXPECT_NE(what.find(c.refusedAt), std::string::npos) << what;
                EXPECT_EQ(what.find('\n'), std::string::npos) << what;
            }
            continue;
        }
        const IldaFile file = parse(c.bytes, limits);
        ASSERT_EQ(file.warnings.size(), 1u);
        EXPECT_EQ(file.warnings[0].rfind("f.ild: ", 0), 0u) << file.warnings[0];
        EXPECT_NE(file.warnings[0].find(c.warningAt), std::string::npos) << file.warnings[0];
        ASSERT_EQ(file.frames.size(), c.framesPlayed);
        for (const IldaFrame& frame : file.frames) {
            EXPECT_LE(frame.pointCount, limits.maxFramePoints);
        }
    }
    // The palette's first 256 colours count; the huge frame keeps its blanking.
    EXPECT_EQ(tied(parse(bigPalette).points.at(0)), tied(expected(1, 2, {9, 8, 7})));
    const IldaFile thinned = parse(hugeFrame, limits);
    for (const IldaPoint& point : thinned.points) {
        EXPECT_EQ(point.r, 0); // every group of three holds a blanked point
    }

    // Limits on the file and on the points kept in all.
    const test::TempDir dir;
    test::writeFile((dir.path() / "f.ild").string(), threeFrames);
    IldaLimits small;
    small.maxFileBytes = 100;
    EXPECT_THROW((void)readIldaFile(dir.path() / "f.ild", small), std::runtime_error);
    EXPECT_THROW((void)readIldaFile(dir.path(), limits), std::runtime_error);
    small = {};
    small.maxPoints = 5;
    try {
        (void)parse(threeFrames, small);
        ADD_FAILURE() << "not refused";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("frame 2"), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace lumarok
