#include "board/http/BoardServer.h"

#include "board/core/Csv.h"
#include "board/core/Names.h"
#include "board/http/BoardTexts.h"
#include "board/http/ClientAddress.h"
#include "board/http/Csrf.h"
#include "board/http/PageCache.h"
#include "board/http/Pages.h"
#include "board/store/Store.h"
#include "exercise/ReportParser.h"

#include <httplib.h>
#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace velmora::board {

namespace {

constexpr std::size_t kMaxPasswordLength = 128;
constexpr std::size_t kChartPosts = 100;
constexpr std::size_t kRankingLength = 10;

using Clock = std::chrono::steady_clock;
thread_local Clock::time_point t_requestStart;

std::optional<std::int64_t> parseId(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0)
        return std::nullopt;
    return value;
}

std::string cookie(const httplib::Request& req, std::string_view name)
{
    const std::string header = req.get_header_value("Cookie");
    std::string_view rest(header);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        std::string_view item = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        const std::size_t eq = item.find('=');
        if (eq != std::string_view::npos && item.substr(0, eq) == name)
            return std::string(item.substr(eq + 1));
    }
    return {};
}

// A field of a form sent as multipart/form-data or as application/x-www-form-urlencoded.
std::string formValue(const httplib::Request& req, const std::string& name)
{
    if (req.has_file(name))
        return req.get_file_value(name).content;
    return req.get_param_value(name);
}

// The path and query without the language choice, for the language switch. A form's answer
// links to the bare form: its fields (the delete password among them) must never end up in an
// address, where history and logs keep them.
std::string pathWithoutLanguage(const httplib::Request& req)
{
    if (req.method != "GET" && req.method != "HEAD")
        return req.path;
    std::string query;
    for (const auto& [key, value] : req.params) {
        if (key == "lang" || key == "added" || key == "dup")
            continue;
        query += query.empty() ? '?' : '&';
        query += urlEncode(key) + "=" + urlEncode(value);
    }
    return req.path + query;
}

std::string isoNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string_view problemText(const BoardTexts& t, exercise::ReportProblem problem)
{
    using P = exercise::ReportProblem;
    switch (problem) {
    case P::NotText:
    case P::NotAReport: return t.problemNotAReport;
    case P::RowMissing:
    case P::UnknownLevel:
    case P::UnreadableValue:
    case P::UnreadableTime: return t.problemRowMissing;
    case P::ValueOffStep: return t.problemNotAStep;
    case P::ValueOutOfRange: return t.problemOutOfRange;
    case P::ScoreMismatch: return t.problemScore;
    case P::EndBeforeStart: return t.problemEndBeforeStart;
    case P::DurationMismatch: return t.problemDuration;
    case P::UnknownVersion: return t.problemVersion;
    }
    return t.problemOther;
}

// The library listens with a backlog of 5, fixed when it was built: under load, clients coming
// back for a new connection find the queue full, and their connection waits for the kernel's
// retry a second later. Linux takes a second listen() on the socket as a new backlog.
class HttpServer : public httplib::Server {
public:
    bool widenBacklog(int backlog) { return ::listen(svr_sock_, backlog) == 0; }
};

// Pages are read a few at a time, as many as there are processors: every worker reading at once
// would leave a post holding the database's one write lock waiting for a turn on a processor, and
// every other post waiting behind it. Turns go strictly in order of arrival and a freed turn is
// handed to the longest waiting reader, never taken by one arriving just then: with the wakeup
// left to a condition variable's race, some readers lost it again and again and waited several
// times the others' time.
class PageTurns {
public:
    explicit PageTurns(int turns) : m_free(turns) {}

    void enter()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_free > 0 && m_waiting.empty()) {
            --m_free;
            return;
        }
        Waiter self;
        m_waiting.push_back(&self);
        self.wake.wait(lock, [&self] { return self.admitted; });
    }

    void leave()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_waiting.empty()) {
            ++m_free;
            return;
        }
        Waiter* next = m_waiting.front();
        m_waiting.pop_front();
        next->admitted = true;
        next->wake.notify_one();
    }

