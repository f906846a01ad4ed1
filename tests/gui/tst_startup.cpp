// Start-up, shutdown and the settings file, driven through the real windows on recorders.
#include "AppHarness.h"

#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit3.h"
#include "platform/qt/QtPlatform.h"
#include "platform/qt/QtSettingsFolders.h"
#include "shell/SettingsFile.h"
#include "shell/SettingsLocation.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QtTest>

#include <fstream>
#include <iterator>

using namespace velmora;
using namespace velmora::test;
using Call = midi::RecordingMidiOutput::Call;

namespace {

std::vector<Call> callKinds(const midi::RecordingMidiOutput& midi)
{
    std::vector<Call> kinds;
    for (const auto& r : midi.records())
        kinds.push_back(r.call);
    return kinds;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void withoutSettingsFileOpensFirstDeviceResetsAndSendsFirstExercise();
    void windowsAreCreatedInOrderWithTheirInitialState();
    void storedDeviceIsTakenAgainOnlyWhenPositionAndNameMatch();
    void storedDeviceThatMovedFallsBackToFirstEntry();
    void namelessDeviceShiftsListPositions();
    void everyOpenFailingShowsAllocatedAfterSixAttempts();
    void openErrorMessagesFollowTheResultTable_data();
    void openErrorMessagesFollowTheResultTable();
    void japaneseEditionWithoutDeviceEndsAfterMessage();
    void advertisingHookIsCalledAtStartAndAtDestruction();
    void shutdownRestoresTuningBeforeClosingAndWritesSettings();
    void shutdownWritesUserSettingsBackInTheirCase();
    void settingsRoundTripKeepsGeometryAndDevice();
    void badSettingsFilesNeverCrashAndGeometryStaysReachable_data();
    void badSettingsFilesNeverCrashAndGeometryStaysReachable();
    void unwritableSettingsFileIsReportedAndShutdownCompletes();
    void settingsStayBesideAProgramWhoseFolderIsWritable();
    void installedProgramStartsFromTheFileBesideItAndSavesForTheUser_data();
    void installedProgramStartsFromTheFileBesideItAndSavesForTheUser();
    void installedJapaneseEditionWithoutDeviceMakesNoConfigFolder();
    void settingsThatFitNowhereAreReportedWithTheConfigPath();
    void userConfigFolderFollowsXdgConfigHomeAndIsMadeAtTheSave();
    void statusBarShowsDateAndTime();
    void realRandomSourceDrawsEveryValueBelowN();
    void activatingMainWindowShowsAdjustmentWindow();
    void closingMainWindowEndsTheEventLoop();
};

void StartupTest::withoutSettingsFileOpensFirstDeviceResetsAndSendsFirstExercise()
{
    AppHarness h;
    h.random.script = {0, 39, 20, 21, 5, 6, 7, 8, 9, 10, 11, 12};
    QVERIFY(h.start());

    const std::vector<Call> expectedStart{Call::GetNumDevs, Call::GetNumDevs, Call::GetDevCaps, Call::GetDevCaps,
                                          Call::Open, Call::PrepareHeader, Call::LongMsg};
    const auto kinds = callKinds(h.midi);
    QVERIFY(kinds.size() >= expectedStart.size());
    QVERIFY(std::equal(expectedStart.begin(), expectedStart.end(), kinds.begin()));
    QCOMPARE(h.midi.records()[4].device, 0u);

    const auto messages = h.messages();
    QCOMPARE(messages.size(), std::size_t(2));
    QCOMPARE(q(hex(messages[0])), QString("F0 41 10 42 12 40 00 7F 00 41 F7"));
    // The first exercise follows the reset: level 0, offsets r - 20.
    QCOMPARE(q(hex(messages[1])),
             q(hex(tuningMessage({-20, 19, 0, 1, -15, -14, -13, -12, -11, -10, -9, -8}))));
    QCOMPARE(h.clock.sleeps(), (std::vector<int>{100, 300, 1000}));
    QCOMPARE(h.random.drawCount, 12);
    QCOMPARE(h.random.lastN, 40);
    // Seeded at the adjustment window's creation and again for the draws.
    QCOMPARE(h.random.seeds, 2);
    QVERIFY(h.boxes.messages.empty());

    TForm1* form1 = h.app().form1();
    QCOMPARE(form1->ComboBox1->count(), 2);
    QCOMPARE(form1->ComboBox1->currentIndex(), 0);
    QCOMPARE(form1->pos(), QPoint(193, 159));
    QCOMPARE(form1->outerWidth(), 345);
    QCOMPARE(form1->outerHeight(), 246);
    QCOMPARE(h.app().exercise().startTime, VirtualClock::kDefaultStart + 100 / 86'400'000.0);
}

void StartupTest::windowsAreCreatedInOrderWithTheirInitialState()
{
    AppHarness h;
    QVERIFY(h.start());
    Application& app = h.app();
    QVERIFY(app.form2()->isVisible());
    QVERIFY(!app.form3()->isVisible());
    QVERIFY(!app.form5()->isVisible());
    QVERIFY(!app.form7()->isVisible());
    QCOMPARE(app.form5()->itemIndex(), 0);
    QCOMPARE(app.form7()->ComboBox1->currentIndex(), 0);
    for (int k = 1; k <= 12; ++k) {
        QCOMPARE(app.form2()->ScrollBar(k)->minimum(), -32);
        QCOMPARE(app.form2()->ScrollBar(k)->maximum(), 31);
        QCOMPARE(app.form2()->ScrollBar(k)->value(), 0);
    }
    QVERIFY(!app.exercise().referenceUsed);
    // No program change at start: the synthesizer keeps what the reset gave it.
    for (const Bytes& m : h.messages())
        QVERIFY((m[0] & 0xF0) != 0xC0);
}

void StartupTest::storedDeviceIsTakenAgainOnlyWhenPositionAndNameMatch()
{
    AppHarness h(Edition::Japanese, {"Built-in GS synthesizer", "USB MIDI", "Third"});
    h.writeSettings("[Dev]\r\nDev_num=1\r\ngakki=USB MIDI\r\n");
    QVERIFY(h.start());
    QCOMPARE(h.app().form1()->ComboBox1->currentIndex(), 1);
    QCOMPARE(h.app().port().deviceId(), 1);
    const auto& opens = h.midi.records();
    auto open = std::find_if(opens.begin(), opens.end(), [](const auto& r) { return r.call == Call::Open; });
    QCOMPARE(open->device, 1u);
}

void StartupTest::storedDeviceThatMovedFallsBackToFirstEntry()
{
    {
        AppHarness h(Edition::Japanese, {"Built-in GS synthesizer", "Other", "USB MIDI"});
        h.writeSettings("[dev]\r\ndev_num=1\r\ngakki=USB MIDI\r\n");
        QVERIFY(h.start());
        QCOMPARE(h.app().form1()->ComboBox1->currentIndex(), 0);
        QCOMPARE(h.app().port().deviceId(), 0);
    }
    {
        AppHarness h;
        h.writeSettings("[dev]\r\ndev_num=7\r\ngakki=Second port\r\n");
        QVERIFY(h.start());
        QCOMPARE(h.app().form1()->ComboBox1->currentIndex(), 0);
        QCOMPARE(h.app().port().deviceId(), 0);
    }
    {
        // The name must match byte for byte, letter case included.
        AppHarness h;
        h.writeSettings("[dev]\r\ndev_num=1\r\ngakki=second port\r\n");
        QVERIFY(h.start());
        QCOMPARE(h.app().form1()->ComboBox1->currentIndex(), 0);
    }
}

void StartupTest::namelessDeviceShiftsListPositions()
{
    AppHarness h(Edition::Japanese, {"Built-in GS synthesizer", "Broken", "Good"});
    h.midi.failDeviceName(1);
    h.writeSettings("[dev]\r\ndev_num=1\r\ngakki=Good\r\n");
    QVERIFY(h.start());
    QCOMPARE(h.app().form1()->ComboBox1->count(), 2);
    QCOMPARE(h.app().form1()->ComboBox1->itemText(1), QString("Good"));
    QCOMPARE(h.app().form1()->ComboBox1->currentIndex(), 1);
    // List position 1 is device number 2.
    QCOMPARE(h.app().port().deviceId(), 2);
}

void StartupTest::everyOpenFailingShowsAllocatedAfterSixAttempts()
{
    AppHarness h;
    h.midi.failAllOpens(4);
    QVERIFY(h.start());
    int opens = 0;
    for (const auto& r : h.midi.records())
        opens += r.call == Call::Open;
    QCOMPARE(opens, 6);
    QCOMPARE(h.boxes.messages, (std::vector<std::string>{"ALLOCATED", "error3"}));
    // Five waits between the attempts, then the reset's wait; the reset still goes to the
    // unopened port, and the first exercise's send then reports the invalid handle.
    const std::vector<int> expected{500, 500, 500, 500, 500, 100, 300, 1000};
    QCOMPARE(h.clock.sleeps(), expected);
    QVERIFY(h.messages().empty());
    const auto& records = h.midi.records();
    const bool resetAttempted = std::any_of(records.begin(), records.end(), [](const auto& r) {
        return r.call == Call::LongMsg && r.bytes.size() == 11;
    });
    QVERIFY(resetAttempted);
    QVERIFY(h.app().form1() != nullptr);
}

void StartupTest::openErrorMessagesFollowTheResultTable_data()
{
    QTest::addColumn<int>("edition");
    QTest::addColumn<unsigned>("code");
    QTest::addColumn<QString>("message");
    const int ja = int(Edition::Japanese);
    const int en = int(Edition::English);
    QTest::newRow("ja 1") << ja << 1u << "ERROR";
    QTest::newRow("ja 2") << ja << 2u << "BADDEVICEID";
    QTest::newRow("ja 5") << ja << 5u << "指定されたデバイス ハンドルが無効です。";
    QTest::newRow("ja 7") << ja << 7u << "メモリの割り当てまたはロックができません。";
    QTest::newRow("ja 13") << ja << 13u << "INVALIDALIAS";
    QTest::newRow("ja 14") << ja << 14u << "ＭＩＤＩデバイスが開けません";
    QTest::newRow("ja 20") << ja << 20u << "LASTERROR";
    QTest::newRow("ja 21") << ja << 21u << "ＭＩＤＩデバイスが開けません";
    QTest::newRow("en 5") << en << 5u << "ERROR2";
    QTest::newRow("en 7") << en << 7u << "ERROR3---";
    QTest::newRow("en 19") << en << 19u << "DO NOT OPEN MIDI GENERATOR";
    QTest::newRow("en 12") << en << 12u << "HANDLEBUSY";
}

void StartupTest::openErrorMessagesFollowTheResultTable()
{
    QFETCH(int, edition);
    QFETCH(unsigned, code);
    QFETCH(QString, message);
    AppHarness h(static_cast<Edition>(edition));
    h.midi.failAllOpens(code);
    QVERIFY(h.start());
    QVERIFY(!h.boxes.messages.empty());
    QCOMPARE(q(h.boxes.messages.front()), message);
}

void StartupTest::japaneseEditionWithoutDeviceEndsAfterMessage()
{
    AppHarness h(Edition::Japanese, {});
    QVERIFY(!h.start());
    QCOMPARE(h.boxes.messages, (std::vector<std::string>{"ＭＩＤＩ音源がないのでこのソフトは利用できません"}));
    QVERIFY(h.app().form2() == nullptr);
    QVERIFY(!std::filesystem::exists(h.settingsPath()));
    const auto kinds = callKinds(h.midi);
    QCOMPARE(kinds, (std::vector<Call>{Call::GetNumDevs}));
}

void StartupTest::advertisingHookIsCalledAtStartAndAtDestruction()
{
    AppHarness h;
    QVERIFY(h.start());
    QCOMPARE(h.advertising.calls, (std::vector<std::string>{"initialize"}));
    QCOMPARE(h.advertising.initWindow, static_cast<std::uintptr_t>(h.app().form1()->winId()));
    QVERIFY(h.advertising.initMenu != 0);
    QCOMPARE(h.advertising.initReserved, 0);
    QCOMPARE(h.advertising.initAppId, TForm1::kAdAppId);
    h.app().form1()->close();
    QCOMPARE(h.advertising.calls, (std::vector<std::string>{"initialize"}));
    h.destroyApp();
    QCOMPARE(h.advertising.calls, (std::vector<std::string>{"initialize", "cleanup"}));
}

void StartupTest::shutdownRestoresTuningBeforeClosingAndWritesSettings()
{
    AppHarness h;
    QVERIFY(h.start());
    h.mark();
    h.app().form1()->close();
    const auto& records = h.midi.records();
    std::vector<Call> tail;
    for (std::size_t i = records.size() - 3; i < records.size(); ++i)
        tail.push_back(records[i].call);
    QCOMPARE(tail, (std::vector<Call>{Call::PrepareHeader, Call::LongMsg, Call::Close}));
    QCOMPARE(q(hex(records[records.size() - 2].bytes)),
             QString("F0 41 10 42 12 40 11 40 40 40 40 40 40 40 40 40 40 40 40 40 6F F7"));
    QCOMPARE(h.sleepsSinceMark(), (std::vector<int>{300, 1000}));
    QCOMPARE(h.midi.openPortCount(), std::size_t(0));
    QCOMPARE(q(h.readSettings()), QString("[window]\r\nHeight=246\r\nWidth=345\r\nTop=159\r\nLeft=193\r\n\r\n"
                                          "[dev]\r\ndev_num=0\r\ngakki=Built-in GS synthesizer\r\nmap=4\r\n"));
}

void StartupTest::shutdownWritesUserSettingsBackInTheirCase()
{
    AppHarness h;
    h.writeSettings("; kept\r\n[WINDOW]\r\nHEIGHT=300\r\nwidth=400\r\n[Dev]\r\nDev_num=1\r\nGAKKI=Second port\r\nmap=7\r\n[extra]\r\nx=1\r\n");
    QVERIFY(h.start());
    QCOMPARE(h.app().form1()->ComboBox1->currentIndex(), 1);
    QCOMPARE(h.app().mapSetting(), 7);
    h.app().form1()->close();
    const QString text = q(h.readSettings());
    QVERIFY(text.startsWith("; kept\r\n[WINDOW]\r\nHeight=300\r\nWidth=400\r\n"));
    QVERIFY(text.contains("dev_num=1\r\ngakki=Second port\r\nmap=7\r\n"));
    QVERIFY(text.contains("[extra]\r\nx=1\r\n"));
    QVERIFY(!text.contains("HEIGHT") && !text.contains("GAKKI"));
}

void StartupTest::settingsRoundTripKeepsGeometryAndDevice()
{
    AppHarness first;
    first.writeSettings("[window]\r\nHeight=260\r\nWidth=360\r\nTop=40\r\nLeft=50\r\n");
    QVERIFY(first.start());
    QCOMPARE(first.app().form1()->pos(), QPoint(50, 40));
    first.app().form1()->ComboBox1->setCurrentIndex(1);
    first.app().form1()->ComboBox1Change(1);
    first.app().form1()->move(70, 80);
    first.app().form1()->close();
    const std::string written = first.readSettings();

    AppHarness second;
    second.writeSettings(written);
    QVERIFY(second.start());
    QCOMPARE(second.app().form1()->pos(), QPoint(70, 80));
    QCOMPARE(second.app().form1()->outerWidth(), 360);
    QCOMPARE(second.app().form1()->outerHeight(), 260);
    QCOMPARE(second.app().form1()->ComboBox1->currentIndex(), 1);
    second.app().form1()->close();
    QCOMPARE(second.readSettings(), written);
}

void StartupTest::badSettingsFilesNeverCrashAndGeometryStaysReachable_data()
{
    QTest::addColumn<QByteArray>("content");
    static const char junk[] = "\x00\xff\xfe[\x01window]\x00=\n\x80\x81height=\xff";
    QTest::newRow("binary junk") << QByteArray(junk, sizeof junk - 1);
    QTest::newRow("no equals") << QByteArray("[window]\nheight\nwidth 400\n=\n[dev]\ngakki\n");
    QTest::newRow("duplicates") << QByteArray("[window]\nleft=10\nleft=9999\n[window]\ntop=20\n");
    QTest::newRow("huge numbers") << QByteArray("[window]\nheight=99999999999\nwidth=99999999999\ntop=99999999999\nleft=-99999999999\n");
    QTest::newRow("negative") << QByteArray("[window]\nheight=-5\nwidth=-5\ntop=-5\nleft=-5\n");
    QTest::newRow("off screen") << QByteArray("[window]\ntop=30000\nleft=30000\n");
    QTest::newRow("long value") << (QByteArray("[dev]\ngakki=") + QByteArray(200000, 'x') + "\n");
    QByteArray huge;
    for (int i = 0; i < 200000; ++i)
        huge += "[s" + QByteArray::number(i % 50) + "]\nkey" + QByteArray::number(i) + "=value\n";
    QTest::newRow("huge file") << huge;
}

void StartupTest::badSettingsFilesNeverCrashAndGeometryStaysReachable()
{
    QFETCH(QByteArray, content);
    AppHarness h;
    h.writeSettings(content.toStdString());
    QVERIFY(h.start());
    TForm1* form1 = h.app().form1();
    const QRect outer(form1->pos(), QSize(form1->outerWidth(), form1->outerHeight()));
    bool reachable = false;
    for (const QScreen* screen : QGuiApplication::screens())
        reachable = reachable || screen->availableGeometry().intersects(QRect(outer.topLeft(), QSize(outer.width(), 24)));
    QVERIFY(reachable);
    QVERIFY(outer.width() >= 100 && outer.height() >= 60);
    form1->close();
    QVERIFY(std::filesystem::exists(h.settingsPath()));
}

void StartupTest::unwritableSettingsFileIsReportedAndShutdownCompletes()
{
    AppHarness h;
    QVERIFY(h.start());
    // A folder where the settings file should be makes the write fail whoever runs the test.
    std::filesystem::create_directory(h.settingsPath());
    h.app().form1()->close();
    QCOMPARE(h.boxes.messages.size(), std::size_t(1));
    QVERIFY(QString::fromStdString(h.boxes.messages[0]).startsWith("設定ファイルを保存できませんでした"));
    QCOMPARE(h.midi.openPortCount(), std::size_t(0));
}

void StartupTest::settingsStayBesideAProgramWhoseFolderIsWritable()
{
    QTemporaryDir root;
    const std::filesystem::path base = root.path().toStdString();
    const std::filesystem::path programFolder = base / "portable";
    std::filesystem::create_directories(programFolder);

    AppHarness h;
    h.folders.config = base / "config";
    h.folders.writable = {programFolder};
    h.placeSettingsAsProgram(programFolder / "vostrel");
    QCOMPARE(h.settingsPath(), programFolder / "vostrel.ini");
    h.writeSettings("[window]\r\nTop=60\r\nLeft=70\r\n");
    QVERIFY(h.start());
    QCOMPARE(h.app().form1()->pos(), QPoint(70, 60));
    h.app().form1()->move(90, 100);
    h.app().form1()->close();
    QVERIFY(h.boxes.messages.empty());
    QVERIFY(QString::fromStdString(h.readSettings()).contains("Top=100\r\nLeft=90\r\n"));
    QVERIFY(h.folders.created.empty());
    QVERIFY(!std::filesystem::exists(h.folders.config));
}

void StartupTest::installedProgramStartsFromTheFileBesideItAndSavesForTheUser_data()
{
    QTest::addColumn<Edition>("edition");
    QTest::addColumn<QString>("folder");
    QTest::newRow("japanese") << Edition::Japanese << "velmora";
    QTest::newRow("english") << Edition::English << "velmora-english";
}

void StartupTest::installedProgramStartsFromTheFileBesideItAndSavesForTheUser()
{
    QFETCH(Edition, edition);
    QFETCH(QString, folder);
    QTemporaryDir root;
    const std::filesystem::path base = root.path().toStdString();
    const std::filesystem::path programFolder = base / "usr/lib/velmora";
    std::filesystem::create_directories(programFolder);
    // An administrator's start values beside the program, which the user cannot write.
    // It points the board button at the class's own board.
    const std::string shared = "[window]\r\nTop=300\r\nLeft=310\r\n[dev]\r\ndev_num=1\r\ngakki=Second port\r\n"
                               "[board]\r\naddress=http://board.class.example:8080/\r\n";
    {
        std::ofstream out(programFolder / "vostrel.ini", std::ios::binary);
        out << shared;
    }
    const std::filesystem::path config = base / "home/.config";
    const std::filesystem::path expected = config / folder.toStdString() / "vostrel.ini";
    const auto readShared = [&] {
        std::ifstream in(programFolder / "vostrel.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    AppHarness first(edition);
    first.folders.config = config;
    first.placeSettingsAsProgram(programFolder / "vostrel");
    QCOMPARE(first.settingsPath(), expected);
    QVERIFY(first.start());
    QCOMPARE(first.app().form1()->pos(), QPoint(310, 300));
    QCOMPARE(first.app().form1()->ComboBox1->currentIndex(), 1);
    QVERIFY(!std::filesystem::exists(config));
    first.app().form3()->Button4Click();
    QCOMPARE(first.web.opened, (std::vector<std::string>{"http://board.class.example:8080/"}));
    first.app().form1()->move(70, 80);
    first.app().form1()->close();
    QVERIFY(first.boxes.messages.empty());
    QVERIFY(QString::fromStdString(first.readSettings()).contains("Top=80\r\nLeft=70\r\n"));
    QVERIFY(QString::fromStdString(first.readSettings()).contains("gakki=Second port\r\n"));
    QVERIFY(QString::fromStdString(first.readSettings()).contains("[board]\r\naddress=http://board.class.example:8080/\r\n"));
    QCOMPARE(readShared(), shared);

    // From now on the user's own file counts, not the administrator's.
    AppHarness second(edition);
    second.folders.config = config;
    second.placeSettingsAsProgram(programFolder / "vostrel");
    QVERIFY(second.start());
    QCOMPARE(second.app().form1()->pos(), QPoint(70, 80));
    QCOMPARE(second.app().form1()->ComboBox1->currentIndex(), 1);
    second.app().form3()->Button4Click();
    QCOMPARE(second.web.opened, (std::vector<std::string>{"http://board.class.example:8080/"}));
    second.app().form1()->close();
    QVERIFY(second.boxes.messages.empty());
    QCOMPARE(readShared(), shared);
}

void StartupTest::installedJapaneseEditionWithoutDeviceMakesNoConfigFolder()
{
    QTemporaryDir root;
    const std::filesystem::path base = root.path().toStdString();
    std::filesystem::create_directories(base / "usr/lib/velmora");
    AppHarness h(Edition::Japanese, {});
    h.folders.config = base / "home/.config";
    h.placeSettingsAsProgram(base / "usr/lib/velmora/vostrel");
    QVERIFY(!h.start());
    h.destroyApp();
    QCOMPARE(h.boxes.messages.size(), std::size_t(1));
    QVERIFY(h.folders.created.empty());
    QVERIFY(!std::filesystem::exists(base / "home"));
}

void StartupTest::settingsThatFitNowhereAreReportedWithTheConfigPath()
{
    QTemporaryDir root;
    const std::filesystem::path base = root.path().toStdString();
    AppHarness h;
    h.folders.config = base / "config";
    h.folders.canCreateFolders = false;
    h.placeSettingsAsProgram(base / "program/vostrel");
    QVERIFY(h.start());
    h.app().form1()->close();
    QCOMPARE(h.boxes.messages.size(), std::size_t(1));
    QCOMPARE(q(h.boxes.messages[0]), q("設定ファイルを保存できませんでした\n" + (h.folders.config / "velmora/vostrel.ini").string()));
    QVERIFY(!std::filesystem::exists(base / "program"));
}

void StartupTest::userConfigFolderFollowsXdgConfigHomeAndIsMadeAtTheSave()
{
    QTemporaryDir root;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath("xdg")));
    QtSettingsFolders folders;
    const std::filesystem::path base = root.path().toStdString();
    const SettingsLocation chosen = chooseSettingsLocation(base / "missing/vostrel", Edition::Japanese, folders);
    const SettingsLocation beside = chooseSettingsLocation(base / "vostrel", Edition::Japanese, folders);
    if (wasSet)
        qputenv("XDG_CONFIG_HOME", saved);
    else
        qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(chosen.file, base / "xdg/velmora/vostrel.ini");
    QVERIFY(!std::filesystem::exists(base / "xdg"));
    QVERIFY(saveSettings(SettingsFile::fromText("[dev]\r\nmap=4\r\n"), chosen, folders));
    QVERIFY(std::filesystem::is_regular_file(base / "xdg/velmora/vostrel.ini"));
    QCOMPARE(beside.file, base / "vostrel.ini");
    QVERIFY(beside.startValues.empty() && beside.folderToMake.empty());
}

void StartupTest::realRandomSourceDrawsEveryValueBelowN()
{
    ClockSeededRandom random;
    random.seedFromClock();
    for (int n : {2, 6, 40}) {
        std::vector<int> seen(std::size_t(n), 0);
        for (int i = 0; i < 100 * n; ++i) {
            const int r = random.draw(n);
            QVERIFY2(r >= 0 && r < n, qPrintable(QString("%1 drawn for n = %2").arg(r).arg(n)));
            ++seen[std::size_t(r)];
        }
        QVERIFY2(std::count(seen.begin(), seen.end(), 0) == 0, qPrintable(QString("n = %1").arg(n)));
    }
}

void StartupTest::statusBarShowsDateAndTime()
{
    AppHarness h;
    QVERIFY(h.start());
    h.clock.setNow(46364.5 + 3.0 / 86400);
    h.app().form1()->Timer1Timer();
    QCOMPARE(h.app().form1()->StatusBar1->currentMessage(), QString("2026/12/08 12:00:03"));
    // Unlike the report's times, the clock keeps its time at midnight.
    h.clock.setNow(46365.0);
    h.app().form1()->Timer1Timer();
    QCOMPARE(h.app().form1()->StatusBar1->currentMessage(), QString("2026/12/09 0:00:00"));
    QCOMPARE(h.app().form1()->Timer1->interval(), 100);
    QVERIFY(h.app().form1()->Timer1->isActive());
}

void StartupTest::activatingMainWindowShowsAdjustmentWindow()
{
    AppHarness h;
    QVERIFY(h.start());
    h.app().form2()->hide();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(h.app().form1(), &activate);
    QVERIFY(h.app().form2()->isVisible());
}

void StartupTest::closingMainWindowEndsTheEventLoop()
{
    AppHarness h;
    QVERIFY(h.start());
    h.app().form1()->show();
    h.app().form3()->show();
    QTimer::singleShot(0, h.app().form1(), [&h] { h.app().form1()->close(); });
    // A loop that is still running after a while means the close did not end the program.
    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(h.midi.openPortCount(), std::size_t(0));
    // The adjustment window refused to close and the results window was not closed by the user.
    QVERIFY(h.app().form2()->isVisible());
    QVERIFY(h.app().form3()->isVisible());
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
