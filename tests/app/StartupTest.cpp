// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/TACMConvertor.h"
#include "platform/language/Language.h"
#include "settings/TOptionsRecord.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"
#include "support/StationProcess.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>

using vxtest::MainformFixture;

namespace {

TOptionsRecord storedSettings() {
    TOptionsRecord r;
    r.Port = 7001;
    r.Radioname = QStringLiteral("Welle");
    r.ExtRadioname = QStringLiteral(" Nord");
    r.EMail = QStringLiteral("a@b.de");
    r.Passwort = QStringLiteral("pw");
    r.FormatIn = defaultInputFormat();
    r.FormatOut = defaultOutputFormat();
    r.FormatOut.setAvgBytesPerSec(4000);  // 32 kbit/s
    r.Upload = 64;
    r.Beschr = false;
    return r;
}

TEST(Startup, StoredSettingsReachTheControlsAndTheLimit) {
    MainformFixture f;
    vxtest::writeFile(f.dir.path(), "Optionen.ini", storedSettings().toBytes());
    TMainform& form = f.create();
    ASSERT_TRUE(f.dialogs.messages.isEmpty()) << f.dialogs.messages.join('|').toStdString();
    EXPECT_EQ(form.ServerDB->text(), QStringLiteral("http://dir.example/db/"));
    EXPECT_EQ(form.VandorixClientport->value(), 7001);
    EXPECT_EQ(form.RadioName->text(), QStringLiteral("Welle"));
    EXPECT_EQ(form.ExtRadioname->text(), QStringLiteral(" Nord"));
    EXPECT_EQ(form.EMail->text(), QStringLiteral("a@b.de"));
    EXPECT_EQ(form.Passwort1->text(), QStringLiteral("pw"));
    EXPECT_EQ(form.Passwort2->text(), QStringLiteral("pw"));  // the password check passes without retyping
    EXPECT_EQ(form.Upload->text(), QStringLiteral("64"));
    EXPECT_FALSE(form.Beschr->isChecked());
    EXPECT_EQ(StationProbe(form.station()).road.codec().FormatOut.avgBytesPerSec(), 4000u);
    EXPECT_EQ(StationProbe(form.station()).MaxUser, 2);
    EXPECT_EQ(form.Beschr->text(), form.ReplaceStr("{User}", "2", form.Msg(21)));
}

// A settings file that exists but cannot be read: the run-time I/O error's text, at the step of the
// operation that failed (the window's report names no path: the step tells the file).
TEST(Startup, UnreadableSettingsFilesEndInTheErrorReportAtTheFailingStep) {
    const QString keptAsBad =
        QStringLiteral(". \"Optionen.ini\" is kept as \"Optionen.ini.bad\" when the settings are saved.");
    const struct {
        QString file;
        bool folder;  // else a file of these bytes
        QByteArray bytes;
        QString text;
        int step;
    } cases[] = {
        {"LautstOptions.ini", true, {}, "Invalid filename", 8},
        {"Server.ini", true, {}, "Invalid filename", 25},
        {"Optionen.ini", true, {}, "Invalid filename" + keptAsBad, 34},
        {"Optionen.ini", false, storedSettings().toBytes().left(1000), "Read beyond end of file" + keptAsBad,
         35},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        MainformFixture f;
        QFile::remove(f.path(c.file));
        if (c.folder) {
            ASSERT_TRUE(QDir(f.dir.path()).mkdir(c.file));
        } else {
            vxtest::writeFile(f.dir.path(), c.file, c.bytes);
        }
        TMainform& form = f.create();
        ASSERT_EQ(f.dialogs.messages.size(), 1);
        EXPECT_EQ(f.dialogs.messages.first(),
                  Station::reportText(c.text, QStringLiteral("FormCreate"), c.step));
        // The rest of start-up is skipped: nothing of the record was applied, no limit was shown.
        EXPECT_EQ(form.RadioName->text(), QString());
        EXPECT_EQ(form.Beschr->text().contains(QStringLiteral("{User}")), c.file != "LautstOptions.ini");
        EXPECT_FALSE(form.StartupAborted());
    }
}

TEST(Startup, WithoutSettingsFileTheLayoutValuesStay) {
    MainformFixture f;
    TMainform& form = f.create();
    EXPECT_EQ(form.VandorixClientport->value(), 6565);
    EXPECT_EQ(form.Upload->text(), QStringLiteral("64"));
    EXPECT_TRUE(form.Beschr->isChecked());
    EXPECT_EQ(StationProbe(form.station()).MaxUser, 3);
    EXPECT_EQ(StationProbe(form.station()).road.codec().FormatIn, defaultInputFormat());
    EXPECT_EQ(StationProbe(form.station()).road.codec().FormatOut, defaultOutputFormat());
}

TEST(Language, MessagesComeFromTheFileAndFallBackToTheBuiltInTexts) {
    LanguageLibrary file(vxtest::binPath(QStringLiteral("lang")));
    file.InitLanguage(0);
    const QStringList fromFile = *file.GetLanguagelist();
    LanguageLibrary fallback(QStringLiteral("/nonexistent"));
    fallback.InitLanguage(0);
    const QStringList builtIn = *fallback.GetLanguagelist();
    EXPECT_EQ(fromFile, builtIn);
    ASSERT_GE(builtIn.size(), 51);
    EXPECT_EQ(builtIn.at(0), QStringLiteral("Starte Server"));
    EXPECT_TRUE(builtIn.at(21).contains(QStringLiteral("{User}")));
    EXPECT_TRUE(builtIn.at(37).endsWith(QLatin1Char(' ')));  // the directory's answer is appended
    EXPECT_EQ(LanguageMessage(fallback.GetLanguagelist(), 51), QString());
    EXPECT_EQ(LanguageMessage(fallback.GetLanguagelist(), -1), QString());
    EXPECT_EQ(LanguageMessage(nullptr, 0), QString());
    fallback.DeinitLanguagelist();
    EXPECT_EQ(fallback.GetLanguagelist(), nullptr);
    EXPECT_NE(file.GetLanguagelist(), nullptr) << "another loading keeps its texts";
}

}  // namespace
