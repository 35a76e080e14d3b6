// quelvox-icons: writes the application icon into a hicolor icon theme
// folder (FOLDER/<n>x<n>/apps/quelvox.png for the usual sizes), so the
// desktop's menus show the same icon as the window. Run by the build on the
// offscreen platform.
//   quelvox-icons FOLDER
#include "ui/Art.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: quelvox-icons FOLDER\n", stderr);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QIcon icon = quelvox::ui::ApplicationIcon();
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = folder + QStringLiteral("/%1x%1/apps").arg(size);
        const QString path = dir + QStringLiteral("/quelvox.png");
        if (!QDir().mkpath(dir) || !icon.pixmap(size, size).save(path)) {
            std::fprintf(stderr, "quelvox-icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
