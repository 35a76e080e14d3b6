#include "settings/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

namespace quelvox {

namespace {

constexpr const char* kOptionsGroup = "Options";
constexpr const char* kTagGroup = "Options/ID3";

enum class Group { Options, Tags };

// One stored value of CSettings. Exactly one of intField and textField is
// set. saveMask is the SaveSettings bit that writes the value (0: never
// written by SaveSettings).
struct SettingRow {
    const char* name;
    Group group;
    unsigned saveMask;
    int CSettings::*intField;
    std::string CSettings::*textField;
    int intDefault;
    const char* textDefault;
};

constexpr SettingRow Int(const char* name, int CSettings::*field, int def,
                         unsigned mask = kSaveOptions, Group group = Group::Options) {
    return {name, group, mask, field, nullptr, def, ""};
}
constexpr SettingRow Text(const char* name, std::string CSettings::*field,
                          unsigned mask = kSaveOptions, Group group = Group::Options,
                          const char* def = "") {
    return {name, group, mask, nullptr, field, 0, def};
}

// Every value of CSettings, in the order in which it is saved. The
// documents folder defaults are applied by the constructor.
const SettingRow kRows[] = {
    Int("OutputFormat", &CSettings::OutputFormat, kFormatMp3, kSaveFormatAndPage),
    Int("OptStartPageIndex", &CSettings::OptStartPageIndex, 0, kSaveFormatAndPage),
    Text("Folder", &CSettings::Folder, kSaveFolder),
    Int("DestOutputFolderOpt", &CSettings::DestOutputFolderOpt, 199),
    Text("DestSpecifiedFolder", &CSettings::DestSpecifiedFolder),
    Int("CreateDirs", &CSettings::CreateDirs, 0),
    Int("CreateDirsFrom", &CSettings::CreateDirsFrom, 0),
    Int("BrowseOutputFolder", &CSettings::BrowseOutputFolder, 1),
    Int("OutputFiles2MyDocuments", &CSettings::OutputFiles2MyDocuments, 1),
    Int("TargetExistsOpt", &CSettings::TargetExistsOpt, 11),
    Int("MonoType", &CSettings::MonoType, 0),
    Int("Resampler", &CSettings::Resampler, 0),
    Int("SimultaneousFiles", &CSettings::SimultaneousFiles, DefaultSimultaneousFiles()),
    Int("Language", &CSettings::Language, 0),
    Int("DoNotLoadHiddenFiles", &CSettings::DoNotLoadHiddenFiles, 0),
    Int("EnableDTSForCDA", &CSettings::EnableDTSForCDA, 0),
    Int("EnableConvertLength", &CSettings::EnableConvertLength, 0),
    Int("EnableSkipLength", &CSettings::EnableSkipLength, 0),
    Int("ConvertLength", &CSettings::ConvertLength, 0),
    Int("SkipLength", &CSettings::SkipLength, 0),
    Int("EnableExtFilter", &CSettings::EnableExtFilter, 0),
    Text("FilterExts", &CSettings::FilterExts),
    Int("Volume", &CSettings::Volume, 100),
    Int("VolumeType", &CSettings::VolumeType, 2),
    Int("ID3TagType", &CSettings::ID3TagType, 2),
    Int("WMAAutoEncParam", &CSettings::WMAAutoEncParam, 1),
    Int("WMABitRate", &CSettings::WMABitRate, 128000),
    Int("WMASampleRate", &CSettings::WMASampleRate, 44100),
    Int("WMAChannels", &CSettings::WMAChannels, 2),
    Int("AMRType", &CSettings::AMRType, 0),
    Int("AMRMode", &CSettings::AMRMode, 6),
    Int("AMRWBMode", &CSettings::AMRWBMode, 6),
    Int("AMRDTX", &CSettings::AMRDTX, 0),
    Int("AWBMode", &CSettings::AWBMode, 6),
    Int("AWBDTX", &CSettings::AWBDTX, 0),
    Int("FirstRun", &CSettings::FirstRun, 1, 0),
    Text("TagCodePage", &CSettings::TagCodePage, kSaveOptions, Group::Options, "GBK"),
    Text("Title", &CSettings::Title, kSaveOptions, Group::Tags),
    Text("Artist", &CSettings::Artist, kSaveOptions, Group::Tags),
    Text("Album", &CSettings::Album, kSaveOptions, Group::Tags),
    Text("Year", &CSettings::Year, kSaveOptions, Group::Tags),
    Text("Genre", &CSettings::Genre, kSaveOptions, Group::Tags),
    Text("Comment", &CSettings::Comment, kSaveOptions, Group::Tags),
    Text("Composer", &CSettings::Composer, kSaveOptions, Group::Tags),
    Text("Copyright", &CSettings::Copyright, kSaveOptions, Group::Tags),
    Int("TitleAsFileName", &CSettings::TitleAsFileName, 1, kSaveOptions, Group::Tags),
    Int("TrackNumType", &CSettings::TrackNumType, 0, kSaveOptions, Group::Tags),
    Int("CustomTrackNum", &CSettings::CustomTrackNum, 0, kSaveOptions, Group::Tags),
};

// The five per-format values; stored as prefix + suffix in the options
// group and saved with kSaveOptions.
struct FormatValueRow {
    const char* suffix;
    int OutputFormatEntry::*field;
};

constexpr FormatValueRow kFormatRows[] = {
    {"AutoEncParam", &OutputFormatEntry::AutoEncParam}, {"CodecID", &OutputFormatEntry::CodecID},
    {"SampleRate", &OutputFormatEntry::SampleRate},     {"BitRate", &OutputFormatEntry::BitRate},
    {"Channels", &OutputFormatEntry::Channels},
};

QString Q(const char* s) { return QString::fromUtf8(s); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

QString KeyOf(Group group, const QString& name) {
    return Q(group == Group::Tags ? kTagGroup : kOptionsGroup) + QLatin1Char('/') + name;
}

// A decimal integer of the stored 32-bit range. Values above INT_MAX up to
// 4294967295 wrap as an unsigned 32-bit value would.
bool ParseInt(std::string_view text, int& out) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
    if (v < INT32_MIN || v > static_cast<long long>(UINT32_MAX)) return false;
    out = static_cast<int>(static_cast<uint32_t>(v));
    return true;
}

// The stored value as text. Unquoted commas in a hand-edited file make the
// INI reader deliver a list; it is joined back.
std::optional<std::string> ReadText(const QSettings& store, const QString& key) {
    if (!store.contains(key)) return std::nullopt;
    QVariant v = store.value(key);
    if (v.typeId() == QMetaType::QStringList) {
        return v.toStringList().join(QLatin1Char(',')).toStdString();
    }
    if (!v.canConvert<QString>()) return std::nullopt;
    return v.toString().toStdString();
}

// A stored integer into `field`; absent or unreadable values leave it.
void ReadInt(const QSettings& store, const QString& key, int& field) {
    std::optional<std::string> text = ReadText(store, key);
    int v = 0;
    if (text && ParseInt(*text, v)) field = v;
}

std::string SettingsPath(const SettingsLocation& location) {
    return location.path.empty() ? DefaultSettingsPath() : location.path;
}

bool StoreReadable(const QSettings& store, const std::string& path) {
    QFileInfo info(Q(path));
    return info.exists() && info.isReadable() && store.status() == QSettings::NoError;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

const SettingRow* FindRow(std::string_view name) {
    for (const SettingRow& row : kRows) {
        if (EqualsIgnoreCase(row.name, name)) return &row;
    }
    return nullptr;
}

// The per-format value named `name` (e.g. "MP3BitRate"): the index of its
// entry and the field. False when no entry has such a value.
bool FindFormatValue(const std::vector<OutputFormatEntry>& catalogue, std::string_view name,
                     size_t& entryIndex, int OutputFormatEntry::*& field) {
    for (size_t i = 0; i < catalogue.size(); ++i) {
        if (!HasFormatSettings(catalogue[i].code)) continue;
        const std::string prefix = FormatSettingsPrefix(catalogue[i]);
        for (const FormatValueRow& row : kFormatRows) {
            if (EqualsIgnoreCase(prefix + row.suffix, name)) {
                entryIndex = i;
                field = row.field;
                return true;
            }
        }
    }
    return false;
}

// Values the options page bounds are kept in its ranges whichever way they
// come in (a hand-edited file, --set): a run never starts 2^31 threads or
// multiplies its samples by a million.
void ClampToPageRanges(CSettings& s) {
    s.SimultaneousFiles = std::clamp(s.SimultaneousFiles, 1, kMaxSimultaneousFiles);
    s.Volume = std::clamp(s.Volume, kMinVolume, kMaxVolume);
}

void ApplyDefaults(CSettings& s, std::string_view documentsFolder) {
    for (const SettingRow& row : kRows) {
        if (row.intField) s.*row.intField = row.intDefault;
        if (row.textField) s.*row.textField = row.textDefault;
    }
    if (!documentsFolder.empty()) {
        s.DestSpecifiedFolder = std::string(documentsFolder);
        s.DestOutputFolderOpt = 399;
    }
    s.FilterExtList.clear();
}

}  // namespace

int DefaultSimultaneousFiles() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                      kMaxSimultaneousFiles);
}

