// CBassReader's wide delivery through libsndfile, libwavpack and
// libavcodec: depth,
// every channel, the file's channel positions, and 16-bit blocks equal to
// Read's.
#include "decoders/BassReader.h"

#include "support/ChannelSupport.h"
#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

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

// Stereo frames of 24-bit samples that use their low byte, the channels
// different, as a WAV file's data.
std::vector<uint8_t> TwentyFourBitData(int frames, std::vector<int32_t>& samples) {
    std::vector<uint8_t> data;
    for (int i = 0; i < frames * 2; ++i) {
        const int32_t s =
            static_cast<int32_t>((static_cast<int64_t>(i) * 7919) % 16000001) - 8000000;
        samples.push_back(s);
        for (int b = 0; b < 3; ++b) data.push_back(static_cast<uint8_t>(s >> (8 * b)));
    }
    return data;
}

// Interleaved integers of `bits` bits from every block.
std::vector<int32_t> Interleaved(const std::vector<std::vector<float>>& p, int bits) {
    std::vector<int32_t> v;
    for (size_t i = 0; i < p[0].size(); ++i)
        for (const auto& c : p) v.push_back(FloatToInt(c[i], bits));
    return v;
}

// Whether each channel of `p` carries its own tone of kSurroundToneHz.
void ExpectSurroundTones(const std::vector<std::vector<float>>& p) {
    ASSERT_EQ(p.size(), 6u);
    const double full = 0.1 * 32768;
    for (size_t c = 0; c < 6; ++c) {
        std::vector<int16_t> x;
        for (float v : p[c]) x.push_back(FloatToInt16(v));
        EXPECT_NEAR(ToneLevel(x, 48000, 48000, kSurroundToneHz[c]) / full, 1.0, 0.05) << c;
    }
}

// Blocks of `path` as 16-bit samples against Read's.
void ExpectBlocksHoldReadsSamples(bass::CBassRuntime& rt, const std::string& path) {
    CBassReader a(rt), b(rt);
    ASSERT_TRUE(a.Open(path, 0));
    ASSERT_TRUE(b.Open(path, 0));
    EXPECT_EQ(b.GetSourceBits(), 16);
    const Decoded narrow = ReadAll(a);
    uint64_t layout = 0;
    const auto wide = AllBlocks(b, &layout);
    ASSERT_EQ(wide.size(), 2u);
    std::vector<int16_t> l, r;
    for (float v : wide[0]) l.push_back(FloatToInt16(v));
    for (float v : wide[1]) r.push_back(FloatToInt16(v));
    EXPECT_EQ(l, narrow.left);
    EXPECT_EQ(r, narrow.right);
    EXPECT_FALSE(l.empty());
}

