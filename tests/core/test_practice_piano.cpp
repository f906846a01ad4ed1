// The practice piano as the synthesizer plays it: offline renders of program 0 measured for
// pitch over the note, beats, envelope and damping, and the settings line that chooses it.

#include "midi/BuiltinSynth.h"
#include "midi/GsMessages.h"
#include "midi/MidiOutput.h"
#include "midi/synth/AudioOutput.h"
#include "midi/synth/BuiltinSynthOutput.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/SoundFontLocator.h"
#include "midi/synth/SynthEngine.h"
#include "shell/PianoSetting.h"
#include "shell/SettingsFile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

using namespace velmora::midi;
using namespace velmora::midi::synth;

namespace {

constexpr double kRate = 48000.0;

// Every key of the channel 8 cents sharp: what a calibration of program 0 would hand back.
struct SharpCorrection final : CalibrationProvider {
    std::shared_ptr<const KeyCents> calibration(PresetId) override
    {
        KeyCents cents{};
        cents.fill(8.0);
        return std::make_shared<const KeyCents>(cents);
    }
};

std::unique_ptr<SynthEngine> practiceEngine(CalibrationProvider* calibration = nullptr)
{
    SynthEngineConfig config;
    config.practicePiano = true;
    auto engine = SynthEngine::create(config, calibration);
    if (engine) {
        if (const auto font = findGeneralMidiSoundFont())
            engine->loadSoundFont(*font);
    }
    return engine;
}

void send(SynthEngine& engine, int status, int data1, int data2 = 0)
{
    engine.shortMessage(packShortMessage(static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(data1),
                                         static_cast<std::uint8_t>(data2)));
}

std::vector<float> render(SynthEngine& engine, double seconds)
{
    std::vector<float> left(static_cast<std::size_t>(seconds * kRate));
    std::vector<float> right(left.size());
    engine.render(left, right);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = 0.5f * (left[i] + right[i]);
    return left;
}

double windowCents(const std::vector<float>& x, double from, double expectedHz)
{
    const auto at = static_cast<std::size_t>(from * kRate);
    const auto pitch = estimatePitchNear(std::span(x).subspan(at, static_cast<std::size_t>(0.1 * kRate)), kRate,
                                         expectedHz);
    return pitch ? centsBetween(expectedHz, pitch->hz) : 1e9;
}

double rmsDb(const std::vector<float>& x, double from, double seconds)
{
    double sum = 0.0;
    const auto begin = static_cast<std::size_t>(from * kRate);
    const auto n = static_cast<std::size_t>(seconds * kRate);
    for (std::size_t i = begin; i < begin + n; ++i)
        sum += static_cast<double>(x[i]) * x[i];
    return 10.0 * std::log10(std::max(sum / static_cast<double>(n), 1e-30));
}

// Level in dB of the partial near `hz`, 40 ms under a Hann window starting at `from`.
double partialDb(const std::vector<float>& x, double hz, double from)
{
    const auto begin = static_cast<std::size_t>(from * kRate);
    const auto width = static_cast<std::size_t>(0.04 * kRate);
    std::complex<double> sum{};
    double weights = 0.0;
    for (std::size_t i = 0; i < width; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(width));
        sum += w * static_cast<double>(x[begin + i]) * std::polar(1.0, -2.0 * std::numbers::pi * hz * static_cast<double>(begin + i) / kRate);
        weights += w;
    }
    return 20.0 * std::log10(std::max(2.0 * std::abs(sum) / weights, 1e-15));
}

std::vector<std::uint8_t> exercise(const std::array<std::int32_t, 12>& cents)
{
    const ScaleTuningMessage message = buildScaleTuningMsg(exerciseTuningData(cents));
    return {message.begin(), message.end()};
}

}  // namespace

