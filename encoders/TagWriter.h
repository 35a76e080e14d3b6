// Writes a tag record onto a finished output file through TagLib, in the
// convention of its container: ID3v2.4 for MP3, Vorbis comments with
// pictures for FLAC, Ogg Vorbis and Ogg Opus, MP4 atoms, ASF attributes.
// Runs on the temporary output before it takes its final name, so a file
// whose tags cannot be saved is never committed half-tagged.
#pragma once

#include "common/FormatCatalogue.h"
#include "common/TagInfo.h"

#include <string>
#include <vector>

namespace quelvox {

// A field that was left out of the file, and why.
struct DroppedTagField {
    std::string field;   // e.g. "COMPILATION", "picture 2"
    std::string reason;  // plain English, for the terminal
};

struct TagWriteResult {
    bool saved = false;   // false: the file could not be opened or saved
    std::string error;    // why, when not saved
    bool writeFailed = false;  // the file system refused a write: `error` is its cause
    std::vector<DroppedTagField> dropped;
};

// Replaces every tag of the file at `path` with `tags`. A picture above
// kMaxPictureBytes, or a field the container cannot hold, is left out and
// listed in `dropped`; only a file that cannot be read or saved fails.
// TagFileKind::None touches nothing and succeeds.
TagWriteResult WriteTagFile(const std::string& path, TagFileKind kind, const TagInfo& tags);

}  // namespace quelvox
