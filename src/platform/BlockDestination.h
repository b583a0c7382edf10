// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One place an encoded block goes: the MP3 copy, the recording file, the listeners, a relay. The block's
// road hands every block to each destination on its own, so one that fails drops out and the others go
// on.
// Thread contract: write() runs on the thread that carries the block (a worker run or the playback);
// close() may come from any thread and waits for a write under way.
class BlockDestination {
public:
    virtual ~BlockDestination() = default;
    // Takes one block. Throws an exception whose message is fit for the error report when this
    // destination can take no more; the road then closes it.
    virtual void write(const char* data, int size) = 0;
    virtual void close() = 0;
};
