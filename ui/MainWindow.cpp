#include "ui/MainWindow.h"

#include "common/Product.h"
#include "engine/AddFiles.h"
#include "engine/ConversionJob.h"
#include "engine/ConversionRun.h"
#include "engine/RunPlan.h"
#include "engine/Startup.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "ui/AboutBox.h"
#include "ui/Art.h"
#include "ui/FileDialogs.h"
#include "ui/FileList.h"
#include "ui/HelpWindow.h"
#include "ui/OptSheet.h"
#include "ui/ProgressWindows.h"
#include "ui/Prompts.h"
#include "ui/Shell.h"
#include "ui/SkinButton.h"
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

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString FromLocalPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

CMainWindow::CMainWindow(CCodecRuntime& runtime, MainWindowServices services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      runtime_(runtime),
      prompts_(services.prompts),
      shell_(services.shell),
      dialogs_(services.dialogs),
      location_(services.settings),
      loadWmaRuntime_(std::move(services.loadWmaRuntime)),
      catalogue_(BuildFormatCatalogue()) {
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

    // The MIDI soundfont is not loaded here: a run loads it when it
    // converts a MIDI file, and listing one needs no font.
    // A file converting alone may decode ahead on a second processor.
    state_.processors = DefaultSimultaneousFiles();
    LoadSettings(settings_, catalogue_, location_);

    setWindowTitle(tr("Quelvox"));
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

    // A run's events arrive on the job's threads; the relay lives here, so
    // its signals reach these slots queued, on the window thread.
    relay_ = new CRunRelay(this);
    auto row = [this](int index) { return runRows_.at(static_cast<size_t>(index)); };
    connect(relay_, &CRunRelay::VolumeCellChanged, this,
            [this, row](int index, const QString& text) {
                SetVolumeCell(row(index), text.toStdString());
            },
            Qt::QueuedConnection);
    connect(relay_, &CRunRelay::OutputCellChanged, this,
            [this, row](int index, const Text& text) { SetOutputCell(row(index), text); },
            Qt::QueuedConnection);
    connect(relay_, &CRunRelay::RowReached, this,
            [this, row](int index) { ScrollToRow(row(index)); }, Qt::QueuedConnection);
    connect(relay_, &CRunRelay::OutputColumnWidened, this, [this] { WidenOutputColumn(); },
            Qt::QueuedConnection);
    connect(relay_, &CRunRelay::ShortSourceNoted, this,
            [this, row](int index, double claimed, double held) {
                NoteShortSource(row(index), claimed, held);
            },
            Qt::QueuedConnection);
    // Tag fields or channels an output could not hold: a short note on
    // standard error, as the program's other notes are.
    const auto noteOnStandardError = [](const Text& note) {
        std::fprintf(stderr, "quelvox: %s\n", ShowTextUtf8(note).c_str());
    };
    connect(relay_, &CRunRelay::TagsDropped, this, noteOnStandardError, Qt::QueuedConnection);
    connect(relay_, &CRunRelay::FileNoted, this, noteOnStandardError, Qt::QueuedConnection);
    connect(relay_, &CRunRelay::ProgressChanged, this,
            [this](const RunProgress& progress) { ShowRunProgress(progress); },
            Qt::QueuedConnection);
    connect(relay_, &CRunRelay::RunFinished, this,
            [this](const RunOutcome& outcome) { FinishRun(outcome); }, Qt::QueuedConnection);
    // Cancel in the progress window, or a close request, stops the job.
    cancelWatch_ = new QTimer(this);
    cancelWatch_->setInterval(30);
    connect(cancelWatch_, &QTimer::timeout, this, [this] {
        if (job_ && (closeRequested_ || (progress_ && progress_->IsCancelled()))) job_->Cancel();
    });
    setAcceptDrops(true);
    CheckFirstRun(settings_, location_, [this](const std::string&) { OpenFirstStartHelp(); });
}

CMainWindow::~CMainWindow() {
    // A job still running is stopped before what it converts goes away.
    job_.reset();
    if (help_) help_->close();
}

// ---- building ----------------------------------------------------------

void CMainWindow::BuildActions() {
    // Each command is one action: its menu text (with the key after the
    // tab, as the menu shows it), the caption of its skin button (the
    // action's icon text), the button's tooltip, its key, its menu icon and
    // what it does. Whether it can run is CanRun's to say.
    struct CommandEntry {
        Command command;
        const char* menuText;
        const char* buttonText;
        const char* tip;
        QKeySequence key;
        void (CMainWindow::*slot)();
    };
    const CommandEntry commands[] = {
        {kCmdAddFiles, QT_TR_NOOP("添加文件(&A)...\tCtrl+O"), QT_TR_NOOP("添加文件(&A)"),
         QT_TR_NOOP("添加文件"), QKeySequence(Qt::CTRL | Qt::Key_O), &CMainWindow::AddFiles},
        {kCmdAddFolder, QT_TR_NOOP("添加文件夹(&O)"), QT_TR_NOOP("添加文件夹(&F)"),
         QT_TR_NOOP("添加文件夹里的文件"), {}, &CMainWindow::AddFolder},
        {kCmdRemoveAll, QT_TR_NOOP("全部移除(&L)"), QT_TR_NOOP("全部移除(&R)"),
         QT_TR_NOOP("移除列表中的所有文件"), {}, &CMainWindow::RemoveAll},
        {kCmdRemove, QT_TR_NOOP("移除(&R)\tDel"), nullptr, nullptr, QKeySequence(Qt::Key_Delete),
         &CMainWindow::RemoveSelected},
        {kCmdConvertSelected, QT_TR_NOOP("转换所选(&C)"), nullptr, nullptr, {},
         &CMainWindow::ConvertSelected},
        {kCmdConvertAll, QT_TR_NOOP("全部转换"), QT_TR_NOOP("转换(&C)"), QT_TR_NOOP("转换所有文件"),
         {}, &CMainWindow::ConvertAll},
        {kCmdConvertSelectedToOne, QT_TR_NOOP("转换选定为一个(&C)"), nullptr, nullptr, {},
         &CMainWindow::ConvertSelectedToOne},
        {kCmdConvertAllToOne, QT_TR_NOOP("转换全部为一个"), QT_TR_NOOP("转换为一个(&N)"),
         QT_TR_NOOP("转换所有文件为一个文件"), {}, &CMainWindow::ConvertAllToOne},
        {kCmdPlaySource, QT_TR_NOOP("播放来源(&P)"), nullptr, nullptr, {}, &CMainWindow::PlaySource},
        {kCmdPlayOutput, QT_TR_NOOP("播放目标(&D)"), nullptr, nullptr, {}, &CMainWindow::PlayOutput},
        {kCmdShowSource, QT_TR_NOOP("浏览原始文件夹(&S)"), nullptr, nullptr, {},
         &CMainWindow::ShowSource},
        {kCmdShowOutput, QT_TR_NOOP("浏览目标文件夹(&F)"), nullptr, nullptr, {},
         &CMainWindow::ShowOutput},
        {kCmdSelectAll, nullptr, nullptr, nullptr, QKeySequence(Qt::CTRL | Qt::Key_A),
         &CMainWindow::SelectAll},
        {kCmdOptions, nullptr, QT_TR_NOOP("选项(&O)"), QT_TR_NOOP("选项"), {},
         &CMainWindow::ShowOptions},
        {kCmdHelp, QT_TR_NOOP("帮助技巧(&H)\tF1"), nullptr, nullptr, QKeySequence(Qt::Key_F1),
         &CMainWindow::ShowHelp},
        {kCmdTellFriend, QT_TR_NOOP("告诉朋友(&T)"), nullptr, nullptr, {}, &CMainWindow::TellFriend},
        {kCmdSupport, QT_TR_NOOP("反馈和支持(&F)"), nullptr, nullptr, {},
         &CMainWindow::WriteToSupport},
        {kCmdHomePage, QT_TR_NOOP("主页(&P)"), nullptr, nullptr, {}, &CMainWindow::OpenHomePage},
        {kCmdCheckUpdates, QT_TR_NOOP("检查最新版本(&C)"), nullptr, nullptr, {},
         &CMainWindow::CheckForUpdates},
        {kCmdAbout, QT_TR_NOOP("关于(&A)..."), nullptr, nullptr, {}, &CMainWindow::ShowAbout},
    };
    for (const CommandEntry& entry : commands) {
        auto* action = new QAction(MenuIcon(entry.command), entry.menuText ? tr(entry.menuText) : QString(),
                                   this);
        if (entry.buttonText) action->setIconText(tr(entry.buttonText));
        if (entry.tip) action->setToolTip(tr(entry.tip));
        if (!entry.key.isEmpty()) {
            // A window shortcut: the key works wherever the focus is in the
            // window, whatever the menu last showed.
            action->setShortcut(entry.key);
            action->setShortcutContext(Qt::WindowShortcut);
            addAction(action);
        }
        connect(action, &QAction::triggered, this, entry.slot);
        actions_[entry.command] = action;
    }
}

void CMainWindow::BuildControls() {
    const int commandButtons[][2] = {
        {kCmdAddFiles, 72},    {kCmdAddFolder, 119},       {kCmdRemoveAll, 166},
        {kCmdConvertAll, 213}, {kCmdConvertAllToOne, 297}, {kCmdOptions, 345},
    };
    const qreal dpr = devicePixelRatioF() > 1.0 ? 2.0 : 1.0;
    const QPixmap normal = CommandButtonImage(false, dpr);
    const QPixmap hover = CommandButtonImage(true, dpr);
    for (const auto& [command, y] : commandButtons) {
        QAction* action = actions_.at(command);
        auto* button = new CSkinButton(this);
        button->setText(action->iconText());
        button->setToolTip(action->toolTip());
        button->setFont(UiFont(12, true));
        button->SetTextColours(CommandTextColour(), CommandTextColour());
        button->SetBorder(false);
        button->SetImages(normal, hover, true);
        button->move(11, y);
        connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
        buttons_[command] = button;
    }

    struct CaptionButton {
        Command command;
        CaptionGlyph glyph;
        const char* tip;
        int x;
    };
    const CaptionButton captionButtons[] = {
        {kCmdHelpMenu, CaptionGlyph::Help, QT_TR_NOOP("帮助"), 867},
        {kCmdMinimise, CaptionGlyph::Minimise, QT_TR_NOOP("最小化"), 893},
        {kCmdClose, CaptionGlyph::Close, QT_TR_NOOP("关闭"), 918},
    };
    for (const CaptionButton& b : captionButtons) {
        auto* button = new CSkinButton(this);
        button->SetGlyph(CaptionIcon(b.glyph));
        button->SetDrawText(false);
        button->SetBorder(true);
        button->setToolTip(tr(b.tip));
        button->setGeometry(b.x, 11, 21, 21);
        buttons_[b.command] = button;
    }
    connect(buttons_[kCmdHelpMenu], &QAbstractButton::clicked, this, [this] {
        CSkinButton* button = buttons_[kCmdHelpMenu];
        helpMenu_->popup(button->mapToGlobal(QPoint(0, button->height())));
    });
    connect(buttons_[kCmdMinimise], &QAbstractButton::clicked, this, &QWidget::showMinimized);
    connect(buttons_[kCmdClose], &QAbstractButton::clicked, this, &QWidget::close);

    auto* link = new CSkinButton(this);
    link->setText(QString::fromLatin1(kWebAddress).remove(QStringLiteral("https://")).remove(u'/'));
    link->setToolTip(tr("访问 %1 主页").arg(QString::fromLatin1(kProductName)));
    link->setFont(UiFont(12, true, true));
    link->SetTextColours(QColor(0, 0, 255), QColor(255, 0, 0));
    link->SetBorder(false);
    link->SetPressOffset(false);
    link->setGeometry(9, 618, 113, 20);
    buttons_[kCmdHomePage] = link;
    connect(link, &QAbstractButton::clicked, actions_.at(kCmdHomePage), &QAction::trigger);

    formatBox_ = new QComboBox(this);
    formatBox_->setToolTip(tr("输出格式"));
    formatBox_->setFont(UiFont(12));
    formatBox_->setGeometry(11, 258, 102, formatBox_->sizeHint().height());
    formatBox_->setMaxVisibleItems(16);
    // The open list is as wide as its longest item; the closed box keeps
    // its size. Set again when the items are filled.
    formatBox_->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    list_ = new CFileList(this);
    list_->setGeometry(137, 63, 803, 575);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (busy_) return;
        contextMenu_->popup(list_->viewport()->mapToGlobal(at));
    });
    connect(list_, &QAbstractItemView::doubleClicked, this, [this] { PlaySource(); });
}

