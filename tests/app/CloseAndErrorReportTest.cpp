// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StationApplication.h"
#include "settings/TOptionsRecord.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <stdexcept>

using vxtest::MainformFixture;

namespace {

TEST(FormClose, WritesTheWindowsSettingsAsA1044ByteRecordReadableOnlyByTheOwner) {
    MainformFixture f;
    TMainform& form = f.create();
    form.RadioName->setText(QStringLiteral("Welle"));
    form.Passwort1->setText(QStringLiteral("pw"));
    form.VandorixClientport->setValue(7002);
    form.Upload->setText(QStringLiteral("256"));
    form.Beschr->setChecked(false);
    form.show();
    EXPECT_TRUE(form.close());

    const QByteArray bytes = vxtest::readFile(f.path("Optionen.ini"));
    ASSERT_EQ(bytes.size(), 1044);
    const TOptionsRecord r = TOptionsRecord::fromBytes(bytes);
    EXPECT_EQ(r.Port, 7002);
    EXPECT_EQ(r.Radioname, QStringLiteral("Welle"));
    EXPECT_EQ(r.Passwort, QStringLiteral("pw"));
    EXPECT_EQ(r.Upload, 256);
    EXPECT_FALSE(r.Beschr);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(f.path("Optionen.ini")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::Files).size(), 2) << "no temporary file may stay behind";
}

TEST(FormClose, SavedSettingsComeBackAtTheNextStart) {
    MainformFixture f;
    {
        TMainform& form = f.create();
        form.RadioName->setText(QStringLiteral("Größe"));
        form.ExtRadioname->setText(QString(235, QLatin1Char('x')));
        form.EMail->setText(QStringLiteral("me@example.org"));
        form.Upload->setText(QStringLiteral("100"));
        form.close();
    }
    TMainform& again = f.create();
    EXPECT_EQ(again.RadioName->text(), QStringLiteral("Größe"));
    EXPECT_EQ(again.ExtRadioname->text(), QString(235, QLatin1Char('x')));
    EXPECT_EQ(again.EMail->text(), QStringLiteral("me@example.org"));
    EXPECT_EQ(again.Upload->text(), QStringLiteral("100"));
    EXPECT_EQ(StationProbe(again.station()).MaxUser, 5);  // 100 kb/s at 18 kbit/s
}

TEST(FormClose, NonNumericUploadKeepsTheWindowOpenAndTheOldFile) {
    MainformFixture f;
    const QByteArray old = TOptionsRecord().toBytes();
    vxtest::writeFile(f.dir.path(), "Optionen.ini", old);
    TMainform& form = f.create();
    form.show();
    form.Upload->setText(QStringLiteral("abc"));
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(f.dialogs.messages.size(), 1);
    EXPECT_TRUE(f.dialogs.messages.first().startsWith(QStringLiteral("'abc' is not a valid integer value")));
    EXPECT_TRUE(f.dialogs.messages.first().contains(QStringLiteral("DebugStr: FormClose")));
    EXPECT_EQ(vxtest::readFile(f.path("Optionen.ini")), old);
    EXPECT_NE(StationProbe(form.station()).Languagelist, nullptr)
        << "an abandoned close keeps the language list";

    form.Upload->setText(QStringLiteral("64"));
    EXPECT_TRUE(form.close()) << "the next close tries the whole of FormClose again";
    EXPECT_EQ(vxtest::readFile(f.path("Optionen.ini")).size(), 1044);
}

