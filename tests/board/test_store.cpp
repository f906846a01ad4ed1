// The store through its interface, on SQLite always and on PostgreSQL when VELMORA_TEST_PG
// names a database (postgresql://user@host:port/db or ?host=/socket/folder); each PostgreSQL
// test works in a schema of its own, dropped afterwards.
#include "board/store/Store.h"

#include "exercise/Report.h"
#include "exercise/Scoring.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

namespace velmora::board {
namespace {

using exercise::ParsedReport;

// A real report, made by the program's builder and read back by the parser.
ParsedReport makeReport(std::mt19937& random, int levelIndex, bool referenceUsed, int wantedScore = 1000)
{
    const exercise::Level& level = exercise::kLevels[std::size_t(levelIndex)];
    exercise::ReportValues values;
    std::array<int, exercise::kPitchClasses> user{}, exact{};
    for (std::size_t i = 0; i < exercise::kPitchClasses; ++i) {
        exact[i] = -level.offsetForDraw(std::uniform_int_distribution<int>(0, level.drawRange - 1)(random));
        user[i] = wantedScore <= 100 ? exact[i] : std::uniform_int_distribution<int>(level.minimum, level.maximum)(random) * level.step;
    }
    if (wantedScore <= 100) {
        // Miss by whole steps on as many classes as it takes to land on the wanted score.
        int miss = 100 - wantedScore;
        for (std::size_t i = 0; miss > 0; i = (i + 1) % exercise::kPitchClasses) {
            const int step = std::min(miss / level.step, 1) * level.step;
            if (step == 0)
                break;
            if (user[i] + step <= level.maximum * level.step) {
                user[i] += step;
                miss -= step;
            }
        }
    }
    for (std::size_t i = 0; i < exercise::kPitchClasses; ++i) {
        values.user[i] = exercise::fieldText(user[i]);
        values.exact[i] = exercise::fieldText(exact[i]);
    }
    values.score = exercise::fieldText(exercise::computeScore(user, exact));
    values.device = "Synth input port (128:0)";
    values.instrument = "Acoustic Grand Piano";
    values.difficultyIndex = levelIndex;
    values.referenceUsed = referenceUsed;
    values.startTime = 46364.4 + std::uniform_real_distribution<double>(0, 1)(random);
    values.endTime = values.startTime + 0.003;
    const auto& format = exercise::usualReportDateFormats()[1];
    const exercise::ParseResult parsed =
        exercise::parseReports(exercise::joinCrLf(exercise::buildReportLines(Edition::Japanese, values, format.formats,
                                                                             format.locale)));
    EXPECT_TRUE(parsed.ok());
    return parsed.reports.at(0);
}

class StoreTest : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        if (GetParam() == "sqlite") {
            ASSERT_TRUE(m_folder.isValid());
            m_connection = QDir(m_folder.path()).filePath("board.sqlite").toStdString();
            return;
        }
        const char* pg = std::getenv("VELMORA_TEST_PG");
        if (!pg || !*pg)
            GTEST_SKIP() << "VELMORA_TEST_PG names no PostgreSQL database";
        // A schema of this test's own, found through the connection's search path.
        m_schema = "t_" + QUuid::createUuid().toString(QUuid::Id128).left(16).toStdString();
        QUrl url(QString::fromUtf8(pg));
        m_admin = adminConnection(url);
        ASSERT_TRUE(m_admin.isOpen()) << m_admin.lastError().text().toStdString();
        QSqlQuery quiet(m_admin);
        quiet.exec(QStringLiteral("SET client_min_messages = warning"));
        QSqlQuery create(m_admin);
        ASSERT_TRUE(create.exec(QStringLiteral("CREATE SCHEMA %1").arg(QString::fromStdString(m_schema))))
            << create.lastError().text().toStdString();
        QUrlQuery query(url);
        query.addQueryItem(QStringLiteral("options"), QStringLiteral("-csearch_path=%1").arg(QString::fromStdString(m_schema)));
        url.setQuery(query);
        m_connection = url.toString(QUrl::FullyEncoded).toStdString();
    }

