// The windows on the 960 x 600 a 1920 x 1200 screen is at twice the scale: each opens wholly on
// the screen, moved no further from its first position than it has to be.
#include "AppHarness.h"

#include "editions/Layout.h"
#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit3.h"
#include "exercise/gui/vostrelUnit6.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit4.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAction>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

class LargeScaleTest : public QObject {
    Q_OBJECT
private slots:
    void everyWindowOpensWhollyOnTheScreen_data();
    void everyWindowOpensWhollyOnTheScreen();
};

void LargeScaleTest::everyWindowOpensWhollyOnTheScreen_data()
{
    QTest::addColumn<int>("edition");
    QTest::newRow("Japanese") << int(Edition::Japanese);
    QTest::newRow("English") << int(Edition::English);
}

void LargeScaleTest::everyWindowOpensWhollyOnTheScreen()
{
    QFETCH(int, edition);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(screen, QRect(0, 0, 960, 600));
    AppHarness h(static_cast<Edition>(edition));
    QVERIFY(h.start());
    Application& app = h.app();
    // Opened the way the user opens them.
    app.form1()->show();
    app.form1()->Button2->click();
    app.form1()->N2->trigger();
    app.form1()->N3->trigger();
    app.form3()->showAndRaise();

    const QList<QWidget*> windows{app.form1(), app.form2(), app.form3(), app.form4(),
                                  app.form5(), app.form6(), app.form7()};
    for (QWidget* window : windows) {
        const QRect outer(window->pos(), window->size() + QSize(kFrameWidth, kFrameHeight));
        QVERIFY2(screen.contains(outer), qPrintable(window->objectName()));
    }
    // Moved the least: only up where only the bottom was off the screen.
    QCOMPARE(app.form2()->pos(), QPoint(175, 600 - 485));
    QCOMPARE(app.form4()->pos(), QPoint(960 - 947, 600 - 353));
    // What fits stays where it always opens.
    QCOMPARE(app.form1()->pos(), QPoint(193, 159));
    QCOMPARE(app.form5()->pos(), QPoint(auxiliaryLayout(static_cast<Edition>(edition)).difficultyWindow.left,
                                        auxiliaryLayout(static_cast<Edition>(edition)).difficultyWindow.top));
}

QTEST_MAIN(LargeScaleTest)
#include "tst_large_scale.moc"
