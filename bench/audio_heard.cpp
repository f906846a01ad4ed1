// What the user hears from the built-in synthesizer: plays through the program's own MIDI output
// (device 0 of the built-in synthesizer, GS reset, an exercise's scale tuning, note-ons and
// note-offs as the program sends them) while recording the sound server's monitor of the sink it
// plays to, then counts dropouts inside notes, measures note-on to first sound and each note's pitch.
//
//   audio_heard [--seconds S] [--seed N] [--source NAME] [--known-delay-ms MS]
//               [--provoke-at S --provoke-ms MS] [--piano-only] [--wav FILE] [--verbose]
//               [--plain-stream] [--sampled] [--keys FIRST-LAST] [--hold S]
//
// --sampled plays program 0 from the SoundFont's recorded piano instead of the practice piano.
// --keys and --hold change the keys played (default 53-76) and how long each is held (0.9 s);
// every note is also measured in 100 ms windows 50 ms apart from 0.05 s after its first sound to
// its note-off.
//
// --plain-stream plays no synthesizer: a steady sine through a plain stream asking for the same
// 10 ms, counted the same way. What it shows is the server's and the machine's, not the program's.
//
// The server is libpulse's (PULSE_SERVER); bench/audio_heard.sh starts a private one with a null sink.

#include "midi/BuiltinSynth.h"
#include "midi/GsMessages.h"
#include "midi/MidiOutput.h"
#include "midi/synth/PitchEstimator.h"
#include "PianoMeasures.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace velmora::midi;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kRate = 48000.0;
int kFirstKey = 53;
int kLastKey = 76;
constexpr int kOrgan = 19;
constexpr std::uint8_t kReferenceKey = 69;
constexpr std::uint8_t kVelocity = 0x64;
double kHoldSeconds = 0.9;
// A run of this many samples without sound inside a note is a dropout.
constexpr std::size_t kDropoutSamples = 32;
constexpr float kSilent = 1e-7f;
// First sound is at least this loud: -80 dBFS.
constexpr float kAudible = 1e-4f;
constexpr std::size_t kReadFrames = 120;  // 2.5 ms

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct Options {
    double seconds = 0.0;  // 0: both programs over every key, three reference As each
    unsigned seed = 1;
    std::string source = "velmora.monitor";
    double knownDelayMs = 20.0;
    double provokeAt = -1.0;  // seconds after the first note-on; < 0: no provoked stop
    double provokeMs = 50.0;
    std::string wav;
    bool verbose = false;
    bool pianoOnly = false;  // no organ half: latencies before and long after a stop compare
    bool plainStream = false;
    bool sampled = false;
    // Seconds between a note-off and the next note-on: long enough for the organ's release to fall
    // below the level at which a note's first sound can still be timed.
    double gap = 0.5;
};

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--verbose" || a == "--piano-only" || a == "--plain-stream" || a == "--sampled") {
            (a == "--verbose" ? o.verbose : a == "--piano-only" ? o.pianoOnly : a == "--sampled" ? o.sampled : o.plainStream) = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", a.c_str());
            break;
        }
        const char* v = argv[i + 1];
        if (a == "--seconds")
            o.seconds = std::atof(v);
        else if (a == "--seed")
            o.seed = static_cast<unsigned>(std::atoi(v));
        else if (a == "--source")
            o.source = v;
        else if (a == "--known-delay-ms")
            o.knownDelayMs = std::atof(v);
        else if (a == "--provoke-at")
            o.provokeAt = std::atof(v);
        else if (a == "--provoke-ms")
            o.provokeMs = std::atof(v);
        else if (a == "--keys")
            std::sscanf(v, "%d-%d", &kFirstKey, &kLastKey);
        else if (a == "--hold")
            kHoldSeconds = std::atof(v);
        else if (a == "--gap")
            o.gap = std::atof(v);
        else if (a == "--wav")
            o.wav = v;
        else
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
    }
    return o;
}