    void TearDown() override
    {
        m_stores.clear();
        if (m_admin.isOpen()) {
            QSqlQuery drop(m_admin);
            drop.exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(QString::fromStdString(m_schema)));
            m_admin.close();
        }
        m_admin = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("store-test-admin"));
    }

    static QSqlDatabase adminConnection(const QUrl& url)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("store-test-admin"));
        const QUrlQuery query(url);
        db.setHostName(query.hasQueryItem("host") ? query.queryItemValue("host") : url.host());
        if (url.port() > 0)
            db.setPort(url.port());
        if (query.hasQueryItem("port"))
            db.setPort(query.queryItemValue("port").toInt());
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setDatabaseName(url.path().mid(1));
        db.open();
        return db;
    }

    std::shared_ptr<Store> open(const std::string& addressKey = {})
    {
        StoreOptions options;
        options.connection = m_connection;
        options.addressKey = addressKey;
        options.clock = [this] { return m_now.load(); };
        OpenResult opened = Store::open(options);
        EXPECT_TRUE(opened.store) << opened.error;
        if (opened.store)
            m_stores.push_back(opened.store);
        return opened.store;
    }

    QTemporaryDir m_folder;
    std::string m_connection;
    std::string m_schema;
    QSqlDatabase m_admin;
    std::atomic<std::int64_t> m_now{1'765'000'000'000};
    std::vector<std::shared_ptr<Store>> m_stores;
    std::mt19937 m_random{99};
};

TEST_P(StoreTest, MigratesOnceAndKeepsPostsAcrossOpens)
{
    const CleanedName name = cleanName("Alice");
    const ParsedReport report = makeReport(m_random, 2, true);
    std::int64_t id = 0;
    {
        const auto store = open();
        ASSERT_TRUE(store);
        EXPECT_EQ(store->backendName(), GetParam());
        EXPECT_EQ(store->schemaVersion(), 5);
        id = store->addPosts(name, std::span(&report, 1), "").at(0).id;
        m_stores.clear();
    }
    const auto again = open();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->schemaVersion(), 5);
    EXPECT_EQ(again->postCount(), 1);
    const std::optional<Post> post = again->post(id);
    ASSERT_TRUE(post);
    EXPECT_EQ(post->name, "Alice");
    EXPECT_EQ(post->nameKey, "alice");
    EXPECT_EQ(post->reportText, report.text);
    EXPECT_EQ(post->user, report.user);
    EXPECT_EQ(post->exact, report.exact);
    EXPECT_EQ(post->score, report.score);
    EXPECT_EQ(post->levelIndex, 2);
    EXPECT_TRUE(post->referenceUsed);
    EXPECT_EQ(post->edition, Edition::Japanese);
    EXPECT_EQ(post->startText, report.startText);
    EXPECT_EQ(post->postedAt, m_now.load());
    EXPECT_FALSE(post->deletable);
}

TEST_P(StoreTest, TextsComeBackExactlyAsWrittenWhateverTheyHold)
{
    const auto store = open();
    ASSERT_TRUE(store);
    ParsedReport report = makeReport(m_random, 1, false);
    const std::string awkward = "O'Brien \\' \\x41 ''; DROP TABLE posts; -- ? $1 $$ \u3000 \xF0\x9F\x8E\xB9";
    report.device = awkward;
    report.instrument = "\\";
    report.text = report.text + awkward;
    const CleanedName name = cleanName("Ann O'Neil \\ ?");
    ASSERT_TRUE(name.ok());
    const std::int64_t id = store->addPosts(name, std::span(&report, 1), "pass'word\\")[0].id;
    const std::optional<Post> post = store->post(id);
    ASSERT_TRUE(post);
    EXPECT_EQ(post->device, awkward);
    EXPECT_EQ(post->instrument, "\\");
    EXPECT_EQ(post->reportText, report.text);
    EXPECT_EQ(post->name, name.shown);
    EXPECT_EQ(store->nameSummary(name.key, {}).postCount, 1);
    EXPECT_EQ(store->hit("post", awkward, 5, 60).count, 1);
    const BoardState before = store->boardState();
    EXPECT_EQ(store->deletePost(id, "pass'word\\"), DeleteOutcome::Deleted);
    EXPECT_EQ(store->postCount(), 0);
    // A copy of a board page drawn before the deletion no longer passes for the board.
    EXPECT_NE(store->boardState().version, before.version);
    EXPECT_EQ(store->boardState().posts, 0);
}

