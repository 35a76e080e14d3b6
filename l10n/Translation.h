// Translation of what the program shows, with Qt's translation system.
//
// The program's texts are its Chinese texts; they are the source texts of
// the catalogues, so Chinese needs no catalogue and English loads one per
// part of the program (embedded as :/i18n/<name>_en.qm).
#pragma once

#include <string>

#include <QCoreApplication>
#include <QString>

#include "common/Text.h"
#include "l10n/Language.h"

namespace quelvox {

// Makes `app` speak `language`: for English installs a translator for every
// embedded English catalogue (:/i18n/*_en.qm); for Chinese none. Translators
// of an earlier call are removed first, so the language can change.
void UseLanguage(QCoreApplication& app, Language language);

// A text as the installed translators show it: a marked text is
// translated, then its arguments are filled in, each shown the same way; a
// literal (a file name, a library's error) is shown as it is. A translation
// that does not keep the source's %s and %d places in order is not used.
QString ShowText(const Text& text);
std::string ShowTextUtf8(const Text& text);

// One marked text (QT_TRANSLATE_NOOP(context, source)) as UTF-8, for front
// ends that keep their texts as std::string.
std::string TranslateText(const char* context, const char* source);

}  // namespace quelvox
