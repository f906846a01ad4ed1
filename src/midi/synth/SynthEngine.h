#pragma once

#include "midi/synth/FluidHandles.h"
#include "midi/synth/KeyTuning.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>

namespace velmora::midi::synth {

// Where the engine gets each preset's pitch correction from.
class CalibrationProvider {
public:
    virtual ~CalibrationProvider() = default;
    // The correction for a preset, or nullptr while it is not yet measured: the provider then
    // measures it and the owner calls SynthEngine::calibrationReady when it is.
    virtual std::shared_ptr<const KeyCents> calibration(PresetId preset) = 0;
};

struct SynthEngineConfig {
    double sampleRate = 48000.0;
    int polyphony = 64;
    double gain = 0.4;
    // Samples of a preset are read when a channel selects it rather than all at load time: a
    // large SoundFont then loads in a fifth of the time and memory, and a program change on the
    // sending thread takes tens of milliseconds to read its samples (the renderer does not wait).
    bool dynamicSampleLoading = true;
    // Pin the samples in memory so that rendering never waits for a page fault.
    bool lockSampleMemory = true;
};

// The GS synthesizer itself: one FluidSynth instance, the channel and system-exclusive messages
// the program sends, and one key tuning per channel that holds the GS scale tuning together with
// the pitch correction of the channel's program. The device drives it through an audio driver;
// tests, benchmarks and the calibration render it offline through the same message handling.
//
// Threads. The GUI thread sends messages; the calibration worker calls calibrationReady; the
// audio driver's thread renders. FluidSynth (synth.threadsafe-api on) serialises every API call
// under its own mutex and hands note and tuning changes to the renderer through a queue that the
// renderer drains at the start of each block, so the renderer never takes that mutex and never
// waits for the GUI. What FluidSynth requires is one rendering thread at a time: render() is
// only for an engine that no driver is attached to. Between blocks the renderer moves each
// channel's fine tune (the pitch dither below), an API call like any other; it makes it only
// when it can take m_mutex without waiting, which every call of ours into FluidSynth holds, so
// the audio thread never waits for FluidSynth's lock (a program change that reads samples from
// disk holds it for tens of milliseconds).
//
// Pitch dither. FluidSynth turns a voice's pitch into a playback rate through a table of whole
// cents, dropping the fraction, so a key tuned to 6899.6 cents plays at 6899. Every rendered
// block therefore adds a fine tune u in [0, 1) cent to all channels, u running through a
// low-discrepancy sequence: the average of floor(p + u) is p, so every key sounds at its exact
// tuning averaged over a few blocks, and the pitch wobbles by one cent at the block rate, far too
// fast and too small to hear (side bands 50 dB down). The engine's own per-channel state is guarded
// by m_mutex, always taken before FluidSynth's and never the other way round (FluidSynth calls
// nothing of ours), so the two threads that send cannot deadlock and each tuning written to
// FluidSynth matches the state it was computed from.
class SynthEngine {
public:
    // nullptr when FluidSynth cannot be created. `calibration` may be null (no correction) and
    // must outlive the engine.
    static std::unique_ptr<SynthEngine> create(const SynthEngineConfig& config,
                                               CalibrationProvider* calibration = nullptr);
    ~SynthEngine();
    SynthEngine(const SynthEngine&) = delete;
    SynthEngine& operator=(const SynthEngine&) = delete;

    // Loads the SoundFont and selects the default programs; false when it cannot be loaded.
    bool loadSoundFont(const std::filesystem::path& file);

    // Status in bits 0-7, data bytes in bits 8-15 and 16-23.
    void shortMessage(std::uint32_t packed);
    // One complete system-exclusive message, F0 .. F7; anything not understood changes nothing.
    void systemExclusive(std::span<const std::uint8_t> message);
    // The device reset: every note and pedal released on every channel.
    void releaseAll();
    // Programs, controllers and every part's scale tuning back to the defaults.
    void systemReset();

    // Renders the next frames. The audio driver's callback renders through here too; offline use
    // (tests, calibration) only while no driver is attached.
    void render(std::span<float> left, std::span<float> right);
    // The same, into frames of two interleaved samples, left first.
    void renderInterleaved(std::span<float> stereo);
    // The audio driver's callback (new_fluid_audio_driver2), `data` being the engine.
    static int renderCallback(void* data, int frames, int effectCount, float* effects[], int outCount, float* out[]);

    // A preset's correction has been measured: re-tune the channels that play it.
    void calibrationReady(PresetId preset);

    double sampleRate() const;
    fluid_settings_t* settings() const { return m_settings.get(); }
    fluid_synth_t* fluidSynth() const { return m_synth.get(); }

    // What the engine has set, for tests and benchmarks.
    PresetId presetOn(int channel) const;
    std::array<int, 12> scaleTuning(int channel) const;
    // Absolute pitch of a key on a channel in cents (key 69 at 6900 when in tune).
    double keyPitch(int channel, int key) const;

private:
    SynthEngine(FluidSettingsPtr settings, FluidSynthPtr synth, CalibrationProvider* calibration);

    struct Channel {
        PresetId preset;
        int bankSelect = 0;
        std::array<int, 12> scaleCents{};
        KeyCents pitches{};
    };

    void resetChannelsLocked();
    void applyTuningLocked(int channel);
    void controlChangeLocked(int channel, int controller, int value);
    void programChangeLocked(int channel, int program);
    void advanceDither();
    void renderFrames(int frames, float* left, float* right, int increment);

    // Destroyed in reverse: synth before settings.
    FluidSettingsPtr m_settings;
    FluidSynthPtr m_synth;
    CalibrationProvider* m_calibration;
    bool m_hasSoundFont = false;

    // Touched by the rendering thread only.
    double m_dither = 0.0;
    int m_blockOffset = 0;

    mutable std::mutex m_mutex;
    std::array<Channel, kChannels> m_channels{};
};

}  // namespace velmora::midi::synth
