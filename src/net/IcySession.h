// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/IcyMetadata.h"
#include "net/TVXSocketData.h"
#include "platform/ThreadSafety.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>

// One piece of what a metadata listener is sent in one call, in order.
struct FrameSegment {
    enum Kind : uint8_t {
        Carry,      // the rest of a metadata block the connection did not take before
        Audio,      // part of the block
        Meta,       // the empty metadata block
        TitleMeta,  // the title's metadata block
    };
    Kind kind;
    int length;
};

// The session of a listener that may ask for ICY metadata (the web port's): a listener record like the
// listener port's (so the send table, the count and the list treat both alike) and, for a listener that
// asked for metadata, where the next metadata block falls.
// Thread contract: `metadata` is set before Kind says listener and only read afterwards; the framing
// state is the sender's alone.
class IcySession : public TVXSocketData {
public:
    bool metadata = false;

    // The sender's: audio bytes until the next metadata block, the version of the title this listener
    // was last sent, and a metadata block (or its rest) that the connection has not taken yet, which goes
    // out before any further audio.
    int untilMeta = icy::kMetaInterval;
    uint64_t titleSent = 0;
    QByteArray carry;
    int carryFrom = 0;

    // The connection took `sent` bytes (a send's result) of the `count` segments (`title`: the one a
    // TitleMeta segment carried). The listener counts the audio it received, so that decides where the
    // next metadata block falls; a metadata block it took part of (or none of, where its audio was
    // taken whole) goes on before anything else. Audio it did not take is lost, as for any listener.
    void tookFramed(const FrameSegment* segments, int count, int64_t sent,
                    const icy::TitleBoard::Title* title) {
        int64_t left = std::max<int64_t>(sent, 0);
        for (int i = 0; i < count; ++i) {
            const int taken = int(std::min<int64_t>(left, segments[i].length));
            left -= taken;
            if (segments[i].kind == FrameSegment::Carry) {
                carryFrom += taken;
                if (taken < segments[i].length) {
                    return;
                }
                carry.clear();
                carryFrom = 0;
            } else if (segments[i].kind == FrameSegment::Audio) {
                untilMeta -= taken;
                if (taken < segments[i].length) {
                    return;
                }
            } else {
                untilMeta = icy::kMetaInterval;
                const bool isTitle = segments[i].kind == FrameSegment::TitleMeta;
                if (isTitle) {
                    titleSent = title->version;
                }
                if (taken < segments[i].length) {
                    carry = isTitle ? title->block : icy::emptyBlock();
                    carryFrom = taken;
                    return;
                }
            }
        }
    }
};