// The monitor as recorded, and when each read returned: a frame cannot be read before it was
// mixed, so the lower envelope of (read time - frames read so far / rate) dates the frames.
class Recorder {
public:
    bool start(const std::string& source, double seconds)
    {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(kRate), 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(kReadFrames * 2 * sizeof(float));
        int error = 0;
        m_stream = pa_simple_new(nullptr, "audio_heard", PA_STREAM_RECORD, source.c_str(), "monitor", &spec,
                                 nullptr, &attr, &error);
        if (!m_stream) {
            std::fprintf(stderr, "cannot record %s: %s\n", source.c_str(), pa_strerror(error));
            return false;
        }
        m_samples.reserve(static_cast<std::size_t>((seconds + 30.0) * kRate * 2));
        m_thread = std::thread([this] { run(); });
        return true;
    }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_stream)
            pa_simple_free(m_stream);
        m_stream = nullptr;
    }

    const std::vector<float>& samples() const { return m_samples; }
    std::size_t frames() const { return m_samples.size() / 2; }
    bool failed() const { return m_failed; }

    // Steady-clock time (seconds since the recording began) at which frame f left the mixer, and
    // the frame mixed at a given time. A frame cannot be read before it was mixed, so the lowest
    // (read time - frames read / rate) of each second dates that second's frames; between seconds
    // it is interpolated. Per second, not one line for the run: a server that drops or repeats a
    // cycle shifts the recording against the clock from then on.
    double timeOfFrame(double frame) const
    {
        double t = frame / kRate + offsetAt(frame / kRate);
        for (int i = 0; i < 3; ++i)
            t = frame / kRate + offsetAt(t);
        return t;
    }
    double frameAt(Clock::time_point t) const
    {
        const double s = seconds(t - m_start);
        return kRate * (s - offsetAt(s));
    }
    // The monitor's clock against the steady clock over the run, and the seconds in which the
    // recording moved against the clock by more than a millisecond (a cycle lost or added).
    double drift() const { return m_drift; }
    int jumps() const { return m_jumps; }
    double largestJumpMs() const { return m_largestJump * 1000.0; }

    void finishTiming()
    {
        m_lows.clear();
        for (const auto& [t, frames] : m_reads) {
            const double v = t - static_cast<double>(frames) / kRate;
            const auto second = static_cast<std::size_t>(t);
            if (m_lows.size() <= second)
                m_lows.resize(second + 1, {0.0, 1e300});
            if (v < m_lows[second].second)
                m_lows[second] = {t, v};
        }
        std::erase_if(m_lows, [](const auto& p) { return p.second > 1e299; });
        if (m_lows.size() >= 2) {
            const auto& [t0, v0] = m_lows.front();
            const auto& [t1, v1] = m_lows.back();
            m_drift = t1 > t0 ? -(v1 - v0) / (t1 - t0) : 0.0;
        }
        for (std::size_t i = 1; i < m_lows.size(); ++i) {
            const double step = std::abs(m_lows[i].second - m_lows[i - 1].second);
            m_largestJump = std::max(m_largestJump, step);
            m_jumps += step > 1e-3 ? 1 : 0;
        }
    }

    void waitForFrames(std::size_t frames)
    {
        while (m_framesRead.load() < frames && !m_failed)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

private:
    void run()
    {
        std::array<float, kReadFrames * 2> buffer{};
        m_start = Clock::now();
        std::size_t frames = 0;
        while (!m_stop) {
            int error = 0;
            if (pa_simple_read(m_stream, buffer.data(), sizeof buffer, &error) < 0) {
                std::fprintf(stderr, "recording failed: %s\n", pa_strerror(error));
                m_failed = true;
                return;
            }
            const double t = seconds(Clock::now() - m_start);
            m_samples.insert(m_samples.end(), buffer.begin(), buffer.end());
            frames += kReadFrames;
            m_reads.emplace_back(t, frames);
            m_framesRead = frames;
        }
    }

    pa_simple* m_stream = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::atomic<std::size_t> m_framesRead{0};
    std::vector<float> m_samples;
    std::vector<std::pair<double, std::size_t>> m_reads;
    Clock::time_point m_start;
    std::vector<std::pair<double, double>> m_lows;  // (read time, lowest read time - frames / rate)
    double m_drift = 0.0;
    double m_largestJump = 0.0;
    int m_jumps = 0;

    double offsetAt(double t) const
    {
        if (m_lows.empty())
            return 0.0;
        if (t <= m_lows.front().first)
            return m_lows.front().second;
        if (t >= m_lows.back().first)
            return m_lows.back().second;
        const auto next = std::lower_bound(m_lows.begin(), m_lows.end(), t,
                                           [](const auto& p, double value) { return p.first < value; });
        const auto prev = next - 1;
        const double w = (t - prev->first) / (next->first - prev->first);
        return prev->second + w * (next->second - prev->second);
    }
};

struct Note {
    int channel = 0;
    int key = 0;
    int program = 0;
    double wantedCents = 0.0;  // against 12-TET with A4 = 440 Hz
    double knownDelayMs = 0.0; // slept between the time stamp and the note-on
    Clock::time_point on;
    Clock::time_point off;
    double sendMs = 0.0;  // how long the note-on call took
    double held = 0.0;    // seconds from the note-on to the note-off
    bool afterProgramChange = false;
    // Filled by the analysis.
    std::optional<std::size_t> firstSound;  // frame
    std::size_t sent = 0;                   // frame mixed when the note-on was sent
    std::size_t start = 0;                  // where the note's own sound is taken to begin
    std::size_t soundingEnd = 0;            // frame
    double latencyMs = 0.0;
    double levelBefore = 0.0;  // RMS of what still sounded at the note-on
    int dropouts = 0;
    int gaps = 0;
    std::optional<double> pitchError;  // cents
    std::optional<double> windowWorst;  // largest |cents| of the 100 ms windows
    int windows = 0;
    int windowsLeftOut = 0;
    double clarity = 0.0;
};

struct Dropout {
    std::size_t frame = 0;
    std::size_t length = 0;
    std::size_t note = 0;
};

