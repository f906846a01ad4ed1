// The main window's keyboard, mouse, reference A, device list and small controls.
#include "AppHarness.h"

#include "exercise/gui/vostrelUnit2.h"
#include "shell/gui/KeyShape.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit4.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

const QColor kRed(255, 0, 0);

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void controlsSitWhereTheyBelong();
    void keysAreStackedAndHitTested();
    void noteKeyPlaysOnceWhileHeldAndStopsOnRelease();
    void japaneseAtSignKeyPlaysBlackKey();
    void modifiersAreIgnored();
    void mousePlaysWithAnyButtonAndReleasesThePressedKey();
    void mouseOnKeyHeldByKeyboardSendsSecondNoteOn();
    void keyReleaseWithoutPressStillSendsNoteOff();
    void spaceOnDeviceListIsDamperOnlyAndListTakesNoKeys();
    void spaceOnReferenceButtonSoundsDamperAndReference();
    void referenceButtonByMouseSetsReferenceUsed();
    void clickOnReferenceButtonTakesFocusButKeyDoesNot();
    void deviceListSelectionSwitchesDevice();
    void labelClickPlaysTheClipEachTime();
    void buttonsAndMenusShowTheirWindows();
    void x11AutoRepeatReleasesAreNotKeyUps();
    void secondPressOfADoubleClickPlaysAgain();
    void openedDeviceListTakesNoKeysEither();
    void tabMovesTheFocusFromTheDeviceList();

private:
    std::unique_ptr<AppHarness> h;
    TForm1* form1 = nullptr;
};

void MainWindowTest::init()
{
    h = std::make_unique<AppHarness>();
    QVERIFY(h->start());
    form1 = h->app().form1();
    form1->show();
    QVERIFY(QTest::qWaitForWindowExposed(form1));
    h->mark();
}

void MainWindowTest::cleanup()
{
    h.reset();
}

void MainWindowTest::controlsSitWhereTheyBelong()
{
    QCOMPARE(form1->windowTitle(), QString("Velmora"));
    QCOMPARE(form1->Button1->geometry(), QRect(8, 120, 65, 25));
    QCOMPARE(form1->Button1->text(), QString("A音"));
    QCOMPARE(form1->Button2->geometry(), QRect(80, 120, 65, 25));
    QCOMPARE(form1->Button2->text(), QString("ヒント(&C)"));
    QCOMPARE(form1->ComboBox1->geometry(), QRect(152, 120, 177, 20));
    QCOMPARE(form1->Label1->geometry().topLeft(), QPoint(8, 152));
    QVERIFY(form1->Label1->text().startsWith("Velmora Version 1.34 "));
    QCOMPARE(form1->N1->title(), QString("設定(&S)"));
    QCOMPARE(form1->N2->text(), QString("難易度の設定(&N)"));
    QCOMPARE(form1->N3->text(), QString("楽器の設定(&G)"));
    for (int n = 1; n <= 14; ++n) {
        QCOMPARE(form1->Shape(n)->geometry(), QRect(24 * (n - 1), 0, 25, 105));
        QCOMPARE(form1->Shape(n)->color(), QColor(Qt::white));
    }
    const int blackLefts[] = {16, 40, 64, 112, 136, 184, 208, 232, 280, 304};
    for (int n = 15; n <= 24; ++n) {
        QCOMPARE(form1->Shape(n)->geometry(), QRect(blackLefts[n - 15], 0, 17, 65));
        QCOMPARE(form1->Shape(n)->color(), QColor(Qt::black));
    }
    // The device list has the focus when the window opens; the status bar lies along the bottom.
    QCOMPARE(form1->focusWidget(), static_cast<QWidget*>(form1->ComboBox1));
    QCOMPARE(form1->StatusBar1->geometry().bottom(), form1->height() - 1);
    QVERIFY(!(form1->windowFlags() & Qt::WindowMaximizeButtonHint));
}

void MainWindowTest::keysAreStackedAndHitTested()
{
    QWidget* client = form1->client();
    QCOMPARE(client->childAt(20, 30), static_cast<QWidget*>(form1->Shape(15)));
    QCOMPARE(client->childAt(20, 80), static_cast<QWidget*>(form1->Shape(1)));
    // Neighbouring white keys overlap by one pixel.
    QCOMPARE(client->childAt(24, 90), static_cast<QWidget*>(form1->Shape(2)));
    QTest::mousePress(form1->Shape(23), Qt::LeftButton);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 49 64"));
    QCOMPARE(form1->Shape(23)->color(), kRed);
}

void MainWindowTest::noteKeyPlaysOnceWhileHeldAndStopsOnRelease()
{
    h->keyDown(form1, Qt::Key_A);
    QCOMPARE(form1->Shape(1)->color(), kRed);
    h->keyDown(form1, Qt::Key_A, true);
    h->keyDown(form1, Qt::Key_A, true);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 35 64"));
    QCOMPARE(h->app().keyboard().currentNote(), 53);
    h->keyUp(form1, Qt::Key_A);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 35 64 | 80 35 7F"));
    QCOMPARE(form1->Shape(1)->color(), QColor(Qt::white));
    QVERIFY(!h->app().keyboard().isHeld(0));
}

