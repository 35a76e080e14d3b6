// Adding and converting from the real window, end to end, with real files
// made by ffmpeg: the progress windows, the drop rules, the merged file's
// save dialog, and the rows a run leaves.
#include "ui/MainWindow.h"

#include "common/FormatCatalogue.h"
#include "engine/CodecRuntime.h"
#include "ui/EndOnSignals.h"
#include "ui/FileDialogs.h"
#include "ui/FileList.h"
#include "ui/ProgressWindow.h"
#include "ui/RunRelay.h"
#include "engine/Texts.h"
#include "settings/SettingDecl.h"
#include "l10n/Translation.h"

#include "support/TestSupport.h"
#include "WindowSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

using namespace quelvox;
using namespace quelvox::ui;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class RunFlowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime.Start(ExecutableFolder());
        CSettings seen;
        CheckFirstRun(seen, location);
        window = std::make_unique<CMainWindow>(
            runtime, MainWindowServices{&prompts, &shell, location, &dialogs, &desktop});
        window->show();
        CSettings& s = window->Settings();
        s.DestOutputFolderOpt = 399;
        s.DestSpecifiedFolder = dir.file("out");
        s.BrowseOutputFolder = 1;
        fs::create_directories(dir.file("out"));
        fs::create_directories(dir.file("in"));
    }

    // A file made by ffmpeg from a lavfi source, in the folder "in".
    QString Make(const std::string& name, const std::string& source = "sine=duration=1") {
        const std::string path = dir.file("in/" + name);
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -f lavfi -i " + source + " " +
                                   Quote(path)),
                  0);
        return QString::fromStdString(path);
    }

    QStringList Column(int column) const {
        QStringList texts;
        for (int i = 0; i < window->List()->RowCount(); ++i)
            texts << window->List()->CellText(i + 1, column);
        return texts;
    }

    void Choose(int code) {
        window->FormatBox()->setCurrentIndex(window->FormatBox()->findData(code));
    }

    size_t FilesIn(const std::string& folder) const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(dir.file(folder)), fs::directory_iterator{}));
    }

    TempDir dir;
    SettingsLocation location{dir.file("settings.ini")};
    CCodecRuntime runtime;
    RecordingPrompts prompts;
    RecordingShell shell;
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    std::unique_ptr<CMainWindow> window;
};

// ---- end to end ------------------------------------------------------------

TEST_F(RunFlowsTest, AddAFolderThenConvertEveryRowToMp3) {
    Make("a.wav");
    Make("deeper/b.flac", "sine=duration=2");
    Make(".hidden.wav");
    WriteFile(dir.file("in/notes.txt"), std::string("not audio"));
    CSettings& s = window->Settings();
    s.DoNotLoadHiddenFiles = 1;
    SetSettingByName(s, window->Catalogue(), "FilterExts", "wav;flac");
    SetSettingByName(s, window->Catalogue(), "EnableExtFilter", "1");

    QString addingText;
    bool addingShown = false;
    QTimer::singleShot(0, window.get(), [&] {
        CProgressWindow* p = window->Progress();
        addingShown = p && p->isVisible() && p->WindowKind() == CProgressWindow::Kind::Adding &&
                      p->parentWidget() == window.get();
        if (p) addingText = p->FileText()->text();
    });
    dialogs.folder = QString::fromStdString(dir.file("in"));
    window->AddFolder();
    ASSERT_TRUE(AwaitAdding(*window));
    EXPECT_TRUE(addingShown);
    EXPECT_EQ(addingText, "搜索文件...");
    EXPECT_EQ(window->Settings().Folder, dir.file("in"));
    // Outer folder first; the hidden file and the filtered-out text file
    // are not listed, and nothing failed.
    EXPECT_EQ(Column(kColumnFile), QStringList({"a.wav", "b.flac"}));
    EXPECT_TRUE(prompts.shown.isEmpty());
    EXPECT_EQ(window->Progress(), nullptr);

    Choose(kFormatMp3);
    // What the converting window shows once the run has begun.
    QString runText;
    bool twoBars = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        CProgressWindow* p = window->Progress();
        if (!p || !runText.isEmpty() || p->RunText()->text().isEmpty()) return;
        runText = p->RunText()->text();
        twoBars = p->RunBar() && p->FileBar() && p->CancelButton()->text() == "取消";
    });
    watcher.start(1);
    window->ConvertAll();
    AwaitRun(*window);
    watcher.stop();
    EXPECT_TRUE(twoBars);
    EXPECT_TRUE(QRegularExpression("^转换 [12] of 2 文件到 ").match(runText).hasMatch())
        << qPrintable(runText);
    EXPECT_EQ(Column(kColumnOutput), QStringList({"a.mp3", "b.mp3"}));
    EXPECT_EQ(Column(kColumnVolume), QStringList({"100.00%", "100.00%"}));
    for (const char* name : {"a.mp3", "b.mp3"})
        EXPECT_EQ(Probe(dir.file(std::string("out/") + name), "codec_name"), "mp3") << name;
    EXPECT_NEAR(ProbeNumber(dir.file("out/b.mp3"), "duration", true), 2.0, 0.1);
    EXPECT_EQ(shell.revealed, QStringList({QString::fromStdString(dir.file("out/a.mp3"))}));
    EXPECT_FALSE(window->IsBusy());
    EXPECT_EQ(window->Progress(), nullptr);
}

