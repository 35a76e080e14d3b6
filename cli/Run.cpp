#include "cli/Run.h"

#include "common/FormatCatalogue.h"
#include "engine/OutputPath.h"
#include "engine/ParallelRun.h"
#include "engine/PendingOutput.h"
#include "l10n/Translation.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace quelvox::cli {

namespace fs = std::filesystem;

CCliHost::CCliHost(CConsole& console, const std::atomic<bool>& cancel, std::string mergeFile)
    : console_(console), progress_(cancel), mergeFile_(std::move(mergeFile)) {
    // Without a status display (-q, or no terminal) nobody reads the texts
    // and nothing is drawn.
    progress_.SetShowsText(console_.ShowsStatus());
    if (console_.ShowsStatus())
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
    if (mergeFile_.empty()) return {};
    std::vector<std::string> notes;
    std::string refusal;
    std::string target =
        MergeTarget(mergeFile_, format, targetExistsOpt_, mergeSources_, notes, &refusal);
    for (const std::string& note : notes) console_.Warn(note);
    // A refused target: every row says why nothing was merged.
    if (target.empty() && rows_) {
        for (size_t row = 0; row < mergeSources_.size(); ++row)
            rows_->SetOutputCell(static_cast<int>(row), refusal);
    }
    return target;
}

std::string MergeTarget(const std::string& path, const OutputFormatEntry& format,
                        int targetExistsOpt, const std::vector<std::string>& sources,
                        std::vector<std::string>& notes, std::string* refusal) {
    std::string unused;
    if (!refusal) refusal = &unused;
    std::error_code ec;
    fs::path target = fs::absolute(path, ec);
    if (ec) target = path;
    target = target.lexically_normal();
    if (!target.has_filename()) {
        *refusal = FillText(kFileFailed, path.c_str());
        return {};
    }
    const std::string extension = std::string(".") + format.extension;
    if (target.has_extension()) {
        std::string given = target.extension().string();
        std::transform(given.begin(), given.end(), given.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (given != extension) {
            notes.push_back("the merge file gets the extension " + extension +
                            " of its format: " + target.string() + extension);
            target += extension;
        }
    } else {
        target += extension;
    }
    if (!fs::exists(fs::symlink_status(target, ec))) return target.string();
    for (const std::string& source : sources) {
        if (SameFile(target.string(), source)) {
            notes.push_back(target.string() + ": " + TranslateEngineTextUtf8(kSameAsSourceMessage));
            *refusal = kSameAsSourceMessage;
            return {};
        }
    }
    if (targetExistsOpt == kTargetOverwrite) return target.string();
    if (targetExistsOpt == kTargetSkip) {
        notes.push_back(target.string() + ": " + TranslateEngineTextUtf8(kTargetExistsSkipped));
        *refusal = kTargetExistsSkipped;
        return {};
    }
    const std::string stem = (target.parent_path() / target.stem()).string();
    for (int n = 1;; ++n) {
        const std::string candidate = stem + "_" + std::to_string(n) + extension;
        if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
    }
}

namespace {

// Prints finished rows and draws the run's bar with one line per file in
// flight.
class CTerminalRunView : public IParallelRunView {
public:
    CTerminalRunView(CConsole& console, CRowTable& rows) : console_(console), rows_(rows) {}

    void RowsFinished(int end) override { rows_.PrintUpTo(end); }
    bool ShowsText() const override { return console_.ShowsStatus(); }

    void Tick(int done, int count, const std::vector<const CSharedProgress*>& inFlight) override {
        if (!console_.ShowsStatus()) return;
        std::string runText;
        std::vector<std::string> files;
        for (const CSharedProgress* sink : inFlight) {
            const CSharedProgress::Snapshot s = sink->Read();
            runText = TranslateEngineTextUtf8(s.runText);
            files.push_back(StatusLines(s, false).front());
        }
        std::vector<std::string> lines{
            Bar(static_cast<uint64_t>(done), static_cast<uint64_t>(count)) + " " + runText};
        lines.insert(lines.end(), files.begin(), files.end());
        console_.DrawStatus(lines);
    }

private:
    CConsole& console_;
    CRowTable& rows_;
};

bool RunOneAfterAnother(RunEnvironment& env, CCliHost& host, CRowTable& rows,
                        const std::vector<FileEntry*>& entries, const OutputFormatEntry& format) {
    IProgress& progress = host.OpenProgress();
    const int count = static_cast<int>(entries.size());
    progress.SetRunProgress(0, count);
    progress.Pump();
    bool cancelled = false;
    for (int i = 0; i < count && !cancelled; ++i) {
        const FileOutcome outcome = ConvertListedFile(
            env, progress, rows, *entries[static_cast<size_t>(i)], i, i + 1, count, format);
        cancelled = outcome.cancelled;
        rows.PrintUpTo(i + 1);
    }
    host.CloseProgress();
    return !cancelled;
}

}  // namespace

bool RunEach(RunEnvironment& env, CCliHost& host, CConsole& console, CRowTable& rows,
             const std::vector<FileEntry*>& entries, const OutputFormatEntry& format, int jobs,
             const std::atomic<bool>& cancel) {
    if (entries.empty()) return true;
    if (!PrepareRunRuntimes(env, host, entries, format)) return true;
    // Each output folder is cleared of leftover temporary files once.
    CLeftoverSweep sweep;
    env.state.leftovers = &sweep;
    struct Restore {
        RunState& state;
        ~Restore() { state.leftovers = nullptr; }
    } restore{env.state};
    if (jobs <= 1 || entries.size() == 1)
        return RunOneAfterAnother(env, host, rows, entries, format);
    jobs = std::min(jobs, static_cast<int>(entries.size()));
    CTerminalRunView view(console, rows);
    const bool finished = ConvertAtOnce(env, rows, view, entries, format, jobs, cancel);
    console.ClearStatus();
    return finished;
}

void RunMerged(RunEnvironment& env, CCliHost& host, const std::vector<FileEntry*>& entries,
               const OutputFormatEntry& format) {
    std::vector<int> rowIndices(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) rowIndices[i] = static_cast<int>(i);
    const RunOutcome outcome = ConvertAllToOne(env, host, entries, rowIndices, format);
    // A cancelled merge keeps nothing (an existing target keeps its old
    // content): the rows appended to it were cancelled with it.
    if (outcome.cancelled && !outcome.mergedKept) {
        for (int row : outcome.appendedRows) {
            host.SetVolumeCell(row, "");
            host.SetOutputCell(row, kCancelledRow);
        }
    }
}

}  // namespace quelvox::cli
