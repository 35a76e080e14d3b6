// A stream length learned by reading a whole file, kept with the file's
// identity so that a later opening of the unchanged file can skip the read.
#pragma once

#include <cstdint>

namespace quelvox {

struct KnownLength {
    // Decoded frames; 0 when nothing is known.
    uint64_t frames = 0;
    // Size in bytes and modification time (nanoseconds since the epoch)
    // of the file when it was read.
    int64_t fileSize = -1;
    int64_t modified = 0;
};

}  // namespace quelvox
