#pragma once

#include "Fakes.h"

#include "editions/Edition.h"
#include "midi/RecordingMidiOutput.h"
#include "platform/Platform.h"
#include "shell/gui/Application.h"

#include <QString>
#include <QTemporaryDir>
#include <Qt>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace velmora::test {

using Bytes = std::vector<std::uint8_t>;

// One fresh program on recorders: MIDI, clock, random source, message boxes, clipboard, browser,
// sound clip and advertising hook, with its settings file in a temporary folder.
class AppHarness {
public:
    explicit AppHarness(Edition edition = Edition::Japanese,
                        std::vector<std::string> devices = {"Built-in GS synthesizer", "Second port"});
    ~AppHarness();

    // Runs the creation of the seven windows; false when the program ended at once.
    bool start();
    Application& app() { return *m_app; }
    // Ends the program object as the process would at exit.
    void destroyApp() { m_app.reset(); }
    // The file the settings are read from and written to.
    const std::filesystem::path& settingsPath() const { return m_platform->settingsLocation.file; }
    // Places the settings as the program does for `executable` on `folders`, before start().
    void placeSettingsAsProgram(const std::filesystem::path& executable);
    void writeSettings(const std::string& text);
    std::string readSettings() const;

    // Messages that reached an open port, as wire bytes, and those since the last mark.
    std::vector<Bytes> messages() const { return midi.deliveredMessages(); }
    void mark();
    std::vector<Bytes> messagesSinceMark() const;
    std::vector<int> sleepsSinceMark() const;
    // Only the scale-tuning messages (22-byte system exclusive) since the mark.
    std::vector<Bytes> tuningsSinceMark() const;

    // A key event sent the way the keyboard sends it: to the window's focused control.
    void keyDown(QWidget* window, int qtKey, bool autoRepeat = false);
    void keyUp(QWidget* window, int qtKey, bool autoRepeat = false);

    midi::RecordingMidiOutput midi;
    VirtualClock clock;
    ScriptedRandom random;
    RecordingMessageBoxes boxes;
    RecordingClipboard clipboard;
    RecordingWebShell web;
    RecordingSoundClip sound;
    RecordingAdvertisingHook advertising;
    // The file system as placeSettingsAsProgram sees it; until then the settings file is in a
    // temporary folder of its own.
    ScriptedSettingsFolders folders;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Platform> m_platform;
    std::unique_ptr<Application> m_app;
    std::size_t m_recordMark = 0;
    std::size_t m_sleepMark = 0;
};

Bytes tuningMessage(const std::array<int, 12>& cents);
inline QString q(const std::string& text)
{
    return QString::fromStdString(text);
}
std::string hex(const Bytes& bytes);
std::string hex(const std::vector<Bytes>& messages);

}  // namespace velmora::test
