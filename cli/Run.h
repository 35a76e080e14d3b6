// The conversion runs of the command line: its host (no windows: questions
// are answered No and printed as warnings), one output per file in list
// order or with several files at once, and the merged run.
#pragma once

#include "cli/Rows.h"
#include "cli/Terminal.h"
#include "engine/ConversionRun.h"
#include "settings/Settings.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace quelvox::cli {

// The run host of a terminal: the progress goes to the console's status
// lines, row cells to the row table, questions are answered No (their text
// printed as a warning), and no window or browser is ever opened. The file
// manager request is remembered for --browse.
class CCliHost : public IRunHost {
public:
    CCliHost(CConsole& console, const std::atomic<bool>& cancel, std::string mergeFile = {});
    // The table that receives the cells; none while files are being added.
    void SetRows(CRowTable* rows) { rows_ = rows; }
    // The target-exists policy (TargetExistsOpt) for an existing merge file.
    void SetTargetExistsOpt(int option) { targetExistsOpt_ = option; }
    // The files being merged: the merge file may be none of them.
    void SetMergeSources(std::vector<std::string> sources) { mergeSources_ = std::move(sources); }

    IProgress& OpenProgress() override;
    void CloseProgress() override;
    bool AskQuestion(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void OpenInBrowser(const std::string&) override {}
    void OpenFolder(const std::string&) override {}
    void ShowInFileManager(const std::string&) override {}
    std::string ChooseMergedFile(const OutputFormatEntry& format) override;

    void SetVolumeCell(int row, const std::string& text) override {
        if (rows_) rows_->SetVolumeCell(row, text);
    }
    void SetOutputCell(int row, const std::string& text) override {
        if (rows_) rows_->SetOutputCell(row, text);
    }
    void ScrollToRow(int row) override {
        if (rows_) rows_->ScrollToRow(row);
    }
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds) override {
        if (rows_) rows_->NoteShortSource(row, claimedSeconds, heldSeconds);
    }

    CSharedProgress& Progress() { return progress_; }

private:
    CConsole& console_;
    CRowTable* rows_ = nullptr;
    CSharedProgress progress_;
    std::string mergeFile_;
    int targetExistsOpt_ = kTargetRename;
    std::vector<std::string> mergeSources_;
};

// One output per entry, `jobs` files at once (1 = one after another, on
// this thread). Rows print in list order as they finish. The runtime checks
// run once before any file. Every file is converted exactly as it would be
// in a run of one file after another: the same output names, track numbers
// (the list position) and row texts. Returns false when the run was
// cancelled.
bool RunEach(RunEnvironment& env, CCliHost& host, CConsole& console, CRowTable& rows,
             const std::vector<FileEntry*>& entries, const OutputFormatEntry& format, int jobs,
             const std::atomic<bool>& cancel);

// All entries joined into the host's merge file, one after another. The
// rows are the caller's to print afterwards: only then is it known whether
// the merged file was kept.
void RunMerged(RunEnvironment& env, CCliHost& host, const std::vector<FileEntry*>& entries,
               const OutputFormatEntry& format);

// The merge file as the save dialog would hand it over: absolute, with the
// format's extension added when the name has none or another one (`notes`
// then says so). An existing file follows the target-exists policy: 22
// keeps the name (the file is replaced once the merge is done), 33 skips
// (empty result, `notes` says why), anything else takes the first free
// "<stem>_<n>.<ext>". A name that is one of `sources` (by any path) is
// refused before the policy is looked at: empty result. An empty result
// puts the reason (an engine text) into `refusal`, if given.
std::string MergeTarget(const std::string& path, const OutputFormatEntry& format,
                        int targetExistsOpt, const std::vector<std::string>& sources,
                        std::vector<std::string>& notes, std::string* refusal = nullptr);

}  // namespace quelvox::cli
