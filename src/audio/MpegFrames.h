// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where an MPEG audio frame begins in a run of bytes cut out of a stream: a player that starts in the
// middle of a frame may take the remainder for a header and misread the stream.
namespace mpeg {

// The length in bytes of the Layer III frame whose header starts at `p` (4 bytes readable), or 0 when
// these bytes are no such header.
int frameLength(const unsigned char* p);

// The offset of the first frame start in data[0, size) that a second frame start or the end of the data
// follows at the first frame's length; `size` when there is none.
int firstFrameStart(const char* data, int size);

}  // namespace mpeg
