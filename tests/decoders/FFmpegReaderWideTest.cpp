#include "decoders/FFmpegReader.h"

#include "support/ReaderSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

// Every channel of every block, as float.
struct WideDecoded {
    std::vector<std::vector<float>> channels;
    uint64_t layout = 0;
};

WideDecoded ReadAllBlocks(CAudioReader& reader) {
    WideDecoded d;
    AudioBlock block;
    d.channels.resize(static_cast<size_t>(reader.GetBlockChannels()));
    for (int guard = 0; guard < 100000; ++guard) {
        const int n = reader.ReadBlock(block);
        if (n <= 0) break;
        EXPECT_EQ(block.Channels(), reader.GetBlockChannels());
        d.layout = block.Layout();
        for (int c = 0; c < block.Channels(); ++c)
            d.channels[static_cast<size_t>(c)].insert(d.channels[static_cast<size_t>(c)].end(),
                                                       block.Channel(c), block.Channel(c) + n);
    }
    return d;
}

std::vector<int16_t> To16(const std::vector<float>& v) {
    std::vector<int16_t> out(v.size());
    for (size_t i = 0; i < v.size(); ++i) out[i] = FloatToInt16(v[i]);
    return out;
}

TEST(FFmpegReaderWide, TwentyFourBitFlacKeepsItsLowBits) {
    TempDir dir;
    const std::string flac = MakeWithFfmpeg(
        dir, "hi.flac",
        "-f lavfi -i \"aevalsrc=0.3*sin(2*PI*1000*t)|0.2*sin(2*PI*1500*t):s=96000:d=1\" "
        "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24");
    CFFmpegReader reader;
    ASSERT_TRUE(reader.Open(flac, 0));
    EXPECT_EQ(reader.GetSourceBits(), 24);
    EXPECT_EQ(reader.GetBlockChannels(), 2);
    EXPECT_EQ(reader.GetChannelLayout(), channel::kStereo);
    const WideDecoded wide = ReadAllBlocks(reader);
    reader.Close();
    ASSERT_EQ(wide.channels[0].size(), 96000u);

    // Values below one 16-bit step survive: the 24-bit integers are not
    // all multiples of 256.
    int finer = 0;
    for (float v : wide.channels[0]) {
        const int32_t s = FloatToInt(v, 24);
        ASSERT_EQ(IntToFloat(s, 24), v) << "not on the 24-bit grid";
        if (s % 256 != 0) ++finer;
    }
    EXPECT_GT(finer, 90000);
}

TEST(FFmpegReaderWide, SixChannelFlacDeliversEveryChannel) {
    TempDir dir;
    const std::string flac = MakeSurroundTones(dir, "six.flac", "-c:a flac -sample_fmt s16");
    CFFmpegReader reader;
    ASSERT_TRUE(reader.Open(flac, 0));
    EXPECT_EQ(reader.GetSourceBits(), 16);
    ASSERT_EQ(reader.GetBlockChannels(), 6);
    const WideDecoded d = ReadAllBlocks(reader);
    EXPECT_EQ(LayoutChannels(d.layout), 6);
    EXPECT_EQ(ChannelAt(d.layout, 2), channel::kFrontCenter);
    EXPECT_EQ(ChannelAt(d.layout, 3), channel::kLowFrequency);
    const double full = 0.1 * 32768;
    for (int c = 0; c < 6; ++c) {
        const std::vector<int16_t> x = To16(d.channels[static_cast<size_t>(c)]);
        for (int k = 0; k < 6; ++k) {
            const double level = ToneLevel(x, 48000, 48000, kSurroundToneHz[k]) / full;
            if (k == c)
                EXPECT_NEAR(level, 1.0, 0.05) << "channel " << c;
            else
                EXPECT_LT(level, 0.01) << "tone " << k << " in channel " << c;
        }
    }
}

TEST(FFmpegReaderWide, SixteenBitStereoBlocksHoldReadsSamples) {
    TempDir dir;
    const std::string wav = dir.file("s.wav");
    WriteWav(wav, 44100, 2, Sine(5000, 2, 44100, 440.0));
    CFFmpegReader a, b;
    ASSERT_TRUE(a.Open(wav, 0));
    ASSERT_TRUE(b.Open(wav, 0));
    EXPECT_EQ(a.GetSourceBits(), 16);
    const Decoded narrow = ReadAll(a);
    const WideDecoded wide = ReadAllBlocks(b);
    EXPECT_EQ(To16(wide.channels[0]), narrow.left);
    EXPECT_EQ(To16(wide.channels[1]), narrow.right);
}

}  // namespace