void MainWindowTest::japaneseAtSignKeyPlaysBlackKey()
{
    h->keyDown(form1, Qt::Key_At);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 46 64"));
    QCOMPARE(form1->Shape(22)->color(), kRed);
    h->keyUp(form1, Qt::Key_At);
    QCOMPARE(form1->Shape(22)->color(), QColor(Qt::black));
}

void MainWindowTest::modifiersAreIgnored()
{
    QWidget* target = form1->focusWidget();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_G, Qt::ShiftModifier, "G");
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_G, Qt::ShiftModifier, "G");
    QApplication::sendEvent(target, &release);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 3C 64 | 80 3C 7F"));
}

void MainWindowTest::mousePlaysWithAnyButtonAndReleasesThePressedKey()
{
    QTest::mousePress(form1->Shape(1), Qt::RightButton, {}, QPoint(5, 90));
    QTest::mouseRelease(form1->Shape(1), Qt::RightButton, {}, QPoint(5, 90));
    QTest::mousePress(form1->Shape(3), Qt::LeftButton, {}, QPoint(5, 90));
    QCOMPARE(form1->Shape(3)->color(), kRed);
    // Released over the next key: the release still belongs to the pressed one.
    const QPoint overShape4 = form1->Shape(3)->mapFrom(form1->client(), QPoint(80, 90));
    QTest::mouseRelease(form1->Shape(3), Qt::LeftButton, {}, overShape4);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 35 64 | 80 35 7F | 90 39 64 | 80 39 7F"));
    QCOMPARE(form1->Shape(3)->color(), QColor(Qt::white));
    QCOMPARE(form1->Shape(4)->color(), QColor(Qt::white));
    // Mouse play leaves the PC keys' held flags alone.
    for (int row = 0; row < kNoteKeyCount; ++row)
        QVERIFY(!h->app().keyboard().isHeld(row));
}

void MainWindowTest::mouseOnKeyHeldByKeyboardSendsSecondNoteOn()
{
    h->keyDown(form1, Qt::Key_G);
    QTest::mousePress(form1->Shape(5), Qt::LeftButton);
    QTest::mouseRelease(form1->Shape(5), Qt::LeftButton);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 3C 64 | 90 3C 64 | 80 3C 7F"));
    QCOMPARE(form1->Shape(5)->color(), QColor(Qt::white));
    // G is still down: its flag stays set, so a repeat sends nothing.
    QVERIFY(h->app().keyboard().isHeld(7));
    h->mark();
    h->keyDown(form1, Qt::Key_G, true);
    QVERIFY(h->messagesSinceMark().empty());
}

void MainWindowTest::keyReleaseWithoutPressStillSendsNoteOff()
{
    h->keyUp(form1, Qt::Key_S);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("80 37 7F"));
    QCOMPARE(h->app().keyboard().currentNote(), 55);
    h->keyUp(form1, Qt::Key_Z);
    h->keyDown(form1, Qt::Key_Z);
    QCOMPARE(h->messagesSinceMark().size(), std::size_t(1));
}

void MainWindowTest::spaceOnDeviceListIsDamperOnlyAndListTakesNoKeys()
{
    form1->ComboBox1->setFocus();
    QCOMPARE(form1->focusWidget(), static_cast<QWidget*>(form1->ComboBox1));
    h->keyDown(form1, Qt::Key_Space);
    h->keyUp(form1, Qt::Key_Space);
    h->keyDown(form1, Qt::Key_Down);
    h->keyUp(form1, Qt::Key_Down);
    h->keyDown(form1, Qt::Key_End);
    h->keyUp(form1, Qt::Key_End);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("B0 40 7F | B0 40 00"));
    QCOMPARE(form1->ComboBox1->currentIndex(), 0);
    // Note keys still play while the list has the focus.
    h->keyDown(form1, Qt::Key_D);
    QCOMPARE(q(hex(h->messagesSinceMark().back())), QString("90 39 64"));
}

void MainWindowTest::spaceOnReferenceButtonSoundsDamperAndReference()
{
    form1->Button1->setFocus();
    h->keyDown(form1, Qt::Key_Space);
    h->keyDown(form1, Qt::Key_Space, true);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("B0 40 7F | 91 45 64 | B0 40 7F"));
    QVERIFY(h->app().exercise().referenceUsed);
    h->keyUp(form1, Qt::Key_Space);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("B0 40 7F | 91 45 64 | B0 40 7F | B0 40 00 | 81 45 7F"));
    QVERIFY(!h->app().keyboard().referenceKeyHeld());
}

void MainWindowTest::referenceButtonByMouseSetsReferenceUsed()
{
    QVERIFY(!h->app().exercise().referenceUsed);
    QTest::mousePress(form1->Button1, Qt::MiddleButton);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("91 45 64"));
    QVERIFY(h->app().exercise().referenceUsed);
    QTest::mouseRelease(form1->Button1, Qt::MiddleButton);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("91 45 64 | 81 45 7F"));
}

