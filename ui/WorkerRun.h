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

#include <vector>

class QObject;

namespace quelvox::ui {

class CProgressWindow;

// Runs the files of `entries` (list rows `rows`) `jobs` at once. `window`
// is the host on the window thread (its progress window, questions, cells
// and shell); `context` is the window's QObject, on whose thread the host
// is called. The runtime checks and questions come first, on the window
// thread; with BrowseOutputFolder set, the file manager shows the first
// output of a run that was not cancelled.
RunOutcome ConvertOnWorkers(RunEnvironment& env, IRunHost& window, QObject& context,
                            const std::vector<FileEntry*>& entries, const std::vector<int>& rows,
                            const OutputFormatEntry& format, int jobs);

}  // namespace quelvox::ui
