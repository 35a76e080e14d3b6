// The declaration of every stored value of CSettings: its stored name and
// group, the field it fills, its default, the values it may take and what
// a value outside them becomes, and how widely that is enforced. Loading,
// saving and setting by name go through the table of these declarations;
// the options pages bind their controls to them.
#pragma once

#include <algorithm>
#include <climits>
#include <span>
#include <string>

#include "settings/Settings.h"

namespace quelvox {

// The INI group a value is stored in: [Options] or its subgroup Options/ID3.
enum class SettingGroup { Options, Tags };

// Where a declaration's valid values are enforced. The options page that
// shows a value always keeps it valid; loading and setting by name keep
// only some values valid, leaving the others as stored.
enum class SettingCheck {
    Page,    // only by the options page
    Load,    // also by LoadSettings
    Always,  // also by LoadSettings and SetSettingByName
};

struct SettingDecl {
    const char* name = "";  // stored name
    SettingGroup group = SettingGroup::Options;
    unsigned saveMask = kSaveOptions;  // the SaveSettings group; 0: never saved
    // Exactly one of the two fields is set.
    int CSettings::*intField = nullptr;
    std::string CSettings::*textField = nullptr;
    int intDefault = 0;
    int (*computedDefault)() = nullptr;  // when set, the default instead of intDefault
    const char* textDefault = "";
    // The valid integers: minimum..maximum, and when `choices` is not
    // empty only those. A value outside becomes `fallback` when there is
    // one, else the nearest end of the range.
    int minimum = INT_MIN;
    int maximum = INT_MAX;
    std::span<const int> choices;
    bool hasFallback = false;
    int fallback = 0;
    SettingCheck check = SettingCheck::Page;

    constexpr bool IsText() const { return textField != nullptr; }
    int Default() const { return computedDefault ? computedDefault() : intDefault; }
    constexpr bool IsValid(int value) const {
        if (value < minimum || value > maximum) return false;
        return choices.empty() || std::find(choices.begin(), choices.end(), value) != choices.end();
    }
    // `value` when it is valid, otherwise what it becomes.
    constexpr int Valid(int value) const {
        if (IsValid(value)) return value;
        return hasFallback ? fallback : std::clamp(value, minimum, maximum);
    }

