#include "Fakes.h"

#include "exercise/Levels.h"
#include "exercise/Scoring.h"
#include "midi/MidiPort.h"
#include "midi/RecordingMidiOutput.h"
#include "shell/Keyboard.h"

#include <gtest/gtest.h>

#include <set>

namespace ex = velmora::exercise;

namespace {

TEST(Levels, EveryDrawHasAnExactAnswerInsideTheSliderRange)
{
    const int steps[] = {1, 3, 5, 10};
    const int lowest[] = {-20, -30, -30, -30};
    const int highest[] = {19, 27, 25, 20};
    for (int index = 0; index < 4; ++index) {
        const ex::Level* level = ex::levelFor(index);
        ASSERT_NE(level, nullptr);
        EXPECT_EQ(level->step, steps[index]);
        std::set<int> offsets;
        for (int r = 0; r < level->drawRange; ++r) {
            const int offset = level->offsetForDraw(r);
            offsets.insert(offset);
            EXPECT_EQ(offset % level->step, 0);
            const int cancelling = -offset / level->step;
            EXPECT_GE(cancelling, level->minimum);
            EXPECT_LE(cancelling, level->maximum);
        }
        EXPECT_EQ(*offsets.begin(), lowest[index]);
        EXPECT_EQ(*offsets.rbegin(), highest[index]);
        EXPECT_EQ(int(offsets.size()), level->drawRange);
    }
    EXPECT_EQ(ex::levelFor(-1), nullptr);
    EXPECT_EQ(ex::levelFor(4), nullptr);
}

TEST(Scoring, HundredMinusTheTotalMissWithoutFloor)
{
    const std::array<int, 12> exact{30, -20, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ex::computeScore(exact, exact), 100);
    std::array<int, 12> user{};
    EXPECT_EQ(ex::computeScore(user, exact), 40);
    for (int i = 0; i < 12; ++i)
        user[std::size_t(i)] = exact[std::size_t(i)] + (i % 2 ? 10 : -10);
    EXPECT_EQ(ex::computeScore(user, exact), -20);
    EXPECT_EQ(ex::fieldText(-20), "-20");
    EXPECT_EQ(ex::fieldText(0), "0");
    EXPECT_EQ(ex::fieldText(30), "30");
}

TEST(Scoring, FieldTextsParseOnlyAsTheProgramWritesThem)
{
    EXPECT_EQ(ex::parseFieldValue("-20"), -20);
    EXPECT_EQ(ex::parseFieldValue("0"), 0);
    EXPECT_EQ(ex::parseFieldValue("310"), 310);
    for (const char* bad : {"", "+5", " 5", "5 ", "abc", "1e3", "99999999999", "-"})
        EXPECT_FALSE(ex::parseFieldValue(bad).has_value()) << bad;
}

TEST(ResultRun, FourteenTicksFromMiddleC)
{
    auto first = ex::resultRunTick(60);
    ASSERT_EQ(first.messages.size(), 2u);
    EXPECT_EQ(first.messages[0], (std::array<unsigned char, 3>{0x80, 0x3B, 0x7F}));
    EXPECT_EQ(first.messages[1], (std::array<unsigned char, 3>{0x90, 0x3C, 0x64}));
    EXPECT_FALSE(first.finished);
    for (int note = 61; note < 73; ++note)
        EXPECT_FALSE(ex::resultRunTick(note).finished) << note;
    auto last = ex::resultRunTick(73);
    ASSERT_EQ(last.messages.size(), 3u);
    EXPECT_EQ(last.messages[0], (std::array<unsigned char, 3>{0x80, 0x48, 0x7F}));
    EXPECT_EQ(last.messages[1], (std::array<unsigned char, 3>{0x90, 0x49, 0x64}));
    EXPECT_EQ(last.messages[2], (std::array<unsigned char, 3>{0x80, 0x49, 0x7F}));
    EXPECT_TRUE(last.finished);
}

class KeyboardTest : public ::testing::Test {
protected:
    KeyboardTest()
    {
        port.setDeviceId(0);
        port.openMidiPort();
        keyboard.setLightKey([this](int note, bool sounding) { lights.push_back({note, sounding}); });
        midi.clearRecords();
    }
    std::vector<std::vector<std::uint8_t>> sent() const { return midi.deliveredMessages(); }

    velmora::midi::RecordingMidiOutput midi{{"device"}};
    velmora::test::VirtualClock clock;
    velmora::test::RecordingMessageBoxes boxes;
    velmora::midi::MidiPort port{midi, clock, boxes, velmora::Edition::Japanese};
    velmora::Keyboard keyboard{velmora::Edition::Japanese, port};
    std::vector<std::pair<int, bool>> lights;
};

TEST_F(KeyboardTest, HeldKeyPlaysOnceAndEveryKeyUpStopsIt)
{
    keyboard.keyDown(0x41);
    keyboard.keyDown(0x41);
    keyboard.keyDown(0x41);
    EXPECT_EQ(sent(), (std::vector<std::vector<std::uint8_t>>{{0x90, 0x35, 0x64}}));
    keyboard.keyUp(0x41);
    keyboard.keyUp(0x41);
    EXPECT_EQ(sent().size(), 3u);
    EXPECT_EQ(sent()[2], (std::vector<std::uint8_t>{0x80, 0x35, 0x7F}));
    EXPECT_EQ(lights, (std::vector<std::pair<int, bool>>{{53, true}, {53, false}, {53, false}}));
}

TEST_F(KeyboardTest, RepeatSetsCurrentNoteWithoutSending)
{
    keyboard.keyDown(0x47);
    keyboard.keyDown(0x48);
    EXPECT_EQ(keyboard.currentNote(), 62);
    keyboard.keyDown(0x47);
    EXPECT_EQ(keyboard.currentNote(), 60);
    EXPECT_EQ(sent().size(), 2u);
    keyboard.mouseDown(76);
    EXPECT_EQ(keyboard.currentNote(), 76);
    EXPECT_TRUE(keyboard.isHeld(7));
}

TEST_F(KeyboardTest, SpaceIsTheDamperOnEveryRepeat)
{
    keyboard.keyDown(0x20);
    keyboard.keyDown(0x20);
    keyboard.keyUp(0x20);
    EXPECT_EQ(sent(), (std::vector<std::vector<std::uint8_t>>{{0xB0, 0x40, 0x7F}, {0xB0, 0x40, 0x7F}, {0xB0, 0x40, 0x00}}));
    EXPECT_TRUE(lights.empty());
}

}  // namespace
