// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/RecordingReader.h"

#include "platform/IoError.h"
#include "platform/acm/Acm.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

namespace {

constexpr uint16_t kMpegTag = 0x0050;  // MPEG Layer-1/2 records
constexpr int64_t kTicksPerSecond = 14112000;
// What the playback reads ahead to find one second of frames: a second of the densest MPEG stream
// (Layer-1 at 448 kbit/s, 56,000 bytes) and its last frame fit.
constexpr int kWindow = 64 * 1024;

struct MpegFrame {
    int bytes = 0;
    int64_t ticks = 0;  // how long it sounds
};

// The frame whose 4-byte header starts at `h`; nothing for bytes that are no header or a free-format
// one, whose length only the next header would tell.
std::optional<MpegFrame> parseMpegFrame(const unsigned char* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const int version = (h[1] >> 3) & 3;  // 0: MPEG-2.5, 2: MPEG-2, 3: MPEG-1
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return std::nullopt;
    }
    static constexpr int kKbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 Layer-1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 Layer-2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 Layer-3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2/2.5 Layer-1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2/2.5 Layer-2/3
    };
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const int64_t bitsPerSecond = int64_t(kKbps[table][bitrateIndex]) * 1000;
    const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    const int samples = layer == 1 ? 384 : (layer == 3 && !mpeg1) ? 576 : 1152;
    MpegFrame frame;
    frame.bytes = layer == 1 ? int(12 * bitsPerSecond / rate + padding) * 4
                             : int(samples / 8 * bitsPerSecond / rate + padding);
    frame.ticks = samples * (kTicksPerSecond / rate);
    return frame;
}

}  // namespace

RecordingReader::RecordingReader(const QString& path) : path_(path) {
    // Without O_NONBLOCK the open of a FIFO waits for a writer; the type is known only once it is open.
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int error = errno;
        ::close(fd_);
        throw EInOutError(vx::ioErrorText(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw EInOutError("\"" + path_.toStdString() + "\" cannot be played: it is not a regular file");
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

RecordingReader::~RecordingReader() {
    ::close(fd_);
}

TAudioFormat RecordingReader::readFormat() {
    owedTicks_ = 0;
    if (::lseek(fd_, 0, SEEK_SET) < 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
    char bytes[TAudioFormat::kSize];
    if (read(bytes, TAudioFormat::kSize) != TAudioFormat::kSize) {
        throw EInOutError("Read beyond end of file");
    }
    return TAudioFormat::fromBytes(bytes);
}

int RecordingReader::chunkSize(const TAudioFormat& format) const {
    const uint32_t rate = format.avgBytesPerSec();
    if (rate == 0 || rate > kMaxChunk) {
        throw EInOutError("\"" + path_.toStdString() + "\" cannot be played: its stream claims " +
                          std::to_string(rate) + " bytes per second (1 to " + std::to_string(kMaxChunk) +
                          " can be played)");
    }
    return int(rate);
}

void RecordingReader::readSecond(const TAudioFormat& format, std::vector<char>& chunk) {
    const bool mpeg = format.formatTag() == vx::acm::WAVE_FORMAT_MPEGLAYER3 || format.formatTag() == kMpegTag;
    if (!mpeg) {
        chunk.resize(std::size_t(chunkSize(format)));
        chunk.resize(std::size_t(read(chunk.data(), int(chunk.size()))));
        return;
    }
    const off_t start = ::lseek(fd_, 0, SEEK_CUR);
    if (start < 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
    chunk.resize(kWindow);
    const int got = read(chunk.data(), kWindow);
    const bool atEnd = got < kWindow;
    const auto* bytes = reinterpret_cast<const unsigned char*>(chunk.data());
    // The frame at `at` when the window holds all of it.
    auto wholeFrameAt = [&](int at) -> std::optional<MpegFrame> {
        if (got - at < 4) {
            return std::nullopt;
        }
        const std::optional<MpegFrame> frame = parseMpegFrame(bytes + at);
        return frame && frame->bytes <= got - at ? frame : std::nullopt;
    };
    owedTicks_ += kTicksPerSecond;
    int taken = 0;
    while (owedTicks_ > 0) {
        const std::optional<MpegFrame> frame = wholeFrameAt(taken);
        if (!frame) {
            break;
        }
        taken += frame->bytes;
        owedTicks_ -= frame->ticks;
    }
    if (atEnd && !wholeFrameAt(taken)) {
        taken = got;  // the file ends inside a frame: its tail goes now, not a second later
    } else if (taken == 0) {
        // No frame where one should start: a second by the declared rate, and the owed sound is void.
        taken = std::min(got, chunkSize(format));
        owedTicks_ = 0;
    }
    chunk.resize(std::size_t(taken));
    if (::lseek(fd_, start + taken, SEEK_SET) < 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
}

int RecordingReader::read(char* data, int size) {
    int done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd_, data + done, std::size_t(size - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw EInOutError(vx::ioErrorText(errno));
        }
        if (n == 0) {
            break;
        }
        done += int(n);
    }
    return done;
}

qint64 RecordingReader::left() const {
    struct stat st {};
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0 || ::fstat(fd_, &st) != 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
    return std::max<qint64>(0, qint64(st.st_size) - qint64(position));
}
