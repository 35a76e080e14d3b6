// The main window driven through its commands, keys and header clicks on
// the offscreen platform, with the message boxes and the desktop answered
// by recorders.
#include "ui/MainWindow.h"

#include "common/Product.h"
#include "engine/ListCells.h"
#include "engine/CodecRuntime.h"
#include "ui/AboutBox.h"
#include "ui/FileList.h"
#include "ui/HelpWindow.h"
#include "ui/OptSheet.h"
#include "ui/Prompts.h"
#include "ui/Shell.h"
#include "ui/SkinButton.h"

#include "support/TestSupport.h"
#include "WindowSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEnterEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quelvox;
using namespace quelvox::ui;
using namespace testsupport;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { runtime.Start(ExecutableFolder()); }

    // Opens the window; unless `firstStart`, the settings say it has been
    // started before.
    CMainWindow& Open(bool firstStart = false) {
        if (!firstStart) {
            CSettings seen;
            CheckFirstRun(seen, location);
        }
        window = std::make_unique<CMainWindow>(
            runtime, MainWindowServices{&prompts, &shell, location, &dialogs});
        window->show();
        return *window;
    }

    // Lists an entry as the engine's adding step does.
    int List(const std::string& path, int seconds, int kbps = 128, int hz = 44100,
             int channels = 2) {
        FileEntry entry;
        entry.Path = path;
        entry.Duration = seconds;
        entry.Bitrate = kbps;
        entry.SampleRate = hz;
        entry.Channels = channels;
        auto [it, added] = window->PathMap().emplace(PathMapKey(path), entry);
        return added ? window->AppendRow(it->second) : 0;
    }

    QStringList Column(int column) const {
        QStringList texts;
        for (int i = 0; i < window->List()->RowCount(); ++i)
            texts << window->List()->CellText(i + 1, column);
        return texts;
    }

    void ClickHeader(int column) {
        QHeaderView* header = window->List()->header();
        const QPoint at(header->sectionViewportPosition(column) + 10, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }

    void SelectRows(std::initializer_list<int> rows) {
        window->List()->SelectRows(rows);
    }

    bool Enabled(Command command) { return window->MenuAction(command)->isEnabled(); }

    TempDir dir;
    SettingsLocation location{dir.file("settings.ini")};
    CCodecRuntime runtime;
    RecordingPrompts prompts;
    RecordingShell shell;
    ScriptedDialogs dialogs;
    std::unique_ptr<CMainWindow> window;
};

// ---- the window ---------------------------------------------------------

TEST_F(MainWindowTest, FixedFramelessWindowWhoseCaptionsFitTheirButtons) {
    CMainWindow& w = Open();
    EXPECT_EQ(w.size(), QSize(950, 650));
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.windowTitle(), "Quelvox");
    EXPECT_EQ(w.List()->geometry(), QRect(137, 63, 803, 575));

    for (Command c : {kCmdAddFiles, kCmdAddFolder, kCmdRemoveAll, kCmdConvertAll,
                      kCmdConvertAllToOne, kCmdOptions}) {
        CSkinButton* button = w.Button(c);
        ASSERT_NE(button, nullptr) << c;
        // The 106 by 26 image plus the press offset.
        EXPECT_EQ(button->size(), QSize(107, 27)) << c;
        const QString shown = QString(button->text()).remove(u'&');
        const QRect needed = button->fontMetrics().boundingRect(shown);
        EXPECT_LE(needed.width(), 106 - 8) << qPrintable(shown);
        EXPECT_LE(needed.height(), 26) << qPrintable(shown);
        EXPECT_FALSE(button->toolTip().isEmpty()) << c;
    }

    // Hovering lights a command button; disabled while busy, it does not.
    CSkinButton* convert = w.Button(kCmdConvertAll);
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), convert->mapToGlobal(QPointF(10, 10)));
    QCoreApplication::sendEvent(convert, &enter);
    EXPECT_TRUE(convert->IsHovered());
    bool enabledWhileBusy = true, closeEnabledWhileBusy = false;
    w.RunBusy([&] {
        enabledWhileBusy = convert->isEnabled();
        closeEnabledWhileBusy = w.Button(kCmdClose)->isEnabled();
    });
    EXPECT_FALSE(enabledWhileBusy);
    EXPECT_TRUE(closeEnabledWhileBusy);
    EXPECT_TRUE(convert->isEnabled());
}

