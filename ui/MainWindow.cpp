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

    BuildControls();
    BuildMenus();
    BuildShortcuts();
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

void CMainWindow::BuildControls() {
    struct CommandButton {
        Command command;
        const char* caption;
        const char* tip;
        int y;
    };
    const CommandButton commandButtons[] = {
        {kCmdAddFiles, QT_TR_NOOP("添加文件(&A)"), QT_TR_NOOP("添加文件"), 72},
        {kCmdAddFolder, QT_TR_NOOP("添加文件夹(&F)"), QT_TR_NOOP("添加文件夹里的文件"), 119},
        {kCmdRemoveAll, QT_TR_NOOP("全部移除(&R)"), QT_TR_NOOP("移除列表中的所有文件"), 166},
        {kCmdConvertAll, QT_TR_NOOP("转换(&C)"), QT_TR_NOOP("转换所有文件"), 213},
        {kCmdConvertAllToOne, QT_TR_NOOP("转换为一个(&N)"), QT_TR_NOOP("转换所有文件为一个文件"),
         297},
        {kCmdOptions, QT_TR_NOOP("选项(&O)"), QT_TR_NOOP("选项"), 345},
    };
    const qreal dpr = devicePixelRatioF() > 1.0 ? 2.0 : 1.0;
    const QPixmap normal = CommandButtonImage(false, dpr);
    const QPixmap hover = CommandButtonImage(true, dpr);
    for (const CommandButton& b : commandButtons) {
        auto* button = new CSkinButton(this);
        button->setText(tr(b.caption));
        button->setToolTip(tr(b.tip));
        button->setFont(UiFont(12, true));
        button->SetTextColours(CommandTextColour(), CommandTextColour());
        button->SetBorder(false);
        button->SetImages(normal, hover, true);
        button->move(11, b.y);
        buttons_[b.command] = button;
    }
    connect(buttons_[kCmdAddFiles], &QAbstractButton::clicked, this, &CMainWindow::AddFiles);
    connect(buttons_[kCmdAddFolder], &QAbstractButton::clicked, this, &CMainWindow::AddFolder);
    connect(buttons_[kCmdRemoveAll], &QAbstractButton::clicked, this, &CMainWindow::RemoveAll);
    connect(buttons_[kCmdConvertAll], &QAbstractButton::clicked, this, &CMainWindow::ConvertAll);
    connect(buttons_[kCmdConvertAllToOne], &QAbstractButton::clicked, this,
            &CMainWindow::ConvertAllToOne);
    connect(buttons_[kCmdOptions], &QAbstractButton::clicked, this, &CMainWindow::ShowOptions);

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
    connect(link, &QAbstractButton::clicked, this, &CMainWindow::OpenHomePage);

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
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { PlaySource(); });
}