TEST(FormClose, AFailedWriteShowsTheIoErrorAtItsStepAndTheNextCloseTriesAgain) {
    const struct {
        bool folderGone;  // else a full disk
        const char* text;
        int step;
    } cases[] = {{true, "File not found", 3}, {false, "Disk full", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        MainformFixture f;
        TMainform& form = f.create();
        form.show();
        if (c.folderGone) {
            ASSERT_TRUE(QDir(f.dir.path()).removeRecursively());
        }
        {
            const vxtest::FileSizeLimit fullDisk(c.folderGone ? RLIM_INFINITY : 100);
            EXPECT_FALSE(form.close());
        }
        ASSERT_EQ(f.dialogs.messages.size(), 1);
        EXPECT_EQ(f.dialogs.messages.first(),
                  Station::reportText(c.text, QStringLiteral("FormClose"), c.step));
        ASSERT_TRUE(QDir().mkpath(f.dir.path()));
        EXPECT_TRUE(form.close());
        EXPECT_EQ(vxtest::readFile(f.path("Optionen.ini")).size(), 1044);
    }
}

TEST(ErrorReport, HasTheExactLayout) {
    MainformFixture f;
    TMainform& form = f.create();
    StationProbe(form.station()).DebugStr = QStringLiteral("ThreadExecute");
    StationProbe(form.station()).DebugNum = 12;
    form.AppException(&form, std::runtime_error("Boom"));
    ASSERT_EQ(f.dialogs.messages.size(), 1);
    EXPECT_EQ(f.dialogs.messages.first().toUtf8(), QByteArray("Boom\x0A\x0D\x0A\x0D"
                                                              "DebugStr: ThreadExecute\x0A\x0D"
                                                              "DebugNum: 12"));
    EXPECT_EQ(f.dialogs.captions.first(), QStringLiteral("KT VandorixServer"));
}

TEST(ErrorReport, HeadlessFormIsOneLine) {
    EXPECT_EQ(HeadlessUserDialogs::oneLine("KT VandorixServer", "Boom\n\r\n\rDebugStr: X\n\rDebugNum: 3"),
              QStringLiteral("KT VandorixServer: Boom | DebugStr: X | DebugNum: 3"));
}

// The application's guard: an error escaping a handler called from the event loop reaches the report,
// and the loop keeps running.
class EventLoopGuard : public ::testing::Test {
protected:
    void SetUp() override {
        form = &f.create();
        auto* app = static_cast<StationApplication*>(QCoreApplication::instance());
        app->OnException = [this](QObject* sender, const std::exception& e) {
            form->AppException(sender, e);
        };
    }
    void TearDown() override {
        static_cast<StationApplication*>(QCoreApplication::instance())->OnException = {};
    }

    MainformFixture f;
    TMainform* form = nullptr;
};

TEST_F(EventLoopGuard, ErrorFromATimerHandlerReachesTheReportAndTimersGoOn) {
    QTimer failing;
    QObject::connect(&failing, &QTimer::timeout, [this] {
        StationProbe(form->station()).DebugStr = QStringLiteral("DBTimerTimer");
        StationProbe(form->station()).DebugNum = 3;
        throw std::runtime_error("timer failed");
    });
    failing.start(1);
    ASSERT_TRUE(vxtest::waitUntil([&] { return f.dialogs.messages.size() >= 2; }));
    failing.stop();
    EXPECT_TRUE(
        f.dialogs.messages.first().startsWith(QStringLiteral("timer failed\n\r\n\rDebugStr: DBTimerTimer")));
    int ticks = 0;
    QTimer after;
    QObject::connect(&after, &QTimer::timeout, [&] { ++ticks; });
    after.start(1);
    EXPECT_TRUE(vxtest::waitUntil([&] { return ticks >= 3; }));
}

TEST_F(EventLoopGuard, ErrorFromASocketHandlerReachesTheReport) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    QSocketNotifier notifier(fds[1], QSocketNotifier::Read);
    int reads = 0;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] auto n = ::read(fds[1], &c, 1);
        if (++reads == 1) {
            throw std::runtime_error("read failed");
        }
    });
    ASSERT_EQ(::write(fds[0], "ab", 2), 2);
    EXPECT_TRUE(vxtest::waitUntil([&] { return reads >= 2; }));
    ASSERT_EQ(f.dialogs.messages.size(), 1);
    EXPECT_TRUE(f.dialogs.messages.first().startsWith(QStringLiteral("read failed\n\r\n\r")));
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace
