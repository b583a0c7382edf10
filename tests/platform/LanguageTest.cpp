// SPDX-License-Identifier: GPL-3.0-or-later
// The language files and the choice of a language from the locale and --language.
#include "platform/Ansi.h"
#include "platform/language/Language.h"
#include "platform/language/LanguageChoice.h"
#include "support/StationProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <unistd.h>

namespace {

using namespace vx::language;

std::string placeholders(const QString& text) {
    static const QRegularExpression braces(QStringLiteral("\\{[^}]*\\}"));
    QStringList found;
    for (const QRegularExpressionMatch& m : braces.globalMatch(text)) {
        found.append(m.captured());
    }
    return found.join(QLatin1Char(' ')).toStdString();
}

// What the library writes to standard error while f runs.
template <class F>
QString standardErrorOf(F&& f) {
    QTemporaryFile capture;
    EXPECT_TRUE(capture.open());
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    f();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return QString::fromUtf8(vxtest::readFile(capture.fileName()));
}

// A translation that drops a message shifts every later one; one that loses a placeholder, or the
// blank a directory answer is appended to, shows a broken text; one outside Windows-1252 reaches the
// listeners as '?'.
TEST(LanguageFiles, EnglishHasEveryGermanMessageWithItsPlaceholdersInTheWireCodePage) {
    LanguageLibrary german(vxtest::binPath(QStringLiteral("lang")));
    LanguageLibrary english(vxtest::binPath(QStringLiteral("lang")));
    EXPECT_EQ(german.InitLanguage(kGerman), kGerman);
    // Loaded only with a text for every German message.
    ASSERT_EQ(english.InitLanguage(kEnglish), kEnglish) << "english.txt was not loaded";
    const QStringList& de = *german.GetLanguagelist();
    const QStringList& en = *english.GetLanguagelist();
    for (qsizetype n = 0; n < de.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(en[n].trimmed().isEmpty());
        EXPECT_EQ(placeholders(en[n]), placeholders(de[n])) << en[n].toStdString();
        EXPECT_EQ(en[n].endsWith(QLatin1Char(' ')), de[n].endsWith(QLatin1Char(' '))) << en[n].toStdString();
        for (const QString& text : {de[n], en[n]}) {
            EXPECT_EQ(vx::fromAnsi(vx::toAnsi(text)).toStdString(), text.toStdString());
        }
    }
}

TEST(LanguageFiles, EnglishThatIsMissingOrIncompleteFallsBackToGermanWithOneLine) {
    QTemporaryDir dir;
    QFile::copy(vxtest::binPath(QStringLiteral("lang/deutsch.txt")),
                dir.filePath(QStringLiteral("deutsch.txt")));
    LanguageLibrary german(dir.path());
    german.InitLanguage(kGerman);
    const QStringList de = *german.GetLanguagelist();

    const QByteArray english = vxtest::readFile(vxtest::binPath(QStringLiteral("lang/english.txt")));
    const struct {
        const char* what;
        std::optional<QByteArray> file;
        const char* reason;
    } cases[] = {
        {"missing", std::nullopt, "not found"},
        {"a message short", english.left(english.lastIndexOf('\n', english.size() - 2) + 1),
         "messages where"},
        {"not UTF-8", QByteArray("Start \xFC\n").repeated(de.size()), "not UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(dir.filePath(QStringLiteral("english.txt")));
        if (c.file) {
            vxtest::writeFile(dir.path(), QStringLiteral("english.txt"), *c.file);
        }
        LanguageLibrary library(dir.path());
        int loaded = -1;
        const QString err = standardErrorOf([&] { loaded = library.InitLanguage(kEnglish); });
        EXPECT_EQ(loaded, kGerman);
        EXPECT_EQ(*library.GetLanguagelist(), de);
        EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("english.txt")) && err.contains(QLatin1String(c.reason)))
            << err.toStdString();
    }
}

// An index outside the languages must not reach past the table of files: it loads the program's own
// texts and answers their index.
TEST(LanguageFiles, AnIndexOutsideTheLanguagesLoadsGermanAndSaysSo) {
    LanguageLibrary german(QStringLiteral(VX_BIN_DIR "/lang"));
    german.InitLanguage(kGerman);
    for (const int index : {kEnglish + 1, -1}) {
        SCOPED_TRACE(index);
        LanguageLibrary library(QStringLiteral(VX_BIN_DIR "/lang"));
        EXPECT_EQ(library.InitLanguage(index), kGerman);
        EXPECT_EQ(*library.GetLanguagelist(), *german.GetLanguagelist());
    }
}

TEST(LanguageChoice, FirstSetLocaleVariableDecidesAndTheOptionOverridesIt) {
    const struct {
        LocaleVariables locale;
        QStringList args;
        std::optional<int> language;  // nothing: refused
        QStringList argsLeft;
    } cases[] = {
        {{}, {"p"}, kEnglish, {"p"}},
        {{"", "", "C.UTF-8"}, {"p"}, kEnglish, {"p"}},
        {{"POSIX", "", "de_DE.UTF-8"}, {"p"}, kEnglish, {"p"}},
        {{"", "", "de_AT@euro"}, {"p"}, kGerman, {"p"}},
        {{"", "", "fr_FR.UTF-8"}, {"p"}, kEnglish, {"p"}},
        {{"", "en_US.UTF-8", "de_DE.UTF-8"}, {"p"}, kEnglish, {"p"}},
        {{"", "", "en_US.UTF-8"}, {"p", "--language", "de", "/WO"}, kGerman, {"p", "/WO"}},
        {{"", "", "de_DE.UTF-8"}, {"p", "/WO", "--language", "en"}, kEnglish, {"p", "/WO"}},
        {{}, {"p", "--language", "fr"}, std::nullopt, {}},
        {{}, {"p", "--language"}, std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " LANG=" + c.locale.lang.toStdString());
        QStringList args = c.args;
        QString error;
        EXPECT_EQ(chooseLanguage(args, c.locale, &error), c.language);
        if (c.language) {
            EXPECT_EQ(args, c.argsLeft);
        } else {
            EXPECT_TRUE(error.contains(QStringLiteral("de or en")) ||
                        error.contains(QStringLiteral("de and en")))
                << error.toStdString();
        }
    }
}

}  // namespace
