// The built-in synthesizer through a real PulseAudio server of the test's own, with a null sink
// whose monitor is what a listener would hear.
#include "midi/GsMessages.h"
#include "midi/synth/BuiltinSynthOutput.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/PulseAudioOutput.h"
#include "midi/synth/SoundFontLocator.h"

#include <QProcess>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <pulse/simple.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

using namespace velmora::midi;
using namespace velmora::midi::synth;

namespace {

constexpr unsigned kRate = 48000;

// pulseaudio with one null sink, on a socket of its own; killed, not asked to leave.
class PrivateServer {
public:
    explicit PrivateServer(const QString& dir) : m_dir(dir) {}
    ~PrivateServer() { kill(); }

    QString address() const { return "unix:" + m_dir + "/native"; }

    bool start(unsigned sinkRate = kRate, const QString& sinkOptions = {})
    {
        const QString program = QStandardPaths::findExecutable("pulseaudio");
        if (program.isEmpty())
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_dir);
        env.insert("HOME", m_dir);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, {"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                  "--disallow-exit", "--log-level=error", "-L",
                                  QString("module-null-sink sink_name=heard rate=%1 %2").arg(sinkRate).arg(sinkOptions), "-L",
                                  "module-native-protocol-unix auth-anonymous=1 socket=" + m_dir + "/native"});
        if (!m_process.waitForStarted())
            return false;
        for (int i = 0; i < 100; ++i) {
            if (std::filesystem::exists((m_dir + "/native").toStdString()))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished();
        std::filesystem::remove((m_dir + "/native").toStdString());
    }

private:
    QString m_dir;
    QProcess m_process;
};

// A socket that takes connections on a server's behalf (the kernel does) and never answers: a
// server that is there but busy. Closing it resets the connections it holds.
class SilentServer {
public:
    explicit SilentServer(std::string path) : m_path(std::move(path))
    {
        m_socket = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_path.c_str());
        if (m_socket >= 0
            && (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_socket, 16) != 0))
            close();
    }
    ~SilentServer() { close(); }

    bool listening() const { return m_socket >= 0; }
    void close()
    {
        if (m_socket < 0)
            return;
        ::close(m_socket);
        m_socket = -1;
        std::filesystem::remove(m_path);
    }

private:
    std::string m_path;
    int m_socket = -1;
};

// Records the null sink's monitor for a while, mono.
std::vector<float> listen(const QString& server, double seconds)
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kRate, 1};
    int error = 0;
    const std::string address = server.toStdString();
    // Fragments of 2.5 ms: what was mixed reaches the listener at once, and a stream that leaves
    // cannot take back from the monitor what the listener has not read yet.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = kRate / 400 * sizeof(float);
    pa_simple* rec = pa_simple_new(address.c_str(), "velmora-test", PA_STREAM_RECORD, "heard.monitor", "listener",
                                   &spec, nullptr, &attr, &error);
    if (!rec)
        return {};
    std::vector<float> samples(static_cast<std::size_t>(seconds * kRate));
    const int read = pa_simple_read(rec, samples.data(), samples.size() * sizeof(float), &error);
    pa_simple_free(rec);
    return read < 0 ? std::vector<float>{} : samples;
}

// The largest difference between two neighbouring samples: a cut wave shows as a step far larger
// than any a note makes by itself.
float largestStep(std::span<const float> samples)
{
    float step = 0.0f;
    for (std::size_t i = 1; i < samples.size(); ++i)
        step = std::max(step, std::abs(samples[i] - samples[i - 1]));
    return step;
}

class PulseOutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!findGeneralMidiSoundFont())
            GTEST_SKIP() << "no General MIDI SoundFont installed";
        ASSERT_TRUE(m_dir.isValid());
        m_server = std::make_unique<PrivateServer>(m_dir.path());
        if (!m_server->start())
            GTEST_SKIP() << "no pulseaudio server can be started here";
        setenv("PULSE_SERVER", m_server->address().toUtf8().constData(), 1);
    }
    void TearDown() override { unsetenv("PULSE_SERVER"); }

    bool suspendSink(bool suspend)
    {
        return QProcess::execute("pactl", {"-s", m_server->address(), "suspend-sink", "heard", suspend ? "1" : "0"}) == 0;
    }

    // A 30 cents flat on the exercise part (channel 0); channel 1, the reference, keeps it.
    static void tuneAFlat(BuiltinSynthOutput& out, Handle handle)
    {
        std::array<std::int32_t, 12> offsets{};
        offsets[9] = -30;
        const ScaleTuningMessage message = buildScaleTuningMsg(exerciseTuningData(offsets));
        MidiHeader header{message.data(), static_cast<std::uint32_t>(message.size())};
        ASSERT_EQ(out.prepareHeader(handle, header, kMidiHeaderSize), mmresult::NoError);
        ASSERT_EQ(out.longMessage(handle, header, kMidiHeaderSize), mmresult::NoError);
    }

    std::unique_ptr<BuiltinSynthOutput> makeOutput()
    {
        BuiltinSynthOptions options;
        options.soundFontFolders = standardSoundFontFolders();
        options.calibrate = false;
        return std::make_unique<BuiltinSynthOutput>(std::move(options), makePulseAudioBackend(PulseLatency{}, m_stats));
    }

    // The pitch of a note as it arrives at the server, its first 0.2 s left out. The listener is
    // there before the note: a null sink that nobody records may leave a new stream waiting, and
    // the stream then plays the note from where the engine has got to, not from its attack. A
    // take with a dropout in it (a build machine busy with other tests) is played again:
    // dropouts are the benchmark's business, the tuning is this test's.
    std::optional<double> heardHz(BuiltinSynthOutput& out, Handle handle, int channel)
    {
        const auto status = static_cast<std::uint8_t>(channel);
        constexpr int kLead = 150;  // ms
        for (int take = 0; take < 6; ++take) {
            auto recording = std::async(std::launch::async, [this] { return listen(m_server->address(), 0.95); });
            std::this_thread::sleep_for(std::chrono::milliseconds(kLead));
            out.shortMessage(handle, packShortMessage(0x90 | status, 69, 100));
            const auto heard = recording.get();
            out.shortMessage(handle, packShortMessage(0x80 | status, 69, 0));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (heard.size() < kRate / 2)
                return std::nullopt;
            const auto steady = std::span(heard).subspan(kRate * (kLead + 200) / 1000);
            if (hasDropout(steady))
                continue;
            const auto estimate = estimatePitchNear(steady, kRate, 440.0);
            return estimate ? std::optional(estimate->hz) : std::nullopt;
        }
        return std::nullopt;
    }

    static bool hasDropout(std::span<const float> samples)
    {
        constexpr std::size_t kRun = 32;
        std::size_t silent = 0;
        for (float s : samples) {
            silent = std::abs(s) < 1e-7f ? silent + 1 : 0;
            if (silent >= kRun)
                return true;
        }
        return false;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<PrivateServer> m_server;
    std::shared_ptr<PulseStreamStats> m_stats = std::make_shared<PulseStreamStats>();
};

}  // namespace

TEST_F(PulseOutputTest, TheServerHearsTheTuningThatWasSent)
{
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out->open(0, handle), mmresult::NoError);
    ASSERT_EQ(out->audioFormat()->driver, "pulseaudio");
    EXPECT_EQ(out->audioFormat()->sampleRate, kRate);

    // The program's own scale-tuning message, with only A moved.
    std::array<std::int32_t, 12> offsets{};
    offsets[9] = -30;
    const ScaleTuningMessage message = buildScaleTuningMsg(exerciseTuningData(offsets));
    MidiHeader header{message.data(), static_cast<std::uint32_t>(message.size())};
    ASSERT_EQ(out->prepareHeader(handle, header, kMidiHeaderSize), mmresult::NoError);
    ASSERT_EQ(out->longMessage(handle, header, kMidiHeaderSize), mmresult::NoError);

    const auto reference = heardHz(*out, handle, 1);
    const auto detuned = heardHz(*out, handle, 0);
    ASSERT_TRUE(reference && detuned) << "nothing was heard at the server";
    EXPECT_NEAR(centsBetween(*reference, *detuned), -30.0, 0.5);
    EXPECT_EQ(out->close(handle), mmresult::NoError);
}

