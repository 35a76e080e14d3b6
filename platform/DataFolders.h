// Where the program's data files are found: beside the program (a build
// folder, or a copy unpacked anywhere), then the user's data folder, then
// the system's data folders, as the XDG base directory rules name them.
#pragma once

#include <string>
#include <vector>

namespace quelvox {

// The user-writable data folder: $XDG_DATA_HOME/quelvox, or
// ~/.local/share/quelvox when XDG_DATA_HOME is unset or not absolute.
std::string UserDataFolder();

// The folders searched, in order: `programFolder` (when not empty), the
// user's data folder, and <dir>/quelvox for each absolute entry of
// $XDG_DATA_DIRS (default /usr/local/share:/usr/share). No folder twice.
std::vector<std::string> DataFolders(const std::string& programFolder);

// The first existing regular file (or link to one) named `relative` in the
// data folders; empty when there is none.
std::string FindDataFile(const std::string& programFolder, const std::string& relative);

}  // namespace quelvox
