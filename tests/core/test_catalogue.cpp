#include "editions/AccessibleText.h"
#include "editions/Catalogue.h"
#include "editions/NoteKeyMap.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using velmora::Edition;
using velmora::TextKey;

namespace {

constexpr int kKeyCount = static_cast<int>(TextKey::Count);

TEST(Catalogue, EveryKeyHasBothTextsUnlessItBelongsToOneEdition)
{
    std::set<std::string> names;
    for (int i = 0; i < kKeyCount; ++i) {
        const auto key = static_cast<TextKey>(i);
        EXPECT_TRUE(names.insert(std::string(velmora::keyName(key))).second) << velmora::keyName(key);
        const bool ja = velmora::hasText(Edition::Japanese, key);
        const bool en = velmora::hasText(Edition::English, key);
        if (key == TextKey::StatusNoSynth) {
            EXPECT_FALSE(ja);
            EXPECT_TRUE(en);
            continue;
        }
        EXPECT_TRUE(ja && en) << velmora::keyName(key);
        EXPECT_FALSE(velmora::text(Edition::English, key).empty()) << velmora::keyName(key);
        const bool spaceOnly = key == TextKey::RptGap;
        EXPECT_TRUE(spaceOnly || !velmora::text(Edition::Japanese, key).empty()) << velmora::keyName(key);
    }
}

TEST(Catalogue, QuotedTextsAreExact)
{
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::Form1Button2Caption), "ヒント(&C)");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::Form1Button2Caption), "Hint(&V)");
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::Form1N1Caption), "設定(&S)");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::Form1N1Caption), "Setting(&C)");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::Form1N2Caption), "Sensitivity(&S)");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::Form1N3Caption), "Instrument(&I)");
    // Full-width parentheses in the first three levels, ASCII ones around full-width digits in the fourth.
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::Form5Item0), "特級\uFF08\uFF11セント単位\uFF09");
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::Form5Item3), "初級(\uFF11\uFF10セント単位)");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::MsgSendError2Close), "error2--");
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::MsgSendError2Close), "error2");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::Form3Button4Hint), "インターネットへの接続が伴います");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::MsgOpenResult7), "ERROR3---");
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::RptRule), std::string(33, '-'));
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::RptHeading), "音名\u3000貴方の調律\u3000正解の調律");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::RptHeading), "NOTE\u3000YOUR TUNING\u3000MASTER TUNING");
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::RptGap), "\u3000\u3000\u3000\u3000\u3000\u3000");
    EXPECT_EQ(velmora::text(Edition::Japanese, TextKey::RptScore), "得点\uFF1A");
    EXPECT_EQ(velmora::text(Edition::English, TextKey::RptStart), "START TUNING TIME : ");
    for (Edition e : {Edition::Japanese, Edition::English}) {
        EXPECT_NE(velmora::text(e, TextKey::Form1Label1Caption).find("1.34"), std::string_view::npos);
        EXPECT_NE(velmora::text(e, TextKey::RptVersion).find("1.34"), std::string_view::npos);
    }
}

TEST(Catalogue, OpenResultsMapOntoTheirMessages)
{
    EXPECT_EQ(velmora::openResultMessage(1), TextKey::MsgOpenResult1);
    EXPECT_EQ(velmora::openResultMessage(13), TextKey::MsgOpenResult13);
    EXPECT_EQ(velmora::openResultMessage(20), TextKey::MsgOpenResult20);
    for (unsigned code : {14u, 19u, 21u, 64u, 1000u})
        EXPECT_EQ(velmora::openResultMessage(code), TextKey::MsgOpenFailed) << code;
    EXPECT_EQ(velmora::text(Edition::Japanese, velmora::openResultMessage(4)), "ALLOCATED");
}

TEST(Catalogue, RowPrefixesAreTwoCharactersAndThreeIdeographicSpaces)
{
    for (int i = 0; i < 12; ++i) {
        const std::string prefix(velmora::reportRowPrefix(i));
        const std::string label(velmora::pitchClassLabel(i));
        const std::string expected = (label.size() == 1 ? label + " " : label) + "\u3000\u3000\u3000";
        EXPECT_EQ(prefix, expected) << i;
    }
}