TEST_F(PulseOutputTest, SurvivesTheServerGoingAwayAndReopensWhenItIsBack)
{
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out->open(0, handle), mmresult::NoError);
    out->shortMessage(handle, packShortMessage(0x90, 60, 100));
    m_server->kill();

    // The program goes on sending as it would; nothing waits for the server that is gone.
    for (int i = 0; i < 500; ++i) {
        const auto key = static_cast<std::uint8_t>(40 + i % 40);
        EXPECT_EQ(out->shortMessage(handle, packShortMessage(0x90, key, 100)), mmresult::NoError);
        EXPECT_EQ(out->shortMessage(handle, packShortMessage(0x80, key, 0)), mmresult::NoError);
    }
    EXPECT_EQ(out->shortMessage(handle, packShortMessage(0xC0, 19)), mmresult::NoError);
    EXPECT_TRUE(m_stats->lost.load());
    EXPECT_EQ(out->close(handle), mmresult::NoError);

    Handle none = 5;
    EXPECT_EQ(out->open(0, none), mmresult::NoDriver);
    EXPECT_EQ(none, kNoHandle);

    ASSERT_TRUE(m_server->start());
    Handle again = kNoHandle;
    ASSERT_EQ(out->open(0, again), mmresult::NoError);
    EXPECT_FALSE(m_stats->lost.load());
    EXPECT_TRUE(heardHz(*out, again, 1).has_value()) << "the reopened device plays nothing";
    EXPECT_EQ(out->close(again), mmresult::NoError);
}

TEST_F(PulseOutputTest, PlaysOnByItselfWhenTheServerComesBack)
{
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out->open(0, handle), mmresult::NoError);
    std::array<std::int32_t, 12> offsets{};
    offsets[9] = -30;
    const ScaleTuningMessage message = buildScaleTuningMsg(exerciseTuningData(offsets));
    MidiHeader header{message.data(), static_cast<std::uint32_t>(message.size())};
    ASSERT_EQ(out->prepareHeader(handle, header, kMidiHeaderSize), mmresult::NoError);
    ASSERT_EQ(out->longMessage(handle, header, kMidiHeaderSize), mmresult::NoError);
    out->shortMessage(handle, packShortMessage(0xC0, 19));
    out->shortMessage(handle, packShortMessage(0xC0, 0));

    m_server->kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(m_stats->lost.load());
    // Sent while nobody hears them; they must neither stick nor pile up for the return.
    for (int key = 50; key < 80; ++key)
        EXPECT_EQ(out->shortMessage(handle, packShortMessage(0x90, static_cast<std::uint8_t>(key), 100)),
                  mmresult::NoError);
    out->shortMessage(handle, packShortMessage(0xB0, 123));

    ASSERT_TRUE(m_server->start());
    QElapsedTimer back;
    back.start();
    // Only a guard against a hang: how soon it plays again is the benchmark's figure.
    while (m_stats->reconnections.load() == 0 && back.elapsed() < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    RecordProperty("reconnected_ms", static_cast<int>(back.elapsed()));
    ASSERT_EQ(m_stats->reconnections.load(), 1) << "the device did not come back by itself";
    EXPECT_FALSE(m_stats->lost.load());

    // No open, no message: the same engine plays, with the tuning sent before the server left.
    const auto reference = heardHz(*out, handle, 1);
    const auto detuned = heardHz(*out, handle, 0);
    ASSERT_TRUE(reference && detuned) << "nothing was heard after the server came back";
    EXPECT_NEAR(centsBetween(*reference, *detuned), -30.0, 0.5);
    EXPECT_EQ(out->close(handle), mmresult::NoError);
}

