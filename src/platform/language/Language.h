// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The language library: the station asks it once for its list of message texts. The texts come from
// the language's file in the language folder (one message per line, UTF-8): deutsch.txt (0) or
// english.txt (1). The German texts are also compiled into the program and serve when their file is
// missing; a language whose file is missing or does not hold a text for every German message falls
// back to German, with one line on standard error.
// Each loading belongs to whoever made it (the window), and DeinitLanguagelist frees that loading only:
// a second window's start-up or close leaves the first one's texts alone.
// Thread contract: the owner's thread only.
class LanguageLibrary {
public:
    // dir: the folder searched for the language files; by default the executable's folder + "/lang", then
    // the installed share folder.
    explicit LanguageLibrary(QString dir = {});

    // Loads the texts of language (0 German, 1 English) again; the index of the language loaded.
    int InitLanguage(int language);
    // The texts of the last InitLanguage, valid until DeinitLanguagelist, the next InitLanguage or the
    // end of this object; null before the first.
    const QStringList* GetLanguagelist() const { return list_.get(); }
    void DeinitLanguagelist() { list_.reset(); }

private:
    QString dir_;
    std::unique_ptr<QStringList> list_;
};

// Message n of a list, or an empty text when n lies beyond it (or there is no list).
QString LanguageMessage(const QStringList* list, int n);
