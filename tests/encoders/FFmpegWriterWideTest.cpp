#include "encoders/FFmpegWriter.h"

#include "common/CodecIds.h"
#include "decoders/FFmpegReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <string>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

// channels[c][i]: the 24-bit integer sample i of channel c.
using Planes = std::vector<std::vector<int32_t>>;

// A distinct ramp per channel, with low bits a 16-bit sample cannot hold.
Planes Ramps(int channels, int frames) {
    Planes p(static_cast<size_t>(channels), std::vector<int32_t>(static_cast<size_t>(frames)));
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            p[static_cast<size_t>(c)][static_cast<size_t>(i)] =
                ((c + 1) * 911 * (i % 7919) + 13 * c) % 8388607 - 4194304;
    return p;
}

bool WriteBlocks(const std::string& container, int codecId, int rate, int bits, uint64_t layout,
                 const Planes& planes, const std::string& path) {
    CFFmpegWriter w;
    w.SetCodecParams({container, codecId});
    w.SetSampleRate(rate);
    w.SetChannels(static_cast<int>(planes.size()));
    w.SetChannelLayout(layout);
    w.SetSampleBits(bits);
    w.SetFileName(path);
    if (!w.Open()) return false;
    const int frames = static_cast<int>(planes[0].size());
    AudioBlock block;
    for (int at = 0; at < frames; at += kBlockFrames) {
        const int n = std::min(kBlockFrames, frames - at);
        block.Shape(static_cast<int>(planes.size()), kBlockFrames, layout, bits);
        for (int c = 0; c < block.Channels(); ++c)
            for (int i = 0; i < n; ++i)
                block.Channel(c)[i] = IntToFloat(
                    planes[static_cast<size_t>(c)][static_cast<size_t>(at + i)], 24);
        block.frames = n;
        if (!w.WriteBlock(block)) return false;
    }
    w.Close();
    return w.WriteError().empty();
}

// Every block channel of `path`, as 24-bit integers, and its layout.
Planes ReadBack(const std::string& path, uint64_t* layout, int* bits) {
    CFFmpegReader r;
    EXPECT_TRUE(r.Open(path, 0));
    *layout = r.GetChannelLayout();
    *bits = r.GetSourceBits();
    Planes p(static_cast<size_t>(r.GetBlockChannels()));
    AudioBlock block;
    while (r.ReadBlock(block) > 0)
        for (int c = 0; c < block.Channels(); ++c)
            for (int i = 0; i < block.frames; ++i)
                p[static_cast<size_t>(c)].push_back(FloatToInt(block.Channel(c)[i], 24));
    return p;
}

TEST(FFmpegWriterWide, TwentyFourBitWavAndFlacStoreEveryBit) {
    TempDir dir;
    const Planes in = Ramps(2, 3 * kBlockFrames + 5);
    for (const auto& [container, codec, name] :
         {std::tuple{"wav", int{kCodecPcmS24Le}, "hi.wav"},
          std::tuple{"flac", int{kCodecFlac}, "hi.flac"}}) {
        const std::string out = dir.file(name);
        ASSERT_TRUE(WriteBlocks(container, codec, 96000, 24, channel::kStereo, in, out)) << name;
        EXPECT_EQ(Probe(out, "sample_rate"), "96000") << name;
        uint64_t layout = 0;
        int bits = 0;
        EXPECT_EQ(ReadBack(out, &layout, &bits), in) << name;
        EXPECT_EQ(bits, 24) << name;
    }
}

