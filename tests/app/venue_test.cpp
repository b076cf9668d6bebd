#include "app/command_line.hpp"
#include "app/venue_choice.hpp"
#include "laser/projector_correction.hpp"
#include "laser/static_guard.hpp"
#include "laser/venue_file.hpp"
#include "laser/venue_stages.hpp"
#include "laser/venue_zones.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace lumarok {
namespace {

bool lit(const LaserSample& s) {
    return s.r != 0 || s.g != 0 || s.b != 0;
}

// Corners land where given, and the centre where the diagonals cross (a perspective map
// keeps straight lines straight), worked out here without the map's algebra.
TEST(CornerMap, TakesTheSquareToTheFourPointsAsAPerspectiveMap) {
    const std::vector<std::array<OutputPoint, 4>> cases{
        {{{0, 0}, {4095, 0}, {4095, 4095}, {0, 4095}}},
        {{{120, 0}, {3975, 60}, {4095, 4095}, {0, 4030}}},
        {{{400, 300}, {3600, 0}, {4095, 4095}, {0, 3800}}},
        {{{0, 4095}, {4095, 4095}, {4095, 0}, {0, 0}}}, // mirrored: the other way round
    };
    for (const auto& c : cases) {
        const CornerMap map(c);
        const OutputPoint square[4] = {{0, 0}, {4095, 0}, {4095, 4095}, {0, 4095}};
        for (int i = 0; i < 4; ++i) {
            const OutputPoint p = map(square[i].x, square[i].y);
            EXPECT_NEAR(p.x, c[i].x, 1e-6);
            EXPECT_NEAR(p.y, c[i].y, 1e-6);
        }
        // Diagonals p0-p2 and p1-p3 meet at p0 + s (p2 - p0).
        const double ax = c[2].x - c[0].x, ay = c[2].y - c[0].y;
        const double bx = c[3].x - c[1].x, by = c[3].y - c[1].y;
        const double s = ((c[1].x - c[0].x) * by - (c[1].y - c[0].y) * bx) / (ax * by - ay * bx);
        const OutputPoint centre = map(2047.5, 2047.5);
        EXPECT_NEAR(centre.x, c[0].x + s * ax, 1e-6);
        EXPECT_NEAR(centre.y, c[0].y + s * ay, 1e-6);
    }
    for (const std::array<OutputPoint, 4> bad :
         {std::array<OutputPoint, 4>{{{0, 0}, {4095, 4095}, {4095, 0}, {0, 4095}}}, // crossed
          std::array<OutputPoint, 4>{{{0, 0}, {10, 0}, {20, 0}, {0, 4095}}}}) {     // flat
        EXPECT_THROW(CornerMap{bad}, std::invalid_argument);
    }
    std::vector<LaserSample> samples{{4095, 4095, 9, 9, 9}};
    mapCorners(CornerMap({{{0, 0}, {4095, 0}, {5000, 5000}, {0, 4095}}}), samples);
    EXPECT_EQ((std::vector<int>{samples[0].x, samples[0].y, samples[0].r}),
              (std::vector<int>{4095, 4095, 0})); // beyond the edge: held there, dark
}

TEST(ColourBalance, AppliesIntensityCurvesAndShiftExactly) {
    const auto level = [](double v, double min, double max, double gamma) {
        return v == 0 ? 0L
                      : std::lround(4095.0 * (min + (max - min) * std::pow(v / 4095.0, gamma)) /
                                    100.0);
    };
    ColourBalance balance;
    balance.intensity = 80;
    balance.red = {8, 100, 1.0};
    balance.green = {5, 90, 2.2};
    balance.blue = {0, 100, 1.0};
    for (const int v : {0, 1, 100, 2047, 4095}) {
        std::vector<LaserSample> s{{1, 2, static_cast<std::uint16_t>(v),
                                    static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(v)}};
        balanceColour(balance, s);
        const double scaled = std::round(v * 0.8);
        EXPECT_EQ(s[0].r, level(scaled, 8, 100, 1.0)) << v;
        EXPECT_EQ(s[0].g, level(scaled, 5, 90, 2.2)) << v;
        EXPECT_EQ(s[0].b, level(scaled, 0, 100, 1.0)) << v;
    }
    ColourBalance shifted;
    shifted.shift = 2;
    std::vector<LaserSample> s{{0, 0, 1, 0, 0}, {1, 0, 2, 0, 0}, {2, 0, 3, 0, 0}, {3, 0, 4, 0, 0}};
    balanceColour(shifted, s);
    EXPECT_EQ((std::vector<int>{s[0].r, s[1].r, s[2].r, s[3].r}), (std::vector<int>{0, 0, 1, 2}));
    EXPECT_EQ((std::vector<int>{s[0].x, s[3].x}), (std::vector<int>{0, 3})); // positions stay
}

Zone zone(ZoneKind kind, std::vector<OutputPoint> points, double level = 100) {
    return Zone{kind, level, std::move(points)};
}

// Independent of the stage: walks each lit line in small steps.
bool crossesRect(const std::vector<LaserSample>& out, double x0, double y0, double x1, double y1,
                 bool keepIn) {
    for (std::size_t i = 1; i < out.size(); ++i) {
        if (!lit(out[i - 1]) && !lit(out[i])) {
            continue;
        }
        for (int k = 0; k <= 1000; ++k) {
            const double t = k / 1000.0;
            const double x = out[i - 1].x + (out[i].x - out[i - 1].x) * t;
            const double y = out[i - 1].y + (out[i].y - out[i - 1].y) * t;
            const bool strictlyIn = x > x0 + 0.5 && x < x1 - 0.5 && y > y0 + 0.5 && y < y1 - 0.5;
            const bool out_ = x < x0 - 0.5 || x > x1 + 0.5 || y < y0 - 0.5 || y > y1 + 0.5;
            if (keepIn ? out_ : strictlyIn) {
                return true;
            }
        }
    }
    return false;
}

TEST(Zones, NoLitLineEntersKeepOutOrLeavesKeepInAndAttenuateCaps) {
    const std::vector<OutputPoint> box{{1000, 1000}, {3000, 1000}, {3000, 3000}, {1000, 3000}};
    const std::vector<LaserSample> across{{0, 2000, 4095, 0, 0},    {4095, 2000, 4095, 0, 0},
                                          {4095, 500, 0, 0, 0},     {0, 500, 0, 0, 0},
                                          {2000, 2000, 0, 4095, 0}, {2000, 3500, 0, 4095, 0}};
    struct Case {
        const char* what;
        std::vector<Zone> zones;
        bool keepIn;
        std::size_t litAtLeast; // lit samples left, so that the picture stays up to the edge
    };
    const std::vector<Case> cases{
        {"keep-out", {zone(ZoneKind::keepOut, box)}, false, 3},
        {"keep-in", {zone(ZoneKind::keepIn, box)}, true, 2},
        // Drawn twice round: even-odd makes it outside everywhere, so nothing is fenced.
        {"self-crossing keep-out",
         {zone(ZoneKind::keepOut, {{1000, 1000},
                                   {3000, 1000},
                                   {3000, 3000},
                                   {1000, 3000},
                                   {1000, 1000},
                                   {3000, 1000},
                                   {3000, 3000},
                                   {1000, 3000}})},
         false,
         4},
    };
    for (const Case& c : cases) {
        std::vector<LaserSample> out;
        applyZones(c.zones, across, out);
        if (std::strcmp(c.what, "self-crossing keep-out") == 0) {
            EXPECT_EQ(out.size(), across.size()) << c.what;
            continue;
        }
        EXPECT_FALSE(crossesRect(out, 1000, 1000, 3000, 3000, c.keepIn)) << c.what;
        EXPECT_GE(std::count_if(out.begin(), out.end(), lit), c.litAtLeast) << c.what;
    }
    // Random lines, many crossing both outlines.
    std::mt19937 random(28);
    std::uniform_int_distribution<int> coordinate(0, 4095);
    std::vector<LaserSample> scribble;
    for (int i = 0; i < 3000; ++i) {
        scribble.push_back({static_cast<std::uint16_t>(coordinate(random)),
                            static_cast<std::uint16_t>(coordinate(random)),
                            static_cast<std::uint16_t>(i % 5 == 0 ? 0 : 4095), 0, 0});
    }
    for (const Case& c : {cases[0], cases[1]}) {
        std::vector<LaserSample> out;
        applyZones(c.zones, scribble, out);
        EXPECT_FALSE(crossesRect(out, 1000, 1000, 3000, 3000, c.keepIn)) << c.what << " scribble";
    }
    // Lit right up to the keep-out outline on the way in and from it on the way out.
    std::vector<LaserSample> out;
    applyZones(cases[0].zones, std::vector<LaserSample>(across.begin(), across.begin() + 2), out);
    std::vector<int> xs;
    for (const LaserSample& s : out) {
        xs.push_back(lit(s) ? s.x : -s.x);
    }
    EXPECT_EQ(xs, (std::vector<int>{0, 1000, -1000, -3000, 3000, 4095}));
    // Attenuated inside only, to at most its level.
    applyZones(std::vector<Zone>{zone(ZoneKind::attenuate, box, 30)},
               std::vector<LaserSample>{{2000, 2000, 4095, 100, 1}, {10, 10, 4095, 100, 1}}, out);
    EXPECT_EQ((std::vector<int>{out[0].r, out[0].g, out[0].b, out[1].r}),
              (std::vector<int>{1228, 30, 0, 4095}));
}

TEST(StaticGuard, DarkensAStillBeamAfterItsTimeAndLetsItGoWhenItSpreads) {
    using namespace std::chrono_literals;
    const auto point = [](int lit) {
        return std::vector<LaserSample>(
            300, LaserSample{2000, 2000, static_cast<std::uint16_t>(lit), 0, 0});
    };
    std::vector<LaserSample> wide{{0, 0, 100, 0, 0}, {4095, 4095, 100, 0, 0}};
    struct Step {
        std::vector<LaserSample> frame;
        std::chrono::milliseconds at;
        StaticGuard::Change change;
        bool darkened;
    };
    const StaticGuard::Clock::time_point t0{};
    const std::vector<Step> steps{
        {point(100), 0ms, StaticGuard::Change::none, false},
        {point(100), 50ms, StaticGuard::Change::none, false},
        {point(0), 60ms, StaticGuard::Change::none, false}, // dark: starts the time anew
        {point(100), 70ms, StaticGuard::Change::none, false},
        {point(100), 160ms, StaticGuard::Change::none, false}, // 90 ms + 10 ms of samples
        {point(100), 165ms, StaticGuard::Change::tripped, true},
        {point(100), 400ms, StaticGuard::Change::none, true},
        {wide, 410ms, StaticGuard::Change::released, false},
        {point(100), 420ms, StaticGuard::Change::none, false},
    };
    StaticGuard guard({1.0, 100});
    StaticGuard off({0.0, 100});
    for (std::size_t i = 0; i < steps.size(); ++i) {
        std::vector<LaserSample> frame = steps[i].frame;
        EXPECT_EQ(guard.apply(frame, t0 + steps[i].at), steps[i].change) << i;
        EXPECT_EQ(!std::any_of(frame.begin(), frame.end(), lit) &&
                      std::any_of(steps[i].frame.begin(), steps[i].frame.end(), lit),
                  steps[i].darkened)
            << i;
        std::vector<LaserSample> untouched = steps[i].frame;
        EXPECT_EQ(off.apply(untouched, t0 + steps[i].at), StaticGuard::Change::none);
    }
}

std::string writeVenue(const std::string& text) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("lumarok_venue_test_" + std::to_string(::getpid()) + ".toml");
    std::ofstream(path) << text;
    return path.string();
}

