#include "export/sample_image.hpp"

#include <cairo/cairo.h>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace lumarok {

namespace {

constexpr double kPixelsPerUnit = kPreviewImageSize / 4096.0;

// Drawing-space position of a sample: the path builder mirrored both axes.
glm::vec2 previewPosition(const LaserSample& s) {
    return {4095.0f - static_cast<float>(s.x), 4095.0f - static_cast<float>(s.y)};
}

// Display colour, 0..1 per channel. Blue shows at twice its level and saturates,
// as the window's colour clamp does.
glm::vec3 previewColor(const LaserSample& s) {
    const glm::vec3 c{static_cast<float>(s.r) / 4095.0f, static_cast<float>(s.g) / 4095.0f,
                      2.0f * static_cast<float>(s.b) / 4095.0f};
    return {std::min(c.r, 1.0f), std::min(c.g, 1.0f), std::min(c.b, 1.0f)};
}

bool isBlack(glm::vec3 c) {
    return c.r <= 0.0f && c.g <= 0.0f && c.b <= 0.0f;
}

// Calls visit(from, to, fromColor, toColor) for every segment that can add light.
template <typename Visit>
void forEachLitSegment(const std::vector<LaserSample>& samples, Visit&& visit) {
    for (std::size_t i = 0; i + 1 < samples.size(); ++i) {
        const glm::vec3 c0 = previewColor(samples[i]);
        const glm::vec3 c1 = previewColor(samples[i + 1]);
        const glm::vec2 p0 = previewPosition(samples[i]);
        const glm::vec2 p1 = previewPosition(samples[i + 1]);
        // Additive blending: a black segment adds nothing, a point-sized one shows nothing.
        if ((isBlack(c0) && isBlack(c1)) || p0 == p1) {
            continue;
        }
        visit(p0, p1, c0, c1);
    }
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct PatternDeleter {
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};

} // namespace

void writePreviewPng(const std::vector<LaserSample>& samples, const std::filesystem::path& file) {
    const std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kPreviewImageSize, kPreviewImageSize));
    const std::unique_ptr<cairo_t, ContextDeleter> cr(cairo_create(surface.get()));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error("cannot create an image for " + file.string());
    }
    cairo_set_source_rgb(cr.get(), 0.0, 0.0, 0.0);
    cairo_paint(cr.get());

    cairo_scale(cr.get(), kPixelsPerUnit, kPixelsPerUnit);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_ADD);
    cairo_set_line_width(cr.get(), 1.0 / kPixelsPerUnit); // one pixel, like the window's lines
    cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_BUTT);
    // Hard-edged lines at full level, as the window's unsmoothed lines are drawn.
    cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_NONE);
    forEachLitSegment(samples, [&](glm::vec2 p0, glm::vec2 p1, glm::vec3 c0, glm::vec3 c1) {
        cairo_move_to(cr.get(), p0.x, p0.y);
        cairo_line_to(cr.get(), p1.x, p1.y);
        if (c0 == c1) {
            cairo_set_source_rgb(cr.get(), c0.r, c0.g, c0.b);
            cairo_stroke(cr.get());
            return;
        }
        // Colours run along the segment as the window interpolates them per vertex.
        const std::unique_ptr<cairo_pattern_t, PatternDeleter> gradient(
            cairo_pattern_create_linear(p0.x, p0.y, p1.x, p1.y));
        cairo_pattern_add_color_stop_rgb(gradient.get(), 0.0, c0.r, c0.g, c0.b);
        cairo_pattern_add_color_stop_rgb(gradient.get(), 1.0, c1.r, c1.g, c1.b);
        cairo_set_source(cr.get(), gradient.get());
        cairo_stroke(cr.get());
    });
    cairo_surface_flush(surface.get());
    const cairo_status_t status = cairo_surface_write_to_png(surface.get(), file.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error("cannot write " + file.string() + ": " +
                                 cairo_status_to_string(status));
    }
}

namespace {

std::string hexColor(glm::vec3 c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<unsigned>(std::lround(c.r * 255)),
                  static_cast<unsigned>(std::lround(c.g * 255)),
                  static_cast<unsigned>(std::lround(c.b * 255)));
    return text;
}

std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    return text;
}

} // namespace

std::string previewSvg(const std::vector<LaserSample>& samples) {
    std::string gradients;
    std::string lines;
    int gradientCount = 0;
    forEachLitSegment(samples, [&](glm::vec2 p0, glm::vec2 p1, glm::vec3 c0, glm::vec3 c1) {
        std::string stroke;
        if (c0 == c1) {
            stroke = hexColor(c0);
        } else {
            // Appended rather than "g" + to_string(...): GCC 12 at -O3 misreads that
            // operator+ as an overlapping copy (-Wrestrict).
            std::string id = "g";
            id += std::to_string(gradientCount++);
            gradients +=
                "<linearGradient id=\"" + id + "\" gradientUnits=\"userSpaceOnUse\" x1=\"" +
                number(p0.x) + "\" y1=\"" + number(p0.y) + "\" x2=\"" + number(p1.x) + "\" y2=\"" +
                number(p1.y) + "\"><stop offset=\"0\" stop-color=\"" + hexColor(c0) +
                "\"/><stop offset=\"1\" stop-color=\"" + hexColor(c1) + "\"/></linearGradient>\n";
            stroke = "url(#" + id + ")";
        }
        lines += "<line x1=\"" + number(p0.x) + "\" y1=\"" + number(p0.y) + "\" x2=\"" +
                 number(p1.x) + "\" y2=\"" + number(p1.y) + "\" stroke=\"" + stroke + "\"/>\n";
    });
    const std::string size = std::to_string(kPreviewImageSize);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      size + "\" height=\"" + size + "\" viewBox=\"0 0 4096 4096\">\n";
    svg += "<style>line{mix-blend-mode:plus-lighter}</style>\n";
    if (!gradients.empty()) {
        svg += "<defs>\n" + gradients + "</defs>\n";
    }
    svg += "<rect width=\"4096\" height=\"4096\" fill=\"#000000\"/>\n";
    svg += "<g fill=\"none\" stroke-width=\"4\" stroke-linecap=\"butt\">\n" + lines + "</g>\n";
    svg += "</svg>\n";
    return svg;
}

} // namespace lumarok