TEST_F(RunFlowsTest, AKeptTreeStartsAtTheAddedFolderAndAFileAddedAloneHasNone) {
    Make("Album/Disc 1/x.wav");
    Make("Album/y.wav");
    const QString alone = Make("Other/alone.wav");
    CSettings& s = window->Settings();
    EXPECT_EQ(s.CreateDirsFrom, kTreeFromAddedFolder);  // what new settings hold
    s.CreateDirs = 1;
    s.BrowseOutputFolder = 0;
    dialogs.folder = QString::fromStdString(dir.file("in/Album"));
    window->AddFolder();
    ASSERT_TRUE(AwaitAdding(*window));
    dialogs.files = QStringList{alone};
    window->AddFiles();
    ASSERT_TRUE(AwaitAdding(*window));
    ASSERT_EQ(Column(kColumnFile), QStringList({"y.wav", "x.wav", "alone.wav"}));

    Choose(kFormatMp3);
    window->ConvertAll();
    AwaitRun(*window);
    EXPECT_EQ(Column(kColumnOutput), QStringList({"y.mp3", "x.mp3", "alone.mp3"}));
    for (const char* name : {"out/Album/Disc 1/x.mp3", "out/Album/y.mp3", "out/alone.mp3"})
        EXPECT_EQ(Probe(dir.file(name), "codec_name"), "mp3") << name;
    EXPECT_EQ(FilesIn("out"), 2u);  // Album and alone.mp3
}

TEST_F(RunFlowsTest, ACancelledMergeLeavesNoFileAndItsRowsSaySo) {
    window->AddChosenFiles({Make("1.wav", "sine=duration=20"), Make("2.wav", "sine=duration=20"),
                            Make("3.wav", "sine=duration=20")});
    ASSERT_TRUE(AwaitAdding(*window));
    ASSERT_EQ(window->List()->RowCount(), 3);
    Choose(kFormatMp3);
    dialogs.merged = {QString::fromStdString(dir.file("out/all.mp3"))};

    // Escape on the progress window while the second file is being
    // appended.
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        CProgressWindow* p = window->Progress();
        if (p && window->List()->CellText(2, kColumnOutput) == "正在转换...")
            QTest::keyClick(p, Qt::Key_Escape);
    });
    watcher.start(1);
    window->ConvertAllToOne();
    AwaitRun(*window);
    watcher.stop();

    EXPECT_EQ(dialogs.mergedExtensions, QStringList({"mp3"}));
    // The first row was appended to a file that is not kept: it no longer
    // names it.
    EXPECT_EQ(Column(kColumnOutput), QStringList({"已取消", "已取消", ""}));
    EXPECT_EQ(FilesIn("out"), 0u);
    for (int row = 1; row <= 3; ++row)
        EXPECT_TRUE(window->List()->EntryAt(row)->OutputPath.empty());
    EXPECT_TRUE(shell.revealed.isEmpty());
}

