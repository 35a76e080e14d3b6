#include "cli/Run.h"

#include "decoders/InputType.h"
#include "engine/OutputPath.h"
#include "settings/Settings.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <thread>

namespace quelvox::cli {

namespace fs = std::filesystem;

CCliHost::CCliHost(CConsole& console, const std::atomic<bool>& cancel, std::string mergeFile)
    : console_(console), progress_(cancel), mergeFile_(std::move(mergeFile)) {
    progress_.SetPumpHandler([this] { console_.DrawStatus(StatusLines(progress_.Read())); });
}

IProgress& CCliHost::OpenProgress() { return progress_; }

void CCliHost::CloseProgress() { console_.ClearStatus(); }

bool CCliHost::AskQuestion(const std::string& text) {
    console_.Warn(text);
    return false;
}

void CCliHost::ShowWarning(const std::string& text) { console_.Warn(text); }

std::string CCliHost::ChooseMergedFile(const OutputFormatEntry& format) {
    return mergeFile_.empty() ? std::string() : MergeTarget(mergeFile_, format);
}

bool CSharedReaderServices::LoadWmaRuntime() {
    std::lock_guard lock(mutex_);
    return inner_.LoadWmaRuntime();
}

void CSharedReaderServices::OfferWmaRuntime() {
    std::lock_guard lock(mutex_);
    inner_.OfferWmaRuntime();
}

std::string MergeTarget(const std::string& path, const OutputFormatEntry& format) {
    std::error_code ec;
    fs::path target = fs::absolute(path, ec);
    if (ec) target = path;
    target = target.lexically_normal();
    if (!target.has_filename()) return {};
    if (!target.has_extension()) target += std::string(".") + format.extension;
    return target.string();
}

namespace {

// Absolute, with links and "." / ".." resolved as far as the path exists.
std::string NormalPath(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) p = path;
    fs::path canonical = fs::weakly_canonical(p, ec);
    return (ec ? p.lexically_normal() : canonical).string();
}

// What an unfinished conversion reads or may create, by name.
struct Footprint {
    std::string source;
    std::string target;
};

// Tells whether two files of a run could meet on disk: a later file's
// output name must not be chosen while an earlier conversion that may
// create or read a file of that name is still going, or the later file
// would see the folder in a state a run of one file after another never
// shows it (and a name probe could race with the earlier file's final
// move). Output names are always "<stem>.<ext>" or "<stem>_<n>.<ext>" in
// one of a few folders, which keeps the test cheap and on the safe side.
class CCollisionTest {
public:
    CCollisionTest(const CSettings& settings, const std::string& extension)
        : settings_(settings), extension_("." + extension) {
        if (settings.OutputFiles2MyDocuments) documents_ = UserDocumentsFolder();
    }

