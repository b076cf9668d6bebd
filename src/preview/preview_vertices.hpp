#pragma once

#include "core/laser_sample.hpp"

#include <vector>

namespace lumarok {

// One line end as the preview hands it to OpenGL: position in drawing space
// (0..4095, y down) and colour, each channel 0..1 before OpenGL clamps it.
struct PreviewVertex {
    float x = 0.0f;
    float y = 0.0f;
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
};

// Undoes the projector mirroring and scales the 12-bit levels; blue counts double.
PreviewVertex previewVertex(const LaserSample& sample);

// One segment per consecutive pair of samples, two vertices each, so the
// window traces the beam's path (blank moves give black segments). Empties
// `vertices` first and keeps its storage for the next frame.
void buildPreviewSegments(const std::vector<LaserSample>& samples,
                          std::vector<PreviewVertex>& vertices);

} // namespace lumarok
