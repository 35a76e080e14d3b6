#include "engine/AddFiles.h"
#include "engine/CueTracks.h"
#include "engine/Texts.h"
#include "common/Product.h"
#include "engine/SilentProgress.h"

#include "common/InputType.h"
#include "common/TextCodec.h"
#include "platform/ShellLink.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace quelvox {

namespace fs = std::filesystem;

namespace {

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// The key under which a folder counts as visited: its canonical path, or
// (when it cannot be resolved) its normalised absolute form.
std::string FolderKey(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::canonical(folder, ec);
    if (ec) p = fs::absolute(folder, ec).lexically_normal();
    return p.string();
}

enum class EntryKind { Folder, File, Special };

struct FolderEntry {
    std::string name;
    EntryKind kind;
};

// The entries of one folder in byte order of their names; empty when the
// folder cannot be read. Symbolic links count as what they point to; a
// dangling link counts as a file (it fails to load and is reported).
std::vector<FolderEntry> ListFolder(const std::string& folder, bool* unreadable = nullptr) {
    std::vector<FolderEntry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec || ::access(folder.c_str(), R_OK | X_OK) != 0) {
        if (unreadable) *unreadable = true;
        if (ec) return entries;
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::string name = it->path().filename().string();
        if (name == "." || name == "..") continue;
        std::error_code sec;
        fs::file_status st = it->status(sec);
        EntryKind kind = EntryKind::File;
        switch (st.type()) {
            case fs::file_type::directory: kind = EntryKind::Folder; break;
            case fs::file_type::fifo:
            case fs::file_type::socket:
            case fs::file_type::block:
            case fs::file_type::character: kind = EntryKind::Special; break;
            default: kind = EntryKind::File; break;
        }
        entries.push_back({std::move(name), kind});
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

bool IsValidUtf8(const std::string& text) { return SanitizeUtf8(text) == text; }

// Why a path that AddFileEntry refused could not be added.
std::string AddFailureReason(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    // A path the system refuses by its length may still name a file.
    if (ec == std::errc::filename_too_long) return kPathTooLongReason;
    if (!fs::exists(st)) return "not found";
    if (!fs::is_regular_file(st)) return "not a regular file";
    if (::access(path.c_str(), R_OK) != 0) return "not readable";
    return "no decoder accepts it";
}

}  // namespace

bool IsHiddenPath(const std::string& path) {
    std::string name = FileNameOf(path);
    return !name.empty() && name[0] == '.';
}

bool PassesExtensionFilter(const CSettings& settings, const std::string& path) {
    if (settings.EnableExtFilter == 0) return true;
    std::string ext = ExtensionOf(path);  // dot included, ASCII lower case
    if (ext.empty()) return false;
    ext.erase(0, 1);
    return std::find(settings.FilterExtList.begin(), settings.FilterExtList.end(), ext) !=
           settings.FilterExtList.end();
}

bool AcceptPath(const CSettings& settings, const std::string& path,
                std::vector<std::string>& pathList) {
    std::string current = path;
    std::set<std::string> linksSeen;
    for (int followed = 0;; ++followed) {
        bool dropped = (settings.DoNotLoadHiddenFiles != 0 && IsHiddenPath(current)) ||
                       !PassesExtensionFilter(settings, current);
        if (!dropped) {
            pathList.push_back(current);
            return true;
        }
        // A rule would drop the path: a shortcut is followed instead, and
        // its target judged again by the same rules.
        if (ExtensionOf(current) != ".lnk" || followed >= kMaxShortcutChain) return false;
        if (!linksSeen.insert(PathMapKey(current)).second) return false;  // cycle
        std::string target;
        if (!ResolveShortcut(current, target)) return false;
        current = target;
    }
}

std::vector<std::string> BuildFolderList(const std::string& folder) {
    std::vector<std::string> folders;
    std::set<std::string> seen;
    // Depth first with an explicit stack, so that deep trees cannot exhaust
    // the call stack: each folder is listed before its subfolders, which
    // are pushed in reverse so the first is taken next.
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        std::string current = std::move(pending.back());
        pending.pop_back();
        if (!seen.insert(FolderKey(current)).second) continue;
        folders.push_back(current);
        std::vector<FolderEntry> entries = ListFolder(current);
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == EntryKind::Folder) pending.push_back(Join(current, it->name));
    }
    return folders;
}

bool SearchFolder(const std::string& folder, const CSettings& settings,
                  std::vector<std::string>& pathList, IProgress* progress,
                  std::vector<std::string>* unreadable, std::vector<std::string>* roots) {
    if (roots) roots->resize(pathList.size());
    // Whatever way the search ends, what it appended came from `folder`.
    struct MarkRoots {
        std::vector<std::string>* roots;
        const std::vector<std::string>& paths;
        const std::string& folder;
        ~MarkRoots() {
            if (roots) roots->resize(paths.size(), folder);
        }
    } markRoots{roots, pathList, folder};
    CSilentProgress silent;
    IProgress& bar = progress ? *progress : silent;
    // The order of BuildFolderList (each folder before its subfolders,
    // depth first) with each folder read once: its files are taken when it
    // is reached and its subfolders pushed in reverse so the first comes
    // next.
    std::set<std::string> seen;
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        bar.Pump();
        if (bar.IsCancelled()) return false;
        std::string current = std::move(pending.back());
        pending.pop_back();
        if (!seen.insert(FolderKey(current)).second) continue;
        bool skipped = false;
        const std::vector<FolderEntry> entries = ListFolder(current, &skipped);
        if (skipped && unreadable) unreadable->push_back(current);
        for (const FolderEntry& entry : entries) {
            if (entry.kind != EntryKind::File) continue;
            AcceptPath(settings, Join(current, entry.name), pathList);
            bar.Pump();
            if (bar.IsCancelled()) return false;
        }
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == EntryKind::Folder) pending.push_back(Join(current, it->name));
    }
    return true;
}

