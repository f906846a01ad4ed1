// Board servers as an operator runs them: the real program in processes of their own on loopback,
// on the database TestDatabase gives (SQLite; PostgreSQL under tests/board/private-postgres.sh).
#include "BoardProcess.h"
#include "SampleReports.h"
#include "TestDatabase.h"
#include "board/http/BoardTexts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace velmora::board;
using namespace velmora::board::testing;

namespace {

const std::string kProgram = VELMORA_BOARD_PROGRAM;

std::string report(long serial)
{
    std::mt19937 random{unsigned(serial)};
    return sampleReport(random, serial);
}

#define ASSERT_STARTED(board)                                                                                          \
    do {                                                                                                               \
        std::string why;                                                                                               \
        ASSERT_TRUE((board).started(why)) << why;                                                                      \
    } while (false)

}  // namespace

TEST(BoardServers, ForwardedAddressIsBelievedOnlyFromTheTrustedProxy)
{
    TestDatabase behindProxy, direct;
    BoardProcess proxied(kProgram, behindProxy.connection(), {"--posts-per-minute", "2", "--trusted-proxy", "127.0.0.1"});
    BoardProcess plain(kProgram, direct.connection(), {"--posts-per-minute", "2"});
    ASSERT_STARTED(proxied);
    ASSERT_STARTED(plain);
    auto p = proxied.client();
    auto d = plain.client();

    // Behind the proxy each learner has their own limit of two posts a minute.
    Browser first("203.0.113.1"), second("203.0.113.2");
    EXPECT_NE(postedId(first.post(p, p, "first", report(1))), 0);
    EXPECT_NE(postedId(first.post(p, p, "first", report(2))), 0);
    const auto third = first.post(p, p, "first", report(3));
    ASSERT_TRUE(third);
    EXPECT_EQ(third->status, 429);
    EXPECT_NE(postedId(second.post(p, p, "second", report(4))), 0) << proxied.log();

    // Straight from 127.0.0.1 to a board that trusts no proxy the header changes nothing: all
    // three come from one address.
    Browser a("203.0.113.1"), b("203.0.113.2"), c("203.0.113.3");
    EXPECT_NE(postedId(a.post(d, d, "a", report(5))), 0);
    EXPECT_NE(postedId(b.post(d, d, "b", report(6))), 0);
    const auto refused = c.post(d, d, "c", report(7));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 429);
}

TEST(BoardServers, TwoServersOnOneDatabaseShareTheBoardAndTheLimits)
{
    TestDatabase database;
    // No --secret: everything the servers share comes from the database.
    BoardProcess one(kProgram, database.connection(), {"--posts-per-minute", "3"});
    BoardProcess two(kProgram, database.connection(), {"--posts-per-minute", "3"});
    ASSERT_STARTED(one);
    ASSERT_STARTED(two);
    auto a = one.client();
    auto b = two.client();

    // A form from one server is taken by the other, as behind a proxy that alternates.
    Browser learner;
    // Both have drawn the empty board before the post.
    for (httplib::Client* server : {&a, &b})
        ASSERT_TRUE(learner.get(*server, "/"));
    const long long id = postedId(learner.post(a, b, "Mirela", report(11)));
    ASSERT_NE(id, 0) << two.log();
    const auto onOther = learner.get(a, "/posts/" + std::to_string(id));
    ASSERT_TRUE(onOther);
    EXPECT_EQ(onOther->status, 200);
    for (httplib::Client* server : {&a, &b}) {
        const auto board = learner.get(*server, "/");
        ASSERT_TRUE(board);
        EXPECT_NE(board->body.find("Mirela"), std::string::npos);
    }

    // Three posts a minute in all, wherever they arrive.
    EXPECT_NE(postedId(learner.post(b, a, "Mirela", report(12))), 0);
    EXPECT_NE(postedId(learner.post(a, b, "Mirela", report(13))), 0);
    for (httplib::Client* server : {&a, &b}) {
        const auto refused = learner.post(*server, *server, "Mirela", report(14));
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 429);
    }
}

TEST(BoardServers, DatabaseStoppedUnderARunningBoard)
{
    if (!TestDatabase::postgresAvailable())
        GTEST_SKIP() << "needs PostgreSQL (run under tests/board/private-postgres.sh)";
    TestDatabase database;
    BoardProcess board(kProgram, database.connection(), {"--posts-per-minute", "0"});
    ASSERT_STARTED(board);

    // A learner keeps posting through the outage; what the board acknowledged must be kept.
    std::atomic<bool> posting{true};
    std::mutex lock;
    std::vector<long long> acknowledged;
    std::map<int, int> answers;
    int unanswered = 0;
    std::thread poster([&] {
        auto c = board.client();
        Browser learner;
        for (long serial = 100; posting; ++serial) {
            const auto result = learner.post(c, c, "Outage", report(serial));
            std::lock_guard guard(lock);
            if (!result)
                ++unanswered;
            else if (const long long id = postedId(result))
                acknowledged.push_back(id);
            else
                ++answers[result->status];
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    ASSERT_TRUE(TestDatabase::stopPostgres());
    auto c = board.client();
    double slowestRefusal = 0;
    for (const auto& [language, expected] :
         {std::pair{"ja", boardTexts(Language::Japanese).unavailable}, {"en", boardTexts(Language::English).unavailable}}) {
        Browser reader({}, language);
        for (const std::string path : {"/", "/rankings", "/name?n=Outage"}) {
            const auto asked = std::chrono::steady_clock::now();
            const auto page = reader.get(c, path);
            slowestRefusal = std::max(
                slowestRefusal, std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
            ASSERT_TRUE(page) << "no answer within 5 s to " << path;
            EXPECT_EQ(page->status, 503) << path;
            EXPECT_NE(page->body.find(std::string(expected)), std::string::npos) << language << " " << path;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(board.running());

    ASSERT_TRUE(TestDatabase::startPostgres());
    int status = 0;
    for (int i = 0; i < 100 && status != 200; ++i) {
        const auto page = c.Get("/");
        status = page ? page->status : 0;
        if (status != 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(status, 200) << "the same process serves again: " << board.log();
    std::size_t before = 0;
    {
        std::lock_guard guard(lock);
        before = acknowledged.size();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    posting = false;
    poster.join();

    EXPECT_TRUE(board.running());
    std::printf("outage: %zu posts acknowledged (%zu by the time the board served again), %d answered 503; "
                "slowest 503 page %.3f s\n",
                acknowledged.size(), before, answers[503], slowestRefusal);
    EXPECT_EQ(unanswered, 0);
    EXPECT_GT(answers[503], 0) << "the poster never met the outage";
    EXPECT_GT(acknowledged.size(), before) << "posting did not come back";
    Browser reader;
    for (const long long id : acknowledged) {
        const auto page = reader.get(c, "/posts/" + std::to_string(id));
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200) << "acknowledged post " << id << " is gone";
    }
}
