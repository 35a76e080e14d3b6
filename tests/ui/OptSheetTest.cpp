// The options sheet on the offscreen platform: values go from the settings
// store through the pages and back, validation keeps the page and focuses
// the field, stored values outside the choices fall back, the lists carry
// the right items, and the command-line converter honours what the sheet
// saved.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/CodecIds.h"
#include "encoders/WmaFormats.h"
#include "l10n/Language.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "ui/OptPageGeneral.h"
#include "ui/OptSheet.h"
#include "ui/OptPageAudio.h"
#include "ui/Prompts.h"

namespace {

using namespace quelvox;
using namespace quelvox::ui;
using testsupport::Probe;
using testsupport::ProbeNumber;
using testsupport::ProbeTag;
using testsupport::Quote;
using testsupport::TempDir;

// Records every message instead of showing it.
struct FakePrompts : IPrompts {
    std::vector<QString> warnings;
    std::vector<QString> informations;
    void Information(QWidget*, const QString& text) override { informations.push_back(text); }
    void Warning(QWidget*, const QString& text) override { warnings.push_back(text); }
    bool Question(QWidget*, const QString&) override { return false; }
    bool OkCancel(QWidget*, const QString&) override { return false; }
};

QString U(const char* text) { return QString::fromUtf8(text); }

// Page positions: general, output, tags, then the formats in catalogue order.
constexpr int kGeneral = 0;
constexpr int kOutput = 1;
constexpr int kTags = 2;

class OptSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
        services_.prompts = &prompts_;
        services_.wmaFormats = &wmaFormats_;
        services_.location = {StorePath()};
        LoadSettings(settings_, catalogue_, services_.location);
    }

    std::string StorePath() const { return dir_.file("config") + "/Quelvox/Quelvox 4.ini"; }
    std::string Documents() const { return dir_.file("docs"); }

    // A sheet over the test's settings, shown.
    COptSheet& Open() {
        sheet_ = std::make_unique<COptSheet>(settings_, catalogue_, services_);
        sheet_->show();
        return *sheet_;
    }
    // The page of the format `code`, chosen.
    COptPage* FormatPage(int code) {
        for (int i = 0; i < sheet_->PageCount(); ++i) {
            auto* audio = dynamic_cast<COptPageAudio*>(sheet_->Page(i));
            if (audio && audio->FormatCode() == code) {
                EXPECT_TRUE(sheet_->ChoosePage(i));
                return audio;
            }
        }
        ADD_FAILURE() << "no page for format " << code;
        return nullptr;
    }
    COptPage* PageCaptioned(const char* caption) {
        for (int i = 0; i < sheet_->PageCount(); ++i) {
            if (sheet_->Page(i)->Caption() == U(caption)) {
                EXPECT_TRUE(sheet_->ChoosePage(i));
                return sheet_->Page(i);
            }
        }
        ADD_FAILURE() << "no page " << caption;
        return nullptr;
    }
    COptPage* Choose(int index) {
        EXPECT_TRUE(sheet_->ChoosePage(index));
        return sheet_->Page(index);
    }
    template <class T>
    static T* Get(QWidget* page, const char* name) {
        T* w = page->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QStringList Items(QComboBox* combo) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        return items;
    }
    // Replaces the edit's text as typing does (Chinese text is inserted as
    // an input method would).
    static void Type(QWidget* edit, const QString& text) {
        if (auto* line = qobject_cast<QLineEdit*>(edit)) {
            line->selectAll();
            line->insert(text);
            return;
        }
        auto* spin = qobject_cast<QAbstractSpinBox*>(edit);
        ASSERT_NE(spin, nullptr);
        spin->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    // The settings as stored now.
    CSettings Stored(std::vector<OutputFormatEntry>* catalogue = nullptr) const {
        CSettings s(Documents());
        std::vector<OutputFormatEntry> c = BuildFormatCatalogue();
        LoadSettings(s, c, services_.location);
        if (catalogue) *catalogue = c;
        return s;
    }
    bool Ok() {
        sheet_->OkButton()->click();
        return sheet_->result() == QDialog::Accepted && !sheet_->isVisible();
    }

    TempDir dir_;
    FakePrompts prompts_;
    WmaFormatList wmaFormats_;
    COptServices services_;
    CSettings settings_{Documents()};
    std::vector<OutputFormatEntry> catalogue_ = BuildFormatCatalogue();
    std::unique_ptr<COptSheet> sheet_;
};

// ---- Pages and captions ----------------------------------------------------

TEST_F(OptSheetTest, HasThirtyTwoPagesInCatalogueOrder) {
    COptSheet& sheet = Open();
    ASSERT_EQ(sheet.PageCount(), 32);
    QStringList captions;
    for (int i = 0; i < sheet.PageCount(); ++i) captions << sheet.Page(i)->Caption();
    EXPECT_EQ(captions.mid(0, 3), (QStringList{U("常规"), U("输出"), U("ID3")}));
    // Each format page in catalogue order; 7200 and 7300 have none.
    QStringList expected;
    for (const OutputFormatEntry& e : catalogue_) {
        if (e.code == kFormatWmv || e.code == kFormatAsf) continue;
        expected << (e.code == kFormatWma ? U("WMA/WMV/ASF") : U(FormatPageTitle(e).c_str()));
    }
    EXPECT_EQ(captions.mid(3), expected);
    EXPECT_EQ(sheet.PageList()->count(), 32);
    EXPECT_EQ(sheet.windowTitle(), U("选项"));
    // Pages are built when first shown.
    EXPECT_TRUE(sheet.Page(0)->IsShown());
    EXPECT_FALSE(sheet.Page(5)->IsShown());
}

TEST_F(OptSheetTest, TheSheetKeepsOneSizeTheLargestPagesOnEveryPage) {
    // Opened on the general page and on a format page, in both cases every
    // page is shown whole at the one size.
    for (int start : {kGeneral, 5}) {
        settings_.OptStartPageIndex = start;
        COptSheet& sheet = Open();
        QCoreApplication::processEvents();
        const QSize size = sheet.size();
        for (int i = 0; i < sheet.PageCount(); ++i) {
            ASSERT_TRUE(sheet.ChoosePage(i)) << i;
            QCoreApplication::processEvents();
            EXPECT_EQ(sheet.size(), size) << qPrintable(sheet.Page(i)->Caption());
            const QWidget* page = sheet.Page(i);
            EXPECT_GE(page->width(), page->minimumSizeHint().width()) << i;
            EXPECT_GE(page->height(), page->minimumSizeHint().height()) << i;
        }
        sheet.reject();
    }
}

