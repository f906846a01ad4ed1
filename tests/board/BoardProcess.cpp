#include "BoardProcess.h"
#include "board/http/Pages.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmora::board::testing {
namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

BoardProcess::BoardProcess(const std::string& program, const std::string& database, const std::vector<std::string>& extra)
{
    static int serial = 0;
    m_logPath = (std::filesystem::temp_directory_path()
                 / ("velmora-board-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".log"))
                    .string();
    // Port 0: the program takes a free one and says which in its first line.
    std::vector<std::string> arguments{program, "--db", database, "--listen", "127.0.0.1:0", "--workers", "4"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const int log = ::open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(log, STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(log);

    const std::string marker = "answering on http://127.0.0.1:";
    for (int i = 0; i < 300 && m_port == 0; ++i) {
        const std::string text = readFile(m_logPath);
        if (const auto at = text.find(marker); at != std::string::npos)
            m_port = std::atoi(text.c_str() + at + marker.size());
        else if (!running())
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (m_port == 0)
        m_problem = "velmora-board did not come up: " + readFile(m_logPath);
}

BoardProcess::~BoardProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (::waitpid(m_pid, &status, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
    }
    std::error_code ignored;
    std::filesystem::remove(m_logPath, ignored);
}

bool BoardProcess::started(std::string& why) const
{
    why = m_problem;
    return m_port != 0;
}

bool BoardProcess::running() const
{
    int status = 0;
    return m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == 0;
}

std::string BoardProcess::log() const
{
    return readFile(m_logPath);
}

httplib::Client BoardProcess::client(int readTimeoutSeconds) const
{
    httplib::Client c("127.0.0.1", m_port);
    c.set_connection_timeout(5, 0);
    c.set_read_timeout(readTimeoutSeconds, 0);
    c.set_write_timeout(5, 0);
    return c;
}

httplib::Headers Browser::headers() const
{
    httplib::Headers headers{{"Accept-Language", m_language}};
    if (!m_forwardedFor.empty())
        headers.emplace("X-Forwarded-For", m_forwardedFor);
    std::string cookies;
    for (const auto& [name, value] : m_cookies)
        cookies += (cookies.empty() ? "" : "; ") + name + "=" + value;
    if (!cookies.empty())
        headers.emplace("Cookie", cookies);
    return headers;
}

void Browser::keepCookies(const httplib::Result& result)
{
    if (!result)
        return;
    for (const auto& [key, value] : result->headers) {
        if (key != "Set-Cookie")
            continue;
        const std::string pair = value.substr(0, value.find(';'));
        const auto eq = pair.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string name = pair.substr(0, eq);
        std::erase_if(m_cookies, [&](const auto& c) { return c.first == name; });
        m_cookies.emplace_back(name, pair.substr(eq + 1));
    }
}

httplib::Result Browser::get(httplib::Client& server, const std::string& path)
{
    httplib::Result result = server.Get(path, headers());
    keepCookies(result);
    return result;
}

httplib::Result Browser::post(httplib::Client& formServer, httplib::Client& sendTo, const std::string& name,
                              const std::string& report, const std::string& password)
{
    const httplib::Result form = get(formServer, "/post");
    if (!form || form->status != 200)
        return httplib::Result(nullptr, httplib::Error::Unknown);
    const std::string marker = "name=\"csrf\" value=\"";
    const auto at = form->body.find(marker);
    const std::string token = at == std::string::npos
                                ? std::string()
                                : form->body.substr(at + marker.size(),
                                                    form->body.find('"', at + marker.size()) - at - marker.size());
    const std::string body = "csrf=" + velmora::board::urlEncode(token) + "&name=" + velmora::board::urlEncode(name) + "&report="
                           + velmora::board::urlEncode(report) + "&password=" + velmora::board::urlEncode(password) + "&website=";
    httplib::Result result = sendTo.Post("/post", headers(), body, "application/x-www-form-urlencoded");
    keepCookies(result);
    return result;
}

long long postedId(const httplib::Result& result)
{
    if (!result || result->status != 303)
        return 0;
    const std::string location = result->get_header_value("Location");
    return location.rfind("/posts/", 0) == 0 ? std::atoll(location.c_str() + 7) : 0;
}

}  // namespace velmora::board::testing
