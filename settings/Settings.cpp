#include "settings/Settings.h"

#include "settings/SettingDecl.h"

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

using setting::kFormatTable;
using setting::kTable;

QString Q(const char* s) { return QString::fromUtf8(s); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

QString KeyOf(SettingGroup group, const QString& name) {
    return Q(group == SettingGroup::Tags ? kTagGroup : kOptionsGroup) + QLatin1Char('/') + name;
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

const SettingDecl* FindDecl(std::string_view name) {
    for (const SettingDecl* decl : kTable) {
        if (EqualsIgnoreCase(decl->name, name)) return decl;
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
        for (const FormatSettingDecl& row : kFormatTable) {
            if (EqualsIgnoreCase(prefix + row.suffix, name)) {
                entryIndex = i;
                field = row.field;
                return true;
            }
        }
    }
    return false;
}

// Brings the values whose declarations say so into their valid values,
// whichever way they came in (a hand-edited file, --set): a run never
// starts 2^31 threads or multiplies its samples by a million.
void KeepValid(CSettings& s, SettingCheck from) {
    for (const SettingDecl* decl : kTable) {
        if (decl->IsText() || decl->check < from) continue;
        s.*decl->intField = decl->Valid(s.*decl->intField);
    }
}

void ApplyDefaults(CSettings& s, std::string_view documentsFolder) {
    for (const SettingDecl* decl : kTable) {
        if (decl->IsText()) {
            s.*decl->textField = decl->textDefault;
        } else {
            s.*decl->intField = decl->Default();
        }
    }
    if (!documentsFolder.empty()) {
        s.DestSpecifiedFolder = std::string(documentsFolder);
        s.DestOutputFolderOpt = kOutputToSpecifiedFolder;
    }
    s.FilterExtList.clear();
}

}  // namespace

int DefaultSimultaneousFiles() {
    return setting::SimultaneousFiles.Valid(static_cast<int>(std::thread::hardware_concurrency()));
}

int FilesAtOnce(const CSettings& settings) {
    return setting::SimultaneousFiles.Valid(settings.SimultaneousFiles);
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

    for (const SettingDecl* decl : kTable) {
        if (decl->group == SettingGroup::Tags && !hasTagGroup) continue;
        const QString key = KeyOf(decl->group, Q(decl->name));
        if (!decl->IsText()) {
            ReadInt(store, key, settings.*decl->intField);
        } else if (std::optional<std::string> text = ReadText(store, key)) {
            settings.*decl->textField = std::move(*text);
        } else if (decl->group == SettingGroup::Tags) {
            // An absent tag text is the empty text.
            (settings.*decl->textField).clear();
        }
    }
    KeepValid(settings, SettingCheck::Load);
    RebuildFilterList(settings);

    for (OutputFormatEntry& entry : catalogue) {
        if (!HasFormatSettings(entry.code)) continue;
        const QString prefix = Q(FormatSettingsPrefix(entry));
        for (const FormatSettingDecl& row : kFormatTable) {
            ReadInt(store, KeyOf(SettingGroup::Options, prefix + Q(row.suffix)), entry.*row.field);
        }
    }
}

bool SaveSettings(const CSettings& settings, const std::vector<OutputFormatEntry>& catalogue,
                  unsigned mask, const SettingsLocation& location) {
    if (mask == 0) return false;
    QSettings store(Q(SettingsPath(location)), QSettings::IniFormat);
    for (const SettingDecl* decl : kTable) {
        if (!(decl->saveMask & mask)) continue;
        const QString key = KeyOf(decl->group, Q(decl->name));
        if (decl->IsText()) {
            store.setValue(key, Q(settings.*decl->textField));
        } else {
            store.setValue(key, settings.*decl->intField);
        }
    }
    if (mask & kSaveOptions) {
        for (const OutputFormatEntry& entry : catalogue) {
            if (!HasFormatSettings(entry.code)) continue;
            const QString prefix = Q(FormatSettingsPrefix(entry));
            for (const FormatSettingDecl& row : kFormatTable) {
                store.setValue(KeyOf(SettingGroup::Options, prefix + Q(row.suffix)),
                               entry.*row.field);
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
    const QString key = KeyOf(setting::FirstRun.group, Q(setting::FirstRun.name));
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
    if (const SettingDecl* decl = FindDecl(name)) {
        if (decl->IsText()) {
            settings.*decl->textField = std::string(value);
        } else {
            int v = 0;
            if (!ParseInt(value, v)) return false;
            settings.*decl->intField = v;
            KeepValid(settings, SettingCheck::Always);
        }
        if (decl == &setting::EnableExtFilter || decl == &setting::FilterExts) {
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
    if (const SettingDecl* decl = FindDecl(name)) {
        if (decl->IsText()) return settings.*decl->textField;
        return std::to_string(settings.*decl->intField);
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
    for (const SettingDecl* decl : kTable) names.emplace_back(decl->name);
    for (const OutputFormatEntry& entry : catalogue) {
        if (!HasFormatSettings(entry.code)) continue;
        const std::string prefix = FormatSettingsPrefix(entry);
        for (const FormatSettingDecl& row : kFormatTable) names.push_back(prefix + row.suffix);
    }
    return names;
}

}  // namespace quelvox