TEST_P(StoreTest, AReportIsPostedOncePerNameKey)
{
    const auto store = open();
    ASSERT_TRUE(store);
    const ParsedReport first = makeReport(m_random, 0, false);
    const ParsedReport second = makeReport(m_random, 3, true);
    // The clipboard after two presses of the copy button and a new exercise: first, first, second.
    const std::vector<ParsedReport> paste{first, first, second};
    const std::vector<AddedPost> added = store->addPosts(cleanName("Bob"), paste, "");
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(added[0].outcome, PostOutcome::Added);
    EXPECT_EQ(added[1].outcome, PostOutcome::AlreadyPosted);
    EXPECT_EQ(added[1].id, added[0].id);
    EXPECT_EQ(added[2].outcome, PostOutcome::Added);
    EXPECT_NE(added[2].id, added[0].id);
    // The next paste carries them again, under the name written otherwise, with a third.
    const ParsedReport third = makeReport(m_random, 1, false);
    const std::vector<ParsedReport> later{first, second, third};
    const std::vector<AddedPost> again = store->addPosts(cleanName(" ＢＯＢ "), later, "");
    EXPECT_EQ(again[0].outcome, PostOutcome::AlreadyPosted);
    EXPECT_EQ(again[0].id, added[0].id);
    EXPECT_EQ(again[1].id, added[2].id);
    EXPECT_EQ(again[2].outcome, PostOutcome::Added);
    // Another name may post the same report.
    EXPECT_EQ(store->addPosts(cleanName("Carol"), std::span(&first, 1), "")[0].outcome, PostOutcome::Added);
    EXPECT_EQ(store->postCount(), 4);
}

TEST_P(StoreTest, BoardPagesNewestFirst)
{
    const auto store = open();
    ASSERT_TRUE(store);
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 7; ++i) {
        const ParsedReport report = makeReport(m_random, i % 4, i % 2 == 0);
        ids.push_back(store->addPosts(cleanName("p" + std::to_string(i)), std::span(&report, 1), "")[0].id);
        m_now += 1000;
    }
    std::vector<std::int64_t> seen;
    std::int64_t before = 0;
    for (int page = 0; page < 4; ++page) {
        const std::vector<Post> posts = store->boardPage(before, 3).posts;
        for (const Post& post : posts)
            seen.push_back(post.id);
        if (posts.empty())
            break;
        before = posts.back().id;
    }
    EXPECT_EQ(seen, std::vector<std::int64_t>(ids.rbegin(), ids.rend()));
    const BoardPage newest = store->boardPage(0, 3);
    ASSERT_FALSE(newest.posts.empty());
    EXPECT_EQ(newest.posts.front().name, "p6");
    EXPECT_EQ(newest.state.posts, 7);
    EXPECT_EQ(store->postCount(), 7);
    // Every post moves the version; a paste that adds nothing leaves it.
    const ParsedReport again = makeReport(m_random, 0, false);
    store->addPosts(cleanName("p7"), std::span(&again, 1), "");
    const BoardState after = store->boardState();
    EXPECT_GT(after.version, newest.state.version);
    store->addPosts(cleanName("p7"), std::span(&again, 1), "");
    EXPECT_EQ(store->boardState().version, after.version);
    EXPECT_FALSE(store->post(ids.back() + 100));
}

