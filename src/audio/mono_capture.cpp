#include "audio/mono_capture.hpp"

#include "audio/pulse_handles.hpp"

#include <pthread.h>
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

namespace lumarok {
namespace {

constexpr pa_usec_t kChunkMicroseconds = 5000; // how often the server wakes us
constexpr auto kStartTimeout = std::chrono::seconds(5);
// Between two tries to reach the audio server again.
constexpr auto kReconnectWait = std::chrono::milliseconds(100);

// One connection; lives on the capture thread's stack, touched only by that thread.
struct Session {
    const MonoCapture::Consumer* consumer = nullptr;
    std::string source;
    std::uint32_t sampleRateHz = 48000;
    PulseContext context;
    PulseStream stream;
    std::vector<float> silence; // stands in for holes
    bool recording = false;
    std::string failure;

    void fail(std::string why) {
        if (failure.empty()) {
            failure = std::move(why);
        }
    }
    std::string serverError() const { return pa_strerror(pa_context_errno(context.get())); }
};

// No exception may cross the server's C callbacks: a failure ends the session instead.
template <typename Body> void guarded(Session& session, Body&& body) noexcept {
    try {
        body();
    } catch (const std::exception& e) {
        session.failure = e.what();
    } catch (...) {
        session.failure = "unknown error";
    }
}

void onRead(pa_stream* stream, std::size_t /*bytes*/, void* userdata) {
    auto& session = *static_cast<Session*>(userdata);
    guarded(session, [&] {
        const bool drained = drainRecording(stream, [&](const void* data, std::size_t byteCount) {
            const std::size_t count = byteCount / sizeof(float);
            if (data == nullptr) {
                session.silence.assign(count, 0.0f);
                (*session.consumer)(std::span<const float>(session.silence));
            } else {
                (*session.consumer)(std::span<const float>(static_cast<const float*>(data), count));
            }
        });
        if (!drained) {
            session.fail(session.serverError());
        }
    });
}

void onStreamState(pa_stream* stream, void* userdata) {
    auto& session = *static_cast<Session*>(userdata);
    guarded(session, [&] {
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            session.recording = true;
            break;
        case PA_STREAM_FAILED:
            session.fail(session.serverError() + " (source " + session.source + ")");
            break;
        case PA_STREAM_TERMINATED:
            session.fail("the server closed the recording of " + session.source);
            break;
        default:
            break;
        }
    });
}

void openStream(Session& session) {
    pa_sample_spec format{};
    format.format = PA_SAMPLE_FLOAT32NE;
    format.rate = session.sampleRateHz;
    format.channels = 1;
    pa_stream* stream = pa_stream_new(session.context.get(), "timecode", &format, nullptr);
    if (stream == nullptr) {
        session.fail(session.serverError());
        return;
    }
    session.stream.reset(stream);
    pa_stream_set_state_callback(stream, onStreamState, &session);
    pa_stream_set_read_callback(stream, onRead, &session);
    const pa_buffer_attr attr = recordingBuffer(kChunkMicroseconds, format);
    if (pa_stream_connect_record(stream, session.source.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) <
        0) {
        session.fail(session.serverError() + " (source " + session.source + ")");
    }
}

void onContextState(pa_context* context, void* userdata) {
    auto& session = *static_cast<Session*>(userdata);
    guarded(session, [&] {
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            openStream(session);
            break;
        case PA_CONTEXT_FAILED:
            session.fail(session.serverError());
            break;
        case PA_CONTEXT_TERMINATED:
            session.fail("the connection to the audio server was closed");
            break;
        default:
            break;
        }
    });
}

} // namespace

MonoCapture::MonoCapture(std::string sourceName, std::uint32_t sampleRateHz_, Consumer consumer_,
                         const char* threadName_)
    : label(sourceName.empty() ? "@DEFAULT_SOURCE@" : std::move(sourceName)),
      sampleRateHz(sampleRateHz_), consumer(std::move(consumer_)), threadName(threadName_) {
    std::promise<void> started;
    std::future<void> result = started.get_future();
    captureThread = std::thread(&MonoCapture::captureLoop, this, std::move(started));
    try {
        if (result.wait_for(kStartTimeout) != std::future_status::ready) {
            throw std::runtime_error("the audio server did not start recording " + label);
        }
        result.get();
    } catch (...) {
        stopRequested.store(true);
        {
            const std::lock_guard lock(loopMutex);
            if (loop != nullptr) {
                pa_mainloop_wakeup(loop);
            }
        }
        captureThread.join();
        throw;
    }
}

MonoCapture::~MonoCapture() {
    stopRequested.store(true);
    {
        const std::lock_guard lock(loopMutex);
        if (loop != nullptr) {
            pa_mainloop_wakeup(loop);
        }
    }
    if (captureThread.joinable()) {
        captureThread.join();
    }
}

void MonoCapture::captureLoop(std::promise<void> started) {
    pthread_setname_np(pthread_self(), threadName.c_str());
    bool announced = false;
    std::string failure;
    try {
        const PulseMainloop mainloop(pa_mainloop_new());
        if (!mainloop) {
            throw std::runtime_error("cannot create a main loop");
        }
        {
            const std::lock_guard lock(loopMutex);
            loop = mainloop.get();
        }
        struct Unpublish {
            MonoCapture& self;
            ~Unpublish() {
                const std::lock_guard lock(self.loopMutex);
                self.loop = nullptr;
            }
        } unpublish{*this};

        // Once recording, a lost server (restarted, say) is connected to again, as the
        // audio-reactive capture does: one line when it goes, one when it is back.
        bool lost = false;
        while (!stopRequested.load()) {
            Session session;
            session.consumer = &consumer;
            session.source = label;
            session.sampleRateHz = sampleRateHz;
            session.context.reset(pa_context_new(pa_mainloop_get_api(mainloop.get()), "lumarok"));
            if (!session.context) {
                throw std::runtime_error("cannot create a connection context");
            }
            pa_context_set_state_callback(session.context.get(), onContextState, &session);
            if (pa_context_connect(session.context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN,
                                   nullptr) < 0) {
                session.fail(session.serverError());
            }
            // Blocks in poll until the server sends something or the destructor wakes us.
            while (!stopRequested.load() && session.failure.empty()) {
                if (pa_mainloop_iterate(mainloop.get(), 1, nullptr) < 0) {
                    session.fail("the audio main loop stopped");
                }
                if (session.recording && !announced) {
                    announced = true;
                    started.set_value();
                }
                if (session.recording && !isRecording.load()) {
                    isRecording.store(true);
                }
                if (session.recording && lost) {
                    lost = false;
                    std::fprintf(stderr, "lumarok: timecode capture of %s recording again\n",
                                 label.c_str());
                }
            }
            isRecording.store(false);
            if (!announced) {
                failure = session.failure;
                break;
            }
            if (!session.failure.empty() && !lost) {
                lost = true;
                std::fprintf(stderr, "lumarok: timecode capture stopped: %s; reconnecting\n",
                             session.failure.c_str());
            }
            if (!stopRequested.load()) {
                // Short: a restarted server is back within a fraction of a second.
                pa_mainloop_prepare(mainloop.get(),
                                    static_cast<int>(kReconnectWait.count() * 1000));
                pa_mainloop_poll(mainloop.get());
                pa_mainloop_dispatch(mainloop.get());
            }
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!announced) {
        started.set_exception(std::make_exception_ptr(
            std::runtime_error(failure.empty() ? "recording stopped" : failure)));
    }
}

} // namespace lumarok
