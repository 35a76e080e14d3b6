// The conversion runs of the command line: the plan's questions (answered
// No, their text printed as a warning; no window or browser is ever
// opened), and a run carried out as a job whose rows print in list order
// as they finish while the status lines show its progress.
#pragma once

#include "cli/Rows.h"
#include "cli/Terminal.h"
#include "engine/ConversionJob.h"
#include "engine/RunPlan.h"

#include <atomic>
#include <string>
#include <vector>

namespace quelvox::cli {

// Questions before a run or a batch of added files: printed as warnings and
// answered No.
class CCliPlanHost : public IPlanHost {
public:
    explicit CCliPlanHost(CConsole& console) : console_(console) {}
    bool AskQuestion(const Text& text) override;
    void OpenInBrowser(const std::string&) override {}
    void OpenFolder(const std::string&) override {}

private:
    CConsole& console_;
};

// Carries out `plan` as a job: cells go to `rows`, rows of a run of
// separate files print as they are final, the status lines show the files
// in hand. Setting `cancel` (Ctrl+C) cancels the job. A merged run's rows
// are left to the caller to print (a cancelled merge's appended rows say
// "已取消" first). Tag fields left out of an output are noted on standard
// error, each field named when `verbose`.
RunOutcome CarryOut(const CSettings& settings, CCodecRuntime& runtime, WmaFormatList& wmaFormats,
                    const RunState& state, RunPlan plan, CConsole& console, CRowTable& rows,
                    bool verbose, const std::atomic<bool>& cancel);

}  // namespace quelvox::cli
