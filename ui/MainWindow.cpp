#include "ui/MainWindow.h"

#include "common/Product.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "ui/AboutBox.h"
#include "ui/Art.h"
#include "ui/DesktopNotices.h"
#include "ui/FileDialogs.h"
#include "ui/FileList.h"
#include "ui/HelpWindow.h"
#include "ui/OptSheet.h"
#include "ui/ProgressWindow.h"
#include "ui/Prompts.h"
#include "ui/Shell.h"
#include "ui/SkinButton.h"
#include "ui/AddRelay.h"
#include "ui/RunRelay.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTextBrowser>
#include <QUrlQuery>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quelvox::ui {

namespace {

// The format list's last item: not an output format, but the way to our
// video converter.
constexpr int kVideoItemCode = kFormatListExtraItem;

// Shows a wait cursor for the life of the object.
class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// The cells of a plan's rows, written at once on the window thread.
class CPlanCells : public IRowCells {
public:
    CPlanCells(CMainWindow& window, const std::vector<int>& rows) : window_(window), rows_(rows) {}
    void SetVolumeCell(int index, const std::string& text) override {
        window_.SetVolumeCell(rows_.at(static_cast<size_t>(index)), text);
    }
    void SetOutputCell(int index, const Text& text) override {
        window_.SetOutputCell(rows_.at(static_cast<size_t>(index)), text);
    }

private:
    CMainWindow& window_;
    const std::vector<int>& rows_;
};

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString FromLocalPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

QString GroupedCount(long long count) {
    QString digits = QString::number(count < 0 ? -count : count);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, u' ');
    return count < 0 ? u'-' + digits : digits;
}

CMainWindow::CMainWindow(CCodecRuntime& runtime, MainWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      prompts_(services.prompts),
      shell_(services.shell),
      dialogs_(services.dialogs),
      desktop_(services.desktop),
      location_(services.settings),
      session_(runtime, location_),
      settings_(session_.Settings()),
      catalogue_(session_.Catalogue()) {
    if (!prompts_) {
        ownPrompts_ = std::make_unique<CMessageBoxPrompts>();
        prompts_ = ownPrompts_.get();
    }
    if (!shell_) {
        ownShell_ = std::make_unique<CDesktopShell>();
        shell_ = ownShell_.get();
    }
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<CSystemFileDialogs>();
        dialogs_ = ownDialogs_.get();
    }
    if (!desktop_) {
        ownDesktop_ = std::make_unique<CDBusDesktopNotices>();
        desktop_ = ownDesktop_.get();
    }

    setWindowTitle(TitleFor(0, -1));
    setWindowIcon(ApplicationIcon());
    setFixedSize(kWindowWidth, kWindowHeight);
    background_ = BackgroundPicture(devicePixelRatioF() > 1.0 ? 2.0 : 1.0);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    BuildActions();
    BuildControls();
    BuildMenus();
    ApplyCommandStates();
    FillFormatBox();
    // The title counts the rows.
    QAbstractItemModel* rows = list_->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &CMainWindow::UpdateTitle);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &CMainWindow::UpdateTitle);
    connect(rows, &QAbstractItemModel::modelReset, this, &CMainWindow::UpdateTitle);

    ConnectRelays();
    setAcceptDrops(true);
    CheckFirstRun(settings_, location_, [this](const std::string&) { OpenFirstStartHelp(); });
}

CMainWindow::~CMainWindow() {
    // A job still running is stopped (the session waits for it) before the
    // window it reports to goes away.
    session_.Cancel();
    if (help_) help_->close();
}

// ---- the output format list --------------------------------------------