bool CollectDroppedPaths(const std::vector<std::string>& items, const CSettings& settings,
                         std::vector<std::string>& pathList, IProgress* progress,
                         std::vector<std::string>* roots) {
    for (const std::string& item : items) {
        std::error_code ec;
        if (fs::is_directory(item, ec)) {
            if (!SearchFolder(item, settings, pathList, progress, nullptr, roots)) return false;
        } else {
            AcceptPath(settings, item, pathList);
            if (roots) roots->resize(pathList.size());
        }
    }
    return true;
}

std::string AddFailureSupportNote() {
    return FillText(kAddSupportNote, kSupportAddress);
}

AddPathListResult AddPathList(IReaderServices& services, RunState& state,
                              std::map<std::string, FileEntry>& pathMap, IFileList& list,
                              const std::vector<std::string>& paths, IProgress* progress,
                              const std::vector<std::string>* roots) {
    CSilentProgress silent;
    IProgress& bar = progress ? *progress : silent;
    AddPathListResult result;

    const int total = static_cast<int>(paths.size());
    bar.SetFileProgress(0, static_cast<uint64_t>(total));
    bar.Pump();
    state.errorDetail.clear();

    // Failed paths grouped by the note that explains them, in the order
    // the notes first occur; the note of a group stands right after its
    // paths, so a cause is never given for files it does not concern.
    struct FailureGroup {
        std::string note;
        std::string paths;
    };
    std::vector<FailureGroup> groups;
    int failureCount = 0;
    const std::string unrepresentableNote = kUnrepresentableNameNote;

    // An image that a CUE sheet found in the same folder search names is
    // listed through the sheet's tracks, not once more as a whole. A file
    // the user named directly (it has no added folder) is always listed.
    std::set<std::string> coveredBySheets;
    for (size_t i = 0; roots && i < paths.size(); ++i) {
        if (InputTypeOf(paths[i]) != kInputCueSheet) continue;
        for (const std::string& image : CueSheetImages(services, paths[i]))
            coveredBySheets.insert(PathMapKey(image));
    }

    for (int i = 0; i < total; ++i) {
        const std::string& path = paths[static_cast<size_t>(i)];
        const size_t at = static_cast<size_t>(i);
        if (!coveredBySheets.empty() && at < roots->size() && !(*roots)[at].empty() &&
            InputTypeOf(path) != kInputCueSheet && coveredBySheets.count(PathMapKey(path))) {
            ++result.processed;
            continue;
        }
        // Texts shown to the user are UTF-8; a name that is not comes out
        // with replacement characters.
        const std::string shown = SanitizeUtf8(path);
        bar.SetFileText(EngineText(kAddingText, i + 1, total, FileNameOf(shown)));
        bar.SetFileProgress(static_cast<uint64_t>(i + 1), static_cast<uint64_t>(total));

        // A name the program cannot represent is not opened. On Windows such
        // names arrived with '?' in place of the missing characters; here a
        // '?' is an ordinary character of a file name, and what cannot be
        // represented is a name that is not valid UTF-8.
        bool ok = false;
        std::string note;
        if (!IsValidUtf8(path)) {
            note = unrepresentableNote;
            result.failures.push_back({path, "the file name is not valid UTF-8"});
        } else {
            state.errorDetail.clear();
            const size_t index = static_cast<size_t>(i);
            const std::string root =
                roots && index < roots->size() ? (*roots)[index] : std::string();
            const size_t entriesBefore = pathMap.size();
            int row = AddFileEntry(services, state, pathMap, list, path, root);
            ok = row != -1;
            // A CUE sheet adds a row per track.
            if (row > 0) result.added += static_cast<int>(pathMap.size() - entriesBefore);
            if (row == 0) ++result.listed;
            if (!ok) {
                std::string reason = CueReasonInEnglish(state.errorDetail);
                if (reason.empty())
                    reason = state.errorDetail.Is(kNoAudioRow) ? std::string("no audio found in it")
                                                              : AddFailureReason(path);
                result.failures.push_back({path, reason});
            }
            note = state.errorDetail.empty() ? AddFailureSupportNote() : state.errorDetail.Source();
        }

        if (!ok) {
            if (failureCount <= kMaxListedFailures) {
                auto group = std::find_if(groups.begin(), groups.end(),
                                          [&](const FailureGroup& g) { return g.note == note; });
                if (group == groups.end()) group = groups.insert(groups.end(), {note, {}});
                group->paths +=
                    failureCount < kMaxListedFailures ? shown + "\n" : "<more files>...\n";
            }
            ++failureCount;
            ++result.failed;
        }
        ++result.processed;

        bar.Pump();
        if (bar.IsCancelled()) {
            result.cancelled = i + 1 < total;
            break;
        }
    }

    if (!groups.empty()) {
        result.message = std::string(kAddFailedHead) + "\n\n";
        for (size_t g = 0; g < groups.size(); ++g) {
            if (g > 0) result.message += "\n\n";
            result.message += groups[g].paths + "\n" + groups[g].note;
        }
    }
    return result;
}

}  // namespace quelvox
