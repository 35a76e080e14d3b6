#include "cli/Run.h"

#include "engine/Texts.h"
#include "l10n/Translation.h"

namespace quelvox::cli {

bool CCliPlanHost::AskQuestion(const Text& text) {
    console_.Warn(text);
    return false;
}

namespace {

// The adding's events on the terminal.
class CTerminalAdding : public IAddEvents {
public:
    CTerminalAdding(CConsole& console, std::vector<FileEntry*>& entries)
        : console_(console), entries_(entries) {}

    void AddProgress(const Text& text, uint64_t done, uint64_t total) override {
        if (console_.ShowsStatus()) console_.DrawStatus({Bar(done, total) + " " + ShowTextUtf8(text)});
    }
    // The entries live in the session's path map, which outlives the run.
    void RowsAdded(const std::vector<const FileEntry*>& added) override {
        for (const FileEntry* entry : added) entries_.push_back(const_cast<FileEntry*>(entry));
    }

private:
    CConsole& console_;
    std::vector<FileEntry*>& entries_;
};

// A run's events on the terminal.
class CTerminalEvents : public ISessionRunEvents {
public:
    CTerminalEvents(CConsole& console, CRowTable& rows, bool merged, bool verbose)
        : console_(console), rows_(rows), merged_(merged), verbose_(verbose) {}

    void SetVolumeCell(int row, const std::string& text) override { rows_.SetVolumeCell(row, text); }
    void SetOutputCell(int row, const Text& text) override { rows_.SetOutputCell(row, text); }
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds) override {
        rows_.NoteShortSource(row, claimedSeconds, heldSeconds);
    }
    void NoteDocumentsFallback(int row, const std::string& path, const Text& reason) override {
        rows_.NoteDocumentsFallback(row, path, reason);
    }
    // Fields left out of an output: a line per file, and with -v a line
    // naming each field.
    void NoteDroppedTags(const DroppedTagNotes& notes) override {
        console_.Warn(notes.summary);
        if (!verbose_) return;
        for (const Text& field : notes.fields) console_.Warn(field);
    }
    void NoteFile(const Text& note) override { console_.Warn(note); }
    void RowsFinished(int end) override {
        if (!merged_) rows_.PrintUpTo(end);
    }
    bool ShowsProgress() const override { return console_.ShowsStatus(); }
    void Progress(const RunProgress& progress) override {
        if (!console_.ShowsStatus()) return;
        std::vector<std::string> lines{Bar(static_cast<uint64_t>(progress.done),
                                           static_cast<uint64_t>(progress.count)) +
                                       " " + ShowTextUtf8(progress.runText)};
        for (const CSharedProgress::Snapshot& file : progress.files)
            lines.push_back(StatusLines(file, false).front());
        console_.DrawStatus(lines);
    }

private:
    CConsole& console_;
    CRowTable& rows_;
    bool merged_;
    bool verbose_;
};

}  // namespace

AddOutcome AddArguments(CSession& session, const std::vector<std::string>& items,
                        CConsole& console, std::vector<FileEntry*>& entries) {
    CTerminalAdding adding(console, entries);
    CCliPlanHost host(console);
    const AddOutcome added = session.AddNow({items, AddMode::Arguments}, adding, host);
    console.ClearStatus();
    for (const std::string& folder : added.unreadableFolders)
        console.Warn(folder + ": folder not readable, skipped");
    for (const std::string& link : added.linkLoops)
        console.Warn(EngineText(kLinkLoopSkippedNote, link));
    if (!added.result.message.empty()) console.Warn(added.result.message);
    // The message above lists at most 30 files; here every one, with why.
    for (const AddPathListResult::Failure& failure : added.result.failures)
        console.Warn(failure.path + ": not added: " + ShowTextUtf8(failure.reason));
    return added;
}

RunOutcome CarryOut(CSession& session, RunPlan plan, CConsole& console, CRowTable& rows,
                    bool verbose) {
    CTerminalEvents events(console, rows, plan.merged, verbose);
    const RunOutcome outcome = session.RunNow(std::move(plan), events);
    console.ClearStatus();
    if (!outcome.warning.empty()) console.Warn(outcome.warning);
    return outcome;
}

}  // namespace quelvox::cli
