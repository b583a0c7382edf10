// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <utility>

namespace vx {

// Runs its action when the scope ends, however it ends, unless dismissed first: the undo of a step
// sequence is written once, next to the step it undoes, instead of once per way out. The action runs
// during unwinding too, so it must not throw.
template <class F>
class ScopeGuard {
public:
    explicit ScopeGuard(F action) : action_(std::move(action)) {}
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    ~ScopeGuard() {
        if (armed_) {
            action_();
        }
    }

    // The steps succeeded: nothing to undo.
    void dismiss() { armed_ = false; }

private:
    F action_;
    bool armed_ = true;
};

}  // namespace vx