// ---- the keyboard and the title ----------------------------------------

TEST_F(MainWindowTest, FocusStartsInTheListAndTabFollowsTheScreenShowingEachStop) {
    CMainWindow& w = Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), w.List());
    // Space at the first stop neither minimises nor closes the window.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());

    // From the list: the left column top to bottom (the format list where
    // it stands), then the list again; the caption buttons never.
    const std::vector<QWidget*> stops = {
        w.Button(kCmdAddFiles),   w.Button(kCmdAddFolder), w.Button(kCmdRemoveAll),
        w.Button(kCmdConvertAll), w.FormatBox(),           w.Button(kCmdConvertAllToOne),
        w.Button(kCmdOptions),    w.Button(kCmdHomePage),  w.List(),
    };
    for (size_t i = 0; i < stops.size(); ++i) {
        QWidget* left = QApplication::focusWidget();
        ASSERT_NE(left, nullptr) << i;
        const QImage withFocus = left->grab().toImage();
        QTest::keyClick(left, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), stops[i]) << "stop " << i;
        // The stop just left looks different without the focus: each one
        // shows it has it.
        EXPECT_NE(left->grab().toImage(), withFocus) << "stop " << i;
    }
    for (Command c : {kCmdHelpMenu, kCmdMinimise, kCmdClose})
        EXPECT_EQ(w.Button(c)->focusPolicy(), Qt::NoFocus) << c;
}

TEST_F(MainWindowTest, TheTitleCountsTheListedFilesInGroupsOfThree) {
    const std::pair<long long, const char*> groups[] = {
        {0, "0"}, {7, "7"}, {999, "999"}, {1000, "1 000"}, {1234, "1 234"}, {1234567, "1 234 567"},
    };
    for (const auto& [count, shown] : groups) EXPECT_EQ(GroupedCount(count), shown) << count;

    CMainWindow& w = Open();
    EXPECT_EQ(w.windowTitle(), "Quelvox");
    List("/music/a.wav", 10);
    EXPECT_EQ(w.windowTitle(), "Quelvox — 1 个文件");
    for (int i = 0; i < 1233; ++i) List("/music/" + std::to_string(i) + ".wav", 10);
    EXPECT_EQ(w.windowTitle(), "Quelvox — 1 234 个文件");
    SelectRows({1, 2});
    w.RemoveSelected();
    EXPECT_EQ(w.windowTitle(), "Quelvox — 1 232 个文件");
    w.RemoveAll();
    EXPECT_EQ(w.windowTitle(), "Quelvox");
}

TEST_F(MainWindowTest, RowsOfOneNameShowTheirFolderAndEveryFileCellItsPath) {
    Open();
    List("/music/cd1/t01.wav", 10);
    List("/music/cd2/t01.wav", 10);
    List("/music/cd1/t02.wav", 10);
    CFileList* list = window->List();
    auto folder = [&](int row) {
        return list->Model()->index(row - 1, kColumnFile).data(kSharedNameFolderRole).toString();
    };
    auto cell = [&](int row) {
        QCoreApplication::processEvents();
        return list->viewport()
            ->grab(list->visualRect(list->Model()->index(row - 1, kColumnFile)))
            .toImage();
    };
    EXPECT_EQ(QStringList({folder(1), folder(2), folder(3)}), QStringList({"cd1", "cd2", ""}));
    EXPECT_EQ(Column(kColumnFile), QStringList({"t01.wav", "t01.wav", "t02.wav"}));
    EXPECT_EQ(list->CellToolTip(2, kColumnFile), "/music/cd2/t01.wav");
    EXPECT_EQ(list->CellToolTip(3, kColumnFile), "/music/cd1/t02.wav");
    const QImage shared = cell(1);

    // Alone again, the name shows without its folder.
    SelectRows({2});
    window->RemoveSelected();
    EXPECT_EQ(folder(1), "");
    EXPECT_NE(cell(1), shared);
    // A name that comes back is told apart again.
    List("/music/cd3/t01.wav", 10);
    EXPECT_EQ(QStringList({folder(1), folder(3)}), QStringList({"cd1", "cd3"}));
}

// ---- the list -----------------------------------------------------------

