#pragma once

#include <pulse/pulseaudio.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumarok {

// Owners of the audio server's handles, shared by the capture streams.

struct MainloopFree {
    void operator()(pa_mainloop* mainloop) const { pa_mainloop_free(mainloop); }
};

// Callbacks are cleared first: disconnecting reports a state change, and our own
// shutdown is not a failure to report.
struct ContextClose {
    void operator()(pa_context* context) const {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};

struct StreamClose {
    void operator()(pa_stream* stream) const {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_moved_callback(stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            pa_stream_disconnect(stream);
        }
        pa_stream_unref(stream);
    }
};

using PulseMainloop = std::unique_ptr<pa_mainloop, MainloopFree>;
using PulseContext = std::unique_ptr<pa_context, ContextClose>;
using PulseStream = std::unique_ptr<pa_stream, StreamClose>;

// Hands every fragment queued on a recording stream to `take(data, byteCount)` and drops
// it; `data` is null for a hole (silence of that size). False when the server refused.
template <typename Take> bool drainRecording(pa_stream* stream, Take&& take) {
    for (;;) {
        const void* data = nullptr;
        std::size_t byteCount = 0;
        if (pa_stream_peek(stream, &data, &byteCount) < 0) {
            return false;
        }
        if (byteCount == 0) {
            return true;
        }
        take(data, byteCount);
        pa_stream_drop(stream);
    }
}

// Recording buffer attributes: the server's defaults, except that data is delivered
// in fragments of `fragment` so a reader hears the sound that recently.
inline pa_buffer_attr recordingBuffer(pa_usec_t fragment, const pa_sample_spec& format) {
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragment, &format));
    return attr;
}

} // namespace lumarok
