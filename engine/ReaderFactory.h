// Reader selection: turns a file's input type into an opened reader
// through the fixed chain of attempts (primary reader, a second attempt
// with the decoding-layer reader for Ogg and AIFF, and the FFmpeg fallback),
// and adds files to the list after probing them once.
#pragma once

#include "common/AudioStream.h"
#include "common/FileEntry.h"
#include "engine/RunState.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quelvox {

namespace bass {
class CBassRuntime;
}

// What the reader chain needs from the running program.
class IReaderServices {
public:
    virtual ~IReaderServices() = default;
    // The decoding layer's runtime (add-ons, default soundfont).
    virtual const bass::CBassRuntime& BassRuntime() const = 0;
    // Loads the WMA runtime if it is not loaded yet (and then builds the
    // WMA format list); true when it is available.
    virtual bool LoadWmaRuntime() = 0;
    // Tells the user that the WMA runtime is missing and offers to get it
    // (a question box in the window, a warning line on the command line).
    virtual void OfferWmaRuntime() = 0;
};

// Text of the error detail when no reader at all could open a file during
// a conversion.
Text SupportMessage();

// Builds an opened reader for `path`, owned by the caller, or null.
// `conversion` selects the full FFmpeg decoder as the fallback (otherwise
// the probe reader) and the support message on failure. `audioFound` is
// written only when an attempt fails: the failed reader's HasAudio answer.
// pass.retry is set when a primary reader (or the second attempt) was
// returned and cleared when the fallback was built; while it is set, the
// next call goes straight to the fallback.
// `known` is handed to every reader tried (CAudioReader::SetKnownLength):
// what adding the file learned, so that its conversion need not learn it
// again.
std::unique_ptr<CAudioReader> CreateReader(IReaderServices& services, PassNotes& pass,
                                           const std::string& path, int inputType, int renderRate,
                                           bool conversion, int& audioFound,
                                           const KnownLength& known = {});

// The file list as the reader chain fills it: rows are appended by the
// front end; the map keeps one entry per canonical absolute path.
class IFileList {
public:
    virtual ~IFileList() = default;
    // Appends a row for the entry and returns its 1-based index.
    virtual int AppendRow(const FileEntry& entry) = 0;
    // Appends a row for each entry, in order: one update of the list for
    // many rows where the front end can.
    virtual void AppendRows(const std::vector<const FileEntry*>& entries) {
        for (const FileEntry* entry : entries) AppendRow(*entry);
    }
};

// The key under which a path is kept in the path map: the absolute,
// canonical form of the path (file names are case-sensitive here).
std::string PathMapKey(const std::string& path);

// Adds one file: returns the index of the new row, 0 when the path is
// listed already (nothing added), -1 when no reader could open it (then
// pass.errorDetail may hold a note for CD tracks and SWF/FLV files) or
// the file holds no audio stream (pass.errorDetail is then "在文件中无音频").
// A new entry gets `addedRoot` as its AddedRoot. A CUE sheet adds one row
// per track (AddCueSheet): the index of the last is returned.
int AddFileEntry(IReaderServices& services, PassNotes& pass,
                 std::map<std::string, FileEntry>& pathMap, IFileList& list,
                 const std::string& path, const std::string& addedRoot = std::string());

// Removes the given entries (addresses of values in `pathMap`) from the
// map and destroys them; addresses that are not in the map are ignored.
// The entries are found by identity, not by recomputing their key: the
// file behind a path may have moved or been relinked since it was added,
// and its key today would name another entry or none. Returns how many
// entries were removed.
int RemoveFileEntries(std::map<std::string, FileEntry>& pathMap,
                      const std::vector<const FileEntry*>& entries);

}  // namespace quelvox
