#include "midi/synth/PulseAudioOutput.h"

#include "midi/synth/SynthEngine.h"

#include <pulse/pulseaudio.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>

namespace velmora::midi::synth {

namespace {

constexpr int kChannelsOut = 2;
constexpr std::size_t kFrameBytes = kChannelsOut * sizeof(float);
// How long the server may take to answer before the device counts as having no driver.
constexpr auto kConnectTimeout = std::chrono::milliseconds(2000);
// Above ordinary threads, below the servers' own real-time threads, which must run first.
constexpr int kRealtimePriority = 10;
constexpr std::uint32_t kDefaultRate = 48000;

struct MainloopDeleter {
    void operator()(pa_threaded_mainloop* loop) const { pa_threaded_mainloop_free(loop); }
};
using MainloopPtr = std::unique_ptr<pa_threaded_mainloop, MainloopDeleter>;

// Holds the mainloop's lock for a scope: every call into the context or stream outside the
// mainloop's own callbacks needs it.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : m_loop(loop) { pa_threaded_mainloop_lock(m_loop); }
    ~LoopLock() { pa_threaded_mainloop_unlock(m_loop); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

std::uint32_t bytesFor(double milliseconds, std::uint32_t rate)
{
    const auto frames = static_cast<std::uint32_t>(milliseconds * rate / 1000.0 + 0.5);
    return std::max<std::uint32_t>(frames, 64) * static_cast<std::uint32_t>(kFrameBytes);
}

// One connection to the server with one playback stream; everything after construction happens
// on the mainloop's thread, which is the thread that renders.
class PulseStream final : public AudioStream {
public:
    PulseStream(PulseLatency latency, std::shared_ptr<PulseStreamStats> stats)
        : m_latency(latency), m_stats(std::move(stats))
    {
    }

    ~PulseStream() override { shutDown(); }

    // Connects to the server and learns the rate its output runs at; false without a server.
    bool connect()
    {
        m_loop.reset(pa_threaded_mainloop_new());
        if (!m_loop)
            return false;
        pa_threaded_mainloop_set_name(m_loop.get(), "velmora-audio");
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop.get());
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Velmora");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        m_context = pa_context_new_with_proplist(api, "Velmora", props);
        pa_proplist_free(props);
        if (!m_context)
            return false;
        pa_context_set_state_callback(m_context, &PulseStream::onContextState, this);
        // No autospawn: a desktop's server is started by the session, and a program that starts
        // one of its own as a side effect is a surprise.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (pa_threaded_mainloop_start(m_loop.get()) < 0)
            return false;
        m_running = true;

        LoopLock lock(m_loop.get());
        if (!waitFor([this] {
                const pa_context_state_t s = pa_context_get_state(m_context);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            }))
            return false;
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY)
            return false;
        // The rate of the server's default output, so that nothing resamples the synthesizer.
        m_rate = 0;
        m_answered = false;
        pa_operation* op = pa_context_get_server_info(m_context, &PulseStream::onServerInfo, this);
        if (!op)
            return false;
        const bool ok = waitFor([this] { return m_answered; });
        if (!ok)
            pa_operation_cancel(op);
        pa_operation_unref(op);
        if (m_rate == 0)
            m_rate = kDefaultRate;
        return ok;
    }

    double sampleRate() const { return m_rate; }

    // Starts playing the engine; it renders from now on, on the mainloop's thread.
    bool play(SynthEngine& engine)
    {
        LoopLock lock(m_loop.get());
        m_engine = &engine;
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, m_rate, kChannelsOut};
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        m_stream = pa_stream_new_with_proplist(m_context, "Built-in GS synthesizer", &spec, nullptr, props);
        pa_proplist_free(props);
        if (!m_stream)
            return false;
        pa_stream_set_state_callback(m_stream, &PulseStream::onStreamState, this);
        pa_stream_set_write_callback(m_stream, &PulseStream::onWrite, this);
        pa_stream_set_underflow_callback(m_stream, &PulseStream::onUnderflow, this);