TEST_F(RunFlowsTest, AMergedFileThatCannotTakeItsNameLeavesRowsSayingSo) {
    window->AddChosenFiles({Make("1.wav"), Make("2.wav")});
    ASSERT_TRUE(AwaitAdding(*window));
    Choose(kFormatWav);
    // A folder in the way of the chosen name: the merge is written, but the
    // final move cannot replace a folder.
    const std::string target = dir.file("out/both.wav");
    fs::create_directories(target + "/inside");
    dialogs.merged = {QString::fromStdString(target)};
    window->ConvertAllToOne();
    AwaitRun(*window);
    const QString why = QString::fromStdString("无法创建文件 \"" + target + "\".");
    EXPECT_EQ(Column(kColumnOutput), QStringList({why, why}));
    EXPECT_TRUE(fs::is_directory(target + "/inside"));
    EXPECT_EQ(FilesIn("out"), 1u);
}

TEST_F(RunFlowsTest, AMergeOntoAListedSourceIsRefusedAndAskedAgain) {
    const QString source = Make("keep.wav");
    window->AddChosenFiles({source, Make("other.wav")});
    ASSERT_TRUE(AwaitAdding(*window));
    const std::vector<uint8_t> before = ReadFile(source.toStdString());
    // The same file under another name is the same source.
    fs::create_symlink(source.toStdString(), dir.file("alias.wav"));
    dialogs.merged = {QString::fromStdString(dir.file("alias.wav")), source};
    Choose(kFormatWav);
    window->ConvertAllToOne();
    AwaitRun(*window);

    EXPECT_EQ(dialogs.mergedExtensions.size(), 3);  // twice refused, then cancelled
    ASSERT_EQ(prompts.shown.size(), 2);
    EXPECT_TRUE(prompts.shown[0].contains(QString::fromStdString(dir.file("alias.wav"))));
    EXPECT_EQ(ReadFile(source.toStdString()), before);
    EXPECT_EQ(Column(kColumnOutput), QStringList({"", ""}));
}

// ---- adding ---------------------------------------------------------------

TEST_F(RunFlowsTest, CancelDuringAFolderSearchAddsNothing) {
    for (int i = 0; i < 3; ++i) Make("f" + std::to_string(i) + ".wav");
    // Cancel as soon as the adding window shows, before the search has
    // looked at a single file.
    QTimer::singleShot(0, window.get(), [&] {
        if (CProgressWindow* p = window->Progress()) p->CancelButton()->click();
    });
    dialogs.folder = QString::fromStdString(dir.file("in"));
    window->AddFolder();
    ASSERT_TRUE(AwaitAdding(*window));
    EXPECT_EQ(window->List()->RowCount(), 0);
    // Stopped by the user: the message says so, and how far it got.
    EXPECT_EQ(prompts.shown, QStringList({"添加已停止: 已添加 0 个文件."}));
    EXPECT_FALSE(window->IsBusy());
}

