#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "common/CodecIds.h"
#include "support/TestSupport.h"

namespace quelvox {
namespace {

namespace fs = std::filesystem;

// Points XDG_CONFIG_HOME and HOME into a scratch folder for one test and
// restores them afterwards.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Save("XDG_CONFIG_HOME", savedXdg_);
        Save("HOME", savedHome_);
        fs::create_directories(dir_.path() / "home");
        setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
        setenv("HOME", dir_.file("home").c_str(), 1);
    }
    void TearDown() override {
        Restore("XDG_CONFIG_HOME", savedXdg_);
        Restore("HOME", savedHome_);
    }
    static void Save(const char* name, std::optional<std::string>& slot) {
        if (const char* v = std::getenv(name)) slot = v;
    }
    static void Restore(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            setenv(name, slot->c_str(), 1);
        else
            unsetenv(name);
    }

    std::string IniPath() const { return dir_.file("config") + "/Quelvox/Quelvox 4.ini"; }
    QStringList StoredKeys() const {
        QSettings ini(QString::fromStdString(IniPath()), QSettings::IniFormat);
        return ini.allKeys();
    }
    void Store(const QString& key, const QVariant& value) const {
        QSettings ini(QString::fromStdString(IniPath()), QSettings::IniFormat);
        ini.setValue(key, value);
    }
    void Set(const char* name, const std::string& value) {
        ASSERT_TRUE(SetSettingByName(settings_, catalogue_, name, value)) << name;
    }

    testsupport::TempDir dir_;
    std::optional<std::string> savedXdg_, savedHome_;
    CSettings settings_{""};
    std::vector<OutputFormatEntry> catalogue_ = BuildFormatCatalogue();
};

TEST_F(SettingsTest, CleanConfigurationKeepsEveryDefault) {
    CSettings s("/docs");
    LoadSettings(s, catalogue_);
    EXPECT_EQ(s.Folder, "");
    EXPECT_EQ(s.DestOutputFolderOpt, 399);
    EXPECT_EQ(s.DestSpecifiedFolder, "/docs");
    EXPECT_EQ(s.CreateDirs, 0);
    EXPECT_EQ(s.CreateDirsFrom, kTreeFromAddedFolder);
    EXPECT_EQ(s.BrowseOutputFolder, 1);
    EXPECT_EQ(s.OutputFiles2MyDocuments, 1);
    EXPECT_EQ(s.TargetExistsOpt, 11);
    EXPECT_EQ(s.MonoType, 0);
    EXPECT_EQ(s.Language, 0);
    EXPECT_EQ(s.DoNotLoadHiddenFiles, 0);
    EXPECT_EQ(s.EnableDTSForCDA, 0);
    EXPECT_EQ(s.DitherOnReduce, 1);
    EXPECT_EQ(s.EnableConvertLength, 0);
    EXPECT_EQ(s.EnableSkipLength, 0);
    EXPECT_EQ(s.ConvertLength, 0);
    EXPECT_EQ(s.SkipLength, 0);
    EXPECT_EQ(s.EnableExtFilter, 0);
    EXPECT_EQ(s.FilterExts, "");
    EXPECT_EQ(s.Volume, 100);
    EXPECT_EQ(s.VolumeType, 2);
    EXPECT_EQ(s.ID3TagType, 2);
    EXPECT_EQ(s.OutputFormat, 1000);
    EXPECT_EQ(s.OptStartPageIndex, 0);
    EXPECT_EQ(s.FirstRun, 1);
    EXPECT_EQ(s.WMAAutoEncParam, 1);
    EXPECT_EQ(s.WMABitRate, 128000);
    EXPECT_EQ(s.WMASampleRate, 44100);
    EXPECT_EQ(s.WMAChannels, 2);
    EXPECT_EQ(s.AMRType, 0);
    EXPECT_EQ(s.AMRMode, 6);
    EXPECT_EQ(s.AMRWBMode, 6);
    EXPECT_EQ(s.AMRDTX, 0);
    EXPECT_EQ(s.AWBMode, 6);
    EXPECT_EQ(s.AWBDTX, 0);
    for (const std::string* t : {&s.Title, &s.Artist, &s.Album, &s.Year, &s.Genre, &s.Comment,
                                 &s.Composer, &s.Copyright}) {
        EXPECT_EQ(*t, "");
    }
    EXPECT_EQ(s.TitleAsFileName, 1);
    EXPECT_EQ(s.TrackNumType, 0);
    EXPECT_EQ(s.CustomTrackNum, 0);
    EXPECT_TRUE(s.FilterExtList.empty());
    EXPECT_EQ(FindFormat(catalogue_, kFormat3gp)->BitRate, 10200);
    EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(SettingsTest, OutputFolderDefaultsFollowTheDocumentsFolder) {
    CSettings withDocs;
    const fs::path docs = dir_.path() / "home" / "Documents";
    EXPECT_EQ(withDocs.DestOutputFolderOpt, 399);
    EXPECT_EQ(fs::path(withDocs.DestSpecifiedFolder), docs);
    // Named, not created: the folder is made when output goes there.
    EXPECT_FALSE(fs::exists(docs));

    CSettings without("");
    EXPECT_EQ(without.DestOutputFolderOpt, 199);
    EXPECT_EQ(without.DestSpecifiedFolder, "");
}

TEST_F(SettingsTest, StorageFollowsXdgConfigHome) {
    EXPECT_EQ(DefaultSettingsPath(), IniPath());
    settings_.Volume = 250;
    ASSERT_TRUE(SaveSettings(settings_, catalogue_, kSaveOptions));
    EXPECT_TRUE(fs::exists(IniPath()));

    setenv("XDG_CONFIG_HOME", dir_.file("other").c_str(), 1);
    EXPECT_EQ(DefaultSettingsPath(), dir_.file("other") + "/Quelvox/Quelvox 4.ini");
    CSettings fresh("");
    LoadSettings(fresh, catalogue_);
    EXPECT_EQ(fresh.Volume, 100);

    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultSettingsPath(), dir_.file("home") + "/.config/Quelvox/Quelvox 4.ini");
}

