// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QByteArray>

// The listener port's side of the handshake: what a first read is, and the replies, as bytes on the
// wire (texts already in Windows-1252). No sockets here, so every rule can be tried on any input.
namespace listener {

enum class Request { Icy, InfoChannel, ListenerProgram, NameQuery, InfoPage };

// Tests in this order, case-sensitively: "GET / HTTP/1.0" prefix, the info-channel agent, the listener
// program agents, the name query; anything else asks for the info page.
Request classify(const QByteArray& r);

// The player's name from an ICY request: what follows "Agent:" and one more character, up to the first
// CRLF; without "Agent:" the first six bytes are dropped instead; empty when no CRLF follows.
QByteArray icyClientProgram(const QByteArray& r);
// The listener program's agent as the client list shows it.
QByteArray agentClientProgram(const QByteArray& r);

QByteArray icyReply(const QByteArray& notice, const QByteArray& serverName, const QByteArray& name,
                    int bitRate);
QByteArray infoPage(const QByteArray& serverName, const QByteArray& notice);

constexpr int kHeaderSize = 514;
constexpr int kHeaderNameMax = 255;
// Length byte, name cut to 255 bytes and zero-padded, then the two 129-byte format records.
QByteArray stationHeader(const QByteArray& name, const TAudioFormat& in, const TAudioFormat& out);

}  // namespace listener
