// Choosing among several projectors: three virtual projectors, two on two links of
// the player's namespace and one behind a router, all in namespaces made here.
#include "support/lumarok_process.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

#define MAKE_STAR(star)                                                                            \
    const std::unique_ptr<NetnsStar> star = tryNetns<NetnsStar>();                                 \
    LUMAROK_SKIP_WITHOUT_NETNS(star)

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// alpha on link A, beta on link B, gamma behind device B.
class ThreeCubes {
public:
    static constexpr std::array<const char*, 3> kNames{"alpha", "beta", "gamma"};

    ThreeCubes(const NetnsStar& star, const TempDir& folder) : dir(folder) {
        const std::array<std::string, 3> where{star.deviceA(), star.deviceB(), star.routed()};
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            cubes[i].emplace(
                where[i],
                std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-cube"), "--name",
                                         kNames[i]},
                out(i), dir.path() / (std::string(kNames[i]) + ".err"));
        }
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (!waitForText(out(i), "listening", 10s)) {
                throw std::runtime_error(std::string(kNames[i]) + " did not start");
            }
        }
    }
    std::string out(std::size_t i) const {
        return (dir.path() / (std::string(kNames[i]) + ".out")).string();
    }
    std::string output(std::size_t i) const { return readFile(out(i)); }

private:
    const TempDir& dir;
    std::array<std::optional<NetnsProcess>, 3> cubes;
};