// ---- Round trip --------------------------------------------------------------

TEST_F(OptSheetTest, OkStoresWhatThePagesShowAndReloadsIt) {
    Open();
    QWidget* general = Choose(kGeneral);
    Get<QCheckBox>(general, "filterOn")->click();
    Type(Get<QLineEdit>(general, "filterText"), U(" wav ; mp3"));
    Get<QCheckBox>(general, "lengthOn")->click();
    Type(Get<QSpinBox>(general, "length"), U("1500"));
    Get<QRadioButton>(general, "mono2")->click();
    Get<QRadioButton>(general, "volumeType1")->click();
    Type(Get<QSpinBox>(general, "volume"), U("250"));
    Get<QComboBox>(general, "resampler")->setCurrentIndex(1);
    Type(Get<QSpinBox>(general, "filesAtOnce"), U("3"));
    Get<QComboBox>(general, "language")->setCurrentIndex(kLanguageEnglish);

    QWidget* output = Choose(kOutput);
    Get<QComboBox>(output, "folderChoice")->setCurrentIndex(1);
    Type(Get<QLineEdit>(output, "folder"), U("/tmp/输出"));
    Get<QComboBox>(output, "targetExists")->setCurrentIndex(2);
    Get<QCheckBox>(output, "browseAfter")->click();

    QWidget* tags = Choose(kTags);
    Get<QRadioButton>(tags, "source0")->click();
    Get<QCheckBox>(tags, "titleAsFileName")->click();
    Type(Get<QLineEdit>(tags, "title"), U("标题一"));
    Get<QComboBox>(tags, "genre")->setEditText(U("My Own Genre"));
    Get<QRadioButton>(tags, "track2")->click();
    Type(Get<QSpinBox>(tags, "trackNumber"), U("7"));
    QComboBox* codePage = Get<QComboBox>(tags, "codePage");
    EXPECT_EQ(codePage->currentText(), U("自动"));
    codePage->setCurrentIndex(codePage->findData(QStringLiteral("CP932")));

    QWidget* mp3 = FormatPage(kFormatMp3);
    Get<QCheckBox>(mp3, "auto")->click();
    QComboBox* rate = Get<QComboBox>(mp3, "sampleRate");
    rate->setCurrentIndex(rate->findData(22050));
    QComboBox* bitRate = Get<QComboBox>(mp3, "bitRate");
    bitRate->setCurrentIndex(bitRate->findData(64000));
    QComboBox* channels = Get<QComboBox>(mp3, "channels");
    channels->setCurrentIndex(channels->findData(1));

    QWidget* amr = PageCaptioned("AMR");
    Get<QRadioButton>(amr, "wideBand")->click();
    Get<QComboBox>(amr, "wideMode")->setCurrentIndex(2);
    Get<QCheckBox>(amr, "dtx")->click();
    QWidget* awb = PageCaptioned("AWB");
    Get<QComboBox>(awb, "mode")->setCurrentIndex(8);

    ASSERT_TRUE(Ok());
    EXPECT_TRUE(prompts_.warnings.empty());
    // The filter list is rebuilt at once.
    EXPECT_EQ(settings_.FilterExtList, (std::vector<std::string>{"wav", "mp3"}));

    std::vector<OutputFormatEntry> catalogue;
    const CSettings s = Stored(&catalogue);
    EXPECT_EQ(s.EnableExtFilter, 1);
    EXPECT_EQ(s.FilterExts, "wav,mp3");
    EXPECT_EQ(s.EnableConvertLength, 1);
    EXPECT_EQ(s.ConvertLength, 1500);
    EXPECT_EQ(s.MonoType, 2);
    EXPECT_EQ(s.VolumeType, 1);
    EXPECT_EQ(s.Volume, 250);
    EXPECT_EQ(s.Resampler, 1);
    EXPECT_EQ(s.SimultaneousFiles, 3);
    EXPECT_EQ(s.Language, kLanguageEnglish);
    EXPECT_EQ(s.DestOutputFolderOpt, 399);
    EXPECT_EQ(s.DestSpecifiedFolder, "/tmp/输出");
    EXPECT_EQ(s.TargetExistsOpt, 33);
    EXPECT_EQ(s.BrowseOutputFolder, 0);
    EXPECT_EQ(s.ID3TagType, 1);
    EXPECT_EQ(s.TitleAsFileName, 0);
    EXPECT_EQ(s.Title, "标题一");
    EXPECT_EQ(s.Genre, "My Own Genre");
    EXPECT_EQ(s.TrackNumType, 2);
    EXPECT_EQ(s.CustomTrackNum, 7);
    EXPECT_EQ(s.TagCodePage, "CP932");
    const OutputFormatEntry* mp3Entry = FindFormat(catalogue, kFormatMp3);
    EXPECT_EQ(mp3Entry->AutoEncParam, 0);
    EXPECT_EQ(mp3Entry->SampleRate, 22050);
    EXPECT_EQ(mp3Entry->BitRate, 64000);
    EXPECT_EQ(mp3Entry->Channels, 1);
    EXPECT_EQ(s.AMRType, 1);
    EXPECT_EQ(s.AMRWBMode, 2);
    EXPECT_EQ(s.AMRDTX, 1);
    EXPECT_EQ(s.AWBMode, 8);
    // The start page is not part of the options group: it is stored when
    // the main window closes.
    EXPECT_EQ(settings_.OptStartPageIndex, sheet_->CurrentIndex());
    EXPECT_EQ(s.OptStartPageIndex, 0);
}

