// The result report on the clipboard and the results board.
#include "AppHarness.h"

#include "exercise/ResultsBoard.h"
#include "exercise/gui/vostrelUnit2.h"
#include "exercise/gui/vostrelUnit3.h"
#include "exercise/gui/vostrelUnit6.h"
#include "shell/gui/vostrelUnit1.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

QStringList reportLines(const std::string& clipboard)
{
    QString text = QString::fromStdString(clipboard);
    if (!text.endsWith("\r\n"))
        return {"<missing final CR LF>"};
    text.chop(2);
    return text.split("\r\n");
}

const QString kGap = QString(6, QChar(0x3000));

}  // namespace

class ReportTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstPressCopiesOneReportSecondPressTwo();
    void reportLinesFollowTheResultsWindow();
    void referenceLineTellsWhetherTheReferenceSounded();
    void reportAfterRetryFollowsTheFirst();
    void startTimeIsKeptAfterClosingWithCloseBox();
    void clipboardFailureKeepsReportForTheNextPress();
    void resultsBoardOpensInBrowserAndFailureIsIgnored();
    void englishReportCarriesEnglishLabels();

private:
    std::unique_ptr<AppHarness> h;
    TForm2* form2 = nullptr;
    TForm3* form3 = nullptr;
};

void ReportTest::init()
{
    h = std::make_unique<AppHarness>();
    // Offsets -10, 0, 5, ... at level 0 (r - 20).
    h->random.script = {10, 20, 25, 20, 20, 20, 20, 20, 20, 20, 20, 20};
    h->clock.setNow(46364.5);
    QVERIFY(h->start());
    form2 = h->app().form2();
    form3 = h->app().form3();
}

void ReportTest::cleanup()
{
    h.reset();
}

void ReportTest::firstPressCopiesOneReportSecondPressTwo()
{
    form2->Button1Click();
    form3->Button3Click();
    const QStringList first = reportLines(h->clipboard.text);
    QCOMPARE(first.size(), 26);
    QVERIFY(h->boxes.errors.empty());
    form3->Button3Click();
    const QStringList both = reportLines(h->clipboard.text);
    QCOMPARE(both.size(), 52);
    QCOMPARE(both.mid(0, 26), first);
    QCOMPARE(both.mid(26), first);
    QCOMPARE(QString::fromStdString(h->app().form6()->reportText()), QString::fromStdString(h->clipboard.text));
}

void ReportTest::reportLinesFollowTheResultsWindow()
{
    form2->ScrollBar(1)->setValue(3);
    form2->ScrollBar(2)->setValue(-20);
    h->clock.advance(5 * 60'000 + 23'900);
    form2->Button1Click();
    form3->Button3Click();
    const QStringList lines = reportLines(h->clipboard.text);
    QCOMPARE(lines.size(), 26);
    QCOMPARE(lines[0], QString(33, '-'));
    QCOMPARE(lines[1], QString("音名　貴方の調律　正解の調律"));
    QCOMPARE(lines[2], "C 　　　3" + kGap + "10");
    QCOMPARE(lines[3], "C#　　　-20" + kGap + "0");
    QCOMPARE(lines[4], "D 　　　0" + kGap + "-5");
    QCOMPARE(lines[13], "B 　　　0" + kGap + "0");
    QCOMPARE(lines[14], QString());
    QCOMPARE(lines[15], "得点：" + form3->Label(16)->text());
    QCOMPARE(lines[15], QString("得点：68"));
    QCOMPARE(lines[16], QString());
    QCOMPARE(lines[17], QString("使用音源：Built-in GS synthesizer"));
    QCOMPARE(lines[18], QString("音色：piano 1"));
    QCOMPARE(lines[19], QString("難易度：特級"));
    QCOMPARE(lines[20], QString("基準音の使用：不使用"));
    QCOMPARE(lines[21], QString("調律開始時刻：2026/12/08 12:00:00"));
    QCOMPARE(lines[22], QString("調律終了時刻：2026/12/08 12:05:25"));
    QCOMPARE(lines[23], QString("所要時間：0:05:25"));
    QCOMPARE(lines[24], QString("Velmora Version 1.34"));
    QCOMPARE(lines[25], QString(33, '-'));
}

void ReportTest::referenceLineTellsWhetherTheReferenceSounded()
{
    QTest::mousePress(h->app().form1()->Button1, Qt::LeftButton);
    QTest::mouseRelease(h->app().form1()->Button1, Qt::LeftButton);
    form2->Button1Click();
    form3->Button3Click();
    QCOMPARE(reportLines(h->clipboard.text)[20], QString("基準音の使用：使用"));
}