void CMainWindow::FillFormatBox() {
    const QSignalBlocker quiet(formatBox_);
    for (const OutputFormatEntry& entry : catalogue_)
        formatBox_->addItem(tr(" 到 %1").arg(ShowText(FormatName(entry))),
                            entry.code);
    formatBox_->addItem(tr(" 到 VIDEO (3GP, AVI, FLV, MOV, MP4, MPEG, WMV 等.)"), kVideoItemCode);
    int widest = 0;
    const QFontMetrics metrics(formatBox_->view()->font());
    for (int i = 0; i < formatBox_->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(formatBox_->itemText(i)));
    // The item's margins and the scroll bar beside the items.
    const int margins = 2 * formatBox_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 16 +
                        formatBox_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    formatBox_->view()->setMinimumWidth(std::max(formatBox_->width(), widest + margins));
    const int stored = formatBox_->findData(settings_.OutputFormat);
    if (stored >= 0 && settings_.OutputFormat != kVideoItemCode) {
        formatBox_->setCurrentIndex(stored);
    } else {
        formatBox_->setCurrentIndex(0);
        OnFormatChosen(0);
    }
    connect(formatBox_, &QComboBox::currentIndexChanged, this, &CMainWindow::OnFormatChosen);
}

void CMainWindow::OnFormatChosen(int index) {
    if (index < 0) {
        settings_.OutputFormat = kFormatMp3;
        SelectStoredFormat();
        return;
    }
    const int code = formatBox_->itemData(index).toInt();
    if (code != kVideoItemCode) {
        settings_.OutputFormat = code;
        return;
    }
    // The video item is no output format: offer the video converter and go
    // back to the format chosen before.
    SelectStoredFormat();
    const QString text = tr("%1 只转换音频文件.\n要转换视频文件, 请使用我们的视频转换程序.\n\n"
                            "按 \"确定\" 打开它的主页.")
                             .arg(QString::fromLatin1(kProductName));
    if (prompts_->OkCancel(this, text)) OpenUrl(QUrl(QString::fromLatin1(kVideoConverterAddress)));
}

void CMainWindow::SelectStoredFormat() {
    const QSignalBlocker quiet(formatBox_);
    const int index = formatBox_->findData(settings_.OutputFormat);
    formatBox_->setCurrentIndex(index >= 0 ? index : 0);
}

// ---- the list as the engine sees it -------------------------------------

int CMainWindow::AppendRow(const FileEntry& entry) {
    // Entries live in the path map, which the window owns and may change.
    return list_->AppendEntry(const_cast<FileEntry&>(entry));
}

void CMainWindow::AppendRows(const std::vector<const FileEntry*>& entries) {
    std::vector<FileEntry*> rows;
    rows.reserve(entries.size());
    for (const FileEntry* entry : entries) rows.push_back(const_cast<FileEntry*>(entry));
    list_->AppendEntries(rows);
}

void CMainWindow::SetVolumeCell(int row, const std::string& text) {
    list_->SetVolumeText(row, QString::fromStdString(text));
}

void CMainWindow::SetOutputCell(int row, const Text& text) {
    // A row that is being converted again (or whose run begins) starts
    // without its old note.
    if (text.empty() || text.Is(kPreprocessingRow) || text.Is(kNormalisingRow) ||
        text.Is(kConvertingRow))
        list_->ClearShortSourceNote(row);
    // The engine's row texts in the window's language.
    list_->SetOutputText(row, ShowText(text));
}

void CMainWindow::NoteShortSource(int row, double claimedSeconds, double heldSeconds) {
    list_->NoteShortSource(row, claimedSeconds, heldSeconds);
}

void CMainWindow::ScrollToRow(int row) {
    list_->ScrollToRow(row);
}

void CMainWindow::WidenOutputColumn() {
    list_->setColumnWidth(kColumnOutput, std::max(list_->columnWidth(kColumnOutput), 600));
}

// ---- the run's host ----------------------------------------------------

bool CMainWindow::AskQuestion(const Text& text) { return prompts_->Question(this, ShowText(text)); }

void CMainWindow::ShowWarning(const Text& text) { prompts_->Warning(this, ShowText(text)); }

void CMainWindow::OpenInBrowser(const std::string& address) {
    OpenUrl(QUrl(QString::fromStdString(address)));
}

void CMainWindow::OpenFolder(const std::string& folder) {
    CWaitCursor wait;
    shell_->OpenFile(FromLocalPath(folder));
}

