// SPDX-License-Identifier: GPL-3.0-or-later
// The answers to the station's requests and the store behind them, without HTTP.
#include "directory/DirectoryService.h"
#include "directory/DirectoryStore.h"

#include <sqlite3.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace vx::directory;

class DirectoryServiceTest : public ::testing::Test {
protected:
    std::string ask(const std::string& query, const std::string& from = "81.2.69.160") {
        return service.answer(query, from).body;
    }

    QTemporaryDir dir;
    std::string path = dir.filePath(QStringLiteral("d.sqlite")).toStdString();
    DirectoryStore store{path};
    PasswordCheck passwords;
    AbuseLimits limits;
    DirectoryService service{store, passwords, limits, false};
};

TEST_F(DirectoryServiceTest, EachActionAnswersItsCodeAndEachRefusalItsOwn) {
    std::vector<CheckRequest> checks;
    service.OnOnAir = [&](const CheckRequest& c) { checks.push_back(c); };
    const std::string reg = "action=register&nic=Rock&pass=p&w#1&port=7000&email=a@b.c";
    EXPECT_EQ(ask(reg), "E105");
    EXPECT_EQ(ask(reg), "E105");  // the station may not have seen the first answer
    EXPECT_EQ(ask("action=register&nic=ROCK&pass=other&port=7000&email=a@b.c"),
              "E203 the name is taken, please choose another");
    EXPECT_EQ(ask("action=register&nic=demoradio&pass=p&port=7000&email=a@b.c"),
              "E202 the name is reserved, please choose another");
    EXPECT_EQ(ask("action=setstatus&nic=Rock&pass=nope&port=7000"), "E205 wrong password");
    EXPECT_EQ(ask("action=setstatus&nic=Jazz&pass=p&port=7000"),
              "E204 no station of that name is registered");
    EXPECT_EQ(ask("action=setstatus&nic=Rock&pass=p&w#1&port=7000", "192.168.1.4"),
              "E207 station not reachable: 192.168.1.4 is a private address no listener can reach");
    EXPECT_TRUE(checks.empty());

    EXPECT_EQ(ask("action=setstatus&nic=rock&pass=p&w#1&port=7001"), "E100");
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].address, "81.2.69.160");  // the request's own address, never one it names
    EXPECT_EQ(checks[0].port, 7001);
    EXPECT_EQ(ask("action=hoererupdate&hoerer=4&radioname=Rock&passwort=p&w#1"), "OK");
    EXPECT_TRUE(store.listed(unixNow()).empty());  // not before a check reached it
    store.recordCheck("rock", "81.2.69.160", 7001, CheckResult{true, {}, {}, -1}, unixNow());
    ASSERT_EQ(store.listed(unixNow()).size(), 1u);
    EXPECT_EQ(store.listed(unixNow())[0].listeners, 4);
    store.recordCheck("rock", "81.2.69.160", 7001, CheckResult{}, unixNow());
    EXPECT_EQ(store.listed(unixNow()).size(), 1u);  // one failure is not enough to hide it
    store.recordCheck("rock", "81.2.69.160", 7001, CheckResult{}, unixNow());
    EXPECT_TRUE(store.listed(unixNow()).empty());

    EXPECT_EQ(ask("action=setoff&nic=Rock&pass=p&w#1&port=7001"), "E108");
    EXPECT_EQ(ask("action=setoff&nic=Rock&pass=p&w#1&port=7001"), "E108");
    store.ban("Rock", "rock", "spam in the name", unixNow());
    EXPECT_EQ(ask("action=setstatus&nic=Rock&pass=p&w#1&port=7001"), "E208 banned: spam in the name");
    store.unban("rock");
    EXPECT_EQ(ask("action=delete&nic=Rock&pass=p&w#1&port=7001"), "E106");
    EXPECT_EQ(ask("action=delete&nic=Rock&pass=p&w#1&port=7001"),
              "E204 no station of that name is registered");
    EXPECT_EQ(ask("action=delete&nic=Rock"), "E201 malformed request: pass is missing");
}

TEST_F(DirectoryServiceTest, PasswordGuessesAreLimitedPerNameButNeverFromTheStationsOwnAddress) {
    ASSERT_EQ(ask("action=register&nic=Rock&pass=right&port=7000&email=a@b.c", "81.2.69.160"), "E105");
    ASSERT_EQ(ask("action=setstatus&nic=Rock&pass=right&port=7000", "81.2.69.160"), "E100");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ask("action=setoff&nic=Rock&pass=guess&port=7000", "81.2.69.161"), "E205 wrong password");
    }
    const std::string limited = "E206 too many wrong passwords for this name, try again later";
    EXPECT_EQ(ask("action=setoff&nic=Rock&pass=right&port=7000", "81.2.69.161"), limited);
    EXPECT_EQ(ask("action=setstatus&nic=Rock&pass=right&port=7000", "81.2.69.160"), "E100");
    EXPECT_EQ(ask("action=setstatus&nic=Rock&pass=typo&port=7000", "81.2.69.160"), "E205 wrong password");

    // A registration flood from one address stops at a few a day.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(
            ask("action=register&nic=Flood" + std::to_string(i) + "&pass=p&port=7000&email=", "81.2.69.160"),
            "E105");
    }
    EXPECT_EQ(ask("action=register&nic=Flood9&pass=p&port=7000&email=", "81.2.69.160"),
              "E206 too many registrations from this address today");
}

TEST(DirectoryStore, ANewerSchemaIsRefusedAndLeftUntouched) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("new.sqlite")).toStdString();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(
                  db, "CREATE TABLE schema_version (version INTEGER); INSERT INTO schema_version VALUES (7)",
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    std::ifstream before(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(before)), {});

    try {
        DirectoryStore store(path);
        FAIL() << "a newer schema was opened";
    } catch (const StoreError& e) {
        EXPECT_EQ(std::string(e.what()),
                  path + ": schema version 7 is newer than this program's 1; the database is left untouched");
    }
    std::ifstream after(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), bytes);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path + "-wal")));
}

}  // namespace
