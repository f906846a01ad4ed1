// Load on running board servers, as learners make it: readers that open the board page and a
// name's page as fast as the servers answer, and posters that paste new reports at a steady
// rate meanwhile. Prints requests/s and latency percentiles per kind and checks afterwards that
// every post a server acknowledged is on the board.
//
//   board_servers_load --url http://127.0.0.1:8080 [--url URL ...] [--readers 32] [--seconds 20]
//              [--post-rate 150] [--posters 8] [--names 2000] [--forwarded] [--seed N]
//              [--label TEXT] [--acknowledged FILE] [--pages board,name,rankings] [--warmup S]
//
// The load of board_load (32 readers alternating the board page and a name's page, posts at
// 150/s meanwhile, 2000 names), on servers started elsewhere. Several --url: the requests go
// round the servers, as a proxy in front of them would send them (a poster's form comes from one
// server and its posts go to each in turn, so the servers must accept each other's forms). --forwarded: every request carries X-Forwarded-For with the learner's own
// address (10.x.y.z by name), for servers started with --trusted-proxy 127.0.0.1, so that the
// servers' rate limits count learners and not the benchmark. Names are learner-1 .. learner-N.
// --pages: what the readers open in turn (default board,name). --warmup S: 64 readers for S
// seconds first, not counted.
#include "SampleReports.h"
#include "board/http/Pages.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using velmora::board::testing::sampleReport;

struct Options {
    std::vector<std::string> urls;
    int readers = 32;
    double seconds = 20;
    double postRate = 150;
    int posters = 8;
    int names = 2000;
    bool forwarded = false;
    unsigned seed = 1;
    std::string label;
    std::string acknowledgedFile;
    std::vector<std::string> kinds{"board", "name"};
    double warmup = 0;
};

[[noreturn]] void usage(const char* problem)
{
    std::fprintf(stderr, "board_servers_load: %s\n(see the comment at the top of bench/board_servers_load.cpp)\n", problem);
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage(("no value after " + a).c_str());
            return argv[++i];
        };
        if (a == "--url")
            o.urls.push_back(value());
        else if (a == "--readers")
            o.readers = std::stoi(value());
        else if (a == "--seconds")
            o.seconds = std::stod(value());
        else if (a == "--post-rate")
            o.postRate = std::stod(value());
        else if (a == "--posters")
            o.posters = std::stoi(value());
        else if (a == "--names")
            o.names = std::max(1, std::stoi(value()));
        else if (a == "--forwarded")
            o.forwarded = true;
        else if (a == "--seed")
            o.seed = unsigned(std::stoul(value()));
        else if (a == "--label")
            o.label = value();
        else if (a == "--acknowledged")
            o.acknowledgedFile = value();
        else if (a == "--warmup")
            o.warmup = std::stod(value());
        else if (a == "--pages") {
            o.kinds.clear();
            std::string list = value();
            for (std::size_t from = 0; from <= list.size();) {
                const std::size_t comma = std::min(list.find(',', from), list.size());
                const std::string kind = list.substr(from, comma - from);
                if (kind != "board" && kind != "name" && kind != "rankings")
                    usage(("--pages takes board, name and rankings, not " + kind).c_str());
                o.kinds.push_back(kind);
                from = comma + 1;
            }
        }
        else
            usage(("unknown option " + a).c_str());
    }
    if (o.urls.empty())
        usage("no --url");
    if (o.postRate <= 0)
        o.posters = 0;
    return o;
}

std::string nameOf(int learner)
{
    return "learner-" + std::to_string(learner + 1);
}

std::string addressOf(int learner)
{
    return "10." + std::to_string((learner >> 16) & 255) + "." + std::to_string((learner >> 8) & 255) + "."
         + std::to_string(learner & 255);
}

struct Samples {
    std::vector<double> milliseconds;
    long failures = 0;
    std::map<int, long> statuses;  // answers that were not the expected ones
};

struct Results {
    std::mutex lock;
    std::map<std::string, Samples> byKind;
    std::vector<long long> acknowledged;

