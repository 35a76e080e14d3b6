// What a run tells its front end: where it stands, its rows' cells and
// notes, which rows are final, and its outcome.
#pragma once

#include "engine/ConversionRun.h"
#include "engine/HostInterfaces.h"
#include "engine/ParallelRun.h"

#include <vector>

namespace quelvox {

// Where a run stands, for the front end's bars and texts.
struct RunProgress {
    int done = 0;   // files finished
    int count = 0;  // files in the run
    // Files finished plus the shares of the files in hand, out of 1.
    double runShare = 0.0;
    // The files in hand, on average, out of 1.
    double fileShare = 0.0;
    // The run's and the file's texts of the file begun last.
    Text runText;
    Text fileText;
    // Every file in hand, in list order.
    std::vector<CSharedProgress::Snapshot> files;
};

// The events of a run. Calls come from the job's threads, one at a time
// (never two at once); rows are indices into the plan's entries.
class IRunEvents : public IRowCells {
public:
    // Where the run stands, at most about ten times a second.
    virtual void Progress(const RunProgress& progress) { (void)progress; }
    // Whether Progress is shown anywhere; when not, the run sends only its
    // start, builds no progress texts and keeps no timer for the rest.
    virtual bool ShowsProgress() const { return true; }
    // The rows before `end` are final. Rows of a merged run are final once
    // it is known whether the merged file is kept.
    virtual void RowsFinished(int end) { (void)end; }
    // The last event of a run.
    virtual void Finished(const RunOutcome& outcome) { (void)outcome; }
};

// Reports the files in hand: `done` files finished out of `count`, and
// `inFlight` converting, in list order.
void ReportRunProgress(IRunEvents& events, int done, int count,
                       const std::vector<const CSharedProgress*>& inFlight);

}  // namespace quelvox
