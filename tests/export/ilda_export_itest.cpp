// Exports short stretches of the demo show as ILDA files and reads them back with a
// reader written from the format's published description (big-endian 32-byte headers,
// 8-byte format 5 records: X, Y, status, blue, green, red), then compares every frame
// with `--render T --out x.json` at the same clock time.
#include "support/lumarok_process.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace lumarok {
namespace {

namespace fs = std::filesystem;

struct IldaRecord {
    int x, y, status, blue, green, red;
};

struct IldaSection {
    std::string signature, reserved;
    int format;
    std::string frameName, companyName;
    int records, frameNumber, totalFrames, projector, reservedLast;
    std::vector<IldaRecord> points;
};

// Every section up to and including the closing one; fails the test on truncation.
std::vector<IldaSection> readIlda(const std::string& bytes) {
    std::size_t at = 0;
    const auto u8 = [&](std::size_t offset) { return static_cast<unsigned char>(bytes[offset]); };
    const auto u16 = [&](std::size_t offset) { return u8(offset) * 256 + u8(offset + 1); };
    const auto s16 = [&](std::size_t offset) {
        const int v = u16(offset);
        return v >= 32768 ? v - 65536 : v;
    };
    std::vector<IldaSection> sections;
    while (at + 32 <= bytes.size()) {
        IldaSection s;
        s.signature = bytes.substr(at, 4);
        s.reserved = bytes.substr(at + 4, 3);
        s.format = u8(at + 7);
        s.frameName = bytes.substr(at + 8, 8);
        s.companyName = bytes.substr(at + 16, 8);
        s.records = u16(at + 24);
        s.frameNumber = u16(at + 26);
        s.totalFrames = u16(at + 28);
        s.projector = u8(at + 30);
        s.reservedLast = u8(at + 31);
        at += 32;
        EXPECT_EQ(s.format, 5);
        EXPECT_LE(at + 8 * static_cast<std::size_t>(s.records), bytes.size());
        for (int i = 0; i < s.records && at + 8 <= bytes.size(); ++i, at += 8) {
            s.points.push_back(
                {s16(at), s16(at + 2), u8(at + 4), u8(at + 5), u8(at + 6), u8(at + 7)});
        }
        sections.push_back(s);
        if (s.records == 0) {
            break;
        }
    }
    EXPECT_EQ(at, bytes.size()) << "bytes after the closing header";
    return sections;
}

// The documented mapping, from the render's projector samples.
IldaRecord expectedRecord(const nlohmann::json& s) {
    const auto widen = [](int v) { return v * 16 + v / 256 - 32768; };
    const auto level = [](int v) { return (v * 255 + 2047) / 4095; };
    return {widen(4095 - s["x"].get<int>()), widen(s["y"].get<int>()), 0,
            level(s["b"].get<int>()),        level(s["g"].get<int>()), level(s["r"].get<int>())};
}

bool isLit(const nlohmann::json& s) {
    return s["r"].get<int>() != 0 || s["g"].get<int>() != 0 || s["b"].get<int>() != 0;
}

class IldaExport : public ::testing::Test {
protected:
    test::TempDir dir;

    void SetUp() override {
        fs::create_directory_symlink(fs::path(test::sourceDir()) / "data", dir.path() / "data");
    }

    test::ProcessResult lumarok(const std::vector<std::string>& arguments) {
        test::ProcessOptions options;
        options.workingDirectory = dir.path();
        options.timeout = std::chrono::seconds(120);
        return test::runProcess(test::programPath("lumarok"), arguments, options);
    }

