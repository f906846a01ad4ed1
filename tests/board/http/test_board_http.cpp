// The board as its users meet it: a real server on loopback over a fresh SQLite file, spoken to
// with an HTTP client and with raw sockets for what a client library will not send.
#include "TestDatabase.h"
#include "board/http/BoardServer.h"
#include "board/http/BoardTexts.h"
#include "board/http/HtmlWriter.h"
#include "board/store/Store.h"
#include "exercise/Report.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <httplib.h>
#include <sodium.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <thread>

namespace velmora::board {
namespace {

using exercise::ReportValues;

const exercise::DateTimeFormats kFormats{QStringLiteral("yyyy/MM/dd"), QStringLiteral("H:mm:ss")};

// A report as the program writes it: the user's corrections off by `miss` cents at `pitchClass`.
std::string report(Edition edition, int difficultyIndex, int pitchClass, int missSteps, double startDay = 46364.4)
{
    const int step = exercise::kLevels[std::size_t(difficultyIndex)].step;
    ReportValues values;
    int total = 0;
    for (int i = 0; i < exercise::kPitchClasses; ++i) {
        const int exact = ((i % 5) - 2) * step;
        const int user = i == pitchClass ? exact + missSteps * step : exact;
        total += std::abs(user - exact);
        values.user[std::size_t(i)] = std::to_string(user);
        values.exact[std::size_t(i)] = std::to_string(exact);
    }
    values.score = std::to_string(100 - total);
    values.device = "Built-in GS synthesizer";
    values.instrument = edition == Edition::Japanese ? "ピアノ 1" : "piano 1";
    values.difficultyIndex = difficultyIndex;
    values.referenceUsed = true;
    values.startTime = startDay;
    values.endTime = startDay + 200.0 / 86400.0;
    return exercise::joinCrLf(exercise::buildReportLines(edition, values, kFormats, QLocale::c()));
}

struct Sent {
    int status = 0;
    std::string body;
    httplib::Headers headers;
    std::string header(const std::string& name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// One browser: keeps its cookies and reads the form token off the pages it is shown.
class Browser {
public:
    explicit Browser(int port, std::string language = "en") : m_client("127.0.0.1", port), m_language(std::move(language))
    {
        m_client.set_read_timeout(10, 0);
    }

    Sent get(const std::string& path)
    {
        return keep(m_client.Get(path.c_str(), headers()));
    }

    // Fetches the form page first, as a person would, then sends the form with its token.
    Sent postForm(const std::string& formPage, const std::string& action, httplib::MultipartFormDataItems fields)
    {
        const Sent form = get(formPage);
        fields.push_back({"csrf", token(form.body), "", ""});
        return keep(m_client.Post(action.c_str(), headers(), fields));
    }

    // As a form without a file field is usually sent: application/x-www-form-urlencoded.
    Sent postUrlEncoded(const std::string& formPage, const std::string& action, httplib::Params fields)
    {
        const Sent form = get(formPage);
        fields.emplace("csrf", token(form.body));
        return keep(m_client.Post(action.c_str(), headers(), fields));
    }

    Sent postWithoutToken(const std::string& action, const httplib::MultipartFormDataItems& fields)
    {
        return keep(m_client.Post(action.c_str(), headers(), fields));
    }

    std::string cookies() const { return m_cookies; }
    void setCookies(std::string cookies) { m_cookies = std::move(cookies); }

    static std::string token(const std::string& page)
    {
        std::smatch match;
        if (!std::regex_search(page, match, std::regex(R"re(name="csrf" value="([^"]+)")re")))
            return {};
        return match[1];
    }

private:
    httplib::Headers headers() const
    {
        httplib::Headers h{{"Accept-Language", m_language}};
        if (!m_cookies.empty())
            h.emplace("Cookie", m_cookies);
        return h;
    }

    Sent keep(const httplib::Result& result)
    {
        Sent sent;
        if (!result)
            return sent;
        sent.status = result->status;
        sent.body = result->body;
        sent.headers = result->headers;
        for (const auto& [name, value] : result->headers) {
            if (name != "Set-Cookie")
                continue;
            const std::string pair = value.substr(0, value.find(';'));
            const std::string cookieName = pair.substr(0, pair.find('='));
            // Replace a cookie of the same name, keep the others.
            std::string kept;
            std::size_t start = 0;
            while (start < m_cookies.size()) {
                std::size_t end = m_cookies.find("; ", start);
                if (end == std::string::npos)
                    end = m_cookies.size();
                const std::string item = m_cookies.substr(start, end - start);
                if (item.substr(0, item.find('=')) != cookieName)
                    kept += (kept.empty() ? "" : "; ") + item;
                start = end + 2;
            }
            m_cookies = kept + (kept.empty() ? "" : "; ") + pair;
        }
        return sent;
    }

    httplib::Client m_client;
    std::string m_language;
    std::string m_cookies;
};

// What the raw socket got back: everything the server sent before it closed or went quiet.
std::string sendRaw(int port, const std::string& request, int waitSeconds = 3)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return {};
    }
    timeval timeout{waitSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return answer;
}

int statusOf(const std::string& rawAnswer)
{
    return rawAnswer.size() > 12 ? std::atoi(rawAnswer.substr(9, 3).c_str()) : 0;
}

class BoardHttp : public ::testing::Test {
protected:
    void startBoard(BoardOptions options = {})
    {
        StoreOptions storeOptions;
        // SQLite, or PostgreSQL under tests/board/private-postgres.sh.
        storeOptions.connection = m_database.connection();
        storeOptions.passwordOpsLimit = crypto_pwhash_OPSLIMIT_MIN;
        storeOptions.passwordMemLimit = crypto_pwhash_MEMLIMIT_MIN;
        const OpenResult opened = Store::open(storeOptions);
        ASSERT_TRUE(opened.store) << opened.error;
        m_store = opened.store;
        options.host = "127.0.0.1";
        options.port = 0;
        options.workers = 4;
        m_server = std::make_unique<BoardServer>(options, m_store);
        std::string error;
        ASSERT_TRUE(m_server->bind(error)) << error;
        m_thread = std::thread([this] { m_server->run(); });
    }

    void TearDown() override { stopBoard(); }

    void stopBoard()
    {
        if (m_server)
            m_server->stop();
        if (m_thread.joinable())
            m_thread.join();
        m_server.reset();
        m_store.reset();
    }

    int port() const { return m_server->port(); }

    static httplib::MultipartFormDataItems postFields(const std::string& name, const std::string& reports,
                                                      const std::string& password = "")
    {
        return {{"name", name, "", ""}, {"report", reports, "", ""}, {"password", password, "", ""},
                {"website", "", "", ""}};
    }

    testing::TestDatabase m_database;
    std::shared_ptr<Store> m_store;
    std::unique_ptr<BoardServer> m_server;
    std::thread m_thread;
};

std::string postIdOf(const Sent& sent)
{
    std::smatch match;
    const std::string location = sent.header("Location");
    return std::regex_search(location, match, std::regex(R"(^/posts/(\d+))")) ? std::string(match[1]) : std::string();
}

TEST_F(BoardHttp, PostIsSeenOnBoardNameAndRankingsAndDeletedOnlyWithItsPassword)
{
    startBoard();
    Browser browser(port());
    // A Japanese report, F# tuned 2 steps (6 cents) sharp at level 1: score 94.
    const std::string japanese = report(Edition::Japanese, 1, 6, 2);
    const Sent posted = browser.postForm("/post", "/post", postFields("Aki", japanese, "secret pw"));
    ASSERT_EQ(posted.status, 303) << posted.body;
    const std::string id = postIdOf(posted);
    ASSERT_FALSE(id.empty()) << posted.header("Location");

    const Sent page = browser.get(posted.header("Location"));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find(">94<"), std::string::npos);
    EXPECT_NE(page.body.find("<svg"), std::string::npos);
    // The report as received, U+3000 and all.
    EXPECT_NE(page.body.find("F#　　　"), std::string::npos);

    const Sent board = browser.get("/");
    EXPECT_NE(board.body.find(">Aki</a>"), std::string::npos);
    EXPECT_NE(board.body.find("/posts/" + id), std::string::npos);

    // Full-width and upper-case letters are the same name.
    const Sent name = browser.get("/name?n=%EF%BC%A1KI");
    EXPECT_EQ(name.status, 200);
    EXPECT_NE(name.body.find("You tune F# sharp."), std::string::npos);
    EXPECT_NE(name.body.find(">94</a>"), std::string::npos);

    const Sent rankings = browser.get("/rankings");
    EXPECT_NE(rankings.body.find(">Aki</a>"), std::string::npos);
    EXPECT_NE(rankings.body.find("/posts/" + id), std::string::npos);

    const Sent csv = browser.get("/board.csv");
    EXPECT_EQ(csv.status, 200);
    EXPECT_NE(csv.header("Content-Type").find("text/csv"), std::string::npos);
    EXPECT_NE(csv.body.find("Aki"), std::string::npos);
    EXPECT_NE(browser.get("/name.csv?n=aki").body.find("Aki"), std::string::npos);

    // The same report again and an English one in one paste: one new post, one already there.
    const std::string english = report(Edition::English, 3, 0, -1, 46365.2);
    const Sent again = browser.postForm("/post", "/post", postFields("aki", japanese + english, "secret pw"));
    ASSERT_EQ(again.status, 303);
    const Sent afterAgain = browser.get(again.header("Location"));
    EXPECT_NE(afterAgain.body.find("1 were already on the board"), std::string::npos) << afterAgain.body;
    EXPECT_EQ(m_store->postCount(), 2);

    const std::string deletePage = "/posts/" + id + "/delete";
    const Sent wrong = browser.postForm(deletePage, deletePage, {{"password", "not it", "", ""}});
    EXPECT_EQ(wrong.status, 403);
    EXPECT_NE(wrong.body.find("Wrong password"), std::string::npos);
    EXPECT_EQ(browser.get("/posts/" + id).status, 200);
    // A refused form's page (its language switch too) never carries the typed password.
    const Sent wrongEncoded = browser.postUrlEncoded(deletePage, deletePage, {{"password", "hunter7xq"}});
    EXPECT_EQ(wrongEncoded.status, 403);
    EXPECT_EQ(wrongEncoded.body.find("hunter7xq"), std::string::npos) << wrongEncoded.body;

    const Sent right = browser.postForm(deletePage, deletePage, {{"password", "secret pw", "", ""}});
    EXPECT_EQ(right.status, 200) << right.body;
    EXPECT_EQ(browser.get("/posts/" + id).status, 404);
    EXPECT_EQ(m_store->postCount(), 1);
}

TEST_F(BoardHttp, PagesFollowEveryPostAndDeletionAndANamesPostsArePaged)
{
    BoardOptions options;
    options.pageSize = 2;
    startBoard(options);
    Browser browser(port());
    EXPECT_NE(browser.get("/").body.find("No posts yet"), std::string::npos);

    const std::string paste = report(Edition::English, 0, 1, 1, 46364.1) + report(Edition::English, 0, 2, 1, 46364.2)
                            + report(Edition::English, 0, 3, 1, 46364.3);
    ASSERT_EQ(browser.postForm("/post", "/post", postFields("Ilse", paste, "pw")).status, 303);
    const std::vector<Post> posts = m_store->boardPage(0, 10).posts;
    ASSERT_EQ(posts.size(), 3u);
    const std::string newest = "/posts/" + std::to_string(posts[0].id);
    const std::string oldest = "/posts/" + std::to_string(posts[2].id);

    // The board read before the posts is not what is shown after them.
    const Sent board = browser.get("/");
    EXPECT_NE(board.body.find("Page 1 of 2 (3 posts)"), std::string::npos) << board.body;
    EXPECT_NE(board.body.find(newest), std::string::npos);

    // The table of a name's posts, apart from the first, best and last above it.
    const auto table = [](const std::string& page) {
        const std::size_t start = page.find("<table class=\"posts\">");
        return start == std::string::npos ? std::string() : page.substr(start, page.find("</table>", start) - start);
    };
    const Sent name = browser.get("/name?n=Ilse");
    EXPECT_NE(name.body.find("Page 1 of 2 (3 posts)"), std::string::npos) << name.body;
    EXPECT_NE(table(name.body).find("\"" + newest + "\""), std::string::npos);
    EXPECT_EQ(table(name.body).find("\"" + oldest + "\""), std::string::npos);
    std::smatch older;
    ASSERT_TRUE(std::regex_search(name.body, older, std::regex(R"re(<a href="(/name\?n=Ilse&amp;before=\d+&amp;page=2)" rel="next")re")));
    const Sent second = browser.get(std::regex_replace(std::string(older[1]), std::regex("&amp;"), "&"));
    EXPECT_NE(second.body.find("Page 2 of 2 (3 posts)"), std::string::npos) << second.body;
    EXPECT_NE(table(second.body).find("\"" + oldest + "\""), std::string::npos);
    EXPECT_EQ(table(second.body).find("\"" + newest + "\""), std::string::npos);
    // Every post still in the chart.
    EXPECT_NE(second.body.find("3 posts, oldest first"), std::string::npos);

    const std::string deletePage = newest + "/delete";
    ASSERT_EQ(browser.postForm(deletePage, deletePage, {{"password", "pw", "", ""}}).status, 200);
    const Sent after = browser.get("/");
    EXPECT_NE(after.body.find("Page 1 of 1 (2 posts)"), std::string::npos) << after.body;
    EXPECT_EQ(after.body.find("\"" + newest + "\""), std::string::npos);
    EXPECT_NE(browser.get("/name?n=Ilse").body.find("Page 1 of 1 (2 posts)"), std::string::npos);
}

TEST_F(BoardHttp, RefusalsAreClearPagesInTheReadersLanguageAndStoreNothing)
{
    BoardOptions options;
    options.postsPerMinute = 2;
    startBoard(options);
    Browser japanese(port(), "ja,en;q=0.5");
    const std::string valid = report(Edition::Japanese, 0, 2, 1);

    // No token, or a token of another browser.
    const Sent noToken = japanese.postWithoutToken("/post", postFields("Ren", valid));
    EXPECT_EQ(noToken.status, 403);
    EXPECT_NE(noToken.body.find("フォームの有効期限が切れたか"), std::string::npos);
    EXPECT_NE(noToken.body.find("<html lang=\"ja\">"), std::string::npos);
    Browser other(port());
    const std::string othersToken = Browser::token(other.get("/post").body);
    (void)japanese.get("/post");
    auto fields = postFields("Ren", valid);
    fields.push_back({"csrf", othersToken, "", ""});
    EXPECT_EQ(japanese.postWithoutToken("/post", fields).status, 403);

    // A changed score, then the filled honeypot.
    std::string changed = valid;
    changed.replace(changed.find("得点：99"), std::string("得点：99").size(), "得点：100");
    const Sent badScore = japanese.postForm("/post", "/post", postFields("Ren", changed));
    EXPECT_EQ(badScore.status, 422);
    EXPECT_NE(badScore.body.find("得点が 100 − Σ"), std::string::npos) << badScore.body;
    // The form comes back with what was typed.
    EXPECT_NE(badScore.body.find("得点：100"), std::string::npos);
    auto honey = postFields("Ren", valid);
    honey.back().content = "http://spam.example/";
    EXPECT_EQ(japanese.postForm("/post", "/post", honey).status, 400);
    EXPECT_EQ(m_store->postCount(), 0);

    // Two posts a minute were let through to be checked (and refused); the third is refused with
    // when to come back, though it is valid. Forms without a token never reach the count.
    const Sent limited = japanese.postForm("/post", "/post", postFields("Ren", valid));
    EXPECT_EQ(limited.status, 429);
    EXPECT_FALSE(limited.header("Retry-After").empty());
    EXPECT_NE(limited.body.find("短い間に送信が多すぎます"), std::string::npos);
    EXPECT_EQ(m_store->postCount(), 0);

    // Too large a body and a chunked one are refused before their bodies are read.
    const std::string tooLarge = sendRaw(port(), "POST /post HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Language: ja\r\n"
                                                 "Content-Type: application/x-www-form-urlencoded\r\n"
                                                 "Content-Length: 20000\r\n\r\nname=x");
    EXPECT_EQ(statusOf(tooLarge), 413) << tooLarge.substr(0, 200);
    EXPECT_NE(tooLarge.find("上限 16 KiB"), std::string::npos);
    const std::string chunked = sendRaw(port(), "POST /post HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                                "Transfer-Encoding: chunked\r\n\r\n5\r\nname=\r\n0\r\n\r\n");
    EXPECT_EQ(statusOf(chunked), 411) << chunked.substr(0, 200);
    EXPECT_NE(chunked.find("Requests without a length"), std::string::npos);

    // Every answer, refusals included, carries the security headers.
    for (const std::string& answer : {tooLarge, chunked}) {
        EXPECT_NE(answer.find("Content-Security-Policy: default-src 'none'; style-src 'self'; img-src 'self'; "
                              "form-action 'self'; frame-ancestors 'none'\r\n"),
                  std::string::npos);
        EXPECT_NE(answer.find("X-Content-Type-Options: nosniff\r\n"), std::string::npos);
        EXPECT_NE(answer.find("Referrer-Policy: no-referrer\r\n"), std::string::npos);
    }
    const Sent missing = japanese.get("/posts/999");
    EXPECT_EQ(missing.status, 404);
    EXPECT_NE(missing.body.find("お探しのページは見つかりませんでした"), std::string::npos);
    EXPECT_EQ(missing.header("Referrer-Policy"), "no-referrer");
    EXPECT_EQ(m_store->postCount(), 0);
}

TEST_F(BoardHttp, FormOpenedBeforeARestartIsStillAccepted)
{
    startBoard();
    Browser before(port());
    const std::string token = Browser::token(before.get("/post").body);
    ASSERT_FALSE(token.empty());
    stopBoard();

    startBoard();
    Browser after(port());
    after.setCookies(before.cookies());
    auto fields = postFields("Sora", report(Edition::Japanese, 2, 1, 1));
    fields.push_back({"csrf", token, "", ""});
    const Sent posted = after.postWithoutToken("/post", fields);
    EXPECT_EQ(posted.status, 303) << posted.body;
    EXPECT_EQ(m_store->postCount(), 1);
}

TEST_F(BoardHttp, NamesAndReportsAreShownAsText)
{
    startBoard();
    Browser browser(port());
    const std::string script = "<script>alert(1)</script>";
    const Sent posted = browser.postForm("/post", "/post", postFields(script, report(Edition::English, 2, 4, -1)));
    ASSERT_EQ(posted.status, 303) << posted.body;
    for (const std::string& path : {std::string("/"), posted.header("Location"), std::string("/rankings"),
                                    std::string("/name?n=%3Cscript%3Ealert(1)%3C%2Fscript%3E")}) {
        const Sent page = browser.get(path);
        EXPECT_EQ(page.status, 200) << path;
        EXPECT_EQ(page.body.find("<script"), std::string::npos) << path;
        EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << path;
    }
}

TEST_F(BoardHttp, SilentClientIsCutOffAfterTheTimeout)
{
    startBoard();
    const auto start = std::chrono::steady_clock::now();
    // Half a request line, then nothing: the server must give up, not wait for ever.
    const std::string answer = sendRaw(port(), "GET / HTTP/1.1\r\nHost: 127.0", 20);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // One 5 s timeout for the header line and one for the connection.
    EXPECT_LT(seconds, 16.0);
    EXPECT_GE(seconds, 4.0);
    EXPECT_EQ(answer.find("200 OK"), std::string::npos);
}

TEST(HtmlWriter, EveryTextAndAttributeIsEscapedAndNamesAreChecked)
{
    HtmlWriter html;
    html.open("a", {{"href", "/name?n=\"><script>"}, {"title", "it's"}})
        .text("<b>&amp;</b>")
        .close("a")
        .element("p", std::string_view("bad \xFF byte, NUL \0 too", 21));
    EXPECT_EQ(html.html(), "<a href=\"/name?n=&quot;&gt;&lt;script&gt;\" title=\"it&#39;s\">&lt;b&gt;&amp;amp;&lt;/b&gt;</a>"
                           "<p>bad \xEF\xBF\xBD byte, NUL \xEF\xBF\xBD too</p>");
    EXPECT_THROW(html.open("p onclick=x"), std::invalid_argument);
    EXPECT_THROW(html.open("p", {{"x\"=", "1"}}), std::invalid_argument);
    EXPECT_EQ(escapeHtml("F#　高め"), "F#　高め");
}

TEST(PageLanguage, ChoiceFirstThenAcceptLanguageByQuality)
{
    EXPECT_EQ(chooseLanguage("ja", "en"), Language::Japanese);
    EXPECT_EQ(chooseLanguage("en", "ja"), Language::English);
    EXPECT_EQ(chooseLanguage("", "ja-JP,ja;q=0.9,en;q=0.8"), Language::Japanese);
    EXPECT_EQ(chooseLanguage("", "en-US,en;q=0.9,ja;q=0.8"), Language::English);
    EXPECT_EQ(chooseLanguage("", "de-DE, ja;q=0.5, en;q=0.4"), Language::Japanese);
    EXPECT_EQ(chooseLanguage("", "de-DE"), Language::English);
    EXPECT_EQ(chooseLanguage("xx", "ja;q=0"), Language::English);
}

// The program, as an operator starts it.
int runBoard(const std::string& arguments, std::string& output)
{
    const std::string command = std::string(VELMORA_BOARD_PROGRAM) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pipe ? ::pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BoardCommandLine, HelpBadOptionsAndUnusableDatabase)
{
    std::string help;
    EXPECT_EQ(runBoard("--help", help), 0);
    EXPECT_NE(help.find("--db DATABASE"), std::string::npos);
    EXPECT_NE(help.find("--listen ADDRESS:PORT"), std::string::npos);

    std::string bad;
    EXPECT_NE(runBoard("--db x.sqlite --frobnicate", bad), 0);
    EXPECT_NE(bad.find("unknown option '--frobnicate'"), std::string::npos);
    std::string badPort;
    EXPECT_NE(runBoard("--db x.sqlite --listen 127.0.0.1:99999", badPort), 0);
    EXPECT_NE(badPort.find("--listen"), std::string::npos);
    std::string noDb;
    EXPECT_NE(runBoard("--listen 127.0.0.1:0", noDb), 0);
    EXPECT_NE(noDb.find("--db is missing"), std::string::npos);

    QTemporaryDir dir;
    std::string unusable;
    // A folder where the file should be.
    EXPECT_NE(runBoard("--db " + dir.path().toStdString() + " --listen 127.0.0.1:0", unusable), 0);
    EXPECT_NE(unusable.find("cannot use the database"), std::string::npos) << unusable;
}

}  // namespace
}  // namespace velmora::board

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (sodium_init() < 0)
        return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
