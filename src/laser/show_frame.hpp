#pragma once

#include "core/laser_sample.hpp"
#include "core/remap_table.hpp"
#include "show/show_timeline.hpp"

#include <glm/vec2.hpp>

#include <cstddef>
#include <vector>

namespace lumarok {

class Animation;

// The read-only inputs of one frame.
struct ShowSources {
    const Animation& animation;
    const RemapTable& remapTable;
    const ShowTimeline& timeline;
};

// The animation sampled at the show time and drawn by the entry the timeline selects.
[[nodiscard]] ColorFrame renderShowFrame(const ShowSources& sources, double showTime);

// The working frames of one rendering loop. Kept from frame to frame, they stop
// allocating once they have grown to the largest frame of the show.
// The loop owns them, with the pools and working buffers the stages fill; one thread
// at a time renders with them.
struct ShowFrameBuffers {
    Frame animation;                // the sampled animation
    ColorFrame drawn;               // the entry's effect over it
    EffectStorage storage;          // the polyline pools and the effects' working frames
    std::vector<float> pathLengths; // the laser path's measures of the drawn frame
    bool prepared = false;          // prepareFrameStorage has run for this loop
};

// Readies a loop's polyline pools for the show before its first frame: polyline
// storage for as many polylines as the show's working frames can hold at once, each
// with room for the longest stroke an effect draws. Frames that reach a size no
// earlier frame had then find their storage made already. The loops' form of
// renderShowFrame calls it on their first frame.
void prepareFrameStorage(const Animation& animation, FramePools& pools);
// The same as above into the buffers; returns buffers.drawn.
const ColorFrame& renderShowFrame(const ShowSources& sources, double showTime,
                                  ShowFrameBuffers& buffers);

// Both paths keep to kFrameSampleBudget samples, widening their steps for a frame
// that would pass it.
// The preview's path: fixed spacing 25, intensity 1. Returns the new beam position.
glm::vec2 buildPreviewPath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                           glm::vec2 beamPosition);

// The laser loop's path: spacing from the frame's total path length; `pointSpacing`
// is the one used.
struct LaserPath {
    glm::vec2 beamPosition;
    float pointSpacing;
};
// `lengths`: the measuring buffer, kept by a loop from frame to frame.
LaserPath buildLaserFramePath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                              glm::vec2 beamPosition, float intensity, std::vector<float>& lengths);
// The same with a buffer of its own, for a single frame.
LaserPath buildLaserFramePath(const ColorFrame& frame, std::vector<LaserSample>& samples,
                              glm::vec2 beamPosition, float intensity);

} // namespace lumarok
