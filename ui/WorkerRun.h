// Conversions to separate files on worker threads, driven from the window.
//
// The window thread only draws: the engine's parallel runner (the one
// `quelvox-cli -j` uses) runs on a thread of its own with `jobs` workers,
// while the window thread spins its event loop, shows the run's progress
// from the runner's shared progress every 30 ms and turns Cancel into the
// runner's cancel flag. What workers ask of the window comes back to the
// window thread: row cells are queued to it, and a question (the WMA
// runtime offer) is asked there and its answer handed back to the worker
// that asked. Outputs, names, track numbers and row texts are those of a
// run of one file after another.
#pragma once

#include "engine/ConversionRun.h"

#include "engine/SilentProgress.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class QObject;

namespace quelvox::ui {

// The window's host as worker threads see it: cells are queued to the
// window thread; questions, messages and shell requests are carried out
// there while the worker waits for them. Rows are a run's 0-based indices,
// turned into the window's row numbers through `rows`. The window thread
// must be spinning its event loop while a worker waits.
class CWindowThreadHost : public IRunHost {
public:
    // With `progress`, the host is that of a whole run on another thread
    // (a merged run): OpenProgress shows the window's progress window and
    // hands the run `progress`, whose texts and bars the window thread
    // copies; the save dialog is the window's.
    CWindowThreadHost(IRunHost& window, QObject& context, const std::vector<int>& rows,
                      IProgress* progress = nullptr);

    void SetVolumeCell(int index, const std::string& text) override;
    void SetOutputCell(int index, const std::string& text) override;
    void ScrollToRow(int index) override;
    void WidenOutputColumn() override;
    void NoteShortSource(int index, double claimedSeconds, double heldSeconds) override;
    bool AskQuestion(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void OpenInBrowser(const std::string& address) override;
    void OpenFolder(const std::string& folder) override;
    void ShowInFileManager(const std::string& path) override;
    IProgress& OpenProgress() override;
    void CloseProgress() override;
    std::string ChooseMergedFile(const OutputFormatEntry& format) override;
    // The window's progress window while a run's progress is shown, or
    // null; for the window thread.
    IProgress* WindowProgress() const { return windowProgress_; }

private:
    int Row(int index) const;
    void Queue(std::function<void()> work);
    void Wait(const std::function<void()>& work);

    IRunHost& window_;
    QObject& context_;
    const std::vector<int>& rows_;
    IProgress* progress_;
    std::atomic<IProgress*> windowProgress_{nullptr};
    CSilentProgress silent_;
};

// Runs the files of `entries` (list rows `rows`) `jobs` at once. `window`
// is the host on the window thread (its progress window, questions, cells
// and shell); `context` is the window's QObject, on whose thread the host
// is called. The runtime checks and questions come first, on the window
// thread; with BrowseOutputFolder set, the file manager shows the first
// output of a run that was not cancelled.
RunOutcome ConvertOnWorkers(RunEnvironment& env, IRunHost& window, QObject& context,
                            const std::vector<FileEntry*>& entries, const std::vector<int>& rows,
                            const OutputFormatEntry& format, int jobs);

// All the rows into one file, run on a thread of its own while the window
// thread draws; the questions, the save dialog and the messages are the
// window's, on its thread. Rows of the outcome are the window's rows.
RunOutcome ConvertMergedOffThread(RunEnvironment& env, IRunHost& window, QObject& context,
                                  const std::vector<FileEntry*>& entries,
                                  const std::vector<int>& rows, const OutputFormatEntry& format);

}  // namespace quelvox::ui
