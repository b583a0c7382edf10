// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Which of the station's languages a start uses. The numbers are the language library's indexes
// (LanguageLibrary::InitLanguage).
namespace vx::language {

constexpr int kGerman = 0;  // the program's own texts
constexpr int kEnglish = 1;

// The locale variables a Linux program reads for its messages, in the order it reads them.
struct LocaleVariables {
    QByteArray lcAll;
    QByteArray lcMessages;
    QByteArray lang;

    static LocaleVariables fromEnvironment();
};

// The language of the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty: "de..." German;
// any other, "C" and "POSIX" (services, containers) and none set English.
int fromLocale(const LocaleVariables& locale);

// Takes "--language de|en" out of args (the last one counts); without it the locale decides.
// Nothing, with the reason in *error, when a value is missing or is neither "de" nor "en".
std::optional<int> chooseLanguage(QStringList& args, const LocaleVariables& locale, QString* error);

}  // namespace vx::language
