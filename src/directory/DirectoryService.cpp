// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/DirectoryService.h"

#include "directory/AddressRange.h"

#include <array>
#include <chrono>
#include <ctime>

namespace vx::directory {

namespace {

// Names that stand for no station of their own: the demo's, the program's, and words a list would
// show as if they were the directory's.
constexpr std::array<std::string_view, 14> kReservedNames = {"demoradio",
                                                             "radio",
                                                             "radioname",
                                                             "vandorix",
                                                             "kt-vandorixserver",
                                                             "vandorixserver",
                                                             "kt vandorixserver",
                                                             "test",
                                                             "admin",
                                                             "administrator",
                                                             "root",
                                                             "directory",
                                                             "webmaster",
                                                             "station"};

DirectoryService::Answer refuse(const char* code, const std::string& reason, const std::string& note) {
    return {std::string(code) + " " + reason, note + " refused " + code};
}

}  // namespace

int64_t unixNow() {
    return int64_t(std::time(nullptr));
}

DirectoryService::DirectoryService(DirectoryStore& store, PasswordCheck& passwords, AbuseLimits& limits,
                                   bool allowPrivate)
    : store_(store), passwords_(passwords), limits_(limits), allowPrivate_(allowPrivate) {}

bool DirectoryService::isReservedName(const std::string& nameKey) {
    for (const std::string_view reserved : kReservedNames) {
        if (nameKey == reserved) {
            return true;
        }
    }
    return false;
}

DirectoryService::Answer DirectoryService::answer(std::string_view target, const std::string& client) {
    if (!limits_.requests.take(client, std::chrono::steady_clock::now())) {
        return refuse(refusal::kTooManyRequests, "too many requests from this address, try again later",
                      "request");
    }
    std::string problem;
    const std::optional<StationQuery> q = parseStationQuery(target, problem);
    if (!q) {
        return refuse(refusal::kMalformed, "malformed request: " + problem, "request");
    }
    try {
        return answerQuery(*q, client);
    } catch (const StoreError&) {
        return refuse(refusal::kUnavailable, "the directory cannot store that now, try again later",
                      std::string(actionName(q->action)) + " " + q->name);
    }
}

DirectoryService::Answer DirectoryService::answerQuery(const StationQuery& q, const std::string& client) {
    const std::string note = std::string(actionName(q.action)) + " " + q.name;
    if (const std::optional<std::string> reason = store_.banReason(q.nameKey)) {
        return refuse(refusal::kBanned, "banned: " + *reason, note);
    }
    if (q.action == StationAction::Register) {
        return registerStation(q, client);
    }
    const std::optional<StationRecord> station = store_.find(q.nameKey);
    if (!station) {
        return refuse(refusal::kUnknownName, "no station of that name is registered", note);
    }
    if (const std::string refused = checkPassword(q, *station, client); !refused.empty()) {
        return {refused, note + " refused " + refused.substr(0, 4)};
    }
    const int64_t now = unixNow();
    switch (q.action) {
        case StationAction::Delete:
            store_.remove(q.nameKey);
            passwords_.forget(q.nameKey);
            return {"E106", note + " E106"};
        case StationAction::SetStatus: {
            const std::optional<in6_addr> address = parseAddress(client);
            if (!allowPrivate_ && (!address || isPrivateAddress(*address))) {
                return refuse(
                    refusal::kNotReachable,
                    "station not reachable: " + client + " is a private address no listener can reach", note);
            }
            store_.setOnAir(q.nameKey, client, q.port, now);
            if (OnOnAir) {
                OnOnAir(CheckRequest{station->name, q.nameKey, client, q.port});
            }
            return {"E100", note + " E100"};
        }
        case StationAction::SetOff:
            store_.setOff(q.nameKey);
            return {"E108", note + " E108"};
        case StationAction::ListenerCount:
            store_.setListeners(q.nameKey, q.listeners, now);
            return {"OK", note + " OK"};
        case StationAction::Register:
            break;
    }
    return refuse(refusal::kMalformed, "malformed request", note);
}

DirectoryService::Answer DirectoryService::registerStation(const StationQuery& q, const std::string& client) {
    const std::string note = "register " + q.name;
    if (isReservedName(q.nameKey)) {
        return refuse(refusal::kNameNotAllowed, "the name is reserved, please choose another", note);
    }
    if (const std::optional<StationRecord> existing = store_.find(q.nameKey)) {
        // The same name and password again: the registration stands (the station may not have seen the
        // first answer).
        const std::string refused = checkPassword(q, *existing, client);
        if (refused.starts_with(refusal::kWrongPassword)) {
            return refuse(refusal::kNameTaken, "the name is taken, please choose another", note);
        }
        if (!refused.empty()) {
            return {refused, note + " refused " + refused.substr(0, 4)};
        }
        store_.updateRegistration(q.nameKey, q.email, q.port);
        return {"E105", note + " E105 again"};
    }
    const int64_t now = unixNow();
    if (store_.registrationsFrom(client, now - 86400) >= limits_.registrationsPerDay) {
        return refuse(refusal::kTooManyRequests, "too many registrations from this address today", note);
    }
    const std::optional<std::string> hash = passwords_.hash(q.password);
    if (!hash) {
        return refuse(refusal::kUnavailable, "the directory is busy, try again in a minute", note);
    }
    if (!store_.insert(q.name, q.nameKey, *hash, q.email, q.port, client, now)) {
        return refuse(refusal::kNameTaken, "the name is taken, please choose another", note);
    }
    passwords_.forget(q.nameKey);
    return {"E105", note + " E105"};
}

std::string DirectoryService::checkPassword(const StationQuery& q, const StationRecord& station,
                                            const std::string& client) {
    const auto now = std::chrono::steady_clock::now();
    // The address the station is on the air from is never held back by someone else's guesses.
    const bool fromStation = station.onAir && station.address == client;
    if (!fromStation && !limits_.wrongPasswords.has(q.nameKey, now)) {
        return std::string(refusal::kTooManyRequests) +
               " too many wrong passwords for this name, try again later";
    }
    switch (passwords_.verify(q.nameKey, station.passwordHash, q.password)) {
        case PasswordCheck::Verdict::Right:
            return {};
        case PasswordCheck::Verdict::Busy:
            return std::string(refusal::kUnavailable) + " the directory is busy, try again in a minute";
        case PasswordCheck::Verdict::Wrong:
            break;
    }
    if (!fromStation) {
        limits_.wrongPasswords.take(q.nameKey, now);
    }
    return std::string(refusal::kWrongPassword) + " wrong password";
}

}  // namespace vx::directory
