#include "midi/BuiltinSynth.h"
#include "midi/synth/AudioOutput.h"
#include "midi/synth/BuiltinSynthOutput.h"
#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/SoundFontLocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace velmora::midi;
using namespace velmora::midi::synth;

namespace {

// An audio output that plays nothing, so that a test renders the device's engine itself.
class OfflineAudio final : public AudioBackend {
public:
    class Stream final : public AudioStream {
    public:
        AudioFormat format() const override { return m_format; }
        AudioFormat m_format{"offline", 48000.0, 128, 3};
    };

    std::optional<Started> start(const EngineFactory& makeEngine) override
    {
        ++starts;
        if (fail)
            return std::nullopt;
        Started started;
        started.engine = makeEngine(48000.0);
        started.stream = std::make_unique<Stream>();
        return started;
    }

    int starts = 0;
    bool fail = false;
};

std::vector<std::uint8_t> tuneA(int cents)
{
    const auto data = static_cast<std::uint8_t>(0x40 + cents);
    const unsigned sum = 0x40 + 0x11 + 0x49 + data;
    return {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x49, data, static_cast<std::uint8_t>((128 - sum % 128) % 128), 0xF7};
}

std::uint32_t sendSysex(MidiOutput& out, Handle handle, const std::vector<std::uint8_t>& bytes)
{
    MidiHeader header{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    out.prepareHeader(handle, header, kMidiHeaderSize);
    return out.longMessage(handle, header, kMidiHeaderSize);
}

class BuiltinSynthOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!findGeneralMidiSoundFont())
            GTEST_SKIP() << "no General MIDI SoundFont installed";
    }
    BuiltinSynthOutput makeOutput(bool calibrate = false, CalibrationRange range = {})
    {
        auto audio = std::make_unique<OfflineAudio>();
        m_audio = audio.get();
        BuiltinSynthOptions options;
        options.soundFontFolders = standardSoundFontFolders();
        options.calibrate = calibrate;
        options.calibrationRange = range;
        return BuiltinSynthOutput(std::move(options), std::move(audio));
    }
    OfflineAudio* m_audio = nullptr;
};

}  // namespace

TEST_F(BuiltinSynthOutputTest, ListsOneDeviceByItsName)
{
    auto out = makeOutput();
    EXPECT_EQ(out.deviceCount(), 1u);
    EXPECT_EQ(out.deviceName(0), std::optional<std::string>(kBuiltinSynthName));
    EXPECT_LE(std::string(kBuiltinSynthName).size(), kMaxDeviceNameBytes);
    EXPECT_EQ(out.deviceName(1), std::nullopt);
}

TEST(BuiltinSynthListing, AbsentWithoutASoundFont)
{
    const auto empty = std::filesystem::temp_directory_path() / "velmora-no-soundfonts";
    std::filesystem::create_directories(empty);
    BuiltinSynthOptions options;
    options.soundFontFolders = {empty};
    options.calibrate = false;
    BuiltinSynthOutput out(std::move(options), std::make_unique<OfflineAudio>());
    EXPECT_EQ(out.deviceCount(), 0u);
    EXPECT_EQ(out.deviceName(0), std::nullopt);
    Handle handle = 7;
    EXPECT_EQ(out.open(0, handle), mmresult::BadDeviceId);
    EXPECT_EQ(handle, kNoHandle);
}

