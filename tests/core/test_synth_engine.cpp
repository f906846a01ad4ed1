#include "midi/MidiOutput.h"
#include "midi/synth/CalibrationService.h"
#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/SoundFontLocator.h"
#include "midi/synth/SynthEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <cmath>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velmora::midi::synth;
using velmora::midi::packShortMessage;

namespace velmora::midi::synth {
void PrintTo(const PresetId& preset, std::ostream* out)
{
    *out << "bank " << preset.bank << " program " << preset.program;
}
}  // namespace velmora::midi::synth

namespace {

constexpr int kA4 = 69;

std::vector<std::uint8_t> scaleTuning(std::uint8_t block, std::uint8_t firstAddress, std::vector<std::uint8_t> data)
{
    std::vector<std::uint8_t> m{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, static_cast<std::uint8_t>(0x10 | block), firstAddress};
    unsigned sum = 0x40 + (0x10 | block) + firstAddress;
    for (std::uint8_t b : data) {
        m.push_back(b);
        sum += b;
    }
    m.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
    m.push_back(0xF7);
    return m;
}

const std::vector<std::uint8_t> kGsReset{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};

double cents(SynthEngine& engine, int channel, int key)
{
    const auto hz = measureKeyHz(engine, channel, key);
    EXPECT_TRUE(hz.has_value()) << "channel " << channel << " key " << key;
    return hz ? centsBetween(equalTemperedHz(key), *hz) : 1e9;
}

double rms(const std::vector<float>& v)
{
    double sum = 0.0;
    for (float x : v)
        sum += static_cast<double>(x) * x;
    return std::sqrt(sum / static_cast<double>(v.size()));
}

// Renders `seconds` and returns the level of the left channel.
double level(SynthEngine& engine, double seconds)
{
    std::vector<float> left(static_cast<std::size_t>(seconds * engine.sampleRate()));
    std::vector<float> right(left.size());
    engine.render(left, right);
    return rms(left);
}

}  // namespace

// One offline engine on the installed General MIDI SoundFont, reset before every test.
class SynthEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const auto font = findGeneralMidiSoundFont();
        if (!font)
            return;
        s_engine = SynthEngine::create(SynthEngineConfig{}).release();
        if (s_engine && !s_engine->loadSoundFont(*font)) {
            delete s_engine;
            s_engine = nullptr;
        }
    }
    static void TearDownTestSuite()
    {
        delete s_engine;
        s_engine = nullptr;
    }
    void SetUp() override
    {
        if (!s_engine)
            GTEST_SKIP() << "no General MIDI SoundFont installed";
        s_engine->systemExclusive(kGsReset);
    }
    SynthEngine& engine() { return *s_engine; }

    static SynthEngine* s_engine;
};
SynthEngine* SynthEngineTest::s_engine = nullptr;

TEST_F(SynthEngineTest, ScaleTuningMovesThePartsPitchClassByExactlyTheCentsAsked)
{
    const double untuned = cents(engine(), 0, kA4);
    const double reference = cents(engine(), 1, kA4);

    engine().systemExclusive(scaleTuning(1, 0x49, {0x40 - 30}));
    EXPECT_NEAR(cents(engine(), 0, kA4) - untuned, -30.0, 0.2);
    EXPECT_NEAR(cents(engine(), 0, kA4 - 12) - cents(engine(), 1, kA4 - 12), -30.0, 0.2);
    // Part 2 on channel index 1, the reference A, is not touched.
    EXPECT_NEAR(cents(engine(), 1, kA4), reference, 0.05);
    // Nor is another pitch class of part 1.
    EXPECT_NEAR(cents(engine(), 0, 72), cents(engine(), 1, 72), 0.05);

    std::vector<std::uint8_t> whole(12, 0x40);
    whole[9] = 0x40 + 25;
    engine().systemExclusive(scaleTuning(1, 0x40, whole));
    EXPECT_NEAR(cents(engine(), 0, kA4) - untuned, 25.0, 0.2);
    EXPECT_NEAR(cents(engine(), 1, kA4), reference, 0.05);

    engine().systemExclusive(kGsReset);
    EXPECT_NEAR(cents(engine(), 0, kA4), untuned, 0.05);
}

