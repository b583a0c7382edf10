// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Passwords as Argon2id (libsodium's crypto_pwhash_str). Hashing costs tens of milliseconds and 64 MiB,
// so at most `slots` run at once and a request that finds none free is refused at once instead of
// queueing: hashing must not become the way to stop the directory. A password once verified is
// remembered for the process (as a keyed hash, never in clear), so the minute reports cost no Argon2.
//
// Thread contract: every member may be called from any thread.
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace vx::directory {

class PasswordCheck {
public:
    enum class Verdict { Right, Wrong, Busy };

    explicit PasswordCheck(int slots = 2);

    // The Argon2id string of the password, or nullopt when every slot is busy.
    std::optional<std::string> hash(const std::string& password);
    // Whether the password matches the stored hash; Busy when it needed Argon2 and no slot was free.
    Verdict verify(const std::string& nameKey, const std::string& storedHash, const std::string& password);
    // Forgets what was verified for the name (deleted, registered anew).
    void forget(const std::string& nameKey);

private:
    using Digest = std::array<unsigned char, 32>;
    struct Verified {
        std::string storedHash;
        Digest digest;
    };
    Digest digestOf(const std::string& password) const;
    bool takeSlot();
    void giveSlot();

    std::array<unsigned char, 32> key_{};  // per process: the remembered digests mean nothing elsewhere
    std::mutex mutex_;
    int freeSlots_;
    std::unordered_map<std::string, Verified> verified_;
};

}  // namespace vx::directory
