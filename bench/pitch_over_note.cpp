// Pitch over the whole of a held note, as a learner hears it: keys 53..76 of a program are
// calibrated (over the calibration's own window, or --settle/--seconds), then each is held for
// 2 s on the calibrated engine and measured in 100 ms windows from 0.1 to 1.5 s after its
// note-on. Prints per key the pitch over the whole span, the median of the windows and their
// lowest and highest (the wander within the note), in cents from the key's equal-tempered pitch.
//
// --series KEY prints that key's windows in time order as well.
//
//   pitch_over_note [--soundfont FILE] [--program N] [--settle SECONDS] [--seconds SECONDS]
//                   [--series KEY]

#include "midi/MidiOutput.h"
#include "midi/synth/CalibrationService.h"
#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/PitchEstimator.h"
#include "BenchSoundFont.h"
#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
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

}  // namespace

int main(int argc, char** argv)
{
    std::string font;
    int program = 0;
    KeyMeasurement how;
    int series = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--soundfont"))
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