// Every key sounds at the exercise's pitch in every part of the note, held or retuned, and the
// reference A stays at 440 Hz; a calibration of program 0 does not move it.
TEST(PracticePiano, EveryKeyIsAtItsExactPitchThroughoutTheNote)
{
    SharpCorrection sharp;
    auto engine = practiceEngine(&sharp);
    ASSERT_NE(engine, nullptr);
    const std::array<std::int32_t, 12> cents{-5, 30, 13, 26, -30, -23, -12, 30, -22, -16, -25, -6};
    engine->systemExclusive(exercise(cents));

    for (int key : {45, 53, 57, 60, 64, 66, 69, 71, 73, 76, 84, 96, 108}) {
        const double wanted = equalTemperedHz(key) * std::pow(2.0, cents[static_cast<std::size_t>(key % 12)] / 1200.0);
        send(*engine, 0x90, key, 100);
        const auto x = render(*engine, 2.0);
        send(*engine, 0x80, key, 0);
        render(*engine, 0.5);
        for (double from : {0.05, 0.3, 0.9, 1.85})
            EXPECT_NEAR(windowCents(x, from, wanted), 0.0, 0.02) << "key " << key << " at " << from << " s";
    }
    EXPECT_DOUBLE_EQ(engine->keyPitch(0, 69), 6900.0 + cents[9]);

    // The reference A on channel index 1, which the exercise does not tune.
    send(*engine, 0x91, 69, 100);
    const auto reference = render(*engine, 1.0);
    send(*engine, 0xB1, 120);
    for (double from : {0.05, 0.5, 0.85})
        EXPECT_NEAR(windowCents(reference, from, 440.0), 0.0, 0.02) << from;

    // A held note retuned: at the new pitch from the next window on, exactly.
    send(*engine, 0xB0, 120);
    send(*engine, 0x90, 69, 100);
    render(*engine, 0.3);
    std::array<std::int32_t, 12> sharper{};
    sharper[9] = 20;
    engine->systemExclusive(exercise(sharper));
    const auto retuned = render(*engine, 0.2);
    EXPECT_NEAR(windowCents(retuned, 0.01, 440.0 * std::pow(2.0, 20.0 / 1200.0)), 0.0, 0.02);

    // Another program on the same channel is calibrated as before.
    send(*engine, 0xC0, 19);
    EXPECT_DOUBLE_EQ(engine->keyPitch(0, 69), 6900.0 + 20.0 + 8.0);
}

// Two keys beat at exactly the rate their tuning gives; one key alone does not beat.
TEST(PracticePiano, IntervalsBeatAtTheRateTheirTuningGivesAndAKeyAloneDoesNot)
{
    auto engine = practiceEngine();
    ASSERT_NE(engine, nullptr);
    std::array<std::int32_t, 12> cents{};
    cents[0] = -8;  // C
    engine->systemExclusive(exercise(cents));
    send(*engine, 0x90, 65, 100);
    send(*engine, 0x90, 72, 100);
    const auto fifth = render(*engine, 4.0);
    send(*engine, 0xB0, 120);
    render(*engine, 0.01);

    const double f = equalTemperedHz(65);
    const double c = equalTemperedHz(72) * std::pow(2.0, -8.0 / 1200.0);
    const double theory = 3.0 * f - 2.0 * c;
    // The minima of the coincident partials' level, a millisecond apart.
    std::vector<double> level;
    for (double t = 0.0; t + 0.04 < 4.0; t += 0.001)
        level.push_back(partialDb(fifth, 1.5 * (f + c), t));
    std::vector<double> minima;
    const int reach = static_cast<int>(0.3 / theory / 0.001);
    for (int i = 200; i + reach < static_cast<int>(level.size()); ++i) {
        bool lowest = true;
        for (int j = i - reach; j <= i + reach && lowest; ++j)
            lowest = j == i || level[static_cast<std::size_t>(j)] > level[static_cast<std::size_t>(i)];
        if (!lowest)
            continue;
        const double y0 = level[static_cast<std::size_t>(i - 1)];
        const double y1 = level[static_cast<std::size_t>(i)];
        const double y2 = level[static_cast<std::size_t>(i + 1)];
        const double curvature = y0 - 2.0 * y1 + y2;
        minima.push_back((i + (curvature > 0.0 ? 0.5 * (y0 - y2) / curvature : 0.0)) * 0.001);
    }
    ASSERT_GE(minima.size(), 10u);
    const double measured = static_cast<double>(minima.size() - 1) / (minima.back() - minima.front());
    EXPECT_NEAR(measured / theory, 1.0, 0.01) << measured << " Hz against " << theory;

    // One key: every partial's level only falls after the attack.
    send(*engine, 0x90, 60, 100);
    const auto alone = render(*engine, 2.0);
    for (int n = 1; n <= 8; ++n) {
        double previous = partialDb(alone, n * equalTemperedHz(60), 0.02);
        for (double t = 0.04; t + 0.04 < 2.0; t += 0.02) {
            const double now = partialDb(alone, n * equalTemperedHz(60), t);
            EXPECT_LT(now, previous + 0.05) << "partial " << n << " at " << t << " s";
            previous = now;
        }
    }
}

