#include "midi/synth/PulseAudioOutput.h"

#include "midi/synth/SynthEngine.h"

#include <pulse/pulseaudio.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::midi::synth {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kChannelsOut = 2;
constexpr std::size_t kFrameBytes = kChannelsOut * sizeof(float);
// A server that takes the connection and does not answer: the device's opens in a row wait this
// long for it in all, then each further open only kLeastWait (enough for a server that is back and
// answers at once); each then starts its stream lost, to connect in the background. The budget is
// whole again after an open that the server answered or kBudgetRefill without an unanswered one.
constexpr auto kAnswerBudget = 1600ms;
constexpr auto kLeastWait = 50ms;
constexpr auto kBudgetRefill = 10s;
// Reconnecting in the background: nobody waits, so a slow server gets its time.
constexpr auto kReconnectWait = 2000ms;
constexpr auto kRetryInterval = 500ms;
// How often the buffer's size is looked at while no underrun happens.
constexpr auto kPolicyTick = 1s;
// A server that has asked for nothing this long (a suspended sink, a device handed to another
// program) is not going to play what the engine renders now: the engine goes on without it.
constexpr auto kUnheardAfter = 100ms;
// How often the stream's thread looks whether the server still asks, and the most rendered
// into nothing at a time, so that the server's own request never waits long for the lock.
constexpr auto kUnheardCheck = 20ms;
constexpr auto kUnheardBlock = 10ms;
// A new stream is asked once for its first fill and then, by some servers, not again until they
// begin to play it, up to 2 s later (PulseAudio's null sink took 1.5 to 1.9 s): that is the
// server starting, not a sink that stopped, and what is played meanwhile waits for it, unless the
// wait goes on longer than any such start (a sink suspended at open).
constexpr auto kServerStart = 2500ms;
// Closing: the fade and the buffer's play-out together, however slow the server.
constexpr auto kCloseWait = 250ms;
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

// Wakes the stream's supervising thread when the connection is lost or the stream closes.
struct Wakeup {
    std::mutex mutex;
    std::condition_variable changed;
    bool pending = false;

    void notify()
    {
        {
            std::lock_guard lock(mutex);
            pending = true;
        }
        changed.notify_all();
    }
};

// Keeps the engine's time going while no server asks for its sound: notes played meanwhile end
// unheard instead of sounding all at once when a server asks again, and FluidSynth's queue of
// note events, which only rendering empties, does not fill up and drop note-offs. Touched by
// one thread at a time: the server's request and the stream's thread under the connection's
// lock, or the stream's thread alone while there is no connection.
class EnginePacer {
public:
    EnginePacer(SynthEngine& engine, std::uint32_t rate)
        : m_engine(engine), m_rate(rate), m_lastRequest(Clock::now()), m_advanced(m_lastRequest),
          m_scratch((static_cast<std::size_t>(std::chrono::duration<double>(kUnheardBlock).count() * rate) + 1)
                    * kChannelsOut)
    {
    }

    // A stream is connecting or the connection is gone.
    void streamStarting() { m_streamRequests = 0; }

    // The server asked for sound and got it: the engine is in step with the clock.
    void requested(Clock::time_point now)
    {
        m_streamRequests = std::min(m_streamRequests + 1, 2);
        m_lastRequest = now;
        m_advanced = now;
    }

    // Once the server has asked for nothing for kUnheardAfter, renders the next block (at most
    // kUnheardBlock) of the time since the engine last rendered into nothing; true when it did,
    // false when nothing is due.
    bool advanceUnheard(Clock::time_point now)
    {
        const auto quiet = now - m_lastRequest;
        if (quiet < (m_streamRequests == 1 ? kServerStart : kUnheardAfter))
            return false;
        const auto due = std::min<Clock::duration>(now - m_advanced, kUnheardBlock);
        const double frames = std::floor(std::chrono::duration<double>(due).count() * m_rate);
        if (frames < 1.0)
            return false;
        m_engine.renderInterleaved(std::span(m_scratch).first(static_cast<std::size_t>(frames) * kChannelsOut));
        m_advanced += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(frames / m_rate));
        return true;
    }

private:
    SynthEngine& m_engine;
    const std::uint32_t m_rate;
    int m_streamRequests = 0;  // of the current stream, counted up to 2
    Clock::time_point m_lastRequest;
    Clock::time_point m_advanced;
    std::vector<float> m_scratch;
};

// What every connection of one device shares: the buffer's policy lives for the run, so a busy
// machine is remembered across streams; it is only touched under the current connection's lock.
struct Shared {
    StreamBufferPolicy policy;
    std::shared_ptr<PulseStreamStats> stats;
};

// One connection to the server with one playback stream; everything after construction happens
// on the mainloop's thread, which is the thread that renders, or under its lock.
class PulseConnection {
public:
    // `pacer`: the engine this connection will play, kept going while the connection waits for
    // the server; null while there is no engine yet.
    PulseConnection(Shared& shared, std::shared_ptr<Wakeup> wakeup, EnginePacer* pacer = nullptr)
        : m_shared(shared), m_wakeup(std::move(wakeup)), m_pacer(pacer)
    {
    }

    ~PulseConnection() { shutDown(); }
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Connects to the server and learns the rate its output runs at; false without a server, or
    // when the deadline passes or `cancel` is set first.
    bool connect(Clock::time_point deadline, const std::atomic<bool>* cancel)
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
        pa_context_set_state_callback(m_context, &PulseConnection::onContextState, this);
        // No autospawn: a desktop's server is started by the session, and a program that starts
        // one of its own as a side effect is a surprise.
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (pa_threaded_mainloop_start(m_loop.get()) < 0)
            return false;
        m_running = true;

        LoopLock lock(m_loop.get());
        if (!waitFor(
                [this] {
                    const pa_context_state_t s = pa_context_get_state(m_context);
                    return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
                },
                deadline, cancel))
            return false;
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY)
            return false;
        // The rate of the server's default output: the engine is built for it where it can be.
        m_serverRate = 0;
        m_answered = false;
        const bool ok = awaitOperation(pa_context_get_server_info(m_context, &PulseConnection::onServerInfo, this),
                                       [this] { return m_answered; }, deadline, cancel);
        if (m_serverRate == 0)
            m_serverRate = kDefaultRate;
        return ok;
    }

    std::uint32_t serverRate() const { return m_serverRate; }
    bool timedOut() const { return m_timedOut; }
    bool lost() const { return m_lost.load(); }

    // Starts playing the engine at its own rate; it renders from now on, on the mainloop's thread.
    bool play(SynthEngine& engine, EnginePacer& pacer, std::uint32_t rate, Clock::time_point deadline,
              const std::atomic<bool>* cancel)
    {
        LoopLock lock(m_loop.get());
        m_engine = &engine;
        m_pacer = &pacer;
        m_pacer->streamStarting();
        m_rate = rate;
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, m_rate, kChannelsOut};
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        m_stream = pa_stream_new_with_proplist(m_context, "Built-in GS synthesizer", &spec, nullptr, props);
        pa_proplist_free(props);
        if (!m_stream)
            return false;
        pa_stream_set_state_callback(m_stream, &PulseConnection::onStreamState, this);
        pa_stream_set_write_callback(m_stream, &PulseConnection::onWrite, this);
        pa_stream_set_underflow_callback(m_stream, &PulseConnection::onUnderflow, this);

        const double target = m_shared.policy.targetMilliseconds();
        m_shared.stats->targetMilliseconds.store(target);
        const pa_buffer_attr attr = bufferFor(target);
        // The latency asked for is the whole way to the output, the server's own buffer included.
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
            return false;
        if (!waitFor(
                [this] {
                    const pa_stream_state_t s = pa_stream_get_state(m_stream);
                    return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
                },
                deadline, cancel))
            return false;
        if (pa_stream_get_state(m_stream) != PA_STREAM_READY)
            return false;
        if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(m_stream)) {
            m_format.periodSize = static_cast<int>(granted->minreq / kFrameBytes);
            m_format.periods = granted->minreq ? static_cast<int>(granted->tlength / granted->minreq) : 1;
        }
        m_format.driver = "pulseaudio";
        m_format.sampleRate = m_rate;
        m_playing = true;
        return true;
    }

    const AudioFormat& format() const { return m_format; }

    // A step down of the buffer when it has been quiet long enough.
    void tick(Clock::time_point now)
    {
        LoopLock lock(m_loop.get());
        if (m_stream && m_shared.policy.tick(now))
            applyTarget();
    }

    // While the server asks for nothing, the engine goes on unheard; a block at a time under the
    // lock, so that a request that comes meanwhile waits for one block at most.
    void keepEngineTime()
    {
        if (!m_playing)
            return;
        for (;;) {
            LoopLock lock(m_loop.get());
            if (!m_pacer->advanceUnheard(Clock::now()))
                return;
        }
    }

    // Fades the sound out and waits until the server has played it, at most kCloseWait.
    void fadeOut()
    {
        if (!m_playing || m_lost.load())
            return;
        const auto deadline = Clock::now() + kCloseWait;
        LoopLock lock(m_loop.get());
        m_fade.begin(static_cast<int>(kFadeMilliseconds * m_rate / 1000.0));
        if (!waitFor([this] { return m_fade.finished() || m_lost.load(); }, deadline, nullptr) || m_lost.load())
            return;
        // Nothing more is written, and the end of the buffer is not an underrun to learn from.
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        m_drained = false;
        pa_operation* drain = pa_stream_drain(
            m_stream,
            [](pa_stream*, int, void* data) {
                auto* self = static_cast<PulseConnection*>(data);
                self->m_drained = true;
                pa_threaded_mainloop_signal(self->m_loop.get(), 0);
            },
            this);
        if (!awaitOperation(drain, [this] { return m_drained || m_lost.load(); }, deadline, nullptr) || m_lost.load())
            return;
        // Drained means mixed, not heard: the sink still holds its own latency's worth, and a
        // stream that leaves is taken out of that again (a rewind), cutting the tail of the fade.
        m_answered = false;
        pa_operation* update = pa_stream_update_timing_info(
            m_stream,
            [](pa_stream*, int, void* data) { static_cast<PulseConnection*>(data)->answer(); }, this);
        const bool timed = awaitOperation(update, [this] { return m_answered || m_lost.load(); }, deadline, nullptr);
        const pa_timing_info* timing = timed ? pa_stream_get_timing_info(m_stream) : nullptr;
        if (!timing)
            return;
        const auto heard = std::min(deadline, Clock::now() + std::chrono::microseconds(timing->sink_usec));
        waitFor([] { return false; }, heard, nullptr);
    }