void CMainWindow::ShowInFileManager(const std::string& path) {
    CWaitCursor wait;
    shell_->ShowInFileManager(FromLocalPath(path));
}

std::string CMainWindow::ChooseMergedFile(const OutputFormatEntry& format) {
    const QString extension = QString::fromStdString(format.extension);
    // A listed source is refused while the dialog is still open, before it
    // would ask whether to replace that file.
    auto refuse = [this](QWidget* over, const QString& chosen) {
        if (!session_.IsListedSource(LocalPath(chosen))) return false;
        prompts_->Warning(over, tr("\"%1\" 是列表中的一个源文件, 不能作为合并后的输出文件.\n"
                                   "请选择其他文件名.")
                                    .arg(chosen));
        return true;
    };
    for (;;) {
        const QString chosen = dialogs_->MergedFile(this, extension, refuse);
        if (chosen.isEmpty()) return {};
        // A dialog that let a listed source through still never gets it.
        if (!refuse(this, chosen)) return LocalPath(chosen);
    }
}

// ---- busy operations ----------------------------------------------------

bool CMainWindow::RunBusy(const std::function<void()>& work) {
    if (busy_) return false;
    // Set before anything can pump events, so that every command, drop and
    // close arriving from here on sees it.
    busy_ = true;
    SetControlsEnabled(false);
    work();
    SetControlsEnabled(true);
    busy_ = false;
    if (closeRequested_) close();
    return true;
}

void CMainWindow::SetControlsEnabled(bool enabled) {
    commandsEnabled_ = enabled;
    ApplyCommandStates();
    list_->setEnabled(enabled);
    formatBox_->setEnabled(enabled);
}

// ---- commands -----------------------------------------------------------

void CMainWindow::AddFiles() {
    if (!CanRun(kCmdAddFiles)) return;
    const QStringList files = dialogs_->OpenFiles(this);
    AddChosenFiles(files);
}

void CMainWindow::AddFolder() {
    if (!CanRun(kCmdAddFolder)) return;
    const QString start =
        settings_.Folder.empty() ? QDir::homePath() : FromLocalPath(settings_.Folder);
    const QString folder = dialogs_->Folder(this, start);
    if (folder.isEmpty()) return;
    settings_.Folder = LocalPath(folder);
    ReportSettingsSaved(SaveSettings(settings_, catalogue_, kSaveFolder, location_));
    AddPaths({folder});
}

void CMainWindow::AddPaths(const QStringList& paths) {
    if (!CanRun(kCmdAddFiles) || paths.isEmpty()) return;
    AddBatch(paths, true);
}

void CMainWindow::AddChosenFiles(const QStringList& files) {
    if (!CanRun(kCmdAddFiles) || files.isEmpty()) return;
    AddBatch(files, false);
}

void CMainWindow::AddBatch(const QStringList& paths, bool search) {
    if (busy_) return;
    AddRequest request;
    for (const QString& path : paths) request.items.push_back(LocalPath(path));
    request.mode = search ? AddMode::Dropped : AddMode::Chosen;
    BeginJob(static_cast<int>(CProgressWindow::Kind::Adding));
    progress_->SetFileText(Text(tr("搜索文件...").toStdString()));
    session_.StartAdding(std::move(request), *addRelay_);
}

void CMainWindow::FinishAdding() {
    if (!session_.IsAdding()) return;
    const AddOutcome outcome = session_.FinishAdding(*this);
    DropProgress();
    if (!closeRequested_) {
        // Adding stopped by the user says how far it got, before the files
        // that could not be added.
        QString message;
        if (outcome.stopped)
            message = tr("添加已停止: 已添加 %n 个文件.", nullptr, outcome.result.added);
        if (!outcome.result.message.empty()) {
            if (!message.isEmpty()) message += QStringLiteral("\n\n");
            message += ShowText(outcome.result.message);
        }
        // Looping links were skipped, not failed: named after the rest.
        for (const std::string& link : outcome.linkLoops) {
            if (!message.isEmpty()) message += QLatin1Char('\n');
            message += ShowText(EngineText(kLinkLoopSkippedNote, link));
        }
        if (!message.isEmpty()) prompts_->Warning(this, message);
    }
    emit AddingFinished();
    EndJob();
}

