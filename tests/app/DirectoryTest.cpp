// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of the directory: its buttons reach the station's commands, its graph the sample.
#include "app/TMainform.h"
#include "support/LocalHttpServer.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"
#include "support/TestSupport.h"
#include "ui/TLogGraph.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using vxtest::LocalHttpServer;

TEST(DirectoryWindow, ButtonsAndTheStatisticsTickReachTheStation) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        qunsetenv(name);
    }
    LocalHttpServer server;
    server.setHandler([](const LocalHttpServer::Request& r) -> std::optional<QByteArray> {
        const QByteArray target = r.target();
        return LocalHttpServer::response(target.contains("action=register") ? "E105"
                                         : target.contains("action=delete") ? "E106"
                                                                            : "");
    });
    vxtest::MainformFixture f;
    vxtest::writeFile(f.dir.path(), QStringLiteral("Server.ini"), server.origin().toUtf8() + "/vdb/\r\n");
    TMainform& form = f.create();
    form.RadioName->setText(QStringLiteral("MyRadio"));
    form.EMail->setText(QStringLiteral("dj@example.org"));
    form.Passwort1->setText(QStringLiteral("geheim"));
    form.Passwort2->setText(QStringLiteral("geheim"));
    f.dialogs.messages.clear();

    form.AnmeldeBtn->click();
    form.AbmeldeBtn->click();
    EXPECT_EQ(f.dialogs.messages, (QStringList{form.Msg(36), form.Msg(39)}));
    EXPECT_EQ(server.requestCount(), 2);

    StationProbe(form.station()).MaxUser = 5;
    StationProbe(form.station()).StatsTimer->setInterval(1);
    StationProbe(form.station()).StatsTimer->start();
    ASSERT_TRUE(vxtest::waitUntil([&] { return server.requestCount() >= 3; }));
    StationProbe(form.station()).StatsTimer->stop();
    EXPECT_TRUE(server.requests()[2].target().contains("action=hoererupdate&hoerer=0&"));
    EXPECT_EQ(form.Stats->ValueMax(), 5);
    EXPECT_EQ(form.Stats->Value(form.Stats->ValuesCount() - 1), 0);
}

}  // namespace
