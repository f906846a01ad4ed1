#pragma once

#include "midi/synth/FluidHandles.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::midi::synth {

class SynthEngine;

// The audio path the device asks for: a few short periods, so that a key sounds within
// milliseconds of its note-on.
struct AudioConfig {
    double sampleRate = 48000.0;
    int periodSize = 128;
    int periods = 3;
};

// What an audio output runs at once opened.
struct AudioFormat {
    std::string driver;
    double sampleRate = 0.0;
    int periodSize = 0;
    int periods = 0;

    // Time a rendered sample waits in the output's buffers before it leaves.
    double bufferMilliseconds() const { return sampleRate > 0 ? 1000.0 * periodSize * periods / sampleRate : 0.0; }
};

// What a driver reported granting instead of what was asked for.
struct DriverGrant {
    std::optional<unsigned> sampleRate;
    std::optional<int> periodSize;
    std::optional<int> periods;
};

// Reads FluidSynth's driver warnings ("Requested sample rate of 48000, got 44100 instead ...").
void readDriverMessage(std::string_view message, DriverGrant& grant);

// The drivers to try, best first, among those this FluidSynth offers: the desktop's sound server,
// then the bare sound card, then the rest. Drivers that write files or need their library set up
// by the application are left out.
std::vector<std::string> audioDriverOrder(const std::vector<std::string>& offered);
// The audio drivers this FluidSynth build was made with.
std::vector<std::string> offeredAudioDrivers();

// FluidSynth's log, which is process-wide: real errors go to stderr, warnings and chatter are
// dropped, and while a driver is being tried everything is kept from stderr (a failing driver is
// expected on the way to one that works) and the driver's grants are read. Lives as long as any
// synthesizer may log.
class FluidLog {
public:
    FluidLog();
    ~FluidLog();
    FluidLog(const FluidLog&) = delete;
    FluidLog& operator=(const FluidLog&) = delete;

    void beginProbe(DriverGrant* grant) { m_probe.store(grant); }
    void endProbe() { m_probe.store(nullptr); }

private:
    static void onMessage(int level, const char* message, void* data);
    std::atomic<DriverGrant*> m_probe{nullptr};
};

// A running audio output playing one engine. Destroying it fades the sound out and lets the
// output play that before it goes, so that closing never cuts a wave in the middle.
class AudioStream {
public:
    virtual ~AudioStream() = default;
    // A copy: an output that reconnects by itself may change it from its own thread.
    virtual AudioFormat format() const = 0;
};

// The fade at the end of a stream, applied by the rendering thread to what it renders: a linear
// ramp from full level to silence, then silence. Only two atomics are shared, so the renderer
// never waits for the thread that asks for the fade.
class OutputFade {
public:
    // From any thread: the ramp starts with the next rendered frame and lasts `frames`.
    void begin(int frames) { m_length.store(frames > 0 ? frames : 1, std::memory_order_release); }
    // The ramp has been rendered; from now on the renderer writes silence.
    bool finished() const { return m_finished.load(std::memory_order_acquire); }
    // Rendering thread: scales `frames` frames of two channels, `stride` floats apart.
    void apply(float* left, float* right, std::size_t frames, std::size_t stride);

private:
    std::atomic<int> m_length{0};
    std::atomic<bool> m_finished{false};
    int m_done = 0;  // rendering thread only
};

// The ramp's length: long enough that no step is heard, short enough that closing does not wait.
inline constexpr double kFadeMilliseconds = 5.0;

// How the device gets its sound out. `makeEngine` builds an engine for a sample rate; the
// backend may build again when the output turns out to run at another rate.
class AudioBackend {
public:
    using EngineFactory = std::function<std::unique_ptr<SynthEngine>(double sampleRate)>;

    struct Started {
        std::unique_ptr<SynthEngine> engine;
        std::unique_ptr<AudioStream> stream;  // destroyed before the engine
    };

    virtual ~AudioBackend() = default;
    // nullopt when no audio output can be opened or no engine built.
    virtual std::optional<Started> start(const EngineFactory& makeEngine) = 0;
};

// FluidSynth's own audio drivers, tried in audioDriverOrder, less the ones left out.
std::unique_ptr<AudioBackend> makeFluidAudioBackend(AudioConfig config, FluidLog& log,
                                                    std::vector<std::string> leftOut = {});

}  // namespace velmora::midi::synth