TEST_F(MainWindowTest, AddedFilesFillTheSevenColumnsOnceEachWithRowsFromOne) {
    CMainWindow& w = Open();
    WriteWav(dir.file("mono.wav"), 8000, 1, std::vector<int16_t>(16000, 1000));
    WriteWav(dir.file("stereo.wav"), 44100, 2, std::vector<int16_t>(2 * 44100 * 3, 1000));
    WriteFile(dir.file("notes.wav"), std::string("not audio at all"));

    w.AddPaths({QString::fromStdString(dir.file("mono.wav")),
                QString::fromStdString(dir.file("stereo.wav"))});

    ASSERT_TRUE(AwaitAdding(w));
    w.AddPaths({QString::fromStdString(dir.file("mono.wav"))});  // listed already
    ASSERT_TRUE(AwaitAdding(w));

    QStringList headers;
    for (int c = 0; c < kColumnCount; ++c) headers << w.List()->HeaderText(c);
    EXPECT_EQ(headers,
              QStringList({"文件", "持续时间", "比特率", "采样率", "声道", "音量", "输出"}));
    EXPECT_EQ(Column(kColumnFile), QStringList({"mono.wav", "stereo.wav"}));
    EXPECT_EQ(Column(kColumnDuration), QStringList({"00:02", "00:03"}));
    EXPECT_TRUE(Column(kColumnBitrate)[0].endsWith(" kbps"));
    EXPECT_EQ(Column(kColumnSampleRate), QStringList({"8000 Hz", "44100 Hz"}));
    EXPECT_EQ(Column(kColumnChannels), QStringList({"单声", "立体声"}));
    EXPECT_EQ(Column(kColumnVolume), QStringList({"", ""}));
    EXPECT_EQ(Column(kColumnOutput), QStringList({"", ""}));
    EXPECT_EQ(w.PathMap().size(), 2u);
    EXPECT_TRUE(prompts.shown.isEmpty());

    // The next row is number 3: no row is ever number 0, the answer for
    // "listed already".
    EXPECT_EQ(List("/music/third.mp3", 10), 3);
    w.SetOutputCell(3, Text("third.wav"));
    EXPECT_EQ(w.List()->CellText(3, kColumnOutput), "third.wav");

    // A file no reader opens is named in the closing message.
    w.AddPaths({QString::fromStdString(dir.file("notes.wav"))});
    ASSERT_TRUE(AwaitAdding(w));
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_TRUE(prompts.shown[0].startsWith("无法载入以下文件."));
    EXPECT_TRUE(prompts.shown[0].contains("notes.wav"));
    EXPECT_EQ(w.List()->RowCount(), 3);
}

TEST_F(MainWindowTest, DurationsSortBySecondsAndVolumesByNumber) {
    Open();
    List("/m/hour.flac", 3600);
    List("/m/short.flac", 61);
    List("/m/unknown.flac", 0);
    List("/m/long.flac", 3599);
    window->SetVolumeCell(1, "100.00%");
    window->SetVolumeCell(2, "95.00%");
    window->SetVolumeCell(4, "9.50%");

    ClickHeader(kColumnDuration);
    EXPECT_EQ(Column(kColumnDuration), QStringList({"", "01:01", "59:59", "1:00:00"}));
    ClickHeader(kColumnVolume);
    EXPECT_EQ(Column(kColumnVolume), QStringList({"", "9.50%", "95.00%", "100.00%"}));
    ClickHeader(kColumnVolume);
    EXPECT_EQ(Column(kColumnVolume), QStringList({"100.00%", "95.00%", "9.50%", ""}));
    // Each row keeps its own entry through the sorts.
    EXPECT_EQ(window->List()->EntryAt(1)->Path, "/m/hour.flac");
}

TEST_F(MainWindowTest, HeaderClicksSortAscendingThenDescendingAndANewColumnAscending) {
    Open();
    List("/m/b.mp3", 10, 320, 44100);
    List("/m/c.mp3", 10, 64, 8000);
    List("/m/a.mp3", 10, 128, 22050);

    ClickHeader(kColumnBitrate);
    EXPECT_EQ(Column(kColumnBitrate), QStringList({"64 kbps", "128 kbps", "320 kbps"}));
    ClickHeader(kColumnBitrate);
    EXPECT_EQ(Column(kColumnBitrate), QStringList({"320 kbps", "128 kbps", "64 kbps"}));
    ClickHeader(kColumnSampleRate);
    EXPECT_EQ(Column(kColumnSampleRate), QStringList({"8000 Hz", "22050 Hz", "44100 Hz"}));
    ClickHeader(kColumnFile);
    EXPECT_EQ(Column(kColumnFile).first(), "a.mp3");
    EXPECT_EQ(window->List()->LastSortOrder(), Qt::AscendingOrder);

    // Rows added after a sort go to the end.
    List("/m/0.mp3", 10);
    EXPECT_EQ(Column(kColumnFile).last(), "0.mp3");
}

