// The main window: the file list, the output format choice, the command
// buttons and menus, painted with our own art on a frameless 950 by 650
// window that moves when its empty area is dragged.
//
// The window holds a session (engine/Session.h), which owns the settings,
// the format catalogue, the path map (and so every FileEntry), the WMA
// format list and the run state; the window renders the session's events.
// It shows the rows of the listed entries (IFileList) and answers the
// questions asked before a job (IPlanHost); rows are numbered from 1.
//
// Adding files and converting are jobs: settled on the window thread (the
// runtimes' questions, the merged file's save dialog), then carried out on
// worker threads whose events come back as queued signals; the window
// stays live meanwhile. While an operation goes on (adding files, a run), the window
// is busy: every command and drop is refused, and a close request cancels
// the operation and closes the window once it has ended, so nothing the
// operation holds is destroyed under it.
#pragma once

#include "common/FormatCatalogue.h"
#include "encoders/WmaFormats.h"
#include "engine/ConversionRun.h"
#include "engine/HostInterfaces.h"
#include "engine/ReaderFactory.h"
#include "engine/RunState.h"
#include "engine/Session.h"
#include "settings/Settings.h"
#include "ui/Commands.h"

#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QTimer;
class QComboBox;
class QMenu;

namespace quelvox {
class CCodecRuntime;
class CConversionJob;
struct RunProgress;
}

namespace quelvox::ui {

class CAboutBox;
class CFileList;
class CHelpWindow;
class CProgressWindow;
class CAddRelay;
class CRunRelay;
class CSkinButton;
class IDesktopNotices;
class IFileDialogs;
class IPrompts;
class IShell;

// What the window is given; null services mean the real ones.
struct MainWindowServices {
    IPrompts* prompts = nullptr;
    IShell* shell = nullptr;
    // Where the settings are loaded from and saved to.
    SettingsLocation settings;
    IFileDialogs* dialogs = nullptr;
    // The task bar's progress and the desktop's notifications.
    IDesktopNotices* desktop = nullptr;
};

// A count with its thousands set apart by blanks: 1 234 567.
QString GroupedCount(long long count);

class CMainWindow : public QWidget, public IFileList, public IPlanHost {
    Q_OBJECT
public:
    // `runtime` must be started and outlive the window.
    explicit CMainWindow(CCodecRuntime& runtime, MainWindowServices services = {},
                         QWidget* parent = nullptr);
    ~CMainWindow() override;

    // The window's title (which the task bar shows): "Quelvox" over an
    // empty list, the number of listed files, or, during a run
    // (`runPercent` not below 0), how far the run is.
    static QString TitleFor(int rows, int runPercent);

    // IFileList: appends a row for an entry of the path map; 1-based.
    int AppendRow(const FileEntry& entry) override;
    void AppendRows(const std::vector<const FileEntry*>& entries) override;
    // The cells a run writes, by 1-based row number.
    void SetVolumeCell(int row, const std::string& text);
    void SetOutputCell(int row, const Text& text);
    void ScrollToRow(int row);
    void WidenOutputColumn();
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds);

    // IPlanHost: a question box, the browser and the file manager.
    bool AskQuestion(const Text& text) override;
    void OpenInBrowser(const std::string& address) override;
    void OpenFolder(const std::string& folder) override;
    void ShowWarning(const Text& text);
    void ShowInFileManager(const std::string& path);
    // The merged file's save dialog, which refuses a file that is one of
    // the listed sources; empty when cancelled.
    std::string ChooseMergedFile(const OutputFormatEntry& format);

    // Commands, as their actions (buttons, menus and keys) call them. Each
    // does nothing while the window is busy (CanRun).
    void AddFiles();
    void AddFolder();
    // Adds the given files and searches the given folders, as a drop (or
    // the command line) does: hidden-file rule, extension filter and
    // shortcuts apply.
    void AddPaths(const QStringList& paths);
    // Adds exactly the given files, as the open-file dialog does.
    void AddChosenFiles(const QStringList& files);
    void RemoveSelected();
    void RemoveAll();
    void SelectAll();
    void ConvertAll();
    void ConvertSelected();
    void ConvertAllToOne();
    void ConvertSelectedToOne();
    void PlaySource();
    void PlayOutput();
    void ShowSource();
    void ShowOutput();
    void ShowOptions();
    void ShowHelp();
    void ShowAbout();
    void TellFriend();
    void WriteToSupport();
    void OpenHomePage();
    void CheckForUpdates();

    // Applies the enable rules to the context menu's commands (done each
    // time the menu is about to show; when it hides, its commands follow
    // the busy rule only again).
    void UpdateCommandStates();
    // Whether `command` can run now: nothing but help and the caption
    // buttons while the window is busy; in the context menu (`inMenu`),
    // only what the rows and the selection allow.
    bool CanRun(Command command, bool inMenu = false) const;

    // Runs `work` as one busy operation: commands are refused meanwhile and
    // a close request sets the cancel flag that `work` reads; a requested
    // close happens after `work` returns. False when the window was busy
    // already (then `work` does not run).
    bool RunBusy(const std::function<void()>& work);
    bool IsBusy() const { return busy_; }
    // Whether an adding or a conversion job is running.
    bool IsAdding() const { return session_.IsAdding(); }
    bool IsConverting() const { return session_.IsConverting(); }