private:
    struct Waiter {
        std::condition_variable wake;
        bool admitted = false;
    };
    std::mutex m_lock;
    std::deque<Waiter*> m_waiting;
    int m_free;
};

}  // namespace

struct BoardServer::Impl {
    BoardOptions options;
    std::shared_ptr<Store> store;
    CsrfTokens csrf;
    HttpServer http;
    int boundPort = 0;
    PageTurns reading{int(std::max(2u, std::thread::hardware_concurrency()))};
    PageCache boardCopies{64};

    Impl(const BoardOptions& o, std::shared_ptr<Store> s, const std::array<unsigned char, CsrfTokens::kKeyBytes>& key)
        : options(o), store(std::move(s)), csrf(key)
    {
    }

    // --- the page's language and the browser's form identity -------------------------------

    PageContext context(const httplib::Request& req, httplib::Response& res, bool withForm)
    {
        PageContext c;
        const std::string choice = req.get_param_value("lang");
        if (choice == "ja" || choice == "en") {
            res.set_header("Set-Cookie", "lang=" + choice + "; Path=/; Max-Age=31536000; SameSite=Lax");
            c.language = chooseLanguage(choice, {});
        } else {
            c.language = chooseLanguage(cookie(req, "lang"), req.get_header_value("Accept-Language"));
        }
        c.path = pathWithoutLanguage(req);
        if (withForm) {
            std::string id = cookie(req, "vb");
            if (!CsrfTokens::isBrowserId(id)) {
                id = CsrfTokens::newBrowserId();
                res.set_header("Set-Cookie", "vb=" + id + "; Path=/; Max-Age=31536000; HttpOnly; SameSite=Strict");
            }
            c.csrfToken = csrf.tokenFor(id);
        }
        return c;
    }

    static void html(httplib::Response& res, int status, std::string body)
    {
        res.status = status;
        res.set_header("Cache-Control", "no-store");
        res.set_content(std::move(body), "text/html; charset=utf-8");
    }

    void refuse(const httplib::Request& req, httplib::Response& res, int status, std::string_view message)
    {
        html(res, status, renderRefusal(context(req, res, false), message));
    }

    // A form that did not come from one of our pages in this browser.
    bool sameOriginForm(const httplib::Request& req)
    {
        const std::string origin = req.get_header_value("Origin");
        if (!origin.empty() && origin != "null") {
            const std::size_t hostAt = origin.find("://");
            if (hostAt == std::string::npos || origin.substr(hostAt + 3) != req.get_header_value("Host"))
                return false;
        }
        return csrf.accepts(cookie(req, "vb"), formValue(req, "csrf"));
    }

    // The learner's address: the peer, or behind a trusted proxy the address it forwarded.
    std::string clientOf(const httplib::Request& req) const
    {
        return clientAddress(req.remote_addr, req.get_header_value("X-Forwarded-For"), options.trustedProxies);
    }

    bool limited(const httplib::Request& req, httplib::Response& res, std::string_view bucket, int perMinute)
    {
        if (perMinute <= 0)
            return false;
        const RateDecision decision = store->hit(bucket, clientOf(req), perMinute, 60);
        if (decision.allowed)
            return false;
        const BoardTexts& t = boardTexts(context(req, res, false).language);
        res.set_header("Retry-After", std::to_string(std::max(1, decision.retryAfterSeconds)));
        refuse(req, res, 429, fill(t.rateLimited, {std::to_string(std::max(1, decision.retryAfterSeconds))}));
        return true;
    }

    // --- pages ------------------------------------------------------------------------------