TEST(Catalogue, InstrumentsAndHintTexts)
{
    EXPECT_EQ(velmora::instrumentName(0), "piano 1");
    EXPECT_EQ(velmora::instrumentName(31), "Gt.Hermonix");
    EXPECT_EQ(velmora::instrumentName(127), "Gun Shot");
    std::set<std::string_view> unique;
    for (int p = 0; p < 128; ++p)
        unique.insert(velmora::instrumentName(p));
    EXPECT_EQ(unique.size(), 128u);
    EXPECT_EQ(velmora::hintText(Edition::Japanese).size(), 37u);
    EXPECT_EQ(velmora::hintText(Edition::English).size(), 18u);
    EXPECT_EQ(velmora::hintText(Edition::Japanese)[16], "４．ミとシののうなりをなくしたらシ音を少し下げる");
    EXPECT_TRUE(velmora::hintText(Edition::Japanese).back().empty());
}

TEST(NoteKeyMap, EditionsDifferInThreeRows)
{
    int differing = 0;
    for (int row = 0; row < velmora::kNoteKeyCount; ++row) {
        const int ja = velmora::noteKeyCode(Edition::Japanese, row);
        const int en = velmora::noteKeyCode(Edition::English, row);
        differing += ja != en;
        EXPECT_EQ(velmora::noteKeyRow(Edition::Japanese, ja), row);
        EXPECT_EQ(velmora::noteKeyRow(Edition::English, en), row);
    }
    EXPECT_EQ(differing, 3);
    EXPECT_EQ(velmora::noteKeyRow(Edition::Japanese, 0xBA), 18);
    EXPECT_EQ(velmora::noteKeyRow(Edition::English, 0xBA), 16);
    EXPECT_FALSE(velmora::noteKeyRow(Edition::English, 0xBB).has_value());
    EXPECT_FALSE(velmora::noteKeyRow(Edition::Japanese, 0xDE).has_value());
    EXPECT_EQ(velmora::noteKeyRow(Edition::English, 0xDD), velmora::noteKeyRow(Edition::Japanese, 0xDD));
    EXPECT_FALSE(velmora::noteKeyRow(Edition::Japanese, 0x20).has_value());
}

TEST(AccessibleText, CorrectionsKeysAndRowsInEachEditionsWords)
{
    EXPECT_EQ(velmora::centsText(Edition::Japanese, 3), "+3セント");
    EXPECT_EQ(velmora::centsText(Edition::Japanese, -30), "-30セント");
    EXPECT_EQ(velmora::centsText(Edition::Japanese, 0), "0セント");
    EXPECT_EQ(velmora::centsText(Edition::English, 1), "+1 cent");
    EXPECT_EQ(velmora::centsText(Edition::English, -1), "-1 cent");
    EXPECT_EQ(velmora::centsText(Edition::English, 0), "0 cents");
    EXPECT_EQ(velmora::centsText(Edition::English, -20), "-20 cents");
    EXPECT_EQ(velmora::noteName(Edition::English, 53), "F3");
    EXPECT_EQ(velmora::noteName(Edition::Japanese, 60), "C4");
    EXPECT_EQ(velmora::noteName(Edition::English, 69), "A4");
    EXPECT_EQ(velmora::noteName(Edition::English, 70), "A sharp 4");
    EXPECT_EQ(velmora::noteName(Edition::Japanese, 54), "Fシャープ3");
    EXPECT_EQ(velmora::noteName(Edition::English, 76), "E5");
    EXPECT_EQ(velmora::spokenPitchClass(Edition::English, 1), "C sharp");
    EXPECT_EQ(velmora::spokenPitchClass(Edition::Japanese, 10), "Aシャープ");
    EXPECT_EQ(velmora::spokenPitchClass(Edition::Japanese, 11), "B");
    EXPECT_EQ(velmora::resultsRowText(Edition::Japanese, 1, 3, -12), "Cシャープ、貴方の調律 +3セント、正解の調律 -12セント");
    EXPECT_EQ(velmora::resultsRowText(Edition::English, 6, -1, 0), "F sharp: your tuning -1 cent, master tuning 0 cents");
    EXPECT_EQ(velmora::resultsRowText(Edition::English, 11, 0, 1), "B: your tuning 0 cents, master tuning +1 cent");
    EXPECT_EQ(velmora::scoreSentence(Edition::Japanese, "-20"), "点数は-20点");
    EXPECT_EQ(velmora::scoreSentence(Edition::English, "100"), "score 100 points");
}

}  // namespace
