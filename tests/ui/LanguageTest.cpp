// The window in both languages: with the English catalogues installed no
// Chinese text is left in the main window, its menus, the options sheet's
// pages or the progress window (engine texts included, translated where
// they are shown); without them the described Chinese texts stay; the help
// window opens the manual of the language; the program's --lang option.
#include "engine/ConversionRun.h"
#include "engine/CodecRuntime.h"
#include "l10n/Translation.h"
#include "settings/Settings.h"
#include "ui/Commands.h"
#include "ui/FileDialogs.h"
#include "ui/FileList.h"
#include "ui/HelpWindow.h"
#include "ui/LanguageOption.h"
#include "ui/MainWindow.h"
#include "ui/OptSheet.h"
#include "ui/ProgressWindow.h"
#include "ui/SkinButton.h"

#include "support/TestSupport.h"
#include "WindowSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace quelvox;
using namespace quelvox::ui;
using namespace testsupport;

namespace {

// English for the life of the object, as the program sets it up; Chinese
// again afterwards, as the other tests expect.
class ScopedEnglish {
public:
    ScopedEnglish() { UseLanguage(*QCoreApplication::instance(), Language::English); }
    ~ScopedEnglish() { UseLanguage(*QCoreApplication::instance(), Language::Chinese); }
    ScopedEnglish(const ScopedEnglish&) = delete;
    ScopedEnglish& operator=(const ScopedEnglish&) = delete;
};

bool HasChinese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x9FFF) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
    }
    return false;
}

// Every text a user can read on `widget` and its children: captions,
// labels, headings, list items and tooltips. The language choice's own
// "中文" names Chinese in Chinese on purpose.
QStringList ShownTexts(const QWidget& widget) {
    QStringList texts;
    QList<const QWidget*> all{&widget};
    for (const QWidget* child : widget.findChildren<QWidget*>()) all << child;
    for (const QWidget* w : all) {
        texts << w->toolTip() << w->windowTitle();
        if (auto* button = qobject_cast<const QAbstractButton*>(w)) texts << button->text();
        if (auto* label = qobject_cast<const QLabel*>(w)) texts << label->text();
        if (auto* group = qobject_cast<const QGroupBox*>(w)) texts << group->title();
        if (auto* box = qobject_cast<const QComboBox*>(w)) {
            for (int i = 0; i < box->count(); ++i)
                if (box->objectName() != u"language" || i != 1) texts << box->itemText(i);
        }
    }
    texts.removeAll(QString());
    return texts;
}

QStringList Chinese(const QStringList& texts) {
    QStringList found;
    for (const QString& text : texts)
        if (HasChinese(text)) found << text;
    return found;
}

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime.Start(ExecutableFolder());
        CSettings seen;
        CheckFirstRun(seen, location);
    }
    std::unique_ptr<CMainWindow> OpenWindow() {
        auto window = std::make_unique<CMainWindow>(
            runtime, MainWindowServices{&prompts, &shell, location, &dialogs});
        window->show();
        return window;
    }
    // Lists one entry, as the adding step does, and returns its row.
    int List(CMainWindow& window, int channels) {
        FileEntry entry;
        entry.Path = "/music/song.flac";
        entry.Channels = channels;
        auto [it, added] = window.PathMap().emplace(PathMapKey(entry.Path), entry);
        return window.AppendRow(it->second);
    }

    TempDir dir;
    SettingsLocation location{dir.file("settings.ini")};
    CCodecRuntime runtime;
    RecordingPrompts prompts;
    RecordingShell shell;
    ScriptedDialogs dialogs;
};