TEST_F(BuiltinSynthOutputTest, ClosedOrNeverOpenedHandlesAnswerFive)
{
    auto out = makeOutput();
    const std::vector<std::uint8_t> reset{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    MidiHeader header{reset.data(), static_cast<std::uint32_t>(reset.size()), true};
    for (Handle h : {kNoHandle, Handle{1234}}) {
        EXPECT_EQ(out.shortMessage(h, packShortMessage(0x90, 60, 100)), mmresult::InvalidHandle);
        EXPECT_EQ(out.prepareHeader(h, header, kMidiHeaderSize), mmresult::InvalidHandle);
        EXPECT_EQ(out.longMessage(h, header, kMidiHeaderSize), mmresult::InvalidHandle);
        EXPECT_EQ(out.reset(h), mmresult::InvalidHandle);
        EXPECT_EQ(out.close(h), mmresult::InvalidHandle);
    }

    Handle handle = kNoHandle;
    ASSERT_EQ(out.open(0, handle), mmresult::NoError);
    ASSERT_NE(handle, kNoHandle);
    EXPECT_EQ(out.close(handle), mmresult::NoError);
    EXPECT_EQ(out.shortMessage(handle, packShortMessage(0x90, 60, 100)), mmresult::InvalidHandle);
    EXPECT_EQ(out.longMessage(handle, header, kMidiHeaderSize), mmresult::InvalidHandle);
    EXPECT_EQ(out.close(handle), mmresult::InvalidHandle);
    EXPECT_EQ(out.engine(), nullptr);
}

TEST_F(BuiltinSynthOutputTest, OpenCloseAndReopen)
{
    auto out = makeOutput();
    Handle first = kNoHandle;
    ASSERT_EQ(out.open(0, first), mmresult::NoError);
    Handle second = 99;
    EXPECT_EQ(out.open(0, second), mmresult::Allocated);
    EXPECT_EQ(second, kNoHandle);
    Handle other = 99;
    EXPECT_EQ(out.open(1, other), mmresult::BadDeviceId);
    EXPECT_EQ(out.reset(first), mmresult::NoError);
    EXPECT_EQ(out.close(first), mmresult::NoError);

    Handle again = kNoHandle;
    ASSERT_EQ(out.open(0, again), mmresult::NoError);
    EXPECT_NE(again, first);
    EXPECT_EQ(out.shortMessage(again, packShortMessage(0x90, 60, 100)), mmresult::NoError);
    EXPECT_EQ(out.audioFormat()->driver, "offline");
    EXPECT_EQ(out.close(again), mmresult::NoError);
    EXPECT_EQ(m_audio->starts, 2);
}

TEST_F(BuiltinSynthOutputTest, NoAudioOutputMeansNoDriver)
{
    auto out = makeOutput();
    m_audio->fail = true;
    Handle handle = 42;
    EXPECT_EQ(out.open(0, handle), mmresult::NoDriver);
    EXPECT_EQ(handle, kNoHandle);
    EXPECT_EQ(out.shortMessage(handle, packShortMessage(0x90, 60, 100)), mmresult::InvalidHandle);
    m_audio->fail = false;
    EXPECT_EQ(out.open(0, handle), mmresult::NoError);
}

TEST_F(BuiltinSynthOutputTest, LongMessagesMustBePreparedAndAreTakenEvenWhenNotUnderstood)
{
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out.open(0, handle), mmresult::NoError);

    const auto message = tuneA(-30);
    MidiHeader header{message.data(), static_cast<std::uint32_t>(message.size())};
    EXPECT_EQ(out.longMessage(handle, header, kMidiHeaderSize), mmresult::MidiUnprepared);
    EXPECT_EQ(out.engine()->scaleTuning(0)[9], 0);
    EXPECT_EQ(out.prepareHeader(handle, header, kMidiHeaderSize), mmresult::NoError);
    EXPECT_TRUE(header.prepared);
    EXPECT_EQ(out.longMessage(handle, header, kMidiHeaderSize), mmresult::NoError);
    EXPECT_EQ(out.engine()->scaleTuning(0)[9], -30);

    auto broken = tuneA(+10);
    broken[9] ^= 0x05;
    EXPECT_EQ(sendSysex(out, handle, broken), mmresult::NoError);
    EXPECT_EQ(sendSysex(out, handle, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}), mmresult::NoError);
    EXPECT_EQ(out.engine()->scaleTuning(0)[9], -30);
}

TEST_F(BuiltinSynthOutputTest, WhatIsSentIsWhatIsHeard)
{
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out.open(0, handle), mmresult::NoError);
    SynthEngine& engine = *out.engine();
    const double untuned = *measureKeyHz(engine, 0, 69);
    ASSERT_EQ(sendSysex(out, handle, tuneA(-30)), mmresult::NoError);
    EXPECT_NEAR(centsBetween(untuned, *measureKeyHz(engine, 0, 69)), -30.0, 0.2);
    EXPECT_NEAR(centsBetween(untuned, *measureKeyHz(engine, 1, 69)), 0.0, 0.05);
    ASSERT_EQ(sendSysex(out, handle, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}),
              mmresult::NoError);
    EXPECT_NEAR(centsBetween(untuned, *measureKeyHz(engine, 0, 69)), 0.0, 0.05);
}

