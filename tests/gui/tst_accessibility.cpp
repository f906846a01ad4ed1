// What a screen reader is told, read through Qt's accessibility interfaces (the ones the AT-SPI
// bridge serves) with the windows offscreen. The reader's own view is tests/e2e/a11y-tree.py.
#include "AppHarness.h"

#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit3.h"
#include "platform/qt/QtPlatform.h"
#include "shell/gui/KeyShape.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit5.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace velmora;
using velmora::test::AppHarness;

Q_DECLARE_METATYPE(velmora::Edition)

namespace {

QString cents(Edition edition, int value)
{
    const QString number = value > 0 ? QStringLiteral("+%1").arg(value) : QString::number(value);
    if (edition == Edition::Japanese)
        return number + QStringLiteral("セント");
    return number + (std::abs(value) == 1 ? QStringLiteral(" cent") : QStringLiteral(" cents"));
}

}  // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void slidersSayPitchClassAndCentsAtEveryLevel_data();
    void slidersSayPitchClassAndCentsAtEveryLevel();
    void keysAreButtonsByNoteThatReadPressedWhileSounding();
    void windowsAndResultsAsAReaderMeetsThem_data();
    void windowsAndResultsAsAReaderMeetsThem();
    void messageBoxesAreAlertsThatSayTheirText();

private:
    void startEdition(Edition edition);
    std::unique_ptr<AppHarness> h;
};

void AccessibilityTest::cleanup()
{
    h.reset();
}

void AccessibilityTest::startEdition(Edition edition)
{
    h = std::make_unique<AppHarness>(edition);
    h->random.script = {10, 20, 30, 0, 39, 19, 21, 25, 15, 5, 35, 20};
    QVERIFY(h->start());
    h->app().form1()->show();
    QVERIFY(QTest::qWaitForWindowExposed(h->app().form1()));
    h->mark();
}

void AccessibilityTest::slidersSayPitchClassAndCentsAtEveryLevel_data()
{
    QTest::addColumn<Edition>("edition");
    QTest::newRow("japanese") << Edition::Japanese;
    QTest::newRow("english") << Edition::English;
}

void AccessibilityTest::slidersSayPitchClassAndCentsAtEveryLevel()
{
    QFETCH(Edition, edition);
    startEdition(edition);
    TForm1* form1 = h->app().form1();
    TForm2* form2 = h->app().form2();
    const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    struct LevelSeen { int step, minimum, maximum; };
    const LevelSeen levels[] = {{1, -32, 31}, {3, -10, 10}, {5, -6, 6}, {10, -3, 3}};
    for (int level = 0; level < 4; ++level) {
        form1->N2->trigger();
        QRadioButton* item = h->app().form5()->item(level);
        QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(8, item->height() / 2));
        QCOMPARE(h->app().form5()->itemIndex(), level);
        const int step = levels[level].step;
        for (int k = 1; k <= 12; ++k) {
            QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(form2->ScrollBar(k));
            QVERIFY(slider);
            QCOMPARE(slider->role(), QAccessible::Slider);
            QCOMPARE(slider->text(QAccessible::Name), QString(names[k - 1]));
            QAccessibleValueInterface* value = slider->valueInterface();
            QVERIFY(value);
            QCOMPARE(value->minimumValue().toInt(), levels[level].minimum * step);
            QCOMPARE(value->maximumValue().toInt(), levels[level].maximum * step);
            QCOMPARE(value->minimumStepSize().toInt(), step);
            QCOMPARE(value->currentValue().toInt(), 0);
            QCOMPARE(slider->text(QAccessible::Value), cents(edition, 0));
        }
        // One step by the keyboard: value and words in cents. That readers are told is checked
        // over AT-SPI (tests/e2e/a11y-tree.py): offscreen Qt passes no events on.
        QScrollBar* d = form2->ScrollBar(3);
        d->setFocus();
        QTest::keyClick(d, Qt::Key_Left);
        QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(d);
        QCOMPARE(slider->valueInterface()->currentValue().toInt(), -step);
        QCOMPARE(slider->text(QAccessible::Value), cents(edition, -step));
        QCOMPARE(slider->text(QAccessible::Description), cents(edition, -step));
        // Closing the results window starts a new exercise and frees the level again.
        h->app().form3()->FormClose();
    }
}

