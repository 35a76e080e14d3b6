// The command line's side of a session: the plan's questions (answered No,
// their text printed as a warning; no window or browser is ever opened),
// the adding's status line, and a run whose rows print in list order as
// they finish while the status lines show its progress.
#pragma once

#include "cli/RowTable.h"
#include "cli/Console.h"
#include "engine/Session.h"

#include <string>
#include <vector>

namespace quelvox::cli {

// Questions before a run or after a batch of added files: printed as
// warnings and answered No.
class CCliPlanHost : public IPlanHost {
public:
    explicit CCliPlanHost(CConsole& console) : console_(console) {}
    bool AskQuestion(const Text& text) override;
    void OpenInBrowser(const std::string&) override {}
    void OpenFolder(const std::string&) override {}

private:
    CConsole& console_;
};

// Adds `items` as the command line takes them (folders searched, files
// named directly taken as given), with the status line drawn meanwhile,
// and prints what could not be added. The entries of the new rows, in
// list order, go to `entries`; the outcome is returned.
AddOutcome AddArguments(CSession& session, const std::vector<std::string>& items,
                        CConsole& console, std::vector<FileEntry*>& entries);

// Carries out the planned run on this thread: cells go to `rows`, rows of
// a run of separate files print as they are final, the status lines show
// the files in hand. A merged run's rows are left to the caller to print.
// Tag fields left out of an output are noted on standard error, each
// field named when `verbose`.
RunOutcome CarryOut(CSession& session, RunPlan plan, CConsole& console, CRowTable& rows,
                    bool verbose);

}  // namespace quelvox::cli
