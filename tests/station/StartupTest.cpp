// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and the close as the station runs them for either front end: the settings files, "/WO".
#include "settings/TOptionsRecord.h"
#include "support/StationProbe.h"
#include "support/TestSupport.h"

#include "../integration/StationHarness.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using vxtest::startStation;
using vxtest::StationFixture;

namespace {

TOptionsRecord storedSettings() {
    TOptionsRecord r;
    r.Port = 7001;
    r.Radioname = QStringLiteral("Welle");
    r.EMail = QStringLiteral("a@b.de");
    r.Passwort = QStringLiteral("pw");
    r.FormatIn = defaultInputFormat();
    r.FormatOut = defaultOutputFormat();
    r.FormatOut.setAvgBytesPerSec(4000);  // 32 kbit/s
    r.Upload = 64;
    r.Beschr = false;
    return r;
}

TEST(Startup, MissingServerFileShowsMessage31AndWritesNothing) {
    StationFixture f;
    QFile::remove(f.path("Server.ini"));
    bool aborted = false;
    auto station = startStation(f, &aborted);
    EXPECT_TRUE(aborted);
    ASSERT_EQ(f.dialogs.messages.size(), 1);
    EXPECT_EQ(f.dialogs.messages.first(), station->Msg(31));
    EXPECT_EQ(f.dialogs.captions.first(), QStringLiteral("KT VandorixServer"));
    station.reset();
    EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::Files), QStringList());
}

TEST(Startup, ServerFileFirstLineInTheAnsiCodePageBecomesTheDirectoryUrl) {
    const std::pair<QByteArray, QString> cases[] = {
        {"http://dir.example/db/\r\nsecond line\r\n", QStringLiteral("http://dir.example/db/")},
        {"http://h\xF6rer.example/db/\r\n", QStringLiteral("http://hörer.example/db/")},
    };
    for (const auto& [file, url] : cases) {
        StationFixture f;
        vxtest::writeFile(f.dir.path(), "Server.ini", file);
        auto station = startStation(f);
        EXPECT_EQ(station->status()->settings.directoryUrl, url);
        EXPECT_TRUE(f.dialogs.messages.isEmpty());
    }
}

TEST(Startup, LimitFollowsUploadAndOutputRate) {
    struct Case {
        int32_t upload;
        uint32_t bytesPerSecond;
        int32_t maxUser;
    };
    const Case cases[] = {{64, 4000, 2}, {64, 16000, 0}, {64, 2250, 3}, {64, 124, 0}, {1000, 2250, 55}};
    for (const Case& c : cases) {
        StationFixture f;
        TOptionsRecord r = storedSettings();
        r.Upload = c.upload;
        r.FormatOut.setAvgBytesPerSec(c.bytesPerSecond);
        vxtest::writeFile(f.dir.path(), "Optionen.ini", r.toBytes());
        EXPECT_EQ(startStation(f)->status()->maxUser, c.maxUser)
            << c.upload << " kb/s at " << c.bytesPerSecond << " B/s";
    }
}

TEST(Startup, PortOutsideTheRangeIsBroughtToTheNearerBound) {
    for (const auto& [stored, used] : {std::pair{80, 1024}, std::pair{70000, 65535}}) {
        StationFixture f;
        TOptionsRecord r = storedSettings();
        r.Port = stored;
        vxtest::writeFile(f.dir.path(), "Optionen.ini", r.toBytes());
        EXPECT_EQ(startStation(f)->settings().port, used);
    }
}

TEST(Startup, TruncatedSettingsFileIsReportedAndKeptAsBadWhenTheCloseWritesANewOne) {
    StationFixture f;
    const QByteArray truncated = storedSettings().toBytes().left(1000);
    vxtest::writeFile(f.dir.path(), "Optionen.ini", truncated);
    auto station = startStation(f);
    ASSERT_EQ(f.dialogs.messages.size(), 1);
    EXPECT_TRUE(f.dialogs.messages.first().contains(QStringLiteral("\"Optionen.ini.bad\"")))
        << f.dialogs.messages.first().toStdString();
    station->close();
    EXPECT_EQ(vxtest::readFile(f.path("Optionen.ini.bad")), truncated);
    EXPECT_EQ(vxtest::readFile(f.path("Optionen.ini")).size(), TOptionsRecord::kSize);
}

TEST(Startup, LongerSettingsFileReadsOnlyItsRecord) {
    StationFixture f;
    vxtest::writeFile(f.dir.path(), "Optionen.ini", storedSettings().toBytes() + QByteArray(500, 'x'));
    auto station = startStation(f);
    EXPECT_TRUE(f.dialogs.messages.isEmpty());
    EXPECT_EQ(station->settings().radioName, QStringLiteral("Welle"));
    EXPECT_EQ(station->settings().passwordConfirm, QStringLiteral("pw"));  // no retyping for the checks
}

TEST(Startup, OfflineModeOnlyForExactFirstArgument) {
    const std::pair<QStringList, bool> cases[] = {
        {{"vandorixserver", "/WO"}, true},
        {{"vandorixserver", "/wo"}, false},
        {{"vandorixserver", "--data-dir", "/WO"}, false},
        {{"vandorixserver", "/WO "}, false},
        {{"vandorixserver"}, false},
    };
    for (const auto& [args, offline] : cases) {
        StationFixture f;
        f.env.arguments = args;
        EXPECT_EQ(startStation(f)->status()->offline, offline) << args.join(' ').toStdString();
    }
}

TEST(ReplaceStr, ReplacesOnlyTheFirstOccurrence) {
    StationFixture f;
    auto station = startStation(f);
    EXPECT_EQ(station->ReplaceStr("{User}", "12", "auf {User} User"), QStringLiteral("auf 12 User"));
    EXPECT_EQ(station->ReplaceStr("{User}", "12", "{User} und {User}"), QStringLiteral("12 und {User}"));
    EXPECT_EQ(station->ReplaceStr("{User}", "12", "{user}"), QStringLiteral("{user}"));  // case-sensitive
    EXPECT_EQ(station->ReplaceStr("{Radioname}", "X", "ist voll"), QStringLiteral("ist voll"));
    EXPECT_EQ(station->traceName(), QStringLiteral("ReplaceStr"));
}

}  // namespace
