// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ThreadSafety.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

// The ICY metadata that players which ask for it ("Icy-MetaData: 1") find in the audio: after every
// kMetaInterval bytes of audio one block, a length byte in units of 16, then the text, zero-padded.
namespace icy {

inline constexpr int kMetaInterval = 16000;

// "StreamTitle='...';" for the title in UTF-8, as one block with its length byte. A quote would end the
// field early in every player's parser and a control character has no place in it: quotes become
// typographic ones, control characters spaces; a title too long for the block is cut at a character.
QByteArray titleBlock(const QString& title);

// The block that says nothing changed.
const QByteArray& emptyBlock();

// The current title's block, shared by every metadata listener: written on the station's thread,
// read by the sender once per block. `version` rises with every change, so that each listener sends
// a changed title once.
class TitleBoard {
public:
    struct Title {
        QString text;
        QByteArray block;
        uint64_t version = 0;
    };
    // The same title again changes nothing: listeners are not sent it twice.
    void set(const QString& title) {
        auto next = std::make_shared<Title>(Title{title, titleBlock(title), 0});
        vx::MutexLock lock(mutex_);
        if (current_ && current_->text == title) {
            return;
        }
        next->version = (current_ ? current_->version : 0) + 1;
        current_ = std::move(next);
    }
    std::shared_ptr<const Title> current() const {
        vx::MutexLock lock(mutex_);
        return current_;
    }

private:
    mutable vx::Mutex mutex_;
    std::shared_ptr<const Title> current_ GUARDED_BY(mutex_);
};

// `audio` as a metadata listener receives it, the metadata blocks inserted where `untilMeta` (the audio
// bytes to the next one) says; `untilMeta` and `titleSent` (the version of the title last sent) follow.
// A title newer than `titleSent` goes in the first block.
QByteArray frame(const QByteArray& audio, int& untilMeta, const TitleBoard::Title* title,
                 uint64_t& titleSent);

}  // namespace icy