private:
    // Waits for an operation's answer; one that does not come in time is cancelled. False
    // without an operation or an answer.
    template <class Done>
    bool awaitOperation(pa_operation* op, Done done, Clock::time_point deadline, const std::atomic<bool>* cancel)
    {
        if (!op)
            return false;
        const bool answered = waitFor(done, deadline, cancel);
        if (!answered)
            pa_operation_cancel(op);
        pa_operation_unref(op);
        return answered;
    }

    template <class Done>
    bool waitFor(Done done, Clock::time_point deadline, const std::atomic<bool>* cancel)
    {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop.get());
        while (!done()) {
            if (cancel && cancel->load())
                return false;
            if (Clock::now() >= deadline) {
                m_timedOut = true;
                return false;
            }
            // Under the lock: the server's request, which may come with this stream, waits.
            if (m_pacer)
                while (m_pacer->advanceUnheard(Clock::now())) {
                }
            // A timer wakes the wait, so a server that never answers cannot hang the caller.
            timeval when{};
            pa_gettimeofday(&when);
            pa_timeval_add(&when, 20 * PA_USEC_PER_MSEC);
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

    void applyTarget()
    {
        const double target = m_shared.policy.targetMilliseconds();
        m_shared.stats->targetMilliseconds.store(target);
        const pa_buffer_attr attr = bufferFor(target);
        if (pa_operation* op = pa_stream_set_buffer_attr(m_stream, &attr, nullptr, nullptr))
            pa_operation_unref(op);
    }

    static void onServerInfo(pa_context* context, const pa_server_info* info, void* data)
    {
        auto* self = static_cast<PulseConnection*>(data);
        if (info && pa_sample_spec_valid(&info->sample_spec))
            self->m_serverRate = info->sample_spec.rate;
        pa_operation* op = info && info->default_sink_name
            ? pa_context_get_sink_info_by_name(context, info->default_sink_name, &PulseConnection::onSinkInfo, self)
            : nullptr;
        if (op)
            pa_operation_unref(op);
        else
            self->answer();
    }

    static void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data)
    {
        auto* self = static_cast<PulseConnection*>(data);
        if (info && eol == 0 && pa_sample_spec_valid(&info->sample_spec))
            self->m_serverRate = info->sample_spec.rate;
        if (eol != 0)
            self->answer();
    }

    void answer()
    {
        m_answered = true;
        pa_threaded_mainloop_signal(m_loop.get(), 0);
    }

    void markLost()
    {
        if (m_lost.exchange(true))
            return;
        m_shared.stats->lost.store(true);
        m_wakeup->notify();
    }

    static void onContextState(pa_context* context, void* data)
    {
        auto* self = static_cast<PulseConnection*>(data);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            self->markLost();
        pa_threaded_mainloop_signal(self->m_loop.get(), 0);
    }

    static void onStreamState(pa_stream* stream, void* data)
    {
        auto* self = static_cast<PulseConnection*>(data);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->markLost();
        pa_threaded_mainloop_signal(self->m_loop.get(), 0);
    }

    static void onWrite(pa_stream* stream, std::size_t bytes, void* data)
    {
        auto* self = static_cast<PulseConnection*>(data);
        if (!self->m_prioritySet) {
            self->m_prioritySet = true;
            raiseThreadPriority();
        }
        self->m_pacer->requested(Clock::now());
        while (bytes >= kFrameBytes) {
            void* buffer = nullptr;
            std::size_t size = bytes;
            if (pa_stream_begin_write(stream, &buffer, &size) < 0 || !buffer || size < kFrameBytes)
                return;
            const std::size_t frames = size / kFrameBytes;
            auto* samples = static_cast<float*>(buffer);
            if (self->m_fade.finished()) {
                std::fill_n(samples, frames * kChannelsOut, 0.0f);
            } else {
                self->m_engine->renderInterleaved(std::span(samples, frames * kChannelsOut));
                self->m_fade.apply(samples, samples + 1, frames, kChannelsOut);
            }
            if (pa_stream_write(stream, buffer, frames * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            bytes -= std::min(bytes, frames * kFrameBytes);
        }
    }

    static void onUnderflow(pa_stream*, void* data)
    {
        auto* self = static_cast<PulseConnection*>(data);
        if (self->m_shared.policy.underrun(Clock::now()))
            self->applyTarget();
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

    Shared& m_shared;
    std::shared_ptr<Wakeup> m_wakeup;
    MainloopPtr m_loop;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    bool m_running = false;
    bool m_playing = false;
    bool m_timedOut = false;
    std::atomic<bool> m_lost{false};
    std::uint32_t m_serverRate = kDefaultRate;
    std::uint32_t m_rate = kDefaultRate;
    bool m_answered = false;
    bool m_drained = false;
    SynthEngine* m_engine = nullptr;
    EnginePacer* m_pacer = nullptr;
    bool m_prioritySet = false;
    OutputFade m_fade;
    AudioFormat m_format;
};

// The device's stream: the current connection and the thread that looks after it.
class PulseStream final : public AudioStream {
public:
    // Without a connection the stream starts lost and connects in the background.
    PulseStream(Shared& shared, std::shared_ptr<Wakeup> wakeup, std::unique_ptr<PulseConnection> connection,
                std::unique_ptr<EnginePacer> pacer, SynthEngine& engine, std::uint32_t rate)
        : m_shared(shared), m_wakeup(std::move(wakeup)), m_connection(std::move(connection)),
          m_pacer(std::move(pacer)), m_engine(engine), m_rate(rate)
    {
        if (m_connection)
            m_format = m_connection->format();
        else
            m_format = AudioFormat{"pulseaudio", static_cast<double>(rate), 0, 0};
        m_shared.stats->lost.store(!m_connection);
        m_supervisor = std::thread([this] { supervise(); });
    }

    ~PulseStream() override
    {
        m_stop.store(true);
        m_wakeup->notify();
        m_supervisor.join();
        if (m_connection)
            m_connection->fadeOut();
        m_connection.reset();  // before the pacer it renders through
    }

    AudioFormat format() const override
    {
        std::lock_guard lock(m_formatMutex);
        return m_format;
    }

private:
    void supervise()
    {
        pthread_setname_np(pthread_self(), "velmora-stream");
        if (!m_connection)
            m_connection = reconnect();
        auto nextTick = Clock::now() + kPolicyTick;
        while (!m_stop.load()) {
            {
                std::unique_lock lock(m_wakeup->mutex);
                m_wakeup->changed.wait_for(lock, kUnheardCheck, [this] { return m_wakeup->pending; });
                m_wakeup->pending = false;
            }
            if (m_stop.load())
                return;
            if (!m_connection->lost()) {
                m_connection->keepEngineTime();
                if (Clock::now() >= nextTick) {
                    m_connection->tick(Clock::now());
                    nextTick = Clock::now() + kPolicyTick;
                }
                continue;
            }
            // Its thread stops here: from now on nobody else renders the engine.
            m_connection.reset();
            m_pacer->streamStarting();
            m_connection = reconnect();
        }
    }

    std::unique_ptr<PulseConnection> reconnect()
    {
        while (!m_stop.load()) {
            auto connection = std::make_unique<PulseConnection>(m_shared, m_wakeup, m_pacer.get());
            const auto deadline = Clock::now() + kReconnectWait;
            if (connection->connect(deadline, &m_stop)
                && connection->play(m_engine, *m_pacer, m_rate, deadline, &m_stop)) {
                {
                    std::lock_guard lock(m_formatMutex);
                    m_format = connection->format();
                }
                m_shared.stats->lost.store(false);
                m_shared.stats->reconnections.fetch_add(1);
                return connection;
            }
            connection.reset();
            renderUnheard(Clock::now() + kRetryInterval);
        }
        return nullptr;
    }

    // The engine goes on as if it were heard, until `until` or the stream closes.
    void renderUnheard(Clock::time_point until)
    {
        for (auto next = Clock::now() + kUnheardBlock; next <= until; next += kUnheardBlock) {
            std::unique_lock lock(m_wakeup->mutex);
            if (m_wakeup->changed.wait_until(lock, next, [this] { return m_stop.load(); }))
                return;
            lock.unlock();
            while (m_pacer->advanceUnheard(Clock::now())) {
            }
        }
    }

    Shared& m_shared;
    std::shared_ptr<Wakeup> m_wakeup;
    std::unique_ptr<PulseConnection> m_connection;  // the supervisor's while it runs
    std::unique_ptr<EnginePacer> m_pacer;
    SynthEngine& m_engine;
    const std::uint32_t m_rate;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_formatMutex;
    AudioFormat m_format;
    std::thread m_supervisor;  // last: starts once everything it uses is there
};

// The rates FluidSynth takes for its synthesizer; outside them it silently keeps its default.
std::pair<double, double> engineRateRange()
{
    double low = 0.0;
    double high = 0.0;
    FluidSettingsPtr settings(new_fluid_settings());
    if (!settings || fluid_settings_getnum_range(settings.get(), "synth.sample-rate", &low, &high) != FLUID_OK)
        return {kDefaultRate, kDefaultRate};
    return {low, high};
}

class PulseAudioBackend final : public AudioBackend {
public:
    PulseAudioBackend(PulseLatency latency, std::shared_ptr<PulseStreamStats> stats)
        : m_shared{StreamBufferPolicy(latency), stats ? std::move(stats) : std::make_shared<PulseStreamStats>()}
    {
    }

    std::optional<Started> start(const EngineFactory& makeEngine) override
    {
        m_shared.stats->lost.store(false);
        const auto begun = Clock::now();
        if (m_lastUnanswered && begun - *m_lastUnanswered > kBudgetRefill)
            m_spent = Clock::duration::zero();
        const Clock::duration wait = std::max<Clock::duration>(kLeastWait, kAnswerBudget - m_spent);
        m_unanswered = false;
        auto started = open(makeEngine, begun + wait);
        if (m_unanswered) {
            m_spent += Clock::now() - begun;
            m_lastUnanswered = Clock::now();
        } else if (started) {
            m_spent = Clock::duration::zero();
            m_lastUnanswered.reset();
        }
        return started;
    }

    // The last start found a server that took the connection but did not answer in time.
    bool unanswered() const { return m_unanswered; }

private:
    // A server that took the connection but answers too slowly for the open to wait is there,
    // only busy: the stream starts lost and connects in the background, as after a restart of
    // the server, so that the program plays as soon as the server answers.
    std::optional<Started> open(const EngineFactory& makeEngine, Clock::time_point deadline)
    {
        auto wakeup = std::make_shared<Wakeup>();
        auto connection = std::make_unique<PulseConnection>(m_shared, wakeup);
        const bool connected = connection->connect(deadline, nullptr);
        m_unanswered = !connected && connection->timedOut();
        if (!connected && !m_unanswered)
            return std::nullopt;
        const auto [low, high] = engineRateRange();
        auto engine = makeEngine(std::clamp<double>(connected ? connection->serverRate() : kDefaultRate, low, high));
        if (!engine)
            return std::nullopt;
        // Whatever the engine took is what the stream carries; the server converts it.
        const auto rate = static_cast<std::uint32_t>(std::lround(engine->sampleRate()));
        auto pacer = std::make_unique<EnginePacer>(*engine, rate);
        // Building the engine is not the server's time: a server that answered gets a moment more.
        if (connected
            && !connection->play(*engine, *pacer, rate, std::max(deadline, Clock::now() + kLeastWait), nullptr)) {
            m_unanswered = connection->timedOut();
            if (!m_unanswered) {
                // The stream may have started rendering: it goes before the engine it renders.
                connection.reset();
                return std::nullopt;
            }
        }
        if (m_unanswered)
            connection.reset();
        Started started;
        started.stream = std::make_unique<PulseStream>(m_shared, std::move(wakeup), std::move(connection),
                                                       std::move(pacer), *engine, rate);
        started.engine = std::move(engine);
        return started;
    }

    Shared m_shared;
    Clock::duration m_spent{};
    std::optional<Clock::time_point> m_lastUnanswered;
    bool m_unanswered = false;
};

// The server first; FluidSynth's drivers without the ones that go through a sound server.
class DesktopAudioBackend final : public AudioBackend {
public:
    DesktopAudioBackend(FluidLog& log, std::shared_ptr<PulseStreamStats> stats)
        : m_server(std::make_unique<PulseAudioBackend>(PulseLatency{}, std::move(stats))),
          m_card(makeFluidAudioBackend(AudioConfig{}, log, {"pulseaudio", "pipewire"}))
    {
    }

    std::optional<Started> start(const EngineFactory& makeEngine) override
    {
        if (auto started = m_server->start(makeEngine))
            return started;
        // A server that is there but does not answer (its stream could not be made) holds the
        // card, and ALSA's default device would lead to the same server and wait for it again.
        if (m_server->unanswered())
            return std::nullopt;
        return m_card->start(makeEngine);
    }

private:
    std::unique_ptr<PulseAudioBackend> m_server;
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
