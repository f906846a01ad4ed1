// The board's store alone, without HTTP: how fast its operations are with many posts in it.
//
//   board_store [--db FILE_OR_URL] [--posts N] [--names K] [--threads T] [--seconds S]
//
// Fills the database (a new SQLite file by default) with N posts under K names (reports made by
// the program's own builder, posted 50 to a paste), then runs each operation from T threads for
// S seconds and prints operations per second and the 50th/99th percentile latency: the board's
// first page, a name's summary (as the name's page asks: 100 scores and a page of 20 posts), one post, a
// rate-limit hit, a new post, the rankings of all eight groups (50 names each, from the kept
// standings) and one group ranked from all its posts.
#include "board/store/Store.h"
#include "exercise/Report.h"
#include "exercise/Scoring.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

exercise::ParsedReport makeReport(std::mt19937& random)
{
    const int levelIndex = int(random() % 4);
    const exercise::Level& level = exercise::kLevels[std::size_t(levelIndex)];
    exercise::ReportValues values;
    std::array<int, exercise::kPitchClasses> user{}, exact{};
    for (std::size_t i = 0; i < exercise::kPitchClasses; ++i) {
        exact[i] = -level.offsetForDraw(int(random() % unsigned(level.drawRange)));
        user[i] = std::clamp(exact[i] / level.step + int(random() % 3) - 1, level.minimum, level.maximum) * level.step;
        values.user[i] = exercise::fieldText(user[i]);
        values.exact[i] = exercise::fieldText(exact[i]);
    }
    values.score = exercise::fieldText(exercise::computeScore(user, exact));
    values.device = "Synth input port (128:0)";
    values.instrument = "Acoustic Grand Piano";
    values.difficultyIndex = levelIndex;
    values.referenceUsed = random() % 2;
    values.startTime = 46000 + (random() % 1000000) / 1000.0;
    values.endTime = values.startTime + 0.004;
    const auto& format = exercise::usualReportDateFormats()[1];
    return exercise::parseReports(
               exercise::joinCrLf(exercise::buildReportLines(Edition::Japanese, values, format.formats, format.locale)))
        .reports.at(0);
}

struct Result {
    long operations = 0;
    std::vector<double> latenciesMs;
    long failures = 0;
};

