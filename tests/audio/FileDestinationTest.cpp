// SPDX-License-Identifier: GPL-3.0-or-later
// The file a recording or an MP3 copy is written to, when the disk fills up under it.
#include "audio/FileDestination.h"
#include "platform/IoError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

// A block cut by a full disk would reach a player of the file as noise: the file ends with the last
// whole block, as after any other end of a recording.
TEST(FileDestination, AWriteCutShortByAFullDiskLeavesTheFileAtItsLastWholeBlock) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("aufnahme.ktv"));
    FileDestination file;
    file.create(path);
    const QByteArray block(1553, 'x');
    file.write(block.constData(), int(block.size()));
    std::string failure;
    {
        const vxtest::FileSizeLimit disk(2 * 1553 - 485);  // the second block finds room for 1,068 bytes
        try {
            file.write(block.constData(), int(block.size()));
        } catch (const EInOutError& e) {
            failure = e.what();
        }
    }
    EXPECT_EQ(failure, "Disk full");
    file.close();
    EXPECT_EQ(QFileInfo(path).size(), 1553);
}

}  // namespace
