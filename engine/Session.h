// The application under both front ends. A session owns the settings in
// use, the format catalogue, the list's entries (the path map), the WMA
// format list and the run configuration, holds the codec runtime, and keeps
// the rules around adding and converting: the folder search, the questions
// before a run, a merged target's refusal, the fix-up of a merged run's rows
// and which output to show afterwards. The window and quelvox-cli each hold
// one session and only render its events.
//
// Adding and converting are jobs: the session settles what needs the user
// on the caller's thread (IPlanHost), then starts the job, whose events
// arrive from its threads. One job at a time; while it runs, the session's
// settings and entries are the job's to read and fill.
//
//     CSession session(runtime, location);
//     session.StartAdding({items, AddMode::Dropped}, addEvents);
//     ... addEvents.AddFinished → session.FinishAdding(host);
//     RunPlan plan;
//     if (session.PlanRun(request, host, cells, chooseName, plan))
//         session.StartRun(std::move(plan), runEvents);
//     ... runEvents.Finished → session.FinishRun();
#pragma once

#include "common/FormatCatalogue.h"
#include "encoders/WmaFormats.h"
#include "engine/AddJob.h"
#include "engine/ConversionJob.h"
#include "engine/HostInterfaces.h"
#include "engine/RunPlan.h"
#include "engine/RunState.h"
#include "settings/Settings.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quelvox {

class CCodecRuntime;

// What the front end asks to convert.
struct RunRequest {
    // The files, in list order; the run's rows are indices here.
    std::vector<FileEntry*> entries;
    const OutputFormatEntry* format = nullptr;
    // Files converted at once (a merged run converts one at a time).
    int jobs = 1;
    bool merged = false;
    // The merged file's name came from the save dialog, which gave the
    // extension and asked before replacing a file.
    bool mergedFromDialog = false;
};

// A run's events after the session's own rules: a merged file that was not
// kept takes back its rows first (their notes are forgotten and, when the
// run was cancelled or the file could not be moved into place, they say
// why), then Finished arrives.
class ISessionRunEvents : public IRunEvents {
public:
    // The notes of `row` (a short source) no longer hold.
    virtual void ForgetRowNotes(int row) { (void)row; }
};

class CSession {
public:
    // `runtime` must be started and outlive the session. The settings are
    // loaded from `location`.
    explicit CSession(CCodecRuntime& runtime, const SettingsLocation& location = {},
                      std::atomic<bool>* interrupt = nullptr);
    // Cancels and waits for a job still running.
    ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    CSettings& Settings() { return settings_; }
    const CSettings& Settings() const { return settings_; }
    std::vector<OutputFormatEntry>& Catalogue() { return catalogue_; }
    std::map<std::string, FileEntry>& PathMap() { return pathMap_; }
    WmaFormatList& WmaFormats() { return wmaFormats_; }
    RunState& State() { return state_; }
    CCodecRuntime& Runtime() { return runtime_; }
    const SettingsLocation& Location() const { return location_; }

    // Whether the WMA runtime is loaded (with its format list built).
    bool WmaRuntimeReady();

    // ---- adding --------------------------------------------------------
    // Starts adding `request` (at once; nothing is asked). False when a
    // job is running already.
    bool StartAdding(AddRequest request, IAddEvents& events);
    // Adds `request` on the calling thread (Cancel stops it, from its
    // events or another thread), then offers a missing WMA
    // runtime through `host`; its outcome.
    AddOutcome AddNow(AddRequest request, IAddEvents& events, IPlanHost& host);
    // After AddFinished, on the front end's thread: ends the job and
    // offers a missing WMA runtime through `host`.
    AddOutcome FinishAdding(IPlanHost& host);
    bool IsAdding() const { return addJob_ != nullptr; }

    // Removes the entries of rows the front end removed.
    void RemoveEntries(const std::vector<const FileEntry*>& entries);
    void RemoveAllEntries() { pathMap_.clear(); }
    // Whether `path` names one of the listed sources (by any name).
    bool IsListedSource(const std::string& path) const;

    // ---- converting ----------------------------------------------------
    // Settles a run on the calling thread: the runtimes' questions through
    // `host`, then for a merged run the file's name (`chooseName`, which
    // may ask the user; empty means cancelled) and its target. A refused
    // target gives every row its reason through `cells` and in `refusal`.
    // True (with `plan` filled) when the run can start; its rows' volume
    // and output cells are then emptied through `cells`.
    bool PlanRun(const RunRequest& request, IPlanHost& host, IRowCells& cells,
                 const std::function<std::string()>& chooseName, RunPlan& plan,
                 Text* refusal = nullptr, std::vector<Text>* notes = nullptr);
    // Starts the planned run (at once). False when a job is running.
    bool StartRun(RunPlan plan, ISessionRunEvents& events);
    // Carries the planned run out on the calling thread (Cancel stops it);
    // its outcome.
    RunOutcome RunNow(RunPlan plan, ISessionRunEvents& events);
    // After Finished, on the front end's thread: ends the job.
    RunOutcome FinishRun();
    bool IsConverting() const { return runJob_ != nullptr; }

    // Asks the job in hand, if any, to stop.
    void Cancel();

private:
    class CRunRules;

    // A job made ready, and a job's end: what it held goes, and what it
    // left to ask is asked.
    void BeginAdding(AddRequest request, IAddEvents& events);
    AddOutcome EndAdding(AddOutcome outcome, IPlanHost& host);
    void BeginRun(RunPlan plan, ISessionRunEvents& events);
    RunOutcome EndRun(RunOutcome outcome);

    CCodecRuntime& runtime_;
    SettingsLocation location_;
    std::atomic<bool>* interrupt_;
    CSettings settings_;
    std::vector<OutputFormatEntry> catalogue_;
    std::map<std::string, FileEntry> pathMap_;
    WmaFormatList wmaFormats_;
    RunState state_;

    std::unique_ptr<IReaderServices> addServices_;
    std::unique_ptr<CAddJob> addJob_;
    std::unique_ptr<CRunRules> runRules_;
    std::unique_ptr<CConversionJob> runJob_;
};

}  // namespace quelvox
