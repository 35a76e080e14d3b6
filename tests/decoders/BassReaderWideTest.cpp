// CBassReader's wide delivery through libsndfile, libwavpack and
// libavcodec: depth,
// every channel, the file's channel positions, and 16-bit blocks on the
// 16-bit grid.
#include "decoders/BassReader.h"

#include "support/ChannelSupport.h"
#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <bit>

using namespace quelvox;
using namespace testsupport;

namespace {

std::vector<std::vector<float>> AllBlocks(CAudioReader& r, uint64_t* layout) {
    std::vector<std::vector<float>> p(static_cast<size_t>(r.GetBlockChannels()));
    AudioBlock b;
    while (r.ReadBlock(b) > 0) {
        *layout = b.Layout();
        for (int c = 0; c < b.Channels(); ++c)
            p[static_cast<size_t>(c)].insert(p[static_cast<size_t>(c)].end(), b.Channel(c),
                                             b.Channel(c) + b.frames);
    }
    return p;
}

TEST(BassReaderWide, TwentyFourBitFlacKeepsItsDepth) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    const std::string flac = MakeWithFfmpeg(
        dir, "hi.flac",
        "-f lavfi -i \"aevalsrc=0.3*sin(2*PI*1000*t):s=96000:d=1\" -c:a flac -sample_fmt s32 "
        "-bits_per_raw_sample 24");
    CBassReader r(rt);
    ASSERT_TRUE(r.Open(flac, 0));
    EXPECT_EQ(r.GetSourceBits(), 24);
    EXPECT_EQ(r.GetBlockChannels(), 1);
    uint64_t layout = 0;
    const auto p = AllBlocks(r, &layout);
    EXPECT_EQ(layout, channel::kMono);
    ASSERT_EQ(p[0].size(), 96000u);
    int finer = 0;
    for (float v : p[0]) finer += FloatToInt(v, 24) % 256 != 0;
    EXPECT_GT(finer, 90000);
}

TEST(BassReaderWide, SixChannelWavFollowsItsChannelMask) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    // Six channels with their mask; the tones tell the channels apart.
    const std::string wav = MakeSurroundTones(dir, "six.wav", "-c:a pcm_s16le");
    CBassReader r(rt);
    ASSERT_TRUE(r.Open(wav, 0));
    EXPECT_EQ(r.GetSourceBits(), 16);
    ASSERT_EQ(r.GetBlockChannels(), 6);
    uint64_t layout = 0;
    const auto p = AllBlocks(r, &layout);
    // The mask WAVE_FORMAT_EXTENSIBLE stores at offset 40.
    const std::vector<uint8_t> bytes = ReadFile(wav);
    ASSERT_EQ(bytes[20] | bytes[21] << 8, 0xFFFE);
    EXPECT_EQ(layout, static_cast<uint64_t>(bytes[40] | bytes[41] << 8));
    EXPECT_EQ(LayoutChannels(layout), 6);
    const double full = 0.1 * 32768;
    for (size_t c = 0; c < 6; ++c) {
        std::vector<int16_t> x;
        for (float v : p[c]) x.push_back(FloatToInt16(v));
        EXPECT_NEAR(ToneLevel(x, 48000, 48000, kSurroundToneHz[c]) / full, 1.0, 0.05) << c;
    }
}

TEST(BassReaderWide, SixteenBitStereoBlocksHoldReadsSamples) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    const std::string wav = dir.file("s.wav");
    WriteWav(wav, 44100, 2, Sine(5000, 2, 44100, 440.0));
    CBassReader a(rt), b(rt);
    ASSERT_TRUE(a.Open(wav, 0));
    ASSERT_TRUE(b.Open(wav, 0));
    const Decoded narrow = ReadAll(a);
    uint64_t layout = 0;
    const auto wide = AllBlocks(b, &layout);
    ASSERT_EQ(wide.size(), 2u);
    std::vector<int16_t> l, r;
    for (float v : wide[0]) l.push_back(FloatToInt16(v));
    for (float v : wide[1]) r.push_back(FloatToInt16(v));
    EXPECT_EQ(l, narrow.left);
    EXPECT_EQ(r, narrow.right);
    EXPECT_EQ(b.GetPosition(), a.GetPosition());
}