TEST_F(LanguageTest, EnglishLeavesNoChineseInTheWindowMenusAndRowsAndFitsTheButtons) {
    ScopedEnglish english;
    auto window = OpenWindow();
    EXPECT_EQ(window->Button(kCmdAddFiles)->text(), "&Add Files");
    EXPECT_EQ(window->List()->HeaderText(kColumnFile), "File");

    QStringList texts = ShownTexts(*window);
    for (int column = 0; column < kColumnCount; ++column)
        texts << window->List()->HeaderText(column);
    for (QMenu* menu : {window->ContextMenu(), window->HelpMenu()})
        for (const QAction* action : menu->actions()) texts << action->text();
    EXPECT_EQ(Chinese(texts), QStringList());
    // The English captions fit the command buttons, as the Chinese do.
    for (Command c : {kCmdAddFiles, kCmdAddFolder, kCmdRemoveAll, kCmdConvertAll,
                      kCmdConvertAllToOne, kCmdOptions}) {
        CSkinButton* button = window->Button(c);
        const QString shown = QString(button->text()).remove(u'&');
        EXPECT_LE(button->fontMetrics().boundingRect(shown).width(), button->width() - 9)
            << qPrintable(shown);
    }

    // Engine texts are translated where they are shown: the channel cell
    // and the run's row texts.
    const int row = List(*window, 1);
    window->SetOutputCell(row, EngineText(kFailedRow));
    CFileList* list = window->List();
    EXPECT_EQ(list->CellText(row, kColumnOutput), ShowText(EngineText(kFailedRow)));
    EXPECT_FALSE(HasChinese(list->CellText(row, kColumnOutput)))
        << qPrintable(list->CellText(row, kColumnOutput));
    EXPECT_FALSE(HasChinese(list->CellText(row, kColumnChannels)))
        << qPrintable(list->CellText(row, kColumnChannels));
    // The title and the add dialog's first file type.
    EXPECT_EQ(window->windowTitle(), "Quelvox — 1 file");
    EXPECT_EQ(CMainWindow::TitleFor(1234, -1), "Quelvox — 1 234 files");
    EXPECT_EQ(CMainWindow::TitleFor(1234, 37), "37% — Quelvox");
    EXPECT_TRUE(OpenFileTypes().front().startsWith("All supported files (*."))
        << qPrintable(OpenFileTypes().front());
}

TEST_F(LanguageTest, EnglishOptionsPagesAndProgressWindowShowNoChinese) {
    ScopedEnglish english;
    CSettings settings(dir.file("docs"));
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    WmaFormatList wmaFormats;
    COptServices services;
    services.prompts = &prompts;
    services.wmaFormats = &wmaFormats;
    services.location = location;
    COptSheet sheet(settings, catalogue, services);
    QStringList texts;
    for (int i = 0; i < sheet.PageCount(); ++i) {
        ASSERT_TRUE(sheet.ChoosePage(i));
        texts << sheet.Page(i)->Caption() << ShownTexts(*sheet.Page(i));
    }
    texts << ShownTexts(sheet);
    EXPECT_EQ(Chinese(texts), QStringList());
    EXPECT_EQ(sheet.Page(0)->Caption(), "General");

    CProgressWindow progress(nullptr, CProgressWindow::Kind::Converting);
    progress.SetFileText(EngineText(kFileStartText, "song.flac"));
    EXPECT_EQ(progress.CancelButton()->text(), "Cancel");
    EXPECT_FALSE(HasChinese(progress.FileText()->toolTip()))
        << qPrintable(progress.FileText()->toolTip());
}

TEST_F(LanguageTest, ChineseKeepsTheDescribedTexts) {
    auto window = OpenWindow();
    EXPECT_EQ(window->Button(kCmdAddFiles)->text(), "添加文件(&A)");
    EXPECT_EQ(window->List()->HeaderText(kColumnFile), "文件");
    const int row = List(*window, 1);
    window->SetOutputCell(row, EngineText(kFailedRow));
    EXPECT_EQ(window->List()->CellText(row, kColumnOutput), kFailedRow);
    EXPECT_EQ(window->List()->CellText(row, kColumnChannels), "单声");
}

TEST_F(LanguageTest, HelpWindowOpensTheManualOfTheLanguage) {
    EXPECT_TRUE(FindManual().endsWith("/index.html")) << qPrintable(FindManual());
    ScopedEnglish english;
    EXPECT_TRUE(FindManual().endsWith("/index.en.html")) << qPrintable(FindManual());
    CHelpWindow help;
    EXPECT_EQ(help.windowTitle(), "Quelvox Help");
    EXPECT_TRUE(help.Browser()->source().path().endsWith("/index.en.html"));
    EXPECT_TRUE(help.Browser()->toPlainText().contains("Adding files"));
}

TEST(ProgramArguments, LanguageOptionIsTakenAndPathsKeepTheirOrder) {
    ProgramArguments parsed = ParseProgramArguments({"a.mp3", "--lang", "en", "b.wav"});
    EXPECT_EQ(parsed.language, Language::English);
    EXPECT_EQ(parsed.paths, QStringList({"a.mp3", "b.wav"}));
    EXPECT_TRUE(parsed.error.isEmpty());

    parsed = ParseProgramArguments({"--lang=zh", "--", "--lang=en"});
    EXPECT_EQ(parsed.language, Language::Chinese);
    EXPECT_EQ(parsed.paths, QStringList({"--lang=en"}));

    EXPECT_FALSE(ParseProgramArguments({"x.mp3"}).language.has_value());
    EXPECT_FALSE(ParseProgramArguments({"--lang", "klingon"}).error.isEmpty());
    EXPECT_FALSE(ParseProgramArguments({"--lang"}).error.isEmpty());
}

}  // namespace