TEST_F(SettingsTest, EveryValueSurvivesARoundTrip) {
    const std::vector<std::string> names = SettingNames(catalogue_);
    int n = 0;
    for (const std::string& name : names) {
        if (name == "WMAChannels") {
            Set("WMAChannels", "1");
        } else if (name == "Language") {
            Set("Language", "2");
        } else if (SetSettingByName(settings_, catalogue_, name, "text")) {
            // A text value: make it awkward for an INI file.
            Set(name.c_str(), " " + name + " = \"值\", a;b\\c #" + std::to_string(++n));
        } else {
            Set(name.c_str(), std::to_string(1000 + ++n));
        }
    }
    Set("FirstRun", "1");
    const SettingsLocation at{dir_.file("explicit.ini")};
    ASSERT_TRUE(
        SaveSettings(settings_, catalogue_, kSaveFolder | kSaveOptions | kSaveFormatAndPage, at));
    EXPECT_FALSE(fs::exists(IniPath()));

    CSettings loaded("");
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    LoadSettings(loaded, catalogue, at);
    for (const std::string& name : names) {
        if (name == "FirstRun") continue;  // owned by CheckFirstRun
        EXPECT_EQ(GetSettingByName(loaded, catalogue, name),
                  GetSettingByName(settings_, catalogue_, name))
            << name;
    }
    EXPECT_EQ(loaded.FirstRun, 1);
}