    void boardPage(const httplib::Request& req, httplib::Response& res)
    {
        const PageContext c = context(req, res, false);
        std::int64_t before = 0;
        int page = 1;
        if (req.has_param("before")) {
            const auto id = parseId(req.get_param_value("before"));
            if (!id)
                return refuse(req, res, 400, c.texts().badRequest);
            before = *id;
            page = int(std::min<std::int64_t>(parseId(req.get_param_value("page")).value_or(2), 1000000));
        }
        // The page shows nothing of the request but its language and address.
        const std::string key = std::string(c.language == Language::English ? "en " : "ja ") + c.path;
        if (const auto copy = boardCopies.find(key, store->boardState().version))
            return html(res, 200, *copy);
        BoardPage read = store->boardPage(before, options.pageSize + 1);
        BoardPageView view;
        view.total = read.state.posts;
        view.pages = int(std::max<std::int64_t>(1, (view.total + options.pageSize - 1) / options.pageSize));
        view.page = before > 0 ? std::clamp(page, 2, std::max(2, view.pages)) : 1;
        view.posts = std::move(read.posts);
        if (int(view.posts.size()) > options.pageSize) {
            view.posts.resize(std::size_t(options.pageSize));
            view.olderBefore = view.posts.back().id;
        }
        std::string body = renderBoardPage(c, view);
        boardCopies.keep(key, read.state.version, body);
        html(res, 200, std::move(body));
    }

    void postForm(const httplib::Request& req, httplib::Response& res)
    {
        html(res, 200, renderPostForm(context(req, res, true), {}));
    }

    void submitPost(const httplib::Request& req, httplib::Response& res)
    {
        const BoardTexts& t = boardTexts(context(req, res, false).language);
        if (!sameOriginForm(req))
            return refuse(req, res, 403, t.formExpired);
        if (limited(req, res, "post", options.postsPerMinute))
            return;
        if (!formValue(req, "website").empty())
            return refuse(req, res, 400, t.honeypotFilled);

        PostFormView form;
        form.name = formValue(req, "name");
        form.report = formValue(req, "report");
        const std::string password = formValue(req, "password");
        const CleanedName name = cleanName(form.name);
        if (!name.ok())
            form.problems.push_back(*name.problem == NameProblem::TooLong
                                        ? fill(t.nameTooLong, {std::to_string(kMaxNameLength)})
                                        : std::string(t.nameMissing));
        if (password.size() > kMaxPasswordLength)
            form.problems.push_back(fill(t.passwordTooLong, {std::to_string(kMaxPasswordLength)}));
        exercise::ParseResult parsed;
        if (form.report.find_first_not_of(" \t\r\n") == std::string::npos) {
            form.problems.push_back(std::string(t.reportMissing));
        } else {
            parsed = exercise::parseReports(form.report);
            if (!parsed.ok()) {
                const exercise::ReportError& e = *parsed.error;
                form.problems.push_back(fill(t.reportProblemAt, {std::to_string(std::max(1, e.report)),
                                                                  std::to_string(e.line), problemText(t, e.problem)}));
            }
        }
        if (!form.problems.empty()) {
            // 422: the form comes back with what was typed, the password excepted.
            html(res, 422, renderPostForm(context(req, res, true), form));
            return;
        }
        const std::vector<AddedPost> added = store->addPosts(name, parsed.reports, password);
        int newPosts = 0;
        for (const AddedPost& a : added)
            newPosts += a.outcome == PostOutcome::Added ? 1 : 0;
        const int duplicates = int(added.size()) - newPosts;
        const std::string notice = "added=" + std::to_string(newPosts) + "&dup=" + std::to_string(duplicates);
        const std::string location = added.size() == 1 ? "/posts/" + std::to_string(added.front().id) + "?" + notice
                                                        : nameLink(name.shown) + "&" + notice;
        res.status = 303;
        res.set_header("Location", location);
    }

    static int countParam(const httplib::Request& req, const char* name)
    {
        return int(std::min<std::int64_t>(parseId(req.get_param_value(name)).value_or(0), 1000));
    }

    void postPage(const httplib::Request& req, httplib::Response& res)
    {
        const PageContext c = context(req, res, false);
        const auto id = parseId(req.matches[1].str());
        std::optional<Post> post = id ? store->post(*id) : std::nullopt;
        if (!post)
            return refuse(req, res, 404, c.texts().notFound);
        html(res, 200, renderPostPage(c, {*post, countParam(req, "added"), countParam(req, "dup")}));
    }