// Stops the whole process for a moment, as a scheduler that keeps the audio thread off the CPU
// would; forked before any thread exists, it waits for the parent to say when.
class Provoker {
public:
    bool start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        const pid_t parent = getpid();
        m_child = fork();
        if (m_child < 0)
            return false;
        if (m_child == 0) {
            close(fds[1]);
            double plan[2] = {0, 0};  // seconds to wait, milliseconds to stop
            if (read(fds[0], plan, sizeof plan) == static_cast<ssize_t>(sizeof plan) && plan[0] >= 0) {
                timespec wait{static_cast<time_t>(plan[0]), static_cast<long>(std::fmod(plan[0], 1.0) * 1e9)};
                nanosleep(&wait, nullptr);
                const double stopSeconds = plan[1] / 1000.0;
                timespec stop{static_cast<time_t>(stopSeconds), static_cast<long>(std::fmod(stopSeconds, 1.0) * 1e9)};
                kill(parent, SIGSTOP);
                nanosleep(&stop, nullptr);
                kill(parent, SIGCONT);
            }
            _exit(0);
        }
        close(fds[0]);
        m_pipe = fds[1];
        return true;
    }

    void plan(double waitSeconds, double stopMs)
    {
        const double plan[2] = {waitSeconds, stopMs};
        if (m_pipe >= 0 && write(m_pipe, plan, sizeof plan) < 0)
            std::perror("provoker");
    }

    ~Provoker()
    {
        if (m_pipe >= 0)
            close(m_pipe);
        if (m_child > 0)
            waitpid(m_child, nullptr, 0);
    }

private:
    pid_t m_child = -1;
    int m_pipe = -1;
};

std::vector<Note> schedule(double totalSeconds, double period, const std::array<std::int32_t, 12>& cents,
                           double knownDelayMs, bool pianoOnly)
{
    // Piano in the first half, the organ in the second; the reference A every ninth note. Every
    // fourth note is sent a known time after its time stamp, to check the latency estimate.
    // Without a length: every key once per program, with the reference A among them.
    const int perProgram = ((kLastKey - kFirstKey + 1) * 9 + 7) / 8;
    const int count = totalSeconds > 0 ? std::max(4, static_cast<int>(totalSeconds / period))
                                       : (pianoOnly ? perProgram : 2 * perProgram);
    std::vector<Note> notes;
    int key = kFirstKey;
    for (int i = 0; i < count; ++i) {
        const int half = i < count / 2 || pianoOnly ? 0 : 1;
        const int slot = half == 0 ? i : i - count / 2;
        Note n;
        n.program = half == 0 ? 0 : kOrgan;
        n.afterProgramChange = half == 1 && slot < 2;
        n.knownDelayMs = slot % 4 == 2 ? knownDelayMs : 0.0;
        if (slot % 9 == 4) {
            n.channel = 1;
            n.key = kReferenceKey;
        } else {
            n.key = key;
            n.wantedCents = cents[static_cast<std::size_t>(key % 12)];
            key = key == kLastKey ? kFirstKey : key + 1;
        }
        notes.push_back(n);
    }
    return notes;
}

void sendLong(MidiOutput& out, Handle h, const std::uint8_t* data, std::size_t length)
{
    MidiHeader header;
    header.data = data;
    header.length = static_cast<std::uint32_t>(length);
    out.prepareHeader(h, header, kMidiHeaderSize);
    out.longMessage(h, header, kMidiHeaderSize);
}

void selectProgram(MidiOutput& out, Handle h, int program)
{
    for (std::uint8_t channel : {0, 1})
        out.shortMessage(h, packShortMessage(static_cast<std::uint8_t>(0xC0 | channel), static_cast<std::uint8_t>(program)));
}

float level(const std::vector<float>& s, std::size_t frame)
{
    return std::max(std::abs(s[2 * frame]), std::abs(s[2 * frame + 1]));
}

std::size_t frameAt(const Recorder& rec, Clock::time_point t)
{
    const double f = rec.frameAt(t);
    return f <= 0 ? 0 : static_cast<std::size_t>(f);
}

// Energy (mean of the two channels' squares) over the 6 ms up to frame f: longer than a period of
// the lowest key, so that what is left of the previous note reads as a smooth, falling level.
class TrailingEnergy {
public:
    static constexpr std::size_t kWindow = 288;

    explicit TrailingEnergy(const std::vector<float>& samples) : m_s(samples) {}
    double at(std::size_t f) const
    {
        double e = 0.0;
        for (std::size_t i = f >= kWindow ? f - kWindow + 1 : 0; i <= f; ++i)
            e += 0.5 * (double(m_s[2 * i]) * m_s[2 * i] + double(m_s[2 * i + 1]) * m_s[2 * i + 1]);
        return e / kWindow;
    }

private:
    const std::vector<float>& m_s;
};

// First sound: the first frame after the note-on's time at which the trailing level rises 20 %
// above what sounded then, and above -80 dBFS. A new note adds its energy to the previous
// note's release, so it shows within a fraction of a millisecond once it is as loud as that.
void findFirstSound(const Recorder& rec, Note& n)
{
    const auto& s = rec.samples();
    const std::size_t frames = rec.frames();
    const std::size_t sent = frameAt(rec, n.on);
    n.sent = sent;
    if (sent >= frames)
        return;
    const TrailingEnergy energy(s);
    // The loudest of the last 20 ms: a dropout just before the note-on must not pass for silence.
    double before = 0.0;
    for (std::size_t k = 0; k <= 20 && k * 48 <= sent; ++k)
        before = std::max(before, energy.at(sent - k * 48));
    const double threshold = std::max(1.44 * before, double(kAudible) * kAudible);
    const std::size_t last = std::min(frames, sent + static_cast<std::size_t>(0.5 * kRate));
    // Running sum instead of a window per frame.
    n.levelBefore = std::sqrt(before);
    double sum = energy.at(sent) * TrailingEnergy::kWindow;
    for (std::size_t f = sent + 1; f < last; ++f) {
        const std::size_t old = f - TrailingEnergy::kWindow;
        sum += 0.5 * (double(s[2 * f]) * s[2 * f] + double(s[2 * f + 1]) * s[2 * f + 1]);
        sum -= 0.5 * (double(s[2 * old]) * s[2 * old] + double(s[2 * old + 1]) * s[2 * old + 1]);
        if (sum / TrailingEnergy::kWindow > threshold) {
            n.firstSound = f;
            n.start = f;
            n.latencyMs = 1000.0 * (rec.timeOfFrame(static_cast<double>(f)) - rec.timeOfFrame(rec.frameAt(n.on)));
            // It sounds until its note-off arrives, as late after the note-off as the note-on was.
            const double held = seconds(n.off - n.on) - n.knownDelayMs / 1000.0;
            n.soundingEnd = std::min(frames, f + static_cast<std::size_t>((held - 0.005) * kRate));
            n.held = held;
            return;
        }
    }
}

