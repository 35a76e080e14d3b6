// Adding files as a job, the way a run is one: the request is settled
// first, then the job collects the paths (searching folders) and probes them
// on worker threads, and the front end only hears of it through events:
// where it stands, the new rows in groups, and its outcome. Cancel is a
// call; nothing is ever asked while the job runs.
//
//     CAddJob job(settings, services, pathMap, request, events);
//     job.Start();   // returns at once; events arrive from the job's threads
//     job.Cancel();  // any time, from any thread
//     job.Wait();    // the outcome, also handed to events.AddFinished
#pragma once

#include "common/FileEntry.h"
#include "engine/AddFiles.h"
#include "settings/Settings.h"

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace quelvox {

// How the items of a request are taken.
enum class AddMode {
    // Exactly the files given (the open-file dialog).
    Chosen,
    // Folders searched, every file through the drop rules: hidden files,
    // the extension filter, shortcuts (a drop, the folder dialog).
    Dropped,
    // Folders searched, files named directly taken as given (the command
    // line); each file found in a folder remembers that folder.
    Arguments,
};

struct AddRequest {
    std::vector<std::string> items;
    AddMode mode = AddMode::Chosen;
};

struct AddOutcome {
    // The listing; empty when the search was cancelled before it.
    AddPathListResult result;
    // Cut short by a cancel, in the search or in the listing.
    bool stopped = false;
    // Symbolic links that loop, skipped by the search (not failures).
    std::vector<std::string> linkLoops;
    // Folders the search could not read.
    std::vector<std::string> unreadableFolders;
    // A file needed the WMA runtime, which is missing: the front end may
    // offer it (CSession::FinishAdding does).
    bool wmaRuntimeMissing = false;
};

// The events of an add job. Calls come from the job's threads, one at a
// time. Rows are new entries of the path map the job was given, in list
// order; the map holds them as long as it holds them.
class IAddEvents {
public:
    virtual ~IAddEvents() = default;
    // The text line and bar of the adding, at most every 15 ms (the
    // adding's window closes at its end, so the last state is not sent).
    virtual void AddProgress(const Text& text, uint64_t done, uint64_t total) {
        (void)text;
        (void)done;
        (void)total;
    }
    virtual void RowsAdded(const std::vector<const FileEntry*>& entries) = 0;
    // The last event of the job.
    virtual void AddFinished(const AddOutcome& outcome) { (void)outcome; }
};

class CAddJob {
public:
    // The job keeps its own copy of the settings. While it runs, only it
    // inserts into `pathMap` (the front end reads the entries it was
    // handed, which never move). `services` is shared by the probing
    // workers; its WMA runtime is only asked whether it is loaded.
    // `interrupt`, when given, is read as a second cancel request (Ctrl+C).
    CAddJob(const CSettings& settings, IReaderServices& services,
            std::map<std::string, FileEntry>& pathMap, AddRequest request, IAddEvents& events,
            std::atomic<bool>* interrupt = nullptr);
    // Cancels a job still running and waits for it.
    ~CAddJob();
    CAddJob(const CAddJob&) = delete;
    CAddJob& operator=(const CAddJob&) = delete;

    // Runs the job on a thread of its own (on the calling thread when the
    // system gives no thread).
    void Start();
    // Runs the job on the calling thread.
    AddOutcome Run();
    void Cancel() { cancel_ = true; }
    // Waits for a started job; its outcome.
    AddOutcome Wait();

private:
    bool Cancelled() const { return cancel_.load() || (interrupt_ && interrupt_->load()); }

    const CSettings settings_;
    IReaderServices& services_;
    std::map<std::string, FileEntry>& pathMap_;
    AddRequest request_;
    IAddEvents& events_;
    std::atomic<bool>* interrupt_;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
    AddOutcome outcome_;
};

}  // namespace quelvox
