#include "ui/LanguageOption.h"

namespace quelvox::ui {

ProgramArguments ParseProgramArguments(const QStringList& arguments) {
    const QString option = QStringLiteral("--lang");
    const QString optionWithValue = option + u'=';
    ProgramArguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded) {
            parsed.paths << argument;
            continue;
        }
        if (argument == u"--") {
            optionsEnded = true;
            continue;
        }
        QString value;
        if (argument == option) {
            if (i + 1 == arguments.size()) {
                parsed.error = QStringLiteral("--lang needs a language: zh or en");
                return parsed;
            }
            value = arguments[++i];
        } else if (argument.startsWith(optionWithValue)) {
            value = argument.mid(optionWithValue.size());
        } else {
            parsed.paths << argument;
            continue;
        }
        parsed.language = ParseLanguageName(value.toStdString());
        if (!parsed.language) {
            parsed.error = QStringLiteral("unknown language \"%1\": use zh or en").arg(value);
            return parsed;
        }
    }
    return parsed;
}

}  // namespace quelvox::ui
