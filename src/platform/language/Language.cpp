#include "platform/language/Language.h"

#include <QCoreApplication>
#include <QFile>

#include <memory>

namespace {

QStringList readTexts(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList texts = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString& t : texts) {
        if (t.endsWith(QLatin1Char('\r'))) {
            t.chop(1);
        }
    }
    if (!texts.isEmpty() && texts.last().isEmpty()) {
        texts.removeLast();  // the final line end does not start another message
    }
    return texts;
}

}  // namespace

LanguageLibrary::LanguageLibrary(QString dir) : dir_(std::move(dir)) {}

int LanguageLibrary::InitLanguage(int /*language*/) {
    // Beside the program in the build folder; in <prefix>/share/vandorixserver once installed.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList dirs = dir_.isEmpty()
                                 ? QStringList{programDir + QStringLiteral("/lang"),
                                               programDir + QStringLiteral("/../share/vandorixserver/lang")}
                                 : QStringList{dir_};
    QStringList texts;
    for (qsizetype i = 0; i < dirs.size() && texts.isEmpty(); ++i) {
        texts = readTexts(dirs[i] + QStringLiteral("/deutsch.txt"));
    }
    if (texts.isEmpty()) {
        Q_INIT_RESOURCE(lang);
        texts = readTexts(QStringLiteral(":/lang/deutsch.txt"));
    }
    list_ = std::make_unique<QStringList>(std::move(texts));
    return 0;
}

QString LanguageMessage(const QStringList* list, int n) {
    if (list == nullptr || n < 0 || n >= list->size()) {
        return {};
    }
    return list->at(n);
}