// A note that begins over a release louder than this is not timed: its first sound shows only once
// its attack has grown as loud as that release, late by as much as a slow attack takes.
constexpr double kTimedBelow = 3.2e-3;  // -50 dBFS

// Runs of silent samples (both channels) inside the note's sound.
void findDropouts(const Recorder& rec, Note& n, std::size_t index, std::vector<Dropout>& out)
{
    const auto& s = rec.samples();
    std::size_t run = 0;
    for (std::size_t f = n.start; f < n.soundingEnd; ++f) {
        if (level(s, f) < kSilent) {
            ++run;
            continue;
        }
        if (run >= kDropoutSamples) {
            ++n.dropouts;
            out.push_back({f - run, run, index});
        }
        run = 0;
    }
    if (run >= kDropoutSamples) {
        ++n.dropouts;
        out.push_back({n.soundingEnd - run, run, index});
    }
}

// Gaps against the smoothed envelope: 6 ms of RMS (at least a period of the lowest key) every
// 1 ms falling below 40 % of the loudest of the last 30 ms. Catches underruns that do not show as
// exact zeros (a resampler's or a mixer's smearing), from about 3 ms up.
void findEnvelopeGaps(const Recorder& rec, Note& n, std::vector<std::pair<std::size_t, std::size_t>>& out)
{
    const auto& s = rec.samples();
    constexpr std::size_t window = 288;
    constexpr std::size_t step = 48;
    std::vector<double> recent;  // energies of the last 30 windows not in a gap
    bool inGap = false;
    for (std::size_t f = n.start + 480; f + window < n.soundingEnd; f += step) {
        double e = 0.0;
        for (std::size_t i = f; i < f + window; ++i)
            e += 0.5 * (double(s[2 * i]) * s[2 * i] + double(s[2 * i + 1]) * s[2 * i + 1]);
        e /= window;
        const double reference = recent.empty() ? e : *std::max_element(recent.begin(), recent.end());
        const bool gap = e < 0.16 * reference;  // 40 % in amplitude
        if (gap && !inGap) {
            ++n.gaps;
            out.emplace_back(f, f + window);
        }
        if (gap)
            out.back().second = f + window;
        inGap = gap;
        if (!gap) {
            recent.push_back(e);
            if (recent.size() > 30)
                recent.erase(recent.begin());
        }
    }
}

void measurePitch(const Recorder& rec, Note& n)
{
    const auto& s = rec.samples();
    const std::size_t from = n.start + static_cast<std::size_t>(0.1 * kRate);
    const std::size_t to = n.start + static_cast<std::size_t>(0.6 * kRate);
    if (to > rec.frames())
        return;
    std::vector<float> mono(to - from);
    for (std::size_t f = from; f < to; ++f)
        mono[f - from] = 0.5f * (s[2 * f] + s[2 * f + 1]);
    const double wantedHz = velmora::midi::synth::equalTemperedHz(n.key) * std::pow(2.0, n.wantedCents / 1200.0);
    const auto pitch = velmora::midi::synth::estimatePitchNear(mono, kRate, wantedHz);
    if (!pitch)
        return;
    double cents = velmora::midi::synth::centsBetween(wantedHz, pitch->hz);
    cents -= 1200.0 * std::round(cents / 1200.0);
    n.pitchError = cents;
    n.clarity = pitch->clarity;
}

