// One row of the file list.
#pragma once

#include "common/KnownLength.h"
#include "common/TagInfo.h"

#include <cstdint>

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

    // A track of a CUE sheet (Path is then the sheet): the audio image it
    // is cut from, empty for an ordinary file. The track runs from
    // TrackStart to TrackEnd in 1/75 s frames of the image (TrackEnd -1:
    // to the image's end); TrackName is its "NN - Title" and TrackTags
    // what the sheet says about it (empty texts: the sheet is silent).
    std::string ImagePath;
    int ImageInputType = 0;
    int64_t TrackStart = 0;
    int64_t TrackEnd = -1;
    std::string TrackName;
    TagInfo TrackTags;
};

}  // namespace quelvox