// A server that takes the connection but answers only after the open has stopped waiting (a
// session's server starting under load): the device opens with its stream lost, takes what is
// sent meanwhile, and plays it once the server answers, without another open.
TEST_F(PulseOutputTest, AServerThatAnswersLateIsPlayedOnceItAnswers)
{
    m_server->kill();
    SilentServer silent((m_dir.path() + "/native").toStdString());
    ASSERT_TRUE(silent.listening());
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out->open(0, handle), mmresult::NoError);
    EXPECT_TRUE(m_stats->lost.load());
    EXPECT_EQ(out->audioFormat()->driver, "pulseaudio");
    tuneAFlat(*out, handle);
    EXPECT_EQ(out->shortMessage(handle, packShortMessage(0x90, 60, 100)), mmresult::NoError);
    EXPECT_EQ(out->shortMessage(handle, packShortMessage(0x80, 60, 0)), mmresult::NoError);

    // Now it answers.
    silent.close();
    ASSERT_TRUE(m_server->start());
    QElapsedTimer back;
    back.start();
    // Only a guard against a hang: how soon it plays is the benchmark's figure.
    while (m_stats->reconnections.load() == 0 && back.elapsed() < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    RecordProperty("connected_ms", static_cast<int>(back.elapsed()));
    ASSERT_EQ(m_stats->reconnections.load(), 1) << "the device did not connect by itself";
    EXPECT_FALSE(m_stats->lost.load());
    const auto reference = heardHz(*out, handle, 1);
    const auto detuned = heardHz(*out, handle, 0);
    ASSERT_TRUE(reference && detuned) << "nothing was heard once the server answered";
    EXPECT_NEAR(centsBetween(*reference, *detuned), -30.0, 0.5);
    EXPECT_EQ(out->close(handle), mmresult::NoError);
}

