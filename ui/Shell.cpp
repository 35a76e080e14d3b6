#include "ui/Shell.h"

#include <QDesktopServices>
#include <QFileInfo>

#ifdef QUELVOX_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

namespace quelvox::ui {

namespace {

// Asks the file manager, through the freedesktop interface, to show the
// file selected; false when no file manager answers.
bool ShowItemsOverDBus([[maybe_unused]] const QString& path) {
#ifdef QUELVOX_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // A short wait: the call only hands the request over.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
#else
    return false;
#endif
}

}  // namespace

void CDesktopShell::OpenFile(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void CDesktopShell::ShowInFileManager(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() && ShowItemsOverDBus(info.absoluteFilePath())) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

void CDesktopShell::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

}  // namespace quelvox::ui