// Every 100 ms window 50 ms apart from 0.05 s after the first sound to the note-off, but those
// with a dropout or a shorter run of silence in them.
void measureWindows(const Recorder& rec, Note& n, const std::vector<Dropout>& dropouts)
{
    const auto& s = rec.samples();
    const auto width = static_cast<std::size_t>(0.1 * kRate);
    const double wantedHz = velmora::midi::synth::equalTemperedHz(n.key) * std::pow(2.0, n.wantedCents / 1200.0);
    for (std::size_t from = n.start + static_cast<std::size_t>(0.05 * kRate); from + width <= n.soundingEnd;
         from += width / 2) {
        const bool broken = std::any_of(dropouts.begin(), dropouts.end(), [&](const Dropout& d) {
            return d.frame < from + width && d.frame + d.length > from;
        });
        if (broken) {
            ++n.windowsLeftOut;
            continue;
        }
        // A gap too short to count as a dropout still shifts the phase the pitch is read from.
        std::size_t run = 0;
        std::size_t longest = 0;
        std::vector<float> mono(width);
        for (std::size_t f = 0; f < width; ++f) {
            mono[f] = 0.5f * (s[2 * (from + f)] + s[2 * (from + f) + 1]);
            run = level(s, from + f) < kSilent ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        if (longest >= 4) {
            ++n.windowsLeftOut;
            continue;
        }
        const auto hz = velmora::bench::windowHz(mono, kRate, wantedHz);
        if (!hz) {
            ++n.windowsLeftOut;
            continue;
        }
        ++n.windows;
        const double e = std::abs(velmora::midi::synth::centsBetween(wantedHz, *hz));
        n.windowWorst = std::max(n.windowWorst.value_or(0.0), e);
    }
}

void writeWav(const std::string& path, const std::vector<float>& samples)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    auto u32 = [&](std::uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](std::uint16_t v) { std::fwrite(&v, 2, 1, f); };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * sizeof(float));
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(3);  // IEEE float
    u16(2);
    u32(static_cast<std::uint32_t>(kRate));
    u32(static_cast<std::uint32_t>(kRate) * 8);
    u16(8);
    u16(32);
    std::fwrite("data", 1, 4, f);
    u32(bytes);
    std::fwrite(samples.data(), sizeof(float), samples.size(), f);
    std::fclose(f);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

std::string loadAverage()
{
    char text[64] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(text, sizeof text, f))
            text[0] = 0;
        std::fclose(f);
    }
    std::string s(text);
    // The 1-minute figure only.
    return s.substr(0, s.find(' '));
}

const char* programName(int program)
{
    return program == 0 ? "piano" : "organ";
}

// Zero runs inside the sine's sound and breaks in its waveform: each sample against what the two
// before it predict (a sine follows x[n] = 2 cos(w) x[n-1] - x[n-2]).
void reportPlainStream(const Recorder& rec, double hz)
{
    const auto& s = rec.samples();
    const std::size_t frames = rec.frames();
    std::size_t first = frames;
    std::size_t last = 0;
    for (std::size_t f = 0; f < frames; ++f)
        if (level(s, f) > 0.01f) {
            first = std::min(first, f);
            last = f;
        }
    const std::size_t margin = static_cast<std::size_t>(0.1 * kRate);
    if (first >= frames || last < first + 3 * margin) {
        std::printf("plain stream: nothing heard\n");
        return;
    }
    const double c = 2.0 * std::cos(2.0 * M_PI * hz / kRate);
    int dropouts = 0;
    int breaks = 0;
    std::size_t run = 0;
    for (std::size_t f = first + margin; f < last - margin; ++f) {
        if (level(s, f) < kSilent) {
            ++run;
            continue;
        }
        dropouts += run >= kDropoutSamples ? 1 : 0;
        run = 0;
        const double predicted = c * s[2 * (f - 1)] - s[2 * (f - 2)];
        breaks += std::abs(predicted - s[2 * f]) > 1e-3 ? 1 : 0;
    }
    std::printf("plain stream: %d dropouts (>= %zu samples below 1e-7) in %.1f s of sound; %d samples off the sine\n",
                dropouts, kDropoutSamples, static_cast<double>(last - first - 2 * margin) / kRate, breaks);
}