// A suspended sink (pactl suspend-sink; a device handed to another program) asks for nothing.
// A key played meanwhile is over when the sink resumes, and nothing of it sounds then: neither
// the note all at once, nor a note-off lost from FluidSynth's event queue, which only rendering
// empties and which the keys played meanwhile on another part would fill many times over.
TEST_F(PulseOutputTest, WhatIsPlayedWhileTheSinkIsSuspendedDoesNotSoundWhenItResumes)
{
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out->open(0, handle), mmresult::NoError);
    ASSERT_TRUE(heardHz(*out, handle, 1).has_value()) << "nothing is heard before the suspension";
    // An organ sounds for as long as its key is down: a lost note-off would go on sounding.
    out->shortMessage(handle, packShortMessage(0xC0, 19));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(suspendSink(true));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    out->shortMessage(handle, packShortMessage(0x90, 60, 100));
    for (int i = 0; i < 40; ++i) {
        for (int k = 0; k < 5; ++k) {
            const auto key = static_cast<std::uint8_t>(48 + (i * 5 + k) % 36);
            out->shortMessage(handle, packShortMessage(0x92, key, 100));
            out->shortMessage(handle, packShortMessage(0x82, key, 0));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    out->shortMessage(handle, packShortMessage(0x80, 60, 0));
    // The releases are over by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    auto recording = std::async(std::launch::async, [this] { return listen(m_server->address(), 1.5); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(suspendSink(false));
    const auto heard = recording.get();
    ASSERT_FALSE(heard.empty());
    float peak = 0.0f;
    for (float sample : heard)
        peak = std::max(peak, std::abs(sample));
    RecordProperty("peak_after_resume", std::to_string(peak));
    EXPECT_LT(peak, 1e-3f) << "what was played while the sink was suspended sounded when it resumed";

    // The sink plays again.
    EXPECT_TRUE(heardHz(*out, handle, 1).has_value()) << "nothing is heard after the sink resumed";
    EXPECT_EQ(out->close(handle), mmresult::NoError);
}

TEST_F(PulseOutputTest, AnOutputAbove96kHzPlaysInTune)
{
    // Audio interfaces run at 192 kHz; the synthesizer cannot, and the server converts.
    m_server->kill();
    ASSERT_TRUE(m_server->start(192000));
    auto out = makeOutput();
    Handle handle = kNoHandle;
    ASSERT_EQ(out->open(0, handle), mmresult::NoError);
    EXPECT_EQ(out->audioFormat()->sampleRate, out->engine()->sampleRate());
    const auto reference = heardHz(*out, handle, 1);
    ASSERT_TRUE(reference) << "nothing was heard at the server";
    RecordProperty("reference_cents", std::to_string(centsBetween(440.0, *reference)));
    EXPECT_NEAR(centsBetween(440.0, *reference), 0.0, 3.0);
    EXPECT_EQ(out->close(handle), mmresult::NoError);
}

TEST_F(PulseOutputTest, ClosingWhileANoteSoundsMakesNoClick)
{
    // A sink that plays out what it was given, as a card's buffer does. By default PulseAudio's
    // null sink takes a leaving stream's mixed sound back out of its monitor, and the recording
    // then holds nothing of the note at all.
    m_server->kill();
    ASSERT_TRUE(m_server->start(kRate, "norewinds=1"));
    auto out = makeOutput();
    for (int take = 0; take < 3; ++take) {
        Handle handle = kNoHandle;
        ASSERT_EQ(out->open(0, handle), mmresult::NoError);
        // A flute is close to a sine: its own steps are small, so a cut wave stands out.
        out->shortMessage(handle, packShortMessage(0xC0, 73));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        out->shortMessage(handle, packShortMessage(0x90, 60, 127));
        auto recording = std::async(std::launch::async, [this] { return listen(m_server->address(), 1.2); });
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        QElapsedTimer closeTime;
        closeTime.start();
        ASSERT_EQ(out->close(handle), mmresult::NoError);
        RecordProperty("close_ms", static_cast<int>(closeTime.elapsed()));
        const auto heard = recording.get();
        const auto last = std::find_if(heard.rbegin(), heard.rend(), [](float s) { return std::abs(s) > 1e-4f; });
        ASSERT_NE(last, heard.rend()) << "the note was not heard";
        const auto end = static_cast<std::size_t>(heard.rend() - last);
        ASSERT_GT(end, kRate / 4) << "the note ended before the close";
        // The note's own steps over 100 ms before the close, and every step of the last 2.5 ms of
        // sound (the second half of the fade, where a cut would be) and after it.
        const auto before = std::span(heard).subspan(end - kRate / 10 - kRate / 50, kRate / 10);
        const auto closing = std::span(heard).subspan(end - kRate / 400);
        if (hasDropout(before))
            continue;
        const float own = largestStep(before);
        const float step = largestStep(closing);
        RecordProperty("note_step", std::to_string(own));
        RecordProperty("closing_step", std::to_string(step));
        RecordProperty("last_sample", std::to_string(heard[end - 1]));
        EXPECT_GT(own, 1e-3f) << "the note is too quiet to tell";
        EXPECT_LE(step, own) << "the close cut the wave";
        return;
    }
    FAIL() << "every take had a dropout";
}

TEST(PulseServerThatNeverAnswers, OpensLostWithoutHangingAndClosesAtOnce)
{
    if (!findGeneralMidiSoundFont())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = (dir.path() + "/native").toStdString();
    SilentServer server(path);
    ASSERT_TRUE(server.listening());
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);

    BuiltinSynthOptions options;
    options.soundFontFolders = standardSoundFontFolders();
    options.calibrate = false;
    auto stats = std::make_shared<PulseStreamStats>();
    auto out = std::make_shared<BuiltinSynthOutput>(std::move(options), makePulseAudioBackend(PulseLatency{}, stats));
    // Six opens in a row, as a program that closes and reopens the device makes them: each gives
    // a device that takes messages while its stream waits for the server. On a thread of its
    // own, left behind if it hangs, so that the test fails instead of hanging.
    std::packaged_task<std::vector<std::uint32_t>()> attempts([out, stats] {
        std::vector<std::uint32_t> results;
        for (int i = 0; i < 6; ++i) {
            Handle handle = kNoHandle;
            results.push_back(out->open(0, handle));
            if (!stats->lost.load())
                results.back() = 0xFFFE;
            if (out->shortMessage(handle, packShortMessage(0x90, 60, 100)) != mmresult::NoError)
                results.back() = 0xFFFD;
            out->close(handle);
        }
        return results;
    });
    auto results = attempts.get_future();
    std::thread(std::move(attempts)).detach();
    // Only a guard against a hang; the time it takes is the benchmark's figure.
    ASSERT_EQ(results.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "open or close hangs";
    EXPECT_EQ(results.get(), std::vector<std::uint32_t>(6, mmresult::NoError));
    unsetenv("PULSE_SERVER");
}
