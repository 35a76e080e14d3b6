// What the window tells the desktop beyond its title: the progress of a run
// on its task-bar entry (the launcher-entry signal that KDE Plasma and
// several GNOME docks read) and a notification when a run ends unseen.
// Both travel over the session D-Bus; where there is no bus or no service,
// nothing happens. Tests put a recorder in its place.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

namespace quelvox::ui {

class IDesktopNotices {
public:
    virtual ~IDesktopNotices() = default;
    // The task-bar entry's progress: `share` of the run done (0 to 1), or
    // no progress at all when not `visible`.
    virtual void SetTaskProgress(bool visible, double share) = 0;
    // A notification; `clicked` runs on the window's thread when the user
    // clicks it.
    virtual void Notify(const QString& summary, const QString& body,
                        std::function<void()> clicked) = 0;
};

// One D-Bus message as the desktop receives it: a signal (empty service)
// or a method call.
struct DesktopMessage {
    QString service;
    QString path;
    QString interface;
    QString member;
    QVariantList arguments;
};

// The desktop file the task bar knows the program by.
inline constexpr const char* kDesktopFileId = "quelvox.desktop";

// The launcher entry's Update signal for the progress of a run.
DesktopMessage LauncherEntryUpdate(bool visible, double share);
// The notification service's Notify call, with a default action (a click
// on the notification).
DesktopMessage NotificationCall(const QString& summary, const QString& body);

// The session bus's services.
class CDBusDesktopNotices : public QObject, public IDesktopNotices {
    Q_OBJECT
public:
    explicit CDBusDesktopNotices(QObject* parent = nullptr);
    ~CDBusDesktopNotices() override;
    void SetTaskProgress(bool visible, double share) override;
    void Notify(const QString& summary, const QString& body,
                std::function<void()> clicked) override;

private slots:
    void OnActionInvoked(uint id, const QString& action);

private:
    // The notification shown last and what its click does.
    uint shownId_ = 0;
    std::function<void()> clicked_;
    bool listening_ = false;
    bool progressShown_ = false;
};

}  // namespace quelvox::ui
