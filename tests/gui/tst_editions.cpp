// What differs between the Japanese and the English edition.
#include "AppHarness.h"

#include "editions/Layout.h"
#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit3.h"
#include "shell/gui/KeyShape.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit4.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

// A key event as X11 reports it: the physical key's code (Linux key code + 8) and no useful Qt key.
void sendPhysicalKey(QWidget* window, QEvent::Type type, quint32 x11KeyCode)
{
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, x11KeyCode, 0, 0);
    QApplication::sendEvent(target, &event);
}

}  // namespace

class EditionsTest : public QObject {
    Q_OBJECT
private slots:
    void noteKeysDifferInThreeRows_data();
    void noteKeysDifferInThreeRows();
    void physicalKeysRightOfLAndPPlayTheSameNotes_data();
    void physicalKeysRightOfLAndPPlayTheSameNotes();
    void englishWithoutDeviceRunsInNoDeviceState();
    void englishNoDeviceStateStillSendsWhatTheUserAsksFor();
    void shutdownErrorTwoDiffersByEdition_data();
    void shutdownErrorTwoDiffersByEdition();
    void captionsAndAccelerators_data();
    void captionsAndAccelerators();
    void acceleratorsPressTheirControls();
    void resultsWindowFrameAndLayout();
};

void EditionsTest::noteKeysDifferInThreeRows_data()
{
    QTest::addColumn<int>("edition");
    QTest::addColumn<int>("virtualKey");
    QTest::addColumn<int>("note");
    const int ja = int(Edition::Japanese);
    const int en = int(Edition::English);
    QTest::newRow("ja BA") << ja << 0xBA << 71;
    QTest::newRow("en BA") << en << 0xBA << 69;
    QTest::newRow("ja BB") << ja << 0xBB << 69;
    QTest::newRow("en BB") << en << 0xBB << 0;
    QTest::newRow("ja C0") << ja << 0xC0 << 70;
    QTest::newRow("en C0") << en << 0xC0 << 0;
    QTest::newRow("ja DB") << ja << 0xDB << 0;
    QTest::newRow("en DB") << en << 0xDB << 70;
    QTest::newRow("ja DE") << ja << 0xDE << 0;
    QTest::newRow("en DE") << en << 0xDE << 71;
    QTest::newRow("ja DD") << ja << 0xDD << 72;
    QTest::newRow("en DD") << en << 0xDD << 72;
}

void EditionsTest::noteKeysDifferInThreeRows()
{
    QFETCH(int, edition);
    QFETCH(int, virtualKey);
    QFETCH(int, note);
    AppHarness h(static_cast<Edition>(edition));
    QVERIFY(h.start());
    h.mark();
    h.app().form1()->FormKeyDown(virtualKey);
    h.app().form1()->FormKeyUp(virtualKey);
    if (note == 0) {
        QVERIFY(h.messagesSinceMark().empty());
    } else {
        const auto messages = h.messagesSinceMark();
        QCOMPARE(messages.size(), std::size_t(2));
        QCOMPARE(int(messages[0][1]), note);
        QCOMPARE(int(messages[0][0]), 0x90);
        QCOMPARE(int(messages[1][0]), 0x80);
    }
}

void EditionsTest::physicalKeysRightOfLAndPPlayTheSameNotes_data()
{
    QTest::addColumn<int>("edition");
    for (Edition e : {Edition::Japanese, Edition::English})
        QTest::newRow(e == Edition::Japanese ? "Japanese" : "English") << int(e);
}

void EditionsTest::physicalKeysRightOfLAndPPlayTheSameNotes()
{
    QFETCH(int, edition);
    AppHarness h(static_cast<Edition>(edition));
    QVERIFY(h.start());
    TForm1* form1 = h.app().form1();
    h.mark();
    // Right of L, the next key, right of P, the key right of the second one.
    const quint32 keys[] = {39 + 8, 40 + 8, 26 + 8};
    const int notes[] = {69, 71, 70};
    for (int i = 0; i < 3; ++i) {
        sendPhysicalKey(form1, QEvent::KeyPress, keys[i]);
        sendPhysicalKey(form1, QEvent::KeyRelease, keys[i]);
    }
    const auto messages = h.messagesSinceMark();
    QCOMPARE(messages.size(), std::size_t(6));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(int(messages[std::size_t(2 * i)][1]), notes[i]);
}