    void add(const std::string& kind, const Samples& samples)
    {
        std::lock_guard guard(lock);
        Samples& into = byKind[kind];
        into.milliseconds.insert(into.milliseconds.end(), samples.milliseconds.begin(), samples.milliseconds.end());
        into.failures += samples.failures;
        for (const auto& [status, count] : samples.statuses)
            into.statuses[status] += count;
    }
};

double percentile(std::vector<double>& values, double p)
{
    if (values.empty())
        return 0;
    const std::size_t index = std::min(values.size() - 1, std::size_t(std::ceil(p * double(values.size()))) - 1);
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return values[index];
}

std::unique_ptr<httplib::Client> client(const std::string& url)
{
    auto c = std::make_unique<httplib::Client>(url);
    c->set_keep_alive(true);
    c->set_connection_timeout(5, 0);
    c->set_read_timeout(10, 0);
    c->set_write_timeout(10, 0);
    return c;
}

httplib::Headers headersFor(const Options& o, int learner, const std::string& cookie = {})
{
    httplib::Headers headers{{"Accept-Language", (learner & 1) ? "ja" : "en"}};
    if (o.forwarded)
        headers.emplace("X-Forwarded-For", addressOf(learner));
    if (!cookie.empty())
        headers.emplace("Cookie", cookie);
    return headers;
}

void reader(const Options& o, int index, Clock::time_point end, Results& results)
{
    std::vector<std::unique_ptr<httplib::Client>> clients;
    for (const std::string& url : o.urls)
        clients.push_back(client(url));
    std::mt19937 random(o.seed * 7919u + unsigned(index));
    std::map<std::string, Samples> samples;
    for (long i = 0; Clock::now() < end; ++i) {
        const int learner = int(random() % unsigned(o.names));
        const std::string& kind = o.kinds[std::size_t(i) % o.kinds.size()];
        const std::string path = kind == "board"  ? "/"
                               : kind == "name"   ? "/name?n=" + velmora::board::urlEncode(nameOf(learner))
                                                  : "/rankings";
        httplib::Client& c = *clients[std::size_t(index + i) % clients.size()];
        const auto start = Clock::now();
        const auto res = c.Get(path, headersFor(o, learner));
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        Samples& into = samples[kind + " page"];
        into.milliseconds.push_back(ms);
        // A name nobody posted under yet answers 404 with its page; that is an answer too.
        if (!res)
            ++into.failures;
        else if (res->status != 200 && !(res->status == 404 && kind == "name"))
            ++into.statuses[res->status];
    }
    for (const auto& [kind, kindSamples] : samples)
        results.add(kind, kindSamples);
}

std::string hiddenValue(const std::string& page, const std::string& field)
{
    const std::string marker = "name=\"" + field + "\" value=\"";
    const std::size_t at = page.find(marker);
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + marker.size();
    return page.substr(from, page.find('"', from) - from);
}

std::string setCookies(const httplib::Result& res)
{
    std::string cookies;
    for (const auto& [key, value] : res->headers) {
        if (key != "Set-Cookie")
            continue;
        if (!cookies.empty())
            cookies += "; ";
        cookies += value.substr(0, value.find(';'));
    }
    return cookies;
}

