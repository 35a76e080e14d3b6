// The front end's contract with the engine: the progress window, the cells
// of the file list, and the windows and shell services a run uses. The
// window implements them with its dialogs, the command line with a terminal
// display; tests inject their own.
#pragma once

#include <cstdint>
#include <string>

namespace quelvox {

struct OutputFormatEntry;

// The progress window as the engine sees it: two texts, two bars, a way to
// keep the front end alive, and the cancel flag.
class IProgress {
public:
    virtual ~IProgress() = default;
    // Text line of the current file ("开始转换 %s..." and the percentages).
    virtual void SetFileText(const std::string& text) = 0;
    // Bar of the current file; total 0 is counted as 1.
    virtual void SetFileProgress(uint64_t position, uint64_t total) = 0;
    // Text line of the run ("转换 %d of %d 文件到 %s...").
    virtual void SetRunText(const std::string& text) = 0;
    // Bar of the run: files begun out of files in the run.
    virtual void SetRunProgress(int done, int count) = 0;
    // Lets the front end process pending events (called once per block).
    virtual void Pump() = 0;
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
    virtual void SetOutputCell(int row, const std::string& text) = 0;
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
    virtual void NoteDocumentsFallback(int row, const std::string& path,
                                       const std::string& reason) {
        (void)row;
        (void)path;
        (void)reason;
    }
};

// The windows and shell services of the front end.
class IRunHost : public IRowCells {
public:
    // Shows the run's progress window (file and run texts and bars, the
    // cancel button) and returns it; CloseProgress hides it again.
    virtual IProgress& OpenProgress() = 0;
    virtual void CloseProgress() = 0;
    // The main window is disabled while a run goes on.
    virtual void SetMainWindowEnabled(bool enabled) { (void)enabled; }
    // A Yes/No question (question icon, caption "Quelvox"); true for Yes.
    virtual bool AskQuestion(const std::string& text) = 0;
    // A message (exclamation icon, caption "Quelvox").
    virtual void ShowWarning(const std::string& text) = 0;
    virtual void OpenInBrowser(const std::string& address) = 0;
    virtual void OpenFolder(const std::string& folder) = 0;
    // Opens the file manager with `path` selected.
    virtual void ShowInFileManager(const std::string& path) = 0;
    // The save dialog of a merged run; empty when cancelled.
    virtual std::string ChooseMergedFile(const OutputFormatEntry& format) = 0;
};

}  // namespace quelvox