TEST_F(BuiltinSynthOutputTest, ProgramsAreCalibratedInTheBackground)
{
    auto out = makeOutput(true, CalibrationRange{60, 72});
    Handle handle = kNoHandle;
    ASSERT_EQ(out.open(0, handle), mmresult::NoError);
    out.waitForCalibration();
    SynthEngine& engine = *out.engine();

    // Program 0 at open, then a new program on both channels, as the instrument window sends.
    double largest = 0.0;
    for (int key = 60; key <= 72; ++key) {
        largest = std::max(largest, std::abs(engine.keyPitch(0, key) - 100.0 * key));
        EXPECT_DOUBLE_EQ(engine.keyPitch(0, key), engine.keyPitch(1, key));
        EXPECT_NEAR(centsBetween(equalTemperedHz(key), *measureKeyHz(engine, 0, key)), 0.0, 0.5);
    }
    EXPECT_GT(largest, 0.01) << "no key of program 0 was corrected";
    EXPECT_DOUBLE_EQ(engine.keyPitch(0, 59), 5900.0);

    out.shortMessage(handle, packShortMessage(0xC0, 19));
    out.shortMessage(handle, packShortMessage(0xC1, 19));
    out.waitForCalibration();
    for (int key = 60; key <= 72; ++key)
        EXPECT_NEAR(centsBetween(equalTemperedHz(key), *measureKeyHz(engine, 1, key)), 0.0, 0.5);
    // The drum channel keeps its kit's own tuning.
    EXPECT_DOUBLE_EQ(engine.keyPitch(9, 60), 6000.0);
}

// Quick browsing through every instrument while notes sound and the audio thread renders: the
// live engine loads and drops each instrument's samples while the calibration measures the same
// instruments on its own engine, both through FluidSynth's one sample cache. Under the sanitizers
// a sample freed under the other engine shows as a double free; here as garbage, silence, or
// FluidSynth's error that it cannot find the sample data it unloads in its cache.
TEST_F(BuiltinSynthOutputTest, BrowsingEveryInstrumentWhileNotesSoundStaysSound)
{
    std::atomic<int> fluidErrors{0};
    const auto previous = fluid_set_log_function(
        FLUID_ERR, [](int, const char*, void* count) { static_cast<std::atomic<int>*>(count)->fetch_add(1); },
        &fluidErrors);

    auto out = makeOutput(true, CalibrationRange{60, 61});
    Handle handle = kNoHandle;
    ASSERT_EQ(out.open(0, handle), mmresult::NoError);
    out.waitForCalibration();
    SynthEngine& engine = *out.engine();

    std::atomic<bool> done{false};
    std::atomic<int> badSamples{0};
    std::thread audio([&] {
        std::vector<float> left(480);
        std::vector<float> right(480);
        while (!done.load()) {
            engine.render(left, right);
            for (std::size_t i = 0; i < left.size(); ++i)
                if (!std::isfinite(left[i]) || !std::isfinite(right[i]) || std::abs(left[i]) > 8.0f)
                    badSamples.fetch_add(1);
        }
    });
    for (int program = 0; program < 128; ++program) {
        out.shortMessage(handle, packShortMessage(0x90, 60, 100));
        out.shortMessage(handle, packShortMessage(0x91, 69, 100));
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        // A note still sounds when the next instrument is chosen, on both channels.
        out.shortMessage(handle, packShortMessage(0xC0, static_cast<std::uint8_t>((program + 1) % 128)));
        out.shortMessage(handle, packShortMessage(0xC1, static_cast<std::uint8_t>((program + 1) % 128)));
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        out.shortMessage(handle, packShortMessage(0x80, 60, 0));
        out.shortMessage(handle, packShortMessage(0x81, 69, 0));
    }
    done.store(true);
    audio.join();
    fluid_set_log_function(FLUID_ERR, previous, nullptr);
    EXPECT_EQ(badSamples.load(), 0);
    EXPECT_EQ(fluidErrors.load(), 0);

    // Back at program 0, which was measured at open: in tune and sounding. The close drops the
    // calibrations still queued.
    const auto pitch = measureKeyHz(engine, 0, 60);
    ASSERT_TRUE(pitch.has_value());
    EXPECT_NEAR(centsBetween(equalTemperedHz(60), *pitch), 0.0, 0.5);
    EXPECT_EQ(out.close(handle), mmresult::NoError);
}

