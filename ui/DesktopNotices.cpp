#include "ui/DesktopNotices.h"

#include <QCoreApplication>
#include <QVariantMap>

#include <algorithm>

#ifdef QUELVOX_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

namespace quelvox::ui {

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

#ifdef QUELVOX_HAVE_DBUS
QDBusMessage ToDBus(const DesktopMessage& message) {
    QDBusMessage built =
        message.service.isEmpty()
            ? QDBusMessage::createSignal(message.path, message.interface, message.member)
            : QDBusMessage::createMethodCall(message.service, message.path, message.interface,
                                             message.member);
    built.setArguments(message.arguments);
    return built;
}
#endif

}  // namespace

DesktopMessage LauncherEntryUpdate(bool visible, double share) {
    DesktopMessage message;
    // The path names this program's entry; the application's address
    // tells the task bar which entry it is.
    message.path = QStringLiteral("/com/canonical/unity/launcherentry/%1")
                       .arg(QCoreApplication::applicationPid());
    message.interface = QStringLiteral("com.canonical.Unity.LauncherEntry");
    message.member = QStringLiteral("Update");
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), std::clamp(share, 0.0, 1.0));
    properties.insert(QStringLiteral("progress-visible"), visible);
    message.arguments = {QStringLiteral("application://%1").arg(QLatin1String(kDesktopFileId)),
                         properties};
    return message;
}

DesktopMessage NotificationCall(const QString& summary, const QString& body) {
    DesktopMessage message;
    message.service = kNotifications;
    message.path = kNotificationsPath;
    message.interface = kNotifications;
    message.member = QStringLiteral("Notify");
    QVariantMap hints;
    // The notification belongs to the program's desktop entry (its icon and
    // name in the desktop's notification list).
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quelvox"));
    message.arguments = {QStringLiteral("Quelvox"),
                         QVariant::fromValue(uint(0)),  // replaces no notification
                         QStringLiteral("quelvox"),     // the program's icon
                         summary,
                         body,
                         QStringList{QStringLiteral("default"), summary},
                         hints,
                         -1};  // the service's own timeout
    return message;
}

CDBusDesktopNotices::CDBusDesktopNotices(QObject* parent) : QObject(parent) {}

CDBusDesktopNotices::~CDBusDesktopNotices() {
    // A progress bar left on the task bar would stay after the program.
    if (progressShown_) SetTaskProgress(false, 0.0);
}

void CDBusDesktopNotices::SetTaskProgress(bool visible, double share) {
    progressShown_ = visible;
#ifdef QUELVOX_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) bus.send(ToDBus(LauncherEntryUpdate(visible, share)));
#else
    (void)share;
#endif
}

void CDBusDesktopNotices::Notify(const QString& summary, const QString& body,
                                 std::function<void()> clicked) {
#ifdef QUELVOX_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    if (!listening_) {
        listening_ = bus.connect(kNotifications, kNotificationsPath, kNotifications,
                                 QStringLiteral("ActionInvoked"), this,
                                 SLOT(OnActionInvoked(uint, QString)));
    }
    // Asked without waiting: a missing service only makes the call fail.
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(ToDBus(NotificationCall(summary, body))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, clicked = std::move(clicked)] {
                const QDBusPendingReply<uint> reply = *watcher;
                if (!reply.isError()) {
                    shownId_ = reply.value();
                    clicked_ = clicked;
                }
                watcher->deleteLater();
            });
#else
    (void)summary;
    (void)body;
    (void)clicked;
#endif
}

void CDBusDesktopNotices::OnActionInvoked(uint id, const QString& action) {
    if (id != shownId_ || shownId_ == 0 || action != QStringLiteral("default")) return;
    if (clicked_) clicked_();
}

}  // namespace quelvox::ui
