#pragma once

// Measurements of a rendered note shared by the piano benchmarks: the pitch of a short window
// for every key of the keyboard, a partial's level over time, and a WAV file of a rendering.

#include "midi/MidiOutput.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora::bench {

// Holds a key on an engine for `seconds` and returns the mono mix, then silences the channel.
inline std::vector<float> renderHeld(midi::synth::SynthEngine& engine, int channel, int key, int velocity,
                                     double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * engine.sampleRate());
    std::vector<float> left(frames);
    std::vector<float> right(frames);
    engine.shortMessage(midi::packShortMessage(static_cast<std::uint8_t>(0x90 | channel),
                                               static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(velocity)));
    engine.render(left, right);
    engine.shortMessage(midi::packShortMessage(static_cast<std::uint8_t>(0xB0 | channel), 120, 0));
    std::vector<float> flush(256);
    engine.render(std::span(flush).first(128), std::span(flush).last(128));
    std::vector<float> mono(frames);
    for (std::size_t i = 0; i < frames; ++i)
        mono[i] = 0.5f * (left[i] + right[i]);
    return mono;
}

namespace detail {

// x at a fractional index by 6-point Lagrange interpolation.
inline double at(std::span<const float> x, double t)
{
    const auto i = static_cast<std::ptrdiff_t>(std::floor(t));
    const double f = t - static_cast<double>(i);
    double sum = 0.0;
    for (int k = -2; k <= 3; ++k) {
        double w = 1.0;
        for (int m = -2; m <= 3; ++m)
            if (m != k)
                w *= (f - m) / static_cast<double>(k - m);
        sum += w * x[static_cast<std::size_t>(i + k)];
    }
    return sum;
}

// How well the window repeats after `period` samples: the normalised correlation of x with
// itself shifted by the period, which a decaying periodic tone maximises at its own period. The
// sums run over a whole number of periods, over which the products of two different partials of
// a harmonic tone cancel (a fraction of a period more would tilt the result), under a Hann
// weighting where that spans two periods or more (it then cancels them too, and smooths the
// tone's decay across the span), evenly over a single period.
inline double repetition(std::span<const float> x, double period)
{
    const double available = static_cast<double>(x.size()) - period - 8.0;
    const double periods = available >= period ? std::floor(available / period) : available / period;
    const double span = periods * period;
    const auto whole = static_cast<std::size_t>(span);
    const double last = span - static_cast<double>(whole);
    double xy = 0.0, xx = 0.0, yy = 0.0;
    for (std::size_t j = 0; j <= whole; ++j) {
        const double hann = periods >= 2.0 ? 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(j) / span) : 1.0;
        const double w = (j < whole ? 1.0 : last) * hann;
        const std::size_t i = 3 + j;
        const double a = x[i];
        const double b = at(x, static_cast<double>(i) + period);
        xy += w * a * b;
        xx += w * a * a;
        yy += w * b * b;
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
}

}  // namespace detail

// The fundamental of a short window near `expectedHz`. Where the window holds at least eight
// periods, the program's own estimator; below that (keys under about G#2 in 100 ms) the period
// at which the window best repeats itself, found to a millionth of a period: a harmonic tone
// repeats exactly at its period however its partials decay.
inline std::optional<double> windowHz(std::span<const float> x, double rate, double expectedHz)
{
    if (static_cast<double>(x.size()) * expectedHz / rate >= 10.0) {
        const auto p = midi::synth::estimatePitchNear(x, rate, expectedHz);
        return p ? std::optional(p->hz) : std::nullopt;
    }
    const double nominal = rate / expectedHz;
    if (static_cast<double>(x.size()) < 1.5 * nominal + 8)
        return std::nullopt;
    double lo = nominal * 0.99;
    double hi = nominal * 1.01;
    // A coarse scan, then a golden-section search around the best.
    double best = lo;
    double bestValue = -2.0;
    for (int k = 0; k <= 40; ++k) {
        const double p = lo + (hi - lo) * k / 40.0;
        const double v = detail::repetition(x, p);
        if (v > bestValue) {
            bestValue = v;
            best = p;
        }
    }
    lo = best - (hi - lo) / 40.0;
    hi = best + (hi - lo) / 40.0;
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double a = hi - g * (hi - lo);
    double b = lo + g * (hi - lo);
    double fa = detail::repetition(x, a);
    double fb = detail::repetition(x, b);
    while (hi - lo > nominal * 1e-7) {
        if (fa > fb) {
            hi = b;
            b = a;
            fb = fa;
            a = hi - g * (hi - lo);
            fa = detail::repetition(x, a);
        } else {
            lo = a;
            a = b;
            fa = fb;
            b = lo + g * (hi - lo);
            fb = detail::repetition(x, b);
        }
    }
    return rate / (0.5 * (lo + hi));
}

// Level in dB of the partial near `hz` every `stepSeconds`: the signal shifted down by `hz` and
// averaged under a Hann window of `windowSeconds`.
inline std::vector<double> partialLevelDb(std::span<const float> x, double rate, double hz, double windowSeconds,
                                          double stepSeconds)
{
    const auto width = static_cast<std::size_t>(windowSeconds * rate);
    const auto step = static_cast<std::size_t>(stepSeconds * rate);
    std::vector<double> levels;
    const double omega = 2.0 * std::numbers::pi * hz / rate;
    for (std::size_t start = 0; start + width <= x.size(); start += step) {
        std::complex<double> sum{};
        double weights = 0.0;
        for (std::size_t i = 0; i < width; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(width));
            sum += w * static_cast<double>(x[start + i]) * std::polar(1.0, -omega * static_cast<double>(start + i));
            weights += w;
        }
        levels.push_back(20.0 * std::log10(std::max(2.0 * std::abs(sum) / weights, 1e-12)));
    }
    return levels;
}

inline void writeWav(const std::string& path, std::span<const float> mono, double rate)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return;
    }
    auto u32 = [&](std::uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](std::uint16_t v) { std::fwrite(&v, 2, 1, f); };
    const auto bytes = static_cast<std::uint32_t>(mono.size() * sizeof(float));
    std::fwrite("RIFF", 1, 4, f);
    u32(38 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(18);
    u16(3);  // IEEE float
    u16(1);
    u32(static_cast<std::uint32_t>(rate));
    u32(static_cast<std::uint32_t>(rate) * 4);
    u16(4);
    u16(32);
    u16(0);  // no extension
    std::fwrite("data", 1, 4, f);
    u32(bytes);
    std::fwrite(mono.data(), sizeof(float), mono.size(), f);
    std::fclose(f);
}

}  // namespace velmora::bench
