#include "audio/audio_capture.hpp"

#include "audio/audio_packet.hpp"
#include "audio/pulse_handles.hpp"

#include <pthread.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>

namespace lumarok {
namespace {

// The server converts whatever it plays into this format for us: 32-bit float
// stereo, 48 kHz. Readers get packets of exactly 10 ms (480 frames), and the
// server is asked to wake us about that often.
constexpr std::uint32_t kSampleRateHz = 48000;
constexpr pa_usec_t kPacketMicroseconds = 10000;
constexpr std::size_t kPacketFrames = kSampleRateHz * kPacketMicroseconds / 1000000;
constexpr const char* kDefaultOutputMonitor = "@DEFAULT_MONITOR@";

// Everything one connection needs; lives on the capture thread's stack and is
// touched only by that thread (the server's callbacks run inside its loop).
struct CaptureSession {
    std::function<void(PacketAssembler&)> onPacket;
    PacketAssembler assembler{kPacketFrames};
    std::string sourceName;
    PulseContext context;
    PulseStream stream;
    std::string failure; // empty while the session is healthy
    // Set when the default output moved elsewhere while we follow it: the session
    // ends and the next one records the new default's monitor.
    std::string defaultChangedTo;
    std::string followedSink; // the default output when the session started
    bool streaming = false;   // the server accepted the recording
    std::function<void(const std::string&)> onStreaming;

    void fail(std::string why) {
        if (failure.empty()) {
            failure = std::move(why);
        }
    }
    std::string contextError() const { return pa_strerror(pa_context_errno(context.get())); }
    std::string sourceLabel() const {
        return sourceName.empty() ? std::string(kDefaultOutputMonitor) : sourceName;
    }
    bool running() const { return failure.empty() && defaultChangedTo.empty(); }
};

// The server calls back through C code, which an exception must never cross:
// whatever goes wrong inside a callback ends the session instead.
template <typename Body> void guarded(CaptureSession& session, Body&& body) noexcept {
    try {
        try {
            body();
        } catch (const std::exception& e) {
            session.fail(e.what());
        } catch (...) {
            session.fail("unknown error");
        }
    } catch (...) {
        session.failure = "out of memory"; // short enough not to allocate
    }
}

void onStreamRead(pa_stream* stream, std::size_t /*bytes*/, void* userdata) {
    auto& session = *static_cast<CaptureSession*>(userdata);
    guarded(session, [&] {
        // A null pointer with a size is a hole: the assembler takes it as silence.
        if (!drainRecording(stream, [&](const void* data, std::size_t byteCount) {
                session.assembler.append(data, byteCount);
            })) {
            session.fail(session.contextError());
            return;
        }
        if (session.assembler.hasPacket()) {
            session.onPacket(session.assembler);
        }
    });
}

void onStreamState(pa_stream* stream, void* userdata) {
    auto& session = *static_cast<CaptureSession*>(userdata);
    guarded(session, [&] {
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY: {
            session.streaming = true;
            const char* device = pa_stream_get_device_name(stream);
            session.onStreaming(device != nullptr ? device : session.sourceLabel());
            break;
        }
        case PA_STREAM_FAILED:
            session.fail(session.contextError() + " (source " + session.sourceLabel() + ")");
            break;
        case PA_STREAM_TERMINATED:
            session.fail("the server closed the recording of " + session.sourceLabel());
            break;
        default:
            break;
        }
    });
}

// The server may move the recording itself (its source went away); say where it went.
void onStreamMoved(pa_stream* stream, void* userdata) {
    auto& session = *static_cast<CaptureSession*>(userdata);
    guarded(session, [&] {
        const char* device = pa_stream_get_device_name(stream);
        session.onStreaming(device != nullptr ? device : session.sourceLabel());
    });
}

void onServerInfo(pa_context* /*context*/, const pa_server_info* info, void* userdata) {
    auto& session = *static_cast<CaptureSession*>(userdata);
    guarded(session, [&] {
        if (info == nullptr || info->default_sink_name == nullptr) {
            return;
        }
        const std::string sink = info->default_sink_name;
        if (session.followedSink.empty()) {
            session.followedSink = sink;
        } else if (sink != session.followedSink) {
            session.defaultChangedTo = sink;
        }
    });
}

void askServerInfo(CaptureSession& session) {
    pa_operation* operation =
        pa_context_get_server_info(session.context.get(), onServerInfo, &session);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

// A change of the server's defaults: compare the default output with the one followed.
void onServerEvent(pa_context* /*context*/, pa_subscription_event_type_t type,
                   std::uint32_t /*index*/, void* userdata) {
    auto& session = *static_cast<CaptureSession*>(userdata);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER) {
        askServerInfo(session);
    }
}

void followDefaultOutput(CaptureSession& session) {
    pa_context_set_subscribe_callback(session.context.get(), onServerEvent, &session);
    pa_operation* operation =
        pa_context_subscribe(session.context.get(), PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
    askServerInfo(session);
}

void openStream(CaptureSession& session) {
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_FLOAT32NE;
    sampleFormat.rate = kSampleRateHz;
    sampleFormat.channels = 2;
    pa_channel_map map{};
    pa_channel_map_init_stereo(&map);

    pa_stream* stream = pa_stream_new(session.context.get(), "loopback", &sampleFormat, &map);
    if (stream == nullptr) {
        session.fail(session.contextError());
        return;
    }
    session.stream.reset(stream);
    pa_stream_set_state_callback(stream, onStreamState, &session);
    pa_stream_set_read_callback(stream, onStreamRead, &session);
    pa_stream_set_moved_callback(stream, onStreamMoved, &session);

    const pa_buffer_attr attr = recordingBuffer(kPacketMicroseconds, sampleFormat);
    const std::string source = session.sourceLabel();
    // A named source is the user's choice: the server must not move it to its new default.
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | (session.sourceName.empty() ? 0 : PA_STREAM_DONT_MOVE));
    if (pa_stream_connect_record(stream, source.c_str(), &attr, flags) < 0) {
        session.fail(session.contextError() + " (source " + source + ")");
    }
}

void onContextState(pa_context* context, void* userdata) {
    auto& session = *static_cast<CaptureSession*>(userdata);
    guarded(session, [&] {
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            if (session.sourceName.empty()) {
                followDefaultOutput(session);
            }
            openStream(session);
            break;
        case PA_CONTEXT_FAILED:
            session.fail(session.contextError());
            break;
        case PA_CONTEXT_TERMINATED:
            session.fail("the connection to the audio server was closed");
            break;
        default:
            break;
        }
    });
}