TEST_F(SettingsTest, OnlyTheMaskedGroupsAreWritten) {
    EXPECT_FALSE(SaveSettings(settings_, catalogue_, 0));
    EXPECT_FALSE(fs::exists(IniPath()));

    ASSERT_TRUE(SaveSettings(settings_, catalogue_, kSaveFormatAndPage));
    QStringList keys = StoredKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"Options/OptStartPageIndex", "Options/OutputFormat"}));

    ASSERT_TRUE(SaveSettings(settings_, catalogue_, kSaveFolder));
    EXPECT_EQ(StoredKeys().size(), 3);
    EXPECT_TRUE(StoredKeys().contains("Options/Folder"));

    fs::remove(IniPath());
    ASSERT_TRUE(SaveSettings(settings_, catalogue_, kSaveOptions));
    keys = StoredKeys();
    EXPECT_FALSE(keys.contains("Options/Folder"));
    EXPECT_FALSE(keys.contains("Options/OutputFormat"));
    EXPECT_FALSE(keys.contains("Options/FirstRun"));
    EXPECT_TRUE(keys.contains("Options/ID3/Copyright"));
    EXPECT_TRUE(keys.contains("Options/MP3CodecID"));
    EXPECT_FALSE(keys.contains("Options/AMRCodecID"));
    // 56 rows of the settings table, FirstRun, Folder and the two of mask
    // 0x10 aside, plus five for each of the 26 formats that have them.
    EXPECT_EQ(keys.size(), 56 - 4 + 26 * 5);
    EXPECT_TRUE(keys.contains("Options/LoudnessTarget"));
    EXPECT_TRUE(keys.contains("Options/WriteReplayGain"));
    EXPECT_TRUE(keys.contains("Options/CreateDirsFrom"));
    EXPECT_TRUE(keys.contains("Options/OPUSBitRate"));
}

TEST_F(SettingsTest, OutputFormatReachesStorageOnlyWithItsOwnMask) {
    settings_.OutputFormat = kFormatFlac;
    ASSERT_TRUE(SaveSettings(settings_, catalogue_, kSaveOptions));
    CSettings loaded("");
    LoadSettings(loaded, catalogue_);
    EXPECT_EQ(loaded.OutputFormat, 1000);
    ASSERT_TRUE(SaveSettings(settings_, catalogue_, kSaveFormatAndPage));
    LoadSettings(loaded, catalogue_);
    EXPECT_EQ(loaded.OutputFormat, kFormatFlac);
}

TEST_F(SettingsTest, StoredWmaChannelCountOtherThanOneOrTwoLoadsAsTwo) {
    for (const char* stored : {"6", "0", "-1", "1"}) {
        Store("Options/WMAChannels", stored);
        CSettings s("");
        s.WMAChannels = 1;
        LoadSettings(s, catalogue_);
        EXPECT_EQ(s.WMAChannels, std::string(stored) == "1" ? 1 : 2) << stored;
    }
}

TEST_F(SettingsTest, StoredLanguageOutsideItsRangeLoadsAsTheSystemsLanguage) {
    for (const char* stored : {"3", "-1", "0", "1", "2"}) {
        Store("Options/Language", stored);
        CSettings s("");
        s.Language = 2;
        LoadSettings(s, catalogue_);
        const int value = std::stoi(stored);
        EXPECT_EQ(s.Language, value >= 0 && value <= 2 ? value : 0) << stored;
    }
}

TEST_F(SettingsTest, OtherValuesLoadAsStored) {
    Store("Options/Volume", 5);
    Store("Options/MonoType", 9);
    Store("Options/ID3/TrackNumType", 7);
    Store("Options/SkipLength", "4294967295");  // an unsigned 32-bit value
    Store("Options/ConvertLength", "abc");      // unreadable: field unchanged
    Store("Options/MP3SampleRate", 12345);
    CSettings s("");
    s.ConvertLength = 500;
    LoadSettings(s, catalogue_);
    EXPECT_EQ(s.Volume, 5);
    EXPECT_EQ(s.MonoType, 9);
    EXPECT_EQ(s.TrackNumType, 7);
    EXPECT_EQ(s.SkipLength, -1);
    EXPECT_EQ(s.ConvertLength, 500);
    EXPECT_EQ(FindFormat(catalogue_, kFormatMp3)->SampleRate, 12345);
}

