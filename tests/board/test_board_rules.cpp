#include "board/core/Csv.h"
#include "board/core/Names.h"
#include "board/core/Rankings.h"
#include "board/core/Statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace velmora::board {
namespace {

TEST(Names, InvisibleAndReorderingCharactersAreRemovedAndBlanksTidied)
{
    const CleanedName name = cleanName("  \u202Eal\u200Bi\u200Dce\x07 \u3000 \u2066Smith\u2069\t");
    ASSERT_TRUE(name.ok());
    EXPECT_EQ(name.shown, "alice Smith");
    EXPECT_EQ(name.key, "alice smith");
    // Markup is text to the name; the pages escape it.
    EXPECT_EQ(cleanName("<script>alert(1)</script>").shown, "<script>alert(1)</script>");
    EXPECT_EQ(cleanName("山田\u3000太郎").shown, "山田 太郎");
}

TEST(Names, NamesAreComparedAfterCompatibilityFormsAndCaseFolding)
{
    const std::string key = cleanName("alice").key;
    for (const char* same : {"ALICE", "Ａｌｉｃｅ", "ａｌｉｃｅ", " Alice ", "Al\u00ADice"})
        EXPECT_EQ(cleanName(same).key, key) << same;
    EXPECT_EQ(cleanName("Straße").key, cleanName("STRASSE").key);
    EXPECT_EQ(cleanName("ﬁsh").key, cleanName("FISH").key);
    EXPECT_EQ(cleanName("ｶﾀｶﾅ").key, cleanName("カタカナ").key);
    EXPECT_NE(cleanName("alice").key, cleanName("alicia").key);
    // Shown as typed, apart from what was removed.
    EXPECT_EQ(cleanName("Ａｌｉｃｅ").shown, "Ａｌｉｃｅ");
}

TEST(Names, RefusesEmptyOverlongAndNonTextNames)
{
    EXPECT_EQ(cleanName("").problem, NameProblem::Empty);
    EXPECT_EQ(cleanName(" \u200B\u200E\u3000\r\n").problem, NameProblem::Empty);
    EXPECT_EQ(cleanName("\u3164\u115F\uFE0F").problem, NameProblem::Empty);  // Hangul fillers, a variation selector
    EXPECT_EQ(cleanName("a\xFF").problem, NameProblem::NotText);
    EXPECT_EQ(cleanName("\xED\xA0\x80").problem, NameProblem::NotText);
    std::string forty;
    for (int i = 0; i < kMaxNameLength; ++i)
        forty += "音";
    EXPECT_TRUE(cleanName(forty).ok());
    EXPECT_EQ(cleanName(forty + "x").problem, NameProblem::TooLong);
    // Removed characters do not count.
    EXPECT_TRUE(cleanName(forty + "\u200B\u200B").ok());
}

Post post(std::int64_t id, int score, std::int64_t postedAt = 0)
{
    Post p;
    p.id = id;
    p.score = score;
    p.postedAt = postedAt ? postedAt : id * 1000;
    return p;
}

TEST(Statistics, AveragesTheMissPerPitchClassOverTheLastTwentyPosts)
{
    std::vector<Post> posts;
    for (int i = 0; i < 25; ++i) {
        Post p = post(i + 1, 90);
        p.exact.fill(10);
        p.user.fill(10);
        p.user[0] = 10 - 4;                                  // C always 4 flat
        p.user[6] = 10 + (i < 5 ? 60 : (i % 2 ? 3 : 1));     // F# sharp, wildly so in the oldest five
        p.user[11] = 10 + (i % 2 ? 5 : -5);                  // B either way
        posts.push_back(p);
    }
    const MissProfile profile = missProfile(posts);
    EXPECT_EQ(profile.posts, 20u);
    EXPECT_DOUBLE_EQ(profile.pitchClasses[0].signedCents, -4);
    EXPECT_DOUBLE_EQ(profile.pitchClasses[0].absoluteCents, 4);
    EXPECT_DOUBLE_EQ(profile.pitchClasses[6].signedCents, 2);
    EXPECT_DOUBLE_EQ(profile.pitchClasses[6].absoluteCents, 2);
    EXPECT_DOUBLE_EQ(profile.pitchClasses[11].signedCents, 0);
    EXPECT_DOUBLE_EQ(profile.pitchClasses[11].absoluteCents, 5);
    EXPECT_DOUBLE_EQ(profile.pitchClasses[3].absoluteCents, 0);

    const MissProfile few = missProfile(std::span<const Post>(posts).first(3));
    EXPECT_EQ(few.posts, 3u);
    EXPECT_DOUBLE_EQ(few.pitchClasses[6].signedCents, 60);
    EXPECT_EQ(missProfile({}).posts, 0u);
}

TEST(Statistics, FirstBestAndLastWithTiesToTheEarlierPost)
{
    const std::vector<Post> posts{post(1, 40), post(2, 87), post(3, 60), post(4, 87), post(5, 12)};
    const NameSummary summary = summarize(posts, {3, 0, 2});
    EXPECT_EQ(summary.postCount, 5);
    EXPECT_EQ(summary.first->id, 1);
    EXPECT_EQ(summary.best->id, 2);
    EXPECT_EQ(summary.last->id, 5);
    ASSERT_EQ(summary.scores.size(), 3u);
    EXPECT_EQ(summary.scores.front().id, 3);
    EXPECT_EQ(summary.scores.back().score, 12);
    EXPECT_EQ(summary.miss.posts, 5u);
    // The table goes back two posts a page, newest first, to the first post and no further.
    std::vector<std::int64_t> pages;
    for (std::int64_t before = 0;;) {
        const NameSummary page = summarize(posts, {3, before, 2});
        for (const Post& post : page.page)
            pages.push_back(post.id);
        if (page.olderBefore == 0)
            break;
        before = page.olderBefore;
    }
    EXPECT_EQ(pages, (std::vector<std::int64_t>{5, 4, 3, 2, 1}));
    EXPECT_FALSE(summarize({}, {}).best.has_value());
}

RankingRow row(std::int64_t id, const std::string& key, int score, std::int64_t postedAt = 0)
{
    return {id, key + "-shown", key, score, postedAt ? postedAt : id * 1000};
}

TEST(Rankings, BestScorePerNameWithTiesToTheEarlierPost)
{
    const std::vector<RankingRow> rows{row(1, "ann", 70), row(2, "bob", 90), row(3, "ann", 95),
                                       row(4, "cy", 95),  row(5, "bob", 60), row(6, "ann", 95)};
    const Ranking ranking = rank({2, true}, rows, 10);
    EXPECT_EQ(ranking.group, (RankingGroup{2, true}));
    ASSERT_EQ(ranking.best.size(), 3u);
    EXPECT_EQ(ranking.best[0].post.postId, 3);  // ann reached 95 before cy did, and before her own post 6
    EXPECT_EQ(ranking.best[1].post.postId, 4);
    EXPECT_EQ(ranking.best[2].post.postId, 2);
    EXPECT_EQ(ranking.best[2].post.name, "bob-shown");
    EXPECT_TRUE(ranking.median.empty());  // nobody has five posts
    EXPECT_EQ(rank({2, true}, rows, 2).best.size(), 2u);
}

TEST(Rankings, MedianOfTheLastFivePostsForNamesWithFive)
{
    std::vector<RankingRow> rows;
    std::int64_t id = 0;
    // ann: an old 10, then her last five 80 90 20 70 60: median 70, reached with post 7.
    for (int score : {10, 50, 80, 90, 20, 70, 60})
        rows.push_back(row(++id, "ann", score));
    // bob: exactly five, median 70 too, reached later: ann ranks first.
    for (int score : {70, 70, 70, 10, 100})
        rows.push_back(row(++id, "bob", score));
    // cy: four posts only.
    for (int score : {100, 100, 100, 100})
        rows.push_back(row(++id, "cy", score));
    // dee: five posts, median 40, all posted before anyone else (times given out of id order).
    for (int score : {40, 40, 40, 40, 40}) {
        ++id;
        rows.push_back(row(id, "dee", score, id));
    }
    const Ranking ranking = rank({0, false}, rows, 10);
    ASSERT_EQ(ranking.median.size(), 3u);
    EXPECT_EQ(ranking.median[0].nameKey, "ann");
    EXPECT_EQ(ranking.median[0].median, 70);
    EXPECT_EQ(ranking.median[0].lastPostId, 7);
    EXPECT_EQ(ranking.median[1].nameKey, "bob");
    EXPECT_EQ(ranking.median[1].median, 70);
    EXPECT_EQ(ranking.median[2].nameKey, "dee");
    EXPECT_EQ(ranking.median[2].median, 40);

    // Rows given in any order, and with the older ones left out, rank the same.
    std::vector<RankingRow> shuffled(rows.rbegin(), rows.rend());
    shuffled.erase(std::remove_if(shuffled.begin(), shuffled.end(), [](const RankingRow& r) { return r.postId == 1; }),
                   shuffled.end());
    const Ranking again = rank({0, false}, shuffled, 10);
    ASSERT_EQ(again.median.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(again.median[i].nameKey, ranking.median[i].nameKey);
    // Best: bob's 100 came before cy's.
    ASSERT_EQ(ranking.best.size(), 4u);
    EXPECT_EQ(ranking.best[0].post.postId, 12);
    EXPECT_EQ(ranking.best[1].post.nameKey, "cy");
    EXPECT_EQ(rank({0, false}, rows, 1).median.size(), 1u);
}

TEST(Csv, QuotesWhatMustBeQuotedAndDisarmsFormulas)
{
    EXPECT_EQ(csvCell("plain"), "plain");
    EXPECT_EQ(csvCell("a,b"), "\"a,b\"");
    EXPECT_EQ(csvCell("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvCell("two\r\nlines"), "\"two\r\nlines\"");

    Post p = post(42, -20, 1'765'000'000'000);
    p.name = "=HYPERLINK(\"x\")";
    p.edition = Edition::English;
    p.levelIndex = 3;
    p.referenceUsed = true;
    p.device = "Synth, port 1";
    p.instrument = "Acoustic Grand Piano";
    p.startText = "12/8/26 10:00:00 AM";
    p.user.fill(-10);
    p.exact.fill(20);
    const std::string row = csvRow(p);
    EXPECT_TRUE(row.starts_with("42,2025-12-06T05:46:40Z,\"'=HYPERLINK(\"\"x\"\")\",en,10,used,-20,12/8/26 10:00:00 AM,"))
        << row;
    EXPECT_NE(row.find(",\"Synth, port 1\",Acoustic Grand Piano,-10,"), std::string::npos);
    EXPECT_TRUE(row.ends_with(",20,20\r\n"));
    // As many columns in every row as in the header.
    auto columns = [](const std::string& line) {
        int count = 1;
        bool quoted = false;
        for (char c : line) {
            quoted ^= c == '"';
            count += !quoted && c == ',';
        }
        return count;
    };
    EXPECT_EQ(columns(csvHeader()), 12 + 24);
    EXPECT_EQ(columns(row), columns(csvHeader()));
    EXPECT_NE(csvHeader().find(",yours_C#,"), std::string::npos);
    p.name = "-kun";
    EXPECT_NE(csvRow(p).find(",'-kun,"), std::string::npos);
}

}  // namespace
}  // namespace velmora::board
