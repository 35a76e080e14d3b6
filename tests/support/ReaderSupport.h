// Helpers for the reader tests: reading a CAudioReader to its end, and the
// six-channel test signal with the check of its mix down to stereo.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/AudioStream.h"
#include "support/TestSupport.h"

namespace testsupport {

// Everything a reader delivered, by output channel.
struct Decoded {
    std::vector<int16_t> left, right;
    std::vector<int> blocks;    // frames returned by each Read
    uint64_t lastPosition = 0;  // GetPosition after the last block
};

// Reads to the end; the right buffer is only passed for stereo output.
inline Decoded ReadAll(quelvox::CAudioReader& reader) {
    using quelvox::kBlockFrames;
    Decoded d;
    int16_t l[kBlockFrames], r[kBlockFrames];
    const bool stereo = reader.GetOutputChannels() == 2;
    for (int guard = 0; guard < 1000000; ++guard) {
        int n = reader.Read(l, stereo ? r : nullptr);
        if (n <= 0) break;
        d.blocks.push_back(n);
        d.left.insert(d.left.end(), l, l + n);
        if (stereo) d.right.insert(d.right.end(), r, r + n);
        d.lastPosition = reader.GetPosition();
    }
    return d;
}

// Six tones at distinct frequencies, one per channel of the 5.1 layout
// (FL FR FC LFE SL SR); each at amplitude 0.1.
inline constexpr double kSurroundToneHz[6] = {300, 500, 700, 60, 900, 1100};

// Writes 3 s of the six tones at 48 kHz with ffmpeg, coded by `codecArgs`.
inline std::string MakeSurroundTones(const TempDir& dir, const std::string& name,
                                     const std::string& codecArgs) {
    std::string expr;
    for (double hz : kSurroundToneHz) {
        if (!expr.empty()) expr += "|";
        expr += "0.1*sin(2*PI*" + std::to_string(static_cast<int>(hz)) + "*t)";
    }
    return MakeWithFfmpeg(dir, name,
                          "-f lavfi -i \"aevalsrc=" + expr + ":c=5.1:s=48000:d=3\" " + codecArgs);
}

// The six tones mixed to stereo: front and surround channels reach their own
// side at full level and not the other, the centre both sides at 0.707.
inline void ExpectSurroundMixedToStereo(const Decoded& d) {
    const double full = 0.1 * 32768;
    auto level = [&](const std::vector<int16_t>& x, int ch) {
        return ToneLevel(x, 48000, 48000, kSurroundToneHz[ch]) / full;
    };
    // Left: FL and SL at full level; FR and SR absent.
    EXPECT_NEAR(level(d.left, 0), 1.0, 0.1);
    EXPECT_NEAR(level(d.left, 4), 1.0, 0.1);
    EXPECT_LT(level(d.left, 1), 0.05);
    EXPECT_LT(level(d.left, 5), 0.05);
    // Right: the mirror image.
    EXPECT_NEAR(level(d.right, 1), 1.0, 0.1);
    EXPECT_NEAR(level(d.right, 5), 1.0, 0.1);
    EXPECT_LT(level(d.right, 0), 0.05);
    EXPECT_LT(level(d.right, 4), 0.05);
    // Centre on both sides at the centre weight.
    EXPECT_NEAR(level(d.left, 2), 0.707, 0.08);
    EXPECT_NEAR(level(d.right, 2), 0.707, 0.08);
}

}  // namespace testsupport