    // The progress window of the operation in hand, or null.
    CProgressWindow* Progress() const;

    // The parts of the window, for the conversion side and for tests.
    CFileList* List() const { return list_; }
    QComboBox* FormatBox() const { return formatBox_; }
    QMenu* ContextMenu() const { return contextMenu_; }
    QMenu* HelpMenu() const { return helpMenu_; }
    QAction* MenuAction(Command command) const;
    CSkinButton* Button(Command command) const;
    CHelpWindow* HelpWindow() const;
    CAboutBox* AboutBox() const;
    CSession& Session() { return session_; }
    std::map<std::string, FileEntry>& PathMap() { return session_.PathMap(); }
    CSettings& Settings() { return settings_; }
    std::vector<OutputFormatEntry>& Catalogue() { return catalogue_; }
    RunState& State() { return session_.State(); }
    CCodecRuntime& Runtime() { return session_.Runtime(); }

signals:
    // An adding job ended and the window has said what could not be added.
    void AddingFinished();
    // A conversion job ended and the window has shown its outcome.
    void ConversionFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // One action per command, used by its button, menu item and key.
    void BuildActions();
    void BuildControls();
    void BuildMenus();
    // Connects the jobs' events, which arrive on their threads, to the
    // window's slots.
    void ConnectRelays();
    // Enables every action and button as CanRun says.
    void ApplyCommandStates();
    void FillFormatBox();
    void OnFormatChosen(int index);
    void SelectStoredFormat();
    void OpenFirstStartHelp();
    void Convert(bool selectedOnly, bool merged);
    // Plans the conversion of the chosen rows and starts its job.
    void StartConversion(const std::vector<int>& rows, bool merged);
    // The job's progress in the progress window.
    void ShowRunProgress(const RunProgress& progress);
    // The job ended: the window shows its outcome and is usable again.
    void FinishRun(const RunOutcome& outcome);
    // The title: the number of listed files, or during a run how far it is
    // (which the task bar shows too).
    void UpdateTitle();
    // Whether the user is looking at the window (or at a window of its own,
    // as the progress window).
    bool InFront() const;
    // Tells the desktop that a run ended while the window was not in front.
    void AnnounceRunEnd(const RunOutcome& outcome);
    // Brings the window to the front, restored when minimised.
    void BringToFront();
    // The list became empty: the memory its rows held goes back to the
    // system.
    void ReleaseListMemory();
    // Starts adding `paths` behind the adding progress window: `search`
    // applies the drop rules (folders searched, hidden files and the
    // extension filter) first.
    void AddBatch(const QStringList& paths, bool search);
    // The adding job ended: the window says what could not be added.
    void FinishAdding();
    // Makes the window busy with a job, behind a progress window of `kind`.
    void BeginJob(int kind);
    // The job ended: the window is usable again (or closes, when asked to).
    void EndJob();
    // Closes and forgets the progress window.
    void DropProgress();
    void SetControlsEnabled(bool enabled);
    // Says once that the settings could not be saved, when `saved` is false.
    void ReportSettingsSaved(bool saved);
    // The first selected row's entry, or null.
    FileEntry* FirstSelectedEntry() const;
    void OpenUrl(const QUrl& url);

    std::unique_ptr<IPrompts> ownPrompts_;
    std::unique_ptr<IShell> ownShell_;
    std::unique_ptr<IFileDialogs> ownDialogs_;
    std::unique_ptr<IDesktopNotices> ownDesktop_;
    IPrompts* prompts_;
    IShell* shell_;
    IFileDialogs* dialogs_;
    IDesktopNotices* desktop_;
    SettingsLocation location_;

    CSession session_;
    CSettings& settings_;
    std::vector<OutputFormatEntry>& catalogue_;

    QPixmap background_;
    CFileList* list_ = nullptr;
    QComboBox* formatBox_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    std::map<int, QAction*> actions_;
    std::map<int, CSkinButton*> buttons_;
    QPointer<CHelpWindow> help_;
    QPointer<CAboutBox> about_;
    QPointer<CProgressWindow> progress_;

    // The jobs' events' relays, and the window's rows of the running
    // conversion's entries.
    CAddRelay* addRelay_ = nullptr;
    CRunRelay* relay_ = nullptr;
    std::vector<int> runRows_;
    // The running conversion's percentage in the title; -1 between runs.
    int runPercent_ = -1;
    // The running conversion's rows skipped because their output existed.
    std::vector<bool> runSkipped_;
    // Unfinished outputs the run could not remove, named when it ends.
    QStringList partFilesLeft_;

    bool busy_ = false;
    // False while an operation runs (SetControlsEnabled).
    bool commandsEnabled_ = true;
    // The context menu is showing: its commands follow their rules.
    bool menuRules_ = false;
    bool closeRequested_ = false;
    bool saveFailureTold_ = false;
};

}  // namespace quelvox::ui