TEST_F(RunFlowsTest, EnterNeverCancelsAddingAndAStopSaysHowManyWereAdded) {
    for (int i = 0; i < 4; ++i) Make("f" + std::to_string(i) + ".wav");
    // A habitual Enter on the adding window, whose Cancel has the focus.
    int enters = 0;
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [&] {
        CProgressWindow* p = window->Progress();
        if (!p || enters >= 3) return;
        QTest::keyClick(p->CancelButton(), Qt::Key_Return);
        QTest::keyClick(p, Qt::Key_Enter);
        ++enters;
    });
    presser.start(0);
    dialogs.folder = QString::fromStdString(dir.file("in"));
    window->AddFolder();
    ASSERT_TRUE(AwaitAdding(*window));
    presser.stop();
    EXPECT_GT(enters, 0);
    EXPECT_EQ(window->List()->RowCount(), 4);
    EXPECT_TRUE(prompts.shown.isEmpty());

    // Escape stops it after the file in hand, and the message counts the
    // files that made it.
    // Enough files that the adding job is still going when the stop comes.
    window->RemoveAll();
    for (int i = 0; i < 1500; ++i)
        fs::copy_file(dir.file("in/f0.wav"), dir.file("in/copy" + std::to_string(i) + ".wav"));
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        CProgressWindow* p = window->Progress();
        // Once a file is in hand (its name is shown), whether or not its
        // row has reached the list yet.
        if (p && p->FileText()->text().contains(".wav")) QTest::keyClick(p, Qt::Key_Escape);
    });
    stopper.start(0);
    window->AddFolder();
    ASSERT_TRUE(AwaitAdding(*window));
    stopper.stop();
    const int added = window->List()->RowCount();
    EXPECT_GT(added, 0);
    EXPECT_LT(added, 1504);
    EXPECT_EQ(prompts.shown, QStringList({QString("添加已停止: 已添加 %1 个文件.").arg(added)}));
}

TEST_F(RunFlowsTest, AFileWithoutAudioIsNotListedAndTheMessageSaysWhy) {
    const QString real = Make("real.flac");
    WriteFile(dir.file("in/notes.flac"), std::string("just some text here"));
    window->AddChosenFiles({real, QString::fromStdString(dir.file("in/notes.flac"))});
    ASSERT_TRUE(AwaitAdding(*window));
    EXPECT_EQ(Column(kColumnFile), QStringList({"real.flac"}));
    ASSERT_EQ(prompts.shown.size(), 1);
    EXPECT_TRUE(prompts.shown[0].contains("notes.flac")) << qPrintable(prompts.shown[0]);
    EXPECT_TRUE(prompts.shown[0].contains("在文件中无音频")) << qPrintable(prompts.shown[0]);
}

TEST_F(RunFlowsTest, AShortenedSourceSaysSoInItsRowAndDuration) {
    const std::string full = dir.file("full.aiff");
    ASSERT_EQ(
        testsupport::Run("sox -n -r 8000 -c 1 -b 16 " + Quote(full) + " synth 6 sine 440 vol 0.5"),
        0);
    const std::vector<uint8_t> bytes = ReadFile(full);
    const std::string cut = dir.file("in/cut.aiff");  // about 0.05 s of samples
    WriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 54 + 800));
    window->AddChosenFiles({QString::fromStdString(cut), Make("whole.wav")});
    ASSERT_TRUE(AwaitAdding(*window));
    EXPECT_EQ(Column(kColumnDuration), QStringList({"00:06", "00:01"}));
    Choose(kFormatWav);
    window->Settings().BrowseOutputFolder = 0;
    window->ConvertAll();
    AwaitRun(*window);

    EXPECT_EQ(Column(kColumnOutput), QStringList({"cut.wav (来源不完整)", "whole.wav"}));
    EXPECT_EQ(Column(kColumnDuration), QStringList({"00:01", "00:01"}));
    CFileList* list = window->List();
    EXPECT_TRUE(list->CellToolTip(1, kColumnOutput).contains("00:06"))
        << qPrintable(list->CellToolTip(1, kColumnOutput));
    EXPECT_TRUE(list->CellToolTip(1, kColumnDuration).contains("00:06"));
    EXPECT_TRUE(fs::exists(dir.file("out/cut.wav")));

    // Whole again and converted again, the row forgets it.
    fs::copy_file(full, cut, fs::copy_options::overwrite_existing);
    window->ConvertAll();
    AwaitRun(*window);
    EXPECT_FALSE(window->List()->HasShortSourceNote(1));
    EXPECT_EQ(Column(kColumnOutput).first(), "cut_1.wav");
}