void EditionsTest::englishWithoutDeviceRunsInNoDeviceState()
{
    AppHarness h(Edition::English, {});
    h.writeSettings("[dev]\r\ndev_num=3\r\ngakki=Old synth\r\n");
    QVERIFY(h.start());
    QCOMPARE(h.boxes.messages, (std::vector<std::string>{"DO NOT FIND MIDI GENERATOR"}));
    QVERIFY(h.app().noMidiDevice());
    TForm1* form1 = h.app().form1();
    QCOMPARE(form1->ComboBox1->count(), 0);
    form1->Timer1Timer();
    QCOMPARE(form1->StatusBar1->currentMessage(), QString("ERROR:NO MIDI GENERATOR"));
    QVERIFY(!h.app().form2()->Button1->isEnabled());
    // No port opened, no reset, no first exercise.
    for (const auto& r : h.midi.records())
        QVERIFY(r.call == midi::RecordingMidiOutput::Call::GetNumDevs);
    QCOMPARE(h.app().exercise().answerOffsets, (exercise::Offsets{}));
    QVERIFY(h.clock.sleeps().empty());
    const std::size_t before = h.midi.records().size();
    form1->close();
    QCOMPARE(h.midi.records().size(), before);
    const QString written = q(h.readSettings());
    QVERIFY(written.contains("dev_num=3\r\n"));
    QVERIFY(written.contains("gakki=\r\n"));
}

void EditionsTest::englishNoDeviceStateStillSendsWhatTheUserAsksFor()
{
    AppHarness h(Edition::English, {});
    QVERIFY(h.start());
    h.app().form1()->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.app().form1()));
    h.boxes.messages.clear();
    h.app().form1()->N2->trigger();
    QTest::mouseClick(h.app().form5()->item(1), Qt::LeftButton, {}, QPoint(8, 8));
    // The exercise is made and sent to a port that was never opened.
    QCOMPARE(h.boxes.messages, (std::vector<std::string>{"error3"}));
    QCOMPARE(h.clock.sleeps(), (std::vector<int>{300, 1000}));
    QTest::mousePress(h.app().form1()->Shape(1), Qt::LeftButton);
    const auto& last = h.midi.records().back();
    QCOMPARE(q(hex(last.bytes)), QString("90 35 64"));
    QCOMPARE(last.handle, midi::kNoHandle);
}

void EditionsTest::shutdownErrorTwoDiffersByEdition_data()
{
    QTest::addColumn<int>("edition");
    QTest::addColumn<QString>("message");
    QTest::newRow("Japanese") << int(Edition::Japanese) << "error2";
    QTest::newRow("English") << int(Edition::English) << "error2--";
}

void EditionsTest::shutdownErrorTwoDiffersByEdition()
{
    QFETCH(int, edition);
    QFETCH(QString, message);
    AppHarness h(static_cast<Edition>(edition));
    QVERIFY(h.start());
    h.midi.failLongMessages(64);
    h.app().form2()->ScrollBar(1)->setValue(1);
    QCOMPARE(h.boxes.messages, (std::vector<std::string>{"error2"}));
    h.app().form1()->close();
    QCOMPARE(q(h.boxes.messages.back()), message);
    QCOMPARE(h.midi.openPortCount(), std::size_t(0));
}

void EditionsTest::captionsAndAccelerators_data()
{
    QTest::addColumn<int>("edition");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("Japanese") << int(Edition::Japanese)
                              << QStringList{"A音", "ヒント(&C)", "設定(&S)", "難易度の設定(&N)", "楽器の設定(&G)",
                                             "調整", "答え合わせ", "正解表示", "難易度の設定", "楽器の設定"};
    QTest::newRow("English") << int(Edition::English)
                             << QStringList{"A =440Hz", "Hint(&V)", "Setting(&C)", "Sensitivity(&S)", "Instrument(&I)",
                                            "tuning", "Score", "answer", "Sensitivity", "instrument"};
}