TEST_F(OptSheetTest, AStoredLanguageOutsideTheChoicesShowsAsTheSystemsAndIsStoredSo) {
    settings_.Language = 7;
    Open();
    QComboBox* language = Get<QComboBox>(Choose(kGeneral), "language");
    EXPECT_EQ(language->currentIndex(), kLanguageSystem);
    ASSERT_TRUE(Ok());
    EXPECT_EQ(Stored().Language, kLanguageSystem);
}

TEST_F(OptSheetTest, CancelChangesNothingButTheStartPage) {
    const CSettings before = settings_;
    Open();
    QWidget* general = Choose(kGeneral);
    Get<QRadioButton>(general, "volumeType0")->click();
    QWidget* tags = Choose(kTags);
    Get<QRadioButton>(tags, "source2")->click();
    Choose(4);
    sheet_->CancelButton()->click();
    EXPECT_EQ(sheet_->result(), QDialog::Rejected);
    EXPECT_EQ(settings_.VolumeType, before.VolumeType);
    EXPECT_EQ(settings_.ID3TagType, before.ID3TagType);
    EXPECT_EQ(settings_.OptStartPageIndex, 4);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(StorePath())));
    // The next opening starts on that page.
    EXPECT_EQ(Open().CurrentIndex(), 4);
    EXPECT_TRUE(sheet_->Page(4)->IsShown());
}

TEST_F(OptSheetTest, TheLoudnessChoiceKeepsItsTargetCeilingAlbumAndReplayGain) {
    settings_.VolumeType = kVolumeLoudness;
    settings_.LoudnessLimiter = 1;
    Open();
    QWidget* general = Choose(kGeneral);
    EXPECT_TRUE(Get<QRadioButton>(general, "volumeType3")->isChecked());
    EXPECT_EQ(Get<QRadioButton>(general, "volumeType3")->text(), U("统一响度 (EBU R128)"));
    QSpinBox* target = Get<QSpinBox>(general, "loudnessTarget");
    QDoubleSpinBox* ceiling = Get<QDoubleSpinBox>(general, "truePeakCeiling");
    EXPECT_TRUE(target->isEnabled());
    EXPECT_FALSE(Get<QSpinBox>(general, "volume")->isEnabled());
    EXPECT_EQ(target->value(), -16);
    EXPECT_DOUBLE_EQ(ceiling->value(), -1.0);
    QCheckBox* limiter = Get<QCheckBox>(general, "loudnessLimiter");
    EXPECT_EQ(limiter->text(), U("超过峰值上限时限幅"));
    EXPECT_TRUE(limiter->isChecked());
    EXPECT_TRUE(limiter->isEnabled());
    limiter->click();
    Type(target, U("-23"));
    Type(ceiling, U("-2.5"));
    Get<QCheckBox>(general, "loudnessAlbum")->click();
    Get<QCheckBox>(general, "writeReplayGain")->click();
    ASSERT_TRUE(Ok());
    CSettings s = Stored();
    EXPECT_EQ(s.VolumeType, 3);
    EXPECT_EQ(s.LoudnessTarget, -23);
    EXPECT_EQ(s.TruePeakCeiling, -25);
    EXPECT_EQ(s.LoudnessAlbum, 1);
    EXPECT_EQ(s.LoudnessLimiter, 0);
    EXPECT_EQ(s.WriteReplayGain, 1);

    // Another mode leaves the loudness fields disabled.
    settings_.VolumeType = kVolumeUnchanged;
    Open();
    general = Choose(kGeneral);
    EXPECT_FALSE(Get<QSpinBox>(general, "loudnessTarget")->isEnabled());
    EXPECT_FALSE(Get<QDoubleSpinBox>(general, "truePeakCeiling")->isEnabled());
    EXPECT_FALSE(Get<QCheckBox>(general, "loudnessLimiter")->isEnabled());
    EXPECT_TRUE(Get<QCheckBox>(general, "writeReplayGain")->isEnabled());
}

TEST_F(OptSheetTest, PagesNeverShownStoreTheirValuesUnchanged) {
    settings_.VolumeType = 7;
    settings_.AMRMode = 9;
    Open();
    ASSERT_TRUE(Ok());
    const CSettings s = Stored();
    EXPECT_EQ(s.AMRMode, 9);     // the AMR page was never shown
    EXPECT_EQ(s.VolumeType, 2);  // the general page was
}

TEST_F(OptSheetTest, AGeneralPageNeverShownStillStoresItsResamplerValid) {
    settings_.Resampler = 5;
    settings_.OptStartPageIndex = kTags;
    Open();
    ASSERT_TRUE(Ok());
    EXPECT_FALSE(sheet_->Page(kGeneral)->IsShown());
    EXPECT_EQ(Stored().Resampler, 0);
}

// ---- Validation --------------------------------------------------------------

TEST_F(OptSheetTest, AnEmptyFilterKeepsTheGeneralPageAndFocusesTheFilter) {
    Open();
    QWidget* general = Choose(kGeneral);
    Get<QCheckBox>(general, "filterOn")->click();
    EXPECT_EQ(general->focusWidget(), Get<QLineEdit>(general, "filterText"));
    Get<QRadioButton>(general, "mono1")->setFocus();
    // A click on another caption is undone.
    sheet_->PageList()->setCurrentRow(kOutput);
    EXPECT_EQ(sheet_->CurrentIndex(), kGeneral);
    EXPECT_EQ(sheet_->PageList()->currentRow(), kGeneral);
    ASSERT_EQ(prompts_.warnings, (std::vector<QString>{U("请输入您需要过滤的文件扩展名.")}));
    EXPECT_EQ(general->focusWidget(), Get<QLineEdit>(general, "filterText"));
    EXPECT_FALSE(Ok());
    EXPECT_EQ(prompts_.warnings.size(), 2u);
}

TEST_F(OptSheetTest, AFilterWithoutAUsableExtensionIsRefused) {
    Open();
    QWidget* general = Choose(kGeneral);
    Get<QCheckBox>(general, "filterOn")->click();
    Type(Get<QLineEdit>(general, "filterText"), U(",,, ;"));
    EXPECT_FALSE(Ok());
    ASSERT_EQ(prompts_.warnings.size(), 1u);
    EXPECT_EQ(prompts_.warnings[0], U("请输入您需要过滤的文件扩展名."));
    // Written with a dot or a wildcard, extensions still match.
    Type(Get<QLineEdit>(general, "filterText"), U(".mp3, *.WAV;*.m4a"));
    ASSERT_TRUE(Ok());
    EXPECT_EQ(Stored().FilterExts, "mp3,WAV,m4a");
    EXPECT_EQ(settings_.FilterExtList, (std::vector<std::string>{"mp3", "wav", "m4a"}));
}

