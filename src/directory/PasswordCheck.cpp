// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/PasswordCheck.h"

#include <sodium.h>

#include <stdexcept>

namespace vx::directory {

namespace {

// The remembered digests are bounded: a flood of names cannot grow them without end.
constexpr std::size_t kMaxRemembered = 200000;

}  // namespace

PasswordCheck::PasswordCheck(int slots) : freeSlots_(slots) {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium could not be initialised");
    }
    randombytes_buf(key_.data(), key_.size());
}

PasswordCheck::Digest PasswordCheck::digestOf(const std::string& password) const {
    Digest d{};
    crypto_generichash(d.data(), d.size(), reinterpret_cast<const unsigned char*>(password.data()),
                       password.size(), key_.data(), key_.size());
    return d;
}

bool PasswordCheck::takeSlot() {
    std::lock_guard lock(mutex_);
    if (freeSlots_ == 0) {
        return false;
    }
    --freeSlots_;
    return true;
}

void PasswordCheck::giveSlot() {
    std::lock_guard lock(mutex_);
    ++freeSlots_;
}

std::optional<std::string> PasswordCheck::hash(const std::string& password) {
    if (!takeSlot()) {
        return std::nullopt;
    }
    char out[crypto_pwhash_STRBYTES] = {};
    const int rc = crypto_pwhash_str(out, password.data(), password.size(),
                                     crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE);
    giveSlot();
    if (rc != 0) {
        return std::nullopt;  // out of memory: as busy, the caller may try again
    }
    return std::string(out);
}

PasswordCheck::Verdict PasswordCheck::verify(const std::string& nameKey, const std::string& storedHash,
                                             const std::string& password) {
    const Digest digest = digestOf(password);
    {
        std::lock_guard lock(mutex_);
        const auto it = verified_.find(nameKey);
        if (it != verified_.end() && it->second.storedHash == storedHash &&
            sodium_memcmp(it->second.digest.data(), digest.data(), digest.size()) == 0) {
            return Verdict::Right;
        }
    }
    if (!takeSlot()) {
        return Verdict::Busy;
    }
    const bool right = crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) == 0;
    giveSlot();
    if (right) {
        std::lock_guard lock(mutex_);
        if (verified_.size() >= kMaxRemembered) {
            verified_.clear();
        }
        verified_[nameKey] = Verified{storedHash, digest};
    }
    return right ? Verdict::Right : Verdict::Wrong;
}

void PasswordCheck::forget(const std::string& nameKey) {
    std::lock_guard lock(mutex_);
    verified_.erase(nameKey);
}

}  // namespace vx::directory
