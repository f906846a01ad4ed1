// The practice piano against the SoundFont's recorded piano, both rendered offline through the
// synthesizer as the device runs them (program 0 on channels 1 and 2):
//
// - struck string: C4 at velocity 100 held 3.5 s; the time of the loudest 20 ms, the level at
//   3 s against it, and how fast partials 1..8 die (dB/s over the first 20 dB below each one's
//   peak), with the fundamental's slope over 0.1..0.6 s and 2..3 s (the two stages);
// - beats: a mistuned fifth (F4 + C5, C tuned by GS scale tuning) and an equal-tempered major
//   third (C4 + E4) held 4 s, the rate at which their coincident partials beat (the spacing of
//   the minima of that partial pair's level) against 3 f(F4) - 2 f(C5) and 5 f(C4) - 4 f(E4);
// - CPU: the render thread's CPU time per 10 ms callback (480 frames) with keys 53..76 struck
//   and held by the pedal, over 3 s;
// - --wav DIR: C4 at velocity 100 held 4 s from each piano, as c4-practice.wav and c4-sampled.wav
//   (mono float), for bench/piano_sonogram.sh.
//
//   practice_piano [--soundfont FILE] [--wav DIR] [--fifth-cents N]

#include "BenchSoundFont.h"
#include "PianoMeasures.h"
#include "midi/GsMessages.h"
#include "midi/MidiOutput.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

using namespace velmora::midi;
using namespace velmora::midi::synth;

namespace {

constexpr double kRate = 48000.0;

std::unique_ptr<SynthEngine> makeEngine(const std::string& font, bool practice)
{
    SynthEngineConfig config;
    config.practicePiano = practice;
    auto engine = SynthEngine::create(config);
    if (!engine || !engine->loadSoundFont(font))
        return nullptr;
    return engine;
}

double rmsDb(std::span<const float> x)
{
    double sum = 0.0;
    for (float v : x)
        sum += static_cast<double>(v) * v;
    return 10.0 * std::log10(std::max(sum / static_cast<double>(x.size()), 1e-24));
}

// Least-squares slope of dB against seconds over [from, to), levels `step` seconds apart.
double slope(const std::vector<double>& db, double step, double from, double to)
{
    double n = 0, st = 0, sy = 0, stt = 0, sty = 0;
    for (std::size_t i = 0; i < db.size(); ++i) {
        const double t = static_cast<double>(i) * step;
        if (t < from || t >= to)
            continue;
        n += 1;
        st += t;
        sy += db[i];
        stt += t * t;
        sty += t * db[i];
    }
    return n > 1 ? (n * sty - st * sy) / (n * stt - st * st) : NAN;
}

void struckString(const std::string& font, const char* name, bool practice)
{
    auto engine = makeEngine(font, practice);
    if (!engine)
        return;
    const std::vector<float> x = velmora::bench::renderHeld(*engine, 0, 60, 100, 3.5);
    const std::span<const float> all(x);
    const auto w20 = static_cast<std::size_t>(0.02 * kRate);
    // One period of C4: the level without the ripple of a window that holds part of a period.
    const auto w5 = static_cast<std::size_t>(std::lround(kRate / equalTemperedHz(60)));
    double peakDb = -1e9;
    double peakAt = 0;
    for (std::size_t at = 0; at + w5 <= static_cast<std::size_t>(0.3 * kRate); at += 24) {
        const double db = rmsDb(all.subspan(at, w5));
        if (db > peakDb) {
            peakDb = db;
            peakAt = (static_cast<double>(at) + 0.5 * static_cast<double>(w5)) / kRate;
        }
    }
    double loudest20 = -1e9;
    for (std::size_t at = 0; at + w20 <= static_cast<std::size_t>(0.3 * kRate); at += 48)
        loudest20 = std::max(loudest20, rmsDb(all.subspan(at, w20)));
    const double at3 = rmsDb(all.subspan(static_cast<std::size_t>(2.99 * kRate), w20));
    std::printf("%s C4 velocity 100: loudest period centred %.1f ms after note-on; loudest 20 ms %.1f dBFS RMS, "
                "the 20 ms at 3 s %.1f dB below it\n",
                name, 1000.0 * peakAt, loudest20, loudest20 - at3);

    const double f0 = equalTemperedHz(60);
    constexpr double kStep = 0.01;
    double fundamental = 0;
    std::printf("  partial  dB/s over its first 20 dB  (x fundamental)\n");
    for (int n = 1; n <= 8; ++n) {
        const auto db = velmora::bench::partialLevelDb(all, kRate, n * f0, 0.05, kStep);
        const auto top = std::max_element(db.begin(), db.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(db.size(), 30)));
        const double topAt = static_cast<double>(top - db.begin()) * kStep;
        double rate = NAN;
        const char* how = "";
        for (auto it = top; it != db.end(); ++it)
            if (*it <= *top - 20.0) {
                rate = 20.0 / (static_cast<double>(it - db.begin()) * kStep - topAt);
                break;
            }
        if (std::isnan(rate)) {
            rate = -slope(db, kStep, topAt, 1e9);
            how = " (not 20 dB down by the end: slope to the end)";
        }
        if (n == 1) {
            fundamental = rate;
            std::printf("  %d  %6.1f  (level %.1f dB at its peak; slope %.1f dB/s over 0.1..0.6 s, %.1f dB/s over 2..3 s)%s\n",
                        n, rate, *top, -slope(db, kStep, 0.1, 0.6), -slope(db, kStep, 2.0, 3.0), how);
        } else {
            std::printf("  %d  %6.1f  (x%.2f; level %.1f dB at its peak)%s\n", n, rate, rate / fundamental, *top, how);
        }
    }
}

