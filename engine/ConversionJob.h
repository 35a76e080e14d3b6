// A run carried out: the plan's files converted on worker threads, each to
// its own output or all into one, reported through one channel of events.
// The job never asks anything and never waits for a front end: questions
// and the merged file's name are settled in the plan, the file manager and
// any closing message are left to the front end through the outcome.
//
//     CConversionJob job(settings, runtime, wmaFormats, state, plan, events);
//     job.Start();      // returns at once; events arrive from the job's threads
//     job.Cancel();     // any time, from any thread
//     job.Wait();       // the outcome, also handed to events.Finished
//
// A front end with nothing else to do on its thread calls job.Run() instead
// of Start and Wait; a flag of its own that it gives the job (set by its
// Ctrl+C handler) then cancels the job as Cancel does.
#pragma once

#include "engine/ConversionRun.h"
#include "engine/ParallelRun.h"
#include "engine/RunEvents.h"
#include "engine/RunPlan.h"
#include "settings/Settings.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quelvox {


class CConversionJob {
public:
    // The job keeps its own copy of the settings; `state` gives what the
    // front end knows already (whether the soundfont is loaded, the
    // processors to use). `runtime` and `wmaFormats` are only read while
    // the job runs (the plan loaded what it needs). `cancelSource`, when
    // given, is read wherever the job reads its own cancel flag: once set,
    // the job stops as after Cancel. It must outlive the job.
    CConversionJob(const CSettings& settings, CCodecRuntime& runtime, WmaFormatList& wmaFormats,
                   const RunState& state, RunPlan plan, IRunEvents& events,
                   const std::atomic<bool>* cancelSource = nullptr);
    // Cancels a job still running and waits for it.
    ~CConversionJob();
    CConversionJob(const CConversionJob&) = delete;
    CConversionJob& operator=(const CConversionJob&) = delete;

    // Runs the job on a thread of its own (on the calling thread when the
    // system gives no thread).
    void Start();
    // Runs the job on the calling thread.
    RunOutcome Run();
    // Asks the job to stop: files not begun are not converted, the one in
    // hand stops and leaves nothing behind.
    void Cancel() { cancel_ = true; }
    // Waits for a started job; its outcome.
    RunOutcome Wait();

private:
    RunOutcome RunEach();
    RunOutcome RunMerged();
    CCancelFlags Flags() const { return CCancelFlags(cancel_, cancelSource_); }

    CSettings settings_;
    CCodecRuntime& runtime_;
    WmaFormatList& wmaFormats_;
    RunState state_;
    RunPlan plan_;
    IRunEvents& events_;
    std::atomic<bool> cancel_{false};
    const std::atomic<bool>* cancelSource_;
    std::thread thread_;
    RunOutcome outcome_;
};

}  // namespace quelvox
