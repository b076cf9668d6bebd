// Copies of the demo show with one corruption each, rendered headless under a 1 GB
// address-space limit. Every run ends within its time limit: refused with one
// "lumarok:" line naming the file and a failing status, or played with a stated
// diagnostic and a frame within the sample budget. Large files are made here. The
// loaders' unit tests (data files, scenes, clips) hold each bound; these are the
// faults that only the whole program meets, or that need the whole show's memory.
#include "support/lumarok_process.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace lumarok {
namespace {

namespace fs = std::filesystem;
using test::ProcessResult;
using test::readFile;
using test::writeFile;

constexpr const char* kLimitTool = "/usr/bin/prlimit";
constexpr const char* kAddressSpaceLimit = "--as=1073741824";
constexpr std::size_t kFrameSampleBudget = 30000;

// A scene whose only frame is given as the text of its "data" array; `indices`
// frames all point at it.
void writeScene(const fs::path& file, const std::string& data, std::size_t indices = 1) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "{\"indices\": [0";
    for (std::size_t k = 1; k < indices; ++k) {
        out << ",0";
    }
    out << "], \"data\": [" << data << "]}";
}

// An outline command of `points` points.
std::string outline(std::int64_t points) {
    std::string text = "208," + std::to_string(points);
    for (std::int64_t k = 0; k < points; ++k) {
        text += k % 2 == 0 ? ",100,100" : ",120,140";
    }
    return text;
}

struct HostileCase {
    const char* name;
    std::function<void(const fs::path& data)> corrupt;
    const char* refusalNames; // text the error line holds; nullptr when the show plays
};

const HostileCase kCases[] = {
    {"Sequence.txt of garbage only",
     [](const fs::path& d) { writeFile(d / "Sequence.txt", std::string(1 << 20, '\x9c')); },
     "Sequence.txt: no clip"},
    {"a scene listing one 50,000-point outline a million times",
     [](const fs::path& d) { writeScene(d / "script1A.json", "1," + outline(50'000), 1'000'000); },
     "script1A.json: frame 167: 8400168 points in the show's scenes"},
    {"a scene of 16 MB listing 8 M empty frames",
     [](const fs::path& d) { writeScene(d / "script1A.json", "0", (16u << 20) / 2 - 64); },
     "script1A.json: frame 4194304: 4194305 commands in the show's scenes"},
    {"a mask outline of 2000 points",
     [](const fs::path& d) { writeScene(d / "script1A.json", "1," + outline(2000), 200); },
     "Sequence.txt: the mask (the first outline at 2.039 s) has 2001 points"},
    {"a row value of 10^9 in the frame on show",
     [](const fs::path& d) {
         nlohmann::json scene = nlohmann::json::parse(readFile(d / "script1A.json"));
         // 3 s into the show is frame 75 of this scene, in-betweens of earlier
         // outlines; the first one's first outline gets the row.
         const std::int64_t tween = scene["indices"][75].get<std::int64_t>() + 1;
         ASSERT_EQ(scene["data"][tween], 230);
         const std::int64_t from = tween + 1 - scene["data"][tween + 2].get<std::int64_t>();
         ASSERT_EQ(scene["data"][from], 208);
         scene["data"][from + 2] = 1'000'000'000;
         writeFile(d / "script1A.json", scene.dump());
     },
     nullptr},
};

TEST(HostileShowData, EveryCorruptionEndsBoundedAndSaysWhere) {
    if (!fs::exists(kLimitTool)) {
        GTEST_SKIP() << kLimitTool << " (util-linux) is needed to limit memory";
    }
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit the address-space limit that "
                    "bounds these runs; the plain build runs them, the loaders' unit tests and "
                    "fuzz targets run here";
#endif
    for (const HostileCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        fs::copy(fs::path(test::sourceDir()) / "data", dir.path() / "data");
        c.corrupt(dir.path() / "data");
        test::ProcessOptions options;
        options.workingDirectory = dir.path();
        options.timeout = std::chrono::seconds(60); // a hang guard, not a speed check
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r =
            test::runProcess(kLimitTool,
                             {kAddressSpaceLimit, "--", test::programPath("lumarok"), "--render",
                              "3.0", "--out", "frame.json"},
                             options);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-60s %5.2f s  exit %d\n", c.name, seconds, r.exitCode);
        ASSERT_FALSE(r.timedOut);
        ASSERT_EQ(r.signal, 0) << r.err;
        if (c.refusalNames != nullptr) {
            EXPECT_NE(r.exitCode, 0);
            EXPECT_EQ(r.err.rfind("lumarok: ", 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_NE(r.err.find(c.refusalNames), std::string::npos) << r.err;
            continue;
        }
        // Played: the far point is reported once, and the frame fits the budget.
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out.rfind("data/script1A.json: frame "), 0u) << r.out;
        EXPECT_NE(r.out.find("lies far outside the drawing space"), std::string::npos) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_NE(r.err.find("to stay within 30000 samples"), std::string::npos) << r.err;
        const nlohmann::json frame = nlohmann::json::parse(readFile(dir.path() / "frame.json"));
        EXPECT_LE(frame.at("samples").size(), kFrameSampleBudget);
        EXPECT_GT(frame.at("samples").size(), kFrameSampleBudget / 4);
    }
}

// A byte-order mark opens the text files of some editors; it changes nothing.
// Both copies start with lines that matter: the opening clip, and a remap row
// that shifts the first minute by 2 s.
TEST(HostileShowData, ByteOrderMarksAreSkipped) {
    std::vector<std::string> renders;
    for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
        const test::TempDir dir;
        const fs::path data = dir.path() / "data";
        fs::copy(fs::path(test::sourceDir()) / "data", data);
        const std::string sequence = readFile(data / "Sequence.txt");
        ASSERT_EQ(sequence.rfind("0 ('scene'", 0), 0u);
        writeFile(data / "Sequence.txt", mark + sequence.substr(sequence.find('\n') + 1));
        const std::string remap = readFile(data / "remap.txt");
        ASSERT_EQ(remap.rfind("1 1\n", 0), 0u);
        writeFile(data / "remap.txt", mark + "121 1\n" + remap.substr(4));
        writeFile(data / "split_map.json", mark + readFile(data / "split_map.json"));
        test::ProcessOptions options;
        options.workingDirectory = dir.path();
        const ProcessResult r = test::runProcess(test::programPath("lumarok"),
                                                 {"--render", "1", "--out", "frame.json"}, options);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
        renders.push_back(readFile(dir.path() / "frame.json"));
    }
    EXPECT_NE(renders[0].find("\"entry\":1"), std::string::npos) << "the remap row counts";
    EXPECT_EQ(renders[0], renders[1]);
}

} // namespace
} // namespace lumarok