void CMainWindow::BeginJob(int kind) {
    busy_ = true;
    SetControlsEnabled(false);
    DropProgress();
    progress_ = new CProgressWindow(this, static_cast<CProgressWindow::Kind>(kind),
                                    [this] { return closeRequested_; });
    // Cancel in the progress window stops the job; so does a close request
    // (closeEvent).
    connect(progress_, &CProgressWindow::CancelRequested, this, [this] { session_.Cancel(); });
    progress_->ShowCentred();
}

void CMainWindow::EndJob() {
    SetControlsEnabled(true);
    busy_ = false;
    if (closeRequested_) close();
}

void CMainWindow::DropProgress() {
    if (!progress_) return;
    progress_->hide();
    progress_->deleteLater();
    progress_ = nullptr;
}

void CMainWindow::RemoveSelected() {
    if (!CanRun(kCmdRemove)) return;
    const std::vector<int> rows = list_->SelectedRows();
    if (rows.empty()) {
        prompts_->Information(this, tr("您至少需要选择一个文件."));
        return;
    }
    // The rows go in one pass, then their entries.
    const std::vector<FileEntry*> removed = list_->RemoveRows(rows);
    session_.RemoveEntries(std::vector<const FileEntry*>(removed.begin(), removed.end()));
    if (list_->RowCount() == 0) ReleaseListMemory();
}

void CMainWindow::RemoveAll() {
    if (!CanRun(kCmdRemoveAll) || list_->RowCount() == 0) return;
    list_->Clear();
    session_.RemoveAllEntries();
    ReleaseListMemory();
}

void CMainWindow::ReleaseListMemory() {
#if defined(__GLIBC__)
    // Thousands of rows leave their memory free but held by the process;
    // an empty list gives it back.
    malloc_trim(0);
#endif
}

void CMainWindow::SelectAll() {
    if (!CanRun(kCmdSelectAll)) return;
    list_->selectAll();
    list_->setFocus();
}

void CMainWindow::ConvertAll() { Convert(false, false); }
void CMainWindow::ConvertSelected() { Convert(true, false); }
void CMainWindow::ConvertAllToOne() { Convert(false, true); }
void CMainWindow::ConvertSelectedToOne() { Convert(true, true); }

void CMainWindow::Convert(bool selectedOnly, bool merged) {
    if (!CanRun(kCmdConvertAll)) return;
    std::vector<int> rows;
    if (selectedOnly) {
        rows = list_->SelectedRows();
        if (rows.empty()) {
            prompts_->Information(this, tr("您至少需要选择一个文件."));
            return;
        }
    } else {
        if (list_->RowCount() == 0) {
            prompts_->Information(this, tr("列表中没有文件."));
            return;
        }
        for (int row = 1; row <= list_->RowCount(); ++row) rows.push_back(row);
    }
    StartConversion(rows, merged);
}

void CMainWindow::StartConversion(const std::vector<int>& rows, bool merged) {
    if (busy_ || rows.empty()) return;
    // The plan, settled here before anything is touched: the runtimes'
    // questions, then the merged file's name.
    busy_ = true;
    SetControlsEnabled(false);
    RunRequest request;
    for (int row : rows) request.entries.push_back(list_->EntryAt(row));
    request.format = FindFormat(catalogue_, settings_.OutputFormat);
    request.jobs = FilesAtOnce(settings_);
    request.merged = merged;
    request.mergedFromDialog = true;
    runRows_ = rows;
    RunPlan plan;
    Text refusal;
    CPlanCells cells(*this, rows);
    const auto chooseName = [&] { return ChooseMergedFile(*request.format); };
    if (!request.format || !session_.PlanRun(request, *this, cells, chooseName, plan, &refusal)) {
        if (!refusal.empty()) ShowWarning(refusal);
        runRows_.clear();
        return EndJob();
    }
    BeginJob(static_cast<int>(CProgressWindow::Kind::Converting));
    runSkipped_.assign(rows.size(), false);
    runPercent_ = 0;
    UpdateTitle();
    desktop_->SetTaskProgress(true, 0.0);
    session_.StartRun(std::move(plan), *relay_);
}