    void namePage(const httplib::Request& req, httplib::Response& res)
    {
        const PageContext c = context(req, res, false);
        const CleanedName name = cleanName(req.get_param_value("n"));
        if (!name.ok())
            return refuse(req, res, 404, c.texts().notFound);
        NameQuery query;
        query.chartPoints = kChartPosts;
        query.pageSize = std::size_t(options.pageSize);
        NamePageView view;
        if (req.has_param("before")) {
            const auto id = parseId(req.get_param_value("before"));
            if (!id)
                return refuse(req, res, 400, c.texts().badRequest);
            query.beforeId = *id;
            view.page = int(std::min<std::int64_t>(parseId(req.get_param_value("page")).value_or(2), 1000000));
        }
        view.summary = store->nameSummary(name.key, query);
        const std::int64_t pages = std::max<std::int64_t>(1, (view.summary.postCount + options.pageSize - 1) / options.pageSize);
        view.pages = int(std::min<std::int64_t>(pages, 1000000));
        view.page = query.beforeId > 0 ? std::clamp(view.page, 2, std::max(2, view.pages)) : 1;
        view.name = view.summary.last ? view.summary.last->name : name.shown;
        view.added = countParam(req, "added");
        view.duplicates = countParam(req, "dup");
        html(res, view.summary.postCount == 0 ? 404 : 200, renderNamePage(c, view));
    }

    void rankingsPage(const httplib::Request& req, httplib::Response& res)
    {
        const PageContext c = context(req, res, false);
        std::vector<Ranking> rankings;
        for (int level = 0; level < 4; ++level) {
            for (bool reference : {false, true}) {
                const RankingGroup group{level, reference};
                const std::vector<RankingRow> rows = store->rankingRows(group, kRankingLength);
                rankings.push_back(rank(group, rows, kRankingLength));
            }
        }
        html(res, 200, renderRankingsPage(c, rankings));
    }

    std::optional<Post> postToDelete(const httplib::Request& req, httplib::Response& res, const PageContext& c)
    {
        const auto id = parseId(req.matches[1].str());
        std::optional<Post> post = id ? store->post(*id) : std::nullopt;
        if (!post)
            refuse(req, res, 404, c.texts().notFound);
        else if (!post->deletable)
            refuse(req, res, 403, c.texts().noPassword);
        return post && post->deletable ? post : std::nullopt;
    }

    void deleteForm(const httplib::Request& req, httplib::Response& res)
    {
        const PageContext c = context(req, res, true);
        if (const auto post = postToDelete(req, res, c))
            html(res, 200, renderDeleteForm(c, {*post, {}}));
    }

    void submitDelete(const httplib::Request& req, httplib::Response& res)
    {
        const BoardTexts& t = boardTexts(context(req, res, false).language);
        if (!sameOriginForm(req))
            return refuse(req, res, 403, t.formExpired);
        if (limited(req, res, "delete", options.deletesPerMinute))
            return;
        const auto id = parseId(req.matches[1].str());
        const std::string password = formValue(req, "password");
        const DeleteOutcome outcome = id && password.size() <= kMaxPasswordLength
                                          ? store->deletePost(*id, password)
                                          : DeleteOutcome::WrongPassword;
        switch (outcome) {
        case DeleteOutcome::Deleted:
            return html(res, 200, renderDeletedPage(context(req, res, false)));
        case DeleteOutcome::NotFound:
            return refuse(req, res, 404, t.notFound);
        case DeleteOutcome::NoPassword:
            return refuse(req, res, 403, t.noPassword);
        case DeleteOutcome::WrongPassword:
            break;
        }
        const PageContext c = context(req, res, true);
        std::optional<Post> post = id ? store->post(*id) : std::nullopt;
        if (!post)
            return refuse(req, res, 404, t.notFound);
        html(res, 403, renderDeleteForm(c, {*post, std::string(t.wrongPassword)}));
    }

