// SPDX-License-Identifier: GPL-3.0-or-later
// The MP3 copy's file name and the remote control's address test.
#include "app/TMainform.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace {

class DefaultLocale {
public:
    explicit DefaultLocale(const char* name) { QLocale::setDefault(QLocale(QString::fromLatin1(name))); }
    ~DefaultLocale() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

TEST(DateTimetoFilename, NoRegionalFormatTurnsTheNameIntoAPath) {
    vxtest::MainformFixture fixture;
    TMainform& form = fixture.create();
    const QDateTime moment(QDate(2026, 12, 7), QTime(8, 5, 9));

    struct Row {
        const char* locale;
        const char* expected;
    };
    const Row rows[] = {
        {"de_DE", "07-12-26 08-05-09"},    // day-month-year, the blank stays
        {"fr_FR", "07-12-2026 08-05-09"},  // "/" in the date
        {"en_US", "12-7-26 8-05-09 AM"},  {"ja_JP", "2026-12-07 8時05分09秒"}, {"C", "7 Dec 2026 08-05-09"},
    };
    for (const Row& row : rows) {
        DefaultLocale locale(row.locale);
        const QString name = form.station().DateTimetoFilename(moment);
        EXPECT_EQ(name, QString::fromUtf8(row.expected)) << row.locale;
        EXPECT_FALSE(name.contains(QLatin1Char('/'))) << row.locale;
        EXPECT_FALSE(name.contains(QLatin1Char(':'))) << row.locale;
    }
    EXPECT_EQ(StationProbe(form.station()).DebugStr.value(), QStringLiteral("DateTimetoFilename"));
}

TEST(CheckLocalAddress, OnlyPrivateNetworksAndTheFirstLoopbackAddressAreLocal) {
    struct Row {
        const char* address;
        bool local;
    };
    const Row rows[] = {
        {"192.168.0.1", true},
        {"192.168.255.255", true},
        {"10.0.0.1", true},
        {"10.255.1.2", true},
        {"172.16.0.0", true},
        {"172.31.255.255", true},
        {"172.20.1.1", true},
        {"127.0.0.1", true},
        {"172.15.255.255", false},
        {"172.32.0.0", false},
        {"172.200.1.1", false},
        {"172.1.1.1", false},
        {"172.160.0.1", false},
        {"172.016.0.1", true},
        {"172.+16.0.1", false},
        {"172. 16.0.1", false},
        {"172.16", false},
        {"172.", false},
        {"127.0.0.2", false},
        {"127.0.0.10", false},
        {"169.254.1.1", false},
        {"100.1.1.1", false},
        {"192.169.0.1", false},
        {"192.168", false},
        {"", false},
        {"::1", false},
        {"::ffff:127.0.0.1", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RemoteControlService::CheckLocalAddress(QString::fromLatin1(row.address)), row.local)
            << row.address;
    }
}

}  // namespace