TEST_F(MainWindowTest, TheSortedColumnShowsItsArrowInItsDirection) {
    Open();
    List("/m/b.mp3", 10);
    List("/m/a.mp3", 20);
    QHeaderView* header = window->List()->header();
    EXPECT_FALSE(header->isSortIndicatorShown());
    ClickHeader(kColumnDuration);
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), kColumnDuration);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    ClickHeader(kColumnDuration);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    ClickHeader(kColumnFile);
    EXPECT_EQ(header->sortIndicatorSection(), kColumnFile);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
}

TEST_F(MainWindowTest, TheOpenFormatListShowsItsLongestItemWhole) {
    CMainWindow& w = Open();
    QComboBox* box = w.FormatBox();
    EXPECT_EQ(box->width(), 102);
    const QFontMetrics metrics(box->view()->font());
    int widest = 0;
    for (int i = 0; i < box->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(box->itemText(i)));
    EXPECT_GT(box->view()->minimumWidth(), widest);
}

// ---- commands, menus and keys -------------------------------------------

TEST_F(MainWindowTest, ContextMenuEnablesCommandsByRowsAndSelection) {
    Open();
    QMenu* menu = window->ContextMenu();
    emit menu->aboutToShow();
    for (Command c : {kCmdRemoveAll, kCmdConvertAll, kCmdConvertAllToOne, kCmdRemove,
                      kCmdConvertSelected, kCmdPlaySource, kCmdShowSource})
        EXPECT_FALSE(Enabled(c)) << c;
    EXPECT_TRUE(Enabled(kCmdAddFiles));
    EXPECT_TRUE(Enabled(kCmdAddFolder));

    List("/m/one.wav", 5);
    List("/m/two.wav", 5);
    SelectRows({1, 2});
    emit menu->aboutToShow();
    for (Command c :
         {kCmdRemoveAll, kCmdConvertAll, kCmdRemove, kCmdConvertSelected, kCmdConvertSelectedToOne})
        EXPECT_TRUE(Enabled(c)) << c;
    EXPECT_FALSE(Enabled(kCmdPlaySource));
    EXPECT_FALSE(Enabled(kCmdShowSource));

    SelectRows({2});
    emit menu->aboutToShow();
    EXPECT_TRUE(Enabled(kCmdPlaySource));
    EXPECT_TRUE(Enabled(kCmdShowSource));
    EXPECT_FALSE(Enabled(kCmdPlayOutput));
    EXPECT_FALSE(Enabled(kCmdShowOutput));

    window->List()->EntryAt(2)->OutputPath = "/out/two.mp3";
    emit menu->aboutToShow();
    EXPECT_TRUE(Enabled(kCmdPlayOutput));
    EXPECT_TRUE(Enabled(kCmdShowOutput));

    window->MenuAction(kCmdPlaySource)->trigger();
    window->MenuAction(kCmdShowOutput)->trigger();
    EXPECT_EQ(shell.opened, QStringList({"/m/two.wav"}));
    EXPECT_EQ(shell.revealed, QStringList({"/out/two.mp3"}));
    // The shortcuts are shown in the menu.
    EXPECT_TRUE(window->MenuAction(kCmdRemove)->text().endsWith("\tDel"));
    EXPECT_TRUE(window->MenuAction(kCmdAddFiles)->text().endsWith("\tCtrl+O"));
}

