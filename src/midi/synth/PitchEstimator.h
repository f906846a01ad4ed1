#pragma once

#include <optional>
#include <span>

namespace velmora::midi::synth {

// Where to look for the fundamental, in Hz. A narrow band around an expected pitch keeps a
// tone with a weak or missing partial from being read an octave off.
struct PitchSearch {
    double minHz = 40.0;
    double maxHz = 4200.0;

    // A fifth either side of the expected frequency.
    static PitchSearch around(double expectedHz);
};

struct PitchEstimate {
    double hz = 0.0;
    // How periodic the tone was, 0 (noise) .. 1 (a steady periodic tone).
    double clarity = 0.0;
};

// Frequency of the first partial of a tone. A periodicity search finds the period and rules
// out octave errors; the first partial's phase, followed from frame to frame, then gives its
// frequency exactly, averaged over the whole signal with a smooth weighting so that vibrato
// cancels out, and unaffected by upper partials that are stretched as on a piano. nullopt for
// silence, noise, or a signal shorter than about eight periods of the lowest frequency sought.
std::optional<PitchEstimate> estimateFundamental(std::span<const float> signal, double sampleRate,
                                                 const PitchSearch& search = {});

// Frequency of the partial nearest `expectedHz`: the one heard as the note's pitch, also when
// the sound has a quieter rank an octave below (an organ's 16-foot stop) or a weak first partial.
// The period is searched from a little over an octave below to a fifth above, and where nothing
// repeats clearly there, from a little over two octaves below: ranks that are not harmonics of
// the note (a drawbar organ's, a chord-like lead) may repeat only that far down.
std::optional<PitchEstimate> estimatePitchNear(std::span<const float> signal, double sampleRate, double expectedHz);

// Cents from `referenceHz` to `hz`.
double centsBetween(double referenceHz, double hz);

// Equal-tempered frequency of a MIDI key with A4 (key 69) at 440 Hz.
double equalTemperedHz(double key);

}  // namespace velmora::midi::synth
