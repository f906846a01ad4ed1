// Pitch truth of the built-in synthesizer: for every melodic General MIDI program, the largest
// distance from equal temperament over keys 53..76 at zero detune, before and after calibration,
// and after a random exercise's scale tuning (distance from the tuning asked for). A key's pitch
// is the average pitch of the note from 0.1 to 1.5 s after its note-on, as the calibration
// measures it.
//
//   pitch_truth [--soundfont FILE] [--first N] [--last N] [--seed N]
//               [--check-settle SECONDS] [--check-seconds SECONDS]

#include "midi/MidiOutput.h"
#include "midi/synth/CalibrationService.h"
#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/PitchEstimator.h"
#include "BenchSoundFont.h"
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
// A key's pitch is measured as the calibration measures it; --check-settle and --check-seconds
// measure over another window instead.
constexpr KeyMeasurement kMusicalWindow{};

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
    double wander = 0;
    double clarity = 1;
    int unmeasured = 0;
    int silent = 0;
    double calibrationMs = 0;
};

struct Pass {
    double worst = 0.0;   // largest |measured - wanted|, cents
    double wander = 0.0;  // largest difference between a note's two halves, cents
    double clarity = 1.0; // lowest clarity
    int unmeasured = 0;   // keys that sound without a pitch
    int silent = 0;       // keys outside the program's range: no sample, no sound
};

// Whether a key makes any sound at all on channel 0.
bool sounds(SynthEngine& engine, int key, const KeyMeasurement& how)
{
    const auto frames = static_cast<std::size_t>((how.settleSeconds + how.measureSeconds) * engine.sampleRate());
    std::vector<float> left(frames);
    std::vector<float> right(frames);
    engine.shortMessage(packShortMessage(0x90, static_cast<std::uint8_t>(key), 100));
    engine.render(left, right);
    double energy = 0.0;
    for (std::size_t i = 0; i < frames; ++i)
        energy += static_cast<double>(left[i]) * left[i] + static_cast<double>(right[i]) * right[i];
    engine.shortMessage(packShortMessage(0xB0, 120, 0));
    engine.render(std::span(left).first(64), std::span(right).first(64));
    return std::sqrt(energy / static_cast<double>(2 * frames)) > 1e-5;
}

// A program has no single pitch when, at zero detune, some key has no periodic tone, or the partial
// nearest the key is further from it than any tuning error (the calibration's own bound), or the
// note's two halves are heard at different partials.
constexpr double kPlausibleCents = 100.0;
constexpr double kSamePartialCents = 50.0;

bool hasNoSinglePitch(const Row& row)
{
    return row.unmeasured > 0 || row.before > kPlausibleCents || row.wander > kSamePartialCents;
}

