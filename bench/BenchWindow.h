// The real main window for the window benchmarks: offscreen, with its
// settings in a scratch folder, and nothing ever asked or opened.
#pragma once

#include "engine/CodecRuntime.h"
#include "settings/Settings.h"
#include "ui/FileDialogs.h"
#include "ui/MainWindow.h"
#include "ui/Prompts.h"
#include "ui/Shell.h"

#include <QEventLoop>
#include <QTemporaryDir>

namespace quelvox::bench {

class CQuietPrompts : public ui::IPrompts {
public:
    void Information(QWidget*, const QString&) override {}
    void Warning(QWidget*, const QString&) override {}
    bool Question(QWidget*, const QString&) override { return false; }
    bool OkCancel(QWidget*, const QString&) override { return false; }
};

class CQuietShell : public ui::IShell {
public:
    void OpenFile(const QString&) override {}
    void ShowInFileManager(const QString&) override {}
    void OpenUrl(const QUrl&) override {}
};

class CNoDialogs : public ui::IFileDialogs {
public:
    QStringList OpenFiles(QWidget*) override { return {}; }
    QString Folder(QWidget*, const QString&) override { return {}; }
    QString MergedFile(QWidget*, const QString&, const ui::NameRefusal&) override { return {}; }
};

// Wall time and the window thread's longest gap between two ticks of a
// 5 ms timer while the measured work went on.
struct Timing {
    double seconds = 0;
    qint64 longestStallMs = 0;
};

// The window, shown, after a first start's settings were stored.
class CBenchWindow {
public:
    CBenchWindow()
        : location_{FirstRunIn(scratch_)},
          window_(Started(runtime_), ui::MainWindowServices{&prompts_, &shell_, location_, &dialogs_}) {
        window_.show();
    }
    ui::CMainWindow& Window() { return window_; }
    // Adds `files` as the open-file dialog does and lets the window's event
    // loop run until the adding job has ended.
    void AddAndWait(const QStringList& files) {
        QEventLoop done;
        QObject::connect(&window_, &ui::CMainWindow::AddingFinished, &done, &QEventLoop::quit);
        window_.AddChosenFiles(files);
        if (window_.IsAdding()) done.exec();
    }
    // A folder that goes away with the window.
    QString ScratchPath() const { return scratch_.path(); }

private:
    static SettingsLocation FirstRunIn(const QTemporaryDir& scratch) {
        SettingsLocation location{(scratch.path() + QStringLiteral("/settings.ini")).toStdString()};
        CSettings first;
        CheckFirstRun(first, location);
        return location;
    }
    static CCodecRuntime& Started(CCodecRuntime& runtime) {
        runtime.Start(ExecutableFolder());
        return runtime;
    }

    QTemporaryDir scratch_;
    SettingsLocation location_;
    CCodecRuntime runtime_;
    CQuietPrompts prompts_;
    CQuietShell shell_;
    CNoDialogs dialogs_;
    ui::CMainWindow window_;
};

}  // namespace quelvox::bench