TEST_P(StoreTest, NameSummaryAndRankingsFromTheStoreAgreeWithTheRules)
{
    const auto store = open();
    ASSERT_TRUE(store);
    // Three names in one group (1-cent steps, no reference tone), one post elsewhere; scores
    // chosen so that ties happen.
    const std::vector<std::pair<std::string, int>> plan{
        {"ann", 80}, {"bob", 90}, {"ann", 95}, {"cy", 95}, {"ann", 70}, {"bob", 90}, {"ann", 60},
        {"ann", 85}, {"bob", 40}, {"bob", 90}, {"bob", 75}, {"ann", 95}, {"cy", 20}};
    std::vector<Post> all;
    for (const auto& [who, score] : plan) {
        const ParsedReport report = makeReport(m_random, 0, false, score);
        ASSERT_EQ(report.score, score);
        store->addPosts(cleanName(who), std::span(&report, 1), "");
        m_now += 60'000;
    }
    const ParsedReport elsewhere = makeReport(m_random, 0, true, 100);
    store->addPosts(cleanName("ann"), std::span(&elsewhere, 1), "");
    store->exportPosts(std::nullopt, [&](const Post& post) {
        all.push_back(post);
        return true;
    });
    ASSERT_EQ(all.size(), plan.size() + 1);

    std::vector<Post> anns;
    for (const Post& post : all)
        if (post.nameKey == "ann")
            anns.push_back(post);
    const NameSummary fromStore = store->nameSummary("ann", {3, 0, 2});
    const NameSummary expected = summarize(anns, {3, 0, 2});
    EXPECT_EQ(fromStore.postCount, 7);
    EXPECT_EQ(fromStore.first->id, expected.first->id);
    EXPECT_EQ(fromStore.best->id, expected.best->id);
    EXPECT_EQ(fromStore.best->score, 100);
    EXPECT_EQ(fromStore.last->id, expected.last->id);
    ASSERT_EQ(fromStore.scores.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fromStore.scores[i].id, expected.scores[i].id);
        EXPECT_EQ(fromStore.scores[i].score, expected.scores[i].score);
    }
    for (int pitchClass = 0; pitchClass < exercise::kPitchClasses; ++pitchClass)
        EXPECT_DOUBLE_EQ(fromStore.miss.pitchClasses[std::size_t(pitchClass)].signedCents,
                         expected.miss.pitchClasses[std::size_t(pitchClass)].signedCents);
    // The table's pages, followed to the end, hold every post of the name once, newest first.
    std::vector<std::int64_t> paged;
    std::vector<std::int64_t> expectedPaged;
    for (NameQuery query{3, 0, 2};;) {
        const NameSummary page = store->nameSummary("ann", query);
        const NameSummary reference = summarize(anns, query);
        for (const Post& post : page.page)
            paged.push_back(post.id);
        for (const Post& post : reference.page)
            expectedPaged.push_back(post.id);
        EXPECT_EQ(page.olderBefore, reference.olderBefore);
        if (page.olderBefore == 0 || paged.size() > anns.size())
            break;
        query.beforeId = page.olderBefore;
    }
    EXPECT_EQ(paged.size(), anns.size());
    EXPECT_EQ(paged, expectedPaged);
    EXPECT_EQ(store->nameSummary("nobody", {}).postCount, 0);

    const RankingGroup group{0, false};
    std::vector<RankingRow> everyRow;
    for (const Post& post : all)
        if (post.levelIndex == 0 && !post.referenceUsed)
            everyRow.push_back({post.id, post.name, post.nameKey, post.score, post.postedAt});
    const std::vector<RankingRow> storeRows = store->rankingRows(group);
    EXPECT_LT(storeRows.size(), everyRow.size());  // not every post is needed
    const Ranking fromRows = rank(group, storeRows, 10);
    const Ranking fromAll = rank(group, everyRow, 10);
    ASSERT_EQ(fromRows.best.size(), 3u);
    ASSERT_EQ(fromRows.median.size(), fromAll.median.size());
    for (std::size_t i = 0; i < fromAll.best.size(); ++i)
        EXPECT_EQ(fromRows.best[i].post.postId, fromAll.best[i].post.postId);
    for (std::size_t i = 0; i < fromAll.median.size(); ++i) {
        EXPECT_EQ(fromRows.median[i].nameKey, fromAll.median[i].nameKey);
        EXPECT_EQ(fromRows.median[i].median, fromAll.median[i].median);
    }
    // ann's 95 came before cy's; ann's last five (95 70 60 85 95) give 85, bob's (90 90 40 90 75) 90.
    EXPECT_EQ(fromRows.best[0].post.nameKey, "ann");
    EXPECT_EQ(fromRows.best[1].post.nameKey, "cy");
    ASSERT_EQ(fromRows.median.size(), 2u);
    EXPECT_EQ(fromRows.median[0].nameKey, "bob");
    EXPECT_EQ(fromRows.median[0].median, 90);
    EXPECT_EQ(fromRows.median[1].median, 85);

    // The first names of each list, from the standings kept with the posts, as from every post.
    auto expectSameHead = [&](std::size_t limit) {
        const Ranking head = rank(group, store->rankingRows(group, limit), limit);
        const Ranking full = rank(group, store->rankingRows(group), 100);
        ASSERT_EQ(head.best.size(), std::min(limit, full.best.size())) << limit;
        ASSERT_EQ(head.median.size(), std::min(limit, full.median.size())) << limit;
        for (std::size_t i = 0; i < head.best.size(); ++i)
            EXPECT_EQ(head.best[i].post.postId, full.best[i].post.postId) << limit << " " << i;
        for (std::size_t i = 0; i < head.median.size(); ++i) {
            EXPECT_EQ(head.median[i].nameKey, full.median[i].nameKey) << limit << " " << i;
            EXPECT_EQ(head.median[i].median, full.median[i].median) << limit << " " << i;
        }
    };
    for (std::size_t limit : {1, 2, 3, 10})
        expectSameHead(limit);
    // A new best and a median that moves, then the best taken back: the standings follow.
    const ParsedReport top = makeReport(m_random, 0, false, 100);
    const std::int64_t topId = store->addPosts(cleanName("CY"), std::span(&top, 1), "pw")[0].id;
    EXPECT_EQ(rank(group, store->rankingRows(group, 1), 1).best.at(0).post.postId, topId);
    for (int score : {100, 100, 100}) {
        const ParsedReport more = makeReport(m_random, 0, false, score);
        store->addPosts(cleanName("cy"), std::span(&more, 1), "");
    }
    EXPECT_EQ(rank(group, store->rankingRows(group, 1), 1).median.at(0).nameKey, "cy");
    expectSameHead(2);
    EXPECT_EQ(store->deletePost(topId, "pw"), DeleteOutcome::Deleted);
    EXPECT_NE(rank(group, store->rankingRows(group, 1), 1).best.at(0).post.postId, topId);
    expectSameHead(1);
    expectSameHead(10);
}