// A steady sine through the simplest stream libpulse has, asking for what the synthesizer asks.
bool playPlainStream(double seconds, double hz)
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(kRate), 2};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(0.010 * kRate) * 2 * sizeof(float);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "audio_heard", PA_STREAM_PLAYBACK, nullptr, "plain sine", &spec, nullptr, &attr, &error);
    if (!stream) {
        std::fprintf(stderr, "cannot play: %s\n", pa_strerror(error));
        return false;
    }
    std::array<float, kReadFrames * 2> chunk{};
    const auto total = static_cast<std::size_t>(seconds * kRate);
    bool ok = true;
    for (std::size_t f = 0; f < total && ok; f += kReadFrames) {
        for (std::size_t i = 0; i < kReadFrames; ++i) {
            const auto v = static_cast<float>(0.1 * std::sin(2.0 * M_PI * hz * static_cast<double>(f + i) / kRate));
            chunk[2 * i] = chunk[2 * i + 1] = v;
        }
        ok = pa_simple_write(stream, chunk.data(), sizeof chunk, &error) >= 0;
    }
    if (ok)
        pa_simple_drain(stream, &error);
    pa_simple_free(stream);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);

    Provoker provoker;
    if (options.provokeAt >= 0 && !provoker.start()) {
        std::perror("fork");
        return 2;
    }

    std::mt19937 random(options.seed);
    std::uniform_int_distribution<int> offset(-30, 30);
    std::array<std::int32_t, 12> cents{};
    for (auto& c : cents)
        c = offset(random);
    const double period = kHoldSeconds + options.gap;
    std::vector<Note> notes = schedule(options.seconds, period, cents, options.knownDelayMs, options.pianoOnly);

    const std::string loadBefore = loadAverage();
    Recorder recorder;
    if (!recorder.start(options.source, static_cast<double>(notes.size()) * period))
        return 2;
    // Some sound-server time before anything plays, so that the first note-on has a baseline.
    recorder.waitForFrames(static_cast<std::size_t>(0.3 * kRate));
    if (options.plainStream) {
        constexpr double kHz = 440.0;
        const bool played = playPlainStream(options.seconds > 0 ? options.seconds : 76.0, kHz);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        recorder.stop();
        recorder.finishTiming();
        if (!options.wav.empty())
            writeWav(options.wav, recorder.samples());
        std::printf("recorded %.1f s of %s; monitor clock vs steady clock: %+.0f ppm, moved by more than 1 ms in "
                    "%d seconds (largest %.1f ms); load average %s before, %s after\n",
                    static_cast<double>(recorder.frames()) / kRate, options.source.c_str(), 1e6 * recorder.drift(),
                    recorder.jumps(), recorder.largestJumpMs(), loadBefore.c_str(), loadAverage().c_str());
        reportPlainStream(recorder, kHz);
        return played && !recorder.failed() ? 0 : 2;
    }

    auto output = createBuiltinSynthOutput(options.sampled ? PianoSound::Sampled : PianoSound::Practice);
    Handle handle = kNoHandle;
    const auto openStart = Clock::now();
    const std::uint32_t opened = output && output->deviceCount() > 0 ? output->open(0, handle) : mmresult::BadDeviceId;
    const double openMs = 1000.0 * seconds(Clock::now() - openStart);
    if (opened != mmresult::NoError) {
        std::fprintf(stderr, "the built-in synthesizer did not open: result %u\n", opened);
        recorder.stop();
        return 2;
    }
    sendLong(*output, handle, kGsResetMsg.data(), kGsResetMsg.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const ScaleTuningMessage tuning = buildScaleTuningMsg(exerciseTuningData(cents));
    sendLong(*output, handle, tuning.data(), tuning.size());
    selectProgram(*output, handle, 0);

    const auto start = Clock::now() + std::chrono::milliseconds(50);
    std::optional<Clock::time_point> provokedAt;
    if (options.provokeAt >= 0) {
        provokedAt = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(std::max(0.0, options.provokeAt + 0.05)));
        provoker.plan(seconds(*provokedAt - Clock::now()), options.provokeMs);
    }
    int program = 0;
    std::optional<Clock::time_point> programChange;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        Note& n = notes[i];
        const auto at = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(static_cast<double>(i) * period));
        if (n.program != program) {
            // Between two notes, as a user choosing another instrument would.
            std::this_thread::sleep_until(at - std::chrono::milliseconds(100));
            programChange = Clock::now();
            selectProgram(*output, handle, n.program);
            program = n.program;
        }
        std::this_thread::sleep_until(at);
        n.on = Clock::now();
        if (n.knownDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(n.knownDelayMs));
        const auto sending = Clock::now();
        output->shortMessage(handle, packShortMessage(static_cast<std::uint8_t>(0x90 | n.channel),
                                                      static_cast<std::uint8_t>(n.key), kVelocity));
        n.sendMs = 1000.0 * seconds(Clock::now() - sending);
        std::this_thread::sleep_until(n.on + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                                 kHoldSeconds + n.knownDelayMs / 1000.0)));
        n.off = Clock::now();
        output->shortMessage(handle, packShortMessage(static_cast<std::uint8_t>(0x80 | n.channel),
                                                      static_cast<std::uint8_t>(n.key), 0x7F));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    output->close(handle);
    recorder.stop();
    recorder.finishTiming();
    if (!options.wav.empty())
        writeWav(options.wav, recorder.samples());

    // Analysis.
    std::vector<Dropout> dropouts;
    std::vector<std::pair<std::size_t, std::size_t>> envelopeGaps;  // frames
    std::vector<double> latencies;
    double soundSeconds = 0.0;
    int silentNotes = 0;
    int brokenPitch = 0;
    int gaps = 0;
    for (Note& n : notes) {
        findFirstSound(recorder, n);
        if (n.firstSound && n.levelBefore < kTimedBelow && n.knownDelayMs == 0)
            latencies.push_back(n.latencyMs);
    }
    // A note that began over a loud release is taken to start as late as the timed ones did.
    const auto typicalDelay = static_cast<std::size_t>(median(latencies) / 1000.0 * kRate);
    for (Note& n : notes)
        if (n.firstSound && n.levelBefore >= kTimedBelow)
        {
            n.start = std::min(*n.firstSound,
                               n.sent + typicalDelay + static_cast<std::size_t>(n.knownDelayMs / 1000.0 * kRate));
            n.soundingEnd = std::min(recorder.frames(), n.start + static_cast<std::size_t>((n.held - 0.005) * kRate));
        }
    for (std::size_t i = 0; i < notes.size(); ++i) {
        Note& n = notes[i];
        if (!n.firstSound) {
            ++silentNotes;
            continue;
        }
        soundSeconds += static_cast<double>(n.soundingEnd - n.start) / kRate;
        findDropouts(recorder, n, i, dropouts);
        findEnvelopeGaps(recorder, n, envelopeGaps);
        gaps += n.gaps;
        const std::size_t from = n.start + static_cast<std::size_t>(0.1 * kRate);
        const std::size_t to = n.start + static_cast<std::size_t>(0.6 * kRate);
        const bool whole = std::none_of(dropouts.begin(), dropouts.end(), [&](const Dropout& d) {
            return d.frame < to && d.frame + d.length > from;
        });
        if (whole && n.gaps == 0)
            measurePitch(recorder, n);
        else
            ++brokenPitch;
        measureWindows(recorder, n, dropouts);
    }

    const double recorded = static_cast<double>(recorder.frames()) / kRate;
    std::printf("recorded %.1f s of %s (48 kHz float stereo), %zu notes, open took %.0f ms; "
                "monitor clock vs steady clock: %+.0f ppm, moved by more than 1 ms in %d seconds "
                "(largest %.1f ms); load average %s before, %s after\n",
                recorded, options.source.c_str(), notes.size(), openMs, 1e6 * recorder.drift(), recorder.jumps(),
                recorder.largestJumpMs(), loadBefore.c_str(), loadAverage().c_str());
    if (options.verbose) {
        std::printf("note  program  ch  key  sound at s  latency ms  send ms  dropouts  gaps  cents off  clarity  "
                    "worst window\n");
        for (std::size_t i = 0; i < notes.size(); ++i) {
            const Note& n = notes[i];
            std::printf("%4zu  %7d  %2d  %3d  %10.3f  %10.2f  %7.2f  %8d  %4d  %9s  %7.3f  %8.4f%s\n", i, n.program,
                        n.channel + 1, n.key, n.firstSound ? static_cast<double>(*n.firstSound) / kRate : 0.0,
                        n.firstSound ? n.latencyMs : -1.0, n.sendMs, n.dropouts, n.gaps,
                        n.pitchError ? std::to_string(*n.pitchError).substr(0, 7).c_str() : "-", n.clarity,
                        n.windowWorst.value_or(-1.0),
                        n.knownDelayMs > 0                 ? "  (sent after the known delay)"
                        : n.levelBefore >= kTimedBelow ? "  (began over a release: not timed)"
                                                       : "");
        }
    }
    if (silentNotes == static_cast<int>(notes.size())) {
        std::fprintf(stderr, "no note reached %s: does the synthesizer play to that server?\n",
                     options.source.c_str());
        return 2;
    }
    if (silentNotes > 0)
        std::printf("NO SOUND for %d of %zu notes\n", silentNotes, notes.size());

    std::printf("dropouts (>= %zu samples below 1e-7 inside notes): %zu in %.1f s of sound; "
                "envelope gaps (>= ~3 ms): %d\n",
                kDropoutSamples, dropouts.size(), soundSeconds, gaps);
    std::size_t missing = 0;
    for (const Dropout& d : dropouts)
        missing += d.length;
    if (!dropouts.empty())
        std::printf("  %.1f ms silent in all; longest %zu samples\n", 1000.0 * static_cast<double>(missing) / kRate,
                    std::max_element(dropouts.begin(), dropouts.end(), [](auto& a, auto& b) {
                        return a.length < b.length;
                    })->length);
    if (!dropouts.empty() && programChange) {
        const double change = recorder.frameAt(*programChange);
        const auto near = std::count_if(dropouts.begin(), dropouts.end(), [&](const Dropout& d) {
            return double(d.frame) >= change && double(d.frame) < change + 2.0 * kRate;
        });
        const auto first = std::count_if(dropouts.begin(), dropouts.end(), [](const Dropout& d) { return d.note == 0; });
        std::printf("  %td in the first note, %td in the 2 s after the program change\n", first, near);
    }
    if (provokedAt) {
        const double at = recorder.frameAt(*provokedAt) / kRate;
        std::printf("  the process was stopped for %.0f ms at about %.3f s; dropouts within 0.5 s after:", options.provokeMs,
                    at);
        for (const Dropout& d : dropouts) {
            const double t = static_cast<double>(d.frame) / kRate;
            if (t >= at - 0.05 && t < at + 0.5)
                std::printf(" %.3f s %.1f ms;", t, 1000.0 * static_cast<double>(d.length) / kRate);
        }
        std::printf("\n");
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(dropouts.size(), 12); ++i) {
        const Dropout& d = dropouts[i];
        const Note& n = notes[d.note];
        std::printf("  at %7.3f s (%.3f s into note %zu, %s key %d): %zu samples\n",
                    static_cast<double>(d.frame) / kRate, static_cast<double>(d.frame - n.start) / kRate, d.note,
                    programName(n.program), n.key, d.length);
    }
    if (dropouts.size() > 12)
        std::printf("  ... %zu more\n", dropouts.size() - 12);
    const auto unexplained = std::count_if(envelopeGaps.begin(), envelopeGaps.end(), [&](const auto& g) {
        return std::none_of(dropouts.begin(), dropouts.end(), [&](const Dropout& d) {
            return d.frame < g.second && d.frame + d.length > g.first;
        });
    });
    if (unexplained > 0)
        std::printf("  %td envelope gaps without a run of zeros in them\n", unexplained);

    if (!latencies.empty()) {
        const auto worst = std::max_element(latencies.begin(), latencies.end());
        double longestSend = 0.0;
        int untimed = 0;
        for (const Note& n : notes) {
            longestSend = std::max(longestSend, n.sendMs);
            untimed += n.firstSound && n.levelBefore >= kTimedBelow ? 1 : 0;
        }
        std::printf("latency note-on -> first sound at the monitor: median %.1f ms, worst %.1f ms over %zu notes",
                    median(latencies), *worst, latencies.size());
        for (const Note& n : notes)
            if (n.firstSound) {
                std::printf(", the first %.1f ms", n.latencyMs);
                break;
            }
        std::printf("; the note-on call took up to %.1f ms\n", longestSend);
        if (provokedAt) {
            // What a stall leaves behind: the buffer grows once and comes back after a quiet minute.
            const auto phase = [&](double from, double to) {
                std::vector<double> v;
                for (const Note& n : notes) {
                    const double t = seconds(n.on - *provokedAt);
                    if (n.program == 0 && n.firstSound && n.levelBefore < kTimedBelow && n.knownDelayMs == 0 &&
                        t >= from && t < to)
                        v.push_back(n.latencyMs);
                }
                return v;
            };
            const std::pair<const char*, std::vector<double>> phases[] = {
                {"before the stop", phase(-1e9, 0.0)},
                {"0.5..20 s after", phase(0.5, 20.0)},
                {"20..60 s after", phase(20.0, 60.0)},
                {"62 s and more after", phase(62.0, 1e9)},
            };
            std::printf("  latency around the stop (piano, timed notes), median / worst:");
            for (const auto& [name, v] : phases)
                if (!v.empty())
                    std::printf(" %s %.1f / %.1f ms (%zu);", name, median(v), *std::max_element(v.begin(), v.end()),
                                v.size());
            std::printf("\n");
        }
        if (untimed > 0)
            std::printf("  %d notes not timed: they began over a release louder than -50 dBFS\n", untimed);
        // The known delay, per program: the same estimate, later by exactly that much.
        for (int p : {0, kOrgan}) {
            std::vector<double> plain;
            std::vector<double> late;
            for (const Note& n : notes)
                if (n.program == p && n.firstSound && n.levelBefore < kTimedBelow)
                    (n.knownDelayMs > 0 ? late : plain).push_back(n.latencyMs);
            if (!plain.empty() && !late.empty())
                std::printf("  check, %s: notes sent %.0f ms after their time stamp read %+.1f ms later (%zu and %zu notes)\n",
                            programName(p), options.knownDelayMs, median(late) - median(plain), late.size(),
                            plain.size());
        }
    }
    std::printf("pitch over 0.1..0.6 s after first sound, cents from 12-TET (A4 = 440 Hz) plus the tuning sent "
                "(%d notes left out: a dropout or gap in that stretch):\n", brokenPitch);
    std::vector<double> reference;
    for (const Note& n : notes)
        if (n.channel == 1 && n.pitchError)
            reference.push_back(*n.pitchError);
    if (!reference.empty()) {
        double sum = 0.0;
        for (double c : reference)
            sum += c;
        const auto [lo, hi] = std::minmax_element(reference.begin(), reference.end());
        std::printf("  reference A (channel 2): mean %+.3f, %+.3f .. %+.3f (%zu notes)\n",
                    sum / static_cast<double>(reference.size()), *lo, *hi, reference.size());
    }
    if (reference.empty())
        std::printf("  reference A (channel 2): none measured\n");
    for (int p : {0, kOrgan}) {
        double worst = 0.0;
        double worstSettled = 0.0;
        int measured = 0;
        int unmeasured = 0;
        for (const Note& n : notes) {
            if (n.program != p || n.channel != 0)
                continue;
            if (!n.pitchError) {
                ++unmeasured;
                continue;
            }
            ++measured;
            worst = std::max(worst, std::abs(*n.pitchError));
            if (!n.afterProgramChange)
                worstSettled = std::max(worstSettled, std::abs(*n.pitchError));
        }
        std::printf("  %s (program %d): max |error| %.3f over %d keys", programName(p), p, worst, measured);
        if (p != 0)
            std::printf(", %.3f without the two keys right after the program change", worstSettled);
        if (unmeasured > 0)
            std::printf(", %d not measured", unmeasured);
        std::printf("\n");
    }
    for (int channel : {0, 1}) {
        double worst = 0.0;
        int worstKey = 0;
        int windows = 0;
        int leftOut = 0;
        int keys = 0;
        for (const Note& n : notes) {
            if (n.program != 0 || n.channel != channel)
                continue;
            windows += n.windows;
            leftOut += n.windowsLeftOut;
            keys += n.windowWorst ? 1 : 0;
            if (n.windowWorst && *n.windowWorst > worst) {
                worst = *n.windowWorst;
                worstKey = n.key;
            }
        }
        std::printf("  %s, 100 ms windows 50 ms apart from 0.05 s to the note-off: worst |cents| %.4f (key %d) over "
                    "%d windows of %d notes, %d windows left out (dropout or no pitch)\n",
                    channel == 0 ? "piano" : "reference A", worst, worstKey, windows, keys, leftOut);
    }
    std::printf("  beyond 0.5 cent:");
    int outliers = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const Note& n = notes[i];
        if (n.pitchError && std::abs(*n.pitchError) > 0.5) {
            std::printf("%s note %zu %s key %d%s %+.2f", outliers++ ? "," : "", i, programName(n.program), n.key,
                        n.channel == 1 ? " (ref)" : "", *n.pitchError);
            if (programChange && n.program != 0)
                std::printf(" (%.1f s after the program change)", seconds(n.on - *programChange));
        }
    }
    std::printf("%s\n", outliers ? "" : " none");
    return recorder.failed() ? 2 : 0;
}