TEST_F(OptSheetTest, ALengthOfZeroKeepsTheSheetOpenOnTheLengthEdit) {
    Open();
    QWidget* general = Choose(kGeneral);
    Get<QCheckBox>(general, "lengthOn")->click();
    Get<QCheckBox>(general, "hiddenFiles")->setFocus();
    EXPECT_FALSE(Ok());
    EXPECT_TRUE(sheet_->isVisible());
    ASSERT_EQ(prompts_.warnings, (std::vector<QString>{U("转换的长度必须大于 0 毫秒.")}));
    EXPECT_EQ(general->focusWidget(), Get<QSpinBox>(general, "length"));
    EXPECT_EQ(Stored().EnableConvertLength, 0);
}

TEST_F(OptSheetTest, AnEmptySpecifiedFolderIsRefusedASourceFolderChoiceIsNot) {
    settings_.DestSpecifiedFolder.clear();
    Open();
    QWidget* output = Choose(kOutput);
    QComboBox* choice = Get<QComboBox>(output, "folderChoice");
    choice->setCurrentIndex(choice->findData(199));
    for (const char* name : {"folder", "browse", "open", "keepTree"})
        EXPECT_FALSE(Get<QWidget>(output, name)->isEnabled()) << name;
    EXPECT_TRUE(sheet_->ChoosePage(kTags));
    Choose(kOutput);
    choice->setCurrentIndex(choice->findData(399));
    for (const char* name : {"folder", "browse", "open", "keepTree"})
        EXPECT_TRUE(Get<QWidget>(output, name)->isEnabled()) << name;
    EXPECT_FALSE(sheet_->ChoosePage(kTags));
    ASSERT_EQ(prompts_.warnings, (std::vector<QString>{U("请选择一个输出文件夹.")}));
    EXPECT_EQ(output->focusWidget(), Get<QLineEdit>(output, "folder"));
}

TEST_F(OptSheetTest, TheTreeStartIsChosenOnlyForAKeptTreeInASpecifiedFolder) {
    settings_.DestOutputFolderOpt = 399;
    settings_.CreateDirs = 0;
    Open();
    QWidget* output = Choose(kOutput);
    QCheckBox* keepTree = Get<QCheckBox>(output, "keepTree");
    QComboBox* treeFrom = Get<QComboBox>(output, "treeFrom");
    EXPECT_EQ(Items(treeFrom), QStringList({U("从添加的文件夹开始"), U("完整路径")}));
    EXPECT_EQ(treeFrom->currentText(), U("从添加的文件夹开始"));  // the new default
    EXPECT_FALSE(treeFrom->isEnabled());
    keepTree->click();
    EXPECT_TRUE(treeFrom->isEnabled());
    QComboBox* choice = Get<QComboBox>(output, "folderChoice");
    choice->setCurrentIndex(choice->findData(199));
    EXPECT_FALSE(treeFrom->isEnabled());
    choice->setCurrentIndex(choice->findData(399));
    EXPECT_TRUE(treeFrom->isEnabled());
    treeFrom->setCurrentIndex(1);
    ASSERT_TRUE(Ok());
    EXPECT_EQ(Stored().CreateDirs, 1);
    EXPECT_EQ(Stored().CreateDirsFrom, kTreeFromWholePath);

    // The stored whole path shows as such; a value outside the choices
    // shows as the added folder and is stored so.
    settings_ = Stored();
    Open();
    output = Choose(kOutput);
    EXPECT_EQ(Get<QComboBox>(output, "treeFrom")->currentText(), U("完整路径"));
    sheet_->CancelButton()->click();
    settings_.CreateDirsFrom = 7;
    Open();
    output = Choose(kOutput);
    EXPECT_EQ(Get<QComboBox>(output, "treeFrom")->currentText(), U("从添加的文件夹开始"));
    ASSERT_TRUE(Ok());
    EXPECT_EQ(Stored().CreateDirsFrom, kTreeFromAddedFolder);
}

TEST_F(OptSheetTest, OpeningAMissingFolderSaysSo) {
    settings_.DestSpecifiedFolder = dir_.file("not-yet");
    std::vector<QString> opened;
    services_.openFolder = [&](const QString& f) { opened.push_back(f); };
    Open();
    QWidget* output = Choose(kOutput);
    Get<QPushButton>(output, "open")->click();
    ASSERT_EQ(prompts_.warnings.size(), 1u);
    EXPECT_EQ(prompts_.warnings[0],
              U("该文件夹 \"%1\" 尚不存在.\n\n注意: 转换文件时程序将自动创建文件夹.")
                  .arg(QString::fromStdString(dir_.file("not-yet"))));
    Type(Get<QLineEdit>(output, "folder"), QString::fromStdString(dir_.path().string()));
    Get<QPushButton>(output, "open")->click();
    EXPECT_EQ(opened, (std::vector<QString>{QString::fromStdString(dir_.path().string())}));
}

// ---- Stored values outside the choices -----------------------------------

