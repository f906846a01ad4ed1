#pragma once

#include <string>
#include <variant>
#include <vector>

namespace velmora::board {

// What velmora-board is told on its command line.
struct BoardOptions {
    std::string database;                 // a file path (SQLite) or a postgresql:// connection string
    std::string host = "127.0.0.1";
    int port = 8080;
    int workers = 8;                      // threads answering requests, each with its own connection
    int postsPerMinute = 10;              // per client address; 0 turns the limit off
    int deletesPerMinute = 10;
    int pageSize = 50;
    std::string secret;                   // keys the form tokens and address hashes; empty: the database's
    std::vector<std::string> trustedProxies;  // canonical addresses whose X-Forwarded-For is believed
};

struct HelpRequested {};
struct CommandLineError {
    std::string message;
};

std::variant<BoardOptions, HelpRequested, CommandLineError> parseCommandLine(const std::vector<std::string>& arguments);
std::string usageText();

}  // namespace velmora::board
