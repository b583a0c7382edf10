// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/FileDestination.h"

#include "platform/IoError.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

FileDestination::~FileDestination() {
    close();
}

void FileDestination::create(const QString& path) {
    vx::MutexLock lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    path_ = path;
    whole_ = 0;
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        throw EInOutError(vx::ioErrorText(errno));
    }
}

QString FileDestination::createNew(const QString& path) {
    vx::MutexLock lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString stem = path.left(path.size() - suffix.size());
    // Far more than starts within one second; a folder that holds them all is treated as full.
    constexpr int kMostCandidates = 1000;
    for (int n = 1; n <= kMostCandidates; ++n) {
        const QString candidate = n == 1 ? path : QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(suffix);
        // O_EXCL: a file made between a check and the open is never emptied.
        const int fd =
            ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            fd_ = fd;
            path_ = candidate;
            whole_ = 0;
            return candidate;
        }
        if (errno != EEXIST) {
            throw EInOutError(vx::ioErrorText(errno));
        }
    }
    throw EInOutError("Every name up to \"(" + std::to_string(kMostCandidates) + ")\" is taken");
}

void FileDestination::write(const char* data, int size) {
    vx::MutexLock lock(mutex_);
    if (fd_ < 0) {
        return;
    }
    const int block = size;
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, std::size_t(size));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write that takes nothing without an error code means the device is full.
            const int error = n < 0 ? errno : ENOSPC;
            // A player of the file would meet the cut block as noise; a device (/dev/full) has no length.
            if (::ftruncate(fd_, whole_) == 0) {
                ::lseek(fd_, whole_, SEEK_SET);
            }
            throw EInOutError(vx::ioErrorText(error));
        }
        data += n;
        size -= int(n);
    }
    whole_ += block;
}

void FileDestination::close() {
    vx::MutexLock lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void FileDestination::closeRemovingIfEmpty() {
    vx::MutexLock lock(mutex_);
    if (fd_ < 0) {
        return;
    }
    struct stat st {};
    // Only a plain file: a device or a FIFO given as the file is never removed.
    const bool empty = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
    ::close(fd_);
    fd_ = -1;
    if (empty) {
        QFile::remove(path_);
    }
}

void FileDestination::discard() {
    vx::MutexLock lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        QFile::remove(path_);
    }
}

bool FileDestination::isOpen() const {
    vx::MutexLock lock(mutex_);
    return fd_ >= 0;
}

QString FileDestination::fileName() const {
    vx::MutexLock lock(mutex_);
    return path_;
}
