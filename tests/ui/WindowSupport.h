// Recorders in place of the window's message boxes, desktop shell and file
// dialogs: the tests give the answers in advance and no box ever blocks.
#pragma once

#include "ui/DesktopNotices.h"
#include "ui/FileDialogs.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"
#include "ui/Shell.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <utility>
#include <vector>

class RecordingPrompts : public quelvox::ui::IPrompts {
public:
    void Information(QWidget*, const QString& text) override { shown << text; }
    void Warning(QWidget*, const QString& text) override { shown << text; }
    bool Question(QWidget*, const QString& text) override {
        shown << text;
        return answer;
    }
    bool OkCancel(QWidget*, const QString& text) override {
        shown << text;
        return answer;
    }
    QStringList shown;
    bool answer = false;
};

class RecordingShell : public quelvox::ui::IShell {
public:
    void OpenFile(const QString& path) override { opened << path; }
    void ShowInFileManager(const QString& path) override { revealed << path; }
    void OpenUrl(const QUrl& url) override { urls << url; }
    QStringList opened;
    QStringList revealed;
    QList<QUrl> urls;
};

// The task bar's progress and the notifications, as they would be sent;
// `Click` clicks the last notification.
class RecordingDesktop : public quelvox::ui::IDesktopNotices {
public:
    void SetTaskProgress(bool visible, double share) override {
        progress.emplace_back(visible, share);
    }
    void Notify(const QString& summary, const QString& body,
                std::function<void()> clicked) override {
        notices << summary + QStringLiteral(": ") + body;
        click = std::move(clicked);
    }
    void Click() {
        if (click) click();
    }
    std::vector<std::pair<bool, double>> progress;
    QStringList notices;
    std::function<void()> click;
};

// Answers for the file and folder dialogs; a dialog with no answer left is
// cancelled.
class ScriptedDialogs : public quelvox::ui::IFileDialogs {
public:
    QStringList OpenFiles(QWidget*) override { return files; }
    QString Folder(QWidget*, const QString& start) override {
        folderStarts << start;
        return folder;
    }
    QString MergedFile(QWidget*, const QString& extension,
                       const quelvox::ui::NameRefusal&) override {
        mergedExtensions << extension;
        return merged.isEmpty() ? QString() : merged.takeFirst();
    }
    QStringList files;
    QString folder;
    QStringList merged;
    QStringList folderStarts, mergedExtensions;
};

// Lets the window's event loop run until its adding job has ended and the
// window has said what could not be added (at most two minutes).
inline bool AwaitAdding(quelvox::ui::CMainWindow& window) {
    QElapsedTimer waited;
    waited.start();
    while (window.IsAdding() && waited.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return !window.IsAdding();
}

// Lets the window's event loop run until its conversion job has ended and
// the window has shown the outcome (at most two minutes).
inline bool AwaitRun(quelvox::ui::CMainWindow& window) {
    QElapsedTimer waited;
    waited.start();
    while (window.IsConverting() && waited.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return !window.IsConverting();
}
