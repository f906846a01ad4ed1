#include "exercise/ResultsBoard.h"
#include "shell/SettingsFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#ifdef __unix__
#include <sys/resource.h>
#endif

namespace velmora {
namespace {

namespace fs = std::filesystem;

// The file the program writes at its first shutdown with every value at its default.
constexpr std::string_view kFreshFile =
    "[window]\r\nHeight=246\r\nWidth=345\r\nTop=159\r\nLeft=193\r\n\r\n[dev]\r\ndev_num=0\r\ngakki=none\r\nmap=4\r\n";

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeBytes(const fs::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// ---------------------------------------------------------------------------------------------
// Reading

TEST(SettingsFileRead, NamesMatchWithoutRegardToCase)
{
    const auto file = SettingsFile::fromText("[WiNdOw]\nHEIGHT=300\n[dev]\nDev_Num=2\n");
    EXPECT_EQ(file.readInteger("window", "height", 0), 300);
    EXPECT_EQ(file.readInteger("Window", "Height", 0), 300);
    EXPECT_EQ(file.readInteger("Dev", "Dev_num", -1), 2);
    EXPECT_EQ(file.readInteger("DEV", "dev_num", -1), 2);
}

TEST(SettingsFileRead, OnlyAsciiLettersFold)
{
    // "É" and "é" are different bytes in UTF-8 and are not folded.
    const auto file = SettingsFile::fromText("[dev]\ngakki\xC3\x89=1\n");
    EXPECT_EQ(file.readInteger("dev", "gakki\xC3\x89", 0), 1);
    EXPECT_EQ(file.readInteger("dev", "gakki\xC3\xA9", 0), 0);
    EXPECT_EQ(file.readInteger("dev", "GAKKI\xC3\x89", 0), 1);
}

TEST(SettingsFileRead, WhitespaceAroundNamesAndValuesIsTrimmed)
{
    const auto file = SettingsFile::fromText("  [ window ]  \n\t Height \t=  300 \t\n gakki =  My Synth  \n");
    EXPECT_EQ(file.readInteger("window", "height", 0), 300);
    EXPECT_EQ(file.readString("window", "gakki", "none"), "My Synth");
    EXPECT_EQ(file.readInteger(" window ", " height ", 0), 300);
}

TEST(SettingsFileRead, MissingSectionOrKeyYieldsTheDefault)
{
    const auto file = SettingsFile::fromText("[window]\nHeight=300\n");
    EXPECT_EQ(file.readInteger("window", "width", 345), 345);
    EXPECT_EQ(file.readInteger("dev", "map", 4), 4);
    EXPECT_EQ(file.readString("dev", "gakki", "none"), "none");
    EXPECT_EQ(SettingsFile().readString("dev", "gakki", "none"), "none");
    EXPECT_EQ(SettingsFile().readInteger("window", "height", 246), 246);
}

TEST(SettingsFileRead, EmptyValueIsAnEmptyStringButNotAnInteger)
{
    const auto file = SettingsFile::fromText("[dev]\ngakki=\nmap=   \n");
    EXPECT_EQ(file.readString("dev", "gakki", "none"), "");
    EXPECT_EQ(file.readInteger("dev", "map", 4), 4);
}

TEST(SettingsFileRead, ValueMayHoldEqualsSigns)
{
    const auto file = SettingsFile::fromText("[dev]\ngakki=Synth = A=B\n");
    EXPECT_EQ(file.readString("dev", "gakki", ""), "Synth = A=B");
}

struct IntegerCase {
    const char* text;
    int expected;
};
void PrintTo(const IntegerCase& c, std::ostream* out)
{
    *out << '"' << c.text << "\" -> " << c.expected;
}

class SettingsFileInteger : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(SettingsFileInteger, ConvertsLikeTheToolkit)
{
    const auto file = SettingsFile::fromText(std::string("[s]\nk=") + GetParam().text + "\n");
    EXPECT_EQ(file.readInteger("s", "k", -777), GetParam().expected) << "value \"" << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Accepted, SettingsFileInteger,
                         ::testing::Values(IntegerCase{"42", 42}, IntegerCase{"+42", 42}, IntegerCase{"-42", -42},
                                           IntegerCase{"0", 0}, IntegerCase{"-0", 0}, IntegerCase{"007", 7},
                                           IntegerCase{"000000000000000000000123", 123},
                                           IntegerCase{"2147483647", 2147483647},
                                           IntegerCase{"-2147483648", -2147483647 - 1}, IntegerCase{"$1F", 31},
                                           IntegerCase{"$1f", 31}, IntegerCase{"0x1f", 31}, IntegerCase{"0X1F", 31},
                                           IntegerCase{"-$10", -16}, IntegerCase{"+0x10", 16},
                                           IntegerCase{"$7FFFFFFF", 2147483647},
                                           // Hexadecimal is a 32-bit pattern.
                                           IntegerCase{"$FFFFFFFF", -1}, IntegerCase{"$80000000", -2147483647 - 1}));

INSTANTIATE_TEST_SUITE_P(RejectedForTheDefault, SettingsFileInteger,
                         ::testing::Values(IntegerCase{"99999999999", -777}, IntegerCase{"2147483648", -777},
                                           IntegerCase{"-2147483649", -777}, IntegerCase{"$100000000", -777},
                                           IntegerCase{"99999999999999999999999999999", -777},
                                           IntegerCase{"12abc", -777}, IntegerCase{"1 2", -777},
                                           IntegerCase{"abc", -777}, IntegerCase{"+", -777}, IntegerCase{"-", -777},
                                           IntegerCase{"$", -777}, IntegerCase{"0x", -777}, IntegerCase{"1.5", -777},
                                           IntegerCase{"1e3", -777}, IntegerCase{"--1", -777},
                                           IntegerCase{"0x-1", -777}, IntegerCase{"$G", -777},
                                           IntegerCase{"\xEF\xBC\x91", -777} /* full-width 1 */));

TEST(SettingsFileRead, FirstOfDuplicateKeysWins)
{
    const auto file = SettingsFile::fromText("[dev]\nmap=1\nMAP=2\nmap=3\n");
    EXPECT_EQ(file.readInteger("dev", "map", 0), 1);
}

TEST(SettingsFileRead, OnlyTheFirstSectionOfANameIsLookedAt)
{
    const auto file = SettingsFile::fromText("[dev]\nmap=1\n[window]\n[DEV]\ngakki=later\nmap=2\n");
    EXPECT_EQ(file.readInteger("dev", "map", 0), 1);
    EXPECT_EQ(file.readString("dev", "gakki", "none"), "none");
}

TEST(SettingsFileRead, KeysBelongToTheirSectionOnly)
{
    const auto file = SettingsFile::fromText("map=9\n[window]\nmap=1\n[dev]\nHeight=5\n");
    EXPECT_EQ(file.readInteger("dev", "map", 4), 4);
    EXPECT_EQ(file.readInteger("window", "map", 4), 1);
    EXPECT_EQ(file.readInteger("window", "height", 246), 246);
}

TEST(SettingsFileRead, CommentsStrayLinesAndBrokenHeadersAreNotKeys)
{
    const auto file = SettingsFile::fromText(
        "[dev]\n; map=1\njust some words\n[not a header\nmap=2\n[window] ; trailing note\nHeight=7\n");
    EXPECT_EQ(file.readInteger("dev", "map", 0), 2);
    EXPECT_EQ(file.readInteger("window", "height", 0), 7);
}

TEST(SettingsFileRead, LfCrLfAndMixedLineEnds)
{
    for (std::string_view text : {"[dev]\nmap=7\ngakki=x\n", "[dev]\r\nmap=7\r\ngakki=x\r\n",
                                  "[dev]\r\nmap=7\ngakki=x", "[dev]\nmap=7\r\ngakki=x\r\n"}) {
        const auto file = SettingsFile::fromText(text);
        EXPECT_EQ(file.readInteger("dev", "map", 0), 7) << text;
        EXPECT_EQ(file.readString("dev", "gakki", ""), "x") << text;
    }
}

TEST(SettingsFileRead, LeadingByteOrderMarkIsNotPartOfTheFirstHeader)
{
    const auto file = SettingsFile::fromText("\xEF\xBB\xBF[dev]\r\nmap=7\r\n");
    EXPECT_EQ(file.readInteger("dev", "map", 0), 7);
    EXPECT_EQ(file.toText(), "\xEF\xBB\xBF[dev]\r\nmap=7\r\n");
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(SettingsFileWrite, NewFileHoldsTheKeysInTheWritersOrder)
{
    SettingsFile file;
    writeStoredSettings(file, StoredSettings{});
    EXPECT_EQ(file.toText(), kFreshFile);
}

TEST(SettingsFileWrite, FileWrittenByTheProgramIsReadBackInFull)
{
    SettingsFile written;
    written.writeInteger("window", "Height", 400);
    written.writeInteger("window", "Width", 500);
    written.writeInteger("window", "Top", -20);
    written.writeInteger("window", "Left", 1930);
    written.writeInteger("dev", "dev_num", 3);
    written.writeString("dev", "gakki", "FLUID Synth (123):Synth input port (123:0)");
    written.writeInteger("dev", "map", 7);

    const auto reread = SettingsFile::fromText(written.toText());
    EXPECT_EQ(reread.readInteger("window", "height", 246), 400);
    EXPECT_EQ(reread.readInteger("window", "width", 345), 500);
    EXPECT_EQ(reread.readInteger("window", "top", 159), -20);
    EXPECT_EQ(reread.readInteger("window", "left", 193), 1930);
    EXPECT_EQ(reread.readInteger("Dev", "Dev_num", 0), 3);
    EXPECT_EQ(reread.readString("dev", "gakki", "none"), "FLUID Synth (123):Synth input port (123:0)");
    EXPECT_EQ(reread.readInteger("dev", "map", 4), 7);

    const StoredSettings stored = readStoredSettings(reread);
    EXPECT_EQ(stored.height, 400);
    EXPECT_EQ(stored.width, 500);
    EXPECT_EQ(stored.top, -20);
    EXPECT_EQ(stored.left, 1930);
    EXPECT_EQ(stored.deviceNumber, 3);
    EXPECT_EQ(stored.deviceName, "FLUID Synth (123):Synth input port (123:0)");
    EXPECT_EQ(stored.map, 7);
}

TEST(SettingsFileWrite, MapIsWrittenBackAsRead)
{
    auto file = SettingsFile::fromText(kFreshFile);
    file.writeInteger("dev", "map", 7);
    auto settings = readStoredSettings(SettingsFile::fromText(file.toText()));
    EXPECT_EQ(settings.map, 7);

    SettingsFile rewritten = SettingsFile::fromText(file.toText());
    writeStoredSettings(rewritten, settings);
    EXPECT_NE(rewritten.toText().find("\r\nmap=7\r\n"), std::string::npos);

    // Absent, it is written with its default.
    SettingsFile withoutMap = SettingsFile::fromText("[dev]\r\ndev_num=1\r\n");
    writeStoredSettings(withoutMap, readStoredSettings(withoutMap));
    EXPECT_NE(withoutMap.toText().find("\r\nmap=4\r\n"), std::string::npos);
}

TEST(SettingsFileWrite, BoardAddressIsReadAndKeptButNeverWritten)
{
    EXPECT_EQ(readStoredSettings(SettingsFile::fromText(kFreshFile)).boardAddress,
              exercise::ResultsBoardAddress);
    EXPECT_EQ(readStoredSettings(SettingsFile::fromText("[board]\r\naddress=\r\n")).boardAddress,
              exercise::ResultsBoardAddress);

    const std::string withBoard = std::string(kFreshFile) + "\r\n[Board]\r\nAddress = http://localhost:8080/ \r\n";
    auto file = SettingsFile::fromText(withBoard);
    StoredSettings settings = readStoredSettings(file);
    EXPECT_EQ(settings.boardAddress, "http://localhost:8080/");
    settings.left = 10;
    writeStoredSettings(file, settings);
    EXPECT_NE(file.toText().find("\r\n[Board]\r\nAddress = http://localhost:8080/ \r\n"), std::string::npos);

    // Without the line the default follows the program, so the program does not add one.
    SettingsFile fresh;
    settings.boardAddress = "http://elsewhere.example/";
    writeStoredSettings(fresh, settings);
    EXPECT_EQ(fresh.toText().find("board"), std::string::npos);
}

TEST(SettingsFileWrite, ReplacingAKeyTakesTheWritersCaseAndKeepsTheHeader)
{
    auto file = SettingsFile::fromText("[WINDOW]\r\n  HEIGHT = 1 \r\nwidth=2\r\n");
    file.writeInteger("window", "Height", 300);
    file.writeInteger("Window", "Width", 400);
    EXPECT_EQ(file.toText(), "[WINDOW]\r\nHeight=300\r\nWidth=400\r\n");
}

TEST(SettingsFileWrite, ProgramRewritingItsOwnFileChangesOnlyTheValues)
{
    auto file = SettingsFile::fromText(kFreshFile);
    StoredSettings settings = readStoredSettings(file);
    settings.left = 10;
    settings.deviceName = "Other";
    writeStoredSettings(file, settings);
    EXPECT_EQ(file.toText(),
              "[window]\r\nHeight=246\r\nWidth=345\r\nTop=159\r\nLeft=10\r\n\r\n[dev]\r\ndev_num=0\r\ngakki=Other\r\nmap=4\r\n");
}

TEST(SettingsFileWrite, MissingKeyGoesAtTheEndOfItsSection)
{
    auto file = SettingsFile::fromText("[window]\r\nHeight=1\r\n\r\n[dev]\r\nmap=7\r\n");
    file.writeInteger("window", "Width", 5);
    file.writeInteger("dev", "gakki", 6);
    EXPECT_EQ(file.toText(), "[window]\r\nHeight=1\r\nWidth=5\r\n\r\n[dev]\r\nmap=7\r\ngakki=6\r\n");
}

TEST(SettingsFileWrite, KeyGoesRightAfterAnEmptySectionsHeader)
{
    auto file = SettingsFile::fromText("[dev]\r\n\r\n[other]\r\nx=1\r\n");
    file.writeString("dev", "gakki", "S");
    EXPECT_EQ(file.toText(), "[dev]\r\ngakki=S\r\n\r\n[other]\r\nx=1\r\n");
}

TEST(SettingsFileWrite, MissingSectionGoesAtTheEndAfterABlankLine)
{
    auto file = SettingsFile::fromText("[other]\r\nx=1");
    file.writeInteger("dev", "map", 4);
    EXPECT_EQ(file.toText(), "[other]\r\nx=1\r\n\r\n[dev]\r\nmap=4\r\n");

    auto endsBlank = SettingsFile::fromText("[other]\r\nx=1\r\n\r\n");
    endsBlank.writeInteger("dev", "map", 4);
    EXPECT_EQ(endsBlank.toText(), "[other]\r\nx=1\r\n\r\n[dev]\r\nmap=4\r\n");
}

TEST(SettingsFileWrite, FirstOfDuplicateKeysIsReplaced)
{
    auto file = SettingsFile::fromText("[dev]\r\nmap=1\r\nMap=2\r\n");
    file.writeInteger("dev", "map", 9);
    EXPECT_EQ(file.toText(), "[dev]\r\nmap=9\r\nMap=2\r\n");
    EXPECT_EQ(file.readInteger("dev", "map", 0), 9);
}

TEST(SettingsFileWrite, EverythingUnknownIsKeptUntouched)
{
    const std::string_view original =
        "; written by hand\r\n"
        "stray line before any section\r\n"
        "[window]\r\n"
        "Height=1\r\n"
        "  ; Width=999\r\n"
        "colour = blue  \r\n"
        "no equals sign here\r\n"
        "\r\n"
        "[extra]\r\n"
        "Height=55\r\n"
        "[dev]\r\n"
        "gakki=old\r\n"
        "  odd  key  =  odd value  \r\n";
    auto file = SettingsFile::fromText(original);
    file.writeInteger("window", "Height", 2);
    file.writeString("dev", "gakki", "new");
    EXPECT_EQ(file.toText(),
              "; written by hand\r\n"
              "stray line before any section\r\n"
              "[window]\r\n"
              "Height=2\r\n"
              "  ; Width=999\r\n"
              "colour = blue  \r\n"
              "no equals sign here\r\n"
              "\r\n"
              "[extra]\r\n"
              "Height=55\r\n"
              "[dev]\r\n"
              "gakki=new\r\n"
              "  odd  key  =  odd value  \r\n");
}

TEST(SettingsFileWrite, LinesAreWrittenWithCrLfWhateverTheyWereReadWith)
{
    const auto file = SettingsFile::fromText("[dev]\nmap=7\n\nend");
    EXPECT_EQ(file.toText(), "[dev]\r\nmap=7\r\n\r\nend\r\n");
}

TEST(SettingsFileWrite, TextRoundTripIsStable)
{
    const std::string text(kFreshFile);
    EXPECT_EQ(SettingsFile::fromText(text).toText(), text);
    EXPECT_EQ(SettingsFile().toText(), "");
}

TEST(SettingsFileWrite, ValueWithALineBreakStaysOnOneLine)
{
    SettingsFile file;
    file.writeString("dev", "gakki", "two\r\nlines\nhere");
    file.writeInteger("dev", "map", 4);
    const auto reread = SettingsFile::fromText(file.toText());
    EXPECT_EQ(reread.readString("dev", "gakki", ""), "two  lines here");
    EXPECT_EQ(reread.readInteger("dev", "map", 0), 4);
}

TEST(SettingsFileWrite, IntegersAreWrittenInDecimal)
{
    SettingsFile file;
    file.writeInteger("s", "min", -2147483647 - 1);
    file.writeInteger("s", "max", 2147483647);
    EXPECT_EQ(file.toText(), "[s]\r\nmin=-2147483648\r\nmax=2147483647\r\n");
    EXPECT_EQ(file.readInteger("s", "min", 0), -2147483647 - 1);
}

// ---------------------------------------------------------------------------------------------
// Bad input

TEST(SettingsFileBadInput, NulBytesAndInvalidUtf8PassThroughByteForByte)
{
    using namespace std::string_literals;
    const std::string text = "[dev]\r\ngakki=Synth\xFF\xFE\0X\xC3\r\nmap=\0\r\n\0[window]\r\nHeight=5\r\n"s;
    const auto file = SettingsFile::fromText(text);
    EXPECT_EQ(file.readString("dev", "gakki", ""), "Synth\xFF\xFE\0X\xC3"s);
    EXPECT_EQ(file.readInteger("dev", "map", 4), 4);
    // A NUL in front of the bracket makes it no header.
    EXPECT_EQ(file.readInteger("window", "height", 246), 246);
    EXPECT_EQ(file.toText(), text);
}

TEST(SettingsFileBadInput, RandomBytesNeverBreakReadingOrWriting)
{
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 4000);
    for (int round = 0; round < 200; ++round) {
        std::string junk(static_cast<std::size_t>(length(random)), '\0');
        // Enough structure characters that sections and keys come up now and then.
        constexpr std::string_view structure("[]=\n\r;d\0", 8);
        for (char& c : junk) {
            const int b = byte(random);
            c = b < 24 ? structure[static_cast<std::size_t>(b) % structure.size()] : static_cast<char>(b);
        }
        auto file = SettingsFile::fromText(junk);
        (void)file.readInteger("dev", "map", 4);
        (void)file.readString("dev", "gakki", "none");
        const std::string once = file.toText();
        EXPECT_EQ(SettingsFile::fromText(once).toText(), once);

        writeStoredSettings(file, StoredSettings{});
        const StoredSettings back = readStoredSettings(SettingsFile::fromText(file.toText()));
        EXPECT_EQ(back.map, 4);
        EXPECT_EQ(back.deviceName, "none");
        EXPECT_EQ(back.height, 246);
    }
}

TEST(SettingsFileBadInput, HugeFileWithManyLinesIsReadAndWritten)
{
    // About 30 MB in a million lines, the program's sections at the far end.
    std::string text;
    text.reserve(31'000'000);
    text += "[junk]\r\n";
    for (int i = 0; i < 1'000'000; ++i) {
        text += "key";
        text += std::to_string(i);
        text += "=value value value\r\n";
    }
    text += "[window]\r\nHeight=300\r\n[dev]\r\nmap=7\r\n";
    ASSERT_GT(text.size(), 25'000'000u);

    auto file = SettingsFile::fromText(text);
    EXPECT_EQ(file.readInteger("window", "height", 0), 300);
    EXPECT_EQ(file.readInteger("junk", "key999999", 0), 0);
    EXPECT_EQ(file.readString("junk", "KEY999999", ""), "value value value");
    file.writeInteger("dev", "map", 8);
    file.writeString("dev", "gakki", "S");
    const std::string written = file.toText();
    EXPECT_EQ(written.size(), text.size() + 9);  // "map=7" -> "map=8", plus "gakki=S\r\n"
    EXPECT_TRUE(written.ends_with("[window]\r\nHeight=300\r\n[dev]\r\nmap=8\r\ngakki=S\r\n"));
}

TEST(SettingsFileBadInput, HugeSingleLineWithoutLineEnd)
{
    std::string text = "[dev]\ngakki=";
    text.append(20'000'000, 'x');
    auto file = SettingsFile::fromText(text);
    EXPECT_EQ(file.readString("dev", "gakki", "").size(), 20'000'000u);
    EXPECT_EQ(file.readInteger("dev", "gakki", 4), 4);

    const std::string noBreaks(20'000'000, '=');
    EXPECT_EQ(SettingsFile::fromText(noBreaks).readInteger("dev", "map", 4), 4);
}

TEST(SettingsFileBadInput, VeryLongValueRoundTrips)
{
    std::string value;
    for (int i = 0; value.size() < 1'000'000; ++i)
        value += "device-" + std::to_string(i) + ";";
    SettingsFile file;
    file.writeString("dev", "gakki", value);
    file.writeInteger("dev", "map", 7);
    const auto reread = SettingsFile::fromText(file.toText());
    EXPECT_EQ(reread.readString("dev", "gakki", ""), value);
    EXPECT_EQ(reread.readInteger("dev", "map", 0), 7);
}

TEST(SettingsFileBadInput, ManyLinesWithoutEqualsSign)
{
    std::string text = "[dev]\n";
    for (int i = 0; i < 100'000; ++i)
        text += "this line has no equals sign\n";
    text += "map=7\n";
    EXPECT_EQ(SettingsFile::fromText(text).readInteger("dev", "map", 0), 7);
}

// ---------------------------------------------------------------------------------------------
// The file on disk

class SettingsFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    fs::path dir() const { return fs::path(m_dir.path().toStdString()); }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir()))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    QTemporaryDir m_dir;
};

TEST_F(SettingsFileOnDisk, MissingFileIsEmpty)
{
    const auto file = SettingsFile::load(dir() / "absent.ini");
    EXPECT_EQ(file.toText(), "");
    EXPECT_EQ(readStoredSettings(file).left, 193);
}

TEST_F(SettingsFileOnDisk, DirectoryInPlaceOfTheFileIsEmpty)
{
    fs::create_directory(dir() / "vostrel.ini");
    EXPECT_EQ(SettingsFile::load(dir() / "vostrel.ini").toText(), "");
}

TEST_F(SettingsFileOnDisk, SaveWritesCrLfTextAndLoadReadsItBack)
{
    const fs::path path = dir() / "vostrel.ini";
    SettingsFile file;
    StoredSettings settings;
    settings.map = 7;
    settings.deviceName = "Synth \xE6\x97\xA5\xE6\x9C\xAC";
    writeStoredSettings(file, settings);
    ASSERT_TRUE(file.save(path));

    const std::string bytes = readBytes(path);
    EXPECT_EQ(bytes, file.toText());
    EXPECT_EQ(readStoredSettings(SettingsFile::load(path)).deviceName, settings.deviceName);
    EXPECT_EQ(readStoredSettings(SettingsFile::load(path)).map, 7);
    EXPECT_EQ(entries(), std::vector<std::string>{"vostrel.ini"});
}

TEST_F(SettingsFileOnDisk, SaveReplacesTheOldFileAndLeavesNoTemporary)
{
    const fs::path path = dir() / "vostrel.ini";
    writeBytes(path, "[dev]\nmap=1\nold=stuff that is much longer than the new text\n");
    auto file = SettingsFile::load(path);
    file.writeInteger("dev", "map", 2);
    ASSERT_TRUE(file.save(path));
    EXPECT_EQ(readBytes(path), "[dev]\r\nmap=2\r\nold=stuff that is much longer than the new text\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"vostrel.ini"});
}

TEST_F(SettingsFileOnDisk, SaveIntoAMissingDirectoryFails)
{
    EXPECT_FALSE(SettingsFile::fromText(kFreshFile).save(dir() / "no such dir" / "vostrel.ini"));
}

TEST_F(SettingsFileOnDisk, SaveOverADirectoryFailsAndLeavesItAlone)
{
    const fs::path path = dir() / "vostrel.ini";
    fs::create_directory(path);
    writeBytes(path / "inside", "kept");
    EXPECT_FALSE(SettingsFile::fromText(kFreshFile).save(path));
    EXPECT_EQ(readBytes(path / "inside"), "kept");
    EXPECT_EQ(entries(), std::vector<std::string>{"vostrel.ini"});
}

TEST_F(SettingsFileOnDisk, ReadOnlyDirectoryKeepsTheOriginalFile)
{
    const fs::path path = dir() / "vostrel.ini";
    writeBytes(path, "[dev]\r\nmap=7\r\n");
    fs::permissions(dir(), fs::perms::owner_read | fs::perms::owner_exec);
    struct RestoreWritable {
        fs::path dir;
        ~RestoreWritable() { fs::permissions(dir, fs::perms::owner_all); }
    } restore{dir()};

    // A superuser writes anywhere; then there is no failure to provoke.
    {
        std::ofstream probe(dir() / "probe");
        if (probe) {
            probe.close();
            fs::remove(dir() / "probe");
            GTEST_SKIP() << "directory permissions are not enforced for this user";
        }
    }
    EXPECT_FALSE(SettingsFile::fromText(kFreshFile).save(path));
    EXPECT_EQ(readBytes(path), "[dev]\r\nmap=7\r\n");
}

#ifdef __unix__
// Saves with the process's file-size limit lowered, so that writing fails for any user.
bool saveWithSizeLimit(const SettingsFile& file, const fs::path& path, rlim_t limit)
{
    rlimit previous{};
    if (getrlimit(RLIMIT_FSIZE, &previous) != 0)
        return true;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = limit;
    const bool limitSet = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    const bool saved = file.save(path);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    return !limitSet || saved;
}

TEST_F(SettingsFileOnDisk, FailedWriteKeepsTheOriginalFileWhole)
{
    const fs::path path = dir() / "vostrel.ini";
    const std::string original = "[dev]\r\nmap=7\r\n[foreign]\r\nkept=yes\r\n";
    // A text smaller than the file buffer fails only when it is flushed; a big one part way.
    SettingsFile small = SettingsFile::fromText(original);
    writeStoredSettings(small, StoredSettings{});
    SettingsFile big;
    big.writeString("dev", "gakki", std::string(200'000, 'x'));

    for (const SettingsFile* file : {&small, &big}) {
        writeBytes(path, original);
        EXPECT_FALSE(saveWithSizeLimit(*file, path, 16)) << file->toText().size() << " bytes";
        EXPECT_EQ(readBytes(path), original);
        EXPECT_EQ(entries(), std::vector<std::string>{"vostrel.ini"});
    }
}
#endif

TEST(SettingsPath, ExtensionIsReplacedOrAppended)
{
    EXPECT_EQ(settingsPathFor("/opt/velmora/vostrel"), fs::path("/opt/velmora/vostrel.ini"));
    EXPECT_EQ(settingsPathFor("/opt/velmora/vostrel.exe"), fs::path("/opt/velmora/vostrel.ini"));
    EXPECT_EQ(settingsPathFor("/opt/velmora.app/bin/vostrel"), fs::path("/opt/velmora.app/bin/vostrel.ini"));
    EXPECT_EQ(settingsPathFor("/opt/velmora/vostrel.bin.x86"), fs::path("/opt/velmora/vostrel.bin.ini"));
    EXPECT_EQ(settingsPathFor("C:/Program Files/Velmora/VOSTREL.EXE"), fs::path("C:/Program Files/Velmora/VOSTREL.ini"));
}

}  // namespace
}  // namespace velmora