        double target = m_stats->targetMilliseconds.load();
        if (target <= 0.0) {
            target = m_latency.initialMilliseconds;
            m_stats->targetMilliseconds.store(target);
        }
        const pa_buffer_attr attr = bufferFor(target);
        // The latency asked for is the whole way to the output, the server's own buffer included.
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
            return false;
        if (!waitFor([this] {
                const pa_stream_state_t s = pa_stream_get_state(m_stream);
                return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
            }))
            return false;
        if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
            return false;
        if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(m_stream)) {
            m_format.periodSize = static_cast<int>(granted->minreq / kFrameBytes);
            m_format.periods = granted->minreq ? static_cast<int>(granted->tlength / granted->minreq) : 1;
        }
        m_format.driver = "pulseaudio";
        m_format.sampleRate = m_rate;
        return true;
    }

    const AudioFormat& format() const override { return m_format; }

private:
    template <class Done>
    bool waitFor(Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop.get());
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            // A timer wakes the wait, so a server that never answers cannot hang the caller.
            timeval when{};
            pa_gettimeofday(&when);
            pa_timeval_add(&when, 50 * PA_USEC_PER_MSEC);
            pa_time_event* wake = api->time_new(
                api, &when,
                [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
                    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(data), 0);
                },
                m_loop.get());
            pa_threaded_mainloop_wait(m_loop.get());
            api->time_free(wake);
        }
        return true;
    }

    pa_buffer_attr bufferFor(double milliseconds) const
    {
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = bytesFor(milliseconds, m_rate);
        attr.prebuf = static_cast<std::uint32_t>(-1);
        // The server asks again when a quarter of the buffer has played.
        attr.minreq = bytesFor(milliseconds / 4.0, m_rate);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        return attr;
    }

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* data)
    {
        auto* self = static_cast<PulseStream*>(data);
        if (info && pa_sample_spec_valid(&info->sample_spec))
            self->m_rate = info->sample_spec.rate;
        pa_operation* op = info && info->default_sink_name
            ? pa_context_get_sink_info_by_name(context, info->default_sink_name, &PulseStream::onSinkInfo, self)
            : nullptr;
        if (op)
            pa_operation_unref(op);
        else
            self->answer();
    }

    static void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data)
    {
        auto* self = static_cast<PulseStream*>(data);
        if (info && eol == 0 && pa_sample_spec_valid(&info->sample_spec))
            self->m_rate = info->sample_spec.rate;
        if (eol != 0)
            self->answer();
    }

    void answer()
    {
        m_answered = true;
        pa_threaded_mainloop_signal(m_loop.get(), 0);
    }

    static void onContextState(pa_context* context, void* data)
    {
        auto* self = static_cast<PulseStream*>(data);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            self->m_stats->lost.store(true);
        pa_threaded_mainloop_signal(self->m_loop.get(), 0);
    }

    static void onStreamState(pa_stream* stream, void* data)
    {
        auto* self = static_cast<PulseStream*>(data);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->m_stats->lost.store(true);
        pa_threaded_mainloop_signal(self->m_loop.get(), 0);
    }

    static void onWrite(pa_stream* stream, std::size_t bytes, void* data)
    {
        auto* self = static_cast<PulseStream*>(data);
        if (!self->m_prioritySet) {
            self->m_prioritySet = true;
            raiseThreadPriority();
        }
        while (bytes >= kFrameBytes) {
            void* buffer = nullptr;
            std::size_t size = bytes;
            if (pa_stream_begin_write(stream, &buffer, &size) < 0 || !buffer || size < kFrameBytes)
                return;
            const std::size_t frames = size / kFrameBytes;
            self->m_engine->renderInterleaved(std::span(static_cast<float*>(buffer), frames * kChannelsOut));
            if (pa_stream_write(stream, buffer, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            bytes -= std::min(bytes, frames * kFrameBytes);
        }
    }

    // An underrun was heard: ask for a longer buffer and keep it for every later stream.
    static void onUnderflow(pa_stream* stream, void* data)
    {
        auto* self = static_cast<PulseStream*>(data);
        const double now = self->m_stats->targetMilliseconds.load();
        const double grown = std::min(now * self->m_latency.growth, self->m_latency.maximumMilliseconds);
        if (grown <= now)
            return;
        self->m_stats->targetMilliseconds.store(grown);
        const pa_buffer_attr attr = self->bufferFor(grown);
        if (pa_operation* op = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr))
            pa_operation_unref(op);
    }

    // The render thread gets a real-time slot where the system grants one (a desktop user's
    // limits often do); otherwise it keeps its normal priority and the buffer absorbs the rest.
    static void raiseThreadPriority()
    {
        sched_param param{};
        param.sched_priority = kRealtimePriority;
        pthread_setschedparam(pthread_self(), SCHED_FIFO | SCHED_RESET_ON_FORK, &param);
    }

    void shutDown()
    {
        if (!m_loop)
            return;
        if (m_running) {
            {
                LoopLock lock(m_loop.get());
                if (m_stream) {
                    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
                    pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
                    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
                    pa_stream_disconnect(m_stream);
                }
                if (m_context) {
                    pa_context_set_state_callback(m_context, nullptr, nullptr);
                    pa_context_disconnect(m_context);
                }
            }
            pa_threaded_mainloop_stop(m_loop.get());
        }
        if (m_stream)
            pa_stream_unref(m_stream);
        if (m_context)
            pa_context_unref(m_context);
        m_stream = nullptr;
        m_context = nullptr;
        m_loop.reset();
    }

    PulseLatency m_latency;
    std::shared_ptr<PulseStreamStats> m_stats;
    MainloopPtr m_loop;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    bool m_running = false;
    std::uint32_t m_rate = kDefaultRate;
    bool m_answered = false;
    SynthEngine* m_engine = nullptr;
    bool m_prioritySet = false;
    AudioFormat m_format;
};

