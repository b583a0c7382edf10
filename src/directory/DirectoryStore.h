// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The directory's one store: an SQLite file in WAL mode, its schema created and migrated here.
//
// Durability: every change is its own transaction, committed before the answer goes out. WAL with
// synchronous=NORMAL: a commit has reached the operating system when the call returns, so a killed
// process (kill -9, a crash) loses nothing it acknowledged; only a power loss or a kernel crash can take
// the last commits back. FULL would add an fsync to every listener count (one per station a minute)
// for that case alone.
//
// Thread contract: every member may be called from any thread; one mutex serialises them.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace vx::directory {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct StationRecord {
    std::string name;
    std::string nameKey;
    std::string passwordHash;
    std::string email;
    int port = 0;  // as registered
    bool onAir = false;
    std::string address;  // where the last status report came from
    int listenerPort = 0;
    int64_t onAirSince = 0;
    int64_t lastStatus = 0;
    int listeners = 0;
    int64_t listenersAt = 0;
    bool reachable = false;
    int checkFailures = 0;
    int64_t lastCheck = 0;
    std::string streamUrl;
    std::string nowPlaying;
    int listenerLimit = -1;  // -1: none known
    std::string banReason;   // empty: not banned
};

struct CheckResult {
    bool reached = false;
    std::string streamUrl;  // empty: no web port answered for this station
    std::string nowPlaying;
    int listenerLimit = -1;
};

class DirectoryStore {
public:
    static constexpr int kSchemaVersion = 1;
    // A status report older than this (two missed quarter-hour reports and two minutes) is off the air.
    static constexpr int64_t kExpirySeconds = 1920;
    // A listener count older than this is not shown.
    static constexpr int64_t kListenersFreshSeconds = 180;

    // Opens or creates the file. Throws StoreError: unreadable, not a database, or a newer schema (the
    // file is then left exactly as it was).
    explicit DirectoryStore(const std::string& path);
    ~DirectoryStore();
    DirectoryStore(const DirectoryStore&) = delete;
    DirectoryStore& operator=(const DirectoryStore&) = delete;

    std::optional<StationRecord> find(const std::string& nameKey);
    // The reason of a ban of this name, registered or not.
    std::optional<std::string> banReason(const std::string& nameKey);
    // False when the name was taken meanwhile.
    bool insert(const std::string& name, const std::string& nameKey, const std::string& passwordHash,
                const std::string& email, int port, const std::string& fromAddress, int64_t now);
    void updateRegistration(const std::string& nameKey, const std::string& email, int port);
    bool remove(const std::string& nameKey);
    // On the air at this address and port; a new address or port is not reachable until checked.
    void setOnAir(const std::string& nameKey, const std::string& address, int port, int64_t now);
    void setOff(const std::string& nameKey);
    void setListeners(const std::string& nameKey, int listeners, int64_t now);
    // The outcome of a check of the station at this address and port (ignored when it has moved since).
    // Listed after one success, hidden after two failures in a row.
    void recordCheck(const std::string& nameKey, const std::string& address, int port,
                     const CheckResult& result, int64_t now);
    int registrationsFrom(const std::string& address, int64_t since);
    // On the air, not expired, reachable, not banned; most listeners first.
    std::vector<StationRecord> listed(int64_t now);
    // On the air and not checked for `age` seconds.
    std::vector<StationRecord> dueForCheck(int64_t now, int64_t age);
    std::vector<StationRecord> all();
    void ban(const std::string& name, const std::string& nameKey, const std::string& reason, int64_t now);
    bool unban(const std::string& nameKey);

private:
    void exec(const char* sql);
    void migrate(const std::string& path);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace vx::directory