// The beat rate of two held keys' coincident partials, from the spacing of the minima of that
// partial pair's level.
void beats(const std::string& font, const char* name, bool practice, int low, int lowPartial, int high,
           int highPartial, int highCents)
{
    auto engine = makeEngine(font, practice);
    if (!engine)
        return;
    engine->systemExclusive(kGsResetMsg);
    std::array<std::int32_t, 12> cents{};
    cents[static_cast<std::size_t>(high % 12)] = highCents;
    engine->systemExclusive(buildScaleTuningMsg(exerciseTuningData(cents)));
    const auto frames = static_cast<std::size_t>(4.0 * kRate);
    std::vector<float> left(frames);
    std::vector<float> right(frames);
    engine->shortMessage(packShortMessage(0x90, static_cast<std::uint8_t>(low), 100));
    engine->shortMessage(packShortMessage(0x90, static_cast<std::uint8_t>(high), 100));
    engine->render(left, right);
    std::vector<float> x(frames);
    for (std::size_t i = 0; i < frames; ++i)
        x[i] = 0.5f * (left[i] + right[i]);

    const double fLow = equalTemperedHz(low);
    const double fHigh = equalTemperedHz(high) * std::pow(2.0, highCents / 1200.0);
    const double theory = std::abs(lowPartial * fLow - highPartial * fHigh);
    const double centre = 0.5 * (lowPartial * fLow + highPartial * fHigh);
    constexpr double kStep = 0.001;
    const auto db = velmora::bench::partialLevelDb(x, kRate, centre, 0.04, kStep);
    // Minima at least 0.6 of a theoretical beat apart.
    const auto reach = static_cast<std::ptrdiff_t>(0.3 / theory / kStep);
    std::vector<double> minima;
    const auto first = static_cast<std::ptrdiff_t>(0.2 / kStep);
    for (std::ptrdiff_t i = std::max(first, reach); i + reach < static_cast<std::ptrdiff_t>(db.size()); ++i) {
        bool lowest = true;
        for (std::ptrdiff_t j = i - reach; j <= i + reach && lowest; ++j)
            lowest = j == i || db[static_cast<std::size_t>(j)] > db[static_cast<std::size_t>(i)];
        if (!lowest)
            continue;
        const double y0 = db[static_cast<std::size_t>(i - 1)];
        const double y1 = db[static_cast<std::size_t>(i)];
        const double y2 = db[static_cast<std::size_t>(i + 1)];
        const double curvature = y0 - 2 * y1 + y2;
        minima.push_back((static_cast<double>(i) + (curvature > 0 ? 0.5 * (y0 - y2) / curvature : 0.0)) * kStep);
    }
    if (minima.size() < 3) {
        std::printf("%s keys %d + %d: %zu minima in 4 s, no beat rate (theory %.3f Hz)\n", name, low, high,
                    minima.size(), theory);
        return;
    }
    const double measured = static_cast<double>(minima.size() - 1) / (minima.back() - minima.front());
    std::printf("%s keys %d + %d (key %d %+d cents): partial %d against %d beats %.4f Hz over %zu beats; theory "
                "%.4f Hz; %+.2f %%\n",
                name, low, high, high, highCents, lowPartial, highPartial, measured, minima.size() - 1, theory,
                100.0 * (measured - theory) / theory);
}

