// A run is settled before it starts: whatever needs the user (the runtimes'
// questions, the merged file's name) is decided on the front end's thread,
// and the result is a plain value the run carries out without asking
// anything. The command line fills the plan from its options, the window
// from its dialogs.
#pragma once

#include "common/FileEntry.h"
#include "common/Text.h"
#include "engine/HostInterfaces.h"

#include <string>
#include <vector>

namespace quelvox {

struct OutputFormatEntry;
struct RunEnvironment;

// The file a merged run writes, once its name is settled.
struct MergedTarget {
    // Absolute path; empty when there is nothing to write (`refusal` says
    // why, unless the user cancelled).
    std::string path;
    Text refusal;
    // What was changed about the name given (command line only).
    std::vector<Text> notes;
    // The file exists and the user chose to replace it: it is replaced once
    // the merge is done. Otherwise a file of that name that appears
    // meanwhile is kept as the target-exists policy says.
    bool replace = false;
};

// The one rule for a merged run's target. `chosen` is what the user named:
// from the save dialog (`fromDialog`: the dialog gave the extension and
// asked before replacing an existing file) or from the command line (made
// absolute, the format's extension added when the name has none or another
// one, an existing file handled by the target-exists policy: overwrite
// replaces it, skip refuses, rename takes the first free "<stem>_<n>.<ext>").
// A name that leads to one of `sources` (or a CUE track's image), by any
// path, is always refused: a merge never writes over its own input.
MergedTarget SettleMergedTarget(const std::string& chosen, const OutputFormatEntry& format,
                                const std::vector<FileEntry*>& sources, int targetExistsOpt,
                                bool fromDialog);

// What a run of `entries` to `format` needs: the WMA runtime for a WMA
// target or WMA sources, the MIDI soundfont for MIDI sources. Loads what it
// can, then asks through `host` about what is missing:
//  - a WMA target without the runtime: the question (Yes opens the
//    download page); the run does not start;
//  - WMA sources without the runtime: the same question, once; the run goes
//    on and those files fail;
//  - MIDI sources without the soundfont: the question naming the user's
//    data folder (Yes opens the folder and the download page, and the run
//    does not start; No goes on and the MIDI files fail).
// Also hands the settings' tag code page to the decoding layer. False when
// the run must not start.
bool SettleRunRuntimes(RunEnvironment& env, IPlanHost& host, const std::vector<FileEntry*>& entries,
                       const OutputFormatEntry& format);

// Everything a run carries out.
struct RunPlan {
    // The files, in list order; rows of the run's reports are indices here.
    std::vector<FileEntry*> entries;
    const OutputFormatEntry* format = nullptr;
    // Files converted at once (separate outputs only).
    int jobs = 1;
    // All files into one: the settled target.
    bool merged = false;
    MergedTarget target;
};

}  // namespace quelvox