void AccessibilityTest::keysAreButtonsByNoteThatReadPressedWhileSounding()
{
    startEdition(Edition::Japanese);
    TForm1* form1 = h->app().form1();
    const char* names[] = {"F3", "G3", "A3", "B3", "C4", "D4", "E4", "F4", "G4", "A4", "B4", "C5",
                           "D5", "E5", "F#3", "G#3", "A#3", "C#4", "D#4", "F#4", "G#4", "A#4", "C#5", "D#5"};
    for (int n = 1; n <= 24; ++n) {
        QAccessibleInterface* key = QAccessible::queryAccessibleInterface(form1->Shape(n));
        QVERIFY(key);
        QCOMPARE(key->role(), QAccessible::Button);
        QCOMPARE(key->text(QAccessible::Name), QString(names[n - 1]));
        QCOMPARE(key->text(QAccessible::Description), QStringLiteral("鍵盤"));
        QVERIFY(!key->state().pressed);
    }
    QAccessibleInterface* c4 = QAccessible::queryAccessibleInterface(form1->Shape(5));
    h->keyDown(form1, Qt::Key_G);
    QVERIFY(c4->state().pressed);
    h->keyUp(form1, Qt::Key_G);
    QVERIFY(!c4->state().pressed);
}

void AccessibilityTest::windowsAndResultsAsAReaderMeetsThem_data()
{
    slidersSayPitchClassAndCentsAtEveryLevel_data();
}

void AccessibilityTest::windowsAndResultsAsAReaderMeetsThem()
{
    QFETCH(Edition, edition);
    startEdition(edition);
    const bool ja = edition == Edition::Japanese;
    TForm1* form1 = h->app().form1();
    TForm2* form2 = h->app().form2();
    TForm3* form3 = h->app().form3();
    QAccessibleInterface* adjust = QAccessible::queryAccessibleInterface(form2);
    QCOMPARE(adjust->role(), QAccessible::Window);
    QCOMPARE(adjust->text(QAccessible::Name), ja ? QStringLiteral("調整") : QStringLiteral("tuning"));
    QAccessibleInterface* results = QAccessible::queryAccessibleInterface(form3);
    QCOMPARE(results->role(), QAccessible::Dialog);
    QCOMPARE(results->text(QAccessible::Name), ja ? QStringLiteral("正解表示") : QStringLiteral("answer"));
    QCOMPARE(QAccessible::queryAccessibleInterface(form1->ComboBox1)->text(QAccessible::Description),
             ja ? QStringLiteral("MIDI出力デバイス") : QStringLiteral("MIDI output device"));

    // F6 is the keyboard's way from the main window to the adjustment window.
    form1->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(form1));
    h->keyDown(form1, Qt::Key_F6);
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(form2));
    QVERIFY(h->messagesSinceMark().empty());

    // C corrected by 2 cents, all else left as drawn.
    form2->ScrollBar(1)->setValue(2);
    form2->Button1Click();
    QVERIFY(form3->isVisible());
    const QString score = form3->Label(16)->text();
    const QString sentence = ja ? QStringLiteral("点数は%1点").arg(score) : QStringLiteral("score %1 points").arg(score);
    QCOMPARE(results->text(QAccessible::Description), sentence);
    QCOMPARE(QAccessible::queryAccessibleInterface(form3->Label(16))->text(QAccessible::Name), sentence);
    // The button that takes the focus when the window opens says the score with its name.
    QCOMPARE(QAccessible::queryAccessibleInterface(form3->Button1)->text(QAccessible::Description), sentence);
    const QString exactC = form3->StaticText(13)->text();
    const QString rowC = ja ? QStringLiteral("C、貴方の調律 +2セント、正解の調律 %1").arg(cents(edition, exactC.toInt()))
                            : QStringLiteral("C: your tuning +2 cents, master tuning %1").arg(cents(edition, exactC.toInt()));
    QCOMPARE(QAccessible::queryAccessibleInterface(form3->Label(3))->text(QAccessible::Name), rowC);
}

void AccessibilityTest::messageBoxesAreAlertsThatSayTheirText()
{
    QtMessageBoxes boxes(QStringLiteral("Vostrel"));
    QAccessible::Role role = QAccessible::NoRole;
    QString name;
    QString said;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        QVERIFY(box);
        QAccessibleInterface* alert = QAccessible::queryAccessibleInterface(box);
        role = alert->role();
        name = alert->text(QAccessible::Name);
        said = alert->text(QAccessible::Value) + alert->text(QAccessible::Description);
        box->close();
    });
    boxes.showMessage("ＭＩＤＩデバイスが開けません");
    QCOMPARE(role, QAccessible::AlertMessage);
    QCOMPARE(name, QStringLiteral("Vostrel"));
    QVERIFY2(said.contains(QStringLiteral("ＭＩＤＩデバイスが開けません")), qPrintable(said));
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