double threadCpuMicros()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e6 * static_cast<double>(t.tv_sec) + 1e-3 * static_cast<double>(t.tv_nsec);
}

void cpu(const std::string& font, const char* name, bool practice)
{
    auto engine = makeEngine(font, practice);
    if (!engine)
        return;
    std::vector<float> stereo(2 * 480);
    // Warm up the caches, the samples and the strings' tables.
    engine->shortMessage(packShortMessage(0x90, 60, 100));
    for (int i = 0; i < 20; ++i)
        engine->renderInterleaved(stereo);
    engine->shortMessage(packShortMessage(0xB0, 120, 0));
    engine->renderInterleaved(stereo);

    engine->shortMessage(packShortMessage(0xB0, 64, 127));
    for (int key = 53; key <= 76; ++key)
        engine->shortMessage(packShortMessage(0x90, static_cast<std::uint8_t>(key), 100));
    for (int key = 53; key <= 76; ++key)
        engine->shortMessage(packShortMessage(0x80, static_cast<std::uint8_t>(key), 0));
    std::vector<double> micros;
    for (int i = 0; i < 300; ++i) {
        const double start = threadCpuMicros();
        engine->renderInterleaved(stereo);
        micros.push_back(threadCpuMicros() - start);
    }
    std::vector<double> sorted = micros;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double m : micros)
        sum += m;
    std::printf("%s, keys 53..76 under the pedal, 300 callbacks of 480 frames: render thread CPU mean %.1f, median "
                "%.1f, p99 %.1f, max %.1f us\n",
                name, sum / static_cast<double>(micros.size()), sorted[sorted.size() / 2],
                sorted[sorted.size() * 99 / 100], sorted.back());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string font;
    std::string wavDir;
    int fifthCents = -8;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--soundfont"))
            font = argv[i + 1];
        else if (!std::strcmp(argv[i], "--wav"))
            wavDir = argv[i + 1];
        else if (!std::strcmp(argv[i], "--fifth-cents"))
            fifthCents = std::atoi(argv[i + 1]);
    }
    if (const auto chosen = velmora::bench::soundFontToPlay(font))
        font = *chosen;
    else
        return 1;

    for (bool practice : {true, false})
        struckString(font, practice ? "practice piano" : "sampled piano", practice);
    for (bool practice : {true, false}) {
        const char* name = practice ? "practice piano" : "sampled piano";
        beats(font, name, practice, 65, 3, 72, 2, fifthCents);
        beats(font, name, practice, 60, 5, 64, 4, 0);
    }
    for (bool practice : {true, false})
        cpu(font, practice ? "practice piano" : "sampled piano", practice);

    if (!wavDir.empty()) {
        for (bool practice : {true, false}) {
            auto engine = makeEngine(font, practice);
            if (!engine)
                return 1;
            const auto x = velmora::bench::renderHeld(*engine, 0, 60, 100, 4.0);
            const std::string path = wavDir + (practice ? "/c4-practice.wav" : "/c4-sampled.wav");
            velmora::bench::writeWav(path, x, kRate);
            std::printf("wrote %s\n", path.c_str());
        }
    }
    return 0;
}
