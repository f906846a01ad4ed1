#pragma once

#include "midi/synth/KeyTuning.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace velmora::midi::synth {

// How the practice piano sounds, in one place. A string per key, its partials exact multiples of
// the key's frequency so that every interval beats at exactly the rate its tuning gives; each
// partial decays in two stages (the prompt sound, then the slower aftersound), the upper ones
// faster, as a struck string does.
struct PracticePianoVoicing {
    // Partials per string; fewer where they would pass kHighestPartialShare of the sample rate.
    static constexpr int kPartials = 12;
    static constexpr double kHighestPartialShare = 0.42;
    // Amplitude of partial n is n^-tilt: soft strokes are dull, hard ones bright.
    static constexpr double kTiltSoft = 1.9;
    static constexpr double kTiltHard = 0.8;
    // Loudness grows with the velocity's square (40 dB over the range, as General MIDI has it).
    static constexpr double kVelocityExponent = 2.0;
    // Output of a key at velocity 127 with its partials in phase; about as loud as the General
    // MIDI piano at the same velocity.
    static constexpr double kLevel = 0.09;
    // Hammer contact: the attack rises over this many 64-frame blocks (2.7 ms at 48 kHz).
    static constexpr int kAttackBlocks = 2;
    // Decay of the fundamental of middle C, dB per second: the prompt sound, and the aftersound
    // that carries on at kAftersoundShare of the first amplitude. Other keys scale by
    // (f / 261.6 Hz)^kDecayExponent; partial n by 1 + kUpperDecay (n - 1).
    static constexpr double kPromptDbPerSecond = 14.0;
    static constexpr double kAftersoundDbPerSecond = 2.5;
    static constexpr double kAftersoundShare = 0.14;
    static constexpr double kDecayExponent = 0.55;
    static constexpr double kUpperDecay = 0.7;
    // The hammer's knock: at the stroke every partial is louder by this share, which dies away
    // within a tenth of a second or so, the upper partials again faster.
    static constexpr double kKnockShare = 0.5;
    static constexpr double kKnockDbPerSecond = 100.0;
    // The damper on the string once neither the key nor the pedal holds it.
    static constexpr double kDamperDbPerSecond = 180.0;
    static constexpr double kDamperUpper = 0.25;
    // Low keys a little to the left, high ones to the right, as heard from the bench.
    static constexpr double kPanWidth = 0.35;
    // A string this quiet is free for the next key (-110 dBFS).
    static constexpr double kSilent = 3e-6;
    // All Sound Off and a stolen string fade over one block rather than click.
    static constexpr int kBlockFrames = 64;
};

// The practice piano: a small additive synthesizer beside FluidSynth. The sending thread (one at a
// time; the engine's lock) sets key, pedal and tuning state through atomics; the rendering thread
// reads it at the start of every 64-frame block and renders from its own state alone. No lock,
// no allocation and no system call on the rendering side; the strings are allocated here.
//
// Pitch. Each string keeps its phase in double precision and is retuned from the key's pitch in
// cents, read at every block, so a key sounds at exactly the pitch the engine sets, with no
// rounding to whole cents and no dither, and a scale tuning reaches a sounding note at once.
class PracticePiano {
public:
    PracticePiano(double sampleRate, int polyphony);
    PracticePiano(const PracticePiano&) = delete;
    PracticePiano& operator=(const PracticePiano&) = delete;

    // Sending side.
    void noteOn(int channel, int key, int velocity);
    void noteOff(int channel, int key);
    void sustain(int channel, bool down);
    // Every key of the channel released (the pedal still holds what it holds).
    void allNotesOff(int channel);
    // Every string of the channel silenced at once.
    void allSoundOff(int channel);
    // Absolute pitch of every key in cents (key 69 at 6900 for 440 Hz).
    void setKeyPitches(int channel, const KeyCents& cents);

    // Rendering side: adds the next frames to the two channels, `increment` floats apart.
    void render(int frames, float* left, float* right, int increment);

private:
    static constexpr int kBlock = PracticePianoVoicing::kBlockFrames;
    static constexpr int kPartials = PracticePianoVoicing::kPartials;

    struct String {
        bool active = false;
        int channel = 0;
        int key = 0;
        std::uint64_t strike = 0;
        bool keyDown = false;
        int fadeBlocks = 0;  // > 0: being silenced
        int attackBlock = 0;
        int partials = 0;
        double phase = 0.0;  // of the fundamental, in periods
        double increment = 0.0;
        double cents = -1.0;
        float panLeft = 0.0f;
        float panRight = 0.0f;
        std::array<float, kPartials> prompt{};
        std::array<float, kPartials> after{};
        std::array<float, kPartials> knock{};
        std::array<float, kPartials> promptDecay{};
        std::array<float, kPartials> afterDecay{};
        std::array<float, kPartials> knockDecay{};
        std::array<float, kPartials> damperDecay{};
        std::array<float, kPartials> attackFrom{};  // what sounded when struck again
        std::array<float, kPartials> amplitude{};   // at the end of the last block
        std::array<float, kPartials> stepCos{};     // one sample's turn of each partial
        std::array<float, kPartials> stepSin{};
    };

    // Key state word: the strike's sequence number from bit 8, the velocity in bits 1..7, and
    // whether the key is down in bit 0.
    static std::uint64_t keyWord(std::uint64_t strike, int velocity, bool down)
    {
        return (strike << 8) | (static_cast<std::uint64_t>(velocity & 0x7F) << 1) | (down ? 1u : 0u);
    }
    void touched(int channel);

    void readEvents();
    void strike(int channel, int key, int velocity, std::uint64_t sequence);
    String* freeString();
    void tune(String& s, double cents);
    void renderBlock();

    const double m_rate;

    // Shared: written by the sending side only, read by the renderer.
    struct SharedChannel {
        std::array<std::atomic<std::uint64_t>, kKeys> keys{};
        std::array<std::atomic<double>, kKeys> cents{};
        std::atomic<bool> pedal{false};
        std::atomic<std::uint64_t> silencedAt{0};
        std::atomic<std::uint32_t> version{0};
    };
    std::array<SharedChannel, kChannels> m_shared;
    // Sending side only.
    std::uint64_t m_sequence = 0;
    std::array<std::array<std::uint64_t, kKeys>, kChannels> m_sentKeys{};

    // Rendering side only.
    struct SeenChannel {
        std::uint32_t version = ~0u;
        std::uint64_t silencedAt = 0;
        bool pedal = false;
        std::array<std::uint64_t, kKeys> strike{};
        std::array<std::int16_t, kKeys> string{};
    };
    std::array<SeenChannel, kChannels> m_seen{};
    std::vector<String> m_strings;
    int m_polyphony;
    std::array<float, kBlock> m_left{};
    std::array<float, kBlock> m_right{};
    int m_ready = 0;  // frames of the last block not handed out yet
};

}  // namespace velmora::midi::synth
