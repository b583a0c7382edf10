// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/language/Language.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>

#include <cstdio>
#include <iterator>
#include <memory>

namespace {

// The files by language index; the first is the program's own language and the fallback.
const char* const kFiles[] = {"deutsch.txt", "english.txt"};

struct TextFile {
    QString path;
    QStringList texts;
    QString problem;  // why an existing file cannot serve; empty when it can (or does not exist)
};

TextFile readTexts(const QString& path) {
    TextFile result{path, {}, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return result;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString all = utf8(file.readAll());
    if (utf8.hasError()) {
        result.problem = QStringLiteral("is not UTF-8");
        return result;
    }
    QStringList texts = all.split(QLatin1Char('\n'));
    for (QString& t : texts) {
        if (t.endsWith(QLatin1Char('\r'))) {
            t.chop(1);
        }
    }
    if (!texts.isEmpty() && texts.last().isEmpty()) {
        texts.removeLast();  // the final line end does not start another message
    }
    if (texts.isEmpty()) {
        result.problem = QStringLiteral("holds no messages");
    }
    result.texts = std::move(texts);
    return result;
}

// The first folder's file that holds texts; a file that cannot serve is named in *problem.
TextFile findTexts(const QStringList& dirs, const char* name) {
    TextFile unusable;
    for (const QString& dir : dirs) {
        TextFile found = readTexts(dir + QLatin1Char('/') + QLatin1String(name));
        if (!found.texts.isEmpty()) {
            return found;
        }
        if (unusable.problem.isEmpty()) {
            unusable = std::move(found);
        }
    }
    return unusable;
}

void warn(const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

LanguageLibrary::LanguageLibrary(QString dir) : dir_(std::move(dir)) {}

int LanguageLibrary::InitLanguage(int language) {
    // Beside the program in the build folder; in <prefix>/share/vandorixserver once installed.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList dirs = dir_.isEmpty()
                                 ? QStringList{programDir + QStringLiteral("/lang"),
                                               programDir + QStringLiteral("/../share/vandorixserver/lang")}
                                 : QStringList{dir_};
    QStringList texts = findTexts(dirs, kFiles[0]).texts;
    if (texts.isEmpty()) {
        Q_INIT_RESOURCE(lang);
        texts = readTexts(QStringLiteral(":/lang/deutsch.txt")).texts;
    }
    int loaded = 0;
    if (language > 0 && language < int(std::size(kFiles))) {
        // Only the program's own texts are compiled in: another language must come whole from its file,
        // since a message missing or out of place would show the wrong text in every box after it.
        const TextFile other = findTexts(dirs, kFiles[language]);
        if (other.texts.size() == texts.size()) {
            texts = other.texts;
            loaded = language;
        } else if (!other.problem.isEmpty()) {
            warn(QStringLiteral("%1 %2; the texts stay German").arg(other.path, other.problem));
        } else if (!other.texts.isEmpty()) {
            warn(QStringLiteral("%1 holds %2 messages where %3 are expected; the texts stay German")
                     .arg(other.path)
                     .arg(other.texts.size())
                     .arg(texts.size()));
        } else {
            warn(QStringLiteral("%1 not found in %2; the texts stay German")
                     .arg(QLatin1String(kFiles[language]), dirs.join(QStringLiteral(", "))));
        }
    }
    list_ = std::make_unique<QStringList>(std::move(texts));
    return loaded;
}

QString LanguageMessage(const QStringList* list, int n) {
    if (list == nullptr || n < 0 || n >= list->size()) {
        return {};
    }
    return list->at(n);
}
