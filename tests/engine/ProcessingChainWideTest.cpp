#include "engine/Normalise.h"
#include "engine/PcmConverter.h"
#include "engine/ProcessingChain.h"

#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace quelvox {
namespace {

CSettings Plain() {
    CSettings s{std::string_view{}};
    s.MonoType = kMonoMix;
    s.EnableSkipLength = 0;
    s.EnableConvertLength = 0;
    s.Resampler = kResamplerSox;
    return s;
}

std::vector<int16_t> Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> d(-32768, 32767);
    std::vector<int16_t> v(n);
    for (int16_t& x : v) x = static_cast<int16_t>(d(gen));
    return v;
}

// What the integer chain wrote for a stereo source mixed to mono,
// resampled and scaled: the 16-bit converter, then the integer gain.
std::vector<int16_t> IntegerReference(const std::vector<int16_t>& l, const std::vector<int16_t>& r,
                                      int from, int to, float gain) {
    CPcmConverter c;
    EXPECT_TRUE(c.Configure({to, 1, 16}, {from, 2, 16}, ResamplerKind::Sox));
    const int cap = CPcmConverter::OutputFramesFor(to, from, kBlockFrames);
    std::vector<int16_t> out(static_cast<size_t>(cap)), all;
    for (size_t pos = 0; pos < l.size(); pos += kBlockFrames) {
        const int n = static_cast<int>(std::min<size_t>(kBlockFrames, l.size() - pos));
        const int got = c.Process(l.data() + pos, r.data() + pos, n, out.data(), nullptr, cap);
        ApplyGain(out.data(), nullptr, got, 1, gain);
        all.insert(all.end(), out.begin(), out.begin() + got);
    }
    for (int got; (got = c.Flush(out.data(), nullptr, cap)) > 0;) {
        ApplyGain(out.data(), nullptr, got, 1, gain);
        all.insert(all.end(), out.begin(), out.begin() + got);
    }
    return all;
}

TEST(ProcessingChainWide, SixteenBitStereoMixResampleAndGainMatchTheIntegerChain) {
    const size_t frames = 5 * kBlockFrames + 77;
    const std::vector<int16_t> l = Noise(frames, 1), r = Noise(frames, 2);
    const float gain = 1.37f;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(Plain(), {44100, 2, 22050, 1, true, gain}));
    std::vector<int16_t> got;
    auto keep = [&](const WideChainBlock& b) {
        ASSERT_EQ(b.block->Channels(), 1);
        for (int i = 0; i < b.block->frames; ++i) got.push_back(FloatToInt16(b.block->Channel(0)[i]));
    };
    for (size_t pos = 0; pos < frames; pos += kBlockFrames) {
        const int n = static_cast<int>(std::min<size_t>(kBlockFrames, frames - pos));
        Int16ToBlock(l.data() + pos, r.data() + pos, n, chain.Source());
        const WideChainBlock b = chain.ProcessBlock();
        if (b.action == BlockAction::Write) keep(b);
    }
    for (WideChainBlock b; (b = chain.DrainBlock()).action == BlockAction::Write;) keep(b);
    EXPECT_GT(got.size(), frames / 2 - 2);
    EXPECT_EQ(got, IntegerReference(l, r, 44100, 22050, gain));
}

// A block of `channels` channels, channel c holding (c + 1) × step, and
// the samples of 24-bit values that 16 bits cannot hold.
void FillWide(AudioBlock& b, int channels, int frames) {
    b.Shape(channels, kBlockFrames, 0, 24);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i) b.Channel(c)[i] = IntToFloat((c + 1) * 100001 + i, 24);
    b.frames = frames;
}

TEST(ProcessingChainWide, SixChannelsOfTwentyFourBitsPassUnchanged) {
    CProcessingChain chain;
    ChainSetup setup{48000, 6, 48000, 6, true, 1.0f};
    setup.sourceBits = 24;
    ASSERT_TRUE(chain.Setup(Plain(), setup));
    EXPECT_EQ(chain.WriterChannels(), 6);
    FillWide(chain.Source(), 6, 100);
    const WideChainBlock b = chain.ProcessBlock();
    ASSERT_EQ(b.action, BlockAction::Write);
    ASSERT_EQ(b.block->Channels(), 6);
    EXPECT_EQ(b.block->Layout(), DefaultLayout(6));
    EXPECT_EQ(b.block->SourceBits(), 24);
    ASSERT_EQ(b.block->frames, 100);
    for (int c = 0; c < 6; ++c)
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(FloatToInt(b.block->Channel(c)[i], 24), (c + 1) * 100001 + i);
}

