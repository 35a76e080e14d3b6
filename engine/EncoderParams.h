// Choice of the encoder parameters (sample rate, channels, bit rate) that an
// FFmpeg-written output format receives, from the format entry's settings
// and the properties of the source.
#pragma once

#include <span>

#include "common/FormatCatalogue.h"

namespace quelvox {

// The list value nearest to `value`: an exact match is returned as is, a
// value below the first entry gives the first, above the last the last, and
// between two entries the nearer one (the lower on a tie). The list is
// ascending; a -1 entry, if present, ends it. An empty list (or one that
// starts with -1) returns `value` unchanged.
int SnapToList(int value, std::span<const int> list);

// Bit rate (bit/s) suggested for a sample rate and channel count (1 = mono,
// anything else stereo). When `rateOut` is given it receives the standard
// rate the suggestion belongs to.
int SuggestBitrate(int rate, int channels, int* rateOut = nullptr);

// Channel count adjusted to a codec's channel mask: 2 becomes 1 when stereo
// is not allowed, 1 becomes 2 when mono is not allowed.
int AdjustChannelsToMask(int channels, int mask);

// Channels and depth of a target for a source of `sourceChannels`
// (GetBlockChannels), `sourceBits` (GetSourceBits) and `sourceFloat`
// (GetSourceFloat): with automatic parameters a lossless target keeps a
// wider source's channels (up to its limit) and, where its codec follows
// the source, its depth (16 for sources of 16 bits or fewer), through the
// codec of that depth, a float source through the container's float codec
// where it has one; a codec of fixed width stores that width; everything
// else keeps `resolvedChannels` and 16 bits.
struct WideTarget {
    int channels = 0;
    int bits = 16;
    int codecId = 0;  // persisted codec id to write with
};
WideTarget ResolveWideTarget(const OutputFormatEntry& entry, int resolvedChannels,
                             int sourceChannels, int sourceBits, bool sourceFloat = false);

struct ResolvedParams {
    int sampleRate = 0;
    int channels = 0;
    int bitRate = 0;  // 0 = none / codec default
    const CodecEntry* codec = nullptr;
};

// Resolves rate, channels and bit rate for a format written by the FFmpeg
// writer. `srcRate` and `srcChannels` are the source reader's rate and
// output channel count (or the common values of a merged run);
// `blockChannels` the channels it delivers in blocks (0: as srcChannels).
// With automatic parameters a lossless codec keeps the source's rate where
// it stores it (KeepsSourceRate), and a surround codec keeps the largest
// surround choice the source fills, with the automatic bit rate of a
// stereo pair for each pair of channels. Returns false, leaving `out`
// untouched, when the entry's CodecID is not in its codec list (then the
// file cannot be converted to this entry).
bool ResolveEncoderParams(const OutputFormatEntry& entry, int srcRate, int srcChannels,
                          ResolvedParams& out, int blockChannels = 0);

}  // namespace quelvox
