#include "engine/ParallelRun.h"

#include "common/InputType.h"
#include "engine/OutputPath.h"
#include "settings/Settings.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <thread>

namespace quelvox {

namespace fs = std::filesystem;

void CSharedProgress::SetFileText(const std::string& text) {
    std::lock_guard lock(mutex_);
    now_.fileText = text;
}

void CSharedProgress::SetFileProgress(uint64_t position, uint64_t total) {
    std::lock_guard lock(mutex_);
    now_.position = position;
    now_.total = total == 0 ? 1 : total;
}

void CSharedProgress::SetRunText(const std::string& text) {
    std::lock_guard lock(mutex_);
    now_.runText = text;
}

void CSharedProgress::SetRunProgress(int done, int count) {
    std::lock_guard lock(mutex_);
    now_.done = done;
    now_.count = count;
}

void CSharedProgress::Pump() {
    if (onPump_) onPump_();
}

CSharedProgress::Snapshot CSharedProgress::Read() const {
    std::lock_guard lock(mutex_);
    return now_;
}

bool CSharedReaderServices::LoadWmaRuntime() {
    std::lock_guard lock(mutex_);
    return inner_.LoadWmaRuntime();
}

void CSharedReaderServices::OfferWmaRuntime() {
    std::lock_guard lock(mutex_);
    inner_.OfferWmaRuntime();
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

enum class Slot { Waiting, Queued, Done, NotVisited };

}  // namespace

bool ConvertAtOnce(RunEnvironment& env, IRowCells& rows, IParallelRunView& view,
                   const std::vector<FileEntry*>& entries, const OutputFormatEntry& format,
                   int jobs, const std::atomic<bool>& cancel) {
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
    std::vector<CSharedProgress*> active(static_cast<size_t>(count), nullptr);
    std::vector<std::string> fallbacks(static_cast<size_t>(count));
    int done = 0;
    // Files being converted right now: while fewer than the processors, a
    // conversion may decode ahead on a second thread (the tail of a run).
    std::atomic<int> converting{0};

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
            state.processors = env.state.processors;
            state.filesConverting = &converting;
            CSharedProgress progress(cancel);
            {
                std::lock_guard lock(mutex);
                active[static_cast<size_t>(j)] = &progress;
            }
            RunEnvironment own{env.settings, env.runtime, readers, env.wmaFormats, state};
            converting.fetch_add(1);
            ConvertListedFile(own, progress, rows, entry, j, j + 1, count, format, true,
                              fallbacks[static_cast<size_t>(j)]);
            converting.fetch_sub(1);
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
                if (named) fallbacks[static_cast<size_t>(next)] = message;
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
                NormalPath(entry.Path),
                entry.OutputPath.empty() ? "" : NormalPath(entry.OutputPath)};
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
            printed = finished;
            view.RowsFinished(printed);
        }
        if (running == 0 && (next == count || cancel.load())) break;

        changed.wait_for(lock, std::chrono::milliseconds(100));
        std::vector<const CSharedProgress*> inFlight;
        for (const CSharedProgress* sink : active)
            if (sink) inFlight.push_back(sink);
        view.Tick(done, count, inFlight);
    }
    closing = true;
    changed.notify_all();
    lock.unlock();
    for (std::thread& t : workers) t.join();
    return !cancel.load();
}

}  // namespace quelvox