TEST(ProcessingChainWide, SixChannelsFoldToStereoAndGainKeepsFullDepth) {
    CProcessingChain chain;
    ChainSetup setup{48000, 6, 48000, 2, true, 0.5f};
    setup.sourceBits = 24;
    ASSERT_TRUE(chain.Setup(Plain(), setup));
    AudioBlock& in = chain.Source();
    in.Shape(6, kBlockFrames, 0, 24);
    const float s[6] = {0.1f, 0.2f, 0.01f, 0.02f, 0.001f, 0.002f};  // L R C LFE BL BR
    for (int c = 0; c < 6; ++c) in.Channel(c)[0] = s[c];
    in.frames = 1;
    const WideChainBlock b = chain.ProcessBlock();
    ASSERT_EQ(b.action, BlockAction::Write);
    ASSERT_EQ(b.block->Channels(), 2);
    // Each side's weights (1 + 0.707 + 0.707 + 1) are scaled to add up to 1.
    EXPECT_FLOAT_EQ(b.block->Channel(0)[0], 0.5f * (0.1f + 0.707f * 0.03f + 0.001f) / 3.414f);
    EXPECT_FLOAT_EQ(b.block->Channel(1)[0], 0.5f * (0.2f + 0.707f * 0.03f + 0.002f) / 3.414f);
}

TEST(ProcessingChainWide, WideSourceResamplesEveryChannel) {
    CProcessingChain chain;
    ChainSetup setup{96000, 6, 48000, 6, true, 1.0f};
    setup.sourceBits = 24;
    ASSERT_TRUE(chain.Setup(Plain(), setup));
    int64_t written = 0;
    for (int k = 0; k < 20; ++k) {
        FillWide(chain.Source(), 6, kBlockFrames);
        const WideChainBlock b = chain.ProcessBlock();
        if (b.action != BlockAction::Write) continue;
        EXPECT_EQ(b.block->Channels(), 6);
        written += b.block->frames;
    }
    for (WideChainBlock b; (b = chain.DrainBlock()).action == BlockAction::Write;)
        written += b.block->frames;
    EXPECT_NEAR(static_cast<double>(written), 10 * kBlockFrames, 1.0);
}

TEST(ProcessingChainWide, BlockOfTheWrongWidthIsLeftOut) {
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(Plain(), {44100, 2, 44100, 2, true, 1.0f}));
    chain.Source().Shape(3, kBlockFrames);
    chain.Source().frames = 10;
    EXPECT_EQ(chain.ProcessBlock().action, BlockAction::Drop);
}

}  // namespace
}  // namespace quelvox

namespace quelvox {
namespace {

TEST(ProcessingChainWide, FloatGainOnSixteenBitsLeavesTheRoundingToTheWriter) {
    const float gain = 1.37f;
    ChainSetup setup{44100, 2, 44100, 2, true, gain};
    setup.gridGain = false;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(Plain(), setup));
    const std::vector<int16_t> l = Noise(kBlockFrames, 5), r = Noise(kBlockFrames, 6);
    std::vector<int16_t> quiet(l.size()), quietRight(r.size());
    for (size_t i = 0; i < l.size(); ++i) {
        quiet[i] = static_cast<int16_t>(l[i] / 4);
        quietRight[i] = static_cast<int16_t>(r[i] / 4);
    }
    Int16ToBlock(quiet.data(), quietRight.data(), kBlockFrames, chain.Source());
    const WideChainBlock b = chain.ProcessBlock();
    ASSERT_EQ(b.action, BlockAction::Write);
    ASSERT_EQ(b.block->frames, kBlockFrames);
    for (int i = 0; i < kBlockFrames; ++i) {
        // The product itself, off the 16-bit grid where it falls between.
        ASSERT_EQ(b.block->Channel(0)[i], quiet[static_cast<size_t>(i)] / 32768.0f * gain);
        ASSERT_EQ(b.block->Channel(1)[i], quietRight[static_cast<size_t>(i)] / 32768.0f * gain);
    }
}

TEST(ProcessingChainWide, GridGainMatchesTheIntegerGainForEveryValue) {
    for (float gain : {1.5f, 0.37f, 32767.0f / 16383.0f, 150 * 0.01f, 7.0f}) {
        std::vector<int16_t> ints(65536);
        std::vector<float> grid(65536);
        for (int s = -32768; s <= 32767; ++s) {
            ints[static_cast<size_t>(s + 32768)] = static_cast<int16_t>(s);
            grid[static_cast<size_t>(s + 32768)] = Int16ToFloat(static_cast<int16_t>(s));
        }
        ApplyGain(ints.data(), nullptr, 65536, 1, gain);
        ScaleOnSixteenBitGrid(grid.data(), 65535, gain);  // an odd count
        ScaleOnSixteenBitGrid(grid.data() + 65535, 1, gain);
        for (size_t i = 0; i < ints.size(); ++i)
            ASSERT_EQ(FloatToInt16(grid[i]), ints[i]) << gain << " " << i;
    }
}

}  // namespace
}  // namespace quelvox
