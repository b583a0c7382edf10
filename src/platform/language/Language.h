#pragma once

#include <QString>
#include <QStringList>

// The language library: the station asks it once for its list of message texts. The texts come from
// lang/deutsch.txt beside the executable (one message per line, UTF-8); when that file is missing, the
// same texts compiled into the program serve.
// Thread contract: call from the window thread only.

// Folder searched for the language file; by default the executable's folder + "/lang".
void SetLanguageDir(const QString& dir);

int InitLanguage(int language);
const QStringList* GetLanguagelist();
void DeinitLanguagelist();

// Message n of a list, or an empty text when n lies beyond it (or there is no list).
QString LanguageMessage(const QStringList* list, int n);
