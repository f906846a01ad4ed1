#pragma once

#include "midi/synth/AudioOutput.h"

#include <atomic>
#include <memory>

namespace velmora::midi::synth {

// How much the sound server keeps queued for the synthesizer. The buffer starts small for a
// quick key and grows by itself after an underrun, remembered for the rest of the run, so that a
// busy machine costs a few milliseconds of latency instead of clicks.
struct PulseLatency {
    double initialMilliseconds = 10.0;
    double maximumMilliseconds = 120.0;
    double growth = 1.5;
};

// What the server's stream did, shared between the backend (which outlives every stream) and
// the stream's callback thread.
struct PulseStreamStats {
    std::atomic<double> targetMilliseconds{0.0};
    std::atomic<bool> lost{false};
};

// Plays through a PulseAudio server (also PipeWire's pulse server): the server's mainloop thread
// asks for audio and the engine renders exactly that much in the callback, so nothing between
// the synthesizer and the server blocks or waits. Without a server, start() returns nullopt.
std::unique_ptr<AudioBackend> makePulseAudioBackend(PulseLatency latency,
                                                    std::shared_ptr<PulseStreamStats> stats = {});

// The desktop's sound server first, FluidSynth's own drivers for the bare sound card after it.
std::unique_ptr<AudioBackend> makeDesktopAudioBackend(FluidLog& log,
                                                      std::shared_ptr<PulseStreamStats> stats = {});

}  // namespace velmora::midi::synth
