// Where the tags of a file sit around its audio: an ID3v2 tag (or several)
// and FLAC metadata blocks before it, APEv2 and ID3v1 tags after it. A
// bit rate worked out from the file's size counts only the bytes between,
// so that covers and lyrics do not make a 192 kbit/s file look like
// 900 kbit/s.
#pragma once

#include <cstdint>
#include <string>

namespace quelvox {

// Bytes of the file at `path` that are neither leading nor trailing tags;
// `fileSize` is its size (-1: not known, then -1 is returned). Tag sizes
// that claim more than the file holds count as the whole rest of it.
int64_t AudioDataBytes(const std::string& path, int64_t fileSize);

}  // namespace quelvox
