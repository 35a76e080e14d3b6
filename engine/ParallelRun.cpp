#include "engine/ParallelRun.h"
#include "engine/RunEvents.h"

#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "engine/Normalise.h"
#include "engine/OutputPath.h"
#include "engine/PendingOutput.h"
#include "settings/Settings.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace quelvox {

namespace fs = std::filesystem;

void CSharedProgress::SetFileText(const Text& text) {
    std::lock_guard lock(mutex_);
    now_.fileText = text;
}

void CSharedProgress::SetFileProgress(uint64_t position, uint64_t total) {
    std::lock_guard lock(mutex_);
    now_.position = position;
    now_.total = total == 0 ? 1 : total;
}

void CSharedProgress::SetRunText(const Text& text) {
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

// NormalPath of many paths in few folders: a folder is resolved once per run
// and a file that is no link is its resolved folder plus its name, which is
// what NormalPath gives for it. Most files of a run share a folder, and
// resolving every level of a path costs a system call or two per level.
// Used by one thread.
class CNormalPaths {
public:
    std::string Folder(const std::string& folder) {
        auto found = folders_.find(folder);
        if (found != folders_.end()) return found->second;
        std::string normal = NormalPath(folder);
        folders_.emplace(folder, normal);
        return normal;
    }

    std::string File(const std::string& path) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(path, ec);
        const fs::path name = absolute.filename();
        if (ec || name.empty() || name == "." || name == ".." ||
            fs::is_symlink(fs::symlink_status(absolute, ec)) || ec)
            return NormalPath(path);
        return (fs::path(Folder(absolute.parent_path().string())) / name).string();
    }

private:
    std::unordered_map<std::string, std::string> folders_;
};

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
    CCollisionTest(const CSettings& settings, const std::string& extension, CNormalPaths& paths)
        : settings_(settings), extension_("." + extension), paths_(paths) {
        if (settings.OutputFiles2MyDocuments) documents_ = UserDocumentsFolder();
    }

    // Whether `entry`, about to be named, could touch a file of `running`.
    bool MayMeet(const FileEntry& entry, const std::vector<const Footprint*>& running) const {
        if (running.empty()) return false;
        const std::string source = paths_.File(entry.Path);
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
        std::vector<std::string> folders{paths_.Folder(sourceFolder.string())};
        for (const std::string* base : {&settings_.DestSpecifiedFolder, &documents_}) {
            if (base->empty()) continue;
            folders.push_back(paths_.Folder(*base));
            folders.push_back(paths_.Folder((fs::path(*base) / tree).string()));
        }
        return folders;
    }

    const CSettings& settings_;
    const std::string extension_;
    CNormalPaths& paths_;
    std::string documents_;
};

enum class Slot { Waiting, Queued, Done, NotVisited };

// Workers per processor at most, whatever the run asks for.
constexpr int kWorkersPerProcessor = 4;

}  // namespace

void ReportRunProgress(IRunEvents& events, int done, int count,
                       const std::vector<const CSharedProgress*>& inFlight) {
    RunProgress now;
    now.done = done;
    now.count = count;
    double sum = 0.0;
    for (const CSharedProgress* sink : inFlight) {
        CSharedProgress::Snapshot s = sink->Read();
        sum += static_cast<double>(std::min(s.position, s.total)) /
               static_cast<double>(std::max<uint64_t>(s.total, 1));
        now.runText = s.runText;
        now.fileText = s.fileText;
        now.files.push_back(std::move(s));
    }
    now.fileShare = inFlight.empty() ? 0.0 : sum / static_cast<double>(inFlight.size());
    now.runShare = count > 0 ? std::clamp((done + sum) / count, 0.0, 1.0) : 0.0;
    events.Progress(now);
}

