// quelvox: the window. Chooses the language, starts the codec runtimes,
// opens the main window and releases the runtimes when it closes.
//   quelvox [--lang zh|en] [FILE|FOLDER...]
// The language is the one asked for, else the one of the settings, else
// the system's. Files and folders given (the desktop entry passes the files
// a file manager opens with us) are added to the list as a drop would add
// them.
#include "common/Product.h"
#include "engine/PendingOutput.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "settings/Settings.h"
#include "ui/EndOnSignals.h"
#include "ui/LanguageOption.h"
#include "ui/Look.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QMessageBox>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// Whether a window can be shown at all: a platform was chosen, or an X11 or
// Wayland display is there.
bool HaveDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

// A lost display ends the program from inside the toolkit (it calls exit)
// while conversions may still run on their threads: their temporary files
// are removed, no new one can be made, and when any was removed the
// process ends at once, before a writer still running could create its
// file again by name. An ordinary end holds no temporary file.
extern "C" void RemoveUnfinishedOutputsAtExit() {
    if (quelvox::RemoveUnfinishedTemporaries() == 0) return;
    std::fflush(nullptr);
    std::_Exit(1);
}

namespace {

QtMessageHandler g_previousMessageHandler = nullptr;

// The toolkit says that its display connection broke just before it calls
// exit. Exit handlers run after static objects made later (libraries the
// conversions opened) are destroyed under the running threads, so the
// unfinished outputs are removed here, while everything is still whole,
// and the process ends at once.
void EndOnLostDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_previousMessageHandler) g_previousMessageHandler(type, context, message);
    if (type == QtWarningMsg && (message.startsWith(QLatin1String("The X11 connection broke")) ||
                                 message.startsWith(QLatin1String("The Wayland connection broke")))) {
        quelvox::RemoveUnfinishedTemporaries();
        std::fflush(nullptr);
        std::_Exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!HaveDisplay()) {
        std::fputs(
            "quelvox: no display to open the window on; "
            "use quelvox-cli to convert from the terminal.\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
    std::atexit(RemoveUnfinishedOutputsAtExit);
    g_previousMessageHandler = qInstallMessageHandler(EndOnLostDisplay);
    // A file size limit fails the output being written instead of killing
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromLatin1(quelvox::kProductName));
    QApplication::setApplicationVersion(QString::fromLatin1(quelvox::kProductVersionText));
    quelvox::ui::ApplyLook(app);

    const quelvox::ui::ProgramArguments arguments =
        quelvox::ui::ParseProgramArguments(QApplication::arguments().mid(1));
    if (!arguments.error.isEmpty()) {
        std::fprintf(stderr, "quelvox: %s\n", qPrintable(arguments.error));
        return 2;
    }
    // Every window is built after this, in the chosen language.
    quelvox::CSettings stored;
    std::vector<quelvox::OutputFormatEntry> catalogue = quelvox::BuildFormatCatalogue();
    quelvox::LoadSettings(stored, catalogue);
    quelvox::UseLanguage(app, quelvox::ChooseLanguage(arguments.language, stored.Language));

    quelvox::CCodecRuntime runtime;
    switch (runtime.Start(quelvox::ExecutableFolder())) {
        case quelvox::StartResult::Started: break;
        case quelvox::StartResult::InitFailed:
            QMessageBox::critical(nullptr, QString::fromLatin1(quelvox::kProductName),
                                  quelvox::ShowText(quelvox::EngineText(quelvox::kInitFailedMessage)));
            return 1;
    }
    quelvox::ui::CMainWindow window(runtime);
    // A hang-up, a logout or Ctrl+C ends a run in hand cleanly, then the
    // program, whatever other windows (help) are open.
    quelvox::ui::CEndOnSignals endOnSignals(window, [] { QApplication::quit(); });
    window.show();

    QStringList given;
    for (const QString& path : arguments.paths) given << QFileInfo(path).absoluteFilePath();
    if (!given.isEmpty())
        QTimer::singleShot(0, &window, [&window, given] { window.AddPaths(given); });
    return app.exec();
}