TEST_F(OptSheetTest, StoredValuesOutsideTheChoicesFallBack) {
    settings_.VolumeType = 7;
    settings_.TargetExistsOpt = 5;
    settings_.DestOutputFolderOpt = 3;
    settings_.AMRMode = 9;
    settings_.ID3TagType = 5;
    settings_.TrackNumType = -1;
    settings_.TagCodePage = "KOI8-R";  // set with --set: kept, not offered
    Open();
    QWidget* general = Choose(kGeneral);
    EXPECT_TRUE(Get<QRadioButton>(general, "volumeType2")->isChecked());
    QWidget* output = Choose(kOutput);
    EXPECT_EQ(Get<QComboBox>(output, "targetExists")->currentText(),
              U("自动重命名 (在文件名末端添加数字)"));
    EXPECT_EQ(Get<QComboBox>(output, "folderChoice")->currentText(), U("与源文件相同"));
    QWidget* tags = Choose(kTags);
    EXPECT_TRUE(Get<QRadioButton>(tags, "source2")->isChecked());
    EXPECT_TRUE(Get<QRadioButton>(tags, "track0")->isChecked());
    EXPECT_EQ(Get<QComboBox>(tags, "codePage")->currentText(), U("KOI8-R"));
    QWidget* amr = PageCaptioned("AMR");
    EXPECT_EQ(Get<QComboBox>(amr, "narrowMode")->currentText(), U("7.4 kbps"));
    ASSERT_TRUE(Ok());
    const CSettings s = Stored();
    EXPECT_EQ(s.VolumeType, 2);
    EXPECT_EQ(s.TargetExistsOpt, 11);
    EXPECT_EQ(s.DestOutputFolderOpt, 199);
    EXPECT_EQ(s.AMRMode, 4);
    EXPECT_EQ(s.ID3TagType, 0);
    EXPECT_EQ(s.TrackNumType, 0);
    EXPECT_EQ(s.TagCodePage, "KOI8-R");
}

TEST_F(OptSheetTest, AStartPageIsUsedOnlyWhenItNamesAPage) {
    for (int stored : {-1, 32, 1000}) {
        settings_.OptStartPageIndex = stored;
        EXPECT_EQ(Open().CurrentIndex(), 0) << stored;
        sheet_->reject();
    }
    settings_.OptStartPageIndex = 31;
    EXPECT_EQ(Open().CurrentIndex(), 31);
    EXPECT_EQ(sheet_->PageList()->currentRow(), 31);
    sheet_->reject();
    // 4294967295 as stored by a 32-bit unsigned writer.
    std::filesystem::create_directories(dir_.file("config") + "/Quelvox");
    testsupport::WriteFile(StorePath(), std::string("[Options]\nOptStartPageIndex=4294967295\n"));
    LoadSettings(settings_, catalogue_, services_.location);
    EXPECT_EQ(Open().CurrentIndex(), 0);
}

TEST_F(OptSheetTest, ACodecTheFormatDoesNotOfferGivesWayToTheFirstWithItsLists) {
    FindFormat(catalogue_, kFormatMpa)->CodecID = 12345;
    FindFormat(catalogue_, kFormatMpa)->Channels = 2;
    Open();
    QWidget* mpa = FormatPage(kFormatMpa);
    EXPECT_EQ(Get<QComboBox>(mpa, "codec")->currentIndex(), 0);
    EXPECT_EQ(Get<QComboBox>(mpa, "sampleRate")->currentText(), U("44100 Hz"));
    EXPECT_EQ(Get<QComboBox>(mpa, "bitRate")->currentText(), U("128 kbps"));
    EXPECT_EQ(Get<QComboBox>(mpa, "channels")->currentText(), U("立体声"));
    ASSERT_TRUE(Ok());
    std::vector<OutputFormatEntry> catalogue;
    Stored(&catalogue);
    const OutputFormatEntry* e = FindFormat(catalogue, kFormatMpa);
    EXPECT_EQ(e->CodecID, kCodecMp2);
    EXPECT_EQ(e->SampleRate, 44100);
    EXPECT_EQ(e->BitRate, 128000);
    EXPECT_EQ(e->Channels, 2);
}

TEST_F(OptSheetTest, TheVolumeTakesOneTo32767AndItsArrowsStopAtTenAndTheTop) {
    settings_.VolumeType = kVolumeFixed;
    settings_.Volume = 0;  // stored by an older version
    Open();
    QWidget* general = Choose(kGeneral);
    QSpinBox* volume = Get<QSpinBox>(general, "volume");
    EXPECT_GE(volume->value(), 1);
    for (const char* typed : {"0", "-5"}) {
        Type(volume, U("100"));
        Type(volume, U(typed));
        volume->interpretText();
        EXPECT_GE(volume->value(), 1) << typed;
    }
    Type(volume, U("5"));
    volume->interpretText();
    EXPECT_EQ(volume->value(), 5);
    volume->stepDown();
    EXPECT_EQ(volume->value(), 5);
    volume->setValue(20);
    volume->stepDown();
    volume->stepDown();
    EXPECT_EQ(volume->value(), 10);
    volume->setValue(32760);
    volume->stepUp();
    EXPECT_EQ(volume->value(), 32767);
    Type(volume, U("5"));
    ASSERT_TRUE(Ok());
    EXPECT_EQ(Stored().Volume, 5);
}

TEST_F(OptSheetTest, AStoredTrackNumberAbove255DoesNotBlockOk) {
    settings_.TrackNumType = 0;
    settings_.CustomTrackNum = 300;
    Open();
    QWidget* tags = Choose(kTags);
    QSpinBox* number = Get<QSpinBox>(tags, "trackNumber");
    EXPECT_FALSE(number->isEnabled());
    ASSERT_TRUE(Ok());
    EXPECT_TRUE(prompts_.warnings.empty());
    EXPECT_EQ(Stored().CustomTrackNum, 255);
}

// ---- Enabling and focus of the tag page ----------------------------------

TEST_F(OptSheetTest, TheTagFieldsFollowTheTagSourceAndTrackKind) {
    Open();
    QWidget* tags = Choose(kTags);
    EXPECT_TRUE(Get<QRadioButton>(tags, "source1")->isChecked());
    for (const char* name :
         {"track0", "titleAsFileName", "title", "artist", "genre", "copyright", "trackNumber"})
        EXPECT_FALSE(Get<QWidget>(tags, name)->isEnabled()) << name;
    Get<QRadioButton>(tags, "source0")->click();
    for (const char* name : {"track0", "titleAsFileName", "artist", "genre", "copyright"})
        EXPECT_TRUE(Get<QWidget>(tags, name)->isEnabled()) << name;
    EXPECT_FALSE(Get<QWidget>(tags, "title")->isEnabled());
    EXPECT_FALSE(Get<QWidget>(tags, "trackNumber")->isEnabled());
    Get<QRadioButton>(tags, "track2")->click();
    QSpinBox* number = Get<QSpinBox>(tags, "trackNumber");
    EXPECT_TRUE(number->isEnabled());
    EXPECT_EQ(tags->focusWidget(), number);
    Type(number, U("256"));
    number->interpretText();
    EXPECT_LE(number->value(), 255);
    Get<QCheckBox>(tags, "titleAsFileName")->click();
    EXPECT_TRUE(Get<QWidget>(tags, "title")->isEnabled());
    EXPECT_EQ(tags->focusWidget(), Get<QWidget>(tags, "title"));
}