bool ConvertAtOnce(RunEnvironment& env, IRunEvents& events,
                   const std::vector<FileEntry*>& entries, const OutputFormatEntry& format,
                   int jobs, CCancelFlags cancel) {
    const int count = static_cast<int>(entries.size());
    // Everything the conversions share is settled here, before they start:
    // the WMA runtime and its format list, and the soundfont (done by the
    // caller's checks). Afterwards the shared runtime is only read.
    CSharedReaderServices readers(env.readers);
    // The WMA runtime is loaded only for a run that writes or reads WMA:
    // loading it opens the large codec libraries.
    bool needsWma = SelectWriter(format) == WriterKind::Wma;
    for (const FileEntry* e : entries) needsWma = needsWma || e->InputType == kInputWma;
    if (needsWma) readers.LoadWmaRuntime();
    const bool soundfontReady = env.state.soundfontReady;
    const std::string extension = format.extension;
    // Names are chosen on this thread only, so the cache needs no lock.
    CNormalPaths paths;
    const CCollisionTest collisions(env.settings, extension, paths);
    // Nobody looks at the progress: no texts are built and no ticks sent.
    const bool ticks = events.ShowsProgress();
    // Each output folder is cleared of leftover temporary files once.
    CLeftoverSweep sweep;
    CLeftoverSweep* const leftovers = env.state.leftovers ? env.state.leftovers : &sweep;

    // With one loudness for all files, every file is measured before any
    // converts, on this thread; the view shows that pass as the first file.
    std::vector<LoudnessResult> measuredTracks(entries.size());
    std::vector<float> normalisationGains(entries.size(), -1.0f);
    LoudnessResult album;
    if (MeasuresAlbum(env.settings)) {
        RunState measuring;
        measuring.soundfontReady = soundfontReady;
        measuring.leftovers = leftovers;
        CSharedProgress progress(cancel);
        progress.SetShowsText(ticks);
        auto shown = std::chrono::steady_clock::now();
        if (ticks) {
            progress.SetPumpHandler([&] {
                const auto now = std::chrono::steady_clock::now();
                if (now - shown < std::chrono::milliseconds(100)) return;
                shown = now;
                ReportRunProgress(events, 0, count, {&progress});
            });
        }
        ConversionContext ctx{env.settings, measuring, progress, readers, &env.wmaFormats};
        MeasureLoudnessOfAll(ctx, entries, format, measuredTracks, album, &normalisationGains);
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<int> queue;
    bool closing = false;
    int running = 0;
    std::vector<Slot> slots(static_cast<size_t>(count), Slot::Waiting);
    std::vector<Footprint> footprints(static_cast<size_t>(count));
    std::vector<CSharedProgress*> active(static_cast<size_t>(count), nullptr);
    std::vector<Text> fallbacks(static_cast<size_t>(count));
    // Outputs the run has written, as the workers finish them (under the
    // lock), and as the naming thread knows them (normalised, its own):
    // a name the run wrote is never chosen again.
    std::vector<std::string> writtenNow;
    std::unordered_set<std::string> written;
    const WrittenByRun writtenByRun = [&](const std::string& path) {
        return !written.empty() && written.count(paths.File(path)) > 0;
    };
    // How often a queued or converting file has finished or been dropped.
    uint64_t finishes = 0;
    int done = 0;
    // Files being converted right now: while fewer than the processors, a
    // conversion may decode ahead on a second thread (the tail of a run).
    std::atomic<int> converting{0};

    // More workers than files, or than a few per processor, only cost
    // memory and start-up time.
    const int processors = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    jobs = std::clamp(jobs, 1, std::max(1, std::min(count, processors * kWorkersPerProcessor)));
    // One job needs no worker: this thread converts the files one after
    // another, as it does when the system gives no thread, and the view's
    // ticks then come from the conversion's block loop.
    bool convertingHere = jobs == 1;
    auto lastTick = std::chrono::steady_clock::now();

    // Converts queued file j; takes the lock itself.
    auto convert = [&](int j) {
        FileEntry& entry = *entries[static_cast<size_t>(j)];
        if (cancel.IsSet()) {
            // Named but never begun: left as a cancelled run leaves the
            // files after the one it stopped in.
            entry.OutputPath.clear();
            std::lock_guard lock(mutex);
            ++finishes;
            slots[static_cast<size_t>(j)] = Slot::NotVisited;
            --running;
            changed.notify_all();
            return;
        }
        RunState state;
        state.soundfontReady = soundfontReady;
        state.processors = env.state.processors;
        state.filesConverting = &converting;
        state.leftovers = leftovers;
        state.measuredTrack = measuredTracks[static_cast<size_t>(j)];
        state.measuredNormalisationGain = normalisationGains[static_cast<size_t>(j)];
        state.albumLoudness = album;
        CSharedProgress progress(cancel);
        progress.SetShowsText(ticks);
        if (convertingHere && ticks) {
            // No worker is running: `done` is only written here.
            progress.SetPumpHandler([&] {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastTick < std::chrono::milliseconds(100)) return;
                lastTick = now;
                ReportRunProgress(events, done, count, {&progress});
            });
        }
        {
            std::lock_guard lock(mutex);
            active[static_cast<size_t>(j)] = &progress;
        }
        RunEnvironment own{env.settings, env.runtime, readers, env.wmaFormats, state};
        converting.fetch_add(1);
        ConvertListedFile(own, progress, events, entry, j, j + 1, count, format, true,
                          fallbacks[static_cast<size_t>(j)]);
        converting.fetch_sub(1);
        std::lock_guard lock(mutex);
        active[static_cast<size_t>(j)] = nullptr;
        if (!entry.OutputPath.empty()) writtenNow.push_back(entry.OutputPath);
        ++finishes;
        slots[static_cast<size_t>(j)] = Slot::Done;
        ++done;
        --running;
        changed.notify_all();
    };
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
            convert(j);
        }
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < (convertingHere ? 0 : jobs); ++i) {
        // The system may refuse a thread (a process limit, no memory): the
        // run goes on with the workers it has, and with none this thread
        // converts the files itself, one after another.
        try {
            workers.emplace_back(worker);
        } catch (const std::system_error&) {
            break;
        }
    }
    convertingHere = workers.empty();
    jobs = std::max(1, static_cast<int>(workers.size()));

    int next = 0;
    int printed = 0;
    std::unique_lock lock(mutex);
    for (;;) {
        // Whatever finishes from here on wakes the wait below at once.
        const uint64_t seen = finishes;
        // Name and hand out the next files in list order. The names are
        // worked out with the lock released, so that workers can take and
        // finish files meanwhile; only this thread names files and writes
        // footprints.
        // One file per worker: naming more ahead measured slower on many tiny
        // files (the naming then competes with the conversions for the cores
        // and the output folder), so a file is named when a worker is free,
        // while the other workers go on converting.
        while (!cancel.IsSet() && next < count && running < jobs) {
            FileEntry& entry = *entries[static_cast<size_t>(next)];
            const bool needsName = !(entry.InputType == kInputMidi && !soundfontReady);
            // The earlier files still queued or converting (all before
            // `printed` have finished).
            std::vector<int> waitingOn;
            for (int i = printed; i < next; ++i)
                if (slots[static_cast<size_t>(i)] == Slot::Queued) waitingOn.push_back(i);
            const uint64_t finishesBefore = finishes;
            std::vector<std::string> justWritten;
            justWritten.swap(writtenNow);
            lock.unlock();
            for (const std::string& path : justWritten) written.insert(paths.File(path));
            bool meets = false;
            bool named = true;
            Text message;
            if (needsName) {
                std::vector<const Footprint*> unfinished;
                for (int i : waitingOn) unfinished.push_back(&footprints[static_cast<size_t>(i)]);
                meets = collisions.MayMeet(entry, unfinished);
                if (!meets) {
                    named = ResolveOutputPath(env.settings, entry, extension, message, writtenByRun);
                    if (named) fallbacks[static_cast<size_t>(next)] = message;
                    if (!named) {
                        entry.OutputPath.clear();
                        events.SetVolumeCell(next, "");
                        events.SetOutputCell(next, message);
                    }
                }
            }
            if (!meets && named)
                footprints[static_cast<size_t>(next)] = {
                    paths.File(entry.Path),
                    entry.OutputPath.empty() ? "" : paths.File(entry.OutputPath)};
            lock.lock();
            if (meets) {
                // After an earlier file: look again once one has finished.
                if (finishes != finishesBefore) continue;
                break;
            }
            if (!named) {
                slots[static_cast<size_t>(next)] = Slot::Done;
                ++done;
                ++next;
                continue;
            }
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
            lock.unlock();
            events.RowsFinished(printed);
            lock.lock();
        }
        if (running == 0 && (next == count || cancel.IsSet())) break;
        if (convertingHere && !queue.empty()) {
            const int j = queue.front();
            queue.pop_front();
            lock.unlock();
            convert(j);
            lock.lock();
            continue;
        }

        if (!ticks) {
            // Every file handed out ends with a notification, a cancelled
            // one too: nothing else needs this thread meanwhile.
            changed.wait(lock, [&] { return finishes != seen; });
            continue;
        }
        changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return finishes != seen; });
        const auto now = std::chrono::steady_clock::now();
        if (now - lastTick >= std::chrono::milliseconds(100)) {
            lastTick = now;
            std::vector<const CSharedProgress*> inFlight;
            for (const CSharedProgress* sink : active)
                if (sink) inFlight.push_back(sink);
            ReportRunProgress(events, done, count, inFlight);
        }
    }
    closing = true;
    changed.notify_all();
    lock.unlock();
    for (std::thread& t : workers) t.join();
    return !cancel.IsSet();
}

}  // namespace quelvox
