// The window program's language option: `--lang zh|en` (or --lang=zh)
// chooses the language of one run over the setting and the environment.
#pragma once

#include "l10n/Language.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quelvox::ui {

struct ProgramArguments {
    // The language asked for on the command line, if any.
    std::optional<Language> language;
    // The files and folders to add, in order.
    QStringList paths;
    // Why the arguments cannot be used (an unknown or missing language);
    // empty when they can.
    QString error;
};

// Splits the program's arguments (without the program's name) into the
// language option and the paths. "--" ends the options: what follows is a
// path even when it starts with "--lang".
ProgramArguments ParseProgramArguments(const QStringList& arguments);

}  // namespace quelvox::ui