TEST_F(RunFlowsTest, TheRunBarCountsTheFileInHandByItsShare) {
    // Long enough for the bars to be seen on the way (about a second).
    window->AddChosenFiles({Make("long.wav", "sine=duration=150")});
    ASSERT_TRUE(AwaitAdding(*window));
    Choose(kFormatMp3);
    window->Settings().BrowseOutputFolder = 0;
    for (bool merged : {false, true}) {
        if (merged) dialogs.merged = {QString::fromStdString(dir.file("out/all.mp3"))};
        // Once the only file is well on its way, both bars say about as much.
        int fileShare = -1, runShare = -1;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            CProgressWindow* p = window->Progress();
            if (!p || !p->RunBar() || fileShare >= 0) return;
            const QProgressBar* file = p->FileBar();
            const QProgressBar* run = p->RunBar();
            const int permille = file->value() * 1000 / std::max(file->maximum(), 1);
            if (permille < 150 || permille > 850) return;
            fileShare = permille;
            runShare = run->value() * 1000 / std::max(run->maximum(), 1);
            p->Cancel();
        });
        watcher.start(1);
        if (merged)
            window->ConvertAllToOne();
        else
            window->ConvertAll();
        AwaitRun(*window);
        watcher.stop();
        ASSERT_GE(fileShare, 0) << "merged " << merged;
        // The run bar is read 30 ms after the file bar at most.
        EXPECT_NEAR(runShare, fileShare, 150) << "merged " << merged;
    }
}

TEST_F(RunFlowsTest, ATerminationSignalEndsTheRunWithoutAPartialFileThenTheWindow) {
    window->AddChosenFiles({Make("long.wav", "sine=duration=60")});
    ASSERT_TRUE(AwaitAdding(*window));
    Choose(kFormatMp3);
    bool ended = false;
    CEndOnSignals endOnSignals(*window, [&] { ended = true; });
    ASSERT_TRUE(endOnSignals.Installed());
    // SIGHUP once the output is being written.
    bool raised = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        CProgressWindow* p = window->Progress();
        if (raised || !p || !p->RunBar() || p->FileBar()->value() == 0) return;
        raised = true;
        ::raise(SIGHUP);
    });
    watcher.start(1);
    window->ConvertAll();
    AwaitRun(*window);
    watcher.stop();
    ASSERT_TRUE(raised);
    for (int i = 0; i < 100 && !ended; ++i) QTest::qWait(10);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(Column(kColumnOutput), QStringList({"已取消"}));
    // Not even a hidden temporary file is left.
    EXPECT_EQ(FilesIn("out"), 0u);
}

TEST_F(RunFlowsTest, TheMergedSaveDialogRefusesAListedSourceBeforeAskingToReplaceIt) {
    const QString source = Make("keep.wav");
    window->AddChosenFiles({source});
    ASSERT_TRUE(AwaitAdding(*window));
    std::vector<QString> refusedNames;
    bool replaceAsked = false, stayedOpen = false;
    QTimer::singleShot(0, window.get(), [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(source);
        // Qt's own "replace?" box would be the active modal widget if it
        // were shown before the refusal.
        QTimer::singleShot(0, [&replaceAsked, dialog] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != dialog) {
                replaceAsked = true;
                modal->close();
            }
        });
        // As the dialog's Save button does.
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        stayedOpen = dialog->isVisible();
        dialog->reject();
    });
    CSystemFileDialogs real;
    const QString chosen =
        real.MergedFile(window.get(), "wav", [&](QWidget*, const QString& path) {
            refusedNames.push_back(path);
            return path == source;
        });
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_EQ(refusedNames, std::vector<QString>({source}));
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(replaceAsked);
}