    std::string read(const std::string& name) {
        std::ifstream in(dir.path() / name, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    nlohmann::json render(double clock, const std::string& intensity) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", clock);
        const test::ProcessResult r =
            lumarok({"--render", text, "--out", "frame.json", "-i", intensity});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return nlohmann::json::parse(read("frame.json"))["samples"];
    }
};

void expectHeader(const IldaSection& s, int records, int frameNumber, int totalFrames) {
    char name[9];
    std::snprintf(name, sizeof name, "%08d", frameNumber);
    EXPECT_EQ(s.signature, "ILDA");
    EXPECT_EQ(s.reserved, std::string(3, '\0'));
    EXPECT_EQ(s.frameName, std::string(name, 8));
    EXPECT_EQ(s.companyName, std::string("lumarok\0", 8));
    EXPECT_EQ(s.records, records);
    EXPECT_EQ(s.frameNumber, frameNumber);
    EXPECT_EQ(s.totalFrames, totalFrames);
    EXPECT_EQ(s.projector, 0);
    EXPECT_EQ(s.reservedLast, 0);
}

void expectRecordsMatch(const IldaRecord& got, const IldaRecord& want) {
    EXPECT_EQ(std::tie(got.x, got.y, got.blue, got.green, got.red),
              std::tie(want.x, want.y, want.blue, want.green, want.red));
}

// Clock 59.9 .. 60.05 crosses a remap point (show time runs at 0.9 from 60 s); -i 50
// checks the colour scaling. Frame 0 starts its blank move at (0, 0) like --render, so it
// matches the render sample for sample; later frames start where the one before ended.
TEST_F(IldaExport, FramesMatchTheRenderAtTheSameClockTimes) {
    const double from = 59.9, fps = 20.0;
    const test::ProcessResult r = lumarok({"--export-ilda", "show.ild", "--from", "59.9", "--to",
                                           "60.05", "--fps", "20", "-i", "50"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string bytes = read("show.ild");
    const std::vector<IldaSection> sections = readIlda(bytes);
    ASSERT_EQ(sections.size(), 4u); // 59.9, 59.95, 60.0 and the closing header
    std::size_t expectedSize = 32;
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const IldaSection& s = sections[static_cast<std::size_t>(k)];
        expectedSize += 32 + 8 * s.points.size();
        expectHeader(s, static_cast<int>(s.points.size()), k, 3);
        const nlohmann::json rendered = render(from + k / fps, "50");
        std::vector<IldaRecord> wantLit;
        for (const auto& sample : rendered) {
            if (isLit(sample)) {
                wantLit.push_back(expectedRecord(sample));
            }
        }
        std::vector<IldaRecord> gotLit;
        for (std::size_t i = 0; i < s.points.size(); ++i) {
            const IldaRecord& p = s.points[i];
            const bool last = i + 1 == s.points.size();
            EXPECT_EQ(p.status & 0x3f, 0);
            EXPECT_EQ((p.status & 0x80) != 0, last) << i;
            if (p.status & 0x40) {
                EXPECT_EQ(p.blue + p.green + p.red, 0) << i;
            } else {
                gotLit.push_back(p);
            }
        }
        ASSERT_FALSE(wantLit.empty());
        ASSERT_EQ(gotLit.size(), wantLit.size());
        for (std::size_t i = 0; i < gotLit.size(); ++i) {
            expectRecordsMatch(gotLit[i], wantLit[i]);
        }
        if (k == 0) {
            ASSERT_EQ(s.points.size(), rendered.size());
            for (std::size_t i = 0; i < rendered.size(); ++i) {
                expectRecordsMatch(s.points[i], expectedRecord(rendered[i]));
            }
        } else {
            // The blank move leaves from the previous frame's last point: the first record
            // lies within one blank step (30 units, 480 ILDA units) of it.
            const IldaRecord& before = sections[static_cast<std::size_t>(k) - 1].points.back();
            const IldaRecord& first = s.points.front();
            EXPECT_LE(std::hypot(first.x - before.x, first.y - before.y), 32 * 16.0);
        }
    }
    expectHeader(sections[3], 0, 2, 3);
    EXPECT_EQ(bytes.size(), expectedSize);
}

TEST_F(IldaExport, SingleFrameRenderAndDefaultRange) {
    ASSERT_EQ(lumarok({"--render", "19.6", "--out", "one.ild"}).exitCode, 0);
    const std::vector<IldaSection> one = readIlda(read("one.ild"));
    const nlohmann::json rendered = render(19.6, "10");
    ASSERT_EQ(one.size(), 2u);
    expectHeader(one[0], static_cast<int>(rendered.size()), 0, 1);
    for (std::size_t i = 0; i < rendered.size(); ++i) {
        expectRecordsMatch(one[0].points[i], expectedRecord(rendered[i]));
    }
    expectHeader(one[1], 0, 0, 1);

    // The demo's last clip ends at show time 232.4 s, which the remap table leaves at
    // clock 232.4 s: at 1 frame/s, frames 0 .. 232.
    const test::ProcessResult r = lumarok({"--export-ilda", "all.ild", "--fps", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<IldaSection> all = readIlda(read("all.ild"));
    ASSERT_EQ(all.size(), 234u);
    EXPECT_EQ(all.front().totalFrames, 233);
    EXPECT_EQ(all[232].frameNumber, 232);
}

TEST_F(IldaExport, RangesTheFormatCannotHoldAreRefused) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--export-ilda", "x.ild", "--fps", "1000"},
          std::vector<std::string>{"--export-ilda", "x.ild", "--from", "300"},
          std::vector<std::string>{"--export-ilda", "no/such/dir/x.ild", "--to", "1"}}) {
        const test::ProcessResult r = lumarok(args);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_EQ(r.err.rfind("lumarok: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

// The export played back with --ilda: frame k at clock k / 30 carries the export's
// samples after a blank move from (0, 0), positions exact and colours within one step of
// the file's 8 bits; the first frame matches --render of the show itself.
TEST_F(IldaExport, PlayedBackWithIldaGivesTheSameSamples) {
    ASSERT_EQ(lumarok({"--export-ilda", "show.ild", "--from", "60", "--to", "60.1", "-i", "100"})
                  .exitCode,
              0);
    const std::vector<IldaSection> sections = readIlda(read("show.ild"));
    ASSERT_EQ(sections.size(), 4u);
    const nlohmann::json shown = render(60.0, "100");
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        char clock[40];
        std::snprintf(clock, sizeof clock, "%.17g", k / 30.0);
        const test::ProcessResult r =
            lumarok({"--ilda", "show.ild", "--render", clock, "--out", "back.json", "-i", "100"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const nlohmann::json document = nlohmann::json::parse(read("back.json"));
        EXPECT_EQ(document["frame"], "show.ild frame " + std::to_string(k));
        const nlohmann::json& back = document["samples"];
        const std::vector<IldaRecord>& points = sections[static_cast<std::size_t>(k)].points;
        ASSERT_GE(back.size(), points.size());
        const std::size_t leadIn = back.size() - points.size();
        for (std::size_t i = 0; i < leadIn; ++i) {
            EXPECT_FALSE(isLit(back[i])) << i;
        }
        for (std::size_t i = 0; i < points.size(); ++i) {
            const nlohmann::json& sample = back[leadIn + i];
            expectRecordsMatch(expectedRecord(sample), points[i]);
            if (k == 0) { // the export's first frame is the render's, sample for sample
                ASSERT_EQ(points.size(), shown.size());
                EXPECT_EQ(sample["x"], shown[i]["x"]);
                EXPECT_EQ(sample["y"], shown[i]["y"]);
                for (const char* c : {"r", "g", "b"}) {
                    EXPECT_LE(std::abs(sample[c].get<int>() - shown[i][c].get<int>()), 8);
                }
            }
        }
    }
    const test::ProcessResult listed = lumarok({"--list-frames", "show.ild"});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 3);
    EXPECT_EQ(listed.out.rfind("frame 0: format 5, ", 0), 0u) << listed.out;
}

// A write that fails halfway (a file-size limit) leaves the previous file whole and no
// partial one beside it; an output that is a FIFO is refused at once with one line.
TEST_F(IldaExport, AFailedExportLeavesThePreviousFile) {
    test::writeFile((dir.path() / "show.ild").string(), "previous");
    test::ProcessOptions options;
    options.workingDirectory = dir.path();
    const test::ProcessResult r = test::runProcess(
        "/usr/bin/prlimit",
        {"--fsize=20000", test::programPath("lumarok"), "--export-ilda", "show.ild", "--to", "5"},
        options);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err, "lumarok: cannot write show.ild\n");
    EXPECT_EQ(read("show.ild"), "previous");
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
        EXPECT_TRUE(entry.path().filename() == "show.ild" || entry.path().filename() == "data")
            << entry.path();
    }
    ASSERT_EQ(mkfifo((dir.path() / "pipe.json").c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--export-ilda", "pipe.json", "--to", "1"},
          std::vector<std::string>{"--render", "1", "--out", "pipe.json"}}) {
        const test::ProcessResult refused = lumarok(args);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(refused.err,
                  "lumarok: cannot write pipe.json: it is a FIFO, not a regular file\n");
    }
}

} // namespace
} // namespace lumarok
