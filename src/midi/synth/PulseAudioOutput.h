#pragma once

#include "midi/synth/AudioOutput.h"
#include "midi/synth/StreamBufferPolicy.h"

#include <atomic>
#include <memory>

namespace velmora::midi::synth {

// What the server's stream did, shared between the backend (which outlives every stream) and
// the stream's threads.
struct PulseStreamStats {
    std::atomic<double> targetMilliseconds{0.0};
    // The server is gone and the stream has not reconnected yet.
    std::atomic<bool> lost{false};
    std::atomic<int> reconnections{0};
};

// Plays through a PulseAudio server (also PipeWire's pulse server): the server's mainloop thread
// asks for audio and the engine renders exactly that much in the callback, so nothing between
// the synthesizer and the server blocks or waits. Without a server, start() returns nullopt; a
// server that takes the connection but does not answer in time gives a stream that starts lost.
//
// A stream whose server goes away, or never answered, reconnects by itself on a thread of its
// own, trying every half second; meanwhile that thread renders the engine into nothing at the
// pace of the clock, so that notes end and messages are taken in as if heard, and the stream
// plays on from the same engine, its programs and tunings untouched, once a server is back. The
// same thread does so while a server that is there asks for nothing for 100 ms (a suspended
// sink), never at the same time as the server's own request. The engine's rate is the stream's:
// the server converts it to its output's.
std::unique_ptr<AudioBackend> makePulseAudioBackend(PulseLatency latency,
                                                    std::shared_ptr<PulseStreamStats> stats = {});

// The desktop's sound server first, FluidSynth's own drivers for the bare sound card after it.
std::unique_ptr<AudioBackend> makeDesktopAudioBackend(FluidLog& log,
                                                      std::shared_ptr<PulseStreamStats> stats = {});

}  // namespace velmora::midi::synth
