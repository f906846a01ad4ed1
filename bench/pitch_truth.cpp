// Pitch truth of the built-in synthesizer: for every melodic General MIDI program, the largest
// distance from equal temperament over keys 53..76 at zero detune, before and after calibration,
// and after a random exercise's scale tuning (distance from the tuning asked for).
//
//   pitch_truth [--soundfont FILE] [--first N] [--last N] [--seed N]

#include "midi/MidiOutput.h"
#include "midi/synth/CalibrationService.h"
#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/SoundFontLocator.h"
#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <array>
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
// Checked with a later and longer window than the calibration measures with, so that the figure after
// calibration is not the calibration's own measurement read back.
constexpr KeyMeasurement kCheck{0.12, 0.48, 100};

std::vector<std::uint8_t> scaleTuningMessage(const std::array<int, 12>& cents)
{
    std::vector<std::uint8_t> m{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40};
    unsigned sum = 0x40 + 0x11 + 0x40;
    for (int c : cents) {
        m.push_back(static_cast<std::uint8_t>(0x40 + c));
        sum += static_cast<unsigned>(0x40 + c);
    }
    m.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
    m.push_back(0xF7);
    return m;
}

struct Row {
    int program = 0;
    double before = 0;
    double after = 0;
    double exercise = 0;
    int unmeasured = 0;
    double calibrationMs = 0;
};

// Largest |measured - wanted| over the keys, in cents; keys without a pitch are counted apart.
double worstError(SynthEngine& engine, int program, const std::array<int, 12>& wanted, int& unmeasured)
{
    engine.shortMessage(packShortMessage(0xC0, static_cast<std::uint8_t>(program)));
    engine.systemExclusive(scaleTuningMessage(wanted));
    double worst = 0.0;
    for (int key = kFirstKey; key <= kLastKey; ++key) {
        const auto hz = measureKeyHz(engine, 0, key, kCheck);
        if (!hz) {
            ++unmeasured;
            continue;
        }
        double cents = centsBetween(equalTemperedHz(key), *hz);
        cents -= 1200.0 * std::round(cents / 1200.0);
        worst = std::max(worst, std::abs(cents - wanted[static_cast<std::size_t>(key % 12)]));
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string font;
    int first = 0;
    int last = kFirstUnpitchedProgram - 1;
    unsigned seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--soundfont"))
            font = argv[i + 1];
        else if (!std::strcmp(argv[i], "--first"))
            first = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--last"))
            last = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed"))
            seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
    }
    if (font.empty()) {
        const auto found = findGeneralMidiSoundFont();
        if (!found) {
            std::fprintf(stderr, "no General MIDI SoundFont installed\n");
            return 1;
        }
        font = found->string();
    }
    const double rate = 48000.0;
    auto calibrator = ProgramCalibrator::create(font, rate);
    ImmediateCalibration calibration(*calibrator);
    auto plain = SynthEngine::create(SynthEngineConfig{});
    auto calibrated = SynthEngine::create(SynthEngineConfig{}, &calibration);
    if (!calibrator || !plain || !calibrated || !plain->loadSoundFont(font) || !calibrated->loadSoundFont(font)) {
        std::fprintf(stderr, "cannot load %s\n", font.c_str());
        return 1;
    }

    std::mt19937 random(seed);
    std::uniform_int_distribution<int> offset(-30, 30);
    std::printf("SoundFont: %s\nkeys %d..%d, cents = max |measured - wanted|\n\n", font.c_str(), kFirstKey, kLastKey);
    std::printf("program  before  after  exercise  calibration ms\n");
    std::vector<Row> rows;
    for (int program = first; program <= last; ++program) {
        Row row;
        row.program = program;
        row.before = worstError(*plain, program, {}, row.unmeasured);

        const auto start = std::chrono::steady_clock::now();
        calibration.calibration({0, program});
        row.calibrationMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        row.after = worstError(*calibrated, program, {}, row.unmeasured);

        std::array<int, 12> exercise{};
        for (int& c : exercise)
            c = offset(random);
        row.exercise = worstError(*calibrated, program, exercise, row.unmeasured);
        std::printf("%7d  %6.2f  %5.2f  %8.2f  %14.0f%s\n", program, row.before, row.after, row.exercise,
                    row.calibrationMs, row.unmeasured ? "  (keys without pitch)" : "");
        std::fflush(stdout);
        rows.push_back(row);
    }

    auto share = [&](double limit) {
        return std::count_if(rows.begin(), rows.end(), [&](const Row& r) { return r.after <= limit; });
    };
    double totalMs = 0;
    for (const Row& r : rows)
        totalMs += r.calibrationMs;
    std::printf("\nafter calibration: %zd of %zu programs within 0.5 cent, %zd within 1 cent; "
                "calibration %.0f ms per program on average\n",
                share(0.5), rows.size(), share(1.0), rows.empty() ? 0.0 : totalMs / static_cast<double>(rows.size()));
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.after > b.after; });
    std::printf("\nworst ten after calibration:\nprogram  before  after  exercise\n");
    for (std::size_t i = 0; i < std::min<std::size_t>(10, rows.size()); ++i)
        std::printf("%7d  %6.2f  %5.2f  %8.2f\n", rows[i].program, rows[i].before, rows[i].after, rows[i].exercise);
    return 0;
}
