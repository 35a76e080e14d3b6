// Opening an input file with libavformat, after a look at the size fields
// its demuxer would trust.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
struct AVFormatContext;
struct AVInputFormat;
}

namespace quelvox::libav {

// Whether the size fields at the head of the file at `path` fit inside the
// file: each chunk of a RIFF WAVE file other than its sample data (which
// may be cut short), each header object of an ASF file. libavformat's
// demuxers allocate what such a field claims before they read it, so a
// small file claiming gigabytes would cost that much memory. True for a
// file of any other kind, and for one that cannot be read (the library
// then says why).
bool HeadSizesFitFile(const std::string& path);

// avformat_open_input on `path` (with `format`, or null to probe), refused
// with AVERROR_INVALIDDATA before the library reads anything when the
// file's size fields claim more than it holds.
int OpenInput(AVFormatContext** context, const std::string& path,
              const AVInputFormat* format = nullptr);

}  // namespace quelvox::libav