void EditionsTest::captionsAndAccelerators()
{
    QFETCH(int, edition);
    QFETCH(QStringList, captions);
    AppHarness h(static_cast<Edition>(edition));
    QVERIFY(h.start());
    Application& app = h.app();
    const QStringList shown{app.form1()->Button1->text(), app.form1()->Button2->text(), app.form1()->N1->title(),
                            app.form1()->N2->text(),      app.form1()->N3->text(),     app.form2()->windowTitle(),
                            app.form2()->Button1->text(), app.form3()->windowTitle(),  app.form5()->windowTitle(),
                            app.form7()->windowTitle()};
    QCOMPARE(shown, captions);
    QVERIFY(app.form1()->Label1->text().startsWith("Velmora Version 1.34"));
    QCOMPARE(app.form3()->Button4->toolTip(), QString("インターネットへの接続が伴います"));
}

void EditionsTest::acceleratorsPressTheirControls()
{
    for (Edition e : {Edition::Japanese, Edition::English}) {
        AppHarness h(e);
        QVERIFY(h.start());
        TForm1* form1 = h.app().form1();
        form1->show();
        QApplication::setActiveWindow(form1);
        QVERIFY(QTest::qWaitForWindowActive(form1));
        const Qt::Key hintKey = e == Edition::Japanese ? Qt::Key_C : Qt::Key_V;
        QTest::keyClick(form1, hintKey, Qt::AltModifier);
        // A mnemonic clicks its button the animated way, after a short delay.
        QTRY_VERIFY(h.app().form4()->isVisible());
        QCOMPARE(QKeySequence::mnemonic(form1->N1->title()),
                 QKeySequence(e == Edition::Japanese ? "Alt+S" : "Alt+C"));
    }
}

void EditionsTest::resultsWindowFrameAndLayout()
{
    AppHarness ja(Edition::Japanese);
    QVERIFY(ja.start());
    TForm3* jaResults = ja.app().form3();
    QCOMPARE(jaResults->pos(), QPoint(203, 203));
    QCOMPARE(jaResults->minimumSize(), QSize(278, 487));
    QCOMPARE(jaResults->maximumSize(), QSize(278, 487));
    QVERIFY(!(jaResults->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(jaResults->Label(16)->geometry().topLeft(), QPoint(160, 344));
    QCOMPARE(jaResults->Label(15)->font().pixelSize(), 27);
    QCOMPARE(jaResults->Label(16)->font().pixelSize(), 33);
    QCOMPARE(jaResults->Label(16)->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    AppHarness en(Edition::English);
    QVERIFY(en.start());
    TForm3* enResults = en.app().form3();
    QCOMPARE(enResults->pos(), QPoint(247, 212));
    QVERIFY(enResults->maximumSize() != enResults->minimumSize());
    QCOMPARE(enResults->width() + kFrameWidth, 286);
    QCOMPARE(enResults->height() + kFrameHeight, 514);
    QCOMPARE(enResults->Label(16)->geometry().topLeft(), QPoint(136, 352));
    QCOMPARE(enResults->Label(15)->geometry().topLeft(), QPoint(40, 352));
    QCOMPARE(en.app().form7()->pos(), QPoint(192, 118));

    // The results window carries the Japanese icon in both editions.
    const QImage japaneseIcon = QIcon(QStringLiteral(":/japanese/MainIcon.png")).pixmap(32).toImage();
    QVERIFY(japaneseIcon != QIcon(QStringLiteral(":/english/MainIcon.png")).pixmap(32).toImage());
    QCOMPARE(jaResults->windowIcon().pixmap(32).toImage(), japaneseIcon);
    QCOMPARE(enResults->windowIcon().pixmap(32).toImage(), japaneseIcon);
    QCOMPARE(en.app().form5()->RadioGroup1->geometry(), QRect(0, 0, 145, 129));
}

QTEST_MAIN(EditionsTest)
#include "tst_editions.moc"
