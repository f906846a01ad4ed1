#pragma once

#include "board/http/CommandLine.h"

#include <memory>
#include <string>

namespace velmora::board {

class Store;

// The board's HTTP side: routes, guard, pages, tokens and limits over one store.
class BoardServer {
public:
    // Requests larger than this are refused before their body is read.
    static constexpr std::size_t kMaxBody = 16 * 1024;
    static constexpr int kTimeoutSeconds = 5;

    // The form tokens are keyed by the store's derived key, so boards sharing a database (and a
    // board after a restart) accept each other's forms.
    BoardServer(const BoardOptions& options, std::shared_ptr<Store> store);
    ~BoardServer();
    BoardServer(const BoardServer&) = delete;
    BoardServer& operator=(const BoardServer&) = delete;

    // Binds the options' address and port (port 0: any free one); false with `error` set when it cannot.
    bool bind(std::string& error);
    int port() const;
    // Answers requests until stop(); call after bind().
    bool run();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace velmora::board
