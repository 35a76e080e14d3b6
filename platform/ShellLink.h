// Shell shortcuts: reading Windows shell link (.lnk) files and finding the
// file they point to on this system.
//
// A .lnk file is a binary record: a 76-byte header (size 0x4C, the shell
// link class id, flags), an optional item-id list of the target, an
// optional LinkInfo block holding the target's local path, and optional
// counted strings (name, relative path, ...). We read only what leads to the
// target: the local path (LocalBasePath followed by CommonPathSuffix, the
// Unicode forms preferred where present) and the relative path.
//
// On Linux the native shortcut is the symbolic link, which the file system
// follows by itself; .lnk files reach us when they were copied from Windows
// or written for this program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelvox {

// Links larger than this are not shortcuts anyone made by hand; reading
// them is refused rather than loading an arbitrary file into memory.
constexpr size_t kMaxShellLinkSize = 1 << 20;

// What a shell link says about its target, as UTF-8 text. Either field may
// be empty when the link does not carry it.
struct ShellLinkTarget {
    // Full local path of the target (LocalBasePath + CommonPathSuffix),
    // e.g. "C:\Music\a.wav", or "/home/u/a.wav" in a link made for Linux.
    std::string localPath;
    // Path of the target relative to the link's folder, e.g. ".\a.wav".
    std::string relativePath;
};

// Parses `size` bytes of a shell link. Returns false (and leaves `target`
// empty) when the bytes are not a well-formed shell link: wrong header
// size or class id, or any block, offset or string that would reach past
// the data. Never reads outside [data, data + size).
bool ParseShellLink(const uint8_t* data, size_t size, ShellLinkTarget& target);

// Reads the file at `linkPath` (at most kMaxShellLinkSize bytes) and parses
// it. False when the file cannot be read, is too large, or is malformed.
bool ReadShellLink(const std::string& linkPath, ShellLinkTarget& target);

// Finds the existing file or folder a shortcut file points to, one level
// deep. Candidates, in order; the first that exists is the result:
//   1. the local path, when it is an absolute POSIX path ("/...");
//   2. the relative path, backslashes read as '/', below the link's folder;
//   3. for a Windows local path ("C:\Music\a.wav", "\\server\share\a.wav"),
//      its file name beside the link -- a link copied from Windows together
//      with the files it points to.
// A drive-letter path is never used as it stands: no such path exists here.
// Returns false when the link is malformed or no candidate exists.
bool ResolveShortcut(const std::string& linkPath, std::string& target);

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD. Reads exactly
// `units` code units from `data` (2 * units bytes).
std::string Utf16LeToUtf8(const uint8_t* data, size_t units);

}  // namespace quelvox
