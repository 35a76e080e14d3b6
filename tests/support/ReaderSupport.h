// Helpers for the reader tests: reading a CAudioReader to its end as 16-bit
// stereo (ReadInt16) or as its blocks, and the six-channel test signal with
// the checks of its channels and of its mix down to stereo.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/AudioStream.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

namespace testsupport {

// Everything a reader delivered, by output channel.
struct Decoded {
    std::vector<int16_t> left, right;
    std::vector<int> blocks;    // frames of each block
    uint64_t lastPosition = 0;  // GetPosition after the last block
};

// Reads to the end through ReadInt16; the right buffer is only passed for
// stereo output.
inline Decoded ReadAll(quelvox::CAudioReader& reader) {
    using quelvox::kBlockFrames;
    Decoded d;
    int16_t l[kBlockFrames], r[kBlockFrames];
    const bool stereo = reader.GetOutputChannels() == 2;
    for (int guard = 0; guard < 1000000; ++guard) {
        int n = ReadInt16(reader, l, stereo ? r : nullptr);
        if (n <= 0) break;
        d.blocks.push_back(n);
        d.left.insert(d.left.end(), l, l + n);
        if (stereo) d.right.insert(d.right.end(), r, r + n);
        d.lastPosition = reader.GetPosition();
    }
    return d;
}

// Everything a reader delivered through ReadBlock.
struct DecodedWide {
    std::vector<std::vector<float>> planes;  // by block channel
    uint64_t layout = 0;                     // GetChannelLayout, which every block has
    int bits = 0;                            // GetSourceBits, which every block has
};

// Reads to the end through ReadBlock.
inline DecodedWide ReadAllWide(quelvox::CAudioReader& reader) {
    DecodedWide w;
    w.layout = reader.GetChannelLayout();
    w.bits = reader.GetSourceBits();
    w.planes.resize(static_cast<size_t>(reader.GetBlockChannels()));
    quelvox::AudioBlock b;
    for (int guard = 0; guard < 1000000 && reader.ReadBlock(b) > 0; ++guard) {
        EXPECT_LE(b.frames, quelvox::kBlockFrames);
        EXPECT_EQ(b.Layout(), w.layout);
        EXPECT_EQ(b.SourceBits(), w.bits);
        EXPECT_EQ(static_cast<size_t>(b.Channels()), w.planes.size());
        for (size_t c = 0; c < std::min(w.planes.size(), static_cast<size_t>(b.Channels())); ++c)
            w.planes[c].insert(w.planes[c].end(), b.Channel(static_cast<int>(c)),
                               b.Channel(static_cast<int>(c)) + b.frames);
    }
    return w;
}

// The samples of every channel interleaved, as integers of `bits` bits
// (FloatToInt).
inline std::vector<int32_t> InterleavedInts(const DecodedWide& w, int bits) {
    std::vector<int32_t> v;
    for (size_t i = 0; !w.planes.empty() && i < w.planes[0].size(); ++i)
        for (const auto& p : w.planes) v.push_back(quelvox::FloatToInt(p[i], bits));
    return v;
}

// The same as float.
inline std::vector<float> InterleavedFloats(const DecodedWide& w) {
    std::vector<float> v;
    for (size_t i = 0; !w.planes.empty() && i < w.planes[0].size(); ++i)
        for (const auto& p : w.planes) v.push_back(p[i]);
    return v;
}

// `count` samples of `bits` bits (16 … 32) that use their low byte,
// neighbours apart.
inline std::vector<int32_t> FineSamples(int count, int bits) {
    std::vector<int32_t> v;
    const int64_t span = (int64_t{1} << bits) - 1001;
    for (int64_t i = 0; i < count; ++i)
        v.push_back(static_cast<int32_t>((i * 7919 * 2039) % span - span / 2));
    return v;
}

// Samples as `bytes`-byte integers in either byte order.
inline std::vector<uint8_t> PackSamples(const std::vector<int32_t>& samples, int bytes,
                                        bool bigEndian) {
    std::vector<uint8_t> v;
    for (int32_t s : samples)
        for (int b = 0; b < bytes; ++b)
            v.push_back(static_cast<uint8_t>(s >> (8 * (bigEndian ? bytes - 1 - b : b))));
    return v;
}

// Reads two readers of the same 16-bit stereo file, one as 16-bit samples
// (ReadAll) and one as blocks: the blocks are stereo blocks of a 16-bit
// source whose samples all lie on the 16-bit grid, they hold the same
// samples, and both readers end at the same position.
inline void ExpectSixteenBitStereoBlocks(quelvox::CAudioReader& narrow,
                                         quelvox::CAudioReader& wide) {
    const Decoded n = ReadAll(narrow);
    const DecodedWide w = ReadAllWide(wide);
    EXPECT_EQ(w.bits, 16);
    ASSERT_EQ(w.planes.size(), 2u);
    std::vector<int16_t> l, r;
    for (const auto& plane : w.planes)
        for (float v : plane) ASSERT_EQ(quelvox::Int16ToFloat(quelvox::FloatToInt16(v)), v);
    for (float v : w.planes[0]) l.push_back(quelvox::FloatToInt16(v));
    for (float v : w.planes[1]) r.push_back(quelvox::FloatToInt16(v));
    EXPECT_FALSE(l.empty());
    EXPECT_EQ(l, n.left);
    EXPECT_EQ(r, n.right);
    EXPECT_EQ(wide.GetPosition(), narrow.GetPosition());
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

// Each block channel of a six-channel source carries its own tone of
// kSurroundToneHz within `tolerance` of its level, and no other tone.
inline void ExpectSurroundTones(const DecodedWide& w, double tolerance = 0.05) {
    ASSERT_EQ(w.planes.size(), 6u);
    const double full = 0.1 * 32768;
    for (size_t c = 0; c < 6; ++c) {
        std::vector<int16_t> x;
        for (float v : w.planes[c]) x.push_back(quelvox::FloatToInt16(v));
        for (size_t t = 0; t < 6; ++t) {
            const double level = ToneLevel(x, 48000, 48000, kSurroundToneHz[t]) / full;
            if (t == c)
                EXPECT_NEAR(level, 1.0, tolerance) << c;
            else
                EXPECT_LT(level, 0.1) << c << " " << t;
        }
    }
}

// The six tones mixed to stereo: front and surround channels reach their own
// side at full level and not the other, the centre both sides at 0.707, all
// scaled by 1 / 3.414 so that each side's weights add up to 1.
inline void ExpectSurroundMixedToStereo(const Decoded& d) {
    const double full = 0.1 * 32768 / 3.414;
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