TEST_F(SynthEngineTest, ABadMessageChangesNothing)
{
    const double untuned = cents(engine(), 0, kA4);
    auto wrongChecksum = scaleTuning(1, 0x49, {0x40 - 30});
    wrongChecksum[9] ^= 0x01;
    engine().systemExclusive(wrongChecksum);
    auto truncated = scaleTuning(1, 0x49, {0x40 - 30});
    truncated.pop_back();
    engine().systemExclusive(truncated);
    engine().systemExclusive(scaleTuning(1, 0x4C, {0x40 - 30}));

    EXPECT_EQ(engine().scaleTuning(0), (std::array<int, 12>{}));
    EXPECT_NEAR(cents(engine(), 0, kA4), untuned, 0.05);
}

TEST_F(SynthEngineTest, ASoundingNoteIsRetunedAtOnce)
{
    // The same note rendered twice, the second time retuned while it sounds: the note's own
    // pitch drift over its attack is the same in both, so what differs is the retuning.
    const double rate = engine().sampleRate();
    auto secondStretch = [&](bool retune) {
        engine().shortMessage(packShortMessage(0x90, kA4, 100));
        std::vector<float> left(static_cast<std::size_t>(0.1 * rate));
        std::vector<float> right(left.size());
        engine().render(left, right);
        if (retune)
            engine().systemExclusive(scaleTuning(1, 0x49, {0x40 + 20}));
        engine().render(left, right);
        engine().shortMessage(packShortMessage(0xB0, 120, 0));
        engine().render(std::span(left).first(64), std::span(right).first(64));
        return estimatePitchNear(std::span(left).first(left.size()), rate, 440.0);
    };
    const auto steady = secondStretch(false);
    const auto retuned = secondStretch(true);
    ASSERT_TRUE(steady && retuned);
    EXPECT_NEAR(centsBetween(steady->hz, retuned->hz), 20.0, 0.2);
}

TEST_F(SynthEngineTest, ScaleTuningOfTheDrumPartGoesToChannelNine)
{
    engine().systemExclusive(scaleTuning(0, 0x40, {0x40 + 5, 0x40 - 5}));
    EXPECT_EQ(engine().scaleTuning(9)[0], 5);
    EXPECT_EQ(engine().scaleTuning(9)[1], -5);
    EXPECT_EQ(engine().scaleTuning(0), (std::array<int, 12>{}));
    EXPECT_DOUBLE_EQ(engine().keyPitch(9, 36), 3605.0);
}

TEST_F(SynthEngineTest, NotesPedalAndSoundOff)
{
    // A held key sounds; a velocity-0 note-on ends it like a note-off.
    engine().shortMessage(packShortMessage(0x90, 60, 100));
    const double held = level(engine(), 0.2);
    EXPECT_GT(held, 1e-3);
    engine().shortMessage(packShortMessage(0x90, 60, 0));
    level(engine(), 1.5);
    EXPECT_LT(level(engine(), 0.1), held * 0.05);

    // With the damper down a released key goes on sounding, and All Sound Off silences it.
    engine().shortMessage(packShortMessage(0xB0, 64, 127));
    engine().shortMessage(packShortMessage(0x90, 60, 100));
    level(engine(), 0.2);
    engine().shortMessage(packShortMessage(0x80, 60, 127));
    level(engine(), 1.5);
    EXPECT_GT(level(engine(), 0.1), held * 0.05);
    engine().shortMessage(packShortMessage(0xB0, 120, 0));
    level(engine(), 0.01);
    EXPECT_LT(level(engine(), 0.05), 1e-6);
    engine().shortMessage(packShortMessage(0xB0, 64, 0));
}