TEST(VenueFile, RefusesHostileFilesWithOneLineNamingFileLineAndKey) {
    std::string manyPoints = "[projector.a]\n[[projector.a.zone]]\nkind = \"keep-out\"\npoints = [";
    for (int i = 0; i < 100000; ++i) {
        manyPoints += "[" + std::to_string(i % 4096) + ", " + std::to_string(i / 4096) + "],";
    }
    manyPoints += "]\n";
    const struct {
        std::string text;
        std::string says; // after "FILE:"
    } cases[] = {
        {"[projector.a]\ncolor = 1\n", "2: projector.a.color: unknown key"},
        {"[lights]\n", "1: lights: unknown key"},
        {"[projector.a]\nintensity = \"80\"\n", "2: projector.a.intensity: takes a number"},
        {"[projector.a]\nintensity = nan\n",
         "2: projector.a.intensity: takes a number from 0 to 100"},
        {"[projector.a]\nintensity = 101\n",
         "2: projector.a.intensity: takes a number from 0 to 100"},
        {"[projector.a]\nplacement = { rotate = inf }\n", "2: projector.a.placement.rotate:"},
        {"[projector.a]\nplacement = { scale = 0 }\n", "2: projector.a.placement.scale:"},
        {"[projector.a]\ncorners = [[0, 0], [4095, 4095], [4095, 0], [0, 4095]]\n",
         "2: projector.a.corners: the corners must make a convex"},
        {"[projector.a]\ncolour = { red = { min = 50, max = 40 } }\n",
         "2: projector.a.colour.red: min is above max"},
        {"[projector.a]\ncolour = { shift = 1.5 }\n",
         "2: projector.a.colour.shift: takes a whole number"},
        {"[projector.a]\nstatic_guard = { size = -1 }\n", "2: projector.a.static_guard.size:"},
        {"[projector.a]\nrate = 0\n",
         "2: projector.a.rate: takes a whole number from 1 to 1000000"},
        {"[projector.a]\nrate = 30000.5\n", "2: projector.a.rate: takes a whole number"},
        {"[projector.a]\n[[projector.a.zone]]\nkind = \"keep-off\"\npoints = [[0,0],[1,0],[0,1]]\n",
         "3: projector.a.zone.0.kind:"},
        {"[projector.a]\n[[projector.a.zone]]\nkind = \"attenuate\"\npoints = "
         "[[0,0],[1,0],[0,1]]\n",
         "2: projector.a.zone.0: an attenuate zone needs level"},
        {"[projector.a]\n[[projector.a.zone]]\nkind = \"keep-in\"\npoints = "
         "[[0,0],[1,nan],[0,1]]\n",
         "4: projector.a.zone.0.points: takes a number"},
        {manyPoints, "4: projector.a.zone.0.points: takes from 3 to 256 points, not 100000"},
        {"[projector.a\n", "1: "},
    };
    for (const auto& c : cases) {
        const std::string path = writeVenue(c.text);
        try {
            (void)readVenueFile(path);
            ADD_FAILURE() << "taken: " << c.text.substr(0, 80);
        } catch (const UsageError& e) {
            const std::string line = e.what();
            EXPECT_EQ(line.rfind(path + ":" + c.says, 0), 0u) << line;
            EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        }
        std::filesystem::remove(path);
    }
    // A placement both in the file and on the command line.
    const std::string path = writeVenue("[projector.left]\nplacement = { scale = 0.5 }\n");
    EXPECT_THROW(
        (void)venueOf(parseOptions({"-laser", "--venue", path, "--projector", "left:flip-x"})),
        UsageError);
    EXPECT_NO_THROW(
        (void)venueOf(parseOptions({"-laser", "--venue", path, "--projector", "left"})));
    std::filesystem::remove(path);
}

