// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <vector>

// An ordered list of untyped pointers that can hand each item to a release event when it is cleared,
// so a list of owned objects frees them in order.
class TPointerList {
public:
    using TReleaseEvent = std::function<void(void* Item)>;

    TPointerList() = default;
    explicit TPointerList(TReleaseEvent release) : OnRelease(std::move(release)) {}
    ~TPointerList();
    TPointerList(const TPointerList&) = delete;
    TPointerList& operator=(const TPointerList&) = delete;

    // Appends; returns the item's index.
    int Add(void* Item);
    // Throws EListError for an index outside 0..Count()-1.
    void* Items(int Index) const;
    int Count() const { return int(list_.size()); }
    // Releases every item from first to last, then empties the list.
    void Clear();

    TReleaseEvent OnRelease;

private:
    std::vector<void*> list_;
};
