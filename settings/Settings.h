// The settings store: every persisted user option, and loading and saving
// them. Each option's stored name, default and valid values are declared
// in settings/SettingDecl.h.
//
// Storage is an INI file, by default
//     $XDG_CONFIG_HOME/Quelvox/Quelvox 4.ini   (or ~/.config/... when
//                                              XDG_CONFIG_HOME is unset)
// with the group [Options] for the general, WMA, AMR and per-format values
// and its subgroup Options/ID3 for the custom tag values. Integer values are
// stored as decimal numbers, texts as UTF-8. The path is worked out afresh
// from the environment on every call, so a changed XDG_CONFIG_HOME counts.
//
// Storage failures are silent: loading keeps the defaults of what cannot be
// read, saving reports false and leaves the previous file as it was.
//
// The per-format encoding values are fields of the catalogue entries; their
// stored names are the entry's settings prefix followed by AutoEncParam,
// CodecID, SampleRate, BitRate or Channels (e.g. MP3BitRate,
// AACDEVICECodecID). Entries of the AMR, AWB and WMA formats have none.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/FormatCatalogue.h"

namespace quelvox {

// Every field bears the name of its stored value. Defaults are noted; the
// declarations of settings/SettingDecl.h hold them, with the valid values.
struct CSettings {
    // Defaults; the user's documents folder (created if missing) becomes
    // DestSpecifiedFolder with DestOutputFolderOpt kOutputToSpecifiedFolder,
    // or, when it cannot be obtained, the empty text with
    // kOutputToSourceFolder.
    CSettings();
    // Defaults with the given documents folder (empty = none known).
    explicit CSettings(std::string_view documentsFolder);

    // General options.
    std::string Folder;               // "" last folder of the add-folder dialog
    int DestOutputFolderOpt = 0;      // OutputFolderChoice
    std::string DestSpecifiedFolder;  // documents folder or ""
    int CreateDirs = 0;               // 0
    int CreateDirsFrom = 0;           // 0: where the kept tree starts: 0 at the
                                      // folder the file was added through, 1 the
                                      // source's whole path; any other value
                                      // counts as 0
    int BrowseOutputFolder = 0;       // 1
    int OutputFiles2MyDocuments = 0;  // 1
    int TargetExistsOpt = 0;          // TargetExistsPolicy: kTargetRename
    int MonoType = 0;                 // MonoChoice: kMonoMix
    int Resampler = 0;                // ResamplerChoice: kResamplerSox
    int DitherOnReduce = 0;           // 1: TPDF dither when a conversion
                                      // stores fewer bits than the source
                                      // has ("降低位深度时抖动")
    int SimultaneousFiles = 0;        // processors: files converted at once
                                      // ("同时转换的文件数"), 1 = one by one
    int Language = 0;                 // 0: 0 the system's language, 1 Chinese,
                                      // 2 English; any other loaded value reads
                                      // as 0. Changes only what is shown.
    int DoNotLoadHiddenFiles = 0;     // 0
    int EnableDTSForCDA = 0;          // 0
    int EnableConvertLength = 0;      // 0
    int EnableSkipLength = 0;         // 0
    int ConvertLength = 0;            // 0 ms
    int SkipLength = 0;               // 0 ms
    int EnableExtFilter = 0;          // 0
    std::string FilterExts;           // "" e.g. "wav,mp3,m4a,aac"
    int Volume = 0;                   // 100 percent
    int VolumeType = 0;               // VolumeMode: kVolumeUnchanged
    int LoudnessTarget = 0;           // -16: LUFS of VolumeType 3
    int TruePeakCeiling = 0;          // -10: dBTP of VolumeType 3, in tenths
    int LoudnessAlbum = 0;            // 0: one measure for all files of a run
    int LoudnessLimiter = 0;          // 1: true-peak limiter of VolumeType 3
    int WriteReplayGain = 0;          // 0: ReplayGain 2.0 tags of the output
    int ID3TagType = 0;               // TagPolicyType: kTagsFromSource
    int OutputFormat = 0;             // 1000 (OutputFormatCode)
    int OptStartPageIndex = 0;        // 0
    int FirstRun = 0;                 // 1 (absent = first start); written
                                      // only by CheckFirstRun
    // The code page of 8-bit tag text that declares no encoding (ID3v1,
    // ID3v2 frames marked Latin-1, RIFF INFO), as iconv names it; empty
    // reads such text as Latin-1.
    // "auto" (kAutoCodePage) decides per file from the file's own texts.
    std::string TagCodePage;  // "auto"

    // WMA options (formats 7100, 7200, 7300).
    int WMAAutoEncParam = 0;  // 1
    int WMABitRate = 0;       // 128000
    int WMASampleRate = 0;    // 44100
    int WMAChannels = 0;      // 2; any loaded value other than 1 or 2 reads as 2

    // AMR options.
    int AMRType = 0;    // AmrBand: kAmrNarrowBand
    int AMRMode = 0;    // 6: narrow-band mode index 0..7
    int AMRWBMode = 0;  // 6: wide-band mode index 0..8 (format 5500)
    int AMRDTX = 0;     // 0
    int AWBMode = 0;    // 6: wide-band mode index 0..8 (format 5600)
    int AWBDTX = 0;     // 0