Result measure(int threads, double seconds, const std::function<void(int thread, long i)>& operation)
{
    std::vector<Result> results(static_cast<std::size_t>(threads));
    std::vector<std::thread> workers;
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            Result& mine = results[std::size_t(t)];
            for (long i = 0; Clock::now() < until; ++i) {
                const auto began = Clock::now();
                try {
                    operation(t, i);
                } catch (const std::exception&) {
                    ++mine.failures;
                }
                mine.latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
                ++mine.operations;
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    Result all;
    for (Result& r : results) {
        all.operations += r.operations;
        all.failures += r.failures;
        all.latenciesMs.insert(all.latenciesMs.end(), r.latenciesMs.begin(), r.latenciesMs.end());
    }
    std::sort(all.latenciesMs.begin(), all.latenciesMs.end());
    return all;
}

double percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, std::size_t(p * double(sorted.size())))];
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::string db;
    long posts = 100'000;
    int names = 2'000;
    int threads = 4;
    double seconds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--db")
            db = argv[i + 1];
        else if (option == "--posts")
            posts = std::atol(argv[i + 1]);
        else if (option == "--names")
            names = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--threads")
            threads = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--seconds")
            seconds = std::atof(argv[i + 1]);
    }
    QTemporaryDir folder;
    if (db.empty())
        db = QDir(folder.path()).filePath("bench.sqlite").toStdString();
    board::StoreOptions options;
    options.connection = db;
    const board::OpenResult opened = board::Store::open(options);
    if (!opened.store) {
        std::fprintf(stderr, "board_store: %s\n", opened.error.c_str());
        return 1;
    }
    board::Store& store = *opened.store;

    std::mt19937 random(42);
    std::vector<exercise::ParsedReport> pool;
    for (int i = 0; i < 2000; ++i)
        pool.push_back(makeReport(random));
    const auto fillBegan = Clock::now();
    // (Opening an older database above also filled its standings from the posts.)
    const long already = store.postCount();
    long made = 0;
    constexpr long kPaste = 50;
    for (long at = already; at < posts; at += kPaste) {
        std::vector<exercise::ParsedReport> paste;
        for (long i = at; i < std::min(posts, at + kPaste); ++i) {
            exercise::ParsedReport report = pool[std::size_t(i) % pool.size()];
            report.fingerprint = "fill-" + std::to_string(i);  // each its own report
            paste.push_back(std::move(report));
        }
        store.addPosts(board::cleanName("name " + std::to_string(at / kPaste % names)), paste, "");
        made += long(paste.size());
    }
    const long namesUsed = std::max(1L, std::min<long>(names, posts / kPaste));
    const double fillSeconds = std::chrono::duration<double>(Clock::now() - fillBegan).count();
    std::printf("%s, %ld posts (%ld added in %.1f s), %d threads, %.0f s each\n", std::string(store.backendName()).c_str(),
                store.postCount(), made, fillSeconds, threads, seconds);
    // The kept standings must rank as every post does.
    int disagreements = 0;
    for (int level = 0; level < 4; ++level) {
        for (bool reference : {false, true}) {
            const board::RankingGroup group{level, reference};
            const board::Ranking kept = board::rank(group, store.rankingRows(group, 50), 50);
            const board::Ranking all = board::rank(group, store.rankingRows(group), 50);
            bool same = kept.best.size() == all.best.size() && kept.median.size() == all.median.size();
            for (std::size_t i = 0; same && i < kept.best.size(); ++i)
                same = kept.best[i].post.postId == all.best[i].post.postId;
            for (std::size_t i = 0; same && i < kept.median.size(); ++i)
                same = kept.median[i].nameKey == all.median[i].nameKey && kept.median[i].median == all.median[i].median;
            disagreements += !same;
        }
    }
    std::printf("rankings from the kept standings and from every post: %s\n",
                disagreements ? "DIFFER" : "the same in all 8 groups");
    std::printf("%-26s %10s %9s %9s %9s\n", "operation", "ops/s", "p50 ms", "p99 ms", "failures");

    std::atomic<long> nextPost{0};
    const std::vector<std::pair<const char*, std::function<void(int, long)>>> operations{
        {"board page", [&](int, long) { store.boardPage(0, 20); }},
        {"name summary", [&](int t, long i) {
             store.nameSummary(board::cleanName("name " + std::to_string((i * 7 + t) % namesUsed)).key, {});
         }},
        {"one post", [&](int t, long i) { store.post(1 + (i * 131 + t) % std::max(1L, posts)); }},
        {"rate-limit hit", [&](int t, long i) { store.hit("bench", "198.51.100." + std::to_string((i + t) % 250), 1'000'000, 60); }},
        {"new post", [&](int t, long) {
             exercise::ParsedReport report = pool[std::size_t(t) % pool.size()];
             report.fingerprint = "bench-" + std::to_string(nextPost++) + "-" + std::to_string(std::time(nullptr));
             store.addPosts(board::cleanName("poster " + std::to_string(t)), std::span(&report, 1), "");
         }},
        {"rankings page (8 groups)", [&](int, long) {
             for (int level = 0; level < 4; ++level)
                 for (bool reference : {false, true})
                     board::rank({level, reference}, store.rankingRows({level, reference}, 50), 50);
         }},
        {"one group, every post", [&](int, long i) {
             const board::RankingGroup group{int(i % 4), i % 2 == 0};
             board::rank(group, store.rankingRows(group), 50);
         }},
    };
    for (const auto& [name, operation] : operations) {
        const Result result = measure(threads, seconds, operation);
        std::printf("%-26s %10.0f %9.2f %9.2f %9ld\n", name, double(result.operations) / seconds,
                    percentile(result.latenciesMs, 0.50), percentile(result.latenciesMs, 0.99), result.failures);
        std::fflush(stdout);
    }
    return 0;
}
