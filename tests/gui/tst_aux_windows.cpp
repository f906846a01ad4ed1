// The hint, difficulty, report-buffer and instrument windows.
#include "AppHarness.h"

#include "editions/Catalogue.h"
#include "editions/Layout.h"
#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit6.h"
#include "shell/gui/vostrelUnit1.h"
#include "windows/gui/vostrelUnit4.h"
#include "windows/gui/vostrelUnit5.h"
#include "windows/gui/vostrelUnit7.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

class AuxWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void hintWindowShowsPictureAndText_data();
    void hintWindowShowsPictureAndText();
    void hintPictureDecoderSurvivesBadData();
    void difficultyWindowItemsAndLevelChange_data();
    void difficultyWindowItemsAndLevelChange();
    void instrumentWindowSendsProgramOnBothChannels();
    void instrumentListKeepsSelectionAcrossDeviceSwitch();
    void showingBringsWindowsBackWithTheirState();
    void reportBufferWindowIsNeverShown();
};

void AuxWindowsTest::hintWindowShowsPictureAndText_data()
{
    QTest::addColumn<int>("edition");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Japanese") << int(Edition::Japanese) << 37 << QPoint(65, 384) << "ヒント";
    QTest::newRow("English") << int(Edition::English) << 18 << QPoint(242, 382) << "Hint";
}