void CMainWindow::BuildMenus() {
    // 0 stands for a separator.
    const int contextItems[] = {
        kCmdPlaySource,      kCmdPlayOutput,  0,
        kCmdConvertSelected, kCmdConvertAll,  0,
        kCmdConvertSelectedToOne, kCmdConvertAllToOne, 0,
        kCmdShowSource,      kCmdShowOutput,  0,
        kCmdAddFiles,        kCmdAddFolder,   kCmdRemove, kCmdRemoveAll,
    };
    const int helpItems[] = {
        kCmdHelp, 0, kCmdTellFriend, kCmdSupport, kCmdHomePage, kCmdCheckUpdates, 0, kCmdAbout,
    };
    auto fill = [this](QMenu* menu, const auto& items) {
        menu->setFont(UiFont(12));
        for (int command : items) {
            if (command == 0) {
                menu->addSeparator();
            } else {
                menu->addAction(actions_.at(command));
            }
        }
    };
    contextMenu_ = new QMenu(this);
    fill(contextMenu_, contextItems);
    // The menu shows its commands by the rows and the selection; the keys
    // and buttons act whenever the window is not busy, and explain an
    // empty list or selection.
    connect(contextMenu_, &QMenu::aboutToShow, this, &CMainWindow::UpdateCommandStates);
    connect(contextMenu_, &QMenu::aboutToHide, this, [this] {
        menuRules_ = false;
        ApplyCommandStates();
    });
    helpMenu_ = new QMenu(this);
    fill(helpMenu_, helpItems);
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
    // A row that is being converted again starts without its old note.
    if (text.Is(kPreprocessingRow) || text.Is(kNormalisingRow) || text.Is(kConvertingRow))
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

bool CMainWindow::IsListedSource(const std::string& path) const {
    // Writing the merged file over one of its sources (by any name that
    // leads to the same file) would destroy that source.
    for (const auto& [key, entry] : pathMap_) {
        std::error_code ec;
        if (key == PathMapKey(path) || std::filesystem::equivalent(path, entry.Path, ec))
            return true;
        // A CUE track's audio is its image.
        if (!entry.ImagePath.empty() && std::filesystem::equivalent(path, entry.ImagePath, ec))
            return true;
    }
    return false;
}

std::string CMainWindow::ChooseMergedFile(const OutputFormatEntry& format) {
    const QString extension = QString::fromStdString(format.extension);
    // A listed source is refused while the dialog is still open, before it
    // would ask whether to replace that file.
    auto refuse = [this](QWidget* over, const QString& chosen) {
        if (!IsListedSource(LocalPath(chosen))) return false;
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
    RunBusy([&] {
        progress_ = new CProgressWindow(this, CProgressWindow::Kind::Adding,
                                        [this] { return closeRequested_; });
        progress_->SetFileText(tr("搜索文件...").toStdString());
        progress_->ShowCentred();
        std::vector<std::string> items;
        for (const QString& path : paths) items.push_back(LocalPath(path));
        std::vector<std::string> files;
        // The folder each file was found in, for a tree kept from there.
        std::vector<std::string> roots;
        std::vector<std::string> linkLoops;
        bool searched = true;
        if (search)
            searched = CollectDroppedPaths(items, settings_, files, progress_, &roots, &linkLoops);
        else
            files = items;
        // A search cut short by Cancel adds nothing; an empty result closes
        // the window without a word.
        AddPathListResult result;
        if (searched && !files.empty()) {
            // CUE sheets are read when they are added, in the tag code
            // page the settings choose now.
            runtime_.Bass().SetTagCodePage(settings_.TagCodePage);
            CRunReaderServices readers(runtime_, wmaFormats_, this);
            // The files are opened on worker threads; here their rows are
            // listed, and the window stays alive while a slow one is read.
            AddPathListOptions options;
            options.waiting = [this] {
                if (progress_) progress_->Pump();
            };
            result = AddPathList(readers, pathMap_, *this, files, progress_,
                                 search ? &roots : nullptr, options);
        }
        const bool stopped = !searched || result.cancelled;
        DropProgress();
        if (closeRequested_) return;
        // Adding stopped by the user says how far it got, before the files
        // that could not be added.
        QString message;
        if (stopped) message = tr("添加已停止: 已添加 %n 个文件.", nullptr, result.added);
        if (!result.message.empty()) {
            if (!message.isEmpty()) message += QStringLiteral("\n\n");
            message += ShowText(result.message);
        }
        // Looping links were skipped, not failed: named after the rest.
        for (const std::string& link : linkLoops) {
            if (!message.isEmpty()) message += QLatin1Char('\n');
            message += ShowText(EngineText(kLinkLoopSkippedNote, link));
        }
        if (!message.isEmpty()) prompts_->Warning(this, message);
    });
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
    RemoveFileEntries(pathMap_, std::vector<const FileEntry*>(removed.begin(), removed.end()));
}

void CMainWindow::RemoveAll() {
    if (!CanRun(kCmdRemoveAll) || list_->RowCount() == 0) return;
    list_->Clear();
    pathMap_.clear();
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
    emit ConversionRequested(rows, merged);
    const OutputFormatEntry* format = FindFormat(catalogue_, settings_.OutputFormat);
    if (!format || busy_ || rows.empty()) return;
    // The plan, settled here before anything is touched: the runtimes'
    // questions, then the merged file's name.
    busy_ = true;
    SetControlsEnabled(false);
    auto abandon = [this] {
        SetControlsEnabled(true);
        busy_ = false;
        if (closeRequested_) close();
    };
    RunPlan plan;
    for (int row : rows) plan.entries.push_back(list_->EntryAt(row));
    plan.format = format;
    plan.jobs = merged ? 1 : FilesAtOnce(settings_);
    plan.merged = merged;
    {
        CRunReaderServices readers(runtime_, wmaFormats_, this);
        RunEnvironment env{settings_, runtime_, readers, wmaFormats_, state_};
        if (!SettleRunRuntimes(env, *this, plan.entries, *format)) return abandon();
    }
    if (merged) {
        const std::string chosen = ChooseMergedFile(*format);
        if (chosen.empty()) return abandon();
        plan.target =
            SettleMergedTarget(chosen, *format, plan.entries, settings_.TargetExistsOpt, true);
        if (plan.target.path.empty()) {
            // A merge that never starts gives every row its reason.
            for (int row : rows) SetOutputCell(row, plan.target.refusal);
            ShowWarning(plan.target.refusal);
            return abandon();
        }
    }

    runRows_ = rows;
    runMerged_ = merged;
    DropProgress();
    progress_ = new CProgressWindow(this, CProgressWindow::Kind::Converting,
                                    [this] { return closeRequested_; });
    progress_->ShowCentred();
    job_ = std::make_unique<CConversionJob>(settings_, runtime_, wmaFormats_, state_,
                                            std::move(plan), *relay_);
    cancelWatch_->start();
    job_->Start();
}

void CMainWindow::ShowRunProgress(const RunProgress& progress) {
    if (!progress_ || !job_) return;
    // The run's bar: files finished plus the share of the files in hand.
    constexpr int kSteps = 1000;
    progress_->SetRunProgress(static_cast<int>(progress.runShare * kSteps), kSteps);
    if (!progress.runText.empty()) progress_->SetRunText(progress.runText);
    if (!progress.fileText.empty()) progress_->SetFileText(progress.fileText);
    progress_->SetFileProgress(static_cast<uint64_t>(progress.fileShare * kSteps), kSteps);
}

void CMainWindow::FinishRun(const RunOutcome& outcome) {
    if (!job_) return;
    job_->Wait();
    job_.reset();
    cancelWatch_->stop();
    DropProgress();
    if (!outcome.warning.empty() && !closeRequested_) ShowWarning(outcome.warning);
    if (runMerged_ && outcome.started && !outcome.mergedKept) {
        // The rows appended to a merged file that was not kept must not name
        // it: they say why it is not there, in the run's own row texts. A
        // failed write has already put its cause in those rows.
        std::vector<int> appended;
        for (int index : outcome.appendedRows)
            appended.push_back(runRows_.at(static_cast<size_t>(index)));
        for (int row : appended) list_->ClearShortSourceNote(row);
        if (outcome.cancelled || outcome.mergedMoveFailed) {
            const Text why = outcome.mergedMoveFailed
                                 ? EngineText(kMergedCreateFailed, outcome.mergedPath)
                                 : EngineText(kCancelledRow);
            for (int row : appended) {
                SetVolumeCell(row, "");
                SetOutputCell(row, why);
            }
        }
    }
    if (!outcome.browsePath.empty() && !closeRequested_) ShowInFileManager(outcome.browsePath);
    runRows_.clear();
    SetControlsEnabled(true);
    busy_ = false;
    emit ConversionFinished();
    if (closeRequested_) close();
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
    services.wmaFormats = &wmaFormats_;
    // The runtime question is asked at most once per opening of the sheet.
    services.wmaRuntimeCheck = [this, asked = false]() mutable {
        const bool loaded = loadWmaRuntime_ ? loadWmaRuntime_() : runtime_.LoadWmaRuntime();
        if (!loaded) {
            if (!asked) {
                asked = true;
                QWidget* over = QApplication::activeModalWidget();
                if (prompts_->Question(over ? over : this, ShowText(EngineText(kWmaRuntimeQuestion))))
                    OpenUrl(QUrl(QString::fromLatin1(kWmaRuntimeAddress)));
            }
            return false;
        }
        if (wmaFormats_.empty()) BuildWmaFormatList(wmaFormats_);
        return true;
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
        // The operation in hand reads this as Cancel; the window closes
        // once it has unwound.
        closeRequested_ = true;
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