TEST_P(StoreTest, DeletesOnlyWithThePassword)
{
    const auto store = open();
    ASSERT_TRUE(store);
    const ParsedReport report = makeReport(m_random, 1, false);
    const std::int64_t id = store->addPosts(cleanName("Dee"), std::span(&report, 1), "correct horse")[0].id;
    const ParsedReport other = makeReport(m_random, 1, false);
    const std::int64_t undeletable = store->addPosts(cleanName("Dee"), std::span(&other, 1), "")[0].id;
    EXPECT_TRUE(store->post(id)->deletable);
    EXPECT_EQ(store->deletePost(id, "wrong horse"), DeleteOutcome::WrongPassword);
    EXPECT_EQ(store->deletePost(id, ""), DeleteOutcome::WrongPassword);
    EXPECT_EQ(store->deletePost(undeletable, "anything"), DeleteOutcome::NoPassword);
    EXPECT_EQ(store->postCount(), 2);
    EXPECT_EQ(store->deletePost(id, "correct horse"), DeleteOutcome::Deleted);
    EXPECT_FALSE(store->post(id));
    EXPECT_EQ(store->postCount(), 1);
    EXPECT_EQ(store->deletePost(id, "correct horse"), DeleteOutcome::NotFound);
    // Once deleted it may be posted again, as a new post.
    const AddedPost again = store->addPosts(cleanName("Dee"), std::span(&report, 1), "")[0];
    EXPECT_EQ(again.outcome, PostOutcome::Added);
    EXPECT_GT(again.id, id);
}

TEST_P(StoreTest, RateLimitsAreCountedInTheDatabaseForEveryServer)
{
    const auto one = open();
    const auto two = open();  // a second server on the same database
    ASSERT_TRUE(one && two);
    const std::string address = "203.0.113.77";
    for (int i = 1; i <= 4; ++i) {
        const RateDecision decision = (i % 2 ? one : two)->hit("post", address, 4, 60);
        EXPECT_TRUE(decision.allowed) << i;
        EXPECT_EQ(decision.count, i);
    }
    const RateDecision refused = one->hit("post", address, 4, 60);
    EXPECT_FALSE(refused.allowed);
    EXPECT_GT(refused.retryAfterSeconds, 0);
    EXPECT_LE(refused.retryAfterSeconds, 60);
    EXPECT_TRUE(two->hit("post", "198.51.100.1", 4, 60).allowed);
    EXPECT_TRUE(two->hit("page", address, 4, 60).allowed);
    m_now += 60'000;
    EXPECT_EQ(two->hit("post", address, 4, 60).count, 1);

    if (GetParam() == "sqlite") {
        // The address is nowhere in the database's files, only its keyed hash.
        m_stores.clear();
        for (const QString& file : QDir(m_folder.path()).entryList(QDir::Files)) {
            QFile content(QDir(m_folder.path()).filePath(file));
            ASSERT_TRUE(content.open(QIODevice::ReadOnly));
            EXPECT_FALSE(content.readAll().contains("203.0.113.77")) << file.toStdString();
        }
    }
}