// Makes the capture thread's main loop visible to the destructor while it exists.
class PublishedLoop {
public:
    PublishedLoop(std::mutex& mutex_, pa_mainloop*& slot_, pa_mainloop* mainloop)
        : mutex(mutex_), slot(slot_) {
        const std::lock_guard lock(mutex);
        slot = mainloop;
    }
    ~PublishedLoop() {
        const std::lock_guard lock(mutex);
        slot = nullptr;
    }
    PublishedLoop(const PublishedLoop&) = delete;
    PublishedLoop& operator=(const PublishedLoop&) = delete;

private:
    std::mutex& mutex;
    pa_mainloop*& slot;
};

} // namespace

AudioCapture::AudioCapture(std::string sourceName_, bool announce_)
    : sourceName(std::move(sourceName_)), announce(announce_) {
    // samples and samplesMutex exist before the thread starts.
    captureThread = std::thread(&AudioCapture::captureLoop, this);
}

AudioCapture::~AudioCapture() {
    {
        const std::lock_guard lock(loopMutex);
        stopRequested.store(true);
        // The capture thread may be blocked in poll waiting for the server, or
        // waiting to try again; waking it makes it see the stop request at once.
        if (loop != nullptr) {
            pa_mainloop_wakeup(loop);
        }
    }
    retryWake.notify_all();
    if (captureThread.joinable()) {
        captureThread.join();
    }
}