void CMainWindow::BuildMenus() {
    struct Item {
        Command command;  // 0 = separator
        const char* text;
        void (CMainWindow::*slot)();
    };
    const Item contextItems[] = {
        {kCmdPlaySource, QT_TR_NOOP("播放来源(&P)"), &CMainWindow::PlaySource},
        {kCmdPlayOutput, QT_TR_NOOP("播放目标(&D)"), &CMainWindow::PlayOutput},
        {Command(0), nullptr, nullptr},
        {kCmdConvertSelected, QT_TR_NOOP("转换所选(&C)"), &CMainWindow::ConvertSelected},
        {kCmdConvertAll, QT_TR_NOOP("全部转换"), &CMainWindow::ConvertAll},
        {Command(0), nullptr, nullptr},
        {kCmdConvertSelectedToOne, QT_TR_NOOP("转换选定为一个(&C)"),
         &CMainWindow::ConvertSelectedToOne},
        {kCmdConvertAllToOne, QT_TR_NOOP("转换全部为一个"), &CMainWindow::ConvertAllToOne},
        {Command(0), nullptr, nullptr},
        {kCmdShowSource, QT_TR_NOOP("浏览原始文件夹(&S)"), &CMainWindow::ShowSource},
        {kCmdShowOutput, QT_TR_NOOP("浏览目标文件夹(&F)"), &CMainWindow::ShowOutput},
        {Command(0), nullptr, nullptr},
        {kCmdAddFiles, QT_TR_NOOP("添加文件(&A)...\tCtrl+O"), &CMainWindow::AddFiles},
        {kCmdAddFolder, QT_TR_NOOP("添加文件夹(&O)"), &CMainWindow::AddFolder},
        {kCmdRemove, QT_TR_NOOP("移除(&R)\tDel"), &CMainWindow::RemoveSelected},
        {kCmdRemoveAll, QT_TR_NOOP("全部移除(&L)"), &CMainWindow::RemoveAll},
    };
    const Item helpItems[] = {
        {kCmdHelp, QT_TR_NOOP("帮助技巧(&H)\tF1"), &CMainWindow::ShowHelp},
        {Command(0), nullptr, nullptr},
        {kCmdTellFriend, QT_TR_NOOP("告诉朋友(&T)"), &CMainWindow::TellFriend},
        {kCmdSupport, QT_TR_NOOP("反馈和支持(&F)"), &CMainWindow::WriteToSupport},
        {kCmdHomePage, QT_TR_NOOP("主页(&P)"), &CMainWindow::OpenHomePage},
        {kCmdCheckUpdates, QT_TR_NOOP("检查最新版本(&C)"), &CMainWindow::CheckForUpdates},
        {Command(0), nullptr, nullptr},
        {kCmdAbout, QT_TR_NOOP("关于(&A)..."), &CMainWindow::ShowAbout},
    };
    auto fill = [this](QMenu* menu, const auto& items) {
        menu->setFont(UiFont(12));
        for (const Item& item : items) {
            if (!item.text) {
                menu->addSeparator();
                continue;
            }
            // The shortcut after the tab is shown in the menu's shortcut
            // column; the keys themselves are window shortcuts, which work
            // whatever state the menu item is in.
            QAction* action = menu->addAction(MenuIcon(item.command), tr(item.text));
            connect(action, &QAction::triggered, this, item.slot);
            actions_[item.command] = action;
        }
    };
    contextMenu_ = new QMenu(this);
    fill(contextMenu_, contextItems);
    connect(contextMenu_, &QMenu::aboutToShow, this, &CMainWindow::UpdateCommandStates);
    helpMenu_ = new QMenu(this);
    fill(helpMenu_, helpItems);
}

void CMainWindow::BuildShortcuts() {
    const struct {
        QKeySequence keys;
        void (CMainWindow::*slot)();
    } shortcuts[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_A), &CMainWindow::SelectAll},
        {QKeySequence(Qt::CTRL | Qt::Key_O), &CMainWindow::AddFiles},
        {QKeySequence(Qt::Key_Delete), &CMainWindow::RemoveSelected},
        {QKeySequence(Qt::Key_F1), &CMainWindow::ShowHelp},
    };
    for (const auto& s : shortcuts) {
        auto* action = new QAction(this);
        action->setShortcut(s.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, s.slot);
        addAction(action);
    }
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

void CMainWindow::SetVolumeCell(int row, const std::string& text) {
    if (QTreeWidgetItem* item = list_->topLevelItem(row - 1))
        item->setText(kColumnVolume, QString::fromStdString(text));
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
    if (QTreeWidgetItem* item = list_->topLevelItem(row - 1)) list_->scrollToItem(item);
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
    // The caption buttons stay usable: closing during an operation cancels
    // it.
    for (auto& [command, button] : buttons_)
        if (command != kCmdClose && command != kCmdMinimise) button->setEnabled(enabled);
    list_->setEnabled(enabled);
    formatBox_->setEnabled(enabled);
}

// ---- commands -----------------------------------------------------------

void CMainWindow::AddFiles() {
    if (busy_) return;
    const QStringList files = dialogs_->OpenFiles(this);
    AddChosenFiles(files);
}

void CMainWindow::AddFolder() {
    if (busy_) return;
    const QString start =
        settings_.Folder.empty() ? QDir::homePath() : FromLocalPath(settings_.Folder);
    const QString folder = dialogs_->Folder(this, start);
    if (folder.isEmpty()) return;
    settings_.Folder = LocalPath(folder);
    ReportSettingsSaved(SaveSettings(settings_, catalogue_, kSaveFolder, location_));
    AddPaths({folder});
}

void CMainWindow::AddPaths(const QStringList& paths) {
    if (busy_ || paths.isEmpty()) return;
    AddBatch(paths, true);
}

