// The front end's contract with the engine. Before a run, the front end
// settles what needs the user (IPlanHost: questions, a browser, a folder);
// while a run goes on, the engine only reports: texts and bars of the file
// in hand (IProgress) and the cells of the rows (IRowCells). Texts travel
// as ids with arguments (common/Text.h) and are translated where shown.
#pragma once

#include "common/Text.h"
#include "engine/RunState.h"

#include <cstdint>
#include <string>

namespace quelvox {

// The progress of one conversion as the engine reports it: two texts, two
// bars, and the cancel flag. Implementations used by a run are read by the
// run's reporting, never drawn from the converting thread.
class IProgress {
public:
    virtual ~IProgress() = default;
    // Text line of the current file ("开始转换 %s..." and the percentages).
    virtual void SetFileText(const Text& text) = 0;
    // Bar of the current file; total 0 is counted as 1.
    virtual void SetFileProgress(uint64_t position, uint64_t total) = 0;
    // Text line of the run ("转换 %d of %d 文件到 %s...").
    virtual void SetRunText(const Text& text) = 0;
    // Bar of the run: files begun out of files in the run.
    virtual void SetRunProgress(int done, int count) = 0;
    // Called once per block on the converting thread: where a run's
    // reporting looks at the progress. Never processes a front end's events.
    virtual void Pump() {}
    // True once the user asked to cancel.
    virtual bool IsCancelled() const = 0;
    // Whether the two texts are shown anywhere; when not, the engine does
    // not build them (the bars are still set).
    virtual bool ShowsText() const { return true; }
};

// The cells of the file list that a run writes. Rows are the indices the
// front end handed to the run.
class IRowCells {
public:
    virtual ~IRowCells() = default;
    virtual void SetVolumeCell(int row, const std::string& text) = 0;
    virtual void SetOutputCell(int row, const Text& text) = 0;
    virtual void ScrollToRow(int row) { (void)row; }
    // Called when a failure text with a detail is shown, so the output
    // column can be widened to show it.
    virtual void WidenOutputColumn() {}
    // The row's source converted, but held clearly less audio than its
    // header claims (both lengths in seconds). Front ends may warn.
    virtual void NoteShortSource(int row, double claimedSeconds, double heldSeconds) {
        (void)row;
        (void)claimedSeconds;
        (void)heldSeconds;
    }
    // The output of `row` went to `path` in the documents folder because
    // the chosen place failed for `reason`.
    virtual void NoteDocumentsFallback(int row, const std::string& path, const Text& reason) {
        (void)row;
        (void)path;
        (void)reason;
    }
    // An output was committed without some of its source's tag fields.
    virtual void NoteDroppedTags(const DroppedTagNotes& notes) { (void)notes; }
    // Something else an output was committed without (a source's channels
    // beyond the eighth). Front ends show it as their other notes.
    virtual void NoteFile(const Text& note) { (void)note; }
    // A note on the row's volume (the loudness the ceiling held its output
    // at), for its tooltip.
    virtual void NoteVolume(int row, const Text& note) {
        (void)row;
        (void)note;
    }
};

// What a front end does for the engine before a run or a batch of added
// files starts, on the front end's own thread: a Yes/No question (true for
// Yes), a web address or a folder opened for the user.
class IPlanHost {
public:
    virtual ~IPlanHost() = default;
    virtual bool AskQuestion(const Text& text) = 0;
    virtual void OpenInBrowser(const std::string& address) = 0;
    virtual void OpenFolder(const std::string& folder) = 0;
};

}  // namespace quelvox
