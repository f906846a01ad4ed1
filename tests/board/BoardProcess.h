#pragma once

#include <httplib.h>

#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::board::testing {

// The velmora-board program started as its own process on a free loopback port, as an operator
// starts it; stopped with SIGTERM when the object goes.
class BoardProcess {
public:
    // `program` is the velmora-board executable; `extra` are options after --db and --listen.
    BoardProcess(const std::string& program, const std::string& database, const std::vector<std::string>& extra = {});
    ~BoardProcess();
    BoardProcess(const BoardProcess&) = delete;
    BoardProcess& operator=(const BoardProcess&) = delete;

    // False with `why` set when the program did not come up answering within 30 s.
    bool started(std::string& why) const;
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    // Still running (not ended, not crashed).
    bool running() const;
    // What the program wrote to standard error so far.
    std::string log() const;
    // A client of this server with the given timeouts.
    httplib::Client client(int readTimeoutSeconds = 5) const;

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_logPath;
    std::string m_problem;
};

// A browser on the board: keeps the cookies the servers set and fills the post form.
class Browser {
public:
    explicit Browser(std::string forwardedFor = {}, std::string language = "en")
        : m_forwardedFor(std::move(forwardedFor)), m_language(std::move(language))
    {
    }
    httplib::Headers headers() const;
    httplib::Result get(httplib::Client& server, const std::string& path);
    // Fetches the post form from `formServer` and sends it to `sendTo`: the post's answer, or
    // an empty result when the form did not come or the answer did not.
    httplib::Result post(httplib::Client& formServer, httplib::Client& sendTo, const std::string& name,
                         const std::string& report, const std::string& password = {});

private:
    void keepCookies(const httplib::Result& result);
    std::string m_forwardedFor;
    std::string m_language;
    std::vector<std::pair<std::string, std::string>> m_cookies;
};

// The post a 303 after posting leads to (/posts/ID), or 0.
long long postedId(const httplib::Result& result);

}  // namespace velmora::board::testing
