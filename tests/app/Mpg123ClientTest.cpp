// SPDX-License-Identifier: GPL-3.0-or-later
// A real ICY player against the listener port: mpg123 must be taken for an ICY request and listed under
// its own agent text.
#include "support/LoopbackPeer.h"

#include "net/TVXSocketData.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"

#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

QString mpg123Version() {
    QProcess process;
    process.start(QStringLiteral("mpg123"), {QStringLiteral("--version")});
    if (!process.waitForFinished(10000)) {
        return {};
    }
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("mpg123 (\\S+)")).match(out);
    return m.hasMatch() ? m.captured(1) : QString();
}

TEST(Mpg123Client, RealPlayerIsAdmittedAsIcyListenerWithItsAgentAsClientProgram) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("mpg123")).isEmpty())
        << "mpg123 is missing (scripts/install-deps.sh installs it)";
    const QString version = mpg123Version();
    ASSERT_FALSE(version.isEmpty());

    vxtest::MainformFixture fx;
    TMainform& form = fx.create();
    StationProbe(form.station()).ServerVandorixClient->Port = 0;
    StationProbe(form.station()).ServerVandorixClient->SetActive(true);
    const int port = StationProbe(form.station()).ServerVandorixClient->LocalPort();

    QProcess player;
    player.start(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-t"),
                                            QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    ASSERT_TRUE(player.waitForStarted(10000));
    std::shared_ptr<TVXSocketData> session;
    const bool admitted = vxtest::waitUntil([&] {
        const auto conn = StationProbe(form.station()).ServerVandorixClient->ConnectionAt(0);
        session = conn ? conn->UserDataAs<TVXSocketData>() : nullptr;
        return session && session->Kind.load() == TVXSocketData::KindListener;
    });
    const bool stillConnected = StationProbe(form.station()).ServerVandorixClient->ConnectionCount() == 1;
    player.kill();
    player.waitForFinished(10000);

    ASSERT_TRUE(admitted) << "mpg123 was not admitted as a listener";
    EXPECT_TRUE(stillConnected);
    EXPECT_EQ(session->Ready.load(), 1);
    EXPECT_EQ(session->ClientProgram, QStringLiteral("mpg123/") + version);
    StationProbe(form.station()).ConnectionTestTimer();
    EXPECT_EQ(form.Hoerer->text(), QStringLiteral("1"));
}

}  // namespace