TEST(BassReaderWide, WavPackGivesDepthChannelsAndSixteenBitSamples) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    {
        SCOPED_TRACE("24-bit");
        const std::vector<int32_t> samples = FineSamples(10000, 24);
        WriteFile(dir.file("hi.wav"),
                  WavFileBytes(1, 2, 44100, 24, PackSamples(samples, 3, false)));
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(
            MakeWithFfmpeg(dir, "hi.wv", "-i " + Quote(dir.file("hi.wav")) + " -c:a wavpack"), 0));
        EXPECT_GT(r.GetSourceBits(), 16);
        const DecodedWide w = ReadAllWide(r);
        EXPECT_EQ(w.layout, channel::kStereo);
        EXPECT_TRUE(InterleavedInts(w, 24) == samples);
    }
    {
        SCOPED_TRACE("float");
        std::vector<float> samples;
        std::vector<int32_t> bits;
        for (int i = 0; i < 3000; ++i) {
            samples.push_back(static_cast<float>(i % 201 - 100) / 64.0f + 1.0f / 65536.0f / 7.0f);
            bits.push_back(std::bit_cast<int32_t>(samples.back()));
        }
        WriteFile(dir.file("f.wav"), WavFileBytes(3, 1, 44100, 32, PackSamples(bits, 4, false)));
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(
            MakeWithFfmpeg(dir, "f.wv",
                           "-i " + Quote(dir.file("f.wav")) + " -c:a wavpack -sample_fmt fltp"),
            0));
        const DecodedWide w = ReadAllWide(r);
        EXPECT_EQ(w.bits, 32);
        EXPECT_TRUE(InterleavedFloats(w) == samples);
    }
    {
        SCOPED_TRACE("six channels");
        // Side rather than back channels: a mask other than the default.
        std::string tones;
        for (double hz : kSurroundToneHz)
            tones += (tones.empty() ? "" : "|") + std::string("0.1*sin(2*PI*") +
                     std::to_string(static_cast<int>(hz)) + "*t)";
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(MakeWithFfmpeg(dir, "six.wv",
                                          "-f lavfi -i \"aevalsrc=" + tones +
                                              ":c=5.1(side):s=48000:d=3\" -c:a wavpack "
                                              "-sample_fmt s16p"),
                           0));
        const DecodedWide w = ReadAllWide(r);
        EXPECT_EQ(w.bits, 16);
        EXPECT_EQ(w.layout, channel::kFrontLeft | channel::kFrontRight | channel::kFrontCenter |
                                channel::kLowFrequency | channel::kSideLeft | channel::kSideRight);
        ExpectSurroundTones(w);
    }
    {
        SCOPED_TRACE("16-bit stereo");
        WriteWav(dir.file("s.wav"), 44100, 2, Sine(5000, 2, 44100, 440.0));
        const std::string wv =
            MakeWithFfmpeg(dir, "s.wv", "-i " + Quote(dir.file("s.wav")) + " -c:a wavpack");
        CBassReader a(rt), b(rt);
        ASSERT_TRUE(a.Open(wv, 0) && b.Open(wv, 0));
        ExpectSixteenBitStereoBlocks(a, b);
    }
}

TEST(BassReaderWide, AlacAndOggFlacKeepTheirDepthAndAacEveryChannelAtSixteenBits) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    const std::vector<int32_t> samples = FineSamples(10000, 24);
    WriteFile(dir.file("hi.wav"), WavFileBytes(1, 2, 44100, 24, PackSamples(samples, 3, false)));
    for (const auto& [name, codec] :
         {std::pair{"hi.m4a", "-c:a alac -sample_fmt s32p"},
          std::pair{"hi.oga", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24"}}) {
        SCOPED_TRACE(name);
        CBassReader r(rt);
        ASSERT_TRUE(
            r.Open(MakeWithFfmpeg(dir, name, "-i " + Quote(dir.file("hi.wav")) + " " + codec), 0));
        const DecodedWide w = ReadAllWide(r);
        EXPECT_EQ(w.bits, 24);
        EXPECT_EQ(w.layout, channel::kStereo);
        EXPECT_TRUE(InterleavedInts(w, 24) == samples);
    }
    {
        SCOPED_TRACE("six-channel AAC");
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(MakeSurroundTones(dir, "six.m4a", "-c:a aac -b:a 384k"), 0));
        const DecodedWide w = ReadAllWide(r);
        EXPECT_EQ(w.bits, 16);
        EXPECT_EQ(w.layout, DefaultLayout(6));
        ExpectSurroundTones(w);
        // Lossy samples stay on the 16-bit grid.
        for (float v : w.planes[0]) ASSERT_EQ(Int16ToFloat(FloatToInt16(v)), v);
    }
    {
        SCOPED_TRACE("stereo AAC");
        WriteWav(dir.file("s.wav"), 44100, 2, Sine(20000, 2, 44100, 440.0));
        const std::string aac =
            MakeWithFfmpeg(dir, "s.aac", "-i " + Quote(dir.file("s.wav")) + " -c:a aac");
        CBassReader a(rt), b(rt);
        ASSERT_TRUE(a.Open(aac, 0) && b.Open(aac, 0));
        ExpectSixteenBitStereoBlocks(a, b);
    }
}

}  // namespace