// The player in the player namespace, without an audio server (silence is enough).
std::vector<std::string> player(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"env", "PULSE_SERVER=unix:/nonexistent/lumarok-no-audio",
                                  programPath("lumarok")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

TEST(ProjectorChoiceNetns, ListsWhatEachDiscoveryReaches) {
    MAKE_STAR(star);
    const TempDir dir;
    const ThreeCubes cubes(*star, dir);
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> listed; // line starts, in order of address
    };
    const std::vector<Case> cases{
        {{}, {"alpha  10.213.0.2  30000 samples/s  buffer 6000", "beta  10.213.0.66  "}},
        {{"--interface", "lrkb"}, {"beta  10.213.0.66  "}},
        {{"--projector", "beta"}, {"beta  10.213.0.66  "}},
        {{"--projector", NetnsStar::kRouted}, {"gamma  10.213.0.130  "}},
        {{"--projector", "nobody"}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options{"--list-projectors"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const std::string label = ::testing::PrintToString(options);
        NetnsProcess listing(star->player(), player(options), dir.path() / "list.out",
                             dir.path() / "list.err");
        const int status = listing.wait(10s);
        const std::string out = readFile(dir.path() / "list.out");
        const std::string err = readFile(dir.path() / "list.err");
        EXPECT_EQ(lineCount(out), c.listed.size()) << label << "\n" << out << err;
        std::size_t from = 0;
        for (const std::string& start : c.listed) {
            from = out.find(start, from);
            EXPECT_NE(from, std::string::npos) << label << " lists " << start << "\n" << out;
        }
        if (c.listed.empty()) {
            // A name that matches nothing: what did answer is named.
            EXPECT_EQ(status, 1) << label;
            EXPECT_EQ(err, "lumarok: waiting for projector nobody\u2026 (answering: alpha at "
                           "10.213.0.2, beta at 10.213.0.66)\n")
                << label;
        } else {
            EXPECT_EQ(status, 0) << label << "\n" << err;
        }
    }
}

TEST(ProjectorChoiceNetns, PlaysOnlyOnTheChosenProjector) {
    MAKE_STAR(star);
    const TempDir dir;
    const ThreeCubes cubes(*star, dir);
    struct Case {
        std::vector<std::string> options;
        int driven;       // index of the cube that must play, -1: none answers
        bool othersAsked; // a broadcast reaches the others too
        std::string said; // on stdout when found, stderr when waiting
    };
    const std::vector<Case> cases{
        {{"--projector", "beta"}, 1, true, "Foundbeta Ip: 10.213.0.66\n"},
        {{"--projector", NetnsStar::kDeviceA}, 0, false, "Foundalpha Ip: 10.213.0.2\n"},
        {{"--interface", "lrkb"}, 1, false, "Foundbeta Ip: 10.213.0.66\n"},
        {{"--projector", NetnsStar::kRouted}, 2, false, "Foundgamma Ip: 10.213.0.130\n"},
        {{"--projector", "nobody", "--interface", "lrka"},
         -1,
         true,
         "waiting for projector nobody on lrka\u2026\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options{"-laser"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        const std::string label = ::testing::PrintToString(options);
        std::array<std::size_t, 3> before{};
        for (std::size_t i = 0; i < before.size(); ++i) {
            before[i] = cubes.output(i).size();
        }
        const std::string saidIn = dir.path() / (c.driven >= 0 ? "player.out" : "player.err");
        {
            NetnsProcess show(star->player(), player(options), dir.path() / "player.out",
                              dir.path() / "player.err", sourceDir());
            ASSERT_TRUE(waitForText(saidIn, c.said, 20s)) << label << "\n"
                                                          << readFile(dir.path() / "player.err");
            std::this_thread::sleep_for(1s);
            show.signal(SIGTERM);
            EXPECT_EQ(show.wait(10s), 0) << label << "\n" << readFile(dir.path() / "player.err");
        }
        if (c.driven >= 0) {
            const auto index = static_cast<std::size_t>(c.driven);
            EXPECT_TRUE(waitForText(cubes.out(index), "switch B off\nswitch B off\n", 5s)) << label;
        }
        for (std::size_t i = 0; i < before.size(); ++i) {
            const std::string added = cubes.output(i).substr(before[i]);
            const bool driven = static_cast<int>(i) == c.driven;
            EXPECT_EQ(added.find("switch A on") != std::string::npos, driven)
                << label << " " << ThreeCubes::kNames[i] << "\n"
                << added;
            if (!driven && !c.othersAsked) {
                EXPECT_EQ(added.find("discovery from"), std::string::npos)
                    << label << " asked " << ThreeCubes::kNames[i];
            }
        }
    }
}

TEST(ProjectorChoiceNetns, TwoVirtualProjectorsShareANamespaceByAddress) {
    const std::unique_ptr<NetnsPair> pair = tryNetns<NetnsPair>();
    LUMAROK_SKIP_WITHOUT_NETNS(pair);
    pair->addDeviceAddress("10.213.0.3/24");
    const TempDir dir;
    std::vector<std::unique_ptr<NetnsProcess>> cubes;
    for (const auto& [name, address] : {std::pair{"one", "10.213.0.2"}, {"two", "10.213.0.3"}}) {
        const std::string out = dir.path() / (std::string(name) + ".out");
        cubes.push_back(std::make_unique<NetnsProcess>(
            pair->device(),
            std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-cube"), "--name", name,
                                     "--address", address},
            out, dir.path() / (std::string(name) + ".err")));
        ASSERT_TRUE(waitForText(out, "listening", 10s))
            << readFile(dir.path() / (std::string(name) + ".err"));
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--list-projectors"}, "one  10.213.0.2  "},
        {{"--list-projectors"}, "two  10.213.0.3  "},
        {{"--list-projectors", "--projector", "10.213.0.3"}, "two  10.213.0.3  "},
    };
    for (const auto& [options, expected] : cases) {
        NetnsProcess listing(pair->player(), player(options), dir.path() / "list.out",
                             dir.path() / "list.err");
        EXPECT_EQ(listing.wait(10s), 0) << readFile(dir.path() / "list.err");
        const std::string out = readFile(dir.path() / "list.out");
        EXPECT_NE(out.find(expected), std::string::npos) << out;
        EXPECT_EQ(lineCount(out), options.size() == 1 ? 2u : 1u) << out;
    }
}

} // namespace
} // namespace lumarok::test
