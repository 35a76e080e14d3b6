#include "ui/HelpWindow.h"

#include "platform/DataFolders.h"
#include "ui/Art.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace quelvox::ui {

QString ManualPageName() {
    // The catalogue of the window's language names that language's manual;
    // without one (Chinese) this is the Chinese manual.
    return CHelpWindow::tr("index.html", "file name of the manual in this language");
}

namespace {

QString FindManualPage(const QString& name) {
    // The build copies the manual into help/ beside the programs (the test
    // programs sit one folder further down); an installed program finds it
    // in share/quelvox/help.
    const QString program = QCoreApplication::applicationDirPath();
    std::string page = FindDataFile(program.toStdString(), "help/" + name.toStdString());
    if (page.empty()) {
        const QFileInfo build(program + QStringLiteral("/../help/") + name);
        if (build.isFile()) page = build.absoluteFilePath().toStdString();
    }
    return page.empty() ? QString() : QDir::cleanPath(QString::fromStdString(page));
}

}  // namespace

QString FindManual() {
    const QString page = FindManualPage(ManualPageName());
    return page.isEmpty() ? FindManualPage(QStringLiteral("index.html")) : page;
}

QPoint CentredPlacement(const QRect& owner, const QSize& size, const QRect& area) {
    QRect placed(QPoint(), size);
    placed.moveCenter(owner.center());
    // A window larger than the area keeps its top-left corner in it.
    placed.moveLeft(std::max(area.left(), std::min(placed.left(), area.right() + 1 - size.width())));
    placed.moveTop(std::max(area.top(), std::min(placed.top(), area.bottom() + 1 - size.height())));
    return placed.topLeft();
}

CHelpWindow::CHelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setWindowTitle(tr("Quelvox Help"));
    setWindowIcon(ApplicationIcon());
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    browser_->setOpenExternalLinks(true);
    browser_->setFont(UiFont(14));
    const QString manual = FindManual();
    if (manual.isEmpty())
        browser_->setPlainText(tr("找不到帮助文件."));
    else
        browser_->setSource(QUrl::fromLocalFile(manual));
    resize(820, 620);
}

}  // namespace quelvox::ui
