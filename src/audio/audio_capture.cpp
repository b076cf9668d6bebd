#include "audio/audio_capture.hpp"

#include "audio/audio_packet.hpp"

#include <pthread.h>
#include <pulse/pulseaudio.h>

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

struct MainloopFree {
    void operator()(pa_mainloop* mainloop) const { pa_mainloop_free(mainloop); }
};

// Callbacks are cleared first: disconnecting reports a state change, and our
// own shutdown is not a failure to report.
struct ContextClose {
    void operator()(pa_context* context) const {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};

struct StreamClose {
    void operator()(pa_stream* stream) const {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            pa_stream_disconnect(stream);
        }
        pa_stream_unref(stream);
    }
};

// Everything one connection needs; lives on the capture thread's stack and is
// touched only by that thread (the server's callbacks run inside its loop).
struct CaptureSession {
    std::function<void(PacketAssembler&)> onPacket;
    PacketAssembler assembler{kPacketFrames};
    std::string sourceName;
    std::unique_ptr<pa_context, ContextClose> context;
    std::unique_ptr<pa_stream, StreamClose> stream;
    std::string failure; // empty while the session is healthy

    void fail(std::string why) {
        if (failure.empty()) {
            failure = std::move(why);
        }
    }
    std::string contextError() const { return pa_strerror(pa_context_errno(context.get())); }
    std::string sourceLabel() const {
        return sourceName.empty() ? std::string(kDefaultOutputMonitor) : sourceName;
    }
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
        for (;;) {
            const void* data = nullptr;
            std::size_t byteCount = 0;
            if (pa_stream_peek(stream, &data, &byteCount) < 0) {
                session.fail(session.contextError());
                return;
            }
            if (byteCount == 0) {
                break; // nothing queued (a null pointer with a size is a hole: silence)
            }
            session.assembler.append(data, byteCount);
            pa_stream_drop(stream);
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

    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize =
        static_cast<std::uint32_t>(pa_usec_to_bytes(kPacketMicroseconds, &sampleFormat));
    const std::string source = session.sourceLabel();
    if (pa_stream_connect_record(stream, source.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
        session.fail(session.contextError() + " (source " + source + ")");
    }
}

void onContextState(pa_context* context, void* userdata) {
    auto& session = *static_cast<CaptureSession*>(userdata);
    guarded(session, [&] {
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
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

AudioCapture::AudioCapture(std::string sourceName_) : sourceName(std::move(sourceName_)) {
    // samples and samplesMutex exist before the thread starts.
    captureThread = std::thread(&AudioCapture::captureLoop, this);
}

AudioCapture::~AudioCapture() {
    stopRequested.store(true);
    {
        // The capture thread may be blocked in poll waiting for the server;
        // waking the loop makes it see the stop request at once.
        const std::lock_guard lock(loopMutex);
        if (loop != nullptr) {
            pa_mainloop_wakeup(loop);
        }
    }
    if (captureThread.joinable()) {
        captureThread.join();
    }
}

std::vector<glm::vec2> AudioCapture::copySamples() const {
    const std::lock_guard lock(samplesMutex);
    return samples;
}

void AudioCapture::copySamples(std::vector<glm::vec2>& out) const {
    const std::lock_guard lock(samplesMutex);
    out.assign(samples.begin(), samples.end());
}

void AudioCapture::storePacket(PacketAssembler& assembler) {
    const std::lock_guard lock(samplesMutex);
    assembler.takeNewest(samples);
}

void AudioCapture::captureLoop() {
    pthread_setname_np(pthread_self(), kThreadName);
    std::string failure;
    try {
        failure = captureUntilStopped();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!failure.empty()) {
        std::fprintf(stderr, "lumarok: audio capture unavailable: %s\n", failure.c_str());
    }
}

std::string AudioCapture::captureUntilStopped() {
    const std::unique_ptr<pa_mainloop, MainloopFree> mainloop(pa_mainloop_new());
    if (!mainloop) {
        return "cannot create a main loop";
    }
    // Declared after the main loop and before the session: the destructor can wake
    // the loop for exactly as long as it exists, and the connection closes first.
    const PublishedLoop published(loopMutex, loop, mainloop.get());

    CaptureSession session;
    session.onPacket = [this](PacketAssembler& assembler) { storePacket(assembler); };
    session.sourceName = sourceName;
    session.context.reset(pa_context_new(pa_mainloop_get_api(mainloop.get()), "lumarok"));
    if (!session.context) {
        return "cannot create a connection context";
    }
    pa_context_set_state_callback(session.context.get(), onContextState, &session);
    // Never start a server of our own: the show plays what the user's server plays.
    if (pa_context_connect(session.context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return session.contextError();
    }
    // Blocks in poll until the server sends something or the destructor wakes us.
    while (!stopRequested.load() && session.failure.empty()) {
        if (pa_mainloop_iterate(mainloop.get(), 1, nullptr) < 0) {
            session.fail("the audio main loop stopped");
        }
    }
    return session.failure;
}

} // namespace lumarok
