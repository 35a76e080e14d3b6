// quelvox: the window. Chooses the language, starts the codec runtimes,
// opens the main window and releases the runtimes when it closes.
//   quelvox [--lang zh|en] [FILE|FOLDER...]
// The language is the one asked for, else the one of the settings, else
// the system's. Files and folders given (the desktop entry passes the files
// a file manager opens with us) are added to the list as a drop would add
// them.
#include "common/Product.h"
#include "engine/Startup.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "settings/Settings.h"
#include "ui/LanguageOption.h"
#include "ui/Look.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QMessageBox>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace {

// Write end of the pipe on which the signal handler announces a signal.
int g_signalPipe = -1;

extern "C" void OnEndSignal(int signal) {
    const auto byte = static_cast<unsigned char>(signal);
    // Nothing else is safe in a handler; a full pipe has its byte already.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe, &byte, 1);
}

// A hang-up, a logout (SIGTERM, SIGHUP) or Ctrl+C in the terminal that
// started the window ends it as its close button does: a run in hand is
// cancelled and removes what it wrote, then the window closes and the
// program ends. The handler only writes to a pipe; the window thread reads
// it.
void EndOnSignals(quelvox::ui::CMainWindow& window) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_signalPipe = fds[1];
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, fd = fds[0]] {
        unsigned char drained[16];
        while (::read(fd, drained, sizeof drained) > 0) {
        }
        // A question or dialog open now is answered No or cancelled.
        for (int i = 0; i < 8; ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == &window) break;
            modal->close();
        }
        window.close();
        // The window closes once a run in hand has unwound; then the
        // program ends, whatever other windows (help) are open.
        auto* watch = new QTimer(&window);
        QObject::connect(watch, &QTimer::timeout, &window, [&window] {
            if (!window.isVisible()) QApplication::quit();
        });
        watch->start(20);
    });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) sigaction(signal, &action, nullptr);
}

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

int main(int argc, char** argv) {
    if (!HaveDisplay()) {
        std::fputs(
            "quelvox: no display to open the window on; "
            "use quelvox-cli to convert from the terminal.\n",
            stderr);
        return 1;
    }
    QApplication app(argc, argv);
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
                                  quelvox::TranslateEngineText(quelvox::kInitFailedMessage));
            return 1;
    }
    quelvox::ui::CMainWindow window(runtime);
    EndOnSignals(window);
    window.show();

    QStringList given;
    for (const QString& path : arguments.paths) given << QFileInfo(path).absoluteFilePath();
    if (!given.isEmpty())
        QTimer::singleShot(0, &window, [&window, given] { window.AddPaths(given); });
    return app.exec();
}