// Closing and reopening the device (a device switch, the program's exit) while the calibration
// worker measures the programs just chosen: the live engine goes while the worker's engine reads
// the same instruments through FluidSynth's one sample cache. Under the sanitizers a sample freed
// under the worker shows as a use after free or a double free.
TEST_F(BuiltinSynthOutputTest, ClosingAndReopeningWhileCalibrationsRunStaysSound)
{
    std::atomic<int> fluidErrors{0};
    const auto previous = fluid_set_log_function(
        FLUID_ERR, [](int, const char*, void* count) { static_cast<std::atomic<int>*>(count)->fetch_add(1); },
        &fluidErrors);

    auto out = makeOutput(true, CalibrationRange{60, 62});
    for (int round = 0; round < 40; ++round) {
        Handle handle = kNoHandle;
        ASSERT_EQ(out.open(0, handle), mmresult::NoError);
        // The worker, idle, takes the program up at once and reads its samples, which the live
        // engine has just read too; the close comes as it does so, at a different point each round.
        out.shortMessage(handle, packShortMessage(0x90, 60, 100));
        out.shortMessage(handle, packShortMessage(0xC0, static_cast<std::uint8_t>(1 + (round * 7) % 111)));
        std::this_thread::sleep_for(std::chrono::microseconds(50 * (round % 16)));
        ASSERT_EQ(out.close(handle), mmresult::NoError);
    }

    Handle handle = kNoHandle;
    ASSERT_EQ(out.open(0, handle), mmresult::NoError);
    out.waitForCalibration();
    fluid_set_log_function(FLUID_ERR, previous, nullptr);
    EXPECT_EQ(fluidErrors.load(), 0);
    const auto pitch = measureKeyHz(*out.engine(), 0, 60);
    ASSERT_TRUE(pitch.has_value());
    EXPECT_NEAR(centsBetween(equalTemperedHz(60), *pitch), 0.0, 0.5);
    EXPECT_EQ(out.close(handle), mmresult::NoError);
}

TEST(BuiltinSynthDevice, OpensWithSoundOrFailsCleanlyWithoutIt)
{
    auto out = createBuiltinSynthOutput();
    if (out->deviceCount() == 0)
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    Handle handle = 77;
    const std::uint32_t result = out->open(0, handle);
    // Where no sound card or sound server is reachable (build machines) the open fails with 6;
    // on a desktop it plays.
    ASSERT_TRUE(result == mmresult::NoError || result == mmresult::NoDriver) << result;
    if (result == mmresult::NoDriver) {
        EXPECT_EQ(handle, kNoHandle);
        EXPECT_EQ(out->shortMessage(handle, packShortMessage(0x90, 60, 100)), mmresult::InvalidHandle);
    } else {
        EXPECT_EQ(out->close(handle), mmresult::NoError);
    }
}

TEST(SoundFontLocator, PrefersByNameAcrossFoldersAndChecksTheFile)
{
    const auto root = std::filesystem::temp_directory_path() / "velmora-soundfont-locator";
    std::filesystem::remove_all(root);
    const auto first = root / "sf2";
    const auto second = root / "soundfonts";
    std::filesystem::create_directories(first);
    std::filesystem::create_directories(second);
    auto writeFont = [](const std::filesystem::path& file) {
        std::ofstream(file, std::ios::binary) << std::string("RIFF\x04\x00\x00\x00sfbk", 12);
    };

    EXPECT_EQ(findGeneralMidiSoundFont({first, second}), std::nullopt);
    writeFont(first / "default-GM.sf2");
    EXPECT_EQ(findGeneralMidiSoundFont({first, second}), first / "default-GM.sf2");
    writeFont(second / "TimGM6mb.sf2");
    EXPECT_EQ(findGeneralMidiSoundFont({first, second}), second / "TimGM6mb.sf2");
    std::ofstream(first / "FluidR3_GM.sf2") << "not a SoundFont";
    EXPECT_EQ(findGeneralMidiSoundFont({first, second}), second / "TimGM6mb.sf2");
    writeFont(second / "FluidR3_GM.sf2");
    EXPECT_EQ(findGeneralMidiSoundFont({first, second}), second / "FluidR3_GM.sf2");
    std::filesystem::remove_all(root);
}

TEST(AudioDrivers, SoundServersFirstAndNoFileOrSdl)
{
    EXPECT_EQ(audioDriverOrder({"alsa", "file", "jack", "oss", "pulseaudio", "sdl2"}),
              (std::vector<std::string>{"pulseaudio", "alsa", "jack", "oss"}));
    EXPECT_EQ(audioDriverOrder({"alsa", "pipewire"}), (std::vector<std::string>{"pipewire", "alsa"}));
    EXPECT_TRUE(audioDriverOrder({"file"}).empty());
}

TEST(AudioDrivers, GrantsAreReadFromTheDriversWarnings)
{
    DriverGrant grant;
    readDriverMessage("Requested sample rate of 48000, got 44100 instead, synthesizer likely out of tune!", grant);
    readDriverMessage("Requested a period size of 128, got 1024 instead", grant);
    readDriverMessage("Requested 3 periods, got 4 instead", grant);
    readDriverMessage("Failed to open the \"default\" audio device", grant);
    EXPECT_EQ(grant.sampleRate, std::optional<unsigned>(44100));
    EXPECT_EQ(grant.periodSize, std::optional<int>(1024));
    EXPECT_EQ(grant.periods, std::optional<int>(4));
    EXPECT_DOUBLE_EQ((AudioFormat{"alsa", 48000.0, 128, 3}.bufferMilliseconds()), 8.0);
}
