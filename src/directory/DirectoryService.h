// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The answers to the station's five requests. The station compares the body with its success code and
// shows any other body after its own message (register, delete), so a refusal is "E2xx" and a short
// English reason, one code per cause; never "Error" (the station's own failure text), never empty.
//
// Thread contract: answer() may run on several threads at once (libmicrohttpd's pool).
#include "directory/AbuseLimits.h"
#include "directory/DirectoryStore.h"
#include "directory/PasswordCheck.h"
#include "directory/StationQuery.h"

#include <functional>
#include <string>
#include <string_view>

namespace vx::directory {

// The refusals, as the man page lists them.
namespace refusal {
inline constexpr const char* kMalformed = "E201";
inline constexpr const char* kNameNotAllowed = "E202";
inline constexpr const char* kNameTaken = "E203";
inline constexpr const char* kUnknownName = "E204";
inline constexpr const char* kWrongPassword = "E205";
inline constexpr const char* kTooManyRequests = "E206";
inline constexpr const char* kNotReachable = "E207";
inline constexpr const char* kBanned = "E208";
inline constexpr const char* kUnavailable = "E209";
}  // namespace refusal

// A station that was put on the air: the check of its listener port is due.
struct CheckRequest {
    std::string name;
    std::string nameKey;
    std::string address;
    int port = 0;
};

class DirectoryService {
public:
    struct Answer {
        std::string body;
        std::string logNote;  // action, name and outcome, never a password
    };

    DirectoryService(DirectoryStore& store, PasswordCheck& passwords, AbuseLimits& limits, bool allowPrivate);

    // The answer to a request whose raw target is `target`, from `client` (the peer, or the forwarded
    // address behind a trusted proxy).
    Answer answer(std::string_view target, const std::string& client);

    // Called after an accepted status report, off the request's thread's critical path: it must only queue.
    std::function<void(const CheckRequest&)> OnOnAir;

    static bool isReservedName(const std::string& nameKey);

private:
    Answer answerQuery(const StationQuery& q, const std::string& client);
    Answer registerStation(const StationQuery& q, const std::string& client);
    // The password check with its limits: empty when right, else the refusal.
    std::string checkPassword(const StationQuery& q, const StationRecord& station, const std::string& client);

    DirectoryStore& store_;
    PasswordCheck& passwords_;
    AbuseLimits& limits_;
    bool allowPrivate_;
};

int64_t unixNow();

}  // namespace vx::directory
