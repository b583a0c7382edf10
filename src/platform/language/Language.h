#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The language library: the station asks it once for its list of message texts. The texts come from
// deutsch.txt in the language folder (one message per line, UTF-8); when that file is missing, the same
// texts compiled into the program serve.
// Each loading belongs to whoever made it (the window), and DeinitLanguagelist frees that loading only:
// a second window's start-up or close leaves the first one's texts alone.
// Thread contract: the owner's thread only.
class LanguageLibrary {
public:
    // dir: the folder searched for the language file; by default the executable's folder + "/lang".
    explicit LanguageLibrary(QString dir = {});

    // Loads the texts (again); 0.
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
