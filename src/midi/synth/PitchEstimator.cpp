#include "midi/synth/PitchEstimator.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace velmora::midi::synth {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Below this the signal is taken as silence.
constexpr double kSilenceRms = 1e-6;
// A normalised-difference peak this high is a periodic tone rather than noise.
constexpr double kMinClarity = 0.5;
// A period repeating this clearly is taken without looking further down for a longer one.
constexpr double kClearPeriod = 0.9;
// Of the peaks of the normalised difference, the first within this share of the highest is
// the period: a later peak of the same height is a multiple of it.
constexpr double kKeyPeakShare = 0.9;
// Analysis frames span this many periods: wide enough that the Blackman-Harris window puts the
// second partial and the mirror image far down its side lobes.
constexpr double kFramePeriods = 6.0;
// A first partial this far below the whole tone's level is too weak to follow; a stronger low
// partial is followed instead and divided down.
constexpr double kWeakFundamentalShare = 0.05;

struct Coarse {
    double periodSamples;
    double clarity;
};

// The period by the normalised squared difference (McLeod's NSDF) over one stretch in the middle
// of the signal.
std::optional<Coarse> coarsePeriod(std::span<const float> x, double sampleRate, const PitchSearch& search)
{
    const int lagMin = std::max(2, static_cast<int>(std::floor(sampleRate / search.maxHz)));
    const int lagMax = static_cast<int>(std::ceil(sampleRate / search.minHz));
    const int width = lagMax;
    const int needed = width + lagMax + 2;
    if (lagMax <= lagMin || static_cast<int>(x.size()) < needed)
        return std::nullopt;
    const std::size_t start = (x.size() - static_cast<std::size_t>(needed)) / 2;
    const float* s = x.data() + start;

    const int first = lagMin - 1;
    const int last = lagMax + 1;
    std::vector<double> nsdf(static_cast<std::size_t>(last - first + 1));
    for (int lag = first; lag <= last; ++lag) {
        double r = 0.0;
        double m = 0.0;
        for (int j = 0; j < width; ++j) {
            const double a = s[j];
            const double b = s[j + lag];
            r += a * b;
            m += a * a + b * b;
        }
        nsdf[static_cast<std::size_t>(lag - first)] = m > 0.0 ? 2.0 * r / m : 0.0;
    }
    auto at = [&](int lag) { return nsdf[static_cast<std::size_t>(lag - first)]; };

    double highest = 0.0;
    for (int lag = lagMin; lag <= lagMax; ++lag)
        if (at(lag) > at(lag - 1) && at(lag) >= at(lag + 1))
            highest = std::max(highest, at(lag));
    if (highest <= 0.0)
        return std::nullopt;
    for (int lag = lagMin; lag <= lagMax; ++lag) {
        if (!(at(lag) > at(lag - 1) && at(lag) >= at(lag + 1)) || at(lag) < kKeyPeakShare * highest)
            continue;
        const double y0 = at(lag - 1);
        const double y1 = at(lag);
        const double y2 = at(lag + 1);
        const double curvature = y0 - 2.0 * y1 + y2;
        const double shift = curvature < 0.0 ? 0.5 * (y0 - y2) / curvature : 0.0;
        return Coarse{lag + shift, y1 - 0.25 * (y0 - y2) * shift};
    }
    return std::nullopt;
}

std::vector<double> blackmanHarris(int length)
{
    std::vector<double> w(static_cast<std::size_t>(length));
    for (int n = 0; n < length; ++n) {
        const double t = kTwoPi * n / (length - 1);
        w[static_cast<std::size_t>(n)] =
            0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
    }
    return w;
}

struct Followed {
    double hz;
    double meanAmplitude;
};

// Follows the partial near `hz` from frame to frame: the signal is shifted down by `hz`,
// low-passed by the frame window, and the phase advance between frames one period apart is the
// partial's offset from `hz`. The frame frequencies are averaged with a Hann weighting over the
// whole signal, which cancels a periodic vibrato to well below a cent.
std::optional<Followed> followPartial(std::span<const float> x, double sampleRate, double hz, double periodHz)
{
    const int frame = static_cast<int>(std::lround(kFramePeriods * sampleRate / periodHz));
    const int hop = std::max(1, static_cast<int>(std::lround(sampleRate / periodHz)));
    const int n = static_cast<int>(x.size());
    if (frame < 8 || n < frame + 2 * hop || hz >= sampleRate / 2)
        return std::nullopt;
    const std::vector<double> window = blackmanHarris(frame);

    const double omega = kTwoPi * hz / sampleRate;
    std::vector<std::complex<double>> base(x.size());
    for (int i = 0; i < n; ++i)
        base[static_cast<std::size_t>(i)] = std::polar(static_cast<double>(x[static_cast<std::size_t>(i)]), -omega * i);

    const int frames = (n - frame) / hop + 1;
    std::vector<std::complex<double>> z(static_cast<std::size_t>(frames));
    for (int m = 0; m < frames; ++m) {
        std::complex<double> sum{};
        const std::complex<double>* b = base.data() + static_cast<std::ptrdiff_t>(m) * hop;
        for (int k = 0; k < frame; ++k)
            sum += window[static_cast<std::size_t>(k)] * b[k];
        z[static_cast<std::size_t>(m)] = sum;
    }

    double weighted = 0.0;
    double weights = 0.0;
    double amplitude = 0.0;
    const int steps = frames - 1;
    for (int m = 0; m < steps; ++m) {
        const auto& a = z[static_cast<std::size_t>(m)];
        const auto& b = z[static_cast<std::size_t>(m + 1)];
        const double advance = std::arg(b * std::conj(a));
        const double offset = advance * sampleRate / (kTwoPi * hop);
        const double hann = steps > 1 ? 0.5 - 0.5 * std::cos(kTwoPi * (m + 0.5) / steps) : 1.0;
        const double w = hann * std::sqrt(std::abs(a) * std::abs(b));
        weighted += w * offset;
        weights += w;
        amplitude += std::abs(a);
    }
    if (weights <= 0.0)
        return std::nullopt;
    double windowSum = 0.0;
    for (double v : window)
        windowSum += v;
    return Followed{hz + weighted / weights, 2.0 * amplitude / steps / windowSum};
}

}  // namespace