void CMainWindow::ShowRunProgress(const RunProgress& progress) {
    if (!progress_ || !session_.IsConverting()) return;
    // The run's bar: files finished plus the share of the files in hand.
    constexpr int kSteps = 1000;
    progress_->SetRunProgress(static_cast<int>(progress.runShare * kSteps), kSteps);
    if (!progress.runText.empty()) progress_->SetRunText(progress.runText);
    if (!progress.fileText.empty()) progress_->SetFileText(progress.fileText);
    progress_->SetFileProgress(static_cast<uint64_t>(progress.fileShare * kSteps), kSteps);
    // Whole percents in the title and on the task bar.
    const int percent = static_cast<int>(std::clamp(progress.runShare, 0.0, 1.0) * 100.0);
    if (percent != runPercent_) {
        runPercent_ = percent;
        UpdateTitle();
        desktop_->SetTaskProgress(true, progress.runShare);
    }
}

QString CMainWindow::TitleFor(int rows, int runPercent) {
    if (runPercent >= 0) return tr("%1% — Quelvox").arg(runPercent);
    if (rows > 0) return tr("Quelvox — %1 个文件", nullptr, rows).arg(GroupedCount(rows));
    return tr("Quelvox");
}

void CMainWindow::UpdateTitle() {
    const QString title = TitleFor(list_->RowCount(), runPercent_);
    if (title != windowTitle()) setWindowTitle(title);
}

bool CMainWindow::InFront() const {
    for (const QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget())
        if (w == this) return true;
    return false;
}

void CMainWindow::AnnounceRunEnd(const RunOutcome& outcome) {
    if (outcome.cancelled || !outcome.started || closeRequested_) return;
    const int files = static_cast<int>(runRows_.size());
    int failed = 0;
    for (size_t i = 0; i < runRows_.size(); ++i) {
        const FileEntry* entry = list_->EntryAt(runRows_[i]);
        // A file skipped because its output existed has not failed.
        if (entry && entry->OutputPath.empty() && !runSkipped_[i]) ++failed;
    }
    QString body = tr("转换完成: %1 个文件", nullptr, files).arg(GroupedCount(files));
    if (failed > 0) body += tr(", %1 个失败", nullptr, failed).arg(GroupedCount(failed));
    desktop_->Notify(QStringLiteral("Quelvox"), body, [window = QPointer<CMainWindow>(this)] {
        if (window) window->BringToFront();
    });
}

void CMainWindow::BringToFront() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void CMainWindow::FinishRun(const RunOutcome& outcome) {
    if (!session_.IsConverting()) return;
    session_.FinishRun();
    // Whether the user saw the run end, before its progress window goes.
    const bool seen = InFront();
    runPercent_ = -1;
    UpdateTitle();
    desktop_->SetTaskProgress(false, 0.0);
    if (!seen) AnnounceRunEnd(outcome);
    DropProgress();
    if (!outcome.warning.empty() && !closeRequested_) ShowWarning(outcome.warning);
    if (!partFilesLeft_.isEmpty() && !closeRequested_)
        prompts_->Warning(this, partFilesLeft_.join(QLatin1Char('\n')));
    partFilesLeft_.clear();
    if (!outcome.browsePath.empty() && !closeRequested_) ShowInFileManager(outcome.browsePath);
    runRows_.clear();
    emit ConversionFinished();
    EndJob();
}

FileEntry* CMainWindow::FirstSelectedEntry() const {
    const std::vector<int> rows = list_->SelectedRows();
    return rows.empty() ? nullptr : list_->EntryAt(rows.front());
}

