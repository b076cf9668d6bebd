#include "frame_picture.hpp"

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace lumarok::cube {

namespace {

constexpr double kSpace = 4095.0;
constexpr int kPngSize = 1024;

struct Segment {
    double x0, y0, x1, y1;
    double r, g, b; // 0..1
};

std::vector<Segment> segmentsOf(const std::vector<LaserSample>& samples) {
    std::uint16_t brightest = 1;
    for (const LaserSample& s : samples) {
        brightest = std::max({brightest, s.r, s.g, s.b});
    }
    std::vector<Segment> segments;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const LaserSample& a = samples[i - 1];
        const LaserSample& b = samples[i];
        if (b.r == 0 && b.g == 0 && b.b == 0) {
            continue;
        }
        segments.push_back(Segment{kSpace - a.x, kSpace - a.y, kSpace - b.x, kSpace - b.y,
                                   static_cast<double>(b.r) / brightest,
                                   static_cast<double>(b.g) / brightest,
                                   static_cast<double>(b.b) / brightest});
    }
    return segments;
}

void writeSvg(const std::vector<Segment>& segments, const std::string& path) {
    std::ofstream out(path);
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 4096 4096\" "
           "width=\"1024\" height=\"1024\">\n<rect width=\"4096\" height=\"4096\" "
           "fill=\"black\"/>\n<g stroke-width=\"8\" stroke-linecap=\"round\">\n";
    char line[160];
    for (const Segment& s : segments) {
        std::snprintf(line, sizeof line,
                      "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" "
                      "stroke=\"rgb(%d,%d,%d)\"/>\n",
                      s.x0, s.y0, s.x1, s.y1, static_cast<int>(s.r * 255),
                      static_cast<int>(s.g * 255), static_cast<int>(s.b * 255));
        out << line;
    }
    out << "</g>\n</svg>\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

void writePng(const std::vector<Segment>& segments, const std::string& path) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPngSize, kPngSize);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_scale(cr, kPngSize / 4096.0, kPngSize / 4096.0);
    cairo_set_line_width(cr, 8.0);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (const Segment& s : segments) {
        cairo_set_source_rgb(cr, s.r, s.g, s.b);
        cairo_move_to(cr, s.x0, s.y0);
        cairo_line_to(cr, s.x1, s.y1);
        cairo_stroke(cr);
    }
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error("cannot write " + path + ": " + cairo_status_to_string(status));
    }
}

} // namespace

void writeFramePicture(const std::vector<LaserSample>& samples, const std::string& path) {
    const std::vector<Segment> segments = segmentsOf(samples);
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".png") == 0) {
        writePng(segments, path);
    } else {
        writeSvg(segments, path);
    }
}

} // namespace lumarok::cube