TEST(FFmpegWriterWide, SixChannelWavCarriesItsChannelMask) {
    TempDir dir;
    const uint64_t surround = channel::kStereo | channel::kFrontCenter | channel::kLowFrequency |
                              channel::kSideLeft | channel::kSideRight;
    const Planes in = Ramps(6, 2000);
    const std::string out = dir.file("six.wav");
    ASSERT_TRUE(WriteBlocks("wav", kCodecPcmS24Le, 48000, 24, surround, in, out));
    // WAVE_FORMAT_EXTENSIBLE: format tag 0xFFFE at offset 20, channel mask
    // at offset 40.
    const std::vector<uint8_t> bytes = ReadFile(out);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(bytes[20] | bytes[21] << 8, 0xFFFE);
    EXPECT_EQ(bytes[22], 6);
    const uint32_t mask = static_cast<uint32_t>(bytes[40] | bytes[41] << 8 | bytes[42] << 16 |
                                                bytes[43] << 24);
    EXPECT_EQ(mask, surround);
    uint64_t layout = 0;
    int bits = 0;
    EXPECT_EQ(ReadBack(out, &layout, &bits), in);
    EXPECT_EQ(layout, surround);
}

TEST(FFmpegWriterWide, OpenRefusesMoreChannelsThanABlockHolds) {
    TempDir dir;
    CFFmpegWriter bad;
    bad.SetCodecParams({"wav", kCodecPcmS16Le});
    bad.SetSampleRate(48000);
    bad.SetChannels(9);
    bad.SetFileName(dir.file("y.wav"));
    EXPECT_FALSE(bad.Open());
}

}  // namespace

namespace {

TEST(FFmpegWriterWide, FloatInputReachesAFloatCodecUnrounded) {
    TempDir dir;
    CFFmpegWriter w;
    w.SetCodecParams({"wav", kCodecPcmF32Le});
    w.SetSampleRate(48000);
    w.SetChannels(2);
    w.SetFloatInput(true);
    const std::string out = dir.file("f.wav");
    w.SetFileName(out);
    ASSERT_TRUE(w.Open());
    AudioBlock b;
    b.Shape(2, kBlockFrames, 0, 32);
    for (int i = 0; i < 1000; ++i) {
        b.Channel(0)[i] = 0.123456789f * static_cast<float>(i % 7) / 7.0f;
        b.Channel(1)[i] = -1e-7f * static_cast<float>(i);
    }
    b.Channel(1)[5] = std::numeric_limits<float>::quiet_NaN();
    b.frames = 1000;
    ASSERT_TRUE(w.WriteBlock(b));
    w.Close();

    CFFmpegReader r;
    ASSERT_TRUE(r.Open(out, 0));
    EXPECT_EQ(r.GetSourceBits(), 32);
    AudioBlock got;
    ASSERT_EQ(r.ReadBlock(got), 1000);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(got.Channel(0)[i], b.Channel(0)[i]) << i;
        ASSERT_EQ(got.Channel(1)[i], i == 5 ? 0.0f : b.Channel(1)[i]) << i;
    }
}

}  // namespace

namespace {

TEST(FFmpegWriterWide, LossyFloatInputIsClippedNotPassedOn) {
    // LAME aborts on samples far beyond full scale; the writer clips them.
    TempDir dir;
    CFFmpegWriter w;
    w.SetCodecParams({"mp3", kCodecMp3});
    w.SetSampleRate(44100);
    w.SetChannels(2);
    w.SetBitrate(128000);
    w.SetFloatInput(true);
    const std::string out = dir.file("loud.mp3");
    w.SetFileName(out);
    ASSERT_TRUE(w.Open());
    // Random bit patterns: huge, tiny, infinite and NaN values.
    AudioBlock b;
    b.Shape(2, kBlockFrames, 0, 32);
    uint32_t bits = 12345;
    for (int k = 0; k < 20; ++k) {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < kBlockFrames; ++i) {
                bits = bits * 1664525u + 1013904223u;
                b.Channel(c)[i] = std::bit_cast<float>(bits);
            }
        b.frames = kBlockFrames;
        ASSERT_TRUE(w.WriteBlock(b));
    }
    w.Close();
    EXPECT_TRUE(w.WriteError().empty());
    EXPECT_EQ(Probe(out, "codec_name"), "mp3");
}

}  // namespace
