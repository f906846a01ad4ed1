#include "editions/Edition.h"
#include "exercise/DateTimeFormat.h"
#include "midi/CompositeMidiOutput.h"
#include "platform/MessageTitle.h"
#include "platform/Platform.h"
#include "platform/Services.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/QtSettingsFolders.h"
#include "shell/PianoSetting.h"
#include "shell/SettingsFile.h"
#include "shell/SettingsLocation.h"
#include "shell/gui/Application.h"
#include "shell/gui/ProgramFont.h"
#include "shell/gui/vostrelUnit1.h"

#include <QApplication>
#include <QIcon>

namespace {

#if defined(VELMORA_EDITION_English)
constexpr velmora::Edition kEdition = velmora::Edition::English;
constexpr const char* kMainIcon = ":/english/MainIcon.png";
#else
constexpr velmora::Edition kEdition = velmora::Edition::Japanese;
constexpr const char* kMainIcon = ":/japanese/MainIcon.png";
#endif

}  // namespace

int main(int argc, char* argv[])
{
    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(velmora::programFont());
    QApplication::setWindowIcon(QIcon(QString::fromLatin1(kMainIcon)));
    // Lets the desktop match the windows with the edition's launcher entry.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELMORA_APP_ID));

    const std::string executable = QCoreApplication::applicationFilePath().toStdString();
    velmora::QtSettingsFolders folders;
    const velmora::SettingsLocation settingsLocation = velmora::chooseSettingsLocation(executable, kEdition, folders);
    // The synthesizer is made before the main window reads the settings: its piano is chosen here.
    auto midiOutput = velmora::midi::createSystemMidiOutput(
        velmora::readPianoSound(velmora::loadSettings(settingsLocation)));
    velmora::QtClock clock;
    velmora::ClockSeededRandom random;
    velmora::QtMessageBoxes boxes(QString::fromStdString(velmora::messageBoxTitle(executable)));
    velmora::QtClipboard clipboard;
    velmora::QtWebShell web;
    velmora::QtSoundClip sound(QStringLiteral("qrc:/clip100.wav"));
    velmora::NullAdvertisingHook advertising;
    velmora::Platform platform{*midiOutput, clock, random, boxes, clipboard, web, sound, advertising, folders,
                               settingsLocation,
                               velmora::systemDateTimeFormats()};

    velmora::Application app(kEdition, platform);
    if (!app.createWindows())
        return 0;
    app.form1()->show();
    return qtApp.exec();
}