// ---- List labels of the audio page -----------------------------------------

TEST_F(OptSheetTest, TheAudioListsLabelTheirValuesAndEndWithAutomaticItems) {
    Open();
    QWidget* mp3 = FormatPage(kFormatMp3);
    QComboBox* rate = Get<QComboBox>(mp3, "sampleRate");
    QComboBox* bitRate = Get<QComboBox>(mp3, "bitRate");
    QComboBox* channels = Get<QComboBox>(mp3, "channels");
    EXPECT_EQ(rate->currentText(), U("44100 Hz"));
    EXPECT_EQ(Items(rate).front(), U("8000 Hz"));
    EXPECT_EQ(Items(rate).back(), U("自动 (程序将自动选择最佳采样率)"));
    EXPECT_EQ(bitRate->currentText(), U("128 kbps"));
    EXPECT_EQ(Items(bitRate).back(), U("自动 (程序将自动选择最佳比特率)"));
    EXPECT_EQ(Items(channels),
              (QStringList{U("立体声"), U("单声"), U("自动 (程序将选择最佳声道)")}));
    EXPECT_EQ(channels->currentText(), U("立体声"));
    // Auto on: the lists are disabled but keep their selections.
    EXPECT_TRUE(Get<QCheckBox>(mp3, "auto")->isChecked());
    EXPECT_FALSE(rate->isEnabled());
    Get<QCheckBox>(mp3, "auto")->click();
    EXPECT_TRUE(rate->isEnabled());
    EXPECT_TRUE(Get<QComboBox>(mp3, "codec")->isEnabled());

    // One rate and one channel: no automatic items; 10200 bit/s.
    QWidget* threeGp = FormatPage(kFormat3gp);
    EXPECT_EQ(Items(Get<QComboBox>(threeGp, "sampleRate")), QStringList{U("8000 Hz")});
    EXPECT_EQ(Items(Get<QComboBox>(threeGp, "channels")), QStringList{U("单声")});
    EXPECT_EQ(Get<QComboBox>(threeGp, "bitRate")->currentText(), U("10.20 kbps"));

    // Codecs whose encoders take surround offer it before the automatic item.
    EXPECT_EQ(Items(Get<QComboBox>(FormatPage(kFormatOgg), "channels")),
              (QStringList{U("立体声"), U("单声"), U("5.1 环绕声"), U("7.1 环绕声"),
                           U("自动 (程序将选择最佳声道)")}));
    EXPECT_EQ(Items(Get<QComboBox>(FormatPage(kFormatAc3), "channels")).size(), 4);

    // WAV: G.726 counts bits; PCM has no bit-rate list; a codec offering
    // only 8000 Hz selects it.
    QWidget* wav = FormatPage(kFormatWav);
    Get<QCheckBox>(wav, "auto")->click();
    QComboBox* codec = Get<QComboBox>(wav, "codec");
    QComboBox* wavBits = Get<QComboBox>(wav, "bitRate");
    EXPECT_EQ(wavBits->count(), 0);
    EXPECT_FALSE(wavBits->isEnabled());
    codec->setCurrentIndex(codec->findData(kCodecAdpcmG726));
    EXPECT_EQ(Items(wavBits).mid(0, 4),
              (QStringList{U("2 bit"), U("3 bit"), U("4 bit"), U("5 bit")}));
    EXPECT_TRUE(wavBits->isEnabled());
    codec->setCurrentIndex(codec->findData(kCodecGsmMs));
    EXPECT_EQ(Get<QComboBox>(wav, "sampleRate")->currentText(), U("8000 Hz"));
    codec->setCurrentIndex(codec->findData(kCodecPcmS16Le));
    ASSERT_TRUE(Ok());
    std::vector<OutputFormatEntry> catalogue;
    Stored(&catalogue);
    EXPECT_EQ(FindFormat(catalogue, kFormatWav)->BitRate, 0);
}

// ---- The WMA page ------------------------------------------------------------

wma::WmaCodecFormat Profile(int rate, int channels, int bitrate) {
    wma::WmaCodecFormat f;
    f.description = "test";
    f.bitrate = bitrate;
    f.mediaType.formatTag = wma::kFormatTagWma2;
    f.mediaType.channels = channels;
    f.mediaType.samplesPerSec = rate;
    return f;
}

class WmaPageTest : public OptSheetTest {
protected:
    void SetUp() override {
        OptSheetTest::SetUp();
        BuildWmaFormatListFrom(
            {Profile(22050, 1, 500), Profile(22050, 1, 32000), Profile(44100, 2, 96000),
             Profile(44100, 2, 128000), Profile(44100, 2, 128500)},
            wmaFormats_);
        services_.wmaRuntimeCheck = [this] { return runtime_; };
    }
    QComboBox* Formats() { return Get<QComboBox>(PageCaptioned("WMA/WMV/ASF"), "wmaFormat"); }
    bool runtime_ = true;
};

TEST_F(WmaPageTest, ListsTheProfilesAndSelectsTheStoredOne) {
    Open();
    QComboBox* formats = Formats();
    EXPECT_EQ(Items(formats),
              (QStringList{U("自动 (程序将自动选择最佳方案)"), U("22050 Hz, 32 kbps, 单声"),
                           U("44100 Hz, 96 kbps, 立体声"), U("44100 Hz, 128 kbps, 立体声"),
                           U("44100 Hz, 128 kbps, 立体声")}));
    EXPECT_EQ(formats->currentIndex(), 0);
    sheet_->reject();

    // Manual 44100 Hz, 128000 bit/s, stereo: of the two matches the last.
    settings_.WMAAutoEncParam = 0;
    Open();
    EXPECT_EQ(Formats()->currentIndex(), 4);
}

