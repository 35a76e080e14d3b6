// The main window's parts: its actions, controls and menus, and the
// relays that bring the jobs' events to the window thread.
#include "ui/MainWindow.h"

#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "ui/Art.h"
#include "ui/FileList.h"
#include "ui/ProgressWindow.h"
#include "ui/SkinButton.h"
#include "ui/AddRelay.h"
#include "ui/RunRelay.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>

#include <cstdio>
#include <vector>

namespace quelvox::ui {

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
        button->SetFocusFrame(true);
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
        // Mouse only: a key press never minimises or closes the window by
        // surprise (F1 and the keys of the help commands remain).
        button->setFocusPolicy(Qt::NoFocus);
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
    link->SetFocusFrame(true);
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

    // Tab follows the screen: the left column top to bottom (the format
    // list between the buttons, where it stands), then the file list, which
    // has the focus first.
    const std::vector<QWidget*> order = {
        buttons_[kCmdAddFiles],
        buttons_[kCmdAddFolder],
        buttons_[kCmdRemoveAll],
        buttons_[kCmdConvertAll],
        formatBox_,
        buttons_[kCmdConvertAllToOne],
        buttons_[kCmdOptions],
        buttons_[kCmdHomePage],
        list_,
    };
    for (size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
    list_->setFocus();
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

// ---- the jobs' events ----------------------------------------------------

void CMainWindow::ConnectRelays() {
    // A run's events arrive on the job's threads; the relay lives here, so
    // its signals reach these slots queued, on the window thread.
    relay_ = new CRunRelay(this);
    auto row = [this](int index) { return runRows_.at(static_cast<size_t>(index)); };
    connect(relay_, &CRunRelay::VolumeCellChanged, this,
            [this, row](int index, const QString& text) {
                SetVolumeCell(row(index), text.toStdString());
            },
            Qt::QueuedConnection);
    connect(
        relay_, &CRunRelay::OutputCellChanged, this,
        [this, row](int index, const Text& text) {
            if (static_cast<size_t>(index) < runSkipped_.size())
                runSkipped_[static_cast<size_t>(index)] = text.Is(kTargetExistsSkipped);
            SetOutputCell(row(index), text);
        },
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
    connect(relay_, &CRunRelay::VolumeNoted, this,
            [this, row](int index, const Text& note) {
                list_->SetVolumeTip(row(index), ShowText(note));
            },
            Qt::QueuedConnection);
    connect(relay_, &CRunRelay::RowNotesForgotten, this,
            [this, row](int index) { list_->ClearShortSourceNote(row(index)); },
            Qt::QueuedConnection);
    // Tag fields or channels an output could not hold: a short note on
    // standard error, as the program's other notes are.
    const auto noteOnStandardError = [](const Text& note) {
        std::fprintf(stderr, "quelvox: %s\n", ShowTextUtf8(note).c_str());
    };
    connect(relay_, &CRunRelay::TagsDropped, this, noteOnStandardError, Qt::QueuedConnection);
    connect(relay_, &CRunRelay::FileNoted, this,
            [this, noteOnStandardError](const Text& note) {
                noteOnStandardError(note);
                // Files the run leaves behind are named again when it ends.
                if (note.Is(kPartFileLeftNote)) partFilesLeft_.append(ShowText(note));
            },
            Qt::QueuedConnection);
    connect(relay_, &CRunRelay::ProgressChanged, this,
            [this](const RunProgress& progress) { ShowRunProgress(progress); },
            Qt::QueuedConnection);
    connect(relay_, &CRunRelay::RunFinished, this,
            [this](const RunOutcome& outcome) { FinishRun(outcome); }, Qt::QueuedConnection);
    // The adding job's events, likewise.
    addRelay_ = new CAddRelay(this);
    connect(addRelay_, &CAddRelay::RowsReady, this,
            [this](const std::vector<const FileEntry*>& entries) { AppendRows(entries); },
            Qt::QueuedConnection);
    connect(addRelay_, &CAddRelay::ProgressChanged, this,
            [this](const Text& text, quint64 done, quint64 total) {
                if (!progress_) return;
                progress_->SetFileText(text);
                progress_->SetFileProgress(done, total);
            },
            Qt::QueuedConnection);
    connect(addRelay_, &CAddRelay::Finished, this, [this] { FinishAdding(); },
            Qt::QueuedConnection);
}

}  // namespace quelvox::ui