    void csv(httplib::Response& res, std::optional<std::string> nameKey, const std::string& fileName)
    {
        // A byte order mark, so that spreadsheets take the file for UTF-8 and show Japanese names.
        std::string body = "\xEF\xBB\xBF" + csvHeader();
        store->exportPosts(std::move(nameKey), [&](const Post& post) {
            body += csvRow(post);
            return true;
        });
        res.set_header("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
        res.set_content(std::move(body), "text/csv; charset=utf-8");
    }

    // --- plumbing ---------------------------------------------------------------------------

    // Every handler runs inside this, so the store's failures become pages and never escape.
    httplib::Server::Handler guarded(void (Impl::*handler)(const httplib::Request&, httplib::Response&))
    {
        return [this, handler](const httplib::Request& req, httplib::Response& res) {
            try {
                const bool reads = req.method == "GET" || req.method == "HEAD";
                if (reads)
                    reading.enter();
                struct Done {
                    PageTurns* turns;
                    ~Done()
                    {
                        if (turns)
                            turns->leave();
                    }
                } done{reads ? &reading : nullptr};
                (this->*handler)(req, res);
            } catch (const StoreUnavailable& e) {
                std::fprintf(stderr, "velmora-board: database unavailable: %s\n", e.what());
                res.set_header("Retry-After", "5");
                refuse(req, res, 503, boardTexts(context(req, res, false).language).unavailable);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "velmora-board: %s %s failed: %s\n", req.method.c_str(), req.path.c_str(), e.what());
                refuse(req, res, 500, boardTexts(context(req, res, false).language).internalError);
            }
        };
    }

    // Refused before the body is read: bodies of unknown length (chunked) and bodies over the limit.
    httplib::Server::HandlerResponse checkHead(const httplib::Request& req, httplib::Response& res)
    {
        t_requestStart = Clock::now();
        const bool carriesBody = req.method == "POST" || req.method == "PUT" || req.method == "PATCH";
        const BoardTexts& t = boardTexts(context(req, res, false).language);
        std::optional<std::pair<int, std::string>> refusal;
        if (req.has_header("Transfer-Encoding")) {
            refusal = {411, std::string(t.lengthRequired)};
        } else if (req.has_header("Content-Length")) {
            const std::string text = req.get_header_value("Content-Length");
            std::size_t length = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
            if (error != std::errc() || end != text.data() + text.size())
                refusal = {400, std::string(t.badRequest)};
            else if (length > kMaxBody)
                refusal = {413, fill(t.tooLarge, {std::to_string(kMaxBody / 1024)})};
        } else if (carriesBody) {
            refusal = {411, std::string(t.lengthRequired)};
        }
        if (!refusal)
            return httplib::Server::HandlerResponse::Unhandled;
        refuse(req, res, refusal->first, refusal->second);
        // The body was not read, so the connection cannot carry another request.
        res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    }

