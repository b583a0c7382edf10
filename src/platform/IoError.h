#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>
#include <string>

namespace vx {

// The run-time I/O error texts a file operation reports: "File not found", "Disk full", ... and
// "I/O error N" for every other code.
std::string ioErrorText(int errnoValue);

// Writes the file beside its final place with mode 0600 and renames it over the old one, so a failed or
// interrupted write never leaves a partial file. Throws EInOutError ("Cannot create PATH: reason",
// "Cannot write PATH: reason"); the old file then stays as it was.
void writeFileWhole(const QString& path, const QByteArray& bytes);

}  // namespace vx

// A file that cannot be created, opened, read or written.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