void AuxWindowsTest::hintWindowShowsPictureAndText()
{
    QFETCH(int, edition);
    QFETCH(int, lines);
    QFETCH(QPoint, position);
    QFETCH(QString, caption);
    AppHarness h(static_cast<Edition>(edition));
    QVERIFY(h.start());
    TForm4* form4 = h.app().form4();
    QVERIFY(!form4->isVisible());
    QCOMPARE(form4->windowTitle(), caption);
    QCOMPARE(form4->pos(), position);
    const QPixmap picture = form4->Image1->pixmap();
    QCOMPARE(picture.size(), QSize(936, 184));
    QCOMPARE(form4->Image1->geometry(), QRect(0, 0, 937, 185));
    QCOMPARE(form4->Memo1->geometry(), QRect(0, 184, 937, 137));
    QVERIFY(form4->Memo1->isReadOnly());
    QCOMPARE(form4->Memo1->font().pixelSize(), 16);
    QCOMPARE(form4->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(form4->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(form4->Memo1->document()->blockCount(), lines);
    const auto& expected = hintText(static_cast<Edition>(edition));
    for (int i = 0; i < lines; ++i) {
        const auto& line = expected[std::size_t(i)];
        QCOMPARE(form4->Memo1->document()->findBlockByNumber(i).text(),
                 QString::fromUtf8(line.data(), int(line.size())));
    }
    QCOMPARE(form4->focusWidget(), static_cast<QWidget*>(form4->Memo1));
}

void AuxWindowsTest::hintPictureDecoderSurvivesBadData()
{
    QFile file(":/japanese/HintPicture.jpg");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    QCOMPARE(loadHintPicture(good).size(), QSize(936, 184));
    QVERIFY(loadHintPicture(QByteArray(5000, '\x5a')).isNull());
    QVERIFY(loadHintPicture(QByteArray()).isNull());
}

void AuxWindowsTest::difficultyWindowItemsAndLevelChange_data()
{
    QTest::addColumn<int>("edition");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("Japanese") << int(Edition::Japanese)
                              << QStringList{"特級（１セント単位）", "上級（３セント単位）", "中級（５セント単位）",
                                             "初級(１０セント単位)"}
                              << QRect(184, 111, 170, 182);
    QTest::newRow("English") << int(Edition::English) << QStringList{"1 Cent", "3 Cent", "5 Cent", "10 Cent"}
                             << QRect(219, 158, 156, 160);
}

void AuxWindowsTest::difficultyWindowItemsAndLevelChange()
{
    QFETCH(int, edition);
    QFETCH(QStringList, items);
    QFETCH(QRect, geometry);
    AppHarness h(static_cast<Edition>(edition));
    QVERIFY(h.start());
    TForm5* form5 = h.app().form5();
    QCOMPARE(form5->pos(), geometry.topLeft());
    QCOMPARE(form5->width() + kFrameWidth, geometry.width());
    QCOMPARE(form5->height() + kFrameHeight, geometry.height());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(form5->item(i)->text(), items[i]);
    QVERIFY(form5->item(0)->isChecked());
    QVERIFY(!(form5->windowFlags() & Qt::WindowMaximizeButtonHint));

    const double start = h.app().exercise().startTime;
    h.app().form1()->N2->trigger();
    h.mark();
    h.random.script = {11};
    QTest::mouseClick(form5->item(2), Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(h.tuningsSinceMark().size(), std::size_t(1));
    QCOMPARE(h.app().exercise().answerOffsets[0], 25);
    QCOMPARE(h.app().exercise().startTime, start);
    h.mark();
    QTest::mouseClick(form5->item(2), Qt::LeftButton, {}, QPoint(8, 8));
    QVERIFY(h.messagesSinceMark().empty());
}

void AuxWindowsTest::instrumentWindowSendsProgramOnBothChannels()
{
    AppHarness h;
    QVERIFY(h.start());
    TForm7* form7 = h.app().form7();
    QCOMPARE(form7->windowTitle(), QString("楽器の設定"));
    QCOMPARE(form7->pos(), QPoint(192, 107));
    QCOMPARE(form7->ComboBox1->count(), 128);
    QCOMPARE(form7->ComboBox1->itemText(0), QString("piano 1"));
    QCOMPARE(form7->ComboBox1->itemText(25), QString("Steel Gt,"));
    QCOMPARE(form7->ComboBox1->itemText(88), QString("Fantasla"));
    QCOMPARE(form7->ComboBox1->itemText(127), QString("Gun Shot"));
    QVERIFY(!form7->ComboBox1->isEditable());
    h.app().form1()->N3->trigger();
    h.mark();
    form7->ComboBox1->setCurrentIndex(5);
    emit form7->ComboBox1->activated(5);
    QCOMPARE(q(hex(h.messagesSinceMark())), QString("C0 05 | C1 05"));
    // The tuning is not sent again and the exercise goes on.
    QVERIFY(h.tuningsSinceMark().empty());
    QVERIFY(h.sleepsSinceMark().empty());
}

void AuxWindowsTest::instrumentListKeepsSelectionAcrossDeviceSwitch()
{
    AppHarness h;
    QVERIFY(h.start());
    TForm7* form7 = h.app().form7();
    form7->ComboBox1->setCurrentIndex(40);
    emit form7->ComboBox1->activated(40);
    h.mark();
    h.app().form1()->ComboBox1->setCurrentIndex(1);
    emit h.app().form1()->ComboBox1->activated(1);
    for (const Bytes& m : h.messagesSinceMark())
        QVERIFY((m[0] & 0xF0) != 0xC0);
    QCOMPARE(form7->ComboBox1->currentIndex(), 40);
}

void AuxWindowsTest::showingBringsWindowsBackWithTheirState()
{
    AppHarness h;
    QVERIFY(h.start());
    TForm5* form5 = h.app().form5();
    h.app().form1()->N2->trigger();
    QTest::mouseClick(form5->item(3), Qt::LeftButton, {}, QPoint(8, 8));
    form5->close();
    QVERIFY(!form5->isVisible());
    h.app().form1()->N2->trigger();
    QVERIFY(form5->isVisible());
    QVERIFY(form5->item(3)->isChecked());
    QCOMPARE(h.app().form5(), form5);
    h.app().form1()->N2->trigger();
    QVERIFY(form5->isVisible());
}

void AuxWindowsTest::reportBufferWindowIsNeverShown()
{
    AppHarness h;
    QVERIFY(h.start());
    QVERIFY(!h.app().form6()->isVisible());
    QCOMPARE(h.app().form6()->windowTitle(), QString("Form6"));
    QVERIFY(h.app().form6()->reportText().empty());
}

QTEST_MAIN(AuxWindowsTest)
#include "tst_aux_windows.moc"
