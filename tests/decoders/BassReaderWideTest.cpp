// CBassReader's wide delivery through libsndfile: depth, every channel,
// the file's channel positions, and 16-bit blocks equal to Read's.
#include "decoders/BassReader.h"

#include "support/ChannelSupport.h"
#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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

}  // namespace
