// The board's one store over Qt SQL: SQLite for a file path, PostgreSQL (QPSQL) for a
// postgresql:// address. The same statements run on both; where their dialects differ the
// migrations say so.
#include "board/store/Secrets.h"
#include "board/store/Store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>

#include <algorithm>
#include <map>
#include <atomic>
#include <mutex>
#include <set>
#include <type_traits>

namespace velmora::board {
namespace {

enum class Backend { Sqlite, Postgres };

struct Connection {
    Backend backend = Backend::Sqlite;
    QString driver;
    QString database;
    QString host;
    int port = -1;
    QString user;
    QString password;
    QString options;
};

std::optional<Connection> parseConnection(const StoreOptions& options, std::string& error)
{
    const QString text = QString::fromStdString(options.connection);
    Connection connection;
    if (text.isEmpty()) {
        error = "no database given";
        return std::nullopt;
    }
    if (text == u":memory:" || text.startsWith(u"file:")) {
        // Every thread has a connection of its own, and each would get a database of its own.
        error = "the board needs a database file or a postgresql:// address, not " + options.connection;
        return std::nullopt;
    }
    if (!text.startsWith(u"postgresql://") && !text.startsWith(u"postgres://")) {
        connection.backend = Backend::Sqlite;
        connection.driver = QStringLiteral("QSQLITE");
        connection.database = text;
        connection.options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMilliseconds);
        return connection;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        error = "not a PostgreSQL address: " + url.errorString().toStdString();
        return std::nullopt;
    }
    connection.backend = Backend::Postgres;
    connection.driver = QStringLiteral("QPSQL");
    connection.host = url.host(QUrl::FullyDecoded);
    connection.port = url.port(-1);
    connection.user = url.userName(QUrl::FullyDecoded);
    connection.password = url.password(QUrl::FullyDecoded);
    connection.database = url.path(QUrl::FullyDecoded).mid(1);
    QStringList extra{QStringLiteral("connect_timeout=%1").arg(std::max(1, options.connectTimeoutSeconds))};
    // A server that vanished without closing its sockets is noticed by the keepalives.
    extra << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=10")
          << QStringLiteral("keepalives_interval=2") << QStringLiteral("keepalives_count=3");
    const QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == u"host")
            connection.host = value;  // a socket folder
        else if (key == u"port")
            connection.port = value.toInt();
        else if (key == u"user")
            connection.user = value;
        else if (key == u"password")
            connection.password = value;
        else if (key == u"dbname")
            connection.database = value;
        else if (key == u"connect_timeout" || key.contains(u' ') || value.contains(u' ') || value.contains(u';'))
            continue;
        else
            extra << key + u'=' + value;
    }
    connection.options = extra.join(u';');
    return connection;
}

std::string str(const QVariant& value)
{
    return value.toString().toStdString();
}

QString qstr(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString centsText(const std::array<int, exercise::kPitchClasses>& cents)
{
    QStringList parts;
    for (int value : cents)
        parts << QString::number(value);
    return parts.join(u' ');
}

std::array<int, exercise::kPitchClasses> centsFrom(const QString& text)
{
    std::array<int, exercise::kPitchClasses> cents{};
    const QStringList parts = text.split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size() && i < qsizetype(cents.size()); ++i)
        cents[std::size_t(i)] = parts[i].toInt();
    return cents;
}

// What a table of posts shows (the board's, a name's).
const char* kListedColumns = "id, posted_at, score, level_index, reference_used, name, name_key, instrument";
// A whole post: the listed columns, then the rest.
const char* kPostColumns =
    "id, posted_at, score, level_index, reference_used, name, name_key, instrument, edition, user_cents, exact_cents, "
    "device, start_text, end_text, duration_text, report_text, fingerprint, password_hash IS NOT NULL";

// The fields of kListedColumns; every other field stays empty.
Post listedPostFrom(const QSqlQuery& query)
{
    Post post;
    post.id = query.value(0).toLongLong();
    post.postedAt = query.value(1).toLongLong();
    post.score = query.value(2).toInt();
    post.levelIndex = query.value(3).toInt();
    post.referenceUsed = query.value(4).toInt() != 0;
    post.name = str(query.value(5));
    post.nameKey = str(query.value(6));
    post.instrument = str(query.value(7));
    return post;
}

Post postFrom(const QSqlQuery& query)
{
    Post post = listedPostFrom(query);
    post.edition = query.value(8).toString() == u"en" ? Edition::English : Edition::Japanese;
    post.user = centsFrom(query.value(9).toString());
    post.exact = centsFrom(query.value(10).toString());
    post.device = str(query.value(11));
    post.startText = str(query.value(12));
    post.endText = str(query.value(13));
    post.durationText = str(query.value(14));
    post.reportText = str(query.value(15));
    post.fingerprint = str(query.value(16));
    post.deletable = query.value(17).toBool();
    return post;
}

struct Migration {
    int version;
    std::vector<const char*> sqlite;
    std::vector<const char*> postgres;  // empty: the same statements as SQLite's
    bool refillsRankings = false;  // the ranking table is filled from the posts after it
};