    // Custom tag values (group Options/ID3).
    std::string Title;        // ""
    std::string Artist;       // ""
    std::string Album;        // ""
    std::string Year;         // ""
    std::string Genre;        // ""
    std::string Comment;      // ""
    std::string Composer;     // ""
    std::string Copyright;    // ""
    std::string AlbumArtist;  // ""
    std::string Disc;         // "": a disc number, or "n/N" with the disc count
    int TitleAsFileName = 0;  // 1
    int TrackNumType = 0;     // TrackNumberType: kTrackNone
    int CustomTrackNum = 0;   // 0

    // Derived, not stored: lower-case extensions from FilterExts; empty
    // whenever EnableExtFilter is 0. Kept up to date by RebuildFilterList.
    std::vector<std::string> FilterExtList;
};

// Where the settings live. An empty path means DefaultSettingsPath().
struct SettingsLocation {
    std::string path;
};

// $XDG_CONFIG_HOME/Quelvox/Quelvox 4.ini, or $HOME/.config/Quelvox/Quelvox 4.ini.
std::string DefaultSettingsPath();

// The user's documents folder, whether or not it exists yet (nothing is
// created here: the folder is made only when output goes there); empty
// when it cannot be obtained.
std::string UserDocumentsFolder();

// Groups of SaveSettings.
enum SettingsSaveMask : unsigned {
    kSaveFolder = 0x04,         // Folder
    kSaveOptions = 0x08,        // everything else, tag values included
    kSaveFormatAndPage = 0x10,  // OutputFormat, OptStartPageIndex
};

// Reads every stored value into `settings` and the per-format values into
// the catalogue entries. Values that are absent or unreadable keep what the
// fields hold; an absent tag text becomes empty (unless the tag group is
// absent altogether). Rebuilds the filter list.
void LoadSettings(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
                  const SettingsLocation& location = {});

// Writes the groups named by `mask`. Returns false when the mask is 0 or
// the file could not be written.
bool SaveSettings(const CSettings& settings, const std::vector<OutputFormatEntry>& catalogue,
                  unsigned mask, const SettingsLocation& location = {});

// The values of DestOutputFolderOpt: the source's folder, or
// DestSpecifiedFolder.
enum OutputFolderChoice : int {
    kOutputToSourceFolder = 199,
    kOutputToSpecifiedFolder = 399,
};

// The values of TargetExistsOpt: what happens when an output file exists.
enum TargetExistsPolicy : int {
    kTargetRename = 11,     // the next free name (a number added)
    kTargetOverwrite = 22,  // replaced
    kTargetSkip = 33,       // the file is not converted
};

// The values of CreateDirsFrom: where a kept folder tree starts.
enum TreeStart : int {
    kTreeFromAddedFolder = 0,
    kTreeFromWholePath = 1,
};

// The values of VolumeType: how the gain of a file is chosen.
enum VolumeMode : int {
    kVolumeNormalise = 0,  // from the peaks a measuring pass finds
    kVolumeFixed = 1,      // Volume percent
    kVolumeUnchanged = 2,  // none
    kVolumeLoudness = 3,   // to LoudnessTarget, under TruePeakCeiling
};

// The values of MonoType: what a stereo source gives a mono target.
enum MonoChoice : int {
    kMonoMix = 0,  // (L+R)/2
    kMonoLeft = 1,
    kMonoRight = 2,
};

// The values of Resampler.
enum ResamplerChoice : int {
    kResamplerSox = 0,  // SoX high quality
    kResamplerLibresample = 1,
};

// The values of AMRType (format 5500).
enum AmrBand : int {
    kAmrNarrowBand = 0,
    kAmrWideBand = 1,
};

// The values of ID3TagType.
enum TagPolicyType : int {
    kTagsNone = 0,
    kTagsCustom = 1,
    kTagsFromSource = 2,
};

// The values of TrackNumType.
enum TrackNumberType : int {
    kTrackNone = 0,
    kTrackRunPosition = 1,
    kTrackCustom = 2,
};

// The default of SimultaneousFiles: the number of processors, within the
// setting's range.
int DefaultSimultaneousFiles();
// How many files a run converts at once: SimultaneousFiles, within its
// range.
int FilesAtOnce(const CSettings& settings);

// Rebuilds FilterExtList from EnableExtFilter and FilterExts: blanks
// removed, ";" read as ",", lower case, empty pieces dropped.
void RebuildFilterList(CSettings& settings);

// Called with the path of the help file on a first start.
using HelpFileOpener = std::function<void(const std::string& helpFilePath)>;

// First-start check: reads FirstRun (absent = 1; unreadable storage counts
// as a first start), stores 0 when it was nonzero and sets settings.FirstRun
// to 0. On a first start, when the program's own folder is known, calls
// `openHelp` (if set) with "<program folder>/sonbrel.chm". Returns whether
// this was a first start.
bool CheckFirstRun(CSettings& settings, const SettingsLocation& location = {},
                   const HelpFileOpener& openHelp = {});

// Sets one value by its stored name (case-insensitive): a CSettings field
// or a per-format value such as "MP3BitRate". Integers are decimal. Returns
// false for an unknown name or a value that is not a valid integer where one
// is needed. Setting EnableExtFilter or FilterExts rebuilds the filter list.
bool SetSettingByName(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
                      std::string_view name, std::string_view value);

// The current value of a stored name as text, or nothing for an unknown name.
std::optional<std::string> GetSettingByName(const CSettings& settings,
                                            const std::vector<OutputFormatEntry>& catalogue,
                                            std::string_view name);

// Every stored name: the CSettings values, then the per-format values of
// the catalogue entries in catalogue order.
std::vector<std::string> SettingNames(const std::vector<OutputFormatEntry>& catalogue);

}  // namespace quelvox