TEST_F(RunFlowsTest, DroppedFoldersAndFilesAreAddedButNotWhileBusy) {
    const QString loose = Make("loose.wav");
    Make("sub/inner.wav");
    auto drop = [&](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(300, 300);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        const bool accepted = enter.isAccepted();
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &dropped);
        // The adding runs once the drop has ended.
        QCoreApplication::processEvents();
        return accepted;
    };
    bool acceptedWhileBusy = true;
    window->RunBusy([&] { acceptedWhileBusy = drop({QUrl::fromLocalFile(loose)}); });
    EXPECT_FALSE(acceptedWhileBusy);
    EXPECT_EQ(window->List()->RowCount(), 0);

    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(dir.file("in/sub"))),
                      QUrl("https://quelvox.org/x.wav"), QUrl::fromLocalFile(loose)}));
    ASSERT_TRUE(AwaitAdding(*window));
    EXPECT_EQ(Column(kColumnFile), QStringList({"inner.wav", "loose.wav"}));
}

TEST_F(RunFlowsTest, TheOpenDialogListsUpperCaseExtensionsUnderTheirType) {
    const QStringList types = OpenFileTypes();
    ASSERT_EQ(types.size(), 51);
    // Every file the program reads first, then the types, "All Files" first.
    EXPECT_TRUE(types.front().startsWith("所有支持的文件 (*.3gp *.3gpp *.3g2 "))
        << qPrintable(types.front());
    EXPECT_EQ(types[1], "All Files (*)");
    EXPECT_EQ(types[2], "3GPP Files (*.3gp *.3gpp)");
    const QStringList supported = SupportedPatterns();
    for (const char* pattern : {"*.mp3", "*.wave", "*.flac", "*.mo3", "*.xwmv", "*.cue", "*.yuv"})
        EXPECT_EQ(supported.count(pattern), 1) << pattern;
    EXPECT_FALSE(supported.contains("*"));
    // Each type's patterns are among them.
    for (qsizetype i = 2; i < types.size(); ++i) {
        const QString& type = types[i];
        const qsizetype open = type.lastIndexOf(u'(');
        for (const QString& pattern : type.mid(open + 1).chopped(1).split(u' '))
            EXPECT_TRUE(supported.contains(pattern)) << qPrintable(pattern);
    }
    EXPECT_EQ(MergedFileType("mp3"), "MP3 文件 (*.mp3)");

    WriteFile(dir.file("in/song.MP3"), std::string("x"));
    WriteFile(dir.file("in/notes.txt"), std::string("x"));
    std::unique_ptr<QFileDialog> dialog(MakeOpenFilesDialog(window.get()));
    EXPECT_EQ(dialog->selectedNameFilter(), types.front());
    dialog->setDirectory(QString::fromStdString(dir.file("in")));
    dialog->show();
    auto* view = dialog->findChild<QListView*>("listView");
    ASSERT_NE(view, nullptr);
    // Names the view offers for choosing (a filtered name is hidden or
    // shown disabled).
    auto offered = [&] {
        QStringList names;
        const QModelIndex root = view->rootIndex();
        for (int r = 0; r < view->model()->rowCount(root); ++r) {
            const QModelIndex index = view->model()->index(r, 0, root);
            if (index.flags() & Qt::ItemIsEnabled) names << index.data().toString();
        }
        return names;
    };
    // Under every supported file, then under its own type.
    for (const QString& filter : {types.front(), QString("MP3 Files (*.mp3)")}) {
        dialog->selectNameFilter(filter);
        for (int i = 0; i < 100 && !offered().contains("song.MP3"); ++i) QTest::qWait(10);
        EXPECT_TRUE(offered().contains("song.MP3")) << qPrintable(filter);
        EXPECT_FALSE(offered().contains("notes.txt")) << qPrintable(filter);
    }
}

// ---- what a run shows beyond its rows ----------------------------------------

