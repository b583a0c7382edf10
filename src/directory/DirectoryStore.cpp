// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/DirectoryStore.h"

#include <sqlite3.h>

#include <utility>

namespace vx::directory {

namespace {

// Each step of the schema, applied in order inside one transaction; the version table says how many
// have been applied. A new step goes at the end and is never changed once released.
constexpr const char* kMigrations[] = {
    "CREATE TABLE stations ("
    " name TEXT NOT NULL, name_key TEXT NOT NULL PRIMARY KEY, password_hash TEXT NOT NULL,"
    " email TEXT NOT NULL, port INTEGER NOT NULL, registered_at INTEGER NOT NULL,"
    " registered_from TEXT NOT NULL,"
    " on_air INTEGER NOT NULL DEFAULT 0, address TEXT NOT NULL DEFAULT '',"
    " listener_port INTEGER NOT NULL DEFAULT 0, on_air_since INTEGER NOT NULL DEFAULT 0,"
    " last_status INTEGER NOT NULL DEFAULT 0, listeners INTEGER NOT NULL DEFAULT 0,"
    " listeners_at INTEGER NOT NULL DEFAULT 0, reachable INTEGER NOT NULL DEFAULT 0,"
    " check_failures INTEGER NOT NULL DEFAULT 0, last_check INTEGER NOT NULL DEFAULT 0,"
    " stream_url TEXT NOT NULL DEFAULT '', now_playing TEXT NOT NULL DEFAULT '',"
    " listener_limit INTEGER NOT NULL DEFAULT -1);"
    "CREATE TABLE bans (name_key TEXT NOT NULL PRIMARY KEY, name TEXT NOT NULL, reason TEXT NOT NULL,"
    " banned_at INTEGER NOT NULL);"
    "CREATE TABLE registrations (address TEXT NOT NULL, at INTEGER NOT NULL);"
    "CREATE INDEX registrations_by_address ON registrations (address, at);",
};
constexpr int kKnownVersion = int(std::size(kMigrations));
static_assert(kKnownVersion == DirectoryStore::kSchemaVersion);

const char* kColumns =
    "SELECT s.name, s.name_key, s.password_hash, s.email, s.port, s.on_air, s.address, s.listener_port,"
    " s.on_air_since, s.last_status, s.listeners, s.listeners_at, s.reachable, s.check_failures,"
    " s.last_check, s.stream_url, s.now_playing, coalesce(b.reason, ''), s.listener_limit"
    " FROM stations s LEFT JOIN bans b ON b.name_key = s.name_key ";

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
            throw StoreError(std::string("database: ") + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(const std::string& text) {
        sqlite3_bind_text(stmt_, ++index_, text.data(), int(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int64_t value) {
        sqlite3_bind_int64(stmt_, ++index_, value);
        return *this;
    }
    // True while a row is there.
    bool step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            throw StoreError(std::string("database: ") + sqlite3_errmsg(db_));
        }
        return false;
    }
    int64_t integer(int column) { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p == nullptr ? std::string()
                            : std::string(p, std::size_t(sqlite3_column_bytes(stmt_, column)));
    }
    int changes() { return sqlite3_changes(db_); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int index_ = 0;
};

StationRecord readStation(Statement& s) {
    StationRecord r;
    r.name = s.text(0);
    r.nameKey = s.text(1);
    r.passwordHash = s.text(2);
    r.email = s.text(3);
    r.port = int(s.integer(4));
    r.onAir = s.integer(5) != 0;
    r.address = s.text(6);
    r.listenerPort = int(s.integer(7));
    r.onAirSince = s.integer(8);
    r.lastStatus = s.integer(9);
    r.listeners = int(s.integer(10));
    r.listenersAt = s.integer(11);
    r.reachable = s.integer(12) != 0;
    r.checkFailures = int(s.integer(13));
    r.lastCheck = s.integer(14);
    r.streamUrl = s.text(15);
    r.nowPlaying = s.text(16);
    r.banReason = s.text(17);
    r.listenerLimit = int(s.integer(18));
    return r;
}

std::vector<StationRecord> readAll(Statement& s) {
    std::vector<StationRecord> out;
    while (s.step()) {
        out.push_back(readStation(s));
    }
    return out;
}

}  // namespace

DirectoryStore::DirectoryStore(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError(path + ": " + reason);
    }
    sqlite3_busy_timeout(db_, 5000);  // an --admin command beside the running server
    try {
        migrate(path);
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

DirectoryStore::~DirectoryStore() {
    sqlite3_close(db_);
}

void DirectoryStore::exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string reason = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw StoreError("database: " + reason);
    }
}

void DirectoryStore::migrate(const std::string& path) {
    // The version is read before anything is written: a newer schema is refused untouched (switching
    // to WAL would already write the file's header).
    int version = 0;
    try {
        Statement exists(
            db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'");
        exists.step();
        if (exists.integer(0) != 0) {
            Statement read(db_, "SELECT version FROM schema_version");
            version = read.step() ? int(read.integer(0)) : 0;
        } else {
            Statement tables(db_, "SELECT count(*) FROM sqlite_master");
            tables.step();
            if (tables.integer(0) != 0) {
                throw StoreError(path + ": a database of another program (no schema_version table)");
            }
        }
    } catch (const StoreError& e) {
        const std::string what = e.what();
        throw StoreError(what.starts_with(path) ? what : path + ": " + what);
    }
    if (version > kKnownVersion) {
        throw StoreError(path + ": schema version " + std::to_string(version) +
                         " is newer than this program's " + std::to_string(kKnownVersion) +
                         "; the database is left untouched");
    }
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = NORMAL");
    if (version == kKnownVersion) {
        return;
    }
    exec("BEGIN IMMEDIATE");
    try {
        exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        for (int step = version; step < kKnownVersion; ++step) {
            exec(kMigrations[step]);
        }
        exec("DELETE FROM schema_version");
        Statement(db_, "INSERT INTO schema_version (version) VALUES (?)").bind(int64_t(kKnownVersion)).step();
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::optional<StationRecord> DirectoryStore::find(const std::string& nameKey) {
    std::lock_guard lock(mutex_);
    Statement s(db_, std::string(kColumns) + "WHERE s.name_key = ?");
    s.bind(nameKey);
    if (!s.step()) {
        return std::nullopt;
    }
    return readStation(s);
}

std::optional<std::string> DirectoryStore::banReason(const std::string& nameKey) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT reason FROM bans WHERE name_key = ?");
    s.bind(nameKey);
    if (!s.step()) {
        return std::nullopt;
    }
    return s.text(0);
}

bool DirectoryStore::insert(const std::string& name, const std::string& nameKey,
                            const std::string& passwordHash, const std::string& email, int port,
                            const std::string& fromAddress, int64_t now) {
    std::lock_guard lock(mutex_);
    exec("BEGIN IMMEDIATE");
    try {
        Statement s(
            db_,
            "INSERT OR IGNORE INTO stations (name, name_key, password_hash, email, port, registered_at,"
            " registered_from) VALUES (?, ?, ?, ?, ?, ?, ?)");
        s.bind(name)
            .bind(nameKey)
            .bind(passwordHash)
            .bind(email)
            .bind(int64_t(port))
            .bind(now)
            .bind(fromAddress);
        s.step();
        const bool inserted = s.changes() == 1;
        if (inserted) {
            Statement(db_, "INSERT INTO registrations (address, at) VALUES (?, ?)")
                .bind(fromAddress)
                .bind(now)
                .step();
            Statement(db_, "DELETE FROM registrations WHERE at < ?").bind(now - 86400).step();
        }
        exec("COMMIT");
        return inserted;
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void DirectoryStore::updateRegistration(const std::string& nameKey, const std::string& email, int port) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE stations SET email = ?, port = ? WHERE name_key = ?")
        .bind(email)
        .bind(int64_t(port))
        .bind(nameKey)
        .step();
}

bool DirectoryStore::remove(const std::string& nameKey) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "DELETE FROM stations WHERE name_key = ?");
    s.bind(nameKey).step();
    return s.changes() > 0;
}

void DirectoryStore::setOnAir(const std::string& nameKey, const std::string& address, int port, int64_t now) {
    std::lock_guard lock(mutex_);
    Statement(
        db_,
        "UPDATE stations SET"
        " reachable = CASE WHEN address = ?1 AND listener_port = ?2 THEN reachable ELSE 0 END,"
        " check_failures = CASE WHEN address = ?1 AND listener_port = ?2 THEN check_failures ELSE 0 END,"
        " stream_url = CASE WHEN address = ?1 AND listener_port = ?2 THEN stream_url ELSE '' END,"
        " on_air_since = CASE WHEN on_air = 1 AND last_status >= ?3 - ?4 THEN on_air_since ELSE ?3 END,"
        " on_air = 1, address = ?1, listener_port = ?2, last_status = ?3 WHERE name_key = ?5")
        .bind(address)
        .bind(int64_t(port))
        .bind(now)
        .bind(kExpirySeconds)
        .bind(nameKey)
        .step();
}

void DirectoryStore::setOff(const std::string& nameKey) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE stations SET on_air = 0, listeners = 0 WHERE name_key = ?").bind(nameKey).step();
}

void DirectoryStore::setListeners(const std::string& nameKey, int listeners, int64_t now) {
    std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE stations SET listeners = ?, listeners_at = ? WHERE name_key = ?")
        .bind(int64_t(listeners))
        .bind(now)
        .bind(nameKey)
        .step();
}

void DirectoryStore::recordCheck(const std::string& nameKey, const std::string& address, int port,
                                 const CheckResult& result, int64_t now) {
    std::lock_guard lock(mutex_);
    if (result.reached) {
        Statement(
            db_,
            "UPDATE stations SET reachable = 1, check_failures = 0, last_check = ?, stream_url = ?,"
            " now_playing = ?, listener_limit = ? WHERE name_key = ? AND address = ? AND listener_port = ?")
            .bind(now)
            .bind(result.streamUrl)
            .bind(result.nowPlaying)
            .bind(int64_t(result.listenerLimit))
            .bind(nameKey)
            .bind(address)
            .bind(int64_t(port))
            .step();
        return;
    }
    Statement(db_,
              "UPDATE stations SET check_failures = check_failures + 1, last_check = ?,"
              " reachable = CASE WHEN check_failures + 1 >= 2 THEN 0 ELSE reachable END"
              " WHERE name_key = ? AND address = ? AND listener_port = ?")
        .bind(now)
        .bind(nameKey)
        .bind(address)
        .bind(int64_t(port))
        .step();
}

int DirectoryStore::registrationsFrom(const std::string& address, int64_t since) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT count(*) FROM registrations WHERE address = ? AND at >= ?");
    s.bind(address).bind(since).step();
    return int(s.integer(0));
}

