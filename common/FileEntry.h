// One row of the file list.
#pragma once

#include "common/KnownLength.h"

#include <string>

namespace quelvox {

struct FileEntry {
    std::string Path;
    int Channels = 0;
    int SampleRate = 0;      // Hz
    int Bitrate = 0;         // kbit/s
    int Duration = 0;        // seconds
    int InputType = 0;       // decided by extension when the file is added
    std::string OutputPath;  // empty until a conversion of the row succeeded
    // The folder the user added (or dropped, or named on the command line)
    // that the file was found in; empty for a file named directly. A kept
    // folder tree can start there.
    std::string AddedRoot;
    // The exact length the reader found by reading the whole file when it
    // was added (MPEG audio), handed to the readers of its conversion.
    KnownLength ScannedLength;
};

}  // namespace quelvox
