#pragma once

#include "midi/synth/KeyTuning.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace velmora::midi::synth {

class SynthEngine;

// How long a key is rendered to measure it: the onset is skipped and the rest of a held note
// averaged, 0.1 to 1.5 s, weighted by its loudness: a learner holds a note for seconds while
// comparing it, and a piano's pitch drifts by a cent or more within it (sharper in the attack,
// flatter later), so a shorter stretch would put the whole held note off. Many sounds have no
// fixed pitch within it (vibrato, beating layers, a looped sample that is not a whole number of
// periods and so wanders by a few cents); what is heard and compared is then the average, and
// that is what is measured and corrected.
struct KeyMeasurement {
    double settleSeconds = 0.10;
    double measureSeconds = 1.40;
    int velocity = 100;  // the velocity the program plays with
};

struct KeyPitch {
    double hz = 0.0;
    // Cents between the two halves of the window: near 0 for a steady tone, large where
    // vibrato, a pitch envelope or beating layers leave the pitch undefined to a cent.
    double driftCents = 0.0;
    // How periodic the tone is, as PitchEstimate::clarity.
    double clarity = 0.0;
};

// As measureKeyHz, with the halves of the window measured apart as well.
std::optional<KeyPitch> measureKey(SynthEngine& engine, int channel, int key, const KeyMeasurement& how = {});

// Plays a key on a channel of an engine rendered offline, measures the fundamental and
// silences the channel again: the frequency of the partial nearest the key's nominal pitch,
// nullopt when none is found.
std::optional<double> measureKeyHz(SynthEngine& engine, int channel, int key, const KeyMeasurement& how = {});

// The keys the program plays: its keyboard, the computer keys, the closing run and the reference
// A all lie here, so a program is measured in a third of the time a wider range would take and
// its correction is in place before the user has moved from the instrument window to the keys.
struct CalibrationRange {
    int firstKey = 53;
    int lastKey = 76;
};

// The correction that brings each measured key to equal temperament; 0 for keys not measured.
KeyCents correctionFor(const std::array<std::optional<double>, kKeys>& deviations);

// Measures presets on a private, silent synthesizer instance of its own.
class ProgramCalibrator {
public:
    // nullptr when FluidSynth cannot be created or the SoundFont cannot be loaded.
    // `fluidLock` as SynthEngineConfig::fluidLock: the live engine's, when the two run at once.
    static std::unique_ptr<ProgramCalibrator> create(const std::filesystem::path& soundFont, double sampleRate,
                                                     CalibrationRange range = {}, KeyMeasurement how = {},
                                                     std::shared_ptr<std::mutex> fluidLock = nullptr);
    ~ProgramCalibrator();

    // How far each key of the range sounds from equal temperament at zero detune, in cents, its
    // average pitch over the measured window; nullopt outside the range and for keys without a
    // measurable pitch near the nominal one, which are better left as the SoundFont has them
    // than corrected by a guess. Once `stop` is set the keys not yet measured are left out.
    std::array<std::optional<double>, kKeys> deviations(PresetId preset, const std::atomic<bool>* stop = nullptr);
    // The correction that brings each measured key to equal temperament; 0 elsewhere.
    KeyCents correction(PresetId preset, const std::atomic<bool>* stop = nullptr);

private:
    ProgramCalibrator(std::unique_ptr<SynthEngine> engine, CalibrationRange range, KeyMeasurement how);

    std::unique_ptr<SynthEngine> m_engine;
    CalibrationRange m_range;
    KeyMeasurement m_how;
};

}  // namespace velmora::midi::synth