TEST_F(RunFlowsTest, ARunEmptiesItsRowsThenShowsItsShareInTheTitleAndOnTheTaskBar) {
    window->AddChosenFiles({Make("a.wav", "sine=duration=2"), Make("b.wav", "sine=duration=2")});
    ASSERT_TRUE(AwaitAdding(*window));
    EXPECT_EQ(window->windowTitle(), "Quelvox — 2 个文件");
    Choose(kFormatMp3);
    window->ConvertAll();
    ASSERT_TRUE(AwaitRun(*window));
    ASSERT_EQ(Column(kColumnOutput), QStringList({"a.mp3", "b.mp3"}));
    ASSERT_EQ(Column(kColumnVolume), QStringList({"100.00%", "100.00%"}));

    // The second run: its rows hold nothing of the first once it starts.
    QStringList titles;
    QObject::connect(window.get(), &QWidget::windowTitleChanged,
                     [&](const QString& title) { titles << title; });
    desktop.progress.clear();
    fs::remove(dir.file("out/b.mp3"));
    window->ConvertAll();
    EXPECT_EQ(Column(kColumnOutput), QStringList({"", ""}));
    EXPECT_EQ(Column(kColumnVolume), QStringList({"", ""}));
    EXPECT_EQ(window->windowTitle(), "0% — Quelvox");
    ASSERT_TRUE(AwaitRun(*window));
    for (const QString& output : Column(kColumnOutput))
        EXPECT_TRUE(output.endsWith(".mp3")) << qPrintable(output);

    // The title climbs in whole percents, then counts the files again; the
    // task bar's bar goes with it and goes away at the end.
    ASSERT_GE(titles.size(), 2);
    EXPECT_EQ(titles.back(), "Quelvox — 2 个文件");
    int last = -1;
    for (qsizetype i = 0; i + 1 < titles.size(); ++i) {
        const QRegularExpressionMatch m =
            QRegularExpression("^(\\d+)% — Quelvox$").match(titles[i]);
        ASSERT_TRUE(m.hasMatch()) << qPrintable(titles[i]);
        EXPECT_GT(m.captured(1).toInt(), last);
        last = m.captured(1).toInt();
    }
    ASSERT_GE(desktop.progress.size(), 2u);
    EXPECT_EQ(desktop.progress.front(), std::make_pair(true, 0.0));
    EXPECT_EQ(desktop.progress.back(), std::make_pair(false, 0.0));
    for (size_t i = 1; i + 1 < desktop.progress.size(); ++i) {
        EXPECT_TRUE(desktop.progress[i].first);
        EXPECT_GE(desktop.progress[i].second, desktop.progress[i - 1].second);
    }
    // The user saw the run end: nothing is announced.
    EXPECT_TRUE(desktop.notices.isEmpty());
}

TEST_F(RunFlowsTest, ARunEndingUnseenIsAnnouncedAndTheClickBringsTheWindowBack) {
    const QString lost = Make("lost.wav");
    window->AddChosenFiles({Make("a.wav"), lost, Make("b.wav")});
    ASSERT_TRUE(AwaitAdding(*window));
    ASSERT_EQ(window->List()->RowCount(), 3);
    fs::remove(lost.toStdString());
    Choose(kFormatWav);

    // The user turns to another window while the run goes on.
    QWidget elsewhere;
    elsewhere.resize(200, 100);
    elsewhere.show();
    window->ConvertAll();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    ASSERT_TRUE(AwaitRun(*window));
    EXPECT_EQ(desktop.notices, QStringList({"Quelvox: 转换完成: 3 个文件, 1 个失败"}));

    desktop.Click();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
}

// ---- converting on worker threads ----------------------------------------

