// Pitch over the whole of a held note, as a learner hears it.
//
// Program 0, the practice piano (the default): under a seeded random exercise's scale tuning
// (-30..+30 cents per pitch class), every key 21..108 is held for 3 s at velocity 100 and
// measured in 100 ms windows 50 ms apart from 0.05 to 3 s after its note-on, against 12-TET
// (A4 = 440 Hz) plus the exercise's tuning; then the reference A on channel 2 the same way.
// Prints per key the largest distance of a window and the windows' median, in cents.
//
// --sampled, or any other program: keys 53..76 are calibrated (over the calibration's own window,
// or --settle/--seconds), then each is held for 2 s on the calibrated engine and measured in
// 100 ms windows from 0.1 to 1.5 s after its note-on. Prints per key the pitch over the whole
// span, the median of the windows and their lowest and highest (the wander within the note), in
// cents from the key's equal-tempered pitch.
//
// --series KEY prints that key's windows in time order as well.
//
//   pitch_over_note [--soundfont FILE] [--program N] [--sampled] [--seed N] [--settle SECONDS]
//                   [--seconds SECONDS] [--series KEY]

#include "midi/GsMessages.h"
#include "midi/MidiOutput.h"
#include "midi/synth/CalibrationService.h"
#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/PitchEstimator.h"
#include "BenchSoundFont.h"
#include "PianoMeasures.h"
#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace velmora::midi;
using namespace velmora::midi::synth;