    // Whether `entry`, about to be named, could touch a file of `running`.
    bool MayMeet(const FileEntry& entry, const std::vector<const Footprint*>& running) const {
        if (running.empty()) return false;
        const std::string source = NormalPath(entry.Path);
        const std::string name = fs::path(entry.Path).filename().string();
        const size_t dot = name.find_last_of('.');
        const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
        const std::vector<std::string> folders = Folders(entry);
        for (const Footprint* f : running) {
            for (const std::string* path : {&f->source, &f->target}) {
                if (path->empty()) continue;
                if (*path == source) return true;
                const fs::path p(*path);
                if (!NameFits(p.filename().string(), stem)) continue;
                if (std::find(folders.begin(), folders.end(), p.parent_path().string()) !=
                    folders.end())
                    return true;
            }
        }
        return false;
    }

private:
    bool NameFits(const std::string& name, const std::string& stem) const {
        if (name == stem + extension_) return true;
        const std::string head = stem + "_";
        if (name.size() <= head.size() + extension_.size()) return false;
        if (name.compare(0, head.size(), head) != 0) return false;
        if (name.compare(name.size() - extension_.size(), extension_.size(), extension_) != 0)
            return false;
        const std::string number =
            name.substr(head.size(), name.size() - head.size() - extension_.size());
        return std::all_of(number.begin(), number.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    }

    // Every folder the output may land in: beside the source, in the chosen
    // folder or the documents folder, each also below the source's path.
    std::vector<std::string> Folders(const FileEntry& entry) const {
        std::error_code ec;
        fs::path absolute = fs::absolute(entry.Path, ec);
        if (ec) absolute = entry.Path;
        const fs::path sourceFolder = absolute.lexically_normal().parent_path();
        const fs::path tree = sourceFolder.relative_path();
        std::vector<std::string> folders{NormalPath(sourceFolder.string())};
        for (const std::string* base : {&settings_.DestSpecifiedFolder, &documents_}) {
            if (base->empty()) continue;
            folders.push_back(NormalPath(*base));
            folders.push_back(NormalPath((fs::path(*base) / tree).string()));
        }
        return folders;
    }

    const CSettings& settings_;
    const std::string extension_;
    std::string documents_;
};

bool RunOneAfterAnother(RunEnvironment& env, CCliHost& host, CRowTable& rows,
                        const std::vector<FileEntry*>& entries, const OutputFormatEntry& format) {
    IProgress& progress = host.OpenProgress();
    const int count = static_cast<int>(entries.size());
    progress.SetRunProgress(0, count);
    progress.Pump();
    bool cancelled = false;
    for (int i = 0; i < count && !cancelled; ++i) {
        const FileOutcome outcome =
            ConvertListedFile(env, progress, rows, *entries[static_cast<size_t>(i)], i, i + 1,
                              count, format);
        cancelled = outcome.cancelled;
        rows.PrintUpTo(i + 1);
    }
    host.CloseProgress();
    return !cancelled;
}

enum class Slot { Waiting, Queued, Done, NotVisited };

bool RunAtOnce(RunEnvironment& env, CConsole& console, CRowTable& rows,
               const std::vector<FileEntry*>& entries, const OutputFormatEntry& format, int jobs,
               const std::atomic<bool>& cancel) {
    const int count = static_cast<int>(entries.size());
    // Everything the conversions share is settled here, before they start:
    // the WMA runtime and its format list, and the soundfont (done by the
    // caller's checks). Afterwards the shared runtime is only read.
    CSharedReaderServices readers(env.readers);
    readers.LoadWmaRuntime();
    const bool soundfontReady = env.state.soundfontReady;
    const std::string extension = format.extension;
    const CCollisionTest collisions(env.settings, extension);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<int> queue;
    bool closing = false;
    int running = 0;
    std::vector<Slot> slots(static_cast<size_t>(count), Slot::Waiting);
    std::vector<Footprint> footprints(static_cast<size_t>(count));
    std::vector<CProgressSink*> active(static_cast<size_t>(count), nullptr);
    int done = 0;

    auto worker = [&] {
        for (;;) {
            int j;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return closing || !queue.empty(); });
                if (queue.empty()) return;
                j = queue.front();
                queue.pop_front();
            }
            FileEntry& entry = *entries[static_cast<size_t>(j)];
            if (cancel.load()) {
                // Named but never begun: left as a cancelled run leaves the
                // files after the one it stopped in.
                entry.OutputPath.clear();
                std::lock_guard lock(mutex);
                slots[static_cast<size_t>(j)] = Slot::NotVisited;
                --running;
                changed.notify_all();
                continue;
            }
            RunState state;
            state.soundfontReady = soundfontReady;
            CProgressSink progress(cancel);
            {
                std::lock_guard lock(mutex);
                active[static_cast<size_t>(j)] = &progress;
            }
            RunEnvironment own{env.settings, env.runtime, readers, env.wmaFormats, state};
            ConvertListedFile(own, progress, rows, entry, j, j + 1, count, format, true);
            std::lock_guard lock(mutex);
            active[static_cast<size_t>(j)] = nullptr;
            slots[static_cast<size_t>(j)] = Slot::Done;
            ++done;
            --running;
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < jobs; ++i) workers.emplace_back(worker);