void CMainWindow::PlaySource() {
    if (!CanRun(kCmdPlaySource)) return;
    if (const FileEntry* entry = FirstSelectedEntry()) {
        CWaitCursor wait;
        shell_->OpenFile(FromLocalPath(entry->Path));
    }
}

void CMainWindow::PlayOutput() {
    if (!CanRun(kCmdPlayOutput)) return;
    const FileEntry* entry = FirstSelectedEntry();
    if (entry && !entry->OutputPath.empty()) {
        CWaitCursor wait;
        shell_->OpenFile(FromLocalPath(entry->OutputPath));
    }
}

void CMainWindow::ShowSource() {
    if (!CanRun(kCmdShowSource)) return;
    if (const FileEntry* entry = FirstSelectedEntry()) {
        CWaitCursor wait;
        shell_->ShowInFileManager(FromLocalPath(entry->Path));
    }
}

void CMainWindow::ShowOutput() {
    if (!CanRun(kCmdShowOutput)) return;
    const FileEntry* entry = FirstSelectedEntry();
    if (entry && !entry->OutputPath.empty()) {
        CWaitCursor wait;
        shell_->ShowInFileManager(FromLocalPath(entry->OutputPath));
    }
}

void CMainWindow::ShowOptions() {
    if (!CanRun(kCmdOptions)) return;
    COptServices services;
    services.prompts = prompts_;
    services.wmaFormats = &session_.WmaFormats();
    services.wmaRuntimeCheck = [this] { return session_.WmaRuntimeReady(); };
    services.offerWmaRuntime = [this](QWidget* over) {
        if (prompts_->Question(over, ShowText(EngineText(kWmaRuntimeQuestion))))
            OpenUrl(QUrl(QString::fromLatin1(kWmaRuntimeAddress)));
    };
    services.location = location_;
    services.settingsSaved = [this](bool saved) { ReportSettingsSaved(saved); };
    quelvox::ui::ShowOptions(settings_, catalogue_, services, this);
}

void CMainWindow::ReportSettingsSaved(bool saved) {
    // A settings file that cannot be written (a read-only folder, a full
    // disk) is said once; the settings stay in use until the window closes.
    if (saved || saveFailureTold_) return;
    saveFailureTold_ = true;
    const std::string path = location_.path.empty() ? DefaultSettingsPath() : location_.path;
    QWidget* over = QApplication::activeModalWidget();
    prompts_->Warning(over ? over : this,
                      tr("无法保存设置: 不能写入 \"%1\".\n在本次运行中设置仍然有效.")
                          .arg(FromLocalPath(path)));
}

void CMainWindow::UpdateCommandStates() {
    menuRules_ = true;
    ApplyCommandStates();
}

bool CMainWindow::CanRun(Command command, bool inMenu) const {
    switch (command) {
        // Help, and the caption buttons: closing during an operation
        // cancels it.
        case kCmdHelp:
        case kCmdMinimise:
        case kCmdClose: return true;
        default: break;
    }
    if (!commandsEnabled_) return false;
    if (!inMenu) return true;
    const std::vector<int> selected = list_->SelectedRows();
    const bool any = !selected.empty();
    const bool one = selected.size() == 1;
    const FileEntry* entry = one ? list_->EntryAt(selected.front()) : nullptr;
    const bool hasOutput = entry && !entry->OutputPath.empty();
    switch (command) {
        case kCmdRemoveAll:
        case kCmdConvertAll:
        case kCmdConvertAllToOne: return list_->RowCount() > 0;
        case kCmdRemove:
        case kCmdConvertSelected:
        case kCmdConvertSelectedToOne: return any;
        case kCmdPlaySource:
        case kCmdShowSource: return one;
        case kCmdPlayOutput:
        case kCmdShowOutput: return hasOutput;
        default: return true;
    }
}

void CMainWindow::ApplyCommandStates() {
    for (const auto& [command, action] : actions_)
        action->setEnabled(CanRun(Command(command), menuRules_));
    // A button follows the busy rule only: it explains an empty list when
    // clicked.
    for (const auto& [command, button] : buttons_) button->setEnabled(CanRun(Command(command)));
}

