#include "AppHarness.h"

#include "midi/GsMessages.h"
#include "shell/SettingsLocation.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <fstream>
#include <sstream>

namespace velmora::test {

AppHarness::AppHarness(Edition edition, std::vector<std::string> devices) : midi(std::move(devices))
{
    midi.setTimeSource([this] { return clock.elapsedMilliseconds(); });
    const SettingsLocation location{std::filesystem::path(m_dir.path().toStdString()) / "vostrel.ini", {}, {}};
    m_platform.reset(new Platform{midi, clock, random, boxes, clipboard, web, sound, advertising, folders, location,
                                  DateTimeFormats{QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")}});
    m_app = std::make_unique<Application>(edition, *m_platform);
}

AppHarness::~AppHarness() = default;

bool AppHarness::start()
{
    return m_app->createWindows();
}

void AppHarness::placeSettingsAsProgram(const std::filesystem::path& executable)
{
    m_platform->settingsLocation = chooseSettingsLocation(executable, m_app->edition(), folders);
}

void AppHarness::writeSettings(const std::string& text)
{
    std::ofstream out(settingsPath(), std::ios::binary);
    out << text;
}

std::string AppHarness::readSettings() const
{
    std::ifstream in(settingsPath(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void AppHarness::mark()
{
    m_recordMark = midi.records().size();
    m_sleepMark = clock.sleeps().size();
}

std::vector<Bytes> AppHarness::messagesSinceMark() const
{
    std::vector<Bytes> out;
    const auto& records = midi.records();
    for (std::size_t i = m_recordMark; i < records.size(); ++i) {
        const auto& r = records[i];
        using Call = midi::RecordingMidiOutput::Call;
        if ((r.call == Call::ShortMsg || r.call == Call::LongMsg) && r.result == 0)
            out.push_back(r.bytes);
    }
    return out;
}

std::vector<int> AppHarness::sleepsSinceMark() const
{
    const auto& sleeps = clock.sleeps();
    return {sleeps.begin() + std::ptrdiff_t(std::min(m_sleepMark, sleeps.size())), sleeps.end()};
}

std::vector<Bytes> AppHarness::tuningsSinceMark() const
{
    std::vector<Bytes> out;
    for (const Bytes& m : messagesSinceMark())
        if (m.size() == 22)
            out.push_back(m);
    return out;
}

namespace {

void sendKey(QWidget* window, QEvent::Type type, int qtKey, bool autoRepeat)
{
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QKeyEvent event(type, qtKey, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(target, &event);
}

}  // namespace

void AppHarness::keyDown(QWidget* window, int qtKey, bool autoRepeat)
{
    sendKey(window, QEvent::KeyPress, qtKey, autoRepeat);
}

void AppHarness::keyUp(QWidget* window, int qtKey, bool autoRepeat)
{
    sendKey(window, QEvent::KeyRelease, qtKey, autoRepeat);
}

Bytes tuningMessage(const std::array<int, 12>& cents)
{
    midi::TuningData data{};
    for (std::size_t i = 0; i < 12; ++i)
        data[i] = static_cast<std::uint8_t>(0x40 + cents[i]);
    const auto message = midi::buildScaleTuningMsg(data);
    return Bytes(message.begin(), message.end());
}

std::string hex(const Bytes& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string hex(const std::vector<Bytes>& messages)
{
    std::string out;
    for (const Bytes& m : messages) {
        if (!out.empty())
            out += " | ";
        out += hex(m);
    }
    return out;
}

}  // namespace velmora::test