void MainWindowTest::clickOnReferenceButtonTakesFocusButKeyDoesNot()
{
    QTest::mouseClick(form1->Shape(2), Qt::LeftButton);
    QCOMPARE(form1->focusWidget(), static_cast<QWidget*>(form1->ComboBox1));
    QTest::mouseClick(form1->Button1, Qt::LeftButton);
    QCOMPARE(form1->focusWidget(), static_cast<QWidget*>(form1->Button1));
    h->mark();
    h->keyDown(form1, Qt::Key_Space);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("B0 40 7F | 91 45 64"));
}

void MainWindowTest::deviceListSelectionSwitchesDevice()
{
    form1->ComboBox1->setCurrentIndex(1);
    emit form1->ComboBox1->activated(1);
    const auto messages = h->messagesSinceMark();
    QCOMPARE(messages.size(), std::size_t(3));
    QCOMPARE(q(hex(messages[0])), QString("B9 78 00"));
    QCOMPARE(q(hex(messages[1])), QString("F0 41 10 42 12 40 00 7F 00 41 F7"));
    QCOMPARE(messages[2].size(), std::size_t(22));
    QCOMPARE(h->app().port().deviceId(), 1);
    QCOMPARE(h->sleepsSinceMark(), (std::vector<int>{200, 300, 10}));
}

void MainWindowTest::labelClickPlaysTheClipEachTime()
{
    QTest::mouseClick(form1->Label1, Qt::LeftButton);
    QTest::mouseClick(form1->Label1, Qt::LeftButton);
    QCOMPARE(h->sound.plays, 2);
    QVERIFY(h->messagesSinceMark().empty());
}

void MainWindowTest::buttonsAndMenusShowTheirWindows()
{
    QTest::mouseClick(form1->Button2, Qt::LeftButton);
    QVERIFY(h->app().form4()->isVisible());
    form1->N2->trigger();
    QVERIFY(h->app().form5()->isVisible());
    form1->N3->trigger();
    QVERIFY(h->app().form7()->isVisible());
    // Opening and closing the instrument window sends nothing.
    h->app().form7()->close();
    QVERIFY(h->messagesSinceMark().empty());
}

void MainWindowTest::x11AutoRepeatReleasesAreNotKeyUps()
{
    h->keyDown(form1, Qt::Key_H);
    h->keyUp(form1, Qt::Key_H, true);
    h->keyDown(form1, Qt::Key_H, true);
    h->keyUp(form1, Qt::Key_H);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 3E 64 | 80 3E 7F"));
}

namespace {

// What the platform delivers for two quick presses: the second press comes as a double-click.
void doubleClick(QWidget* widget, Qt::MouseButton button)
{
    const QPointF at(widget->rect().center());
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

}  // namespace

void MainWindowTest::secondPressOfADoubleClickPlaysAgain()
{
    doubleClick(form1->Button1, Qt::LeftButton);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("91 45 64 | 81 45 7F | 91 45 64 | 81 45 7F"));
    h->mark();
    doubleClick(form1->Shape(10), Qt::RightButton);
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("90 45 64 | 80 45 7F | 90 45 64 | 80 45 7F"));
}

void MainWindowTest::openedDeviceListTakesNoKeysEither()
{
    form1->ComboBox1->showPopup();
    QTRY_VERIFY(QApplication::activePopupWidget());
    QWidget* popup = QApplication::activePopupWidget();
    QWidget* list = popup->focusWidget() ? popup->focusWidget() : popup;
    for (int key : {int(Qt::Key_Down), int(Qt::Key_Return), int(Qt::Key_Space), int(Qt::Key_D)}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(list, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(list, &release);
    }
    // As with the list closed: the damper and the note play, and the device stays.
    QCOMPARE(q(hex(h->messagesSinceMark())), QString("B0 40 7F | B0 40 00 | 90 39 64 | 80 39 7F"));
    QCOMPARE(form1->ComboBox1->currentIndex(), 0);
    QCOMPARE(h->app().port().deviceId(), 0);
    QVERIFY(popup->isVisible());
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(!popup->isVisible());
    QCOMPARE(form1->ComboBox1->currentIndex(), 0);
}

void MainWindowTest::tabMovesTheFocusFromTheDeviceList()
{
    form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form1));
    form1->ComboBox1->setFocus();
    QTest::keyClick(form1->ComboBox1, Qt::Key_Tab);
    QCOMPARE(form1->focusWidget(), static_cast<QWidget*>(form1->Button1));
    QTest::keyClick(form1->Button1, Qt::Key_Tab);
    QCOMPARE(form1->focusWidget(), static_cast<QWidget*>(form1->Button2));
    QTest::keyClick(form1->Button2, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(form1->Button1, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(form1->focusWidget(), static_cast<QWidget*>(form1->ComboBox1));
    QVERIFY(h->messagesSinceMark().empty());
}

QTEST_MAIN(MainWindowTest)
#include "tst_main_window.moc"
