// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/language/LanguageChoice.h"

#include <QtGlobal>

namespace vx::language {

namespace {

const QString kOption = QStringLiteral("--language");

}  // namespace

LocaleVariables LocaleVariables::fromEnvironment() {
    return {qgetenv("LC_ALL"), qgetenv("LC_MESSAGES"), qgetenv("LANG")};
}

int fromLocale(const LocaleVariables& locale) {
    for (const QByteArray* value : {&locale.lcAll, &locale.lcMessages, &locale.lang}) {
        if (value->isEmpty()) {
            continue;
        }
        // "de_AT.UTF-8@euro": the language is what comes before territory, codeset and modifier.
        QByteArray name = *value;
        const qsizetype end = name.indexOf('.') >= 0 ? name.indexOf('.') : name.indexOf('@');
        if (end >= 0) {
            name.truncate(end);
        }
        // C and POSIX are the locale of services, containers and build machines: no German reader is
        // implied there, so they get English like any other language.
        return name.startsWith("de") ? kGerman : kEnglish;
    }
    return kEnglish;  // nothing set is the C locale
}

std::optional<int> chooseLanguage(QStringList& args, const LocaleVariables& locale, QString* error) {
    std::optional<int> chosen;
    for (qsizetype i = args.indexOf(kOption, 1); i >= 1; i = args.indexOf(kOption, 1)) {
        const QString value = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (value == QLatin1String("de")) {
            chosen = kGerman;
        } else if (value == QLatin1String("en")) {
            chosen = kEnglish;
        } else {
            if (error != nullptr) {
                *error = value.isEmpty()
                             ? QStringLiteral("--language needs a language: de or en")
                             : QStringLiteral("--language %1: the languages are de and en").arg(value);
            }
            return std::nullopt;
        }
        args.remove(i, 2);
    }
    return chosen ? chosen : fromLocale(locale);
}

}  // namespace vx::language