PitchSearch PitchSearch::around(double expectedHz)
{
    const double fifth = std::pow(2.0, 7.0 / 12.0);
    return PitchSearch{expectedHz / fifth, expectedHz * fifth};
}

std::optional<PitchEstimate> estimateFundamental(std::span<const float> signal, double sampleRate,
                                                 const PitchSearch& search)
{
    if (signal.empty() || sampleRate <= 0.0 || search.minHz <= 0.0 || search.maxHz <= search.minHz)
        return std::nullopt;
    double energy = 0.0;
    for (float v : signal)
        energy += static_cast<double>(v) * v;
    const double rms = std::sqrt(energy / static_cast<double>(signal.size()));
    if (rms < kSilenceRms)
        return std::nullopt;

    const auto coarse = coarsePeriod(signal, sampleRate, search);
    if (!coarse || coarse->clarity < kMinClarity)
        return std::nullopt;
    const double coarseHz = sampleRate / coarse->periodSamples;

    // Twice: the second pass centres the frame window on the partial itself.
    auto first = followPartial(signal, sampleRate, coarseHz, coarseHz);
    if (!first)
        return std::nullopt;
    first = followPartial(signal, sampleRate, first->hz, first->hz);
    if (!first)
        return std::nullopt;

    double hz = first->hz;
    if (first->meanAmplitude < kWeakFundamentalShare * rms * std::numbers::sqrt2) {
        double strongest = first->meanAmplitude;
        for (int h = 2; h <= 4; ++h) {
            auto partial = followPartial(signal, sampleRate, h * hz, hz);
            if (partial && partial->meanAmplitude > strongest) {
                strongest = partial->meanAmplitude;
                hz = partial->hz / h;
            }
        }
    }
    return PitchEstimate{hz, std::clamp(coarse->clarity, 0.0, 1.0)};
}

std::optional<PitchEstimate> estimatePitchNear(std::span<const float> signal, double sampleRate, double expectedHz)
{
    if (signal.empty() || sampleRate <= 0.0 || expectedHz <= 0.0)
        return std::nullopt;
    double energy = 0.0;
    for (float v : signal)
        energy += static_cast<double>(v) * v;
    if (std::sqrt(energy / static_cast<double>(signal.size())) < kSilenceRms)
        return std::nullopt;

    // The narrow search first: the wide one costs three times as much and is needed only where
    // the narrow one finds no clearly repeating period.
    auto coarse = coarsePeriod(signal, sampleRate, PitchSearch{expectedHz / 2.5, expectedHz * 1.5});
    if (!coarse || coarse->clarity < kClearPeriod) {
        const auto wide = coarsePeriod(signal, sampleRate, PitchSearch{expectedHz / 4.5, expectedHz * 1.5});
        if (wide && (!coarse || wide->clarity > coarse->clarity))
            coarse = wide;
    }
    if (!coarse || coarse->clarity < kMinClarity)
        return std::nullopt;
    const double periodHz = sampleRate / coarse->periodSamples;
    const double harmonic = std::max(1.0, std::round(expectedHz / periodHz));

    auto partial = followPartial(signal, sampleRate, harmonic * periodHz, periodHz);
    if (!partial)
        return std::nullopt;
    partial = followPartial(signal, sampleRate, partial->hz, partial->hz / harmonic);
    if (!partial)
        return std::nullopt;
    return PitchEstimate{partial->hz, std::clamp(coarse->clarity, 0.0, 1.0)};
}

double centsBetween(double referenceHz, double hz)
{
    return 1200.0 * std::log2(hz / referenceHz);
}

double equalTemperedHz(double key)
{
    return 440.0 * std::pow(2.0, (key - 69.0) / 12.0);
}

}  // namespace velmora::midi::synth
