#pragma once

#include <string>

namespace velmora::board::testing {

// A fresh, empty database for one test. An SQLite file in a folder of its own, or, when the test
// runs under tests/board/private-postgres.sh (VELMORA_TEST_POSTGRES is set), a new database in
// that private PostgreSQL, owned by the board's role and dropped again at the end; so the same
// tests run against both and never see each other's posts.
class TestDatabase {
public:
    TestDatabase();
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    // What --db / StoreOptions::connection take.
    const std::string& connection() const { return m_connection; }
    bool isPostgres() const { return !m_postgresName.empty(); }

    // True under private-postgres.sh.
    static bool postgresAvailable();
    // Takes the PostgreSQL server away and gives it back (same port, same data); false when not
    // under private-postgres.sh or the control command failed.
    static bool stopPostgres();
    static bool startPostgres();

private:
    std::string m_connection;
    std::string m_folder;
    std::string m_postgresName;
};

}  // namespace velmora::board::testing
