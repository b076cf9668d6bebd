#pragma once

#include <glm/vec2.hpp>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct pa_mainloop;

namespace lumarok {

class PacketAssembler;

// Records what the computer plays (the monitor of an audio server source) on a
// thread of its own and keeps the latest packet of stereo float frames.
//
// Reader contract: a copy is one whole packet of 10 ms (x = first channel,
// y = second), frames the server marks as a hole are (0, 0), the copy is empty
// before the first packet, and its length is that packet's frame count.
// When the server is missing or goes away, the thread prints one line on
// stderr, the readers get silence, and it tries again (100 ms, doubling to 1 s)
// until the server is back. Following the default output (no source named), it
// moves to the new default's monitor when the default output changes.
class AudioCapture {
public:
    // sourceName: the server's source to record; empty means the monitor of the
    // default output. Thread: main. Starts the capture thread; throws
    // std::system_error when the thread cannot be started.
    // announce: say on stderr which source is captured whenever that changes.
    explicit AudioCapture(std::string sourceName = {}, bool announce = true);
    // Thread: main. Stops and joins the capture thread; does not wait on the
    // server, so it returns promptly even when the server has stalled.
    ~AudioCapture();

    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Thread: any. Takes samplesMutex for the copy only.
    [[nodiscard]] std::vector<glm::vec2> copySamples() const;
    // The same into `out`, whose storage is kept.
    void copySamples(std::vector<glm::vec2>& out) const;
    // Thread: any. The source being captured, "connecting", or "none: <why>".
    [[nodiscard]] std::string sourceText() const;

    // The name the capture thread gives itself, so tools can find it in /proc.
    static constexpr const char* kThreadName = "lumarok-audio";

private:
    // How one connection ended.
    struct SessionEnd {
        std::string failure;
        std::string defaultChangedTo;
        bool streamed = false;
    };

    void captureLoop();
    // Thread: capture. One connection, until stopped, failed or the default moved.
    SessionEnd captureUntilStopped();
    // Thread: capture. Under samplesMutex; `silence` zeroes the packet readers see.
    void setStatus(std::string text, bool silence);
    // Thread: capture. Replaces samples with the assembler's newest packet under
    // samplesMutex.
    void storePacket(PacketAssembler& assembler);

    // Written by the destructor (main), read by the capture thread each pass.
    std::atomic<bool> stopRequested{false};
    // Started by the constructor, joined by the destructor; both on main.
    std::thread captureThread;
    // Written by the capture thread, copied by readers; guarded by samplesMutex.
    std::vector<glm::vec2> samples;
    std::string status = "connecting";
    mutable std::mutex samplesMutex;

    // Set before the thread starts, then only read by the capture thread.
    const std::string sourceName;
    const bool announce;
    // The capture thread's main loop while it exists, so that the destructor can
    // interrupt its poll. Guarded by loopMutex: the capture thread publishes and
    // withdraws it, the destructor wakes it.
    pa_mainloop* loop = nullptr;
    std::mutex loopMutex;
    // Wakes the wait between attempts when the destructor asks to stop.
    std::condition_variable retryWake;
};

} // namespace lumarok