class PulseAudioBackend final : public AudioBackend {
public:
    PulseAudioBackend(PulseLatency latency, std::shared_ptr<PulseStreamStats> stats)
        : m_latency(latency), m_stats(stats ? std::move(stats) : std::make_shared<PulseStreamStats>())
    {
    }

    std::optional<Started> start(const EngineFactory& makeEngine) override
    {
        m_stats->lost.store(false);
        auto stream = std::make_unique<PulseStream>(m_latency, m_stats);
        if (!stream->connect())
            return std::nullopt;
        auto engine = makeEngine(stream->sampleRate());
        if (!engine)
            return std::nullopt;
        if (!stream->play(*engine)) {
            // The stream may have started rendering: it goes before the engine it renders.
            stream.reset();
            return std::nullopt;
        }
        Started started;
        started.engine = std::move(engine);
        started.stream = std::move(stream);
        return started;
    }

private:
    PulseLatency m_latency;
    std::shared_ptr<PulseStreamStats> m_stats;
};

// The server first; FluidSynth's drivers without the ones that go through a sound server.
class DesktopAudioBackend final : public AudioBackend {
public:
    DesktopAudioBackend(FluidLog& log, std::shared_ptr<PulseStreamStats> stats)
        : m_server(makePulseAudioBackend(PulseLatency{}, std::move(stats))),
          m_card(makeFluidAudioBackend(AudioConfig{}, log, {"pulseaudio", "pipewire"}))
    {
    }

    std::optional<Started> start(const EngineFactory& makeEngine) override
    {
        if (auto started = m_server->start(makeEngine))
            return started;
        return m_card->start(makeEngine);
    }

private:
    std::unique_ptr<AudioBackend> m_server;
    std::unique_ptr<AudioBackend> m_card;
};

}  // namespace

std::unique_ptr<AudioBackend> makePulseAudioBackend(PulseLatency latency, std::shared_ptr<PulseStreamStats> stats)
{
    return std::make_unique<PulseAudioBackend>(latency, std::move(stats));
}

std::unique_ptr<AudioBackend> makeDesktopAudioBackend(FluidLog& log, std::shared_ptr<PulseStreamStats> stats)
{
    return std::make_unique<DesktopAudioBackend>(log, std::move(stats));
}

}  // namespace velmora::midi::synth
