// What a screen reader is told, read through Qt's accessibility interfaces (the ones the AT-SPI
// bridge serves) with the windows offscreen. The reader's own view is tests/e2e/a11y-tree.py.
#include "AppHarness.h"

#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit3.h"
#include "platform/qt/QtPlatform.h"
#include "shell/gui/KeyShape.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace velmora;
using velmora::test::AppHarness;

Q_DECLARE_METATYPE(velmora::Edition)

namespace {

const char* const kSpoken[] = {"C", "C sharp", "D", "D sharp", "E", "F", "F sharp", "G", "G sharp", "A", "A sharp", "B"};

QString spoken(Edition edition, int pitchClass)
{
    const QString name = QString::fromUtf8(kSpoken[pitchClass]);
    if (edition == Edition::English || !name.contains(' '))
        return name;
    return name.left(1) + QStringLiteral("シャープ");
}

// Every name, description and value text readers can reach from `root`, its own included.
QStringList everythingSaid(QAccessibleInterface* root)
{
    QStringList said{root->text(QAccessible::Name), root->text(QAccessible::Description),
                     root->text(QAccessible::Value)};
    for (int i = 0; i < root->childCount(); ++i)
        said += everythingSaid(root->child(i));
    said.removeAll(QString());
    return said;
}

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
    void lockedMenuItemsAreReachableAndReadUnavailable();
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
    const QString unit = edition == Edition::Japanese ? QStringLiteral("補正値（セント）") : QStringLiteral("correction in cents");
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
            QCOMPARE(slider->text(QAccessible::Name), spoken(edition, k - 1));
            QCOMPARE(slider->text(QAccessible::Description), unit);
            // The label beside it, which readers may take as its name, says the same.
            QCOMPARE(QAccessible::queryAccessibleInterface(form2->Label(k))->text(QAccessible::Name), spoken(edition, k - 1));
            QAccessibleValueInterface* value = slider->valueInterface();
            QVERIFY(value);
            QCOMPARE(value->minimumValue().toInt(), levels[level].minimum * step);
            QCOMPARE(value->maximumValue().toInt(), levels[level].maximum * step);
            QCOMPARE(value->minimumStepSize().toInt(), step);
            QCOMPARE(value->currentValue().toInt(), 0);
            QCOMPARE(slider->text(QAccessible::Value), cents(edition, 0));
        }
        // One step by the keyboard: value and words in cents, the unit unchanged. What readers
        // are told of it is checked over AT-SPI (tests/e2e/a11y-tree.py): offscreen Qt passes no
        // events on.
        QScrollBar* d = form2->ScrollBar(3);
        d->setFocus();
        QTest::keyClick(d, Qt::Key_Left);
        QAccessibleInterface* slider = QAccessible::queryAccessibleInterface(d);
        QCOMPARE(slider->valueInterface()->currentValue().toInt(), -step);
        QCOMPARE(slider->text(QAccessible::Value), cents(edition, -step));
        QCOMPARE(slider->text(QAccessible::Description), unit);
        // Closing the results window starts a new exercise and frees the level again.
        h->app().form3()->FormClose();
    }
}