QAction* CMainWindow::MenuAction(Command command) const {
    const auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

CSkinButton* CMainWindow::Button(Command command) const {
    const auto it = buttons_.find(command);
    return it == buttons_.end() ? nullptr : it->second;
}

CHelpWindow* CMainWindow::HelpWindow() const { return help_; }
CProgressWindow* CMainWindow::Progress() const { return progress_; }
CAboutBox* CMainWindow::AboutBox() const { return about_; }

// ---- help, web and mail -------------------------------------------------

void CMainWindow::ShowHelp() {
    if (help_) {
        if (help_->isMinimized()) help_->showNormal();
        help_->raise();
        help_->activateWindow();
        return;
    }
    help_ = new CHelpWindow(nullptr);
    // Centred over the main window, on the screen the main window is on.
    const QRect area = screen() ? screen()->availableGeometry() : frameGeometry();
    help_->move(CentredPlacement(frameGeometry(), help_->frameGeometry().size(), area));
    help_->show();
}

void CMainWindow::OpenFirstStartHelp() {
    ShowHelp();
    help_->showMaximized();
}

void CMainWindow::ShowAbout() {
    if (!CanRun(kCmdAbout)) return;
    if (!about_) about_ = new CAboutBox(this);
    about_->open();
}

void CMainWindow::OpenUrl(const QUrl& url) {
    CWaitCursor wait;
    shell_->OpenUrl(url);
}

void CMainWindow::OpenHomePage() {
    if (!CanRun(kCmdHomePage)) return;
    OpenUrl(QUrl(QString::fromLatin1(kWebAddress)));
}

void CMainWindow::CheckForUpdates() {
    if (!CanRun(kCmdCheckUpdates)) return;
    QUrl url =
        QUrl(QString::fromLatin1(kWebAddress)).resolved(QUrl(QStringLiteral("check_updates/")));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("ver"), QString::fromLatin1(kProductVersion));
    query.addQueryItem(QStringLiteral("build"), QString::number(kProductBuild));
    url.setQuery(query);
    OpenUrl(url);
}

void CMainWindow::WriteToSupport() {
    if (!CanRun(kCmdSupport)) return;
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(QString::fromLatin1(kSupportAddress));
    OpenUrl(url);
}

void CMainWindow::TellFriend() {
    if (!CanRun(kCmdTellFriend)) return;
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    QUrlQuery query;
    query.addQueryItem(
        QStringLiteral("subject"),
        QStringLiteral("%1 - very COOL application!!!").arg(QString::fromLatin1(kProductName)));
    query.addQueryItem(QStringLiteral("body"),
                       QStringLiteral("Download from %1").arg(QString::fromLatin1(kWebAddress)));
    url.setQuery(query);
    OpenUrl(url);
}

// ---- window events ------------------------------------------------------

void CMainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, background_);
}

void CMainWindow::mousePressEvent(QMouseEvent* event) {
    // The empty area moves the window, as a title bar would.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CMainWindow::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape do nothing here; the window closes only through its
    // close button or the desktop.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape: event->accept(); return;
        default: QWidget::keyPressEvent(event);
    }
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    if (busy_) {
        // The job in hand is cancelled (an operation on this thread reads
        // the request as Cancel); the window closes once it has unwound.
        closeRequested_ = true;
        session_.Cancel();
        event->ignore();
        return;
    }
    if (help_) help_->close();
    ReportSettingsSaved(SaveSettings(settings_, catalogue_, kSaveFormatAndPage, location_));
    event->accept();
}

void CMainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (busy_ || !event->mimeData()->hasUrls()) {
        event->ignore();
        return;
    }
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
    event->ignore();
}

void CMainWindow::dropEvent(QDropEvent* event) {
    if (busy_) {
        event->ignore();
        return;
    }
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The drag source waits for the drop to end: the adding runs after it.
    QTimer::singleShot(0, this, [this, paths] { AddPaths(paths); });
}

}  // namespace quelvox::ui