Pass measurePass(SynthEngine& engine, int program, const std::array<int, 12>& wanted, const KeyMeasurement& how)
{
    engine.shortMessage(packShortMessage(0xC0, static_cast<std::uint8_t>(program)));
    engine.systemExclusive(scaleTuningMessage(wanted));
    Pass pass;
    for (int key = kFirstKey; key <= kLastKey; ++key) {
        const auto pitch = measureKey(engine, 0, key, how);
        if (!pitch && !sounds(engine, key, how)) {
            ++pass.silent;
            continue;
        }
        if (!pitch) {
            ++pass.unmeasured;
            pass.clarity = 0.0;
            continue;
        }
        double cents = centsBetween(equalTemperedHz(key), pitch->hz);
        cents -= 1200.0 * std::round(cents / 1200.0);
        pass.worst = std::max(pass.worst, std::abs(cents - wanted[static_cast<std::size_t>(key % 12)]));
        pass.wander = std::max(pass.wander, pitch->driftCents);
        pass.clarity = std::min(pass.clarity, pitch->clarity);
    }
    return pass;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string font;
    int first = 0;
    int last = kFirstUnpitchedProgram - 1;
    unsigned seed = 1;
    KeyMeasurement check = kMusicalWindow;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--soundfont"))
            font = argv[i + 1];
        else if (!std::strcmp(argv[i], "--first"))
            first = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--last"))
            last = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--check-settle"))
            check.settleSeconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--check-seconds"))
            check.measureSeconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed"))
            seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
    }
    if (const auto chosen = velmora::bench::soundFontToPlay(font))
        font = *chosen;
    else
        return 1;
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
    std::printf("SoundFont: %s\nkeys %d..%d; a key's pitch is its average over %.2f..%.2f s after the note-on;\n"
                "cents = max over the keys of |measured - wanted|; wander = max cents between a note's two halves\n\n",
                font.c_str(), kFirstKey, kLastKey, check.settleSeconds, check.settleSeconds + check.measureSeconds);
    std::printf("program  before  after  exercise  wander  clarity  calibration ms\n");
    std::vector<Row> rows;
    for (int program = first; program <= last; ++program) {
        Row row;
        row.program = program;
        const Pass before = measurePass(*plain, program, {}, check);
        row.before = before.worst;
        row.wander = before.wander;
        row.clarity = before.clarity;
        row.unmeasured = before.unmeasured;
        row.silent = before.silent;

        const auto start = std::chrono::steady_clock::now();
        calibration.calibration({0, program});
        row.calibrationMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        row.after = measurePass(*calibrated, program, {}, check).worst;

        std::array<int, 12> exercise{};
        for (int& c : exercise)
            c = offset(random);
        row.exercise = measurePass(*calibrated, program, exercise, check).worst;
        std::printf("%7d  %6.2f  %5.2f  %8.2f  %6.1f  %7.3f  %14.0f%s\n", program, row.before, row.after,
                    row.exercise, std::min(row.wander, 9999.0), row.clarity, row.calibrationMs,
                    hasNoSinglePitch(row) ? "  no single pitch" : "");
        if (row.silent > 0)
            std::printf("         (%d keys without sound, not counted)\n", row.silent);
        std::fflush(stdout);
        rows.push_back(row);
    }

    std::vector<Row> pitched;
    std::vector<int> unpitched;
    for (const Row& r : rows) {
        if (hasNoSinglePitch(r))
            unpitched.push_back(r.program);
        else
            pitched.push_back(r);
    }
    auto within = [](const std::vector<Row>& of, double limit, double Row::*column) {
        return std::count_if(of.begin(), of.end(), [&](const Row& r) { return r.*column <= limit; });
    };
    double totalMs = 0;
    for (const Row& r : rows)
        totalMs += r.calibrationMs;
    std::printf("\nwithin 0.5 / 1 cent   all %zu programs   the %zu with a single pitch\n", rows.size(), pitched.size());
    std::printf("before calibration    %3zd / %3zd          %3zd / %3zd\n", within(rows, 0.5, &Row::before),
                within(rows, 1.0, &Row::before), within(pitched, 0.5, &Row::before), within(pitched, 1.0, &Row::before));
    std::printf("after calibration     %3zd / %3zd          %3zd / %3zd\n", within(rows, 0.5, &Row::after),
                within(rows, 1.0, &Row::after), within(pitched, 0.5, &Row::after), within(pitched, 1.0, &Row::after));
    std::printf("exercise              %3zd / %3zd          %3zd / %3zd\n", within(rows, 0.5, &Row::exercise),
                within(rows, 1.0, &Row::exercise), within(pitched, 0.5, &Row::exercise),
                within(pitched, 1.0, &Row::exercise));
    std::printf("no single pitch:");
    for (int program : unpitched)
        std::printf(" %d", program);
    std::printf("\ncalibration %.0f ms per program on average\n",
                rows.empty() ? 0.0 : totalMs / static_cast<double>(rows.size()));
    std::sort(pitched.begin(), pitched.end(), [](const Row& a, const Row& b) { return a.after > b.after; });
    std::printf("\nworst ten with a single pitch, after calibration:\nprogram  before  after  exercise  wander\n");
    for (std::size_t i = 0; i < std::min<std::size_t>(10, pitched.size()); ++i)
        std::printf("%7d  %6.2f  %5.2f  %8.2f  %6.1f\n", pitched[i].program, pitched[i].before, pitched[i].after,
                    pitched[i].exercise, pitched[i].wander);
    return 0;
}