TEST_F(MainWindowTest, CommandsExplainAnEmptyListOrSelectionAndKeysActOnRows) {
    CMainWindow& w = Open();
    // A merged conversion that is asked for opens the merged file's dialog.
    const QStringList& requested = dialogs.mergedExtensions;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    w.ConvertAll();
    w.ConvertAllToOne();
    EXPECT_EQ(prompts.shown, QStringList({"列表中没有文件.", "列表中没有文件."}));
    prompts.shown.clear();

    List("/m/one.wav", 5);
    List("/m/two.wav", 5);
    List("/m/three.wav", 5);
    QTest::keyClick(&w, Qt::Key_Delete);
    w.ConvertSelected();
    EXPECT_EQ(prompts.shown, QStringList({"您至少需要选择一个文件.", "您至少需要选择一个文件."}));
    EXPECT_TRUE(requested.empty());

    // Enter and Escape change nothing.
    QTest::keyClick(&w, Qt::Key_Escape);
    QTest::keyClick(&w, Qt::Key_Return);
    EXPECT_TRUE(w.isVisible());

    SelectRows({3, 1});
    w.ConvertSelectedToOne();
    ASSERT_EQ(requested.size(), 1);
    EXPECT_EQ(requested[0], "mp3");

    SelectRows({2});
    QTest::keyClick(&w, Qt::Key_Delete);
    EXPECT_EQ(Column(kColumnFile), QStringList({"one.wav", "three.wav"}));
    EXPECT_EQ(w.PathMap().size(), 2u);

    QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(w.List()->SelectedRows(), std::vector<int>({1, 2}));
    QTest::keyClick(&w, Qt::Key_Delete);
    EXPECT_EQ(w.List()->RowCount(), 0);
    EXPECT_TRUE(w.PathMap().empty());

    List("/m/again.wav", 5);
    w.RemoveAll();
    EXPECT_EQ(w.List()->RowCount(), 0);
    EXPECT_TRUE(w.PathMap().empty());
    EXPECT_EQ(prompts.shown.size(), 2);
}

// ---- the output format list ---------------------------------------------

TEST_F(MainWindowTest, UnknownStoredFormatFallsBackToTheFirstAndTheVideoItemIsNeverKept) {
    CSettings stored;
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    stored.OutputFormat = 1234;
    ASSERT_TRUE(SaveSettings(stored, catalogue, kSaveFormatAndPage, location));

    CMainWindow& w = Open();
    QComboBox* box = w.FormatBox();
    ASSERT_EQ(box->count(), static_cast<int>(catalogue.size()) + 1);
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(w.Settings().OutputFormat, catalogue.front().code);
    EXPECT_TRUE(box->itemText(0).startsWith(" 到 "));
    EXPECT_TRUE(box->itemText(box->count() - 1).startsWith(" 到 VIDEO"));

    const int wav = box->findData(kFormatWav);
    box->setCurrentIndex(wav);
    EXPECT_EQ(w.Settings().OutputFormat, kFormatWav);

    prompts.answer = false;
    box->setCurrentIndex(box->count() - 1);
    EXPECT_EQ(box->currentIndex(), wav);
    EXPECT_EQ(w.Settings().OutputFormat, kFormatWav);
    EXPECT_TRUE(shell.urls.isEmpty());

    prompts.answer = true;
    box->setCurrentIndex(box->count() - 1);
    EXPECT_EQ(box->currentIndex(), wav);
    EXPECT_EQ(w.Settings().OutputFormat, kFormatWav);
    ASSERT_EQ(shell.urls.size(), 1);
    EXPECT_EQ(shell.urls[0], QUrl(kVideoConverterAddress));
    EXPECT_EQ(prompts.shown.size(), 2);
}

TEST_F(MainWindowTest, ClosingStoresTheChosenFormat) {
    CMainWindow& w = Open();
    w.FormatBox()->setCurrentIndex(w.FormatBox()->findData(kFormatFlac));
    EXPECT_TRUE(w.close());

    CSettings reloaded;
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    LoadSettings(reloaded, catalogue, location);
    EXPECT_EQ(reloaded.OutputFormat, kFormatFlac);
}

TEST_F(MainWindowTest, SettingsThatCannotBeSavedAreSaidOnce) {
    // A folder that cannot be made: its parent is a file (root ignores the
    // permissions of a read-only folder).
    WriteFile(dir.file("plain"), std::string("x"));
    location = SettingsLocation{dir.file("plain/Quelvox 4.ini")};
    CMainWindow& w = Open();
    prompts.shown.clear();
    dialogs.folder = QString::fromStdString(dir.path().string());
    w.AddFolder();
    ASSERT_TRUE(AwaitAdding(w));
    w.AddFolder();
    ASSERT_TRUE(AwaitAdding(w));
    w.FormatBox()->setCurrentIndex(w.FormatBox()->findData(kFormatFlac));
    EXPECT_TRUE(w.close());
    ASSERT_EQ(prompts.shown.filter("无法保存设置").size(), 1) << qPrintable(prompts.shown.join('|'));
    EXPECT_TRUE(prompts.shown.filter("无法保存设置").front().contains("plain/Quelvox 4.ini"));
}

