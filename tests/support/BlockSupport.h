// 16-bit planes in and out of readers and writers for the tests that check
// 16-bit samples: a reader's next block as a 16-bit stereo target takes it,
// and 16-bit planes written as one block of a 16-bit source.
#pragma once

#include <algorithm>
#include <cstdint>

#include "common/AudioStream.h"

namespace testsupport {

// The reader's next block as 16-bit samples: folded to stereo when wider,
// rounded to nearest (CInt16Planes::Round without dither). `left` receives
// the first (or only) channel; `right`, when not null, the second of a
// stereo block. Returns ReadBlock's result.
inline int ReadInt16(quelvox::CAudioReader& reader, int16_t* left, int16_t* right) {
    quelvox::AudioBlock block;
    const int n = reader.ReadBlock(block);
    if (n <= 0 || !left) return n;
    quelvox::CInt16Planes planes;
    planes.Round(block, nullptr);
    std::copy_n(planes.Left(), block.frames, left);
    if (right && planes.Right()) std::copy_n(planes.Right(), block.frames, right);
    return n;
}

// Writes `frames` frames of `left` and `right` (null: a mono block) as one
// block of a 16-bit source; returns WriteBlock's result.
inline int WriteInt16(quelvox::CAudioWriter& writer, const int16_t* left, const int16_t* right,
                      int frames) {
    quelvox::AudioBlock block;
    const int n = std::max(frames, 0);
    block.Shape(right ? 2 : 1, std::max(n, 1));
    quelvox::Int16ToBlock(left, right, n, block);
    return writer.WriteBlock(block);
}

}  // namespace testsupport
