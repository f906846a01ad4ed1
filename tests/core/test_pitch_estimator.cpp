#include "midi/synth/PitchEstimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using velmora::midi::synth::centsBetween;
using velmora::midi::synth::equalTemperedHz;
using velmora::midi::synth::estimateFundamental;
using velmora::midi::synth::PitchSearch;

namespace {

constexpr double kRate = 48000.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

struct Partial {
    double hz;
    double amplitude;
};

// A sum of partials with fixed pseudo-random phases and an optional exponential decay.
std::vector<float> tone(const std::vector<Partial>& partials, double seconds, double decayPerSecond = 0.0)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> phase(0.0, kTwoPi);
    std::vector<double> phases;
    for (std::size_t i = 0; i < partials.size(); ++i)
        phases.push_back(phase(random));
    std::vector<float> out(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = 0.0;
        for (std::size_t p = 0; p < partials.size(); ++p)
            v += partials[p].amplitude * std::sin(kTwoPi * partials[p].hz * t + phases[p]);
        out[i] = static_cast<float>(0.3 * v * std::exp(-decayPerSecond * t));
    }
    return out;
}

std::vector<Partial> harmonic(double f0, int count)
{
    std::vector<Partial> partials;
    for (int n = 1; n <= count; ++n)
        partials.push_back({n * f0, 1.0 / n});
    return partials;
}

// Partial n of a stiff string: n f0 sqrt(1 + B n^2); the first partial lies above f0 too.
std::vector<Partial> stretched(double f0, double inharmonicity, int count)
{
    std::vector<Partial> partials;
    for (int n = 1; n <= count; ++n)
        partials.push_back({n * f0 * std::sqrt(1.0 + inharmonicity * n * n), 1.0 / n});
    return partials;
}

double errorCents(const std::vector<float>& signal, double trueHz, const PitchSearch& search = {})
{
    const auto estimate = estimateFundamental(signal, kRate, search);
    EXPECT_TRUE(estimate.has_value());
    return estimate ? centsBetween(trueHz, estimate->hz) : 1e9;
}

}  // namespace

TEST(PitchEstimator, HarmonicTonesAreMeasuredWithinFiveHundredthsOfACent)
{
    for (double f0 : {65.406, 196.0, 261.626, 440.0 * std::pow(2.0, 0.37 / 1200.0), 987.77, 2093.0}) {
        SCOPED_TRACE(f0);
        EXPECT_NEAR(errorCents(tone(harmonic(f0, 8), 0.4), f0), 0.0, 0.05);
    }
}

TEST(PitchEstimator, ASearchBandAroundTheExpectedPitchGivesTheSameAnswer)
{
    const double f0 = equalTemperedHz(57) * std::pow(2.0, 17.0 / 1200.0);
    const auto signal = tone(harmonic(f0, 6), 0.3);
    EXPECT_NEAR(errorCents(signal, f0, PitchSearch::around(equalTemperedHz(57))), 0.0, 0.05);
}

TEST(PitchEstimator, VibratoIsAveragedOut)
{
    // 5.3 Hz vibrato of +-20 cents over a second that holds no whole number of its cycles.
    const double f0 = 440.0;
    const double depth = std::pow(2.0, 20.0 / 1200.0) - 1.0;
    const double rate = 5.3;
    std::vector<float> signal(static_cast<std::size_t>(1.0 * kRate));
    double phase = 0.0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double f = f0 * (1.0 + depth * std::sin(kTwoPi * rate * t + 0.4));
        phase += kTwoPi * f / kRate;
        signal[i] = static_cast<float>(0.3 * (std::sin(phase) + 0.5 * std::sin(2 * phase + 1) + 0.25 * std::sin(3 * phase)));
    }
    EXPECT_NEAR(errorCents(signal, f0), 0.0, 0.2);
}

TEST(PitchEstimator, StretchedPartialsReportTheFirstPartial)
{
    struct Case {
        double f0;
        double inharmonicity;
    };
    // A treble string, a middle string and a wound bass string, each decaying like a piano note.
    for (const Case c : {Case{1046.5, 0.004}, Case{261.63, 0.0004}, Case{55.0, 0.0002}}) {
        SCOPED_TRACE(c.f0);
        const double firstPartial = c.f0 * std::sqrt(1.0 + c.inharmonicity);
        const auto signal = tone(stretched(c.f0, c.inharmonicity, 12), 0.5, 3.0);
        EXPECT_NEAR(errorCents(signal, firstPartial), 0.0, 0.05);
    }
}

TEST(PitchEstimator, AWeakFundamentalIsNotMistakenForItsOctave)
{
    std::vector<Partial> partials{{110.0, 0.01}};
    for (int n = 2; n <= 6; ++n)
        partials.push_back({n * 110.0, 1.0});
    EXPECT_NEAR(errorCents(tone(partials, 0.4), 110.0), 0.0, 0.05);
}

TEST(PitchEstimator, SilenceNoiseAndTooShortSignalsHaveNoPitch)
{
    EXPECT_FALSE(estimateFundamental(std::vector<float>(24000, 0.0f), kRate).has_value());

    std::mt19937 random(3);
    std::normal_distribution<float> gauss(0.0f, 0.2f);
    std::vector<float> noise(24000);
    for (float& v : noise)
        v = gauss(random);
    EXPECT_FALSE(estimateFundamental(noise, kRate, PitchSearch{100.0, 1000.0}).has_value());

    const auto shortTone = tone(harmonic(100.0, 4), 0.01);
    EXPECT_FALSE(estimateFundamental(shortTone, kRate, PitchSearch{80.0, 1000.0}).has_value());
    EXPECT_FALSE(estimateFundamental({}, kRate).has_value());
}

TEST(PitchEstimator, CentsAndEqualTemperament)
{
    EXPECT_DOUBLE_EQ(equalTemperedHz(69), 440.0);
    EXPECT_NEAR(equalTemperedHz(60), 261.6256, 1e-4);
    EXPECT_NEAR(centsBetween(440.0, 880.0), 1200.0, 1e-9);
    EXPECT_NEAR(centsBetween(440.0, 440.0 * std::pow(2.0, -30.0 / 1200.0)), -30.0, 1e-9);
}

// The partial heard as the note is found also under ranks that are not its harmonics.
TEST(PitchEstimator, ThePartialNearTheNoteIsFoundUnderOtherRanks)
{
    using velmora::midi::synth::estimatePitchNear;
    const double c4 = equalTemperedHz(60);

    // A quieter rank an octave below: the note, not the rank, is the pitch.
    auto octave = estimatePitchNear(tone({{c4 / 2, 0.5}, {c4, 1.0}, {2 * c4, 0.3}}, 0.5), kRate, c4);
    ASSERT_TRUE(octave.has_value());
    EXPECT_NEAR(centsBetween(c4, octave->hz), 0.0, 0.05);

    // Ranks a fourth below and a major third above repeat only two octaves below the note.
    auto mixture = estimatePitchNear(tone({{0.75 * c4, 0.9}, {c4, 1.0}, {1.25 * c4, 0.9}}, 0.5), kRate, c4);
    ASSERT_TRUE(mixture.has_value());
    EXPECT_NEAR(centsBetween(c4, mixture->hz), 0.0, 0.05);

    EXPECT_FALSE(estimatePitchNear(std::vector<float>(24000, 0.0f), kRate, c4).has_value());
}