// Applied in order at open, each recorded with its version; never edited once released:
// a change of schema is a new entry.
const std::vector<Migration>& migrations()
{
    static const std::vector<Migration> list{
        {1,
         {
             "CREATE TABLE posts (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, name_key TEXT NOT NULL, "
             "posted_at BIGINT NOT NULL, edition TEXT NOT NULL, level_index INTEGER NOT NULL, reference_used INTEGER "
             "NOT NULL, score INTEGER NOT NULL, user_cents TEXT NOT NULL, exact_cents TEXT NOT NULL, device TEXT NOT "
             "NULL, instrument TEXT NOT NULL, start_text TEXT NOT NULL, end_text TEXT NOT NULL, duration_text TEXT NOT "
             "NULL, started_at BIGINT NOT NULL, ended_at BIGINT NOT NULL, version_line TEXT NOT NULL, report_text TEXT "
             "NOT NULL, fingerprint TEXT NOT NULL, password_hash TEXT)",
         },
         {
             "CREATE TABLE posts (id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, name TEXT NOT NULL, name_key "
             "TEXT NOT NULL, posted_at BIGINT NOT NULL, edition TEXT NOT NULL, level_index INTEGER NOT NULL, "
             "reference_used INTEGER NOT NULL, score INTEGER NOT NULL, user_cents TEXT NOT NULL, exact_cents TEXT NOT "
             "NULL, device TEXT NOT NULL, instrument TEXT NOT NULL, start_text TEXT NOT NULL, end_text TEXT NOT NULL, "
             "duration_text TEXT NOT NULL, started_at BIGINT NOT NULL, ended_at BIGINT NOT NULL, version_line TEXT NOT "
             "NULL, report_text TEXT NOT NULL, fingerprint TEXT NOT NULL, password_hash TEXT)",
         }},
        {2,
         {
             // One report once per name; a name's page; a group's rankings.
             "CREATE UNIQUE INDEX posts_name_report ON posts (name_key, fingerprint)",
             "CREATE INDEX posts_name ON posts (name_key, id)",
             "CREATE INDEX posts_group ON posts (level_index, reference_used, name_key, score)",
             "CREATE TABLE post_count (slot INTEGER PRIMARY KEY CHECK (slot = 1), n BIGINT NOT NULL)",
             "INSERT INTO post_count (slot, n) SELECT 1, count(*) FROM posts",
             "CREATE TABLE rate_hits (bucket TEXT NOT NULL, address_hash TEXT NOT NULL, window_start BIGINT NOT NULL, "
             "hits INTEGER NOT NULL, PRIMARY KEY (bucket, address_hash, window_start))",
             "CREATE INDEX rate_hits_age ON rate_hits (window_start)",
         },
         {}},
        {3,
         {
             // Each name's standing in each group, kept with the posts: the rankings read the
             // first names from here instead of every post of a group.
             "CREATE TABLE name_rankings (level_index INTEGER NOT NULL, reference_used INTEGER NOT NULL, name_key TEXT "
             "NOT NULL, name TEXT NOT NULL, best_id BIGINT NOT NULL, best_score INTEGER NOT NULL, best_posted_at BIGINT "
             "NOT NULL, median INTEGER, median_reached_at BIGINT, median_post_id BIGINT, PRIMARY KEY (level_index, "
             "reference_used, name_key))",
             "CREATE INDEX name_rankings_best ON name_rankings (level_index, reference_used, best_score DESC, "
             "best_posted_at, best_id)",
             "CREATE INDEX name_rankings_median ON name_rankings (level_index, reference_used, median DESC, "
             "median_reached_at, median_post_id)",
             "CREATE INDEX posts_group_recent ON posts (level_index, reference_used, name_key, posted_at, id)",
         },
         {},
         true},
        {4,
         {
             // A name's best post from the index alone, however many posts the name has.
             "CREATE INDEX posts_name_best ON posts (name_key, score DESC, posted_at, id)",
         },
         {}},
        {5,
         {
             // A name's chart from the index alone; a version that every post and deletion moves,
             // which copies of pages are checked against.
             "CREATE INDEX posts_name_scores ON posts (name_key, id, score, posted_at)",
             "DROP INDEX posts_name",
             "ALTER TABLE post_count ADD COLUMN version BIGINT NOT NULL DEFAULT 0",
         },
         {}},
    };
    return list;
}

// Thrown inside the store when a connection that worked was lost: the call is tried once more
// on a new connection before the caller hears "unavailable".
class ConnectionLost : public StoreUnavailable {
public:
    using StoreUnavailable::StoreUnavailable;
};

std::atomic<int> nextStoreSerial{1};
std::atomic<long long> nextConnectionSerial{1};

struct ThreadConnections {
    std::map<int, QString> names;  // by store
    ~ThreadConnections()
    {
        for (const auto& [store, name] : names)
            QSqlDatabase::removeDatabase(name);
    }
};
thread_local ThreadConnections threadConnections;

class SqlStore final : public Store {
public:
    SqlStore(Connection connection, StoreOptions options)
        : m_connection(std::move(connection)), m_options(std::move(options)), m_serial(nextStoreSerial++)
    {
        if (!m_options.clock)
            m_options.clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    }

    ~SqlStore() override
    {
        const std::lock_guard lock(m_mutex);
        for (const QString& name : m_connectionNames)
            QSqlDatabase::removeDatabase(name);
    }