TEST_F(SettingsTest, FilterListIsNormalised) {
    settings_.EnableExtFilter = 1;
    settings_.FilterExts = " WAV; mp3,,Aac ";
    RebuildFilterList(settings_);
    EXPECT_EQ(settings_.FilterExtList, (std::vector<std::string>{"wav", "mp3", "aac"}));

    settings_.FilterExts = "";
    RebuildFilterList(settings_);
    EXPECT_TRUE(settings_.FilterExtList.empty());

    settings_.FilterExts = ".ogg,flac";
    RebuildFilterList(settings_);
    EXPECT_EQ(settings_.FilterExtList, (std::vector<std::string>{".ogg", "flac"}));

    settings_.EnableExtFilter = 0;
    RebuildFilterList(settings_);
    EXPECT_TRUE(settings_.FilterExtList.empty());
}

TEST_F(SettingsTest, LoadingAndSettingByNameRebuildTheFilterList) {
    Store("Options/EnableExtFilter", 1);
    Store("Options/FilterExts", "wav,MP3");  // unquoted commas in the file
    CSettings s("");
    LoadSettings(s, catalogue_);
    EXPECT_EQ(s.FilterExts, "wav,MP3");
    EXPECT_EQ(s.FilterExtList, (std::vector<std::string>{"wav", "mp3"}));
    ASSERT_TRUE(SetSettingByName(s, catalogue_, "FilterExts", "Ogg"));
    EXPECT_EQ(s.FilterExtList, (std::vector<std::string>{"ogg"}));
    ASSERT_TRUE(SetSettingByName(s, catalogue_, "EnableExtFilter", "0"));
    EXPECT_TRUE(s.FilterExtList.empty());
}

TEST_F(SettingsTest, TagTexts) {
    // A stored empty text and an absent one both load as empty.
    Store("Options/ID3/Title", "");
    Store("Options/ID3/Artist", "艺术家");
    CSettings s("");
    s.Title = "old title";
    s.Album = "old album";
    LoadSettings(s, catalogue_);
    EXPECT_EQ(s.Title, "");
    EXPECT_EQ(s.Album, "");
    EXPECT_EQ(s.Artist, "艺术家");

    // Without any tag value stored, the fields keep what they hold.
    fs::remove(IniPath());
    Store("Options/Volume", 50);
    s.Title = "kept";
    LoadSettings(s, catalogue_);
    EXPECT_EQ(s.Title, "kept");
    EXPECT_EQ(s.Volume, 50);
}

TEST_F(SettingsTest, PerFormatValuesAreNamedByPrefix) {
    Set("AACDEVICEBitRate", "96000");
    Set("alacSampleRate", "48000");  // names are matched case-insensitively
    Set("M4ACodecID", std::to_string(kCodecAlac));
    EXPECT_FALSE(SetSettingByName(settings_, catalogue_, "AMRBitRate", "1"));
    EXPECT_FALSE(SetSettingByName(settings_, catalogue_, "WMABitRateX", "1"));
    EXPECT_FALSE(SetSettingByName(settings_, catalogue_, "MP3BitRate", "12x"));
    EXPECT_FALSE(SetSettingByName(settings_, catalogue_, "Volume", ""));
    EXPECT_FALSE(GetSettingByName(settings_, catalogue_, "Nothing"));
    ASSERT_TRUE(SaveSettings(settings_, catalogue_, kSaveOptions));
    const QStringList keys = StoredKeys();
    EXPECT_TRUE(keys.contains("Options/AACDEVICEBitRate"));
    EXPECT_TRUE(keys.contains("Options/ALACSampleRate"));
    EXPECT_TRUE(keys.contains("Options/M4ACodecID"));
    Store("Options/OLDFORMATBitRate", 1);  // a format this version lacks

    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    CSettings s("");
    LoadSettings(s, catalogue, {});
    const OutputFormatEntry& device = *FindFormat(catalogue, kFormatAacDevice);
    const OutputFormatEntry& alac = *FindFormat(catalogue, kFormatAlac);
    const OutputFormatEntry& m4a = *FindFormat(catalogue, kFormatM4a);
    EXPECT_EQ(device.BitRate, 96000);
    EXPECT_EQ(device.SampleRate, 44100);
    EXPECT_EQ(alac.SampleRate, 48000);
    EXPECT_EQ(alac.BitRate, 0);
    EXPECT_EQ(m4a.CodecID, kCodecAlac);
    EXPECT_EQ(m4a.BitRate, 128000);
    EXPECT_EQ(GetSettingByName(s, catalogue, "AACDEVICEBitRate"), "96000");
}

