#include "audio/FileDestination.h"

#include "platform/IoError.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

FileDestination::~FileDestination() {
    close();
}

void FileDestination::create(const QString& path) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    path_ = path;
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
}

void FileDestination::write(const char* data, int size) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        return;
    }
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, std::size_t(size));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write that takes nothing without an error code means the device is full.
            throw EInOutError(vx::ioErrorText(n < 0 ? errno : ENOSPC));
        }
        data += n;
        size -= int(n);
    }
}

void FileDestination::close() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void FileDestination::discard() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        QFile::remove(path_);
    }
}

bool FileDestination::isOpen() const {
    std::lock_guard lock(mutex_);
    return fd_ >= 0;
}

QString FileDestination::fileName() const {
    std::lock_guard lock(mutex_);
    return path_;
}
