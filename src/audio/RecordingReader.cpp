#include "audio/RecordingReader.h"

#include "platform/IoError.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

RecordingReader::RecordingReader(const QString& path) : path_(path) {
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
}

RecordingReader::~RecordingReader() {
    ::close(fd_);
}

TAudioFormat RecordingReader::readFormat() {
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
