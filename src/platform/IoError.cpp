#include "platform/IoError.h"

#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vx {

std::string ioErrorText(int errnoValue) {
    switch (errnoValue) {
        case ENOENT:
            return "File not found";
        case ENAMETOOLONG:
        case EINVAL:
        case ENOTDIR:
        case EISDIR:
            return "Invalid filename";
        case EMFILE:
        case ENFILE:
            return "Too many open files";
        case EACCES:
        case EPERM:
        case EROFS:
            return "File access denied";
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "Disk full";
        default:
            return "I/O error " + std::to_string(errnoValue);
    }
}

namespace {

std::string systemError(const char* what, const QString& path, int error) {
    return std::string(what) + " " + path.toStdString() + ": " + std::strerror(error);
}

}  // namespace

void writeFileWhole(const QString& path, const QByteArray& bytes) {
    QByteArray tmpl = QFile::encodeName(path + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(tmpl.data());  // mode 0600
    if (fd < 0) {
        throw EInOutError(systemError("Cannot create", path, errno));
    }
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, std::size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(tmpl.constData());
            throw EInOutError(systemError("Cannot write", path, error));
        }
        written += n;
    }
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(tmpl.constData(), QFile::encodeName(path).constData()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(tmpl.constData());
        throw EInOutError(systemError("Cannot write", path, error));
    }
}

}  // namespace vx
