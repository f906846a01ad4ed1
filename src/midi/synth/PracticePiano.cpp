#include "midi/synth/PracticePiano.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora::midi::synth {

namespace {

using Voicing = PracticePianoVoicing;

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kMiddleCHz = 261.6255653005986;
// The renderer never waits for the sending side.
static_assert(std::atomic<double>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free);

// Strings beyond the polyphony that a stolen or silenced string fades out in.
constexpr int kFadingSpares = 8;

double hzOf(double cents)
{
    return 440.0 * std::exp2((cents - 6900.0) / 1200.0);
}

// Amplitude factor of one block at a decay of `dbPerSecond`.
float blockDecay(double dbPerSecond, double sampleRate)
{
    return static_cast<float>(std::pow(10.0, -dbPerSecond * Voicing::kBlockFrames / sampleRate / 20.0));
}

}  // namespace

PracticePiano::PracticePiano(double sampleRate, int polyphony)
    : m_rate(sampleRate), m_strings(static_cast<std::size_t>(std::max(polyphony, 1) + kFadingSpares)),
      m_polyphony(std::max(polyphony, 1))
{
    for (auto& channel : m_shared)
        for (int key = 0; key < kKeys; ++key)
            channel.cents[static_cast<std::size_t>(key)].store(100.0 * key, std::memory_order_relaxed);
    for (auto& channel : m_seen)
        channel.string.fill(-1);
}

void PracticePiano::touched(int channel)
{
    auto& version = m_shared[static_cast<std::size_t>(channel)].version;
    version.store(version.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void PracticePiano::noteOn(int channel, int key, int velocity)
{
    if (channel < 0 || channel >= kChannels || key < 0 || key >= kKeys || velocity <= 0)
        return;
    const auto k = static_cast<std::size_t>(key);
    auto& sent = m_sentKeys[static_cast<std::size_t>(channel)][k];
    sent = keyWord(++m_sequence, velocity, true);
    m_shared[static_cast<std::size_t>(channel)].keys[k].store(sent, std::memory_order_release);
    touched(channel);
}

void PracticePiano::noteOff(int channel, int key)
{
    if (channel < 0 || channel >= kChannels || key < 0 || key >= kKeys)
        return;
    const auto k = static_cast<std::size_t>(key);
    auto& sent = m_sentKeys[static_cast<std::size_t>(channel)][k];
    if (!(sent & 1u))
        return;
    sent &= ~std::uint64_t{1};
    m_shared[static_cast<std::size_t>(channel)].keys[k].store(sent, std::memory_order_release);
    touched(channel);
}

void PracticePiano::sustain(int channel, bool down)
{
    if (channel < 0 || channel >= kChannels)
        return;
    m_shared[static_cast<std::size_t>(channel)].pedal.store(down, std::memory_order_release);
    touched(channel);
}

void PracticePiano::allNotesOff(int channel)
{
    for (int key = 0; key < kKeys; ++key)
        noteOff(channel, key);
}

void PracticePiano::allSoundOff(int channel)
{
    if (channel < 0 || channel >= kChannels)
        return;
    m_shared[static_cast<std::size_t>(channel)].silencedAt.store(++m_sequence, std::memory_order_release);
    touched(channel);
}

void PracticePiano::setKeyPitches(int channel, const KeyCents& cents)
{
    if (channel < 0 || channel >= kChannels)
        return;
    auto& shared = m_shared[static_cast<std::size_t>(channel)];
    for (int key = 0; key < kKeys; ++key)
        shared.cents[static_cast<std::size_t>(key)].store(cents[static_cast<std::size_t>(key)], std::memory_order_relaxed);
}

void PracticePiano::render(int frames, float* left, float* right, int increment)
{
    int done = 0;
    while (done < frames) {
        if (m_ready == 0) {
            readEvents();
            renderBlock();
            m_ready = kBlock;
        }
        const int n = std::min(m_ready, frames - done);
        const int from = kBlock - m_ready;
        for (int i = 0; i < n; ++i) {
            const auto at = static_cast<std::ptrdiff_t>(done + i) * increment;
            left[at] += m_left[static_cast<std::size_t>(from + i)];
            right[at] += m_right[static_cast<std::size_t>(from + i)];
        }
        m_ready -= n;
        done += n;
    }
}

void PracticePiano::readEvents()
{
    for (int ch = 0; ch < kChannels; ++ch) {
        SharedChannel& shared = m_shared[static_cast<std::size_t>(ch)];
        SeenChannel& seen = m_seen[static_cast<std::size_t>(ch)];
        const std::uint32_t version = shared.version.load(std::memory_order_acquire);
        if (version == seen.version)
            continue;
        seen.version = version;
        const std::uint64_t silenced = shared.silencedAt.load(std::memory_order_acquire);
        if (silenced != seen.silencedAt) {
            seen.silencedAt = silenced;
            for (String& s : m_strings)
                if (s.active && s.channel == ch && s.strike < silenced && s.fadeBlocks == 0) {
                    s.fadeBlocks = 1;
                    seen.string[static_cast<std::size_t>(s.key)] = -1;
                }
        }
        seen.pedal = shared.pedal.load(std::memory_order_acquire);
        for (int key = 0; key < kKeys; ++key) {
            const auto k = static_cast<std::size_t>(key);
            const std::uint64_t word = shared.keys[k].load(std::memory_order_acquire);
            const std::uint64_t sequence = word >> 8;
            if (sequence != seen.strike[k]) {
                seen.strike[k] = sequence;
                if (sequence > seen.silencedAt)
                    strike(ch, key, static_cast<int>((word >> 1) & 0x7F), sequence);
            }
            if (const int index = seen.string[k]; index >= 0) {
                String& s = m_strings[static_cast<std::size_t>(index)];
                s.keyDown = (word & 1u) != 0 && s.strike == sequence;
            }
        }
    }
}

PracticePiano::String* PracticePiano::freeString()
{
    int sounding = 0;
    String* quietest = nullptr;
    float quietestLevel = 0.0f;
    for (String& s : m_strings) {
        if (!s.active || s.fadeBlocks > 0)
            continue;
        ++sounding;
        float level = 0.0f;
        for (float a : s.amplitude)
            level += a;
        // A released string goes before a held one.
        if (!s.keyDown)
            level *= 0.01f;
        if (!quietest || level < quietestLevel) {
            quietest = &s;
            quietestLevel = level;
        }
    }
    if (sounding >= m_polyphony && quietest) {
        quietest->fadeBlocks = 1;
        m_seen[static_cast<std::size_t>(quietest->channel)].string[static_cast<std::size_t>(quietest->key)] = -1;
    }
    for (String& s : m_strings)
        if (!s.active)
            return &s;
    // Every spare is still fading: the first of them is cut short.
    for (String& s : m_strings)
        if (s.fadeBlocks > 0)
            return &s;
    return &m_strings.front();
}

void PracticePiano::tune(String& s, double cents)
{
    s.cents = cents;
    s.increment = hzOf(cents) / m_rate;
    for (int n = 0; n < kPartials; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const double turn = kTwoPi * (n + 1) * s.increment;
        s.stepCos[i] = n < s.partials ? static_cast<float>(std::cos(turn)) : 1.0f;
        s.stepSin[i] = n < s.partials ? static_cast<float>(std::sin(turn)) : 0.0f;
    }
}

void PracticePiano::strike(int channel, int key, int velocity, std::uint64_t sequence)
{
    SeenChannel& seen = m_seen[static_cast<std::size_t>(channel)];
    const auto k = static_cast<std::size_t>(key);
    String* s = seen.string[k] >= 0 ? &m_strings[static_cast<std::size_t>(seen.string[k])] : nullptr;
    if (s) {
        // The same string struck again: it goes on from what it sounds now.
        s->attackFrom = s->amplitude;
    } else {
        s = freeString();
        if (s->active && s->fadeBlocks == 0)
            m_seen[static_cast<std::size_t>(s->channel)].string[static_cast<std::size_t>(s->key)] = -1;
        *s = String{};
        s->active = true;
        s->channel = channel;
        s->key = key;
        seen.string[k] = static_cast<std::int16_t>(s - m_strings.data());
    }
    s->strike = sequence;
    s->keyDown = true;
    s->attackBlock = 0;
    s->fadeBlocks = 0;

    const double cents = m_shared[static_cast<std::size_t>(channel)].cents[k].load(std::memory_order_relaxed);
    const double hz = hzOf(cents);
    // At a low sample rate the highest keys keep at least their fundamental, unless even that
    // would fold back below the Nyquist frequency.
    s->partials = std::clamp(static_cast<int>(Voicing::kHighestPartialShare * m_rate / hz), hz < 0.5 * m_rate ? 1 : 0,
                             kPartials);
    tune(*s, cents);

    const double v = std::clamp(velocity, 1, 127) / 127.0;
    const double tilt = Voicing::kTiltSoft + (Voicing::kTiltHard - Voicing::kTiltSoft) * v;
    double norm = 0.0;
    for (int n = 1; n <= s->partials; ++n)
        norm += std::pow(n, -tilt);
    const double loud = norm > 0.0 ? Voicing::kLevel * std::pow(v, Voicing::kVelocityExponent) / norm : 0.0;
    const double keyScale = std::pow(hz / kMiddleCHz, Voicing::kDecayExponent);
    for (int n = 0; n < kPartials; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const double a = n < s->partials ? loud * std::pow(n + 1, -tilt) : 0.0;
        const double upper = 1.0 + Voicing::kUpperDecay * n;
        s->prompt[i] = static_cast<float>(a * (1.0 - Voicing::kAftersoundShare));
        s->after[i] = static_cast<float>(a * Voicing::kAftersoundShare);
        s->knock[i] = static_cast<float>(a * Voicing::kKnockShare);
        s->knockDecay[i] = blockDecay(Voicing::kKnockDbPerSecond * keyScale * upper, m_rate);
        s->promptDecay[i] = blockDecay(Voicing::kPromptDbPerSecond * keyScale * upper, m_rate);
        s->afterDecay[i] = blockDecay(Voicing::kAftersoundDbPerSecond * keyScale * upper, m_rate);
        s->damperDecay[i] = blockDecay(Voicing::kDamperDbPerSecond * (1.0 + Voicing::kDamperUpper * n), m_rate);
    }

    const double pan = std::clamp((key - 64) / 44.0, -1.0, 1.0) * Voicing::kPanWidth;
    const double angle = (pan + 1.0) * std::numbers::pi / 4.0;
    s->panLeft = static_cast<float>(std::numbers::sqrt2 * std::cos(angle));
    s->panRight = static_cast<float>(std::numbers::sqrt2 * std::sin(angle));
}

void PracticePiano::renderBlock()
{
    m_left.fill(0.0f);
    m_right.fill(0.0f);
    for (String& s : m_strings) {
        if (!s.active)
            continue;
        const double cents = m_shared[static_cast<std::size_t>(s.channel)].cents[static_cast<std::size_t>(s.key)].load(
            std::memory_order_relaxed);
        if (cents != s.cents)
            tune(s, cents);

        std::array<float, kPartials> target{};
        float total = 0.0f;
        if (s.fadeBlocks == 0) {
            const bool damped = !s.keyDown && !m_seen[static_cast<std::size_t>(s.channel)].pedal;
            const bool attacking = s.attackBlock < Voicing::kAttackBlocks;
            if (attacking)
                ++s.attackBlock;
            const float rise = static_cast<float>(s.attackBlock) / Voicing::kAttackBlocks;
            for (std::size_t n = 0; n < kPartials; ++n) {
                s.prompt[n] *= damped ? s.damperDecay[n] : s.promptDecay[n];
                s.after[n] *= damped ? s.damperDecay[n] : s.afterDecay[n];
                s.knock[n] *= damped ? s.damperDecay[n] : s.knockDecay[n];
                const float sustained = s.prompt[n] + s.after[n] + s.knock[n];
                target[n] = attacking ? s.attackFrom[n] + (sustained - s.attackFrom[n]) * rise : sustained;
                total += target[n];
            }
        }

        // Each partial's phase from the fundamental's, exact at the start of every block; within
        // the block a turn per sample in single precision.
        std::array<float, kPartials> c{};
        std::array<float, kPartials> sn{};
        const double c1 = std::cos(kTwoPi * s.phase);
        const double s1 = std::sin(kTwoPi * s.phase);
        double cn = c1;
        double snd = s1;
        for (std::size_t n = 0; n < kPartials; ++n) {
            c[n] = static_cast<float>(cn);
            sn[n] = static_cast<float>(snd);
            const double next = cn * c1 - snd * s1;
            snd = snd * c1 + cn * s1;
            cn = next;
        }
        std::array<float, kPartials> a = s.amplitude;
        std::array<float, kPartials> step{};
        for (std::size_t n = 0; n < kPartials; ++n)
            step[n] = (target[n] - a[n]) * (1.0f / kBlock);

        for (int i = 0; i < kBlock; ++i) {
            float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            for (std::size_t n = 0; n < kPartials; ++n)
                sum[n % 4] += a[n] * sn[n];
            const float y = (sum[0] + sum[1]) + (sum[2] + sum[3]);
            for (std::size_t n = 0; n < kPartials; ++n) {
                const float turnedCos = c[n] * s.stepCos[n] - sn[n] * s.stepSin[n];
                sn[n] = sn[n] * s.stepCos[n] + c[n] * s.stepSin[n];
                c[n] = turnedCos;
                a[n] += step[n];
            }
            m_left[static_cast<std::size_t>(i)] += y * s.panLeft;
            m_right[static_cast<std::size_t>(i)] += y * s.panRight;
        }

        s.amplitude = target;
        s.phase += s.increment * kBlock;
        s.phase -= std::floor(s.phase);
        const bool silent = s.attackBlock >= Voicing::kAttackBlocks && total < Voicing::kSilent;
        if (s.fadeBlocks > 0 || silent) {
            if (silent && s.fadeBlocks == 0)
                m_seen[static_cast<std::size_t>(s.channel)].string[static_cast<std::size_t>(s.key)] = -1;
            s.active = false;
        }
    }
}

}  // namespace velmora::midi::synth