    void log(const httplib::Request& req, const httplib::Response& res)
    {
        // A request that never reached the routes (a request line that could not be read) has no start.
        char took[32] = "-";
        if (t_requestStart != Clock::time_point()) {
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t_requestStart).count();
            std::snprintf(took, sizeof took, "%.1fms", ms);
        }
        t_requestStart = Clock::time_point();
        // The path arrives decoded: a %0A in it must not start a line of its own in the log.
        std::string path = req.path.substr(0, 200);
        for (char& c : path)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ' ')
                c = '?';
        char line[1024];
        const std::string client = req.remote_addr.empty() ? std::string("-") : clientOf(req);
        const int length = std::snprintf(line, sizeof line, "%s %s %s %s %d %zu %s\n", isoNow().c_str(),
                                         client.c_str(), req.method.empty() ? "-" : req.method.c_str(), path.c_str(),
                                         res.status, res.body.size(), took);
        // One write per line, so lines of several workers never interleave.
        if (length > 0)
            (void)!::write(STDERR_FILENO, line, std::min<std::size_t>(std::size_t(length), sizeof line - 1));
    }

    void setUp()
    {
        const int workers = options.workers;
        http.new_task_queue = [workers] { return new httplib::ThreadPool(std::size_t(workers)); };
        http.set_read_timeout(kTimeoutSeconds, 0);
        http.set_write_timeout(kTimeoutSeconds, 0);
        http.set_keep_alive_timeout(kTimeoutSeconds);
        // Every connection has a worker of its own while it lasts, so a connection may stay for as
        // many requests as it likes, within the idle timeout.
        http.set_keep_alive_max_count(10000);
        // A page goes out as headers and body in two writes; with Nagle's algorithm the body
        // waits for the client's delayed acknowledgement of the headers, 40 ms on Linux.
        http.set_tcp_nodelay(true);
        http.set_payload_max_length(kMaxBody);
        http.set_default_headers({
            {"Content-Security-Policy",
             "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; frame-ancestors 'none'"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
        });
        http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return checkHead(req, res);
        });
        http.set_logger([this](const httplib::Request& req, const httplib::Response& res) { log(req, res); });
        http.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request& req,
                                                                            httplib::Response& res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            const BoardTexts& t = boardTexts(context(req, res, false).language);
            std::string message(t.badRequest);
            if (res.status == 404 || res.status == 405)
                message = t.notFound;
            else if (res.status == 413)
                message = fill(t.tooLarge, {std::to_string(kMaxBody / 1024)});
            const int status = res.status;
            refuse(req, res, status, message);
            return httplib::Server::HandlerResponse::Handled;
        }));

        http.Get("/", guarded(&Impl::boardPage));
        http.Get("/post", guarded(&Impl::postForm));
        http.Post("/post", guarded(&Impl::submitPost));
        http.Get(R"(/posts/(\d+))", guarded(&Impl::postPage));
        http.Get(R"(/posts/(\d+)/delete)", guarded(&Impl::deleteForm));
        http.Post(R"(/posts/(\d+)/delete)", guarded(&Impl::submitDelete));
        http.Get("/name", guarded(&Impl::namePage));
        http.Get("/rankings", guarded(&Impl::rankingsPage));
        http.Get("/board.csv", guarded(&Impl::boardCsv));
        http.Get("/name.csv", guarded(&Impl::nameCsv));
        http.Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "max-age=3600");
            res.set_content(std::string(styleSheet()), "text/css; charset=utf-8");
        });
        http.Get("/health", guarded(&Impl::health));
        // Browsers ask for it on their own; an empty answer keeps a 404 out of their consoles.
        http.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    }

    void boardCsv(const httplib::Request&, httplib::Response& res) { csv(res, std::nullopt, "velmora-board.csv"); }

    void nameCsv(const httplib::Request& req, httplib::Response& res)
    {
        const CleanedName name = cleanName(req.get_param_value("n"));
        if (!name.ok())
            return refuse(req, res, 404, boardTexts(context(req, res, false).language).notFound);
        csv(res, name.key, "velmora-name.csv");
    }

    // For load balancers and service managers: 200 when the database answers.
    void health(const httplib::Request&, httplib::Response& res)
    {
        res.set_content("ok " + std::to_string(store->postCount()) + "\n", "text/plain; charset=utf-8");
    }
};

BoardServer::BoardServer(const BoardOptions& options, std::shared_ptr<Store> store)
{
    const auto key = store->derivedKey("velmora-board form tokens");
    m_impl = std::make_unique<Impl>(options, std::move(store), key);
    m_impl->setUp();
}

BoardServer::~BoardServer() = default;

bool BoardServer::bind(std::string& error)
{
    Impl& impl = *m_impl;
    bool ok = false;
    if (impl.options.port == 0) {
        impl.boundPort = impl.http.bind_to_any_port(impl.options.host);
        ok = impl.boundPort > 0;
    } else {
        ok = impl.http.bind_to_port(impl.options.host, impl.options.port);
        impl.boundPort = ok ? impl.options.port : 0;
    }
    if (ok)
        impl.http.widenBacklog(512);
    if (!ok)
        error = "cannot listen on " + impl.options.host + ":" + std::to_string(impl.options.port)
              + " (address in use, not this machine's, or a port that needs more rights)";
    return ok;
}

int BoardServer::port() const
{
    return m_impl->boundPort;
}

bool BoardServer::run()
{
    return m_impl->http.listen_after_bind();
}

void BoardServer::stop()
{
    m_impl->http.stop();
}

}  // namespace velmora::board