TEST(BassReaderWide, WavPackGivesDepthChannelsAndSixteenBitSamples) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    {
        SCOPED_TRACE("24-bit");
        std::vector<int32_t> samples;
        WriteFile(dir.file("hi.wav"),
                  WavFileBytes(1, 2, 44100, 24, TwentyFourBitData(5000, samples)));
        const std::string wv =
            MakeWithFfmpeg(dir, "hi.wv", "-i " + Quote(dir.file("hi.wav")) + " -c:a wavpack");
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(wv, 0));
        EXPECT_GT(r.GetSourceBits(), 16);
        uint64_t layout = 0;
        const auto p = AllBlocks(r, &layout);
        ASSERT_EQ(p.size(), 2u);
        EXPECT_EQ(layout, channel::kStereo);
        EXPECT_TRUE(Interleaved(p, 24) == samples);
    }
    {
        SCOPED_TRACE("float");
        std::vector<uint8_t> data;
        std::vector<float> samples;
        for (int i = 0; i < 3000; ++i) {
            const float v = static_cast<float>(i % 201 - 100) / 64.0f + 1.0f / 65536.0f / 7.0f;
            samples.push_back(v);
            uint32_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            PutLe32(data, bits);
        }
        WriteFile(dir.file("f.wav"), WavFileBytes(3, 1, 44100, 32, data));
        const std::string wv = MakeWithFfmpeg(
            dir, "f.wv", "-i " + Quote(dir.file("f.wav")) + " -c:a wavpack -sample_fmt fltp");
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(wv, 0));
        EXPECT_EQ(r.GetSourceBits(), 32);
        uint64_t layout = 0;
        const auto p = AllBlocks(r, &layout);
        ASSERT_EQ(p.size(), 1u);
        EXPECT_TRUE(p[0] == samples);
    }
    {
        SCOPED_TRACE("six channels");
        // Side rather than back channels: a mask other than the default.
        std::string tones;
        for (double hz : kSurroundToneHz)
            tones += (tones.empty() ? "" : "|") + std::string("0.1*sin(2*PI*") +
                     std::to_string(static_cast<int>(hz)) + "*t)";
        const std::string wv = MakeWithFfmpeg(dir, "six.wv",
                                              "-f lavfi -i \"aevalsrc=" + tones +
                                                  ":c=5.1(side):s=48000:d=3\" -c:a wavpack "
                                                  "-sample_fmt s16p");
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(wv, 0));
        EXPECT_EQ(r.GetSourceBits(), 16);
        ASSERT_EQ(r.GetBlockChannels(), 6);
        uint64_t layout = 0;
        const auto p = AllBlocks(r, &layout);
        EXPECT_EQ(layout, channel::kFrontLeft | channel::kFrontRight | channel::kFrontCenter |
                              channel::kLowFrequency | channel::kSideLeft | channel::kSideRight);
        ExpectSurroundTones(p);
    }
    {
        SCOPED_TRACE("16-bit stereo");
        WriteWav(dir.file("s.wav"), 44100, 2, Sine(5000, 2, 44100, 440.0));
        ExpectBlocksHoldReadsSamples(
            rt, MakeWithFfmpeg(dir, "s.wv", "-i " + Quote(dir.file("s.wav")) + " -c:a wavpack"));
    }
}

TEST(BassReaderWide, AlacAndOggFlacKeepTheirDepthAndAacEveryChannelAtSixteenBits) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    {
        SCOPED_TRACE("24-bit ALAC and Ogg FLAC");
        std::vector<int32_t> samples;
        WriteFile(dir.file("hi.wav"),
                  WavFileBytes(1, 2, 44100, 24, TwentyFourBitData(5000, samples)));
        for (const auto& [name, codec] :
             {std::pair{"hi.m4a", "-c:a alac -sample_fmt s32p"},
              std::pair{"hi.oga", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24"}}) {
            SCOPED_TRACE(name);
            const std::string path =
                MakeWithFfmpeg(dir, name, "-i " + Quote(dir.file("hi.wav")) + " " + codec);
            CBassReader r(rt);
            ASSERT_TRUE(r.Open(path, 0));
            EXPECT_EQ(r.GetSourceBits(), 24);
            uint64_t layout = 0;
            const auto p = AllBlocks(r, &layout);
            ASSERT_EQ(p.size(), 2u);
            EXPECT_EQ(layout, channel::kStereo);
            EXPECT_TRUE(Interleaved(p, 24) == samples);
        }
    }
    {
        SCOPED_TRACE("six-channel AAC");
        const std::string m4a = MakeSurroundTones(dir, "six.m4a", "-c:a aac -b:a 384k");
        CBassReader r(rt);
        ASSERT_TRUE(r.Open(m4a, 0));
        EXPECT_EQ(r.GetSourceBits(), 16);
        ASSERT_EQ(r.GetBlockChannels(), 6);
        uint64_t layout = 0;
        const auto p = AllBlocks(r, &layout);
        EXPECT_EQ(layout, DefaultLayout(6));
        ExpectSurroundTones(p);
        // Lossy samples stay on the 16-bit grid.
        for (float v : p[0]) ASSERT_EQ(Int16ToFloat(FloatToInt16(v)), v);
    }
    {
        SCOPED_TRACE("stereo AAC");
        WriteWav(dir.file("s.wav"), 44100, 2, Sine(20000, 2, 44100, 440.0));
        ExpectBlocksHoldReadsSamples(
            rt, MakeWithFfmpeg(dir, "s.aac", "-i " + Quote(dir.file("s.wav")) + " -c:a aac"));
    }
}

}  // namespace