void ReportTest::reportAfterRetryFollowsTheFirst()
{
    for (int k = 1; k <= 12; ++k)
        form2->ScrollBar(k)->setValue(k % 2 ? 10 : -10);
    form2->Button1Click();
    form3->Button3Click();
    const QStringList first = reportLines(h->clipboard.text);
    h->clock.advance(60'000);
    QTest::mousePress(form3->Button2, Qt::LeftButton);
    QTest::mouseRelease(form3->Button2, Qt::LeftButton);
    h->clock.advance(2 * 60'000);
    form2->Button1Click();
    form3->Button3Click();
    const QStringList both = reportLines(h->clipboard.text);
    QCOMPARE(both.size(), 52);
    QCOMPARE(both.mid(0, 26), first);
    // The retry restarted the clock after its new exercise had been sent and the sliders reset.
    QCOMPARE(both[26 + 21], QString("調律開始時刻：2026/12/08 12:01:10"));
    QCOMPARE(both[26 + 23], QString("所要時間：0:02:00"));
    QVERIFY(first[15].startsWith("得点："));
}

void ReportTest::startTimeIsKeptAfterClosingWithCloseBox()
{
    form2->Button1Click();
    h->clock.advance(60'000);
    QVERIFY(form3->close());
    h->clock.advance(30'000);
    form2->Button1Click();
    form3->Button3Click();
    const QStringList lines = reportLines(h->clipboard.text);
    QCOMPARE(lines[21], QString("調律開始時刻：2026/12/08 12:00:00"));
    // Counted from program start: both exercises' sends (1.3 s each) lie inside.
    QCOMPARE(lines[23], QString("所要時間：0:01:32"));
    QCOMPARE(lines[20], QString("基準音の使用：不使用"));
}

void ReportTest::clipboardFailureKeepsReportForTheNextPress()
{
    form2->Button1Click();
    h->clipboard.failing = true;
    form3->Button3Click();
    QCOMPARE(h->boxes.errors, (std::vector<std::string>{"クリップボードを開くことができません"}));
    QVERIFY(h->clipboard.text.empty());
    h->clipboard.failing = false;
    form3->Button3Click();
    QCOMPARE(reportLines(h->clipboard.text).size(), 52);
}

void ReportTest::resultsBoardOpensInBrowserAndFailureIsIgnored()
{
    QCOMPARE(form3->Button4->toolTip(), QString("インターネットへの接続が伴います"));
    form3->Button4Click();
    QCOMPARE(h->web.opened, (std::vector<std::string>{exercise::ResultsBoardAddress}));
    QVERIFY(QString(exercise::ResultsBoardAddress).startsWith("https://"));
    h->web.failing = true;
    form3->Button4Click();
    QCOMPARE(h->web.opened.size(), std::size_t(2));
    QVERIFY(h->boxes.messages.empty() && h->boxes.errors.empty());
}

void ReportTest::englishReportCarriesEnglishLabels()
{
    AppHarness en(Edition::English);
    en.random.script = {20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20};
    en.clock.setNow(46364.5);
    QVERIFY(en.start());
    en.app().form2()->Button1Click();
    en.app().form3()->Button3Click();
    const QStringList lines = reportLines(en.clipboard.text);
    QCOMPARE(lines.size(), 26);
    QCOMPARE(lines[1], QString("NOTE　YOUR TUNING　MASTER TUNING"));
    QCOMPARE(lines[2], "C 　　　0" + kGap + "0");
    QCOMPARE(lines[15], QString("SCORE:100"));
    QCOMPARE(lines[17], QString("SOUND GENERATOR:Built-in GS synthesizer"));
    QCOMPARE(lines[18], QString("INSTRUMENT:piano 1"));
    QCOMPARE(lines[19], QString("SENSITIVITY:1 Cent"));
    QCOMPARE(lines[20], QString("REFERENCE TONE:disuse"));
    QVERIFY(lines[21].startsWith("START TUNING TIME : 2026/12/08"));
    QVERIFY(lines[22].startsWith("END TUNING TIME : "));
    QVERIFY(lines[23].startsWith("TIME REQUIRED : 0:00:"));
    QCOMPARE(lines[24], QString("VELMORA VERSION 1.34"));
}

QTEST_MAIN(ReportTest)
#include "tst_report.moc"