TEST_F(MainWindowTest, ThousandsOfRowsSortAndGoWithTheirOwnEntries) {
    CMainWindow& w = Open();
    constexpr int kRows = 5000;
    for (int i = 0; i < kRows; ++i)
        List("/m/" + std::to_string((i * 7919) % kRows) + ".wav", i % 97 + 1, 64 + i % 5 * 64);
    CFileList* list = w.List();
    auto cellsMatchEntries = [&] {
        for (int row = 1; row <= list->RowCount(); ++row) {
            const FileEntry* entry = list->EntryAt(row);
            if (!entry || list->CellText(row, kColumnFile) != QString::fromStdString(FileNameCell(*entry)) ||
                list->CellText(row, kColumnDuration) != QString::fromStdString(DurationCell(entry->Duration)))
                return false;
        }
        return true;
    };

    // By length, then descending by bitrate: equal cells keep the order
    // they had (the earlier sort's).
    list->SortByColumn(kColumnDuration);
    list->SortByColumn(kColumnBitrate);
    list->SortByColumn(kColumnBitrate);
    ASSERT_EQ(list->RowCount(), kRows);
    for (int row = 2; row <= kRows; ++row) {
        const FileEntry* above = list->EntryAt(row - 1);
        const FileEntry* below = list->EntryAt(row);
        ASSERT_GE(above->Bitrate, below->Bitrate) << row;
        if (above->Bitrate == below->Bitrate) {
            ASSERT_LE(above->Duration, below->Duration) << row;
        }
    }
    list->SortByColumn(kColumnFile);
    for (int row = 2; row <= kRows; ++row)
        ASSERT_LE(QString::localeAwareCompare(list->CellText(row - 1, kColumnFile),
                                              list->CellText(row, kColumnFile)),
                  0)
            << row;
    EXPECT_TRUE(cellsMatchEntries());

    // Every third row selected and removed at once: the others stay, in
    // their order, and so do their entries.
    std::vector<int> doomed;
    std::vector<const FileEntry*> kept;
    for (int row = 1; row <= kRows; ++row) {
        if (row % 3 == 0) {
            doomed.push_back(row);
        } else {
            kept.push_back(list->EntryAt(row));
        }
    }
    list->SelectRows(doomed);
    w.RemoveSelected();
    ASSERT_EQ(list->RowCount(), static_cast<int>(kept.size()));
    for (int row = 1; row <= list->RowCount(); ++row)
        ASSERT_EQ(list->EntryAt(row), kept[static_cast<size_t>(row - 1)]) << row;
    EXPECT_EQ(w.PathMap().size(), kept.size());
    EXPECT_TRUE(cellsMatchEntries());

    w.SelectAll();
    w.RemoveSelected();
    EXPECT_EQ(list->RowCount(), 0);
    EXPECT_TRUE(w.PathMap().empty());
}

// ---- the busy guard -----------------------------------------------------

TEST_F(MainWindowTest, WhileAddingCommandsAreRefusedAndACloseCancelsThenCloses) {
    CMainWindow& w = Open();
    List("/m/listed.wav", 5);
    // Enough files that the adding job is still going when the window's
    // event loop first runs.
    QStringList files;
    for (int i = 0; i < 400; ++i) {
        const std::string name = dir.file(std::to_string(i) + ".wav");
        WriteWav(name, 8000, 1, std::vector<int16_t>(800, 500));
        files << QString::fromStdString(name);
    }

    bool busyInside = false, nestedRan = false, visibleAfterClose = false;
    int rowsInside = -1;
    // Runs in the window's event loop while the job adds.
    QTimer::singleShot(0, &w, [&] {
        busyInside = w.IsBusy();
        w.RemoveAll();
        w.ConvertAll();
        SelectRows({1});
        QTest::keyClick(&w, Qt::Key_Delete);
        w.RunBusy([&] { nestedRan = true; });
        rowsInside = w.List()->RowCount();
        w.close();
        visibleAfterClose = w.isVisible();
    });
    w.AddPaths(files);
    ASSERT_TRUE(AwaitAdding(w));

    EXPECT_TRUE(busyInside);
    EXPECT_FALSE(nestedRan);
    EXPECT_EQ(rowsInside, 1);
    EXPECT_TRUE(prompts.shown.isEmpty());
    EXPECT_TRUE(visibleAfterClose);
    // The add stopped early, and then the window closed with every listed
    // row's entry intact.
    EXPECT_LT(w.List()->RowCount(), 401);
    EXPECT_GE(w.List()->RowCount(), 1);
    EXPECT_EQ(w.PathMap().size(), static_cast<size_t>(w.List()->RowCount()));
    for (int row = 1; row <= w.List()->RowCount(); ++row)
        EXPECT_EQ(w.PathMap().count(PathMapKey(w.List()->EntryAt(row)->Path)), 1u);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.IsBusy());
}

