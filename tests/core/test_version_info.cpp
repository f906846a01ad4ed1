#include "editions/Catalogue.h"
#include "editions/VersionInfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

velmora::VersionInfo committed(const char* edition)
{
    const std::string text = readFile(std::string(VELMORA_SOURCE_DIR "/resources/") + edition + "/version.ini");
    const std::optional<velmora::VersionInfo> info = velmora::parseVersionInfo(text);
    if (!info)
        ADD_FAILURE() << edition << "/version.ini does not parse";
    return info.value_or(velmora::VersionInfo{});
}

const std::string kValid = "[Version]\n"
                           "FileVersion=1.3.4.19\n"
                           "ProductVersion=1.0.0.0\n"
                           "Language=0x0411\n"
                           "CodePage=932\n"
                           "[StringFileInfo\\041103A4]\n"
                           "FileVersion=1.3.4.19\n"
                           "Comments=\n";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

void expectStandardStrings(const velmora::VersionInfo& info)
{
    for (const char* key : {"CompanyName", "FileDescription", "InternalName", "LegalCopyright", "LegalTrademarks",
                            "OriginalFilename", "ProductName", "Comments"}) {
        const auto it = info.strings.find(key);
        ASSERT_NE(it, info.strings.end()) << key;
        EXPECT_EQ(it->second, "") << key;
    }
    EXPECT_EQ(info.strings.size(), 10u);
    EXPECT_EQ(info.strings.at("FileVersion"), velmora::dottedVersion(info.fileVersion));
    EXPECT_EQ(info.strings.at("ProductVersion"), "1.0.0.0");
}

}  // namespace

TEST(VersionResource, JapaneseEditionIs1_3_4_19InCodePage932)
{
    const velmora::VersionInfo info = committed("japanese");
    EXPECT_EQ(info.fileVersion, (velmora::VersionNumber{1, 3, 4, 19}));
    EXPECT_EQ(info.productVersion, (velmora::VersionNumber{1, 0, 0, 0}));
    EXPECT_EQ(info.language, 0x0411);
    EXPECT_EQ(info.codePage, 932);
    EXPECT_EQ(info.stringBlock, "041103A4");
    expectStandardStrings(info);
}

TEST(VersionResource, EnglishEditionIs1_3_4_8InCodePage1252)
{
    const velmora::VersionInfo info = committed("english");
    EXPECT_EQ(info.fileVersion, (velmora::VersionNumber{1, 3, 4, 8}));
    EXPECT_EQ(info.productVersion, (velmora::VersionNumber{1, 0, 0, 0}));
    EXPECT_EQ(info.language, 0x0409);
    EXPECT_EQ(info.codePage, 1252);
    EXPECT_EQ(info.stringBlock, "040904E4");
    expectStandardStrings(info);
}

TEST(VersionResource, BothEditionsShowVersion1_34ThoughTheirFileVersionsDiffer)
{
    const velmora::VersionInfo japanese = committed("japanese");
    const velmora::VersionInfo english = committed("english");
    EXPECT_NE(japanese.fileVersion, english.fileVersion);
    EXPECT_EQ(velmora::shownVersion(japanese.fileVersion), "1.34");
    EXPECT_EQ(velmora::shownVersion(english.fileVersion), "1.34");
    for (velmora::Edition edition : {velmora::Edition::Japanese, velmora::Edition::English}) {
        const std::string_view label = velmora::text(edition, velmora::TextKey::Form1Label1Caption);
        EXPECT_TRUE(label.starts_with("Velmora Version " + velmora::shownVersion(japanese.fileVersion))) << label;
    }
}

TEST(VersionInfoParser, ReadsWindowsLineEndsCommentsAndSpacesAndSkipsOtherSections)
{
    std::string text = "; note\r\n[Other]\r\nFileVersion=9.9.9.9\r\n";
    for (char c : kValid) {
        if (c == '\n')
            text += "  \r\n";
        else
            text += c;
    }
    text = replaced(text, "Comments=", "  Comments =  see above ");
    const std::optional<velmora::VersionInfo> info = velmora::parseVersionInfo(text);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->fileVersion, (velmora::VersionNumber{1, 3, 4, 19}));
    EXPECT_EQ(info->strings.at("Comments"), "see above");
    EXPECT_EQ(info->strings.size(), 2u);
}

TEST(VersionInfoParser, RejectsMissingOrMalformedValues)
{
    ASSERT_TRUE(velmora::parseVersionInfo(kValid).has_value());
    EXPECT_FALSE(velmora::parseVersionInfo("").has_value());
    for (const char* badVersion : {"1.3.4", "1.3.4.19.1", "1.3.x.19", "1.3.4.70000", "1..4.19", ""})
        EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "FileVersion=1.3.4.19\nProduct",
                                                        std::string("FileVersion=") + badVersion + "\nProduct"))
                         .has_value())
            << badVersion;
    EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "CodePage=932\n", "")).has_value());
    EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "0x0411", "0x10411")).has_value());
    EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "Comments=", "Comments")).has_value());
    EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "[Version]", "[Version")).has_value());
}

TEST(VersionInfoParser, StringBlockMustNameTheLanguageAndCodePage)
{
    EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "CodePage=932", "CodePage=1252")).has_value());
    EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "\\041103A4", "\\040904E4")).has_value());
    EXPECT_FALSE(velmora::parseVersionInfo(replaced(kValid, "[StringFileInfo\\041103A4]\n", "")).has_value());
    const std::optional<velmora::VersionInfo> english = velmora::parseVersionInfo(
        replaced(replaced(replaced(kValid, "0x0411", "0x0409"), "932", "1252"), "041103A4", "040904E4"));
    ASSERT_TRUE(english.has_value());
    EXPECT_EQ(english->stringBlock, "040904E4");
}