TEST_F(WmaPageTest, OnlyAChoiceOfTheUserChangesTheStoredFormat) {
    settings_.WMAAutoEncParam = 0;
    settings_.WMASampleRate = 32000;  // not offered
    settings_.WMABitRate = 48000;
    settings_.WMAChannels = 1;
    Open();
    QComboBox* formats = Formats();
    EXPECT_EQ(formats->currentText(), U("32000 Hz, 48 kbps, 单声"));
    ASSERT_TRUE(Ok());
    CSettings s = Stored();
    EXPECT_EQ(s.WMAAutoEncParam, 0);
    EXPECT_EQ(s.WMASampleRate, 32000);
    EXPECT_EQ(s.WMABitRate, 48000);

    // The user picks a profile: its exact values are stored.
    Open();
    formats = Formats();
    formats->setFocus();
    formats->setCurrentIndex(0);
    QTest::keyClick(formats, Qt::Key_Down);
    EXPECT_EQ(formats->currentText(), U("22050 Hz, 32 kbps, 单声"));
    ASSERT_TRUE(Ok());
    s = Stored();
    EXPECT_EQ(s.WMAAutoEncParam, 0);
    EXPECT_EQ(s.WMASampleRate, 22050);
    EXPECT_EQ(s.WMABitRate, 32000);
    EXPECT_EQ(s.WMAChannels, 1);

    // And the automatic item turns auto on, keeping the values.
    Open();
    formats = Formats();
    formats->setFocus();
    QTest::keyClick(formats, Qt::Key_Home);
    ASSERT_TRUE(Ok());
    s = Stored();
    EXPECT_EQ(s.WMAAutoEncParam, 1);
    EXPECT_EQ(s.WMASampleRate, 22050);
}

TEST_F(WmaPageTest, WithoutTheRuntimeAManualChoiceSurvivesViewingThePage) {
    runtime_ = false;
    settings_.WMAAutoEncParam = 0;
    Open();
    EXPECT_EQ(Items(Formats()),
              (QStringList{U("自动 (程序将自动选择最佳方案)"), U("44100 Hz, 128 kbps, 立体声")}));
    EXPECT_EQ(Formats()->currentIndex(), 1);
    ASSERT_TRUE(Ok());
    EXPECT_EQ(Stored().WMAAutoEncParam, 0);
}

TEST_F(WmaPageTest, AMissingRuntimeIsOfferedOncePerOpeningOfTheSheet) {
    runtime_ = false;
    int offers = 0;
    services_.offerWmaRuntime = [&](QWidget*) { ++offers; };
    auto visitWmaPageTwice = [] {
        auto* sheet = qobject_cast<COptSheet*>(QApplication::activeModalWidget());
        ASSERT_NE(sheet, nullptr);
        int wma = -1;
        for (int i = 0; i < sheet->PageCount(); ++i)
            if (sheet->Page(i)->Caption() == "WMA/WMV/ASF") wma = i;
        ASSERT_GE(wma, 0);
        sheet->ChoosePage(wma);
        sheet->ChoosePage(0);
        sheet->ChoosePage(wma);
        sheet->reject();
    };
    for (int opening = 1; opening <= 2; ++opening) {
        QTimer::singleShot(0, visitWmaPageTwice);
        ShowOptions(settings_, catalogue_, services_, nullptr);
        EXPECT_EQ(offers, opening);
    }
    // With the runtime there, nothing is offered.
    runtime_ = true;
    QTimer::singleShot(0, visitWmaPageTwice);
    ShowOptions(settings_, catalogue_, services_, nullptr);
    EXPECT_EQ(offers, 2);
}

// ---- Conversions with the settings the sheet saved ---------------------

const std::string kCli = QUELVOX_BINARY_DIR "/quelvox-cli";

class SheetConversionTest : public OptSheetTest {
protected:
    void SetUp() override {
        OptSheetTest::SetUp();
        input_ = dir_.file("in.wav");
        testsupport::WriteWav(input_, 44100, 2, testsupport::Sine(88200, 2, 44100, 440));
        out_ = dir_.file("out");
    }
    // Converts the input to `format`; returns the output's path.
    std::string Convert(const std::string& format, const std::string& extension,
                        bool outputFolder = true) {
        const std::string command = "XDG_CONFIG_HOME=" + Quote(dir_.file("config")) +
                                    " HOME=" + Quote(dir_.path().string()) + " " + Quote(kCli) +
                                    " -q -j1 -f " + format +
                                    (outputFolder ? " -o " + Quote(out_) : "") + " " +
                                    Quote(input_) + " >/dev/null 2>&1 </dev/null";
        EXPECT_EQ(testsupport::Run(command), 0) << command;
        return (outputFolder ? out_ : settings_.DestSpecifiedFolder) + "/in." + extension;
    }
    std::string input_;
    std::string out_;
};

TEST_F(SheetConversionTest, TheAudioPageChoosesCodecRateBitRateAndChannels) {
    Open();
    QWidget* mka = FormatPage(kFormatMka);
    Get<QCheckBox>(mka, "auto")->click();
    QComboBox* codec = Get<QComboBox>(mka, "codec");
    codec->setCurrentIndex(codec->findData(kCodecMp3));
    for (auto [name, value] :
         {std::pair{"sampleRate", 22050}, {"bitRate", 64000}, {"channels", 1}}) {
        QComboBox* list = Get<QComboBox>(mka, name);
        list->setCurrentIndex(list->findData(value));
    }
    ASSERT_TRUE(Ok());
    const std::string out = Convert("1400", "mka");
    EXPECT_EQ(Probe(out, "codec_name"), "mp3");
    EXPECT_EQ(Probe(out, "sample_rate"), "22050");
    EXPECT_EQ(Probe(out, "channels"), "1");
}

