// The results board under load: a board of many posts in SQLite, the board page and names'
// pages read by many concurrent loopback clients while posts keep coming; then every post the
// board acknowledged is looked for. With --kill the board is killed with SIGKILL halfway through
// and started again, and the acknowledged posts are counted after the restart.
#include "board/core/Names.h"
#include "board/store/Store.h"
#include "exercise/Report.h"
#include "exercise/ReportParser.h"

#include <QCoreApplication>

#include <httplib.h>
#include <sodium.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

struct Settings {
    std::string program;
    std::string database = "build/bench/board-bench.sqlite";
    int posts = 100000;
    int names = 2000;
    int clients = 32;
    int workers = 48;  // one for every client's connection, the posting ones too
    double seconds = 20;
    double postRate = 150;  // posts per second the posting clients aim at
    int posters = 8;
    int port = 18080;
    bool kill = false;
    std::string pages = "both";  // what the readers read: "board", "name" or both in turn
    std::string log = "build/bench/board-bench.log";
};

const exercise::DateTimeFormats kFormats{QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")};

std::string nameOf(int i)
{
    return "learner" + std::to_string(i);
}

// A report of the program's, different for every `serial`.
std::string reportText(std::uint64_t serial, int level)
{
    std::mt19937 random(static_cast<std::uint32_t>(serial * 2654435761u + 17));
    const exercise::Level& l = exercise::kLevels[std::size_t(level)];
    exercise::ReportValues values;
    int total = 0;
    for (int i = 0; i < exercise::kPitchClasses; ++i) {
        const int exact = -l.offsetForDraw(int(random() % std::uint32_t(l.drawRange)));
        int user = exact + (int(random() % 5) - 2) * l.step;
        user = std::clamp(user, l.minimum * l.step, l.maximum * l.step);
        total += std::abs(user - exact);
        values.user[std::size_t(i)] = std::to_string(user);
        values.exact[std::size_t(i)] = std::to_string(exact);
    }
    values.score = std::to_string(100 - total);
    values.device = "Built-in GS synthesizer";
    values.instrument = "piano 1";
    values.difficultyIndex = level;
    values.referenceUsed = random() % 2 == 0;
    // One minute apart, so that no two reports are the same.
    values.startTime = 40000.0 + double(serial % 20000000) / 1440.0;
    values.endTime = values.startTime + (60 + random() % 600) / 86400.0;
    return exercise::joinCrLf(exercise::buildReportLines(Edition::English, values, kFormats, QLocale::c()));
}

void prefill(const Settings& s)
{
    board::StoreOptions options;
    options.connection = s.database;
    const board::OpenResult opened = board::Store::open(options);
    if (!opened.store) {
        std::fprintf(stderr, "cannot open %s: %s\n", s.database.c_str(), opened.error.c_str());
        std::exit(1);
    }
    const std::int64_t have = opened.store->postCount();
    if (have >= s.posts) {
        std::printf("board: %lld posts already in %s\n", static_cast<long long>(have), s.database.c_str());
        return;
    }
    const auto start = Clock::now();
    const int perName = std::max(1, s.posts / s.names);
    std::uint64_t serial = std::uint64_t(have);
    for (int n = 0; serial < std::uint64_t(s.posts); n = (n + 1) % s.names) {
        std::string paste;
        for (int k = 0; k < perName && serial < std::uint64_t(s.posts); ++k, ++serial)
            paste += reportText(serial, int(serial % 4));
        const exercise::ParseResult parsed = exercise::parseReports(paste);
        if (!parsed.ok()) {
            std::fprintf(stderr, "a generated report does not parse: %s\n",
                         std::string(exercise::problemName(parsed.error->problem)).c_str());
            std::exit(1);
        }
        opened.store->addPosts(board::cleanName(nameOf(n)), parsed.reports, "");
    }
    std::printf("board: filled to %lld posts in %.1f s\n", static_cast<long long>(opened.store->postCount()),
                std::chrono::duration<double>(Clock::now() - start).count());
}

pid_t startBoard(const Settings& s)
{
    const pid_t pid = fork();
    if (pid == 0) {
        FILE* log = std::fopen(s.log.c_str(), "a");
        if (log)
            dup2(fileno(log), STDERR_FILENO);
        const std::string listen = "127.0.0.1:" + std::to_string(s.port);
        const std::string workers = std::to_string(s.workers);
        execl(s.program.c_str(), s.program.c_str(), "--db", s.database.c_str(), "--listen", listen.c_str(), "--workers",
              workers.c_str(), "--posts-per-minute", "0", "--secret", "bench secret of some length", nullptr);
        _exit(127);
    }
    httplib::Client client("127.0.0.1", s.port);
    for (int i = 0; i < 200; ++i) {
        if (auto res = client.Get("/health"); res && res->status == 200)
            return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "the board did not come up; see %s\n", s.log.c_str());
    std::exit(1);
}

struct Latencies {
    std::vector<double> ms;
    int failures = 0;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

struct Acknowledged {
    std::mutex mutex;
    std::vector<std::int64_t> ids;
    std::atomic<int> attempts{0};
    std::atomic<int> failures{0};
};

void poster(const Settings& s, int index, Clock::time_point end, Acknowledged& acked)
{
    httplib::Client client("127.0.0.1", s.port);
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(5, 0);
    std::string cookie;
    std::string token;
    const auto fetchToken = [&] {
        auto form = client.Get("/post");
        if (!form || form->status != 200)
            return false;
        cookie = form->get_header_value("Set-Cookie");
        cookie = cookie.substr(0, cookie.find(';'));
        std::smatch match;
        if (!std::regex_search(form->body, match, std::regex(R"re(name="csrf" value="([^"]+)")re")))
            return false;
        token = match[1];
        return true;
    };
    const double interval = double(s.posters) / s.postRate;
    // Past the filled posts, and apart for every poster and run.
    std::uint64_t serial = std::uint64_t(s.posts) + 1000000ull * std::uint64_t(index + 1)
                         + std::uint64_t(std::time(nullptr) % 1000) * 1000ull;
    auto next = Clock::now();
    std::mt19937 random(std::uint32_t(index) + 7);
    while (Clock::now() < end) {
        next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval));
        std::this_thread::sleep_until(next);
        acked.attempts++;
        if (token.empty() && !fetchToken()) {
            acked.failures++;
            continue;
        }
        httplib::MultipartFormDataItems fields{{"csrf", token, "", ""},
                                               {"name", nameOf(int(random() % std::uint32_t(s.names))), "", ""},
                                               {"report", reportText(serial, int(serial % 4)), "", ""},
                                               {"password", "", "", ""},
                                               {"website", "", "", ""}};
        ++serial;
        auto res = client.Post("/post", httplib::Headers{{"Cookie", cookie}}, fields);
        std::smatch match;
        const std::string location = res ? res->get_header_value("Location") : std::string();
        if (res && res->status == 303 && std::regex_search(location, match, std::regex(R"(^/posts/(\d+))"))) {
            std::lock_guard lock(acked.mutex);
            acked.ids.push_back(std::stoll(match[1]));
        } else {
            acked.failures++;
            if (!res)
                token.clear();  // the board may have gone; start afresh
        }
    }
}

void reader(const Settings& s, int index, Clock::time_point end, Latencies& board, Latencies& name)
{
    httplib::Client client("127.0.0.1", s.port);
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(10, 0);
    std::mt19937 random(std::uint32_t(index) * 31 + 5);
    for (int i = 0; Clock::now() < end; ++i) {
        const bool boardPage = s.pages == "both" ? i % 2 == 0 : s.pages == "board";
        const std::string path = boardPage ? "/" : "/name?n=" + nameOf(int(random() % std::uint32_t(s.names)));
        const auto start = Clock::now();
        auto res = client.Get(path);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        Latencies& into = boardPage ? board : name;
        if (res && res->status == 200)
            into.ms.push_back(ms);
        else
            into.failures++;
    }
}

int count(const std::vector<std::int64_t>& ids, const Settings& s)
{
    httplib::Client client("127.0.0.1", s.port);
    int present = 0;
    for (std::int64_t id : ids) {
        auto res = client.Get("/posts/" + std::to_string(id));
        present += res && res->status == 200 ? 1 : 0;
    }
    return present;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (sodium_init() < 0)
        return 1;
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--program") s.program = next();
        else if (a == "--db") s.database = next();
        else if (a == "--posts") s.posts = std::stoi(next());
        else if (a == "--names") s.names = std::stoi(next());
        else if (a == "--clients") s.clients = std::stoi(next());
        else if (a == "--workers") s.workers = std::stoi(next());
        else if (a == "--seconds") s.seconds = std::stod(next());
        else if (a == "--post-rate") s.postRate = std::stod(next());
        else if (a == "--port") s.port = std::stoi(next());
        else if (a == "--posters") s.posters = std::stoi(next());
        else if (a == "--log") s.log = next();
        else if (a == "--kill") s.kill = true;
        else if (a == "--pages" && i + 1 < argc
                 && (std::string(argv[i + 1]) == "board" || std::string(argv[i + 1]) == "name"
                     || std::string(argv[i + 1]) == "both"))
            s.pages = next();
        else {
            std::fprintf(stderr, "usage: board_load --program velmora-board [--db FILE] [--posts N] [--names N] "
                                 "[--clients N] [--workers N] [--seconds S] [--post-rate R] [--posters N] [--port P] [--pages board|name|both] [--kill]\n");
            return 2;
        }
    }
    if (s.program.empty()) {
        std::fprintf(stderr, "--program names the velmora-board to measure\n");
        return 2;
    }
    prefill(s);
    pid_t pid = startBoard(s);
    std::printf("board: %d workers; %d reading clients, posts aimed at %.0f/s, %.0f s%s\n", s.workers, s.clients,
                s.postRate, s.seconds, s.kill ? ", SIGKILL halfway" : "");

    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s.seconds));
    Acknowledged acked;
    std::vector<Latencies> boards(std::size_t(s.clients)), names(std::size_t(s.clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < s.posters; ++i)
        threads.emplace_back(poster, std::cref(s), i, end, std::ref(acked));
    for (int i = 0; i < s.clients; ++i)
        threads.emplace_back(reader, std::cref(s), i, end, std::ref(boards[std::size_t(i)]), std::ref(names[std::size_t(i)]));

    std::size_t acknowledgedBeforeKill = 0;
    if (s.kill) {
        std::this_thread::sleep_until(start + (end - start) / 2);
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        {
            std::lock_guard lock(acked.mutex);
            acknowledgedBeforeKill = acked.ids.size();
        }
        std::printf("killed the board with SIGKILL after %zu acknowledged posts; starting it again\n",
                    acknowledgedBeforeKill);
        pid = startBoard(s);
    }
    for (std::thread& t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    Latencies board, name;
    for (auto& l : boards) {
        board.ms.insert(board.ms.end(), l.ms.begin(), l.ms.end());
        board.failures += l.failures;
    }
    for (auto& l : names) {
        name.ms.insert(name.ms.end(), l.ms.begin(), l.ms.end());
        name.failures += l.failures;
    }
    const auto line = [&](const char* what, const Latencies& l) {
        std::printf("%-11s %8zu ok %6d failed  %7.0f/s  p50 %6.1f ms  p99 %6.1f ms  max %7.1f ms\n", what, l.ms.size(),
                    l.failures, double(l.ms.size()) / elapsed, percentile(l.ms, 0.5), percentile(l.ms, 0.99),
                    percentile(l.ms, 1.0));
    };
    line("board page", board);
    line("name page", name);
    std::printf("reads       %8.0f/s together\n", double(board.ms.size() + name.ms.size()) / elapsed);
    std::printf("posts       %8zu acknowledged of %d sent (%d not), %.1f acknowledged/s\n", acked.ids.size(),
                acked.attempts.load(), acked.failures.load(), double(acked.ids.size()) / elapsed);

    const int present = count(acked.ids, s);
    std::printf("afterwards  %d of %zu acknowledged posts present%s\n", present, acked.ids.size(),
                s.kill ? " after the restart" : "");
    if (s.kill)
        std::printf("            (%zu acknowledged before the kill)\n", acknowledgedBeforeKill);
    ::kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return present == int(acked.ids.size()) ? 0 : 1;
}
