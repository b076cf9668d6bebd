#include "support/x_server.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace lumarok::test {

namespace {

// Reads the display number that Xvfb writes to -displayfd once it accepts
// connections; empty on timeout or when the server ends first.
std::string readDisplayNumber(int fd, ChildProcess& server) {
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline && server.running()) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, 100) <= 0) {
            continue;
        }
        char buffer[32];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        number.append(buffer, static_cast<std::size_t>(got));
        if (number.find('\n') != std::string::npos) {
            number.erase(number.find('\n'));
            return number;
        }
    }
    return {};
}

} // namespace

XServer::XServer() {
    if (!onPath("Xvfb")) {
        failure_ = "Xvfb is not installed";
        return;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = std::string("pipe failed: ") + std::strerror(errno);
        return;
    }
    ChildOptions options;
    options.argv = {"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]),
                    "-screen",       "0",          "1280x1024x24",
                    "-nolisten",     "tcp",        "-retro"};
    options.inheritFd = fds[1];
    server_ = std::make_unique<ChildProcess>(options);
    close(fds[1]);
    const std::string number = readDisplayNumber(fds[0], *server_);
    close(fds[0]);
    if (number.empty()) {
        failure_ = "Xvfb did not start: " + server_->stderrText();
        server_.reset();
        return;
    }
    display_ = ":" + number;
}

XServer::~XServer() = default;

Rgb Screenshot::at(int x, int y) const {
    const std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                               static_cast<std::size_t>(x));
    return Rgb{rgb.at(i), rgb.at(i + 1), rgb.at(i + 2)};
}

Rgb Screenshot::brightestAround(int x, int y, int radius) const {
    Rgb best;
    for (int yy = std::max(0, y - radius); yy <= std::min(height - 1, y + radius); ++yy) {
        for (int xx = std::max(0, x - radius); xx <= std::min(width - 1, x + radius); ++xx) {
            const Rgb p = at(xx, yy);
            best = Rgb{std::max(best.r, p.r), std::max(best.g, p.g), std::max(best.b, p.b)};
        }
    }
    return best;
}

int Screenshot::litPixels(int x0, int y0, int x1, int y1) const {
    int count = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const Rgb p = at(x, y);
            count += (p.r | p.g | p.b) != 0 ? 1 : 0;
        }
    }
    return count;
}

Screenshot takeScreenshot(const std::string& display) {
    ChildOptions options;
    options.argv = {"/usr/bin/import", "-display", display, "-window", "root",
                    "-depth",          "8",        "ppm:-"};
    std::string ppm;
    const int status = runToEnd(options, std::chrono::seconds(30), &ppm);
    if (status != 0) {
        throw std::runtime_error("import failed with status " + std::to_string(status));
    }
    // Binary PPM: "P6", width, height, maximum value, one white space, then the pixels.
    std::istringstream header(ppm);
    std::string magic;
    int maxValue = 0;
    Screenshot shot;
    header >> magic >> shot.width >> shot.height >> maxValue;
    if (magic != "P6" || maxValue != 255 || shot.width <= 0 || shot.height <= 0) {
        throw std::runtime_error("import gave no 8-bit PPM image");
    }
    const auto offset = static_cast<std::size_t>(header.tellg()) + 1;
    const std::size_t size =
        3 * static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height);
    if (ppm.size() < offset + size) {
        throw std::runtime_error("import gave a truncated image");
    }
    shot.rgb.assign(ppm.begin() + static_cast<std::ptrdiff_t>(offset),
                    ppm.begin() + static_cast<std::ptrdiff_t>(offset + size));
    return shot;
}

} // namespace lumarok::test