TEST_F(SettingsTest, FirstStartOpensTheHelpFileOnce) {
    std::vector<std::string> opened;
    auto opener = [&](const std::string& path) { opened.push_back(path); };
    EXPECT_TRUE(CheckFirstRun(settings_, {}, opener));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(fs::path(opened[0]).filename(), "sonbrel.chm");
    EXPECT_EQ(settings_.FirstRun, 0);
    QSettings ini(QString::fromStdString(IniPath()), QSettings::IniFormat);
    EXPECT_EQ(ini.value("Options/FirstRun").toString(), "0");

    CSettings again("");
    EXPECT_FALSE(CheckFirstRun(again, {}, opener));
    EXPECT_EQ(opened.size(), 1u);
    LoadSettings(again, catalogue_);
    EXPECT_EQ(again.FirstRun, 0);
    EXPECT_TRUE(CheckFirstRun(again, {dir_.file("elsewhere.ini")}));  // no opener: nothing shown
}

TEST_F(SettingsTest, UnwritableStorageFailsSilently) {
    // A regular file where the configuration folder should be.
    testsupport::WriteFile(dir_.file("config"), std::string("not a folder"));
    settings_.Volume = 300;
    EXPECT_FALSE(SaveSettings(settings_, catalogue_, kSaveOptions | kSaveFormatAndPage));
    CSettings s("");
    LoadSettings(s, catalogue_);
    EXPECT_EQ(s.Volume, 100);
    int opened = 0;
    EXPECT_TRUE(CheckFirstRun(s, {}, [&](const std::string&) { ++opened; }));
    EXPECT_TRUE(CheckFirstRun(s, {}, [&](const std::string&) { ++opened; }));
    EXPECT_EQ(opened, 2);
}

TEST_F(SettingsTest, FilesAtOnceDefaultToTheProcessorsAndAreAtLeastOne) {
    CSettings s("");
    LoadSettings(s, catalogue_);
    EXPECT_EQ(s.SimultaneousFiles,
              static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    EXPECT_EQ(FilesAtOnce(s), s.SimultaneousFiles);
    ASSERT_TRUE(SetSettingByName(s, catalogue_, "SimultaneousFiles", "0"));
    EXPECT_EQ(FilesAtOnce(s), 1);
}

TEST_F(SettingsTest, FilesAtOnceAndVolumeKeepTheOptionsPageRanges) {
    struct Case {
        const char* stored;
        int simultaneous;
        int volume;
    };
    for (const Case& c : {Case{"2147483647", 64, 32767}, Case{"999999999", 64, 32767},
                          Case{"0", 1, 1}, Case{"-5", 1, 1}, Case{"7", 7, 7}}) {
        Store("Options/SimultaneousFiles", c.stored);
        Store("Options/Volume", c.stored);
        CSettings s("");
        LoadSettings(s, catalogue_);
        EXPECT_EQ(s.SimultaneousFiles, c.simultaneous) << c.stored;
        EXPECT_EQ(FilesAtOnce(s), c.simultaneous) << c.stored;
        EXPECT_EQ(s.Volume, c.volume) << c.stored;

        Set("SimultaneousFiles", c.stored);
        Set("Volume", c.stored);
        EXPECT_EQ(settings_.SimultaneousFiles, c.simultaneous) << c.stored;
        EXPECT_EQ(settings_.Volume, c.volume) << c.stored;
    }
}

}  // namespace
}  // namespace quelvox
