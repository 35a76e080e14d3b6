#include "engine/AddFiles.h"
#include "engine/CueTracks.h"
#include "engine/Texts.h"
#include "common/Product.h"
#include "engine/SilentProgress.h"

#include "common/InputType.h"
#include "common/TextCodec.h"
#include "platform/ShellLink.h"
#include "platform/ThreadPriority.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

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

enum class EntryKind { Folder, File, Special, LinkLoop };

struct FolderEntry {
    std::string name;
    EntryKind kind;
};

// The entries of one folder in byte order of their names; empty when the
// folder cannot be read. Symbolic links count as what they point to; a
// dangling link counts as a file (it fails to load and is reported); a link
// that leads back to itself (ELOOP) points to nothing at all.
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
        if (sec == std::errc::too_many_symbolic_link_levels) {
            entries.push_back({std::move(name), EntryKind::LinkLoop});
            continue;
        }
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
    if (ec == std::errc::too_many_symbolic_link_levels) return "symbolic link loop";
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
                  std::vector<std::string>* unreadable, std::vector<std::string>* roots,
                  std::vector<std::string>* linkLoops) {
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
        if (bar.IsCancelled()) return false;
        std::string current = std::move(pending.back());
        pending.pop_back();
        if (!seen.insert(FolderKey(current)).second) continue;
        bool skipped = false;
        const std::vector<FolderEntry> entries = ListFolder(current, &skipped);
        if (skipped && unreadable) unreadable->push_back(current);
        for (const FolderEntry& entry : entries) {
            if (entry.kind == EntryKind::LinkLoop && linkLoops)
                linkLoops->push_back(Join(current, entry.name));
            if (entry.kind != EntryKind::File) continue;
            AcceptPath(settings, Join(current, entry.name), pathList);
            if (bar.IsCancelled()) return false;
        }
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == EntryKind::Folder) pending.push_back(Join(current, it->name));
    }
    return true;
}

