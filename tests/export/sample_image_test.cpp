#include "export/sample_image.hpp"

#include <cairo/cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace lumarok {
namespace {

struct Pixel {
    int r, g, b;
};

// Reads the written file back through an independent decode.
class PngImage {
public:
    explicit PngImage(const std::filesystem::path& file)
        : surface(cairo_image_surface_create_from_png(file.c_str()), cairo_surface_destroy) {}
    [[nodiscard]] bool ok() const {
        return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS;
    }
    [[nodiscard]] int width() const { return cairo_image_surface_get_width(surface.get()); }
    [[nodiscard]] int height() const { return cairo_image_surface_get_height(surface.get()); }
    [[nodiscard]] Pixel at(int x, int y) const {
        const unsigned char* row = cairo_image_surface_get_data(surface.get()) +
                                   y * cairo_image_surface_get_stride(surface.get());
        std::uint32_t v = 0;
        std::memcpy(&v, row + 4 * x, 4);
        return {static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>(v & 0xFF)};
    }
    // Brightest pixel of a small square, so one-pixel lines are found despite smoothing.
    [[nodiscard]] Pixel brightestNear(int x, int y, int radius = 1) const {
        Pixel best{0, 0, 0};
        for (int j = y - radius; j <= y + radius; ++j) {
            for (int i = x - radius; i <= x + radius; ++i) {
                const Pixel p = at(i, j);
                if (p.r + p.g + p.b > best.r + best.g + best.b) {
                    best = p;
                }
            }
        }
        return best;
    }

private:
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface;
};

class SampleImage : public ::testing::Test {
protected:
    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 ("lumarok_sample_image_" + std::to_string(::getpid()) + ".png");
    void TearDown() override { std::filesystem::remove(file); }
};

LaserSample at(int x, int y, int r, int g, int b) {
    return {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
            static_cast<std::uint16_t>(r), static_cast<std::uint16_t>(g),
            static_cast<std::uint16_t>(b)};
}

TEST_F(SampleImage, EmptyAndSingleSampleListsGiveABlackPicture) {
    for (const std::vector<LaserSample>& samples :
         {std::vector<LaserSample>{}, std::vector<LaserSample>{at(2000, 2000, 4095, 4095, 4095)}}) {
        writePreviewPng(samples, file);
        const PngImage image(file);
        ASSERT_TRUE(image.ok());
        EXPECT_EQ(image.width(), 1024);
        EXPECT_EQ(image.height(), 1024);
        for (int y = 0; y < 1024; y += 7) {
            for (int x = 0; x < 1024; x += 7) {
                const Pixel p = image.at(x, y);
                ASSERT_EQ(p.r + p.g + p.b, 0) << x << "," << y;
            }
        }
    }
}

TEST_F(SampleImage, SegmentsAreUnmirroredAndColouredLikeThePreview) {
    // Samples near projector x = 4095 are drawn near the left edge; y likewise.
    // White segment along projector y = 3071 (drawing y 1024, pixel row 256),
    // from projector x 3583 to 2047 (drawing x 512 .. 2048, pixels 128 .. 512).
    const std::vector<LaserSample> samples{at(3583, 3071, 4095, 4095, 4095),
                                           at(2047, 3071, 4095, 4095, 4095)};
    writePreviewPng(samples, file);
    const PngImage image(file);
    ASSERT_TRUE(image.ok());
    const Pixel onLine = image.brightestNear(300, 256);
    EXPECT_GT(onLine.r, 200);
    EXPECT_GT(onLine.g, 200);
    EXPECT_GT(onLine.b, 200);
    // The mirrored place (projector coordinates taken as pixels) stays dark.
    const Pixel mirrored = image.brightestNear(1024 - 300, 1024 - 256, 3);
    EXPECT_EQ(mirrored.r + mirrored.g + mirrored.b, 0);
    EXPECT_EQ(image.brightestNear(600, 256, 2).b, 0); // the line ends at pixel 512
}

TEST_F(SampleImage, BlueShowsAtTwiceItsLevelAndBlankMovesLeaveNoTrace) {
    const std::vector<LaserSample> samples{
        at(4095, 2047, 0, 0, 1024), at(2047, 2047, 0, 0, 1024), // blue 1024: about half
        at(2047, 1023, 0, 0, 0),    at(4095, 1023, 0, 0, 0),    // blank move: black
        at(4095, 3071, 0, 0, 3000), at(2047, 3071, 0, 0, 3000), // blue above 2047: full
    };
    writePreviewPng(samples, file);
    const PngImage image(file);
    ASSERT_TRUE(image.ok());
    const Pixel half = image.brightestNear(256, 512);
    EXPECT_NEAR(half.b, 128, 12);
    EXPECT_EQ(half.r + half.g, 0);
    const Pixel full = image.brightestNear(256, 256);
    EXPECT_GE(full.b, 250);
    const Pixel blank = image.brightestNear(256, 768, 3);
    EXPECT_EQ(blank.r + blank.g + blank.b, 0);
}

TEST_F(SampleImage, OverlappingSegmentsAddUp) {
    // Red and green over the same stretch make yellow.
    const std::vector<LaserSample> samples{at(3583, 2047, 4095, 0, 0), at(2047, 2047, 4095, 0, 0),
                                           at(2047, 2047, 0, 4095, 0), at(3583, 2047, 0, 4095, 0)};
    writePreviewPng(samples, file);
    const PngImage image(file);
    ASSERT_TRUE(image.ok());
    const Pixel p = image.brightestNear(300, 512);
    EXPECT_GT(p.r, 200);
    EXPECT_GT(p.g, 200);
    EXPECT_EQ(p.b, 0);
}

TEST_F(SampleImage, UnwritablePathNamesTheFile) {
    const std::filesystem::path bad = "/nonexistent-dir/picture.png";
    try {
        writePreviewPng({}, bad);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
    }
}

TEST(SampleSvg, DrawsLitSegmentsOnlyInDrawingSpace) {
    const std::vector<LaserSample> samples{
        at(4095, 4095, 0, 0, 0),    // blank start
        at(3095, 4095, 0, 0, 0),    // blank segment: left out
        at(2095, 4095, 4095, 0, 0), // black-to-red: a gradient
        at(2095, 2095, 4095, 0, 0), // solid red segment
    };
    const std::string svg = previewSvg(samples);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("viewBox=\"0 0 4096 4096\""), std::string::npos);
    EXPECT_NE(svg.find("width=\"1024\""), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t at = svg.find("<line "); at != std::string::npos;
         at = svg.find("<line ", at + 1)) {
        ++lines;
    }
    // The blank pair adds nothing; the two lit segments remain.
    EXPECT_EQ(lines, 2u);
    EXPECT_NE(svg.find("<line x1=\"2000\" y1=\"0\" x2=\"2000\" y2=\"2000\" stroke=\"#ff0000\"/>"),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find("stop-color=\"#000000\""), std::string::npos);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

} // namespace
} // namespace lumarok
