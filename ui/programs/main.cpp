// quelvox: the window. Starts the codec runtimes, opens the main window and
// releases the runtimes when it closes.
//   quelvox [FILE|FOLDER...]
// Files and folders given (the desktop entry passes the files a file
// manager opens with us) are added to the list as a drop would add them.
#include "common/Product.h"
#include "engine/Startup.h"
#include "ui/Look.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QMessageBox>

#include <clocale>
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

    quelvox::CCodecRuntime runtime;
    switch (runtime.Start(quelvox::ExecutableFolder())) {
        case quelvox::StartResult::Started: break;
        case quelvox::StartResult::InitFailed:
            QMessageBox::critical(nullptr, QString::fromLatin1(quelvox::kProductName),
                                  QApplication::translate("main", "初始化软件失败 (0x0002020)."));
            return 1;
    }
    quelvox::ui::CMainWindow window(runtime);
    window.show();

    QStringList given;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        given << QFileInfo(arguments[i]).absoluteFilePath();
    if (!given.isEmpty())
        QTimer::singleShot(0, &window, [&window, given] { window.AddPaths(given); });
    return app.exec();
}
