// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/TPointerList.h"

#include "mixer/EListError.h"

TPointerList::~TPointerList() {
    Clear();
}

int TPointerList::Add(void* Item) {
    list_.push_back(Item);
    return int(list_.size()) - 1;
}

void* TPointerList::Items(int Index) const {
    if (Index < 0 || Index >= Count()) {
        throw EListError(Index);
    }
    return list_[std::size_t(Index)];
}

void TPointerList::Clear() {
    if (OnRelease) {
        for (void* item : list_) {
            OnRelease(item);
        }
    }
    list_.clear();
}
