// Opens the preview window with a fixed sample list instead of the show, so
// that what the window shows can be checked pixel by pixel.
//
//   lumarok-preview-probe [--scene NAME] [--samples N] [--seconds S] [--stats] [X options]
//
// Scenes: shapes (default; see below), empty, single, dense (N samples along a
// coloured spiral, for measuring), throw (fails on the third frame).
// --seconds S leaves the event loop after S seconds; --stats prints the frame rate on exit.
#include "core/laser_sample.hpp"
#include "preview/preview_window.hpp"

#include <GL/freeglut.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using lumarok::LaserSample;

constexpr int kMaxLevel = 4095;

// Samples are given in drawing space here and mirrored as the path builder
// does, so the window must show them where they are written.
LaserSample at(int x, int y, int r, int g, int b) {
    return LaserSample{static_cast<std::uint16_t>(kMaxLevel - x),
                       static_cast<std::uint16_t>(kMaxLevel - y), static_cast<std::uint16_t>(r),
                       static_cast<std::uint16_t>(g), static_cast<std::uint16_t>(b)};
}

// Window pixels are drawing units / 4 in the 1024 x 1024 window.
//  - full blue square, corners (512, 512) and (1536, 1536)
//  - black blank move through the square's inside to (2048, 2048)
//  - full green diagonal (2048, 2048) to (3584, 3584)
//  - half red line at y 3072 drawn there and back (additive: full red)
//  - half red line at y 3400 drawn once
//  - blue level 1024 line at y 3800 (shown at half blue: blue counts double)
std::vector<LaserSample> shapes() {
    const int full = kMaxLevel;
    const int half = 2048;
    return {
        at(512, 512, 0, 0, full),   at(1536, 512, 0, 0, full),  at(1536, 1536, 0, 0, full),
        at(512, 1536, 0, 0, full),  at(512, 512, 0, 0, full),   at(512, 512, 0, 0, 0),
        at(2048, 2048, 0, 0, 0),    at(2048, 2048, 0, full, 0), at(3584, 3584, 0, full, 0),
        at(3584, 3584, 0, 0, 0),    at(2048, 3072, 0, 0, 0),    at(2048, 3072, half, 0, 0),
        at(3584, 3072, half, 0, 0), at(2048, 3072, half, 0, 0), at(2048, 3072, 0, 0, 0),
        at(2048, 3400, 0, 0, 0),    at(2048, 3400, half, 0, 0), at(3584, 3400, half, 0, 0),
        at(3584, 3400, 0, 0, 0),    at(2048, 3800, 0, 0, 0),    at(2048, 3800, 0, 0, 1024),
        at(3584, 3800, 0, 0, 1024), at(3584, 3800, 0, 0, 0),
    };
}

// A spiral traced at the show's spacing of 25 drawing units between samples,
// with slowly changing colours: the cost of a busy show frame.
std::vector<LaserSample> dense(int count) {
    constexpr float kSpacing = 25.0f;
    constexpr float kInner = 300.0f;
    constexpr float kOuter = 1900.0f;
    std::vector<LaserSample> samples;
    samples.reserve(static_cast<std::size_t>(count));
    float radius = kInner;
    float angle = 0.0f;
    for (int i = 0; i < count; ++i) {
        const int x = static_cast<int>(2047.0f + radius * std::cos(angle));
        const int y = static_cast<int>(2047.0f + radius * std::sin(angle));
        samples.push_back(at(x, y, (i * 7) % kMaxLevel, (i * 11) % kMaxLevel, (i * 5) % 2048));
        angle += kSpacing / radius;
        radius += kSpacing * 0.02f;
        if (radius > kOuter) {
            radius = kInner;
        }
    }
    return samples;
}

struct Options {
    std::string scene = "shapes";
    int samples = 2000;
    double seconds = 0.0;
    bool stats = false;        // --stats: the frame count and rate on exit
    std::vector<char*> passOn; // program name and the X options for glutInit
};

Options parse(int argc, char** argv) {
    Options options;
    options.passOn.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--scene" && hasValue) {
            options.scene = argv[++i];
        } else if (arg == "--samples" && hasValue) {
            options.samples = std::stoi(argv[++i]);
        } else if (arg == "--seconds" && hasValue) {
            options.seconds = std::stod(argv[++i]);
        } else if (arg == "--stats") {
            options.stats = true;
        } else {
            options.passOn.push_back(argv[i]);
        }
    }
    options.passOn.push_back(nullptr);
    return options;
}

std::vector<LaserSample> sceneSamples(const Options& options) {
    if (options.scene == "shapes") {
        return shapes();
    }
    if (options.scene == "empty" || options.scene == "throw") {
        return {};
    }
    if (options.scene == "single") {
        return {at(2047, 2047, kMaxLevel, kMaxLevel, kMaxLevel)};
    }
    if (options.scene == "dense") {
        return dense(options.samples);
    }
    throw std::invalid_argument("unknown scene \"" + options.scene + "\"");
}

} // namespace

int main(int argc, char** argv) {
    try {
        Options options = parse(argc, argv);
        const std::vector<LaserSample> scene = sceneSamples(options);
        const bool failing = options.scene == "throw";
        const auto start = std::chrono::steady_clock::now();
        int frame = 0;
        auto render = [&](std::vector<LaserSample>& samples) {
            ++frame;
            if (failing && frame == 3) {
                throw std::runtime_error("probe failure on frame 3");
            }
            if (options.seconds > 0.0 &&
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                    options.seconds) {
                glutLeaveMainLoop();
            }
            samples.assign(scene.begin(), scene.end());
        };
        int passOnCount = static_cast<int>(options.passOn.size()) - 1;
        const int status =
            lumarok::runPreview(passOnCount, options.passOn.data(), render, {}, options.stats);
        std::printf("probe: event loop returned after %d frames\n", frame);
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok: %s\n", error.what());
        return 1;
    }
}
