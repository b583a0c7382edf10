// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <memory>
#include <utility>

// The open objects of a platform layer (codec streams, capture devices), owned here and found by the
// handle the caller holds: the object's address as the layer's handle type. A handle is only compared,
// never dereferenced, so a stale one (its object closed and freed) finds nothing instead of freed memory.
// Thread contract: no lock of its own; the layer that keeps the table says who may call it when. erase()
// hands the object back, so whatever its destruction waits for (a capture thread ending, say) can happen
// outside any lock the layer holds around the table.
namespace vx {

template <class Handle, class Object>
class HandleTable {
public:
    // Takes the object over; its handle.
    Handle* insert(std::unique_ptr<Object> object) {
        Handle* handle = object.get();
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    // The object of a handle, or null for an unknown or closed one.
    Object* find(const Handle* handle) const {
        const auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second.get();
    }

    // Removes the object of a handle and hands it back (null for an unknown handle).
    std::unique_ptr<Object> erase(const Handle* handle) {
        const auto it = objects_.find(handle);
        if (it == objects_.end()) {
            return nullptr;
        }
        std::unique_ptr<Object> object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

    bool empty() const { return objects_.empty(); }

private:
    std::map<const Handle*, std::unique_ptr<Object>> objects_;
};

}  // namespace vx