int FilesAtOnce(const CSettings& settings) {
    return std::clamp(settings.SimultaneousFiles, 1, kMaxSimultaneousFiles);
}

CSettings::CSettings() { ApplyDefaults(*this, UserDocumentsFolder()); }

CSettings::CSettings(std::string_view documentsFolder) { ApplyDefaults(*this, documentsFolder); }

std::string DefaultSettingsPath() {
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg && std::filesystem::path(xdg).is_absolute()) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : QDir::homePath().toStdString()) /
               ".config";
    }
    return (base / "Quelvox" / "Quelvox 4.ini").string();
}

std::string UserDocumentsFolder() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty()) return {};
    return QDir::cleanPath(dir).toStdString();
}

void LoadSettings(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
                  const SettingsLocation& location) {
    const std::string path = SettingsPath(location);
    QSettings store(Q(path), QSettings::IniFormat);
    if (!StoreReadable(store, path) || !store.childGroups().contains(Q(kOptionsGroup))) {
        // Nothing stored: every field keeps what it holds.
        RebuildFilterList(settings);
        return;
    }
    store.beginGroup(Q(kTagGroup));
    const bool hasTagGroup = !store.childKeys().isEmpty();
    store.endGroup();

    for (const SettingRow& row : kRows) {
        if (row.group == Group::Tags && !hasTagGroup) continue;
        const QString key = KeyOf(row.group, Q(row.name));
        if (row.intField) {
            ReadInt(store, key, settings.*row.intField);
        } else if (std::optional<std::string> text = ReadText(store, key)) {
            settings.*row.textField = std::move(*text);
        } else if (row.group == Group::Tags) {
            // An absent tag text is the empty text.
            (settings.*row.textField).clear();
        }
    }
    if (settings.WMAChannels != 1 && settings.WMAChannels != 2) settings.WMAChannels = 2;
    if (settings.Language < 0 || settings.Language > 2) settings.Language = 0;
    ClampToPageRanges(settings);
    RebuildFilterList(settings);

    for (OutputFormatEntry& entry : catalogue) {
        if (!HasFormatSettings(entry.code)) continue;
        const QString prefix = Q(FormatSettingsPrefix(entry));
        for (const FormatValueRow& row : kFormatRows) {
            ReadInt(store, KeyOf(Group::Options, prefix + Q(row.suffix)), entry.*row.field);
        }
    }
}