// ---- help, web and mail -------------------------------------------------

TEST_F(MainWindowTest, HelpAboutAndWebCommandsOpenOurPages) {
    CMainWindow& w = Open();
    w.ShowHelp();
    CHelpWindow* help = w.HelpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->windowTitle(), "Quelvox Help");
    EXPECT_TRUE(help->Browser()->toPlainText().contains("Quelvox"));
    EXPECT_FALSE(FindManual().isEmpty());
    w.ShowHelp();
    EXPECT_EQ(w.HelpWindow(), help);

    w.ShowAbout();
    ASSERT_NE(w.AboutBox(), nullptr);
    bool versionShown = false;
    for (QLabel* label : w.AboutBox()->findChildren<QLabel*>())
        versionShown = versionShown || label->text().contains("4.3 build 1287");
    EXPECT_TRUE(versionShown);

    w.CheckForUpdates();
    w.TellFriend();
    w.WriteToSupport();
    w.OpenHomePage();
    ASSERT_EQ(shell.urls.size(), 4);
    const QUrl update = shell.urls[0];
    EXPECT_EQ(update.adjusted(QUrl::RemoveQuery), QUrl(QString(kWebAddress) + "check_updates/"));
    EXPECT_EQ(QUrlQuery(update).queryItemValue("ver"), "4.3");
    EXPECT_EQ(QUrlQuery(update).queryItemValue("build"), "1287");
    const QUrl friendMail = shell.urls[1];
    EXPECT_EQ(friendMail.scheme(), "mailto");
    EXPECT_EQ(QUrlQuery(friendMail).queryItemValue("subject", QUrl::FullyDecoded),
              "Quelvox - very COOL application!!!");
    EXPECT_EQ(QUrlQuery(friendMail).queryItemValue("body", QUrl::FullyDecoded),
              QString("Download from ") + kWebAddress);
    EXPECT_EQ(shell.urls[2].toString(), QString("mailto:") + kSupportAddress);
    EXPECT_EQ(shell.urls[3], QUrl(kWebAddress));
}

TEST_F(MainWindowTest, TheHelpWindowOpensCentredOverTheMainWindowWithinTheScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize help(820, 620);
    // Over a main window in the middle of a large screen: centred on it.
    EXPECT_EQ(CentredPlacement(QRect(600, 300, 950, 650), help, screen), QPoint(665, 315));
    // Near a corner, moved only as far as the screen needs.
    EXPECT_EQ(CentredPlacement(QRect(1500, -100, 950, 650), help, screen), QPoint(1100, 0));
    // Larger than the screen: its top-left corner stays on it.
    EXPECT_EQ(CentredPlacement(QRect(0, 0, 950, 650), help, QRect(0, 0, 800, 600)), QPoint(0, 0));

    CMainWindow& w = Open();
    w.ShowHelp();
    ASSERT_NE(w.HelpWindow(), nullptr);
    // Where it was put before it was shown (a shown window may settle its
    // size by a few pixels).
    const QPoint expected = CentredPlacement(
        w.frameGeometry(), w.HelpWindow()->frameGeometry().size(), w.screen()->availableGeometry());
    EXPECT_LE((w.HelpWindow()->pos() - expected).manhattanLength(), 4);
}

TEST_F(MainWindowTest, FirstStartOpensTheHelpMaximised) {
    CMainWindow& w = Open(/*firstStart=*/true);
    ASSERT_NE(w.HelpWindow(), nullptr);
    EXPECT_TRUE(w.HelpWindow()->isMaximized());
    EXPECT_EQ(w.Settings().FirstRun, 0);
}

}  // namespace
