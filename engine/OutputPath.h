// Where the output of one file goes: next to its source or in a chosen
// folder (optionally below a copy of the source's folder path), what
// happens when the name is taken, and a last try in the user's documents
// folder.
#pragma once

#include "common/Text.h"

#include <functional>
#include <string>

#include "engine/Texts.h"

namespace quelvox {

struct CSettings;
struct FileEntry;

// Chooses the output path of `entry` for a format with `extension`
// (without the dot) and stores it in entry.OutputPath; returns true. On
// false, `message` holds the reason to show in the file's row. On true it
// is empty, unless the documents folder was taken because the chosen place
// failed: then it holds that failure.
//
// The chosen folder is tested for writability without touching any file
// there: with kTargetOverwrite an existing target is left in place, and
// the conversion replaces it only once it has succeeded. With any other
// policy nothing exists at the returned path.
//
// `writtenByRun` tells which paths the run has written already. The target
// policy is about files that were there before the run: a name the run
// wrote is never written again, whatever the policy, and the later file
// takes the next free number as the rename policy would give it.
using WrittenByRun = std::function<bool(const std::string& path)>;
bool ResolveOutputPath(const CSettings& settings, FileEntry& entry, const std::string& extension,
                       Text& message, const WrittenByRun& writtenByRun = {});

// Makes sure `path` exists as a folder, creating every missing level. True
// when it is a folder afterwards; false when a level exists as something
// else or cannot be created.
bool EnsureFolder(const std::string& path);

// Whether both names denote the same file: equal once absolute with links
// resolved, or the same file reached another way (a hard link).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace quelvox