std::vector<StationRecord> DirectoryStore::listed(int64_t now) {
    std::lock_guard lock(mutex_);
    Statement s(db_,
                std::string(kColumns) +
                    "WHERE s.on_air = 1 AND s.last_status >= ? AND s.reachable = 1 AND b.reason IS NULL"
                    " ORDER BY CASE WHEN s.listeners_at >= ? THEN s.listeners ELSE 0 END DESC, s.name_key");
    s.bind(now - kExpirySeconds).bind(now - kListenersFreshSeconds);
    return readAll(s);
}

std::vector<StationRecord> DirectoryStore::dueForCheck(int64_t now, int64_t age) {
    std::lock_guard lock(mutex_);
    Statement s(db_,
                std::string(kColumns) + "WHERE s.on_air = 1 AND s.last_status >= ? AND s.last_check < ?");
    s.bind(now - kExpirySeconds).bind(now - age);
    return readAll(s);
}

std::vector<StationRecord> DirectoryStore::all() {
    std::lock_guard lock(mutex_);
    Statement s(db_, std::string(kColumns) + "ORDER BY s.name_key");
    return readAll(s);
}

void DirectoryStore::ban(const std::string& name, const std::string& nameKey, const std::string& reason,
                         int64_t now) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT OR REPLACE INTO bans (name_key, name, reason, banned_at) VALUES (?, ?, ?, ?)")
        .bind(nameKey)
        .bind(name)
        .bind(reason)
        .bind(now)
        .step();
}

bool DirectoryStore::unban(const std::string& nameKey) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "DELETE FROM bans WHERE name_key = ?");
    s.bind(nameKey).step();
    return s.changes() > 0;
}

}  // namespace vx::directory
