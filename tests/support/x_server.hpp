#pragma once

#include "support/child_process.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lumarok::test {

// A private Xvfb server (1280 x 1024, 24 bit, no TCP) on a display number it
// picks itself. The root shows the old black-and-white weave, so any part of
// a window that was never cleared stands out from black. Stopped by its pid.
class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Empty when the server is up; otherwise why it could not start.
    const std::string& failure() const { return failure_; }
    const std::string& display() const { return display_; } // ":N"

private:
    std::unique_ptr<ChildProcess> server_;
    std::string display_;
    std::string failure_;
};

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

// The whole screen as the X server holds it.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    Rgb at(int x, int y) const;
    // Channel-wise maximum over the square of the given radius around (x, y):
    // a one-pixel line may land on either side of a pixel border.
    Rgb brightestAround(int x, int y, int radius) const;
    // Pixels in [x0, x1) x [y0, y1) that are not pure black.
    int litPixels(int x0, int y0, int x1, int y1) const;
};

// Takes a screenshot with ImageMagick's `import`; throws when that fails.
Screenshot takeScreenshot(const std::string& display);

} // namespace lumarok::test