TEST_F(SheetConversionTest, TheOpusPageOffersItsRatesAndChoosesChannelsAndBitRate) {
    Open();
    COptPage* opus = FormatPage(kFormatOpus);
    ASSERT_NE(opus, nullptr);
    EXPECT_EQ(opus->Caption(), U("OPUS"));
    QComboBox* rate = Get<QComboBox>(opus, "sampleRate");
    QComboBox* bitRate = Get<QComboBox>(opus, "bitRate");
    QComboBox* channels = Get<QComboBox>(opus, "channels");
    EXPECT_EQ(Items(Get<QComboBox>(opus, "codec")), QStringList{U("Opus (libopus)")});
    EXPECT_EQ(Items(rate), (QStringList{U("8000 Hz"), U("12000 Hz"), U("16000 Hz"), U("24000 Hz"),
                                        U("48000 Hz"), U("自动 (程序将自动选择最佳采样率)")}));
    EXPECT_EQ(rate->currentText(), U("48000 Hz"));
    EXPECT_EQ(bitRate->currentText(), U("128 kbps"));
    EXPECT_EQ(Items(bitRate).front(), U("6 kbps"));
    EXPECT_EQ(channels->currentText(), U("立体声"));
    EXPECT_TRUE(Get<QCheckBox>(opus, "auto")->isChecked());

    Get<QCheckBox>(opus, "auto")->click();
    channels->setCurrentIndex(channels->findData(1));
    bitRate->setCurrentIndex(bitRate->findData(48000));
    ASSERT_TRUE(Ok());
    std::vector<OutputFormatEntry> stored;
    Stored(&stored);
    EXPECT_EQ(FindFormat(stored, kFormatOpus)->BitRate, 48000);
    EXPECT_EQ(FindFormat(stored, kFormatOpus)->Channels, 1);
    // A 44.1 kHz source still becomes 48 kHz, the encoder's own rate.
    const std::string out = Convert("opus", "opus");
    EXPECT_EQ(Probe(out, "codec_name"), "opus");
    EXPECT_EQ(Probe(out, "channels"), "1");
    EXPECT_EQ(testsupport::DecodeWithFfmpeg(out).size(), 96000u);
}

TEST_F(SheetConversionTest, TheGeneralAndOutputPagesLimitTheLengthAndPlaceTheFile) {
    Open();
    QWidget* general = Choose(kGeneral);
    Get<QCheckBox>(general, "lengthOn")->click();
    Type(Get<QSpinBox>(general, "length"), U("500"));
    QWidget* output = Choose(kOutput);
    QComboBox* choice = Get<QComboBox>(output, "folderChoice");
    choice->setCurrentIndex(choice->findData(399));
    Type(Get<QLineEdit>(output, "folder"), QString::fromStdString(dir_.file("chosen")));
    ASSERT_TRUE(Ok());
    const std::string out = Convert("wav", "wav", false);
    EXPECT_NEAR(ProbeNumber(out, "duration", true), 0.5, 0.02) << out;
}

TEST_F(SheetConversionTest, TheTagPageGivesCustomTags) {
    Open();
    QWidget* tags = Choose(kTags);
    Get<QRadioButton>(tags, "source0")->click();
    Get<QCheckBox>(tags, "titleAsFileName")->click();
    Type(Get<QLineEdit>(tags, "title"), U("标题 Sheet"));
    Type(Get<QLineEdit>(tags, "artist"), U("Artist Sheet"));
    ASSERT_TRUE(Ok());
    const std::string out = Convert("mp3", "mp3");
    EXPECT_EQ(ProbeTag(out, "title"), "标题 Sheet");
    EXPECT_EQ(ProbeTag(out, "artist"), "Artist Sheet");
}

TEST_F(SheetConversionTest, TheWmaPageChoosesTheProfile) {
    ASSERT_EQ(BuildWmaFormatList(wmaFormats_), 1);
    Open();
    QComboBox* formats = Get<QComboBox>(PageCaptioned("WMA/WMV/ASF"), "wmaFormat");
    const int item = formats->findText(U("22050 Hz, 32 kbps, 单声"));
    ASSERT_GT(item, 0) << Items(formats).join(QLatin1Char('|')).toStdString();
    formats->setFocus();
    formats->setCurrentIndex(item - 1);
    QTest::keyClick(formats, Qt::Key_Down);
    ASSERT_TRUE(Ok());
    const std::string out = Convert("7100", "wma");
    EXPECT_EQ(Probe(out, "codec_name"), "wmav2");
    EXPECT_EQ(Probe(out, "sample_rate"), "22050");
    EXPECT_EQ(Probe(out, "channels"), "1");
}

TEST_F(SheetConversionTest, TheAmrPagesChooseBandAndMode) {
    Open();
    QWidget* amr = PageCaptioned("AMR");
    Get<QRadioButton>(amr, "wideBand")->click();
    EXPECT_FALSE(Get<QComboBox>(amr, "narrowMode")->isEnabled());
    Get<QComboBox>(amr, "wideMode")->setCurrentIndex(8);  // 23.85 kbps
    QWidget* awb = PageCaptioned("AWB");
    Get<QComboBox>(awb, "mode")->setCurrentIndex(1);  // 8.85 kbps
    ASSERT_TRUE(Ok());
    const std::string amrOut = Convert("5500", "amr");
    EXPECT_EQ(Probe(amrOut, "codec_name"), "amr_wb");
    EXPECT_EQ(Probe(amrOut, "sample_rate"), "16000");
    EXPECT_GT(ProbeNumber(amrOut, "bit_rate", true), 20000);
    const std::string awbOut = Convert("5600", "awb");
    EXPECT_EQ(Probe(awbOut, "codec_name"), "amr_wb");
    EXPECT_LT(ProbeNumber(awbOut, "bit_rate", true), 12000);
}

}  // namespace

TEST_F(OptSheetTest, DitherWhenReducingDepthIsOnAndStoresItsChoice) {
    Open();
    QWidget* general = Choose(kGeneral);
    QCheckBox* dither = Get<QCheckBox>(general, "ditherOnReduce");
    EXPECT_EQ(dither->text(), U("降低位深度时抖动"));
    EXPECT_TRUE(dither->isChecked());
    dither->click();
    ASSERT_TRUE(Ok());
    EXPECT_EQ(Stored().DitherOnReduce, 0);
}