    void initialise()
    {
        run([this](QSqlDatabase& db) {
            if (m_connection.backend == Backend::Sqlite) {
                // WAL: readers never wait for the writer, and a killed process loses no commit.
                QSqlQuery mode = exec(db, QStringLiteral("PRAGMA journal_mode=WAL"));
                if (!mode.next() || mode.value(0).toString().compare(u"wal", Qt::CaseInsensitive) != 0)
                    throw StoreError("the SQLite database cannot use write-ahead logging");
            }
            // One transaction: servers starting together migrate one after the other, and a
            // migration that fails leaves the database as it was.
            transaction(db, [&] {
                if (m_connection.backend == Backend::Postgres)
                    exec(db, QStringLiteral("SELECT pg_advisory_xact_lock(7310411)"));
                if (m_connection.backend == Backend::Postgres) {
                    // Asked first rather than CREATE .. IF NOT EXISTS, whose notice every start would log.
                    exec(db, QStringLiteral(
                                 "DO $$ BEGIN IF to_regclass('schema_migrations') IS NULL THEN CREATE TABLE schema_migrations "
                                 "(version INTEGER PRIMARY KEY, applied_at BIGINT NOT NULL); END IF; IF "
                                 "to_regclass('board_settings') IS NULL THEN CREATE TABLE board_settings (name TEXT PRIMARY "
                                 "KEY, value TEXT NOT NULL); END IF; END $$"));
                } else {
                    exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, "
                                            "applied_at BIGINT NOT NULL)"));
                    exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS board_settings (name TEXT PRIMARY KEY, value TEXT "
                                            "NOT NULL)"));
                }
                for (const Migration& migration : migrations()) {
                    QSqlQuery done = exec(db, QStringLiteral("SELECT count(*) FROM schema_migrations WHERE version = ?"),
                                          {migration.version});
                    const bool applied = done.next() && done.value(0).toInt() > 0;
                    // An unfinished read keeps SQLite from dropping anything ("table is locked").
                    done.finish();
                    if (applied)
                        continue;
                    for (const char* statement :
                         m_connection.backend == Backend::Sqlite || migration.postgres.empty() ? migration.sqlite
                                                                                               : migration.postgres)
                        exec(db, QString::fromUtf8(statement));
                    if (migration.refillsRankings) {
                        QSqlQuery keys = exec(db, QStringLiteral("SELECT DISTINCT level_index, reference_used, name_key "
                                                                 "FROM posts"));
                        std::vector<std::pair<RankingGroup, QString>> standings;
                        while (keys.next())
                            standings.push_back({{keys.value(0).toInt(), keys.value(1).toInt() != 0}, keys.value(2).toString()});
                        for (const auto& [group, key] : standings)
                            refreshRanking(db, group, key);
                    }
                    exec(db, QStringLiteral("INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)"),
                         {migration.version, qlonglong(m_options.clock())});
                }
            });
            QSqlQuery newer = exec(db, QStringLiteral("SELECT max(version) FROM schema_migrations"));
            if (newer.next() && newer.value(0).toInt() > migrations().back().version)
                throw StoreError("the database was made by a newer board (schema version " +
                                 std::to_string(newer.value(0).toInt()) + ")");