namespace {

constexpr int kFirstKey = 53;
constexpr int kLastKey = 76;
constexpr double kFrom = 0.1;
constexpr double kTo = 1.5;
constexpr double kWindow = 0.1;

struct Heard {
    std::vector<double> series;  // the windows in time order, 50 ms apart
    double span = 0;
    double median = 0;
    double lowest = 0;
    double highest = 0;
};

// Holds the key for 2 s on a channel and measures it.
Heard hear(SynthEngine& engine, int channel, int key)
{
    const double rate = engine.sampleRate();
    const auto frames = static_cast<std::size_t>(2.0 * rate);
    std::vector<float> left(frames);
    std::vector<float> right(frames);
    engine.shortMessage(packShortMessage(0x90 | channel, static_cast<std::uint8_t>(key), 100));
    engine.render(left, right);
    engine.shortMessage(packShortMessage(0xB0 | channel, 120, 0));
    std::vector<float> mono(frames);
    for (std::size_t i = 0; i < frames; ++i)
        mono[i] = 0.5f * (left[i] + right[i]);
    // The silenced voice plays out the block it is stopped in.
    engine.render(std::span(left).first(64), std::span(right).first(64));

    const double nominal = equalTemperedHz(key);
    auto cents = [&](std::span<const float> part) {
        const auto p = estimatePitchNear(part, rate, nominal);
        return p ? centsBetween(nominal, p->hz) : NAN;
    };
    const std::span<const float> all(mono);
    const auto from = static_cast<std::size_t>(kFrom * rate);
    const auto to = static_cast<std::size_t>(kTo * rate);
    const auto width = static_cast<std::size_t>(kWindow * rate);
    Heard h;
    h.span = cents(all.subspan(from, to - from));
    std::vector<double> windows;
    for (std::size_t at = from; at + width <= to; at += width / 2)
        windows.push_back(cents(all.subspan(at, width)));
    h.series = windows;
    std::sort(windows.begin(), windows.end());
    h.median = windows[windows.size() / 2];
    h.lowest = windows.front();
    h.highest = windows.back();
    return h;
}

// The practice piano under a random exercise, every key of the keyboard.
int practicePiano(const std::string& font, unsigned seed, int series)
{
    constexpr int kLowest = 21;
    constexpr int kHighest = 108;
    constexpr double kPracticeFrom = 0.05;
    constexpr double kPracticeTo = 3.0;
    constexpr double kStep = 0.05;
    SynthEngineConfig config;
    config.practicePiano = true;
    auto engine = SynthEngine::create(config);
    if (!engine || !engine->loadSoundFont(font))
        return 1;
    const double rate = engine->sampleRate();

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> offset(-30, 30);
    std::array<std::int32_t, 12> cents{};
    for (auto& c : cents)
        c = offset(random);
    engine->systemExclusive(kGsResetMsg);
    const ScaleTuningMessage tuning = buildScaleTuningMsg(exerciseTuningData(cents));
    engine->systemExclusive(tuning);

    struct Result {
        double worst = 0;
        double median = 0;
        int unmeasured = 0;
    };
    auto hearKey = [&](int channel, int key, double wantedCents) {
        const std::vector<float> mono = velmora::bench::renderHeld(*engine, channel, key, 100, kPracticeTo + 0.05);
        const double wantedHz = equalTemperedHz(key) * std::pow(2.0, wantedCents / 1200.0);
        const auto width = static_cast<std::size_t>(kWindow * rate);
        std::vector<double> errors;
        Result r;
        if (key == series)
            std::printf("     key %d, windows from %.2f s, %.0f ms apart:", key, kPracticeFrom, 1000 * kStep);
        for (double from = kPracticeFrom; from + kWindow <= kPracticeTo + 1e-9; from += kStep) {
            const auto at = static_cast<std::size_t>(std::lround(from * rate));
            const auto hz = velmora::bench::windowHz(std::span<const float>(mono).subspan(at, width), rate, wantedHz);
            if (!hz) {
                ++r.unmeasured;
                continue;
            }
            const double e = centsBetween(wantedHz, *hz);
            if (key == series)
                std::printf(" %+.4f", e);
            errors.push_back(e);
            r.worst = std::max(r.worst, std::abs(e));
        }
        if (key == series)
            std::printf("\n");
        std::sort(errors.begin(), errors.end());
        r.median = errors.empty() ? NAN : errors[errors.size() / 2];
        return r;
    };

    std::printf("practice piano, seed %u, exercise cents C..B:", seed);
    for (int c : cents)
        std::printf(" %+d", c);
    std::printf("\ncents from 12-TET + the exercise in 100 ms windows %.0f ms apart over %.2f..%.2f s of a %.2f s note\n",
                1000 * kStep, kPracticeFrom, kPracticeTo, kPracticeTo + 0.05);
    std::printf("key  worst |window|  median  unmeasured\n");
    double worst = 0;
    int worstKey = 0;
    int unmeasured = 0;
    int windows = 0;
    for (int key = kLowest; key <= kHighest; ++key) {
        const Result r = hearKey(0, key, cents[static_cast<std::size_t>(key % 12)]);
        std::printf("%3d  %.4f  %+.4f  %d\n", key, r.worst, r.median, r.unmeasured);
        if (r.worst > worst) {
            worst = r.worst;
            worstKey = key;
        }
        unmeasured += r.unmeasured;
        windows += static_cast<int>(std::lround((kPracticeTo - kPracticeFrom - kWindow) / kStep)) + 1;
    }
    const Result a = hearKey(1, 69, 0.0);
    std::printf("reference A (channel 2): worst |window| %.4f, median %+.4f cents, %d unmeasured\n", a.worst, a.median,
                a.unmeasured);
    std::printf("keys %d..%d: worst window %.4f cents (key %d); %d of %d windows unmeasured\n", kLowest, kHighest, worst,
                worstKey, unmeasured, windows);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string font;
    int program = 0;
    KeyMeasurement how;
    int series = -1;
    bool sampled = false;
    unsigned seed = 1;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--sampled"))
            sampled = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--sampled")) {
            --i;
            continue;
        }
        if (!std::strcmp(argv[i], "--seed"))
            seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--soundfont"))
            font = argv[i + 1];
        else if (!std::strcmp(argv[i], "--program"))
            program = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--settle"))
            how.settleSeconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            how.measureSeconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--series"))
            series = std::atoi(argv[i + 1]);
    }
    if (const auto chosen = velmora::bench::soundFontToPlay(font))
        font = *chosen;
    else
        return 1;
    if (program == 0 && !sampled)
        return practicePiano(font, seed, series);
    const double rate = 48000.0;
    auto calibrator = ProgramCalibrator::create(font, rate, CalibrationRange{kFirstKey, kLastKey}, how);
    if (!calibrator) {
        std::fprintf(stderr, "cannot load %s\n", font.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const KeyCents correction = calibrator->correction({0, program});
    const double calibrationMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    struct Fixed final : CalibrationProvider {
        std::shared_ptr<const KeyCents> cents;
        std::shared_ptr<const KeyCents> calibration(PresetId) override { return cents; }
    } provider;
    provider.cents = std::make_shared<const KeyCents>(correction);
    auto engine = SynthEngine::create(SynthEngineConfig{}, &provider);
    if (!engine || !engine->loadSoundFont(font))
        return 1;
    for (int ch = 0; ch < 2; ++ch)
        engine->shortMessage(packShortMessage(0xC0 | ch, static_cast<std::uint8_t>(program)));

    std::printf("program %d calibrated on %.2f..%.2f s (%.0f ms); cents over %.1f..%.1f s of a 2 s note\n", program,
                how.settleSeconds, how.settleSeconds + how.measureSeconds, calibrationMs, kFrom, kTo);
    std::printf("key   span  median of 100 ms windows  lowest  highest\n");
    double worstSpan = 0;
    double worstMedian = 0;
    double wander = 0;
    for (int key = kFirstKey; key <= kLastKey; ++key) {
        const Heard h = hear(*engine, 0, key);
        std::printf("%3d  %+6.2f  %+6.2f  %+6.2f  %+6.2f\n", key, h.span, h.median, h.lowest, h.highest);
        if (key == series) {
            std::printf("     windows from %.2f s, 50 ms apart:", kFrom);
            for (double c : h.series)
                std::printf(" %+.1f", c);
            std::printf("\n");
        }
        worstSpan = std::max(worstSpan, std::abs(h.span));
        worstMedian = std::max(worstMedian, std::abs(h.median));
        wander = std::max(wander, h.highest - h.lowest);
    }
    const Heard a = hear(*engine, 1, 69);
    std::printf("reference A (channel 2): span %+.3f  median %+.3f  windows %+.2f..%+.2f\n", a.span, a.median,
                a.lowest, a.highest);
    std::printf("keys: worst span %.2f, worst median %.2f, largest wander within a note %.2f cents\n", worstSpan,
                worstMedian, wander);
    return 0;
}