TEST_F(RunFlowsTest, OneAndTwoWorkersWriteTheSameFilesAndRows) {
    // Two sources of one name, so that the second output takes a numbered
    // name under every target policy (the run never writes a name twice),
    // and track numbers by list position.
    window->AddChosenFiles({Make("a.wav", "sine=frequency=300:duration=2"),
                            Make("x/a.wav", "sine=frequency=500:duration=1"),
                            Make("b.wav", "sine=frequency=700:duration=3"),
                            Make("c.wav", "sine=frequency=900:duration=1")});
    ASSERT_TRUE(AwaitAdding(*window));
    ASSERT_EQ(window->List()->RowCount(), 4);
    Choose(kFormatMp3);
    CSettings& s = window->Settings();
    s.TrackNumType = 1;
    s.BrowseOutputFolder = 0;
    std::map<std::string, QStringList> rows;
    for (int policy : setting::kTargetPolicies) {
        for (int workers : {1, 2}) {
            const std::string name = std::to_string(policy) + "-" + std::to_string(workers);
            const std::string out = dir.file("out" + name);
            fs::create_directories(out);
            s.DestSpecifiedFolder = out;
            s.SimultaneousFiles = workers;
            s.TargetExistsOpt = policy;
            window->ConvertAll();
            AwaitRun(*window);
            rows[name] = Column(kColumnOutput) + Column(kColumnVolume);
            EXPECT_EQ(rows[name].mid(0, 4), QStringList({"a.mp3", "a_1.mp3", "b.mp3", "c.mp3"}))
                << name;
        }
    }
    EXPECT_EQ(rows["11-1"], rows["22-2"]);
    EXPECT_EQ(rows["11-1"], rows["33-2"]);
    for (const char* name : {"a.mp3", "a_1.mp3", "b.mp3", "c.mp3"}) {
        const std::vector<uint8_t> one = ReadFile(dir.file(std::string("out11-1/") + name));
        EXPECT_FALSE(one.empty()) << name;
        EXPECT_EQ(one, ReadFile(dir.file(std::string("out22-2/") + name))) << name;
    }
}

TEST_F(RunFlowsTest, CancelDuringAParallelRunLeavesNoPartialFile) {
    QStringList files;
    for (int i = 0; i < 4; ++i) files << Make(std::to_string(i) + ".wav", "sine=duration=30");
    window->AddChosenFiles(files);
    ASSERT_TRUE(AwaitAdding(*window));
    Choose(kFormatMp3);
    window->Settings().SimultaneousFiles = 2;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (CProgressWindow* p = window->Progress();
            p && Column(kColumnOutput).contains("正在转换..."))
            p->CancelButton()->click();
    });
    watcher.start(1);
    window->ConvertAll();
    AwaitRun(*window);
    watcher.stop();

    const QStringList outputs = Column(kColumnOutput);
    EXPECT_TRUE(outputs.contains("已取消")) << qPrintable(outputs.join(u','));
    // What is in the output folder is exactly the finished rows' files.
    std::set<std::string> finished, present;
    for (int row = 1; row <= 4; ++row)
        if (const std::string& path = window->List()->EntryAt(row)->OutputPath; !path.empty())
            finished.insert(fs::path(path).filename().string());
    for (const auto& f : fs::directory_iterator(dir.file("out")))
        present.insert(f.path().filename().string());
    EXPECT_EQ(present, finished);
    for (const QString& text : outputs) EXPECT_NE(text, "正在转换...");
    EXPECT_TRUE(shell.revealed.isEmpty());
}

TEST_F(RunFlowsTest, ARunsEventsFromAWorkerReachTheWindowThreadInOrder) {
    CRunRelay relay;
    QList<QThread*> threads;
    QStringList cells;
    QObject::connect(&relay, &CRunRelay::OutputCellChanged, &relay,
                     [&](int row, const Text& text) {
                         threads << QThread::currentThread();
                         cells << QString::number(row) + ":" + ShowText(text);
                     },
                     Qt::QueuedConnection);
    // A file named like an engine text is shown as it is.
    std::thread worker([&] {
        relay.SetOutputCell(0, EngineText(kConvertingRow));
        relay.SetOutputCell(0, Text("转换失败.mp3"));
    });
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(cells, QStringList({"0:正在转换...", "0:转换失败.mp3"}));
    EXPECT_EQ(threads, QList<QThread*>({relay.thread(), relay.thread()}));
}

}  // namespace