TEST_P(StoreTest, AnAddressKeyGivenByFlagCountsApartFromTheKeptOne)
{
    const auto kept = open();
    const auto flagged = open("a secret from the command line");
    ASSERT_TRUE(kept && flagged);
    EXPECT_EQ(kept->hit("post", "192.0.2.5", 10, 60).count, 1);
    EXPECT_EQ(flagged->hit("post", "192.0.2.5", 10, 60).count, 1);
    EXPECT_EQ(kept->hit("post", "192.0.2.5", 10, 60).count, 2);
}

TEST_P(StoreTest, PostsFromManyThreadsAtOnceAreAllKept)
{
    const auto store = open();
    ASSERT_TRUE(store);
    constexpr int kThreads = 4, kEach = 8;
    std::vector<std::vector<ParsedReport>> reports(kThreads);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kEach; ++i)
            reports[std::size_t(t)].push_back(makeReport(m_random, i % 4, false));
    std::atomic<int> acknowledged{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (const ParsedReport& report : reports[std::size_t(t)]) {
                try {
                    if (store->addPosts(cleanName("thread " + std::to_string(t)), std::span(&report, 1), "")[0].outcome ==
                        PostOutcome::Added)
                        ++acknowledged;
                    store->boardPage(0, 5);
                } catch (const std::exception& error) {
                    ++failures;
                    ADD_FAILURE() << error.what();
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(acknowledged.load(), kThreads * kEach);
    EXPECT_EQ(store->postCount(), kThreads * kEach);
    int exported = 0;
    store->exportPosts(std::nullopt, [&](const Post&) { return ++exported > 0; });
    EXPECT_EQ(exported, kThreads * kEach);
}

TEST_P(StoreTest, ExportsInBatchesAndStopsWhenAsked)
{
    const auto store = open();
    ASSERT_TRUE(store);
    std::vector<ParsedReport> many;
    for (int i = 0; i < 620; ++i)
        many.push_back(makeReport(m_random, i % 4, i % 3 == 0));
    store->addPosts(cleanName("many"), many, "");
    store->addPosts(cleanName("one"), std::span(&many[0], 1), "");
    std::int64_t previous = 0;
    int count = 0;
    store->exportPosts(std::nullopt, [&](const Post& post) {
        EXPECT_GT(post.id, previous);
        previous = post.id;
        ++count;
        return true;
    });
    EXPECT_EQ(count, 621);
    int ones = 0;
    store->exportPosts(std::string("one"), [&](const Post& post) {
        EXPECT_EQ(post.name, "one");
        return ++ones > 0;
    });
    EXPECT_EQ(ones, 1);
    int stopped = 0;
    store->exportPosts(std::nullopt, [&](const Post&) { return ++stopped < 10; });
    EXPECT_EQ(stopped, 10);
}

TEST_P(StoreTest, AConnectionLostBetweenCallsIsReplacedWithoutAFailedRequest)
{
    if (GetParam() != "postgresql")
        GTEST_SKIP() << "a SQLite file has no connection to lose";
    const auto store = open();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->postCount(), 0);
    // What a server restart does to the board's sessions.
    QSqlQuery terminate(m_admin);
    ASSERT_TRUE(terminate.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                              "WHERE datname = current_database() AND pid <> pg_backend_pid() "
                                              "AND usename = current_user")))
        << terminate.lastError().text().toStdString();
    const ParsedReport report = makeReport(m_random, 0, false);
    EXPECT_EQ(store->addPosts(cleanName("after"), std::span(&report, 1), "")[0].outcome, PostOutcome::Added);
    EXPECT_EQ(store->postCount(), 1);
}