std::vector<glm::vec2> AudioCapture::copySamples() const {
    const std::lock_guard lock(samplesMutex);
    return samples;
}

std::string AudioCapture::sourceText() const {
    const std::lock_guard lock(samplesMutex);
    return status;
}

void AudioCapture::copySamples(std::vector<glm::vec2>& out) const {
    const std::lock_guard lock(samplesMutex);
    out.assign(samples.begin(), samples.end());
}

void AudioCapture::storePacket(PacketAssembler& assembler) {
    const std::lock_guard lock(samplesMutex);
    assembler.takeNewest(samples);
}

void AudioCapture::setStatus(std::string text, bool silence) {
    const std::lock_guard lock(samplesMutex);
    status = std::move(text);
    if (silence) {
        // Effects keep drawing: a packet of silence, not the last sound heard.
        std::fill(samples.begin(), samples.end(), glm::vec2{0.0f, 0.0f});
    }
}

void AudioCapture::captureLoop() {
    pthread_setname_np(pthread_self(), kThreadName);
    constexpr auto kFirstRetry = std::chrono::milliseconds(100);
    constexpr auto kLongestRetry = std::chrono::milliseconds(1000);
    auto retryIn = kFirstRetry;
    bool failureReported = false;
    while (!stopRequested.load()) {
        SessionEnd end;
        try {
            end = captureUntilStopped();
        } catch (const std::exception& e) {
            end.failure = e.what();
        }
        if (stopRequested.load()) {
            break;
        }
        if (end.streamed) {
            retryIn = kFirstRetry;
            failureReported = false;
        }
        if (!end.defaultChangedTo.empty()) {
            setStatus("switching to " + end.defaultChangedTo, true);
            std::fprintf(stderr, "audio: the default output changed to %s; following it\n",
                         end.defaultChangedTo.c_str());
            continue; // at once: the server is there
        }
        setStatus("none: " + end.failure, true);
        // One line per outage, not one per attempt.
        if (!failureReported) {
            std::fprintf(stderr, "lumarok: audio capture unavailable: %s; retrying\n",
                         end.failure.c_str());
            failureReported = true;
        }
        std::unique_lock lock(loopMutex);
        retryWake.wait_for(lock, retryIn, [this] { return stopRequested.load(); });
        retryIn = std::min(retryIn * 2, kLongestRetry);
    }
}

AudioCapture::SessionEnd AudioCapture::captureUntilStopped() {
    SessionEnd end;
    const PulseMainloop mainloop(pa_mainloop_new());
    if (!mainloop) {
        end.failure = "cannot create a main loop";
        return end;
    }
    // Declared after the main loop and before the session: the destructor can wake
    // the loop for exactly as long as it exists, and the connection closes first.
    const PublishedLoop published(loopMutex, loop, mainloop.get());

    CaptureSession session;
    session.onPacket = [this](PacketAssembler& assembler) { storePacket(assembler); };
    session.onStreaming = [this](const std::string& device) {
        setStatus(device, false);
        if (announce) {
            std::fprintf(stderr, "audio: capturing %s\n", device.c_str());
        }
    };
    session.sourceName = sourceName;
    session.context.reset(pa_context_new(pa_mainloop_get_api(mainloop.get()), "lumarok"));
    if (!session.context) {
        end.failure = "cannot create a connection context";
        return end;
    }
    pa_context_set_state_callback(session.context.get(), onContextState, &session);
    // Never start a server of our own: the show plays what the user's server plays.
    if (pa_context_connect(session.context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        end.failure = session.contextError();
        return end;
    }
    // Blocks in poll until the server sends something or the destructor wakes us.
    while (!stopRequested.load() && session.running()) {
        if (pa_mainloop_iterate(mainloop.get(), 1, nullptr) < 0) {
            session.fail("the audio main loop stopped");
        }
    }
    end.failure = session.failure;
    end.defaultChangedTo = session.defaultChangedTo;
    end.streamed = session.streaming;
    return end;
}

} // namespace lumarok
