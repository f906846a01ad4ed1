#pragma once

#include "midi/synth/FluidHandles.h"
#include "midi/synth/KeyTuning.h"
#include "midi/synth/PracticePiano.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace velmora::midi::synth {

// Where the engine gets each preset's pitch correction from.
class CalibrationProvider {
public:
    virtual ~CalibrationProvider() = default;
    // The correction for a preset, or nullptr while it is not yet measured: the provider then
    // measures it and the owner calls SynthEngine::calibrationReady when it is.
    virtual std::shared_ptr<const KeyCents> calibration(PresetId preset) = 0;
    // No channel plays the preset any more: a measurement not yet begun is not wanted.
    virtual void withdraw(PresetId) {}
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
    // Held by every call of the engine into FluidSynth. FluidSynth keeps the samples it reads in
    // one cache for the whole process, and in 2.3 two synthesizers loading and unloading the same
    // entry from two threads can free it under each other: engines used from different threads
    // on one SoundFont share this lock. nullptr: the engine has a lock of its own.
    std::shared_ptr<std::mutex> fluidLock;
    // Program 0 (bank 0) on every channel but the drums' is the practice piano, generated here
    // rather than played from the SoundFont's samples; it needs no calibration.
    bool practicePiano = false;
};

// The GS synthesizer itself: one FluidSynth instance, the channel and system-exclusive messages
// the program sends, and one key tuning per channel that holds the GS scale tuning together with
// the pitch correction of the channel's program. The device drives it through an audio driver;
// tests, benchmarks and the calibration render it offline through the same message handling.
//
// Threads. The GUI thread sends messages; the calibration worker calls calibrationReady; the
// audio driver's thread renders. Every call of ours into FluidSynth holds the engine's lock
// (SynthEngineConfig::fluidLock), except rendering: FluidSynth hands note and tuning changes to
// the renderer through a queue that it drains at the start of each block, so the renderer takes
// no lock, frees nothing and never waits for the GUI. The renderer makes no other FluidSynth
// call: any API call may finish voices, and with dynamic sample loading unload the samples of
// an instrument no longer selected, which takes the sample cache's lock, logs and frees. What
// FluidSynth requires is one rendering thread at a time: render() is only for an engine that no
// driver is attached to.
//
// Pitch dither. FluidSynth turns a voice's pitch into a playback rate through a table of whole
// cents, dropping the fraction, so a key tuned to 6899.6 cents plays at 6899. Every voice is
// therefore raised half a cent and swept by a triangle of +-0.5 cent at 110 Hz, the vibrato LFO
// of a voice whose instrument has no vibrato of its own (FluidSynth reads it once per 64-frame
// block): the average of floor(p + 0.5 + u) over the sweep is p, so every key sounds at its exact
// tuning averaged over a tenth of a second, and the pitch wobbles by one cent at 110 Hz, far too
// fast and too small to hear (side bands some 60 dB below the A's fundamental). It runs inside
// FluidSynth's own voices, set up at note-on on the sending thread.
//
// The practice piano. With SynthEngineConfig::practicePiano, program 0 is played by PracticePiano
// beside FluidSynth: its notes never reach FluidSynth, its pitch is the equal-tempered key moved
// by the scale tuning, exactly (no calibration is asked for or applied), and the renderer adds
// it to FluidSynth's output. Pedal, note-offs, All Notes Off and All Sound Off go to both.
//
// Corrections reach new notes only. A key's calibration correction is written to FluidSynth's
// tuning when the key is struck, so a note held while its program's calibration lands, or while
// the program changes, keeps the pitch it started with; a GS scale-tuning message retunes the
// sounding notes at once, as a synthesizer does, each on top of the correction it started with.
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

    // A preset's correction has been measured: the channels that play it use it from their next
    // note on.
    void calibrationReady(PresetId preset);

    double sampleRate() const;
    fluid_settings_t* settings() const { return m_settings.get(); }
    fluid_synth_t* fluidSynth() const { return m_synth.get(); }

    // What the engine has set, for tests and benchmarks.
    PresetId presetOn(int channel) const;
    std::array<int, 12> scaleTuning(int channel) const;
    // Absolute pitch in cents at which the next note of a key on a channel sounds (key 69 at
    // 6900 when in tune).
    double keyPitch(int channel, int key) const;

private:
    SynthEngine(FluidSettingsPtr settings, FluidSynthPtr synth, CalibrationProvider* calibration,
                std::shared_ptr<std::mutex> lock, int polyphony);

    struct Channel {
        PresetId preset;
        int bankSelect = 0;
        std::array<int, 12> scaleCents{};
        // The correction of the channel's program, and the one each key's tuning in FluidSynth
        // holds: the latter catches up when the key is next struck.
        KeyCents correction{};
        KeyCents applied{};
    };

    void resetChannelsLocked();
    void fetchCorrectionLocked(int channel);
    void releasePresetLocked(PresetId preset);
    void writeTuningLocked(int channel, bool retuneSounding);
    void noteOnLocked(int channel, int key, int velocity);
    void controlChangeLocked(int channel, int controller, int value);
    void programChangeLocked(int channel, int program);
    void renderFrames(int frames, float* left, float* right, int increment);
    bool playsPracticePianoLocked(int channel) const;
    void pianoControlChangeLocked(int channel, int controller, int value);

    // Destroyed in reverse: synth before settings.
    FluidSettingsPtr m_settings;
    FluidSynthPtr m_synth;
    CalibrationProvider* m_calibration;
    bool m_hasSoundFont = false;

    std::shared_ptr<std::mutex> m_lock;
    std::array<Channel, kChannels> m_channels{};
    // The voices of the note just started are found in here; sized for the polyphony.
    std::vector<fluid_voice_t*> m_voices;
    // Program 0's sound when the config asks for it; null otherwise.
    std::unique_ptr<PracticePiano> m_piano;
};

}  // namespace velmora::midi::synth