void CMainWindow::AddChosenFiles(const QStringList& files) {
    if (busy_ || files.isEmpty()) return;
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
        bool searched = true;
        if (search)
            searched = CollectDroppedPaths(items, settings_, files, progress_, &roots);
        else
            files = items;
        // A search cut short by Cancel adds nothing; an empty result closes
        // the window without a word.
        AddPathListResult result;
        if (searched && !files.empty()) {
            CRunReaderServices readers(runtime_, wmaFormats_, this);
            result = AddPathList(readers, state_, pathMap_, *this, files, progress_,
                                 search ? &roots : nullptr);
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
            message += TranslateEngineText(result.message);
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
    if (busy_) return;
    const std::vector<int> rows = list_->SelectedRows();
    if (rows.empty()) {
        prompts_->Information(this, tr("您至少需要选择一个文件."));
        return;
    }
    std::vector<const FileEntry*> doomed;
    // Bottom to top, so the row numbers ahead stay valid.
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        doomed.push_back(list_->EntryAt(*row));
        delete list_->takeTopLevelItem(*row - 1);
    }
    RemoveFileEntries(pathMap_, doomed);
}

void CMainWindow::RemoveAll() {
    if (busy_ || list_->RowCount() == 0) return;
    list_->clear();
    pathMap_.clear();
}

void CMainWindow::SelectAll() {
    if (busy_) return;
    list_->selectAll();
    list_->setFocus();
}

void CMainWindow::ConvertAll() { Convert(false, false); }
void CMainWindow::ConvertSelected() { Convert(true, false); }
void CMainWindow::ConvertAllToOne() { Convert(false, true); }
void CMainWindow::ConvertSelectedToOne() { Convert(true, true); }

void CMainWindow::Convert(bool selectedOnly, bool merged) {
    if (busy_) return;
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
    if (busy_) return;
    if (const FileEntry* entry = FirstSelectedEntry()) {
        CWaitCursor wait;
        shell_->OpenFile(FromLocalPath(entry->Path));
    }
}

void CMainWindow::PlayOutput() {
    if (busy_) return;
    const FileEntry* entry = FirstSelectedEntry();
    if (entry && !entry->OutputPath.empty()) {
        CWaitCursor wait;
        shell_->OpenFile(FromLocalPath(entry->OutputPath));
    }
}

void CMainWindow::ShowSource() {
    if (busy_) return;
    if (const FileEntry* entry = FirstSelectedEntry()) {
        CWaitCursor wait;
        shell_->ShowInFileManager(FromLocalPath(entry->Path));
    }
}

void CMainWindow::ShowOutput() {
    if (busy_) return;
    const FileEntry* entry = FirstSelectedEntry();
    if (entry && !entry->OutputPath.empty()) {
        CWaitCursor wait;
        shell_->ShowInFileManager(FromLocalPath(entry->OutputPath));
    }
}

void CMainWindow::ShowOptions() {
    if (busy_) return;
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
    const int count = list_->RowCount();
    const std::vector<int> selected = list_->SelectedRows();
    const bool any = !selected.empty();
    const bool one = selected.size() == 1;
    const FileEntry* entry = one ? list_->EntryAt(selected.front()) : nullptr;
    const bool hasOutput = entry && !entry->OutputPath.empty();
    const std::pair<Command, bool> rules[] = {
        {kCmdAddFiles, true},
        {kCmdAddFolder, true},
        {kCmdRemoveAll, count > 0},
        {kCmdRemove, any},
        {kCmdConvertSelected, any},
        {kCmdConvertAll, count > 0},
        {kCmdConvertSelectedToOne, any},
        {kCmdConvertAllToOne, count > 0},
        {kCmdPlaySource, one},
        {kCmdPlayOutput, hasOutput},
        {kCmdShowSource, one},
        {kCmdShowOutput, hasOutput},
    };
    for (const auto& [command, enabled] : rules)
        if (QAction* action = MenuAction(command)) action->setEnabled(enabled);
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
    if (busy_) return;
    if (!about_) about_ = new CAboutBox(this);
    about_->open();
}

void CMainWindow::OpenUrl(const QUrl& url) {
    CWaitCursor wait;
    shell_->OpenUrl(url);
}

void CMainWindow::OpenHomePage() {
    if (busy_) return;
    OpenUrl(QUrl(QString::fromLatin1(kWebAddress)));
}

void CMainWindow::CheckForUpdates() {
    if (busy_) return;
    QUrl url =
        QUrl(QString::fromLatin1(kWebAddress)).resolved(QUrl(QStringLiteral("check_updates/")));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("ver"), QString::fromLatin1(kProductVersion));
    query.addQueryItem(QStringLiteral("build"), QString::number(kProductBuild));
    url.setQuery(query);
    OpenUrl(url);
}

void CMainWindow::WriteToSupport() {
    if (busy_) return;
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(QString::fromLatin1(kSupportAddress));
    OpenUrl(url);
}

void CMainWindow::TellFriend() {
    if (busy_) return;
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