void poster(const Options& o, int index, Clock::time_point begin, Clock::time_point end, std::atomic<long>& serials,
            Results& results)
{
    std::vector<std::unique_ptr<httplib::Client>> clients;
    for (const std::string& url : o.urls)
        clients.push_back(client(url));
    std::mt19937 random(o.seed * 104729u + unsigned(index));
    Samples posts;
    std::vector<long long> acknowledged;
    // Each poster sends one post every posters/rate seconds, staggered so that together they
    // keep the rate steady rather than in bursts.
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.posters / o.postRate));
    auto next = begin + interval * index / o.posters;
    // The form once, from one server; its token and cookie then go with every post, to each
    // server in turn, as a browser behind a round-robin proxy sends them.
    std::string token, cookies;
    // A poster that fell behind does not catch up past the end: the run is as long for it too.
    for (long i = 0; next < end && Clock::now() < end; ++i, next += interval) {
        std::this_thread::sleep_until(next);
        const int learner = int(random() % unsigned(o.names));
        if (token.empty()) {
            const auto form = clients[std::size_t(index) % clients.size()]->Get("/post", headersFor(o, learner));
            if (!form || form->status != 200) {
                form ? ++posts.statuses[form->status] : ++posts.failures;
                continue;
            }
            token = hiddenValue(form->body, "csrf");
            cookies = setCookies(form);
        }
        httplib::Client& server = *clients[std::size_t(index + i) % clients.size()];
        const std::string body = "csrf=" + velmora::board::urlEncode(token) + "&name=" + velmora::board::urlEncode(nameOf(learner))
                               + "&report=" + velmora::board::urlEncode(sampleReport(random, serials++)) + "&password=&website=";
        const auto start = Clock::now();
        const auto res = server.Post("/post", headersFor(o, learner, cookies), body, "application/x-www-form-urlencoded");
        posts.milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (!res) {
            ++posts.failures;
            token.clear();
            continue;
        }
        const std::string location = res->get_header_value("Location");
        if (res->status != 303 || location.rfind("/posts/", 0) != 0) {
            ++posts.statuses[res->status];
            continue;
        }
        acknowledged.push_back(std::atoll(location.c_str() + 7));
    }
    results.add("post", posts);
    std::lock_guard guard(results.lock);
    results.acknowledged.insert(results.acknowledged.end(), acknowledged.begin(), acknowledged.end());
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    Results results;
    // Seconds after 2026-01-01 of the reports' start times: apart for every seed, and within the
    // years the report's four-digit year can show.
    std::atomic<long> serials{long(o.seed % 1000) * 100'000L};
    // Servers open a database connection per worker at its first request; a warm-up of more
    // readers than they have workers takes that out of the figures (it is measured apart).
    if (o.warmup > 0) {
        Results ignored;
        const auto warmEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.warmup));
        std::vector<std::thread> warming;
        for (int i = 0; i < 64; ++i)
            warming.emplace_back(reader, std::cref(o), i, warmEnd, std::ref(ignored));
        for (std::thread& t : warming)
            t.join();
    }
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    std::vector<std::thread> threads;
    for (int i = 0; i < o.readers; ++i)
        threads.emplace_back(reader, std::cref(o), i, end, std::ref(results));
    for (int i = 0; i < o.posters; ++i)
        threads.emplace_back(poster, std::cref(o), i, begin, end, std::ref(serials), std::ref(results));
    for (std::thread& t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();

    // Every acknowledged post must be there, asked of the first server.
    long missing = 0;
    {
        auto c = client(o.urls.front());
        for (const long long id : results.acknowledged) {
            const auto res = c->Get("/posts/" + std::to_string(id), headersFor(o, int(id % o.names)));
            missing += (!res || res->status != 200) ? 1 : 0;
        }
    }
    if (!o.acknowledgedFile.empty()) {
        std::ofstream out(o.acknowledgedFile);
        for (const long long id : results.acknowledged)
            out << id << '\n';
    }

    std::printf("%-28s %-20s %8s %9s %8s %8s %8s %s\n", "run", "kind", "requests", "per s", "p50 ms", "p99 ms",
                "max ms", "not answered as expected");
    bool clean = missing == 0;
    for (auto& [kind, samples] : results.byKind) {
        std::string problems;
        if (samples.failures)
            problems += std::to_string(samples.failures) + " without answer ";
        for (const auto& [status, count] : samples.statuses)
            problems += std::to_string(count) + "x" + std::to_string(status) + " ";
        clean = clean && problems.empty();
        const double max = samples.milliseconds.empty()
                             ? 0
                             : *std::max_element(samples.milliseconds.begin(), samples.milliseconds.end());
        std::printf("%-28s %-20s %8zu %9.1f %8.2f %8.2f %8.1f %s\n", o.label.c_str(), kind.c_str(),
                    samples.milliseconds.size(), double(samples.milliseconds.size()) / elapsed,
                    percentile(samples.milliseconds, 0.50), percentile(samples.milliseconds, 0.99), max,
                    problems.empty() ? "-" : problems.c_str());
    }
    std::printf("%-28s acknowledged posts: %zu, missing afterwards: %ld\n", o.label.c_str(),
                results.acknowledged.size(), missing);
    return clean ? 0 : 1;
}
