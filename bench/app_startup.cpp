// Start-up cost of the whole program: process start to the main window shown, with the real MIDI
// outputs (built-in synthesizer first) but without the waits the program is required to make
// (open retries, the GS reset's and the first exercise's settle times) and without message boxes,
// whose texts are printed instead. Also the resident memory once the window is up.
#include "Fakes.h"

#include "editions/Edition.h"
#include "exercise/DateTimeFormat.h"
#include "midi/CompositeMidiOutput.h"
#include "platform/Platform.h"
#include "platform/qt/QtPlatform.h"
#include "shell/gui/Application.h"
#include "shell/gui/ProgramFont.h"
#include "shell/gui/vostrelUnit1.h"

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <string>

namespace {

// The real date and time, with the waits counted instead of slept.
class CountingClock final : public velmora::Clock {
public:
    void sleep(int milliseconds) override { waited += milliseconds; }
    double now() const override { return velmora::toDateTimeValue(QDateTime::currentDateTime()); }
    long waited = 0;
};

long residentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

}  // namespace

int main(int argc, char* argv[])
{
    const auto processStart = std::chrono::steady_clock::now();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    QApplication::setFont(velmora::programFont());

    auto midi = velmora::midi::createSystemMidiOutput();
    CountingClock clock;
    velmora::ClockSeededRandom random;
    velmora::test::RecordingMessageBoxes boxes;
    velmora::test::RecordingClipboard clipboard;
    velmora::test::RecordingWebShell web;
    velmora::test::RecordingSoundClip sound;
    velmora::NullAdvertisingHook advertising;
    QTemporaryDir folder;
    velmora::test::ScriptedSettingsFolders folders;
    velmora::Platform platform{*midi, clock, random, boxes, clipboard, web, sound, advertising, folders,
                               {std::filesystem::path(folder.path().toStdString()) / "vostrel.ini", {}, {}},
                               velmora::systemDateTimeFormats()};
    velmora::Application app(velmora::Edition::Japanese, platform);
    if (!app.createWindows()) {
        std::printf("the program ended at start-up (no MIDI output device)\n");
        return 1;
    }
    app.form1()->show();
    QTimer::singleShot(0, [&] {
        const auto shown = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(shown - processStart).count();
        std::printf("devices listed: %d\n", app.port().deviceCount());
        for (const std::string& message : boxes.messages)
            std::printf("message box: %s\n", message.c_str());
        std::printf("process start to main window shown: %.1f ms of own work (%ld ms of required waits not slept)\n",
                    ms, clock.waited);
        std::printf("resident memory with the window up: %.1f MB\n", residentKilobytes() / 1024.0);
        QCoreApplication::exit(0);
    });
    return qtApp.exec();
}