// A struck string: a quick attack, a decay that takes the upper partials faster, brighter and
// louder with the velocity, the damper at release unless the pedal holds it, and All Sound Off.
TEST(PracticePiano, SoundsLikeAStruckStringWithDamperAndPedal)
{
    auto engine = practiceEngine();
    ASSERT_NE(engine, nullptr);
    const double c4 = equalTemperedHz(60);
    send(*engine, 0x90, 60, 100);
    const auto hard = render(*engine, 3.1);
    send(*engine, 0xB0, 120);
    render(*engine, 0.01);

    // The loudest period of the note comes within 10 ms of the note-on.
    const double period = 1.0 / c4;
    double loudest = -1e9;
    double loudestAt = 0.0;
    for (double t = 0.0; t < 0.1; t += 0.0005)
        if (const double db = rmsDb(hard, t, period); db > loudest) {
            loudest = db;
            loudestAt = t + period / 2.0;
        }
    EXPECT_LT(loudestAt, 0.01);
    EXPECT_LT(rmsDb(hard, 2.99, 0.02), rmsDb(hard, 0.0, 0.02) - 20.0);
    // How fast a partial dies: dB per second over the first 20 dB below its peak.
    auto dying = [&](int n) {
        double peak = -1e9;
        double peakAt = 0.0;
        for (double t = 0.0; t + 0.04 < 3.1; t += 0.01) {
            const double db = partialDb(hard, n * c4, t);
            if (db > peak) {
                peak = db;
                peakAt = t;
            } else if (db < peak - 20.0) {
                return 20.0 / (t - peakAt);
            }
        }
        return 0.0;
    };
    const double fundamental = dying(1);
    EXPECT_GT(fundamental, 0.0);
    for (int n = 4; n <= 8; ++n)
        EXPECT_GT(dying(n), 2.0 * fundamental) << "partial " << n;

    send(*engine, 0x90, 60, 40);
    const auto soft = render(*engine, 0.3);
    send(*engine, 0x80, 60, 0);
    EXPECT_LT(rmsDb(soft, 0.05, 0.1), rmsDb(hard, 0.05, 0.1) - 6.0);
    EXPECT_LT(partialDb(soft, 4 * c4, 0.05) - partialDb(soft, c4, 0.05),
              partialDb(hard, 4 * c4, 0.05) - partialDb(hard, c4, 0.05) - 3.0);

    // Released: damped. Released under the pedal: held until the pedal comes up.
    const auto damped = render(*engine, 0.5);
    EXPECT_LT(rmsDb(damped, 0.4, 0.1), rmsDb(soft, 0.2, 0.1) - 40.0);
    send(*engine, 0xB0, 64, 127);
    send(*engine, 0x90, 60, 100);
    render(*engine, 0.2);
    send(*engine, 0x80, 60, 0);
    const auto pedal = render(*engine, 0.5);
    EXPECT_GT(rmsDb(pedal, 0.4, 0.1), rmsDb(hard, 0.6, 0.1) - 6.0);
    send(*engine, 0xB0, 64, 0);
    const auto lifted = render(*engine, 0.5);
    EXPECT_LT(rmsDb(lifted, 0.4, 0.1), rmsDb(pedal, 0.4, 0.1) - 40.0);

    // All Sound Off: silent after the block that fades it.
    send(*engine, 0xB0, 64, 127);
    send(*engine, 0x90, 60, 100);
    render(*engine, 0.1);
    send(*engine, 0xB0, 120);
    const auto off = render(*engine, 0.05);
    EXPECT_LT(rmsDb(off, 0.01, 0.04), -120.0);
    send(*engine, 0xB0, 64, 0);
}

// `[synth] piano=sampled` brings the SoundFont's piano back through the device the program makes;
// the file keeps the line when the program writes its own settings.
TEST(PracticePiano, TheSettingsLineChoosesThePiano)
{
    if (!findGeneralMidiSoundFont())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    struct OfflineAudio final : AudioBackend {
        struct Stream final : AudioStream {
            AudioFormat format() const override { return {"offline", kRate, 128, 3}; }
        };
        std::optional<Started> start(const EngineFactory& makeEngine) override
        {
            Started started;
            started.engine = makeEngine(kRate);
            started.stream = std::make_unique<Stream>();
            return started;
        }
    };

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path path = dir.path().toStdString() + "/vostrel.ini";
    auto file = velmora::SettingsFile::fromText("[window]\r\nHeight=246\r\n[Synth]\r\nPiano = Sampled\r\n");
    velmora::writeStoredSettings(file, velmora::StoredSettings{});
    ASSERT_TRUE(file.save(path));
    const auto saved = velmora::SettingsFile::load(path);
    EXPECT_EQ(velmora::readPianoSound(velmora::SettingsFile{}), PianoSound::Practice);

    // Key 60 over its first 1.5 s: the recorded piano's sample sinks by cents, the practice piano
    // does not move.
    auto wander = [](const velmora::SettingsFile& settings) {
        BuiltinSynthOptions options = builtinSynthOptions(velmora::readPianoSound(settings));
        options.calibrate = false;
        BuiltinSynthOutput out(std::move(options), std::make_unique<OfflineAudio>());
        Handle handle = kNoHandle;
        EXPECT_EQ(out.open(0, handle), mmresult::NoError);
        SynthEngine& engine = *out.engine();
        out.shortMessage(handle, packShortMessage(0x90, 60, 100));
        const auto x = render(engine, 1.6);
        out.close(handle);
        return std::abs(windowCents(x, 1.45, equalTemperedHz(60)) - windowCents(x, 0.1, equalTemperedHz(60)));
    };
    EXPECT_GT(wander(saved), 0.5);
    EXPECT_LT(wander(velmora::SettingsFile::fromText("[synth]\r\npiano=practice\r\n")), 0.02);
}