// With VELMORA_TEST_PG_STOP and VELMORA_TEST_PG_START (shell commands that stop and start the
// server of VELMORA_TEST_PG), the store is taken through a restart of its database.
TEST_P(StoreTest, ADatabaseStoppedIsUnavailableQuicklyAndServesAgainWhenBack)
{
    const char* stop = std::getenv("VELMORA_TEST_PG_STOP");
    const char* start = std::getenv("VELMORA_TEST_PG_START");
    if (GetParam() != "postgresql" || !stop || !start)
        GTEST_SKIP() << "VELMORA_TEST_PG_STOP and VELMORA_TEST_PG_START are not given";
    const auto store = open();
    ASSERT_TRUE(store);
    const ParsedReport before = makeReport(m_random, 2, false);
    const std::int64_t id = store->addPosts(cleanName("before"), std::span(&before, 1), "")[0].id;
    m_admin.close();
    ASSERT_EQ(std::system(stop), 0);
    std::chrono::steady_clock::duration slowest{};
    for (int call = 0; call < 3; ++call) {
        const auto began = std::chrono::steady_clock::now();
        EXPECT_THROW(store->boardPage(0, 10), StoreUnavailable);
        EXPECT_THROW(store->addPosts(cleanName("during"), std::span(&before, 1), ""), StoreUnavailable);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - began);
    }
    EXPECT_LT(slowest, std::chrono::milliseconds(2500));
    RecordProperty("slowest_two_unavailable_calls_ms",
                   int(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
    ASSERT_EQ(std::system(start), 0);
    EXPECT_EQ(store->post(id)->name, "before");
    const ParsedReport after = makeReport(m_random, 2, false);
    EXPECT_EQ(store->addPosts(cleanName("after"), std::span(&after, 1), "")[0].outcome, PostOutcome::Added);
    EXPECT_EQ(store->postCount(), 2);
    ASSERT_TRUE(m_admin.open());
    QSqlQuery quiet(m_admin);
    quiet.exec(QStringLiteral("SET client_min_messages = warning"));
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, testing::Values("sqlite", "postgresql"),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(StoreOpen, SaysWhyADatabaseCannotBeUsed)
{
    StoreOptions options;
    options.connection = "";
    EXPECT_FALSE(Store::open(options).error.empty());
    options.connection = "/nonexistent-folder/velmora/board.sqlite";
    OpenResult result = Store::open(options);
    EXPECT_FALSE(result.store);
    EXPECT_NE(result.error.find("cannot open"), std::string::npos) << result.error;
    options.connection = "postgresql://[bad";
    EXPECT_FALSE(Store::open(options).error.empty());
    options.connection = ":memory:";  // one database per thread would be no board at all
    EXPECT_FALSE(Store::open(options).store);
}

TEST(StoreOpen, APostgreSQLServerThatIsNotThereIsUnavailableAtOnce)
{
    // Nothing listens on the discard port of the loopback address.
    StoreOptions options;
    options.connection = "postgresql://velmora@127.0.0.1:9/board";
    const auto began = std::chrono::steady_clock::now();
    const OpenResult result = Store::open(options);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_FALSE(result.store);
    EXPECT_TRUE(result.unavailable) << result.error;
    EXPECT_LT(took, std::chrono::seconds(3));
}

TEST(StoreSqlite, AWriterHeldTooLongIsUnavailableNotAnError)
{
    QTemporaryDir folder;
    StoreOptions options;
    options.connection = QDir(folder.path()).filePath("busy.sqlite").toStdString();
    options.busyTimeoutMilliseconds = 200;
    const OpenResult opened = Store::open(options);
    ASSERT_TRUE(opened.store) << opened.error;
    std::mt19937 random(3);
    const ParsedReport report = makeReport(random, 2, false);
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("busy-holder"));
        other.setDatabaseName(QString::fromStdString(options.connection));
        ASSERT_TRUE(other.open());
        QSqlQuery hold(other);
        ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN IMMEDIATE")));
        EXPECT_THROW(opened.store->addPosts(cleanName("Eve"), std::span(&report, 1), ""), StoreUnavailable);
        EXPECT_EQ(opened.store->postCount(), 0);  // readers do not wait for the writer
        ASSERT_TRUE(hold.exec(QStringLiteral("ROLLBACK")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("busy-holder"));
    EXPECT_EQ(opened.store->addPosts(cleanName("Eve"), std::span(&report, 1), "")[0].outcome, PostOutcome::Added);
}

}  // namespace
}  // namespace velmora::board