bool CollectDroppedPaths(const std::vector<std::string>& items, const CSettings& settings,
                         std::vector<std::string>& pathList, IProgress* progress,
                         std::vector<std::string>* roots, std::vector<std::string>* linkLoops) {
    for (const std::string& item : items) {
        std::error_code ec;
        if (fs::is_directory(item, ec)) {
            if (!SearchFolder(item, settings, pathList, progress, nullptr, roots, linkLoops))
                return false;
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

namespace {

// Reader services for the probing workers: the WMA runtime's state was
// settled on the calling thread before they started, so nobody is asked
// anything from a worker.
class CProbeServices : public IReaderServices {
public:
    CProbeServices(IReaderServices& inner, bool wmaReady) : inner_(inner), wmaReady_(wmaReady) {}
    const bass::CBassRuntime& BassRuntime() const override { return inner_.BassRuntime(); }
    bool LoadWmaRuntime() override { return wmaReady_; }
    void OfferWmaRuntime() override {}

private:
    IReaderServices& inner_;
    const bool wmaReady_;
};

// Takes the rows AddFileEntry appends, in order.
class CCollectedRows : public IFileList {
public:
    int AppendRow(const FileEntry& entry) override {
        rows.push_back(&entry);
        return static_cast<int>(rows.size());
    }
    std::vector<const FileEntry*> rows;
};

ProbedPath ProbeOne(IReaderServices& services, const std::string& path, const std::string& root,
                    const std::set<std::string>& listedKeys) {
    ProbedPath probed;
    const std::string key = PathMapKey(path);
    if (listedKeys.count(key)) {
        probed.outcome = 0;
        return probed;
    }
    PassNotes state;
    std::map<std::string, FileEntry> found;
    CCollectedRows rows;
    const int row = AddFileEntry(services, state, found, rows, path, root);
    probed.notes = std::move(state.notes);
    if (row < 0) {
        probed.errorDetail = state.errorDetail;
        std::string reason = CueReasonInEnglish(state.errorDetail);
        if (reason.empty() && state.errorDetail.Is(kNoAudioRow)) reason = "no audio found in it";
        if (!reason.empty()) {
            probed.reason = Text(reason);
        } else if (const std::string why = AddFailureReason(path); why == kPathTooLongReason) {
            probed.reason = Text::Marked(kEngineTextContext, kPathTooLongReason);
        } else {
            probed.reason = Text(why);
        }
        return probed;
    }
    probed.outcome = 1;
    for (const FileEntry* entry : rows.rows) {
        for (auto it = found.begin(); it != found.end(); ++it) {
            if (&it->second != entry) continue;
            probed.entries.emplace_back(it->first, std::move(it->second));
            found.erase(it);
            break;
        }
    }
    return probed;
}

// Two texts one after the other with a blank line between them, and a
// group's paths followed by its note on the next line.
constexpr const char* kParagraphs = "%s\n\n%s";
constexpr const char* kPathsAndNote = "%s\n%s";
constexpr const char* kLines = "%s\n%s";

}  // namespace

void ProbePaths(IReaderServices& services, const std::vector<std::string>& paths,
                const std::vector<std::string>* roots, const std::set<std::string>& listedKeys,
                const std::vector<bool>& skip, int threads, const std::atomic<bool>& cancel,
                const std::function<void(size_t, ProbedPath&&)>& onProbed) {
    if (paths.empty()) return;
    std::atomic<size_t> next{0};
    std::mutex reporting;
    auto work = [&] {
        for (;;) {
            if (cancel.load()) return;
            const size_t i = next.fetch_add(1);
            if (i >= paths.size()) return;
            ProbedPath probed;
            if ((i >= skip.size() || !skip[i]) && IsValidUtf8(paths[i])) {
                const std::string root =
                    roots && i < roots->size() ? (*roots)[i] : std::string();
                probed = ProbeOne(services, paths[i], root, listedKeys);
            }
            std::lock_guard lock(reporting);
            onProbed(i, std::move(probed));
        }
    };
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, static_cast<int>(std::min<size_t>(paths.size(), 64)));
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t) {
        try {
            // The probes yield to the thread that lists their results and
            // keeps the window alive.
            workers.emplace_back([&] {
                LowerThreadPriority();
                work();
            });
        } catch (const std::system_error&) {
            break;  // the system refuses more threads: fewer do the work
        }
    }
    work();
    for (std::thread& worker : workers) worker.join();
}

AddPathListResult AddPathList(IReaderServices& services,
                              std::map<std::string, FileEntry>& pathMap, IFileList& list,
                              const std::vector<std::string>& paths, IProgress* progress,
                              const std::vector<std::string>* roots, int threads) {
    CSilentProgress silent;
    IProgress& bar = progress ? *progress : silent;
    AddPathListResult result;

    const int total = static_cast<int>(paths.size());
    bar.SetFileProgress(0, static_cast<uint64_t>(total));
    Text errorDetail;

    // An image that a CUE sheet found in the same folder search names is
    // listed through the sheet's tracks, not once more as a whole. A file
    // the user named directly (it has no added folder) is always listed.
    // A sheet whose image is a WMA file needs the WMA runtime like a WMA
    // file does.
    std::set<std::string> coveredBySheets;
    bool needsWma = false;
    for (size_t i = 0; i < paths.size(); ++i) {
        const int type = InputTypeOf(paths[i]);
        if (type == kInputWma) needsWma = true;
        if (type != kInputCueSheet) continue;
        for (const std::string& image : CueSheetImages(services, paths[i])) {
            if (InputTypeOf(image) == kInputWma) needsWma = true;
            if (roots) coveredBySheets.insert(PathMapKey(image));
        }
    }
    std::vector<bool> skip(paths.size(), false);
    for (size_t i = 0; !coveredBySheets.empty() && i < paths.size(); ++i) {
        skip[i] = i < roots->size() && !(*roots)[i].empty() &&
                  InputTypeOf(paths[i]) != kInputCueSheet &&
                  coveredBySheets.count(PathMapKey(paths[i])) > 0;
    }
    // The only question a probe could ask, asked here once before the
    // workers start.
    bool wmaReady = false;
    if (needsWma) {
        wmaReady = services.LoadWmaRuntime();
        if (!wmaReady) {
            services.OfferWmaRuntime();
            // The offer may have made it available.
            wmaReady = services.LoadWmaRuntime();
        }
    }
    CProbeServices probeServices(services, wmaReady);
    std::set<std::string> listedKeys;
    for (const auto& [key, entry] : pathMap) listedKeys.insert(listedKeys.end(), key);

    // The workers' results by index, taken here in order.
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::optional<ProbedPath>> probed(paths.size());
    std::atomic<bool> stop{false};
    auto probeAll = [&] {
        ProbePaths(probeServices, paths, roots, listedKeys, skip, threads, stop,
                   [&](size_t i, ProbedPath&& found) {
                       {
                           std::lock_guard lock(mutex);
                           probed[i] = std::move(found);
                       }
                       arrived.notify_one();
                   });
    };
    // One path is probed here: a thread of its own would only wait for it.
    std::thread prober;
    if (paths.size() <= 1) {
        probeAll();
    } else {
        try {
            prober = std::thread([&] {
                LowerThreadPriority();
                probeAll();
            });
        } catch (const std::system_error&) {
            // The system refuses another thread: the files are probed here
            // first, then listed.
            probeAll();
        }
    }

    // Failed paths grouped by the note that explains them, in the order
    // the notes first occur; the note of a group stands right after its
    // paths, so a cause is never given for files it does not concern.
    std::vector<AddFailureGroup>& groups = result.groups;
    int failureCount = 0;
    // New rows wait here until a group of them is appended at once.
    std::vector<const FileEntry*> pending;
    auto lastAppend = std::chrono::steady_clock::now();
    auto appendPending = [&] {
        if (!pending.empty()) list.AppendRows(pending);
        pending.clear();
        lastAppend = std::chrono::steady_clock::now();
    };
    constexpr size_t kMostPendingRows = 512;
    constexpr auto kAppendInterval = std::chrono::milliseconds(5);

    for (int i = 0; i < total; ++i) {
        const size_t at = static_cast<size_t>(i);
        if (skip[at]) {
            ++result.processed;
            continue;
        }
        ProbedPath found;
        {
            // The path in hand is always finished, as it was when it was
            // opened here: a cancel is seen after it. The rows found so far
            // are handed on before waiting for a slow probe.
            std::unique_lock lock(mutex);
            if (!probed[at] && !pending.empty()) {
                lock.unlock();
                appendPending();
                lock.lock();
            }
            arrived.wait(lock, [&] { return probed[at].has_value(); });
            found = std::move(*probed[at]);
            probed[at].reset();
        }
        const std::string& path = paths[at];
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
        Text note;
        if (!IsValidUtf8(path)) {
            note = Text::Marked(kEngineTextContext, kUnrepresentableNameNote);
            result.failures.push_back({path, Text("the file name is not valid UTF-8")});
        } else {
            errorDetail = found.errorDetail;
            ok = found.outcome >= 0;
            int added = 0;
            for (auto& [key, entry] : found.entries) {
                // A path listed earlier in this batch (by another name) is
                // listed already.
                auto [it, inserted] = pathMap.emplace(key, std::move(entry));
                if (!inserted) continue;
                pending.push_back(&it->second);
                ++added;
            }
            result.added += added;
            if (ok && added == 0) ++result.listed;
            for (Text& pathNote : found.notes) result.notes.push_back(std::move(pathNote));
            if (!ok) result.failures.push_back({path, found.reason});
            note = errorDetail.empty()
                       ? Text::Marked(kEngineTextContext, kAddSupportNote, kSupportAddress)
                       : errorDetail;
        }

        if (!ok) {
            if (failureCount <= kMaxListedFailures) {
                auto group =
                    std::find_if(groups.begin(), groups.end(),
                                 [&](const AddFailureGroup& g) { return g.note == note; });
                if (group == groups.end()) group = groups.insert(groups.end(), {{}, note});
                group->paths +=
                    failureCount < kMaxListedFailures ? shown + "\n" : "<more files>...\n";
            }
            ++failureCount;
            ++result.failed;
        }
        ++result.processed;

        // The list sees nearly every row found so far, while the rows
        // still go to it in groups.
        if (pending.size() >= kMostPendingRows ||
            std::chrono::steady_clock::now() - lastAppend >= kAppendInterval)
            appendPending();
        if (bar.IsCancelled()) {
            result.cancelled = i + 1 < total;
            break;
        }
    }
    stop = true;
    if (prober.joinable()) prober.join();
    appendPending();

    if (!groups.empty()) {
        Text body;
        for (const AddFailureGroup& group : groups) {
            Text part = Text::Marked(nullptr, kPathsAndNote, group.paths, group.note);
            body = body.empty() ? part : Text::Marked(nullptr, kParagraphs, body, part);
        }
        result.message =
            Text::Marked(nullptr, kParagraphs, Text::Marked(kEngineTextContext, kAddFailedHead), body);
    }
    if (!result.notes.empty()) {
        Text notes;
        for (const Text& note : result.notes)
            notes = notes.empty() ? note : Text::Marked(nullptr, kLines, notes, note);
        result.message = result.message.empty()
                             ? notes
                             : Text::Marked(nullptr, kParagraphs, result.message, notes);
    }
    return result;
}

}  // namespace quelvox
