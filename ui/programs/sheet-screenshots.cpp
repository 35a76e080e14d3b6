// Renders every page of the options sheet to a PNG file, so that the pages
// can be looked at without a display (in Chinese unless --lang en):
//     QT_QPA_PLATFORM=offscreen quelvox-sheet-screenshots [--lang zh|en] OUTPUT_FOLDER
// The pages show the settings defaults (with /home/user/Documents as the
// documents folder); nothing is stored.
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QRegularExpression>
#include <QString>

#include <cstdio>

#include "encoders/WmaFormats.h"
#include "l10n/Translation.h"
#include "settings/Settings.h"
#include "ui/LanguageOption.h"
#include "ui/OptSheet.h"
#include "ui/Prompts.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const quelvox::ui::ProgramArguments arguments =
        quelvox::ui::ParseProgramArguments(QApplication::arguments().mid(1));
    if (!arguments.error.isEmpty() || arguments.paths.size() != 1) {
        std::fprintf(stderr, "usage: %s [--lang zh|en] OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    quelvox::UseLanguage(app, arguments.language.value_or(quelvox::Language::Chinese));
    const QString folder = arguments.paths.front();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
        return 1;
    }

    quelvox::CSettings settings("/home/user/Documents");
    std::vector<quelvox::OutputFormatEntry> catalogue = quelvox::BuildFormatCatalogue();
    quelvox::WmaFormatList wmaFormats;
    quelvox::ui::CMessageBoxPrompts prompts;
    quelvox::ui::COptServices services;
    services.prompts = &prompts;
    services.wmaFormats = &wmaFormats;

    quelvox::ui::COptSheet sheet(settings, catalogue, services);
    // Size the sheet for its largest page: build them all first.
    for (int i = 0; i < sheet.PageCount(); ++i) sheet.ChoosePage(i);
    sheet.ChoosePage(0);
    sheet.resize(sheet.sizeHint());
    sheet.show();

    int written = 0;
    for (int i = 0; i < sheet.PageCount(); ++i) {
        sheet.ChoosePage(i);
        app.processEvents();
        // File names in ASCII: the first two captions are Chinese.
        QString name = i == 0   ? QStringLiteral("general")
                       : i == 1 ? QStringLiteral("output")
                                : sheet.Page(i)->Caption();
        name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-"));
        const QString path =
            QStringLiteral("%1/%2-%3.png")
                .arg(folder)
                .arg(i + 1, 2, 10, QLatin1Char('0'))
                .arg(name.isEmpty() || name == QLatin1String("-") ? QStringLiteral("page") : name);
        if (!sheet.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        ++written;
    }
    std::printf("%d pages written to %s (sheet %dx%d)\n", written, qPrintable(folder),
                sheet.width(), sheet.height());
    return 0;
}
