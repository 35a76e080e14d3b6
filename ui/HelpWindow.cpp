#include "ui/HelpWindow.h"

#include "ui/Art.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace quelvox::ui {

QString FindManual() {
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& folder :
         {program + QStringLiteral("/help"), program + QStringLiteral("/../help"),
          program + QStringLiteral("/../share/quelvox/help"),
          QStringLiteral("/usr/local/share/quelvox/help"), QStringLiteral("/usr/share/quelvox/help")}) {
        const QFileInfo page(folder + QStringLiteral("/index.html"));
        if (page.isFile()) return QDir::cleanPath(page.absoluteFilePath());
    }
    return {};
}

CHelpWindow::CHelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
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
