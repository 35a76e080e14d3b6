// What the window asks of the desktop: opening a file with its program,
// showing a file in the file manager, opening a web or mail address. Tests
// put a recorder in its place.
#pragma once

#include <QString>
#include <QUrl>

namespace quelvox::ui {

class IShell {
public:
    virtual ~IShell() = default;
    // Opens a file with the program the desktop associates with it.
    virtual void OpenFile(const QString& path) = 0;
    // Shows the file's folder in the file manager with the file selected.
    virtual void ShowInFileManager(const QString& path) = 0;
    // Opens a web page or a mail address.
    virtual void OpenUrl(const QUrl& url) = 0;
};

// The desktop's services: QDesktopServices, and the file manager's D-Bus
// interface for showing a file. No command line is ever built from a file
// name.
class CDesktopShell : public IShell {
public:
    void OpenFile(const QString& path) override;
    void ShowInFileManager(const QString& path) override;
    void OpenUrl(const QUrl& url) override;
};

}  // namespace quelvox::ui