bool SaveSettings(const CSettings& settings, const std::vector<OutputFormatEntry>& catalogue,
                  unsigned mask, const SettingsLocation& location) {
    if (mask == 0) return false;
    QSettings store(Q(SettingsPath(location)), QSettings::IniFormat);
    for (const SettingRow& row : kRows) {
        if (!(row.saveMask & mask)) continue;
        const QString key = KeyOf(row.group, Q(row.name));
        if (row.intField) {
            store.setValue(key, settings.*row.intField);
        } else {
            store.setValue(key, Q(settings.*row.textField));
        }
    }
    if (mask & kSaveOptions) {
        for (const OutputFormatEntry& entry : catalogue) {
            if (!HasFormatSettings(entry.code)) continue;
            const QString prefix = Q(FormatSettingsPrefix(entry));
            for (const FormatValueRow& row : kFormatRows) {
                store.setValue(KeyOf(Group::Options, prefix + Q(row.suffix)), entry.*row.field);
            }
        }
    }
    store.sync();
    return store.status() == QSettings::NoError;
}

void RebuildFilterList(CSettings& settings) {
    settings.FilterExtList.clear();
    if (settings.EnableExtFilter == 0) return;
    std::string text;
    for (char c : settings.FilterExts) {
        if (c == ' ' || c == '\t') continue;
        if (c == ';') c = ',';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        text += c;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma > start) settings.FilterExtList.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

bool CheckFirstRun(CSettings& settings, const SettingsLocation& location,
                   const HelpFileOpener& openHelp) {
    const std::string path = SettingsPath(location);
    QSettings store(Q(path), QSettings::IniFormat);
    const QString key = KeyOf(Group::Options, QStringLiteral("FirstRun"));
    int firstRun = 1;
    QFileInfo info(Q(path));
    const bool unreadable =
        info.exists() && (!info.isReadable() || store.status() != QSettings::NoError);
    if (!unreadable) ReadInt(store, key, firstRun);
    const bool first = unreadable || firstRun != 0;
    if (firstRun != 0) {
        store.setValue(key, 0);
        store.sync();
    }
    settings.FirstRun = 0;

    if (first && openHelp) {
        std::error_code ec;
        std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (!ec && exe.has_parent_path()) openHelp((exe.parent_path() / "sonbrel.chm").string());
    }
    return first;
}

bool SetSettingByName(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
                      std::string_view name, std::string_view value) {
    if (const SettingRow* row = FindRow(name)) {
        if (row->intField) {
            int v = 0;
            if (!ParseInt(value, v)) return false;
            settings.*row->intField = v;
            ClampToPageRanges(settings);
        } else {
            settings.*row->textField = std::string(value);
        }
        if (row->intField == &CSettings::EnableExtFilter ||
            row->textField == &CSettings::FilterExts) {
            RebuildFilterList(settings);
        }
        return true;
    }
    size_t index = 0;
    int OutputFormatEntry::*field = nullptr;
    if (FindFormatValue(catalogue, name, index, field)) {
        int v = 0;
        if (!ParseInt(value, v)) return false;
        catalogue[index].*field = v;
        return true;
    }
    return false;
}

std::optional<std::string> GetSettingByName(const CSettings& settings,
                                            const std::vector<OutputFormatEntry>& catalogue,
                                            std::string_view name) {
    if (const SettingRow* row = FindRow(name)) {
        if (row->intField) return std::to_string(settings.*row->intField);
        return settings.*row->textField;
    }
    size_t index = 0;
    int OutputFormatEntry::*field = nullptr;
    if (FindFormatValue(catalogue, name, index, field)) {
        return std::to_string(catalogue[index].*field);
    }
    return std::nullopt;
}

std::vector<std::string> SettingNames(const std::vector<OutputFormatEntry>& catalogue) {
    std::vector<std::string> names;
    for (const SettingRow& row : kRows) names.emplace_back(row.name);
    for (const OutputFormatEntry& entry : catalogue) {
        if (!HasFormatSettings(entry.code)) continue;
        const std::string prefix = FormatSettingsPrefix(entry);
        for (const FormatValueRow& row : kFormatRows) names.push_back(prefix + row.suffix);
    }
    return names;
}

}  // namespace quelvox