            if (!m_options.addressKey.empty()) {
                m_addressKey = secrets::keyFromText(m_options.addressKey);
                return;
            }
            const secrets::Key fresh = secrets::randomKey();
            transaction(db, [&] {
                exec(db, QStringLiteral("INSERT INTO board_settings (name, value) VALUES ('address_key', ?) "
                                        "ON CONFLICT (name) DO NOTHING"),
                     {QString::fromStdString(secrets::hex(fresh.data(), fresh.size()))});
            });
            QSqlQuery kept = exec(db, QStringLiteral("SELECT value FROM board_settings WHERE name = 'address_key'"));
            const std::optional<secrets::Key> key = kept.next() ? secrets::keyFromHex(str(kept.value(0))) : std::nullopt;
            if (!key)
                throw StoreError("the database's address key is unreadable");
            m_addressKey = *key;
        });
    }

    std::array<unsigned char, 32> derivedKey(std::string_view purpose) const override
    {
        return secrets::keyFromText(secrets::keyedHash(m_addressKey, purpose));
    }

    std::string_view backendName() const override
    {
        return m_connection.backend == Backend::Sqlite ? "sqlite" : "postgresql";
    }

    std::vector<AddedPost> addPosts(const CleanedName& name, std::span<const exercise::ParsedReport> reports,
                                    std::string_view password) override
    {
        if (!name.ok())
            throw StoreError("a post needs a usable name");
        // Hashing takes a tenth of a second on purpose: never inside the write lock.
        QVariant passwordHash;
        if (!password.empty()) {
            const std::string hash = secrets::hashPassword(password, m_options.passwordOpsLimit, m_options.passwordMemLimit);
            if (hash.empty())
                throw StoreError("the password could not be hashed");
            passwordHash = QString::fromStdString(hash);
        }
        return run([&](QSqlDatabase& db) {
            std::vector<AddedPost> added;
            const qlonglong now = m_options.clock();
            transaction(db, [&] {
                added.clear();
                int newPosts = 0;
                for (const exercise::ParsedReport& report : reports) {
                    QSqlQuery insert = exec(
                        db,
                        QStringLiteral(
                            "INSERT INTO posts (name, name_key, posted_at, edition, level_index, reference_used, score, "
                            "user_cents, exact_cents, device, instrument, start_text, end_text, duration_text, "
                            "started_at, ended_at, version_line, report_text, fingerprint, password_hash) VALUES "
                            "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                            "ON CONFLICT (name_key, fingerprint) DO NOTHING RETURNING id"),
                        {qstr(name.shown), qstr(name.key), now,
                         report.edition == Edition::English ? QStringLiteral("en") : QStringLiteral("ja"),
                         report.levelIndex, report.referenceUsed ? 1 : 0, report.score, centsText(report.user),
                         centsText(report.exact), qstr(report.device), qstr(report.instrument), qstr(report.startText),
                         qstr(report.endText), qstr(report.durationText), qlonglong(report.start.toMSecsSinceEpoch()),
                         qlonglong(report.end.toMSecsSinceEpoch()), qstr(report.versionLine), qstr(report.text),
                         qstr(report.fingerprint), passwordHash});
                    if (insert.next()) {
                        added.push_back({PostOutcome::Added, insert.value(0).toLongLong()});
                        ++newPosts;
                        continue;
                    }
                    QSqlQuery earlier = exec(db, QStringLiteral("SELECT id FROM posts WHERE name_key = ? AND fingerprint = ?"),
                                             {qstr(name.key), qstr(report.fingerprint)});
                    if (!earlier.next())
                        throw StoreError("a post was neither added nor found");
                    added.push_back({PostOutcome::AlreadyPosted, earlier.value(0).toLongLong()});
                }
                if (newPosts > 0) {
                    exec(db, QStringLiteral("UPDATE post_count SET n = n + ?, version = version + 1 WHERE slot = 1"),
                         {newPosts});
                    std::set<std::pair<int, bool>> groups;
                    for (const exercise::ParsedReport& report : reports)
                        groups.insert({report.levelIndex, report.referenceUsed});
                    for (const auto& [level, reference] : groups)
                        refreshRanking(db, {level, reference}, qstr(name.key));
                }
            });
            return added;
        });
    }

    BoardPage boardPage(std::int64_t beforeId, int limit) override
    {
        return run([&](QSqlDatabase& db) {
            BoardPage page;
            readTransaction(db, [&] {
                page = BoardPage{};
                page.state = readBoardState(db);
                QSqlQuery query =
                    beforeId > 0
                        ? exec(db, QStringLiteral("SELECT %1 FROM posts WHERE id < ? ORDER BY id DESC LIMIT ?")
                                       .arg(kListedColumns),
                               {qlonglong(beforeId), std::max(0, limit)})
                        : exec(db, QStringLiteral("SELECT %1 FROM posts ORDER BY id DESC LIMIT ?").arg(kListedColumns),
                               {std::max(0, limit)});
                while (query.next())
                    page.posts.push_back(listedPostFrom(query));
            });
            return page;
        });
    }

    BoardState boardState() override
    {
        return run([&](QSqlDatabase& db) { return readBoardState(db); });
    }

    BoardState readBoardState(QSqlDatabase& db)
    {
        QSqlQuery query = exec(db, QStringLiteral("SELECT n, version FROM post_count WHERE slot = 1"));
        if (!query.next())
            return {};
        return {query.value(0).toLongLong(), query.value(1).toLongLong()};
    }

    std::int64_t postCount() override
    {
        return run([&](QSqlDatabase& db) {
            QSqlQuery query = exec(db, QStringLiteral("SELECT n FROM post_count WHERE slot = 1"));
            return query.next() ? std::int64_t(query.value(0).toLongLong()) : std::int64_t(0);
        });
    }

    std::optional<Post> post(std::int64_t id) override
    {
        return run([&](QSqlDatabase& db) -> std::optional<Post> {
            QSqlQuery query = exec(db, QStringLiteral("SELECT %1 FROM posts WHERE id = ?").arg(kPostColumns), {qlonglong(id)});
            if (!query.next())
                return std::nullopt;
            return postFrom(query);
        });
    }

    NameSummary nameSummary(std::string_view nameKey, const NameQuery& wanted) override
    {
        return run([&](QSqlDatabase& db) {
            NameSummary summary;
            const QString key = qstr(nameKey);
            readTransaction(db, [&] {
                summary = NameSummary{};
                // Few statements: on PostgreSQL each is a round trip and a plan of its own.
                QSqlQuery ends = exec(db,
                                      QStringLiteral("SELECT count(*), min(id), max(id), (SELECT id FROM posts WHERE "
                                                     "name_key = ? ORDER BY score DESC, posted_at, id LIMIT 1) FROM posts "
                                                     "WHERE name_key = ?"),
                                      {key, key});
                if (!ends.next() || ends.value(0).toLongLong() == 0)
                    return;
                summary.postCount = ends.value(0).toLongLong();
                const qlonglong firstId = ends.value(1).toLongLong();
                const qlonglong lastId = ends.value(2).toLongLong();
                const qlonglong bestId = ends.value(3).toLongLong();
                QSqlQuery three = exec(db, QStringLiteral("SELECT %1 FROM posts WHERE id IN (?, ?, ?)").arg(kListedColumns),
                                       {firstId, bestId, lastId});
                while (three.next()) {
                    const Post post = listedPostFrom(three);
                    if (post.id == firstId)
                        summary.first = post;
                    if (post.id == bestId)
                        summary.best = post;
                    if (post.id == lastId)
                        summary.last = post;
                }
                // The chart's points come from the index alone, however far back they go.
                QSqlQuery scores = exec(db,
                                        QStringLiteral("SELECT id, score, posted_at FROM posts WHERE name_key = ? "
                                                       "ORDER BY id DESC LIMIT ?"),
                                        {key, qlonglong(wanted.chartPoints)});
                while (scores.next())
                    summary.scores.push_back({scores.value(0).toLongLong(), scores.value(1).toInt(),
                                              scores.value(2).toLongLong()});
                std::reverse(summary.scores.begin(), summary.scores.end());

                QSqlQuery page =
                    wanted.beforeId > 0
                        ? exec(db,
                               QStringLiteral("SELECT %1 FROM posts WHERE name_key = ? AND id < ? ORDER BY id DESC "
                                              "LIMIT ?")
                                   .arg(kListedColumns),
                               {key, qlonglong(wanted.beforeId), qlonglong(wanted.pageSize + 1)})
                        : exec(db,
                               QStringLiteral("SELECT %1 FROM posts WHERE name_key = ? ORDER BY id DESC LIMIT ?")
                                   .arg(kListedColumns),
                               {key, qlonglong(wanted.pageSize + 1)});
                while (page.next())
                    summary.page.push_back(listedPostFrom(page));
                if (summary.page.size() > wanted.pageSize) {
                    summary.page.resize(wanted.pageSize);
                    summary.olderBefore = summary.page.empty() ? 0 : summary.page.back().id;
                }

                QSqlQuery averaged = exec(db,
                                          QStringLiteral("SELECT user_cents, exact_cents FROM posts WHERE name_key = ? "
                                                         "ORDER BY id DESC LIMIT ?"),
                                          {key, qlonglong(kAveragedPosts)});
                std::vector<Post> newestFirst;
                while (averaged.next()) {
                    Post post;
                    post.user = centsFrom(averaged.value(0).toString());
                    post.exact = centsFrom(averaged.value(1).toString());
                    newestFirst.push_back(post);
                }
                const std::vector<Post> oldestFirst(newestFirst.rbegin(), newestFirst.rend());
                summary.miss = missProfile(oldestFirst);
            });
            return summary;
        });
    }

    std::vector<RankingRow> rankingRows(RankingGroup group) override
    {
        return run([&](QSqlDatabase& db) {
            QSqlQuery query = exec(
                db,
                QStringLiteral(
                    "SELECT id, name, name_key, score, posted_at FROM ("
                    " SELECT id, name, name_key, score, posted_at,"
                    "  ROW_NUMBER() OVER (PARTITION BY name_key ORDER BY posted_at DESC, id DESC) AS newest,"
                    "  ROW_NUMBER() OVER (PARTITION BY name_key ORDER BY score DESC, posted_at, id) AS best"
                    " FROM posts WHERE level_index = ? AND reference_used = ?) ranked"
                    " WHERE newest <= ? OR best = 1"),
                {group.levelIndex, group.referenceUsed ? 1 : 0, int(kMedianPosts)});
            std::vector<RankingRow> rows;
            while (query.next())
                rows.push_back({query.value(0).toLongLong(), str(query.value(1)), str(query.value(2)),
                                query.value(3).toInt(), query.value(4).toLongLong()});
            return rows;
        });
    }

    std::vector<RankingRow> rankingRows(RankingGroup group, std::size_t limit) override
    {
        return run([&](QSqlDatabase& db) {
            const QVariantList where{group.levelIndex, group.referenceUsed ? 1 : 0, qlonglong(limit)};
            std::vector<RankingRow> rows;
            std::set<std::int64_t> seen;
            auto take = [&](QSqlQuery& query) {
                while (query.next()) {
                    RankingRow row{query.value(0).toLongLong(), str(query.value(1)), str(query.value(2)),
                                   query.value(3).toInt(), query.value(4).toLongLong()};
                    if (seen.insert(row.postId).second)
                        rows.push_back(std::move(row));
                }
            };
            readTransaction(db, [&] {
                rows.clear();
                seen.clear();
                QSqlQuery best = exec(db,
                                      QStringLiteral("SELECT p.id, p.name, p.name_key, p.score, p.posted_at FROM "
                                                     "(SELECT best_id FROM name_rankings WHERE level_index = ? AND "
                                                     "reference_used = ? ORDER BY best_score DESC, best_posted_at, best_id "
                                                     "LIMIT ?) r JOIN posts p ON p.id = r.best_id"),
                                      where);
                take(best);
                QSqlQuery medians = exec(db,
                                         QStringLiteral("SELECT name_key FROM name_rankings WHERE level_index = ? AND "
                                                        "reference_used = ? AND median IS NOT NULL ORDER BY median DESC, "
                                                        "median_reached_at, median_post_id LIMIT ?"),
                                         where);
                QVariantList values{group.levelIndex, group.referenceUsed ? 1 : 0};
                QStringList placeholders;
                while (medians.next()) {
                    values << medians.value(0);
                    placeholders << QStringLiteral("?");
                }
                if (placeholders.isEmpty())
                    return;
                // The last posts of those names in one statement.
                values << int(kMedianPosts);
                QSqlQuery lastFive = exec(db,
                                          QStringLiteral("SELECT id, name, name_key, score, posted_at FROM (SELECT id, name, "
                                                         "name_key, score, posted_at, ROW_NUMBER() OVER (PARTITION BY "
                                                         "name_key ORDER BY posted_at DESC, id DESC) AS newest FROM posts "
                                                         "WHERE level_index = ? AND reference_used = ? AND name_key IN (%1)) "
                                                         "recent WHERE newest <= ?")
                                              .arg(placeholders.join(u", ")),
                                          values);
                take(lastFive);
            });
            return rows;
        });
    }

    DeleteOutcome deletePost(std::int64_t id, std::string_view password) override
    {
        struct Found {
            QVariant hash;
            RankingGroup group;
            QString nameKey;
        };
        const std::optional<Found> found = run([&](QSqlDatabase& db) -> std::optional<Found> {
            QSqlQuery query = exec(
                db, QStringLiteral("SELECT password_hash, level_index, reference_used, name_key FROM posts WHERE id = ?"),
                {qlonglong(id)});
            if (!query.next())
                return std::nullopt;
            return Found{query.value(0), {query.value(1).toInt(), query.value(2).toInt() != 0}, query.value(3).toString()};
        });
        const std::optional<QVariant> hash = found ? std::optional<QVariant>(found->hash) : std::nullopt;
        if (!hash)
            return DeleteOutcome::NotFound;
        if (hash->isNull())
            return DeleteOutcome::NoPassword;
        // Checked outside any transaction: it takes a tenth of a second on purpose.
        if (password.empty() || !secrets::passwordMatches(str(*hash), password))
            return DeleteOutcome::WrongPassword;
        return run([&](QSqlDatabase& db) {
            bool deleted = false;
            transaction(db, [&] {
                QSqlQuery remove =
                    exec(db, QStringLiteral("DELETE FROM posts WHERE id = ? AND password_hash = ?"), {qlonglong(id), *hash});
                deleted = remove.numRowsAffected() > 0;
                if (deleted) {
                    exec(db, QStringLiteral("UPDATE post_count SET n = n - 1, version = version + 1 WHERE slot = 1"));
                    refreshRanking(db, found->group, found->nameKey);
                }
            });
            return deleted ? DeleteOutcome::Deleted : DeleteOutcome::NotFound;
        });
    }

    RateDecision hit(std::string_view bucket, std::string_view clientAddress, int limit, int windowSeconds) override
    {
        windowSeconds = std::max(1, windowSeconds);
        const std::int64_t nowSeconds = m_options.clock() / 1000;
        const std::int64_t windowStart = nowSeconds - nowSeconds % windowSeconds;
        const QString address = QString::fromStdString(secrets::keyedHash(m_addressKey, clientAddress));
        return run([&](QSqlDatabase& db) {
            int hits = 0;
            transaction(db, [&] {
                QSqlQuery count = exec(db,
                                       QStringLiteral("INSERT INTO rate_hits (bucket, address_hash, window_start, hits) "
                                                      "VALUES (?, ?, ?, 1) ON CONFLICT (bucket, address_hash, window_start) "
                                                      "DO UPDATE SET hits = rate_hits.hits + 1 RETURNING hits"),
                                       {qstr(bucket), address, qlonglong(windowStart)});
                hits = count.next() ? count.value(0).toInt() : 0;
                // A new window: the ones before the last are of no more use to anyone.
                if (hits == 1)
                    exec(db, QStringLiteral("DELETE FROM rate_hits WHERE bucket = ? AND window_start < ?"),
                         {qstr(bucket), qlonglong(windowStart - windowSeconds)});
            });
            RateDecision decision;
            decision.count = hits;
            decision.allowed = hits <= limit;
            if (!decision.allowed)
                decision.retryAfterSeconds = int(windowStart + windowSeconds - nowSeconds);
            return decision;
        });
    }

    void exportPosts(std::optional<std::string> nameKey, const std::function<bool(const Post&)>& each) override
    {
        constexpr int kBatch = 500;
        std::int64_t after = 0;
        while (true) {
            const std::vector<Post> batch = run([&](QSqlDatabase& db) {
                QSqlQuery query =
                    nameKey ? exec(db,
                                   QStringLiteral("SELECT %1 FROM posts WHERE name_key = ? AND id > ? ORDER BY id LIMIT ?")
                                       .arg(kPostColumns),
                                   {qstr(*nameKey), qlonglong(after), kBatch})
                            : exec(db, QStringLiteral("SELECT %1 FROM posts WHERE id > ? ORDER BY id LIMIT ?").arg(kPostColumns),
                                   {qlonglong(after), kBatch});
                std::vector<Post> posts;
                while (query.next())
                    posts.push_back(postFrom(query));
                return posts;
            });
            for (const Post& post : batch)
                if (!each(post))
                    return;
            if (batch.size() < std::size_t(kBatch))
                return;
            after = batch.back().id;
        }
    }

    int schemaVersion() override
    {
        return run([&](QSqlDatabase& db) {
            QSqlQuery query = exec(db, QStringLiteral("SELECT max(version) FROM schema_migrations"));
            return query.next() ? query.value(0).toInt() : 0;
        });
    }

private:
    // A name's standing in one group, worked out by the ranking rules from its best post and
    // its last posts, inside the transaction that changed them.
    void refreshRanking(QSqlDatabase& db, RankingGroup group, const QString& nameKey)
    {
        const QVariantList where{group.levelIndex, group.referenceUsed ? 1 : 0, nameKey};
        std::vector<RankingRow> rows;
        auto take = [&rows](QSqlQuery& query) {
            while (query.next())
                rows.push_back({query.value(0).toLongLong(), str(query.value(1)), str(query.value(2)),
                                query.value(3).toInt(), query.value(4).toLongLong()});
        };
        QSqlQuery newest = exec(db,
                                QStringLiteral("SELECT id, name, name_key, score, posted_at FROM posts WHERE level_index = ? "
                                               "AND reference_used = ? AND name_key = ? ORDER BY posted_at DESC, id DESC "
                                               "LIMIT ?"),
                                where + QVariantList{int(kMedianPosts)});
        take(newest);
        if (rows.empty()) {
            exec(db,
                 QStringLiteral("DELETE FROM name_rankings WHERE level_index = ? AND reference_used = ? AND name_key = ?"),
                 where);
            return;
        }
        const std::string shownName = rows.front().name;
        QSqlQuery best = exec(db,
                              QStringLiteral("SELECT id, name, name_key, score, posted_at FROM posts WHERE level_index = ? "
                                             "AND reference_used = ? AND name_key = ? ORDER BY score DESC, posted_at, id "
                                             "LIMIT 1"),
                              where);
        take(best);
        if (std::count_if(rows.begin(), rows.end(), [&](const RankingRow& row) { return row.postId == rows.back().postId; }) > 1)
            rows.pop_back();  // the best post is one of the newest
        const Ranking standing = rank(group, rows, 1);
        const RankingRow& top = standing.best.at(0).post;
        QVariant median, reachedAt, medianPost;
        if (!standing.median.empty()) {
            median = standing.median[0].median;
            reachedAt = qlonglong(standing.median[0].reachedAt);
            medianPost = qlonglong(standing.median[0].lastPostId);
        }
        exec(db,
             QStringLiteral("INSERT INTO name_rankings (level_index, reference_used, name_key, name, best_id, best_score, "
                            "best_posted_at, median, median_reached_at, median_post_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                            "ON CONFLICT (level_index, reference_used, name_key) DO UPDATE SET name = excluded.name, "
                            "best_id = excluded.best_id, best_score = excluded.best_score, best_posted_at = "
                            "excluded.best_posted_at, median = excluded.median, median_reached_at = "
                            "excluded.median_reached_at, median_post_id = excluded.median_post_id"),
             where + QVariantList{qstr(shownName), qlonglong(top.postId), top.score, qlonglong(top.postedAt), median,
                                  reachedAt, medianPost});
    }

    // This thread's connection, opened if it is not. Qt SQL connections belong to the thread
    // that made them; each is named once and forgotten when its thread ends.
    QSqlDatabase connection(bool& reused)
    {
        QString& name = threadConnections.names[m_serial];
        QSqlDatabase db;
        if (!name.isEmpty() && QSqlDatabase::contains(name)) {
            db = QSqlDatabase::database(name, false);
        } else {
            name = QStringLiteral("velmora-board-%1-%2").arg(m_serial).arg(nextConnectionSerial++);
            db = QSqlDatabase::addDatabase(m_connection.driver, name);
            db.setDatabaseName(m_connection.database);
            if (!m_connection.host.isEmpty())
                db.setHostName(m_connection.host);
            if (m_connection.port > 0)
                db.setPort(m_connection.port);
            if (!m_connection.user.isEmpty())
                db.setUserName(m_connection.user);
            if (!m_connection.password.isEmpty())
                db.setPassword(m_connection.password);
            db.setConnectOptions(m_connection.options);
            const std::lock_guard lock(m_mutex);
            m_connectionNames.insert(name);
        }
        reused = db.isOpen();
        if (reused)
            return db;
        if (!db.open())
            throw StoreUnavailable("cannot open the database: " + db.lastError().text().toStdString());
        if (m_connection.backend == Backend::Sqlite) {
            // FULL: an acknowledged post survives a power cut too, not only a killed process.
            exec(db, QStringLiteral("PRAGMA synchronous=FULL"));
            exec(db, QStringLiteral("PRAGMA busy_timeout=%1").arg(m_options.busyTimeoutMilliseconds));
        }
        return db;
    }

    // Runs `body` on this thread's connection; a connection lost since its last use is replaced
    // and the body run once more, so a database restart costs no request that comes after it.
    template <class Body>
    std::invoke_result_t<Body&, QSqlDatabase&> run(Body&& body)
    {
        for (int attempt = 0;; ++attempt) {
            bool reused = false;
            QSqlDatabase db = connection(reused);
            try {
                return body(db);
            } catch (const ConnectionLost& lost) {
                if (!reused || attempt > 0)
                    throw StoreUnavailable(lost.what());
            }
        }
    }

    // SQLite takes the write lock at BEGIN IMMEDIATE, so two writers never deadlock half-way.
    // Writers of this process queue on a mutex first: SQLite's own wait for the lock polls with
    // sleeps of up to 100 ms, which under a stream of posts gave waits of seconds.
    template <class Body>
    void transaction(QSqlDatabase& db, Body&& body)
    {
        std::unique_lock<std::mutex> writer(m_sqliteWriter, std::defer_lock);
        if (m_connection.backend == Backend::Sqlite)
            writer.lock();
        exec(db, m_connection.backend == Backend::Sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
        try {
            body();
            exec(db, QStringLiteral("COMMIT"));
        } catch (...) {
            rollback(db);
            throw;
        }
    }

    // Several reads that must see one state of the database.
    template <class Body>
    void readTransaction(QSqlDatabase& db, Body&& body)
    {
        exec(db, m_connection.backend == Backend::Sqlite ? QStringLiteral("BEGIN")
                                                          : QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        try {
            body();
            exec(db, QStringLiteral("COMMIT"));
        } catch (...) {
            rollback(db);
            throw;
        }
    }

    void rollback(QSqlDatabase& db)
    {
        if (!db.isOpen())
            return;
        QSqlQuery query(db);
        query.exec(QStringLiteral("ROLLBACK"));
    }

    // Values are bound, never pasted into the text. SQLite binds them itself; QPSQL would bind
    // through PREPARE/EXECUTE, server-side statements that a transaction-pooling proxy hands to
    // the wrong session, so for PostgreSQL they are written as escaped literals (E'..', every
    // backslash and quote doubled; numbers as numbers) in one simple query, as libpq clients of
    // such proxies do.
    QSqlQuery exec(QSqlDatabase& db, const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        bool ok = false;
        if (m_connection.backend == Backend::Sqlite) {
            if (values.isEmpty()) {
                ok = query.exec(sql);
            } else {
                ok = query.prepare(sql);
                for (const QVariant& value : values)
                    query.addBindValue(value);
                ok = ok && query.exec();
            }
        } else {
            ok = query.exec(withLiterals(sql, values));
        }
        if (!ok)
            fail(db, query.lastError(), sql);
        return query;
    }

    static QString literal(const QVariant& value)
    {
        if (value.isNull())
            return QStringLiteral("NULL");
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            return QString::number(value.toLongLong());
        case QMetaType::Bool:
            return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        case QMetaType::QString: {
            QString text = value.toString();
            if (text.contains(QChar(0)))
                throw StoreError("a text with a NUL character");
            text.replace(u'\\', QStringLiteral("\\\\"));
            text.replace(u'\'', QStringLiteral("''"));
            return QStringLiteral("E'") + text + u'\'';
        }
        default:
            throw StoreError("a value of a type the store does not write");
        }
    }

    static QString withLiterals(const QString& sql, const QVariantList& values)
    {
        QString text;
        text.reserve(sql.size() + 64 * values.size());
        qsizetype next = 0;
        for (QChar c : sql) {
            if (c != u'?') {
                text += c;
                continue;
            }
            if (next >= values.size())
                throw StoreError("fewer values than placeholders");
            text += literal(values[next++]);
        }
        if (next != values.size())
            throw StoreError("more values than placeholders");
        return text;
    }

    // Tells a database that is away (stopped, restarting, unreachable, locked too long) from one
    // that refused the statement.
    [[noreturn]] void fail(QSqlDatabase& db, const QSqlError& error, const QString& sql)
    {
        const QString code = error.nativeErrorCode();
        const std::string message = error.text().toStdString();
        if (m_connection.backend == Backend::Sqlite) {
            // Another writer held on past the wait (BUSY, LOCKED), or the file cannot be written
            // now (IOERR, FULL, CANTOPEN): states an operator or time clears, not faults of
            // the statement. Qt files some statement failures as connection errors, so only the
            // code counts.
            bool number = false;
            const int primary = code.toInt(&number) & 0xFF;
            if (number && (primary == 5 || primary == 6 || primary == 10 || primary == 13 || primary == 14))
                throw StoreUnavailable("the database is unavailable: " + message);
            throw StoreError(message + " in: " + sql.left(120).toStdString());
        }
        // Connection exceptions, the server shutting down or not yet up, too many clients.
        const bool away = code.startsWith(u"08") || code == u"57P01" || code == u"57P02" || code == u"57P03" ||
                          code == u"53300" || error.type() == QSqlError::ConnectionError;
        bool lost = away;
        if (!lost && code.isEmpty()) {
            // libpq's own failures ("server closed the connection unexpectedly") carry no SQL
            // state: ask the connection whether it still answers.
            QSqlQuery probe(db);
            lost = !probe.exec(QStringLiteral("SELECT 1"));
        }
        if (lost) {
            db.close();
            throw ConnectionLost("the database is unavailable: " + message);
        }
        throw StoreError(message + " in: " + sql.left(120).toStdString());
    }

    Connection m_connection;
    StoreOptions m_options;
    int m_serial;
    secrets::Key m_addressKey{};
    std::mutex m_mutex;
    std::set<QString> m_connectionNames;
    std::mutex m_sqliteWriter;
};

}  // namespace

OpenResult Store::open(const StoreOptions& options)
{
    OpenResult result;
    if (!QCoreApplication::instance()) {
        result.error = "the store needs a QCoreApplication to load its database driver";
        return result;
    }
    if (!secrets::ready()) {
        result.error = "libsodium cannot be initialised";
        return result;
    }
    std::optional<Connection> connection = parseConnection(options, result.error);
    if (!connection)
        return result;
    if (!QSqlDatabase::isDriverAvailable(connection->driver)) {
        result.error = "Qt SQL has no " + connection->driver.toStdString() + " driver (install libqt6sql6-" +
                       (connection->backend == Backend::Sqlite ? "sqlite" : "psql") + ")";
        return result;
    }
    auto store = std::make_shared<SqlStore>(std::move(*connection), options);
    try {
        store->initialise();
    } catch (const StoreUnavailable& unavailable) {
        result.error = unavailable.what();
        result.unavailable = true;
        return result;
    } catch (const std::exception& error) {
        result.error = error.what();
        return result;
    }
    result.store = std::move(store);
    return result;
}

}  // namespace velmora::board
