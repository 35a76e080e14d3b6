#include "cli/Run.h"

#include "engine/Texts.h"
#include "l10n/Translation.h"

namespace quelvox::cli {

bool CCliPlanHost::AskQuestion(const Text& text) {
    console_.Warn(text);
    return false;
}

namespace {

// A run's events on the terminal.
class CTerminalEvents : public IRunEvents {
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

RunOutcome CarryOut(const CSettings& settings, CCodecRuntime& runtime, WmaFormatList& wmaFormats,
                    const RunState& state, RunPlan plan, CConsole& console, CRowTable& rows,
                    bool verbose, const std::atomic<bool>& cancel) {
    const bool merged = plan.merged;
    CTerminalEvents events(console, rows, merged, verbose);
    // The job runs on this thread and reads Ctrl+C's flag itself.
    CConversionJob job(settings, runtime, wmaFormats, state, std::move(plan), events, &cancel);
    RunOutcome outcome = job.Run();
    console.ClearStatus();
    if (!outcome.warning.empty()) console.Warn(outcome.warning);
    // A cancelled merge keeps nothing (an existing target keeps its old
    // content): the rows appended to it were cancelled with it.
    if (merged && outcome.cancelled && !outcome.mergedKept) {
        for (int row : outcome.appendedRows) {
            rows.SetVolumeCell(row, "");
            rows.SetOutputCell(row, EngineText(kCancelledRow));
        }
    }
    return outcome;
}

}  // namespace quelvox::cli
