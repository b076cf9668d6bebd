// Runs the real program on a small hand-made show (tests/data/app_show): one closed
// rectangle from drawing (819, 810.97) to (2457, 2175.97), held from 0 s to 4 s,
// with an identity time remap. Expected values below are worked out by hand:
//   perimeter 2 * (1638 + 1365) = 6006 -> 240 drawn samples at spacing 25;
//   blank move from (0, 0) to (819, 810.97): 1152.58 / 30 -> 38 samples;
//   mirrored x = 4095 - x: 3276 .. 1638, mirrored y: 3284.03 .. 1919.03;
//   the mask effect (from 2.04 s) shrinks the rectangle by 0.95 about 2047 to
//   (880.4, 872.77)..(2436.5, 2169.52): perimeter 5705.7 -> 228 samples, and the
//   blank hop from the outline's end to it, 87.1 / 30 -> 3 samples.
#include "support/lumarok_process.hpp"
#include "support/paths.hpp"

#include <cairo/cairo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace lumarok {
namespace {

namespace fs = std::filesystem;
using test::ProcessOptions;
using test::ProcessResult;
using test::readFile;
using test::runProcess;
using test::TempDir;
using test::writeFile;

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class RenderedShow : public ::testing::Test {
protected:
    TempDir dir;

    void SetUp() override {
        fs::copy(fs::path(test::sourceDir()) / "tests/data/app_show", dir.path() / "data");
    }

    ProcessResult lumarok(const std::vector<std::string>& arguments) {
        ProcessOptions options;
        options.workingDirectory = dir.path();
        options.timeout = std::chrono::seconds(60);
        return runProcess(test::programPath("lumarok"), arguments, options);
    }

    nlohmann::json renderJson(const std::string& clock, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--render", clock, "--out", "frame.json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProcessResult r = lumarok(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return nlohmann::json::parse(readFile(dir.path() / "frame.json"));
    }

    // One line on stderr, "lumarok: ...", and a failing exit status.
    static void expectOneErrorLine(const ProcessResult& r) {
        EXPECT_NE(r.exitCode, 0);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.err.rfind("lumarok: ", 0), 0u) << r.err;
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
    }
};

struct Sample {
    int x, y, r, g, b;
};

std::vector<Sample> samplesOf(const nlohmann::json& doc) {
    std::vector<Sample> list;
    for (const auto& s : doc.at("samples")) {
        list.push_back({s.at("x"), s.at("y"), s.at("r"), s.at("g"), s.at("b")});
    }
    return list;
}

TEST_F(RenderedShow, JsonHoldsTheLaserSamplesOfTheBlueOpening) {
    const nlohmann::json doc = renderJson("1.0", {"-i", "50"});
    EXPECT_EQ(doc.at("entry"), 0);
    EXPECT_DOUBLE_EQ(doc.at("clockTime").get<double>(), 1.0);
    EXPECT_DOUBLE_EQ(doc.at("showTime").get<double>(), 1.0);
    EXPECT_FLOAT_EQ(doc.at("pointSpacing").get<float>(), 25.0f);
    EXPECT_FLOAT_EQ(doc.at("intensity").get<float>(), 0.5f);
    const std::vector<Sample> s = samplesOf(doc);
    ASSERT_EQ(s.size(), 38u + 240u);
    for (std::size_t i = 0; i < 38; ++i) {
        EXPECT_EQ(s[i].r + s[i].g + s[i].b, 0) << "blank sample " << i << " is lit";
    }
    // The blank move ends exactly on the stroke's first point, mirrored on both axes.
    EXPECT_NEAR(s[37].x, 3276, 1);
    EXPECT_NEAR(s[37].y, 3284, 1);
    EXPECT_NEAR(s[38].x, 3276, 1);
    EXPECT_NEAR(s[38].y, 3284, 1);
    for (std::size_t i = 38; i < s.size(); ++i) {
        EXPECT_EQ(s[i].r, 0);
        EXPECT_EQ(s[i].g, 0);
        EXPECT_EQ(s[i].b, 2047) << "blue 1.0 at 50 % is 4095 * 0.5 truncated";
        EXPECT_GE(s[i].x, 1637);
        EXPECT_LE(s[i].x, 3277);
        EXPECT_GE(s[i].y, 1918);
        EXPECT_LE(s[i].y, 3285);
    }
}

TEST_F(RenderedShow, JsonShowsTheMaskEffectWithDefaultIntensity) {
    const nlohmann::json doc = renderJson("3.0");
    EXPECT_EQ(doc.at("entry"), 1);
    EXPECT_FLOAT_EQ(doc.at("intensity").get<float>(), 0.1f);
    const std::vector<Sample> s = samplesOf(doc);
    ASSERT_EQ(s.size(), 38u + 240u + 3u + 228u);
    for (std::size_t i = 38; i < 278; ++i) { // the frozen outline, blue
        EXPECT_EQ(s[i].b, 409);
        EXPECT_EQ(s[i].g, 0);
    }
    for (std::size_t i = 278; i < 281; ++i) {
        EXPECT_EQ(s[i].r + s[i].g + s[i].b, 0);
    }
    for (std::size_t i = 281; i < s.size(); ++i) { // the shrunken drawing inside, green
        EXPECT_EQ(s[i].g, 409);
        EXPECT_EQ(s[i].b, 0);
        EXPECT_GE(s[i].x, 4095 - 2437);
        EXPECT_LE(s[i].x, 4095 - 880);
    }
}

TEST_F(RenderedShow, ClockTimeIsRemappedBeforeTheShowIsDrawn) {
    // Clock 2 s is show time 1 s with these points; without the remap it would be 2 s.
    writeFile(dir.path() / "data/remap.txt", "1 1\n61 121\n");
    const nlohmann::json doc = renderJson("1.5");
    EXPECT_DOUBLE_EQ(doc.at("showTime").get<double>(), 0.75);
    const nlohmann::json late = renderJson("6.0"); // past the last point: slope one
    EXPECT_DOUBLE_EQ(late.at("showTime").get<double>(), 5.0);
    EXPECT_EQ(late.at("entry"), 1);
    // Show time 5: the clip has ended; only the mask outline remains.
    EXPECT_EQ(late.at("samples").size(), 38u + 240u);
}

class PngPicture {
public:
    explicit PngPicture(const fs::path& file)
        : surface(cairo_image_surface_create_from_png(file.c_str()), cairo_surface_destroy) {}
    [[nodiscard]] bool ok() const {
        return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS;
    }
    // Channels of the brightest pixel within one pixel of (x, y).
    [[nodiscard]] std::array<int, 3> near(int x, int y) const {
        std::array<int, 3> best{0, 0, 0};
        for (int j = y - 1; j <= y + 1; ++j) {
            for (int i = x - 1; i <= x + 1; ++i) {
                const unsigned char* row = cairo_image_surface_get_data(surface.get()) +
                                           j * cairo_image_surface_get_stride(surface.get());
                std::uint32_t v = 0;
                std::memcpy(&v, row + 4 * i, 4);
                const std::array<int, 3> p{static_cast<int>((v >> 16) & 0xFF),
                                           static_cast<int>((v >> 8) & 0xFF),
                                           static_cast<int>(v & 0xFF)};
                if (p[0] + p[1] + p[2] > best[0] + best[1] + best[2]) {
                    best = p;
                }
            }
        }
        return best;
    }

private:
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface;
};

TEST_F(RenderedShow, PngShowsTheDrawingUnmirroredInPreviewColours) {
    const ProcessResult r = lumarok({"--render", "1", "--out", "frame.png", "-i", "5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const PngPicture picture(dir.path() / "frame.png");
    ASSERT_TRUE(picture.ok());
    // Top edge of the rectangle: drawing y 810.97 -> pixel row 202.7; x 400 is inside.
    const auto top = picture.near(400, 202);
    EXPECT_EQ(top[0] + top[1], 0);
    EXPECT_GE(top[2], 250) << "the preview shows full blue regardless of -i";
    // Left edge: drawing x 819 -> pixel column 204.75.
    EXPECT_GE(picture.near(205, 400)[2], 250);
    // The mirrored place, the centre and the blank move from the corner stay black.
    const auto mirrored = picture.near(1024 - 400, 1024 - 202);
    EXPECT_EQ(mirrored[0] + mirrored[1] + mirrored[2], 0);
    const auto centre = picture.near(512, 512);
    EXPECT_EQ(centre[0] + centre[1] + centre[2], 0);
    const auto blank = picture.near(100, 99);
    EXPECT_EQ(blank[0] + blank[1] + blank[2], 0);
}

TEST_F(RenderedShow, SvgDrawsOneLineBetweenEachPairOfLitSamples) {
    const ProcessResult r = lumarok({"--render", "1", "--out", "frame.svg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string svg = readFile(dir.path() / "frame.svg");
    std::size_t lines = 0;
    std::size_t blue = 0;
    for (auto at = svg.find("<line "); at != std::string::npos; at = svg.find("<line ", at + 1)) {
        ++lines;
        blue += svg.compare(svg.find("stroke=", at), 16, "stroke=\"#0000ff\"") == 0 ? 1 : 0;
    }
    // 240 drawn samples make 239 segments; the blank move's last sample sits on the
    // first drawn one, so the dark-to-blue step has no length.
    EXPECT_EQ(lines, 239u);
    EXPECT_EQ(blue, 239u);
}

TEST_F(RenderedShow, ShowFolderIsFoundOrNamedInOneErrorLine) {
    // --show from anywhere plays that show.
    fs::rename(dir.path() / "data", dir.path() / "elsewhere");
    fs::create_directory(dir.path() / "cwd");
    ProcessOptions options;
    options.workingDirectory = dir.path() / "cwd";
    const ProcessResult played = runProcess(
        test::programPath("lumarok"),
        {"--show", (dir.path() / "elsewhere").string(), "--render", "3", "--out", "f.json"},
        options);
    EXPECT_EQ(played.exitCode, 0) << played.err;
    EXPECT_FALSE(nlohmann::json::parse(readFile(dir.path() / "cwd/f.json")).at("samples").empty());

    // Installed: <prefix>/bin/lumarok finds <prefix>/share/lumarok/demo.
    fs::create_directories(dir.path() / "prefix/bin");
    fs::create_directories(dir.path() / "prefix/share/lumarok");
    fs::copy_file(test::programPath("lumarok"), dir.path() / "prefix/bin/lumarok");
    fs::copy(dir.path() / "elsewhere", dir.path() / "prefix/share/lumarok/demo");
    const ProcessResult installed = runProcess((dir.path() / "prefix/bin/lumarok").string(),
                                               {"--render", "3", "--out", "i.json"}, options);
    EXPECT_EQ(installed.exitCode, 0) << installed.err;
    EXPECT_EQ(readFile(dir.path() / "cwd/i.json"), readFile(dir.path() / "cwd/f.json"));

    // No ./data and (in the build tree) no installed demo beside the program.
    fs::create_directory(dir.path() / "unreadable");
    fs::create_directory(dir.path() / "unreadable/Sequence.txt");
    fs::create_directory(dir.path() / "empty");
    const struct {
        std::vector<std::string> show;
        std::string named;
    } cases[] = {
        {{}, "./data does not exist"},
        {{"--show", "missing"}, "show folder missing does not exist"},
        {{"--show", "empty"}, "empty/Sequence.txt: No such file"},
        {{"--show", "unreadable"}, "unreadable/Sequence.txt: not a regular file (a directory)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.show;
        args.insert(args.end(), {"--render", "3", "--out", "g.json"});
        const ProcessResult r = lumarok(args);
        expectOneErrorLine(r);
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.path() / "g.json"));
    }
}

TEST_F(RenderedShow, BadRenderRequestsFailBeforeAnythingIsWritten) {
    expectOneErrorLine(lumarok({"--render", "1", "--out", "frame.bmp"}));
    const ProcessResult badIntensity = lumarok({"--render", "1", "--out", "f.json", "-i", "x"});
    expectOneErrorLine(badIntensity);
    EXPECT_EQ(badIntensity.err, "lumarok: invalid stof argument\n");
    const ProcessResult unwritable = lumarok({"--render", "1", "--out", "nodir/f.png"});
    expectOneErrorLine(unwritable);
    EXPECT_NE(unwritable.err.find("nodir/f.png"), std::string::npos) << unwritable.err;
    EXPECT_FALSE(fs::exists(dir.path() / "frame.bmp"));
    EXPECT_FALSE(fs::exists(dir.path() / "f.json"));
}

TEST_F(RenderedShow, ClipBeyondItsSceneStillPlays) {
    // The scene holds frames 0..99; the second clip asks for 95..104. The frames that
    // do not exist draw nothing; the show itself goes on.
    writeFile(dir.path() / "data/Sequence.txt",
              "0 ('anim', {'name': '1F-0', 'from': 0, 'to': 9})\n"
              "500 ('anim', {'name': '1F-0', 'from': 95, 'to': 104})\n");
    for (const char* clock : {"0.2", "1.2", "1.9"}) {
        const ProcessResult r = lumarok({"--render", clock, "--out", "f.json"});
        EXPECT_EQ(r.exitCode, 0) << clock << ": " << r.err;
        EXPECT_TRUE(fs::exists(dir.path() / "f.json")) << clock;
    }
}

TEST_F(RenderedShow, PreviewWithoutDisplaySaysSoInsteadOfAborting) {
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.environment["DISPLAY"] = std::nullopt;
    const ProcessResult r = runProcess(test::programPath("lumarok"), {"-osc"}, options);
    EXPECT_EQ(r.err, "lumarok: no display (DISPLAY is not set); use xvfb-run or --render\n");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.signal, 0);
}

TEST_F(RenderedShow, UnusableCommandLinesExitTwoWithOneLineAndTheHint) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus", "-laser"},
                                                 {"-laser", "--render=5"},
                                                 {"--laser", "--render", "1", "--out", "a.png"},
                                                 {"-laser", "-i"}}) {
        const ProcessResult r = lumarok(args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find("try 'lumarok --help'"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST_F(RenderedShow, HelpAndVersionPrintAndSucceed) {
    const ProcessResult help = lumarok({"--help", "-laser"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: lumarok"), std::string::npos);
    EXPECT_NE(help.out.find("--render"), std::string::npos);
    const ProcessResult version = lumarok({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("lumarok ", 0), 0u);
}

} // namespace
} // namespace lumarok