TEST_F(SynthEngineTest, ProgramChangesAndTheirBankAreFollowed)
{
    engine().shortMessage(packShortMessage(0xC0, 19));
    engine().shortMessage(packShortMessage(0xB1, 0, 8));
    engine().shortMessage(packShortMessage(0xC1, 4));
    EXPECT_EQ(engine().presetOn(0), (PresetId{0, 19}));
    EXPECT_EQ(engine().presetOn(1), (PresetId{8, 4}));
    engine().systemExclusive(std::vector<std::uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    EXPECT_EQ(engine().presetOn(0), (PresetId{0, 0}));
    EXPECT_EQ(engine().presetOn(1), (PresetId{0, 0}));
}

// The calibrated engine: program 0 in tune to half a cent over the keys the program plays, the
// correction left off drums and sound effects, and the scale tuning still exact on top.
TEST(SynthCalibration, CalibratedProgramSoundsInEqualTemperament)
{
    const auto font = findGeneralMidiSoundFont();
    if (!font)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    auto calibrator = ProgramCalibrator::create(*font, 48000.0, CalibrationRange{53, 76});
    ASSERT_NE(calibrator, nullptr);
    ImmediateCalibration provider(*calibrator);
    auto engine = SynthEngine::create(SynthEngineConfig{}, &provider);
    ASSERT_TRUE(engine && engine->loadSoundFont(*font));

    double worst = 0.0;
    for (int key = 53; key <= 76; ++key)
        worst = std::max(worst, std::abs(cents(*engine, 0, key)));
    EXPECT_LT(worst, 0.5);

    const KeyCents correction = *provider.calibration({0, 0});
    engine->systemExclusive(scaleTuning(1, 0x49, {0x40 - 30}));
    EXPECT_DOUBLE_EQ(engine->keyPitch(0, kA4), 6900.0 + correction[kA4] - 30.0);
    EXPECT_NEAR(cents(*engine, 0, kA4), -30.0, 0.5);

    EXPECT_DOUBLE_EQ(engine->keyPitch(9, 60), 6000.0);
    engine->shortMessage(packShortMessage(0xC2, 120));
    EXPECT_DOUBLE_EQ(engine->keyPitch(2, 60), 6000.0);
}

// A key whose pitch moves within the note (a tremolo, a sample loop that is not a whole number of
// periods) is heard at its average: the calibration corrects that average rather than leaving the
// key out of tune.
TEST(SynthCalibration, AKeyThatWandersIsCorrectedToItsAveragePitch)
{
    const auto font = findGeneralMidiSoundFont();
    if (!font)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    auto plain = SynthEngine::create(SynthEngineConfig{});
    ASSERT_TRUE(plain && plain->loadSoundFont(*font));

    int program = -1;
    int key = -1;
    for (int candidate : {0, 11}) {
        plain->shortMessage(packShortMessage(0xC0, static_cast<std::uint8_t>(candidate)));
        for (int k = 53; k <= 76 && key < 0; ++k) {
            const auto pitch = measureKey(*plain, 0, k);
            if (pitch && pitch->driftCents > 1.5 && std::abs(centsBetween(equalTemperedHz(k), pitch->hz)) > 1.0) {
                program = candidate;
                key = k;
            }
        }
        if (key >= 0)
            break;
    }
    if (key < 0)
        GTEST_SKIP() << "no key of this SoundFont wanders and is out of tune";

    auto calibrator = ProgramCalibrator::create(*font, 48000.0, CalibrationRange{key, key});
    ASSERT_NE(calibrator, nullptr);
    ImmediateCalibration provider(*calibrator);
    auto engine = SynthEngine::create(SynthEngineConfig{}, &provider);
    ASSERT_TRUE(engine && engine->loadSoundFont(*font));
    engine->shortMessage(packShortMessage(0xC0, static_cast<std::uint8_t>(program)));
    EXPECT_NE(engine->keyPitch(0, key), 100.0 * key) << "program " << program << " key " << key;
    EXPECT_NEAR(cents(*engine, 0, key), 0.0, 0.5) << "program " << program << " key " << key;
}

// A calibration cancelled half-way (the port closed while it ran) keeps nothing: the program is
// measured whole when it is asked for again, not left with its upper keys uncorrected.
TEST(SynthCalibration, ACancelledCalibrationIsMeasuredAgainInFull)
{
    const auto font = findGeneralMidiSoundFont();
    if (!font)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    const CalibrationRange range{48, 84};
    const PresetId organ{0, 19};
    CalibrationService service(*font, 48000.0, range);
    // The worker is up once a first program is measured; the organ is then cut off mid-way.
    service.calibration({0, 0});
    service.waitUntilIdle();
    EXPECT_EQ(service.calibration(organ), nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    service.cancel();
    service.waitUntilIdle();
    EXPECT_EQ(service.calibration(organ), nullptr);
    service.waitUntilIdle();
    const auto measured = service.calibration(organ);
    ASSERT_NE(measured, nullptr);

    auto calibrator = ProgramCalibrator::create(*font, 48000.0, range);
    ASSERT_NE(calibrator, nullptr);
    const KeyCents whole = calibrator->correction(organ);
    for (int key = range.firstKey; key <= range.lastKey; ++key)
        EXPECT_NEAR((*measured)[static_cast<std::size_t>(key)], whole[static_cast<std::size_t>(key)], 0.05) << key;
}

// Browsing the instruments with the arrow keys sends a program change per step on both channels.
// The program settled on is measured next, after at most the one being measured when browsing
// stopped; the programs passed on the way, which no channel holds any more, are not measured.
TEST(SynthCalibration, AfterBrowsingTwentyProgramsTheLastIsMeasuredNext)
{
    const auto font = findGeneralMidiSoundFont();
    if (!font)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    auto lock = std::make_shared<std::mutex>();
    CalibrationService service(*font, 48000.0, CalibrationRange{60, 67}, lock);
    SynthEngineConfig config;
    config.fluidLock = lock;
    auto engine = SynthEngine::create(config, &service);
    ASSERT_TRUE(engine && engine->loadSoundFont(*font));
    std::mutex readyMutex;
    std::vector<PresetId> ready;
    service.setReadyListener([&](PresetId preset) {
        {
            std::lock_guard guard(readyMutex);
            ready.push_back(preset);
        }
        engine->calibrationReady(preset);
    });
    service.waitUntilIdle();

    std::size_t before = 0;
    {
        std::lock_guard guard(readyMutex);
        before = ready.size();
    }
    for (int program = 1; program <= 20; ++program) {
        engine->shortMessage(packShortMessage(0xC0, static_cast<std::uint8_t>(program)));
        engine->shortMessage(packShortMessage(0xC1, static_cast<std::uint8_t>(program)));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::size_t browsed = 0;
    {
        std::lock_guard guard(readyMutex);
        browsed = ready.size();
    }
    service.waitUntilIdle();
    std::lock_guard guard(readyMutex);
    ASSERT_GT(ready.size(), browsed);
    EXPECT_EQ(ready.back(), (PresetId{0, 20}));
    EXPECT_LE(ready.size() - browsed, 2u) << "programs passed on the way were measured after browsing stopped";
    EXPECT_LT(ready.size() - before, 20u);
    const auto correction = service.calibration({0, 20});
    ASSERT_NE(correction, nullptr);
    for (int key = 60; key <= 67; ++key) {
        EXPECT_DOUBLE_EQ(engine->keyPitch(0, key), 100.0 * key + (*correction)[static_cast<std::size_t>(key)]);
        EXPECT_DOUBLE_EQ(engine->keyPitch(1, key), engine->keyPitch(0, key));
    }
}

// Programs chosen on four channels at once wait newest first; one asked for again, by a fifth
// channel, moves to the front. Whichever was being measured when they came finishes first.
TEST(SynthCalibration, TheNewestRequestIsMeasuredFirstAndARepeatedOneMovesToTheFront)
{
    const auto font = findGeneralMidiSoundFont();
    if (!font)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    CalibrationService service(*font, 48000.0, CalibrationRange{60, 71});
    std::mutex readyMutex;
    std::vector<PresetId> ready;
    service.setReadyListener([&](PresetId preset) {
        std::lock_guard guard(readyMutex);
        ready.push_back(preset);
    });
    service.calibration({0, 0});
    service.waitUntilIdle();

    const PresetId a{0, 19}, b{0, 40}, c{0, 56}, d{0, 73};
    for (PresetId preset : {a, b, c, d, b})
        EXPECT_EQ(service.calibration(preset), nullptr);
    service.waitUntilIdle();
    std::lock_guard guard(readyMutex);
    ASSERT_EQ(ready.size(), 5u);
    const PresetId first = ready[1];
    std::vector<PresetId> expected;
    for (PresetId preset : {b, d, c, a})
        if (preset != first)
            expected.push_back(preset);
    EXPECT_EQ(std::vector<PresetId>(ready.begin() + 2, ready.end()), expected);
}

// The SoundFont cannot be read (replaced by a package upgrade while the program runs): nothing is
// kept, and the next request measures the program again, from the file as it is then.
TEST(SynthCalibration, AFailedCalibrationIsNotKeptAndTheNextRequestMeasuresAgain)
{
    const auto font = findGeneralMidiSoundFont();
    if (!font)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    const auto folder = std::filesystem::temp_directory_path() / ("velmora-replaced-soundfont-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto file = folder / font->filename();
    const CalibrationRange range{60, 62};
    const PresetId piano{0, 0};
    CalibrationService service(file, 48000.0, range);

    EXPECT_EQ(service.calibration(piano), nullptr);
    service.waitUntilIdle();
    EXPECT_EQ(service.calibration(piano), nullptr) << "the failed measurement was kept";
    service.waitUntilIdle();

    std::filesystem::create_symlink(*font, file);
    EXPECT_EQ(service.calibration(piano), nullptr);
    service.waitUntilIdle();
    const auto measured = service.calibration(piano);
    ASSERT_NE(measured, nullptr);
    auto calibrator = ProgramCalibrator::create(*font, 48000.0, range);
    ASSERT_NE(calibrator, nullptr);
    const KeyCents expected = calibrator->correction(piano);
    for (int key = range.firstKey; key <= range.lastKey; ++key)
        EXPECT_NEAR((*measured)[static_cast<std::size_t>(key)], expected[static_cast<std::size_t>(key)], 0.05) << key;
    std::filesystem::remove_all(folder);
}

// A key held while its program's calibration lands keeps the pitch it started with; the next
// note of the key has the correction, and a scale-tuning message moves the held note at once by
// exactly its own amount.
TEST(SynthCalibration, AHeldNoteIsNotMovedByItsCalibrationButByTheScaleTuning)
{
    const auto font = findGeneralMidiSoundFont();
    if (!font)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    struct Landing final : CalibrationProvider {
        std::shared_ptr<const KeyCents> measured;
        std::shared_ptr<const KeyCents> calibration(PresetId) override { return measured; }
    } provider;
    auto engine = SynthEngine::create(SynthEngineConfig{}, &provider);
    ASSERT_TRUE(engine && engine->loadSoundFont(*font));
    const double rate = engine->sampleRate();

    // The note rendered twice the same way, the second time with the calibration landing after
    // 0.2 s and a scale tuning of +20 cents after 0.6 s: the note's own drift is the same in
    // both, so what differs is what reached the held note.
    auto stretches = [&](bool land) {
        provider.measured = nullptr;
        engine->systemExclusive(kGsReset);
        std::vector<float> left(static_cast<std::size_t>(0.4 * rate));
        std::vector<float> right(left.size());
        engine->shortMessage(packShortMessage(0x90, kA4, 100));
        engine->render(std::span(left).first(left.size() / 2), std::span(right).first(left.size() / 2));
        if (land) {
            KeyCents correction{};
            correction.fill(8.0);
            provider.measured = std::make_shared<const KeyCents>(correction);
            engine->calibrationReady({0, 0});
        }
        engine->render(left, right);
        const auto held = estimatePitchNear(left, rate, 440.0);
        if (land)
            engine->systemExclusive(scaleTuning(1, 0x49, {0x40 + 20}));
        engine->render(left, right);
        const auto retuned = estimatePitchNear(left, rate, 440.0);
        engine->shortMessage(packShortMessage(0xB0, 120, 0));
        engine->render(std::span(left).first(64), std::span(right).first(64));
        return std::pair{held, retuned};
    };
    const auto [steady, steadyLater] = stretches(false);
    const double before = cents(*engine, 0, kA4);
    const auto [held, retuned] = stretches(true);
    ASSERT_TRUE(steady && steadyLater && held && retuned);
    EXPECT_NEAR(centsBetween(steady->hz, held->hz), 0.0, 0.2);
    EXPECT_NEAR(centsBetween(steadyLater->hz, retuned->hz), 20.0, 0.2);
    // A new note of the key: correction and scale tuning both.
    EXPECT_NEAR(cents(*engine, 0, kA4) - before, 28.0, 0.2);
}
