// SPDX-License-Identifier: GPL-3.0-or-later
// The station's requests as they arrive: values as typed, only blanks, controls and bytes above 126
// percent-encoded, Windows-1252 text.
#include "directory/DirectoryHttpServer.h"
#include "directory/StationQuery.h"
#include "directory/Windows1252.h"

#include <gtest/gtest.h>

namespace {

using vx::directory::parseStationQuery;
using vx::directory::StationAction;

TEST(StationQuery, PasswordsWithAmpersandHashPlusAndUmlautArriveWhole) {
    std::string problem;
    // The station typed "Rädio Eins", "a&b#c+dä" and "x+y@z.de"; its request line carries the blank
    // and the umlauts (Windows-1252 0xE4) percent-encoded and everything else as typed.
    const auto q = parseStationQuery(
        "/db/index.php?action=register&nic=R%E4dio%20Eins&pass=a&b#c+d%E4&port=6565&email=x+y@z.de", problem);
    ASSERT_TRUE(q) << problem;
    EXPECT_EQ(q->action, StationAction::Register);
    EXPECT_EQ(q->name,
              "R\xC3\xA4"
              "dio Eins");
    EXPECT_EQ(q->nameKey,
              "r\xC3\xA4"
              "dio eins");
    EXPECT_EQ(q->password, "a&b#c+d\xC3\xA4");
    EXPECT_EQ(q->port, 6565);
    EXPECT_EQ(q->email, "x+y@z.de");

    // A password that holds the next key itself: the port that ends the request is the one that counts.
    const auto s = parseStationQuery("action=setstatus&nic=N&pass=x&port=1&port=7000", problem);
    ASSERT_TRUE(s) << problem;
    EXPECT_EQ(s->password, "x&port=1");
    EXPECT_EQ(s->port, 7000);

    // A typed "%41" is not an encoded byte the station would send: it stays as typed.
    const auto h =
        parseStationQuery("action=hoererupdate&hoerer=12&radioname=%C4rger&passwort=p%41=%20", problem);
    ASSERT_TRUE(h) << problem;
    EXPECT_EQ(h->action, StationAction::ListenerCount);
    EXPECT_EQ(h->listeners, 12);
    EXPECT_EQ(h->nameKey, "\xC3\xA4rger");  // Ä folds to ä: one name regardless of case
    EXPECT_EQ(h->password, "p%41= ");
}

TEST(StationQuery, MalformedRequestsAreRefusedWithTheirReason) {
    const struct {
        const char* target;
        const char* problem;
    } cases[] = {
        {"action=register&nic=N&pass=p&port=6565", "port or email is missing"},
        {"action=delete&nic=N&port=6565", "pass is missing"},
        {"action=setoff&nic=N&pass=p&port=80", "the port is not from 1024 to 65535"},
        {"action=setoff&nic=N&pass=p&port=x", "port is missing"},
        {"action=setstatus&nic=&pass=p&port=6565", "the name is empty"},
        {"action=setstatus&nic=123456789012345678901&pass=p&port=6565", "the name is too long"},
        {"action=setstatus&nic=N&pass=a%0Ab&port=6565", "the password holds a control character"},
        {"action=setstatus&nic=%81&pass=p&port=6565", "the name is not Windows-1252 text"},
        {"action=hoererupdate&hoerer=-1&radioname=N&passwort=p", "hoerer is not a count"},
        {"action=list2&nic=N", "unknown action"},
        {"nic=N&action=setoff", "action is missing"},
    };
    for (const auto& c : cases) {
        std::string problem;
        EXPECT_FALSE(parseStationQuery(c.target, problem)) << c.target;
        EXPECT_EQ(problem, c.problem) << c.target;
    }
}

TEST(StationQuery, Windows1252ConvertsBothWays) {
    using namespace vx::directory;
    EXPECT_EQ(windows1252ToUtf8("\x80\xE4\x9F"), "\xE2\x82\xAC\xC3\xA4\xC5\xB8");  // € ä Ÿ
    EXPECT_EQ(utf8ToWindows1252("\xE2\x82\xAC\xC3\xA4\xC5\xB8"), "\x80\xE4\x9F");
    EXPECT_FALSE(utf8ToWindows1252("\xE2\x82"));                        // cut short
    EXPECT_FALSE(utf8ToWindows1252("\xE2\x86\x92"));                    // an arrow: not in the code page
    EXPECT_EQ(foldCase1252("\xC4\x8A\x9FZ\xD7"), "\xE4\x9A\xFFz\xD7");  // Ä Š Ÿ Z fold, × stays
}

}  // namespace

namespace {

// Behind a trusted proxy the station's address is the right-most forwarded entry no trusted proxy
// added; anything a client writes further left is its own claim and never believed.
TEST(ForwardedFor, TheRightMostUntrustedEntryIsTheClient) {
    using namespace vx::directory;
    const std::vector<AddressRange> trusted = {*parseAddressRange("10.0.0.0/8"), *parseAddressRange("::1")};
    EXPECT_EQ(forwardedClient("1.2.3.4, 81.2.69.160, 10.1.2.3", trusted), "81.2.69.160");
    EXPECT_EQ(forwardedClient("81.2.69.160", trusted), "81.2.69.160");
    EXPECT_EQ(forwardedClient("10.9.9.9, ::1", trusted), "10.9.9.9");  // all trusted: the left-most
    EXPECT_EQ(forwardedClient("2001:db8::1,::ffff:81.2.69.160", trusted), "81.2.69.160");
    EXPECT_EQ(forwardedClient("81.2.69.160, nonsense", trusted), "");
    EXPECT_FALSE(parseAddressRange("10.0.0.0/33"));
    EXPECT_TRUE(isPrivateAddress(*parseAddress("172.31.0.1")));
    EXPECT_FALSE(isPrivateAddress(*parseAddress("172.217.0.1")));
    EXPECT_TRUE(isPrivateAddress(*parseAddress("fd00::1")));
}

}  // namespace