void AccessibilityTest::keysAreButtonsByNoteThatReadPressedWhileSounding()
{
    startEdition(Edition::Japanese);
    TForm1* form1 = h->app().form1();
    const char* names[] = {"F3", "G3", "A3", "B3", "C4", "D4", "E4", "F4", "G4", "A4", "B4", "C5", "D5", "E5",
                           "Fシャープ3", "Gシャープ3", "Aシャープ3", "Cシャープ4", "Dシャープ4", "Fシャープ4",
                           "Gシャープ4", "Aシャープ4", "Cシャープ5", "Dシャープ5"};
    for (int n = 1; n <= 24; ++n) {
        QAccessibleInterface* key = QAccessible::queryAccessibleInterface(form1->Shape(n));
        QVERIFY(key);
        QCOMPARE(key->role(), QAccessible::Button);
        QCOMPARE(key->text(QAccessible::Name), QString::fromUtf8(names[n - 1]));
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

    // Hidden, the results window holds the exercise's answers in its fields but shows readers
    // none of them: no number, no row, no score.
    const QRegularExpression number(QStringLiteral("[0-9]"));
    QVERIFY(!form3->isVisible());
    QVERIFY2(everythingSaid(results).filter(number).isEmpty(), qPrintable(everythingSaid(results).join(" | ")));
    QCOMPARE(QAccessible::queryAccessibleInterface(form3->StaticText(13))->text(QAccessible::Name), QString());

    // C corrected by 2 cents while the results are hidden.
    form2->ScrollBar(1)->setValue(2);
    QAccessibleInterface* oldRowC = QAccessible::queryAccessibleInterface(form3->Label(3));
    const QAccessible::Id oldRowCId = QAccessible::uniqueId(oldRowC);
    form2->Button1Click();
    QVERIFY(form3->isVisible());

    // Opening, a reader says the dialog's description, the score, and then the focused button,
    // which no longer repeats it.
    const QString score = form3->Label(16)->text();
    const QString sentence = ja ? QStringLiteral("点数は%1点").arg(score) : QStringLiteral("score %1 points").arg(score);
    QCOMPARE(results->text(QAccessible::Description), sentence);
    QCOMPARE(QAccessible::queryAccessibleInterface(form3->Button1)->text(QAccessible::Description), QString());

    // Its children are the headings, one sentence a row, the score sentence and the four buttons;
    // the number fields and the score's caption pieces are not among them. No sentence is a
    // label, which a reader would read out in place of the description.
    QStringList rows;
    QStringList children;
    for (int i = 0; i < results->childCount(); ++i) {
        QAccessibleInterface* child = results->child(i);
        QCOMPARE(results->indexOfChild(child), i);
        children << child->text(QAccessible::Name);
        if (child->role() == QAccessible::Paragraph)
            rows << child->text(QAccessible::Name);
        else
            QVERIFY2(child->role() == QAccessible::StaticText || child->role() == QAccessible::Button,
                     qPrintable(child->text(QAccessible::Name)));
    }
    QCOMPARE(children.size(), 2 + 12 + 1 + 4);
    QCOMPARE(rows.size(), 13);
    QCOMPARE(rows.last(), sentence);
    for (int k = 0; k < 12; ++k) {
        const QString exact = cents(edition, form3->StaticText(13 + k)->text().toInt());
        const QString user = cents(edition, k == 0 ? 2 : 0);
        const QString row = ja ? QStringLiteral("%1、貴方の調律 %2、正解の調律 %3").arg(spoken(edition, k), user, exact)
                               : QStringLiteral("%1: your tuning %2, master tuning %3").arg(spoken(edition, k), user, exact);
        QCOMPARE(rows[k], row);
    }
    for (const QString& name : children)
        QVERIFY2(!QRegularExpression(QStringLiteral("^[-0-9]+$")).match(name).hasMatch(), qPrintable(name));

    // Row C was changed while hidden: readers meet it as a new object now that it shows, one they
    // cannot have kept as not visible (told of over AT-SPI, tests/e2e/a11y-tree.py).
    QAccessibleInterface* rowC = QAccessible::queryAccessibleInterface(form3->Label(3));
    QVERIFY(QAccessible::uniqueId(rowC) != oldRowCId);
    QVERIFY(!rowC->state().invisible);

    // Closed, a new exercise: the window is hidden and says nothing again.
    form3->FormClose();
    QVERIFY(!form3->isVisible());
    QVERIFY2(everythingSaid(results).filter(number).isEmpty(), qPrintable(everythingSaid(results).join(" | ")));
    QCOMPARE(results->text(QAccessible::Description), QString());
}

void AccessibilityTest::lockedMenuItemsAreReachableAndReadUnavailable()
{
    startEdition(Edition::English);
    TForm1* form1 = h->app().form1();
    h->app().form2()->ScrollBar(5)->setValue(1);
    QVERIFY(!form1->N2->isEnabled());
    QVERIFY(!form1->N3->isEnabled());
    QMenu* menu = form1->N1;
    menu->popup(form1->mapToGlobal(QPoint(0, 0)));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Down);
    QCOMPARE(menu->activeAction(), form1->N2);
    QTest::keyClick(menu, Qt::Key_Down);
    QCOMPARE(menu->activeAction(), form1->N3);
    QAccessibleInterface* items = QAccessible::queryAccessibleInterface(menu);
    QCOMPARE(items->childCount(), 2);
    QCOMPARE(items->child(1)->text(QAccessible::Name), QStringLiteral("Instrument(I)"));
    QVERIFY(items->child(1)->state().disabled);
    // Chosen, a locked item still does nothing.
    QTest::keyClick(menu, Qt::Key_Return);
    QVERIFY(!h->app().form7()->isVisible());
    menu->close();
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