// An Ether Dream's or IDN unit's point rate: its entry's `rate`, by name or by address,
// else the command line's.
TEST(VenueFile, APointRateIsTheProjectorsOwnElseTheCommandLines) {
    const std::string path = writeVenue("[projector.left]\nrate = 45000\n"
                                        "[projector.\"10.213.0.3\"]\nrate = 20000\n"
                                        "[projector.right]\nintensity = 50\n");
    const Venue venue = readVenueFile(path);
    std::filesystem::remove(path);
    const struct {
        std::string name;
        std::string address;
        std::uint32_t rate;
    } cases[] = {
        {"left", "10.213.0.3", 45000}, // the name's entry wins
        {"other", "10.213.0.3", 20000},
        {"right", "10.213.0.4", 30000}, // an entry without a rate
        {"other", "10.213.0.4", 30000}, // no entry
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pointRateOf(venue.find(c.name, c.address), 30000), c.rate) << c.name;
    }
    EXPECT_EQ(pointRateOf(nullptr, 25000), 25000u);
}

// The demo's venue file, neutral throughout, changes no byte of any frame.
TEST(ProjectorCorrection, NeutralVenueGivesTheSameBytesAsNone) {
    const Venue venue = readVenueFile(test::sourceDir() + "/packaging/venue.toml");
    ASSERT_EQ(venue.projectors.size(), 1u);
    const ProjectorCorrection neutral(Placement{}, &venue.projectors[0]);
    const ProjectorCorrection none;
    std::mt19937 random(28);
    std::uniform_int_distribution<int> level(0, 4095);
    std::vector<LaserSample> frame;
    for (int i = 0; i < 20000; ++i) {
        const auto v = [&] { return static_cast<std::uint16_t>(i % 7 == 0 ? 0 : level(random)); };
        frame.push_back({static_cast<std::uint16_t>(i % 11 == 0 ? 0 : level(random)),
                         static_cast<std::uint16_t>(i % 13 == 0 ? 4095 : level(random)), v(), v(),
                         v()});
    }
    std::vector<LaserSample> a;
    std::vector<LaserSample> b;
    neutral.apply(frame, a);
    none.apply(frame, b);
    ASSERT_EQ(a.size(), frame.size());
    EXPECT_EQ(std::memcmp(a.data(), frame.data(), a.size() * sizeof(LaserSample)), 0);
    EXPECT_EQ(std::memcmp(b.data(), frame.data(), b.size() * sizeof(LaserSample)), 0);
}

} // namespace
} // namespace lumarok
