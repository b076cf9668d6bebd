#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <span>
#include <string>
#include <thread>

struct pa_mainloop;

namespace lumarok {

// Records one audio server source as mono 32-bit float on a thread of its own (which
// blocks in poll between chunks) and hands every chunk to a consumer on that thread.
// Unlike AudioCapture it is for signals, not for drawing: nothing is kept, and a
// source that cannot be recorded is an error at construction.
class MonoCapture {
public:
    // Thread: capture. Frames the server marks as a hole arrive as zeros.
    using Consumer = std::function<void(std::span<const float> samples)>;

    // sourceName: empty means the server's default input. Thread: main. Returns once
    // the recording runs; throws std::runtime_error with the server's reason when it
    // cannot be started (or has not started within 5 s).
    MonoCapture(std::string sourceName, std::uint32_t sampleRateHz, Consumer consumer,
                const char* threadName);
    // Thread: main. Wakes the capture thread's poll and joins it.
    ~MonoCapture();
    MonoCapture(const MonoCapture&) = delete;
    MonoCapture& operator=(const MonoCapture&) = delete;

    // Thread: any. Whether the server records for us now (false while reconnecting).
    [[nodiscard]] bool recording() const { return isRecording.load(); }
    // The source as named to the server ("@DEFAULT_SOURCE@" for the default).
    [[nodiscard]] const std::string& sourceLabel() const { return label; }

private:
    void captureLoop(std::promise<void> started);

    const std::string label;
    const std::uint32_t sampleRateHz;
    const Consumer consumer;
    const std::string threadName;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> isRecording{false};
    // Published by the capture thread while its loop exists, so the destructor can wake it.
    pa_mainloop* loop = nullptr;
    std::mutex loopMutex;
    std::thread captureThread;
};

} // namespace lumarok
