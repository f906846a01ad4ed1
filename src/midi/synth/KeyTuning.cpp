#include "midi/synth/KeyTuning.h"

namespace velmora::midi::synth {

KeyCents keyPitches(const std::array<int, 12>& scaleCents, const KeyCents& calibration)
{
    KeyCents pitches{};
    for (int key = 0; key < kKeys; ++key)
        pitches[static_cast<std::size_t>(key)] = 100.0 * key + calibration[static_cast<std::size_t>(key)]
            + scaleCents[static_cast<std::size_t>(key % 12)];
    return pitches;
}

}  // namespace velmora::midi::synth