    // Builders of the declarations below.
    constexpr SettingDecl DefaultFrom(int (*compute)()) const {
        SettingDecl d = *this;
        d.computedDefault = compute;
        return d;
    }
    constexpr SettingDecl Range(int low, int high) const {
        SettingDecl d = *this;
        d.minimum = low;
        d.maximum = high;
        return d;
    }
    constexpr SettingDecl Choices(std::span<const int> values) const {
        SettingDecl d = *this;
        d.choices = values;
        return d;
    }
    constexpr SettingDecl Otherwise(int value) const {
        SettingDecl d = *this;
        d.hasFallback = true;
        d.fallback = value;
        return d;
    }
    constexpr SettingDecl Checked(SettingCheck where) const {
        SettingDecl d = *this;
        d.check = where;
        return d;
    }
    constexpr SettingDecl In(SettingGroup where) const {
        SettingDecl d = *this;
        d.group = where;
        return d;
    }
    constexpr SettingDecl SavedWith(unsigned mask) const {
        SettingDecl d = *this;
        d.saveMask = mask;
        return d;
    }
};

constexpr SettingDecl IntSetting(const char* name, int CSettings::*field, int def) {
    SettingDecl d;
    d.name = name;
    d.intField = field;
    d.intDefault = def;
    return d;
}
constexpr SettingDecl TextSetting(const char* name, std::string CSettings::*field,
                                  const char* def = "") {
    SettingDecl d;
    d.name = name;
    d.textField = field;
    d.textDefault = def;
    return d;
}

// The per-format values of the catalogue entries: stored as the entry's
// settings prefix followed by `suffix`, in the options group, saved with
// kSaveOptions.
struct FormatSettingDecl {
    const char* suffix;
    int OutputFormatEntry::*field;
};

namespace setting {

inline constexpr int kSourceOrSpecified[] = {kOutputToSourceFolder, kOutputToSpecifiedFolder};
inline constexpr int kTargetPolicies[] = {kTargetRename, kTargetOverwrite, kTargetSkip};
inline constexpr int kMaxTrackNumber = 255;
// The mode shown for a stored AMR mode that is none of the list's.
inline constexpr int kFallbackAmrMode = 4;

// The documents folder defaults of DestOutputFolderOpt and
// DestSpecifiedFolder are applied by the CSettings constructor.
inline constexpr SettingDecl OutputFormat =
    IntSetting("OutputFormat", &CSettings::OutputFormat, kFormatMp3).SavedWith(kSaveFormatAndPage);
inline constexpr SettingDecl OptStartPageIndex =
    IntSetting("OptStartPageIndex", &CSettings::OptStartPageIndex, 0).SavedWith(kSaveFormatAndPage);
inline constexpr SettingDecl Folder =
    TextSetting("Folder", &CSettings::Folder).SavedWith(kSaveFolder);
inline constexpr SettingDecl DestOutputFolderOpt =
    IntSetting("DestOutputFolderOpt", &CSettings::DestOutputFolderOpt, kOutputToSourceFolder)
        .Choices(kSourceOrSpecified)
        .Otherwise(kOutputToSourceFolder);
inline constexpr SettingDecl DestSpecifiedFolder =
    TextSetting("DestSpecifiedFolder", &CSettings::DestSpecifiedFolder);
inline constexpr SettingDecl CreateDirs = IntSetting("CreateDirs", &CSettings::CreateDirs, 0);
inline constexpr SettingDecl CreateDirsFrom =
    IntSetting("CreateDirsFrom", &CSettings::CreateDirsFrom, kTreeFromAddedFolder)
        .Range(kTreeFromAddedFolder, kTreeFromWholePath)
        .Otherwise(kTreeFromAddedFolder);
inline constexpr SettingDecl BrowseOutputFolder =
    IntSetting("BrowseOutputFolder", &CSettings::BrowseOutputFolder, 1);
inline constexpr SettingDecl OutputFiles2MyDocuments =
    IntSetting("OutputFiles2MyDocuments", &CSettings::OutputFiles2MyDocuments, 1);
inline constexpr SettingDecl TargetExistsOpt =
    IntSetting("TargetExistsOpt", &CSettings::TargetExistsOpt, kTargetRename)
        .Choices(kTargetPolicies)
        .Otherwise(kTargetRename);
inline constexpr SettingDecl MonoType =
    IntSetting("MonoType", &CSettings::MonoType, kMonoMix)
        .Range(kMonoMix, kMonoRight)
        .Otherwise(kMonoMix);
inline constexpr SettingDecl Resampler =
    IntSetting("Resampler", &CSettings::Resampler, kResamplerSox)
        .Range(kResamplerSox, kResamplerLibresample)
        .Otherwise(kResamplerSox);
inline constexpr SettingDecl DitherOnReduce =
    IntSetting("DitherOnReduce", &CSettings::DitherOnReduce, 1).Range(0, 1).Otherwise(1);
inline constexpr SettingDecl SimultaneousFiles =
    IntSetting("SimultaneousFiles", &CSettings::SimultaneousFiles, 1)
        .DefaultFrom(&DefaultSimultaneousFiles)
        .Range(1, 64)
        .Checked(SettingCheck::Always);
inline constexpr SettingDecl Language = IntSetting("Language", &CSettings::Language, 0)
                                            .Range(0, 2)
                                            .Otherwise(0)
                                            .Checked(SettingCheck::Load);
inline constexpr SettingDecl DoNotLoadHiddenFiles =
    IntSetting("DoNotLoadHiddenFiles", &CSettings::DoNotLoadHiddenFiles, 0);
inline constexpr SettingDecl EnableDTSForCDA =
    IntSetting("EnableDTSForCDA", &CSettings::EnableDTSForCDA, 0);
inline constexpr SettingDecl EnableConvertLength =
    IntSetting("EnableConvertLength", &CSettings::EnableConvertLength, 0);
inline constexpr SettingDecl EnableSkipLength =
    IntSetting("EnableSkipLength", &CSettings::EnableSkipLength, 0);
inline constexpr SettingDecl ConvertLength =
    IntSetting("ConvertLength", &CSettings::ConvertLength, 0).Range(0, INT_MAX);
inline constexpr SettingDecl SkipLength =
    IntSetting("SkipLength", &CSettings::SkipLength, 0).Range(0, INT_MAX);
inline constexpr SettingDecl EnableExtFilter =
    IntSetting("EnableExtFilter", &CSettings::EnableExtFilter, 0);
inline constexpr SettingDecl FilterExts = TextSetting("FilterExts", &CSettings::FilterExts);
inline constexpr SettingDecl Volume = IntSetting("Volume", &CSettings::Volume, 100)
                                          .Range(1, 32767)
                                          .Checked(SettingCheck::Always);
inline constexpr SettingDecl VolumeType =
    IntSetting("VolumeType", &CSettings::VolumeType, kVolumeUnchanged)
        .Range(kVolumeNormalise, kVolumeLoudness)
        .Otherwise(kVolumeUnchanged);
inline constexpr SettingDecl LoudnessTarget =
    IntSetting("LoudnessTarget", &CSettings::LoudnessTarget, -16)
        .Range(-31, -14)  // LUFS
        .Checked(SettingCheck::Always);
inline constexpr SettingDecl TruePeakCeiling =
    IntSetting("TruePeakCeiling", &CSettings::TruePeakCeiling, -10)
        .Range(-90, 0)  // tenths of dBTP
        .Checked(SettingCheck::Always);
inline constexpr SettingDecl LoudnessAlbum =
    IntSetting("LoudnessAlbum", &CSettings::LoudnessAlbum, 0).Range(0, 1).Otherwise(0);
inline constexpr SettingDecl LoudnessLimiter =
    IntSetting("LoudnessLimiter", &CSettings::LoudnessLimiter, 1).Range(0, 1).Otherwise(1);
inline constexpr SettingDecl WriteReplayGain =
    IntSetting("WriteReplayGain", &CSettings::WriteReplayGain, 0).Range(0, 1).Otherwise(0);
inline constexpr SettingDecl ID3TagType =
    IntSetting("ID3TagType", &CSettings::ID3TagType, kTagsFromSource)
        .Range(kTagsNone, kTagsFromSource)
        .Otherwise(kTagsNone);
inline constexpr SettingDecl WMAAutoEncParam =
    IntSetting("WMAAutoEncParam", &CSettings::WMAAutoEncParam, 1);
inline constexpr SettingDecl WMABitRate = IntSetting("WMABitRate", &CSettings::WMABitRate, 128000);
inline constexpr SettingDecl WMASampleRate =
    IntSetting("WMASampleRate", &CSettings::WMASampleRate, 44100);
inline constexpr SettingDecl WMAChannels = IntSetting("WMAChannels", &CSettings::WMAChannels, 2)
                                               .Range(1, 2)
                                               .Otherwise(2)
                                               .Checked(SettingCheck::Load);
inline constexpr SettingDecl AMRType =
    IntSetting("AMRType", &CSettings::AMRType, kAmrNarrowBand)
        .Range(kAmrNarrowBand, kAmrWideBand)
        .Otherwise(kAmrNarrowBand);
inline constexpr SettingDecl AMRMode =
    IntSetting("AMRMode", &CSettings::AMRMode, 6).Range(0, 7).Otherwise(kFallbackAmrMode);
inline constexpr SettingDecl AMRWBMode =
    IntSetting("AMRWBMode", &CSettings::AMRWBMode, 6).Range(0, 8).Otherwise(kFallbackAmrMode);
inline constexpr SettingDecl AMRDTX = IntSetting("AMRDTX", &CSettings::AMRDTX, 0);
inline constexpr SettingDecl AWBMode =
    IntSetting("AWBMode", &CSettings::AWBMode, 6).Range(0, 8).Otherwise(kFallbackAmrMode);
inline constexpr SettingDecl AWBDTX = IntSetting("AWBDTX", &CSettings::AWBDTX, 0);
// Written only by CheckFirstRun.
inline constexpr SettingDecl FirstRun =
    IntSetting("FirstRun", &CSettings::FirstRun, 1).SavedWith(0);
inline constexpr SettingDecl TagCodePage =
    TextSetting("TagCodePage", &CSettings::TagCodePage, "auto");
// The code pages offered for TagCodePage, as iconv names them: "auto"
// (judged per file), then the legacy code pages tag text was written in.
// Any other name iconv knows may be stored too (--set).
inline constexpr const char* kTagCodePages[] = {
    "auto",         "GB18030",      "BIG5",         "CP932",        "CP949",     "WINDOWS-1250",
    "WINDOWS-1251", "WINDOWS-1252", "WINDOWS-1253", "WINDOWS-1254", "ISO-8859-1"};
inline constexpr SettingDecl Title = TextSetting("Title", &CSettings::Title).In(SettingGroup::Tags);
inline constexpr SettingDecl Artist =
    TextSetting("Artist", &CSettings::Artist).In(SettingGroup::Tags);
inline constexpr SettingDecl Album = TextSetting("Album", &CSettings::Album).In(SettingGroup::Tags);
inline constexpr SettingDecl Year = TextSetting("Year", &CSettings::Year).In(SettingGroup::Tags);
inline constexpr SettingDecl Genre = TextSetting("Genre", &CSettings::Genre).In(SettingGroup::Tags);
inline constexpr SettingDecl Comment =
    TextSetting("Comment", &CSettings::Comment).In(SettingGroup::Tags);
inline constexpr SettingDecl Composer =
    TextSetting("Composer", &CSettings::Composer).In(SettingGroup::Tags);
inline constexpr SettingDecl Copyright =
    TextSetting("Copyright", &CSettings::Copyright).In(SettingGroup::Tags);
inline constexpr SettingDecl AlbumArtist =
    TextSetting("AlbumArtist", &CSettings::AlbumArtist).In(SettingGroup::Tags);
inline constexpr SettingDecl Disc = TextSetting("Disc", &CSettings::Disc).In(SettingGroup::Tags);
inline constexpr SettingDecl TitleAsFileName =
    IntSetting("TitleAsFileName", &CSettings::TitleAsFileName, 1).In(SettingGroup::Tags);
inline constexpr SettingDecl TrackNumType =
    IntSetting("TrackNumType", &CSettings::TrackNumType, kTrackNone)
        .Range(kTrackNone, kTrackCustom)
        .Otherwise(kTrackNone)
        .In(SettingGroup::Tags);
inline constexpr SettingDecl CustomTrackNum =
    IntSetting("CustomTrackNum", &CSettings::CustomTrackNum, 0)
        .Range(0, kMaxTrackNumber)
        .In(SettingGroup::Tags);

// Every value of CSettings, in the order in which it is saved.
inline constexpr const SettingDecl* kTable[] = {
    &OutputFormat,
    &OptStartPageIndex,
    &Folder,
    &DestOutputFolderOpt,
    &DestSpecifiedFolder,
    &CreateDirs,
    &CreateDirsFrom,
    &BrowseOutputFolder,
    &OutputFiles2MyDocuments,
    &TargetExistsOpt,
    &MonoType,
    &Resampler,
    &DitherOnReduce,
    &SimultaneousFiles,
    &Language,
    &DoNotLoadHiddenFiles,
    &EnableDTSForCDA,
    &EnableConvertLength,
    &EnableSkipLength,
    &ConvertLength,
    &SkipLength,
    &EnableExtFilter,
    &FilterExts,
    &Volume,
    &VolumeType,
    &LoudnessTarget,
    &TruePeakCeiling,
    &LoudnessAlbum,
    &LoudnessLimiter,
    &WriteReplayGain,
    &ID3TagType,
    &WMAAutoEncParam,
    &WMABitRate,
    &WMASampleRate,
    &WMAChannels,
    &AMRType,
    &AMRMode,
    &AMRWBMode,
    &AMRDTX,
    &AWBMode,
    &AWBDTX,
    &FirstRun,
    &TagCodePage,
    &Title,
    &Artist,
    &Album,
    &Year,
    &Genre,
    &Comment,
    &Composer,
    &Copyright,
    &AlbumArtist,
    &Disc,
    &TitleAsFileName,
    &TrackNumType,
    &CustomTrackNum,
};

// The five per-format values of each catalogue entry with settings.
inline constexpr FormatSettingDecl kFormatTable[] = {
    {"AutoEncParam", &OutputFormatEntry::AutoEncParam}, {"CodecID", &OutputFormatEntry::CodecID},
    {"SampleRate", &OutputFormatEntry::SampleRate},     {"BitRate", &OutputFormatEntry::BitRate},
    {"Channels", &OutputFormatEntry::Channels},
};

}  // namespace setting

}  // namespace quelvox
