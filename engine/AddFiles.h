// Adding files and folders to the list: the folder search, the acceptance
// rule (hidden files, extension filter, shortcuts) and the batch step that
// probes every collected path and reports what could not be loaded.
//
// This is the part both front ends share. The window's open-file and
// folder dialogs and its drop handler collect paths and call these; the
// command line does the same with its arguments. The front end disables
// its main window around AddPathList and shows the closing message it
// returns (a message box captioned "Quelvox", or standard error). The
// files are opened on worker threads; the calling thread only lists what
// they found.
#pragma once

#include "engine/ReaderFactory.h"
#include "common/FileEntry.h"
#include "engine/HostInterfaces.h"
#include "engine/RunState.h"
#include "settings/Settings.h"

#include "common/Text.h"

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quelvox {

// How many shortcuts in a chain (a shortcut to a shortcut ...) are followed
// before the path is dropped.
constexpr int kMaxShortcutChain = 8;

// At most this many failed paths are listed in the closing message.
constexpr int kMaxListedFailures = 30;

// Whether the file name of `path` passes the extension filter: true when
// the filter is off (EnableExtFilter 0); otherwise the extension without
// its dot, lower-cased, must be one of settings.FilterExtList exactly. A
// name without an extension never passes an active filter.
bool PassesExtensionFilter(const CSettings& settings, const std::string& path);

// Whether the file name of `path` (the part after the last '/') marks a
// hidden file: it starts with '.'.
bool IsHiddenPath(const std::string& path);

// The acceptance rule for one file path: drops hidden files when
// DoNotLoadHiddenFiles is set and files the extension filter rejects, but
// follows a ".lnk" shortcut where either rule would drop it and judges its
// target again (at most kMaxShortcutChain shortcuts, a shortcut met twice
// ends the chain). Appends the accepted path to `pathList`; returns whether
// it did.
bool AcceptPath(const CSettings& settings, const std::string& path,
                std::vector<std::string>& pathList);

// The folders searched for `folder`: the folder itself first, then each
// subfolder's own list, depth first, entries in byte order of their names.
// Hidden folders are included. Symbolic links to folders are followed, but
// a folder already listed (by its canonical path) is not listed again, so
// link cycles end. Folders that cannot be read still appear (their
// subfolders are unknown).
std::vector<std::string> BuildFolderList(const std::string& folder);

// Appends every acceptable file below `folder` to `pathList`: the folders of
// BuildFolderList in order, each one's files in byte order of their names,
// through AcceptPath. Subfolders, "." and "..", and special files (FIFOs,
// sockets, devices: opening one could block the batch) are skipped; a folder
// that cannot be read is skipped without ending the search, and appended
// to `unreadable` when that is given. A symbolic link that loops (leads
// back to itself, ELOOP) is no file: it is skipped and appended to
// `linkLoops` when that is given.
// A search of a large tree takes a while: `progress` (may be null) is
// asked for every folder and file whether it is cancelled; once it is, the
// search stops and returns false (what was found so far stays appended).
// `roots`, when given, is kept as long as `pathList`: each path appended
// here gets `folder` (the folder the user added) at its index; paths
// appended before without a root get an empty one.
bool SearchFolder(const std::string& folder, const CSettings& settings,
                  std::vector<std::string>& pathList, IProgress* progress = nullptr,
                  std::vector<std::string>* unreadable = nullptr,
                  std::vector<std::string>* roots = nullptr,
                  std::vector<std::string>* linkLoops = nullptr);

// Collects the paths of dropped items (or command-line arguments), in the
// order given: a folder is searched with SearchFolder, anything else goes
// through AcceptPath. False when a search was cancelled (then the later
// items are not looked at). `roots`, when given, receives each path's
// added root as SearchFolder gives it; an item that is not a folder has
// none (empty). `linkLoops` receives the looping links SearchFolder skipped.
bool CollectDroppedPaths(const std::vector<std::string>& items, const CSettings& settings,
                         std::vector<std::string>& pathList, IProgress* progress = nullptr,
                         std::vector<std::string>* roots = nullptr,
                         std::vector<std::string>* linkLoops = nullptr);

// The support request that closes the message when nothing more specific
// is known.
std::string AddFailureSupportNote();

// What probing one path found, off the thread that lists it.
struct ProbedPath {
    // -1: not added (a failure), 0: listed already, 1: `entries` found.
    int outcome = -1;
    // The entries the path gives, in list order (a CUE sheet one per
    // track), each with its path map key.
    std::vector<std::pair<std::string, FileEntry>> entries;
    // When it failed: the note AddFileEntry left (may be empty) and the
    // reason in English.
    Text errorDetail;
    Text reason;
    // What the user should know of a path that was added (a CUE sheet
    // listed in part).
    std::vector<Text> notes;
};

// Probes `paths` as AddFileEntry would add them, on `threads` worker
// threads (0: one per processor; never more than there are paths) and
// returns once every path is probed or `cancel` is set. Each result goes
// to `onProbed` with the path's index, from a worker, as soon as it is
// known: in no particular order, never two at once. A path whose key is
// in `listedKeys` is listed already and not opened; one that is not valid
// UTF-8 or marked in `skip` (may be empty) is not looked at (outcome -1,
// no detail). `services` is shared by the workers: its WMA runtime
// question must have been asked before (see AddPathList).
void ProbePaths(IReaderServices& services, const std::vector<std::string>& paths,
                const std::vector<std::string>* roots, const std::set<std::string>& listedKeys,
                const std::vector<bool>& skip, int threads, const std::atomic<bool>& cancel,
                const std::function<void(size_t, ProbedPath&&)>& onProbed);

// A group of the closing message: the paths of the files that could not
// be added for one cause, each followed by a line break, and the note that
// explains them.
struct AddFailureGroup {
    std::string paths;
    Text note;
};

// Outcome of one batch.
struct AddPathListResult {
    int added = 0;           // new rows appended
    int listed = 0;          // paths that were in the list already
    int failed = 0;          // paths that could not be loaded
    int processed = 0;       // paths handled before the batch ended
    bool cancelled = false;  // stopped before the last path on request
    // The closing message ("无法载入以下文件.\n\n" and the groups, each its
    // paths and its note, separated by a blank line), then the notes below,
    // one a line; empty when nothing failed and there is no note. The front
    // end shows it (ShowText).
    Text message;
    std::vector<AddFailureGroup> groups;
    // Notes on paths that were added, in the order of the paths (a CUE
    // sheet of which only the first tracks are listed).
    std::vector<Text> notes;
    // Every path that could not be loaded, in order, with the reason in
    // English ("not found", "not readable", "not a regular file", "no
    // decoder accepts it", ...), for front ends that list them all.
    struct Failure {
        std::string path;
        Text reason;
    };
    std::vector<Failure> failures;
};

// The batch step. The files are probed on worker threads (ProbePaths);
// this thread takes their results in the order of `paths` and lists them.
// For each path, numbering from 1: the progress text
// "[%d/%d] 正在添加文件 %s.." (file name) through progress->SetFileText and
// the bar through SetFileProgress(number, total); then what AddFileEntry
// would do with it. Rows are appended in groups (IFileList::AppendRows),
// in the order of `paths`. Paths that are not valid UTF-8 fail without
// being opened. Failed paths are listed in the message (at most
// kMaxListedFailures, then "<more files>...").
// The batch stops after the path in hand once progress->IsCancelled() is
// true (the workers stop too; what they found beyond it is dropped).
// `progress` may be null.
// When a path (or the image of a CUE sheet among them) is a WMA file, the
// WMA runtime is loaded, and offered once when missing, on this thread
// before any probe starts.
// The message groups the failed paths by their cause, in the order the
// causes first occur, each group followed by its note: a name that is not
// valid UTF-8, the note AddFileEntry left for that file (CD tracks,
// SWF/FLV), or the support request for files without a known cause.
// `roots` (may be null, else as long as `paths`) gives each new entry its
// AddedRoot; a path listed already keeps the root it was added with.
// `threads` probe the files (0: one per processor).
AddPathListResult AddPathList(IReaderServices& services,
                              std::map<std::string, FileEntry>& pathMap, IFileList& list,
                              const std::vector<std::string>& paths, IProgress* progress,
                              const std::vector<std::string>* roots = nullptr, int threads = 0);

}  // namespace quelvox