    int next = 0;
    int printed = 0;
    std::unique_lock lock(mutex);
    for (;;) {
        // Name and hand out the next files in list order.
        while (!cancel.load() && next < count && running < jobs) {
            FileEntry& entry = *entries[static_cast<size_t>(next)];
            const bool needsName = !(entry.InputType == kInputMidi && !soundfontReady);
            if (needsName) {
                std::vector<const Footprint*> unfinished;
                for (int i = 0; i < next; ++i)
                    if (slots[static_cast<size_t>(i)] == Slot::Queued)
                        unfinished.push_back(&footprints[static_cast<size_t>(i)]);
                if (collisions.MayMeet(entry, unfinished)) break;  // after an earlier file
                std::string message;
                lock.unlock();
                const bool named = ResolveOutputPath(env.settings, entry, extension, message);
                if (!named) {
                    entry.OutputPath.clear();
                    rows.SetVolumeCell(next, "");
                    rows.SetOutputCell(next, message);
                }
                lock.lock();
                if (!named) {
                    slots[static_cast<size_t>(next)] = Slot::Done;
                    ++done;
                    ++next;
                    continue;
                }
            }
            footprints[static_cast<size_t>(next)] = {
                NormalPath(entry.Path), entry.OutputPath.empty() ? "" : NormalPath(entry.OutputPath)};
            slots[static_cast<size_t>(next)] = Slot::Queued;
            ++running;
            queue.push_back(next++);
            changed.notify_all();
        }

        // Rows in list order, as far as they are finished.
        int finished = printed;
        while (finished < count && (slots[static_cast<size_t>(finished)] == Slot::Done ||
                                    slots[static_cast<size_t>(finished)] == Slot::NotVisited))
            ++finished;
        if (finished > printed) {
            rows.PrintUpTo(finished);
            printed = finished;
        }
        if (running == 0 && (next == count || cancel.load())) break;

        changed.wait_for(lock, std::chrono::milliseconds(100));
        if (console.ShowsStatus()) {
            std::vector<std::string> lines;
            std::string runText;
            std::vector<std::string> files;
            for (const CProgressSink* sink : active) {
                if (!sink) continue;
                const CProgressSink::Snapshot s = sink->Read();
                runText = s.runText;
                files.push_back(StatusLines(s, false).front());
            }
            lines.push_back(Bar(static_cast<uint64_t>(done), static_cast<uint64_t>(count)) + " " +
                            runText);
            lines.insert(lines.end(), files.begin(), files.end());
            console.DrawStatus(lines);
        }
    }
    closing = true;
    changed.notify_all();
    lock.unlock();
    for (std::thread& t : workers) t.join();
    console.ClearStatus();
    rows.PrintUpTo(printed);
    return !cancel.load();
}

}  // namespace

bool RunEach(RunEnvironment& env, CCliHost& host, CConsole& console, CRowTable& rows,
             const std::vector<FileEntry*>& entries, const OutputFormatEntry& format, int jobs,
             const std::atomic<bool>& cancel) {
    if (entries.empty()) return true;
    if (!PrepareRunRuntimes(env, host, entries, format)) return true;
    if (jobs <= 1 || entries.size() == 1) return RunOneAfterAnother(env, host, rows, entries, format);
    jobs = std::min(jobs, static_cast<int>(entries.size()));
    return RunAtOnce(env, console, rows, entries, format, jobs, cancel);
}

void RunMerged(RunEnvironment& env, CCliHost& host, CRowTable& rows,
               const std::vector<FileEntry*>& entries, const OutputFormatEntry& format) {
    std::vector<int> rowIndices(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) rowIndices[i] = static_cast<int>(i);
    rows.SetPrintOnAdvance(true);
    ConvertAllToOne(env, host, entries, rowIndices, format);
    rows.SetPrintOnAdvance(false);
}

}  // namespace quelvox::cli
