#include "engine/ProcessingChain.h"

#include "common/FormatCatalogue.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace quelvox {
namespace {

CSettings Defaults() {
    CSettings s{std::string_view{}};
    s.MonoType = kMonoMix;
    s.EnableSkipLength = 0;
    s.EnableConvertLength = 0;
    return s;
}

// A source that numbers its frames: left = index % 20000, right = -left.
struct CountingSource {
    int64_t next = 0;
    int Fill(int16_t* left, int16_t* right, int frames) {
        for (int i = 0; i < frames; ++i, ++next) {
            left[i] = static_cast<int16_t>(next % 20000);
            if (right) right[i] = static_cast<int16_t>(-(next % 20000));
        }
        return frames;
    }
};

struct PassResult {
    int dropped = 0;
    std::vector<int> written;  // frames of every written block
    std::vector<int16_t> left, right;
    bool ended = false;
};

PassResult RunPass(CProcessingChain& chain, int64_t sourceFrames, bool drain = true) {
    CountingSource src;
    PassResult r;
    while (src.next < sourceFrames) {
        const int n = static_cast<int>(std::min<int64_t>(kBlockFrames, sourceFrames - src.next));
        src.Fill(chain.ReadLeft(), chain.ReadRight(), n);
        ChainBlock b = chain.Process(n);
        if (b.action == BlockAction::End) {
            r.ended = true;
            break;
        }
        if (b.action == BlockAction::Drop) ++r.dropped;
        if (b.action == BlockAction::Write) {
            r.written.push_back(b.frames);
            r.left.insert(r.left.end(), b.left, b.left + b.frames);
            if (b.right) r.right.insert(r.right.end(), b.right, b.right + b.frames);
        }
    }
    if (drain) {
        for (ChainBlock b; (b = chain.Drain()).action == BlockAction::Write;) {
            r.written.push_back(b.frames);
            r.left.insert(r.left.end(), b.left, b.left + b.frames);
            if (b.right) r.right.insert(r.right.end(), b.right, b.right + b.frames);
        }
    }
    return r;
}

int64_t Sum(const std::vector<int>& v) {
    int64_t s = 0;
    for (int x : v) s += x;
    return s;
}

TEST(ProcessingChainLimits, SkipOneSecondAt44100) {
    CSettings s = Defaults();
    s.EnableSkipLength = 1;
    s.SkipLength = 1000;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {44100, 1, 44100, 1, true, 1.0f}));
    EXPECT_EQ(chain.SkipFrames(), 44100);
    PassResult r = RunPass(chain, 39 * kBlockFrames);
    EXPECT_EQ(r.dropped, 38);
    ASSERT_EQ(r.written.size(), 1u);
    EXPECT_EQ(r.written[0], 828);
    // The first written frame is source frame 44100.
    EXPECT_EQ(r.left.front(), 44100 % 20000);
    EXPECT_EQ(r.left.back(), (39 * kBlockFrames - 1) % 20000);
}

TEST(ProcessingChainLimits, LengthOneSecondWritesExactly44100Frames) {
    CSettings s = Defaults();
    s.EnableConvertLength = 1;
    s.ConvertLength = 1000;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {44100, 2, 44100, 2, true, 1.0f}));
    PassResult r = RunPass(chain, 100 * kBlockFrames);
    ASSERT_EQ(r.written.size(), 39u);
    EXPECT_EQ(r.written.back(), 324);
    EXPECT_EQ(Sum(r.written), 44100);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(chain.Process(kBlockFrames).action, BlockAction::End);
}

TEST(ProcessingChainLimits, LengthCountsAudioAfterTheSkippedPart) {
    CSettings s = Defaults();
    s.EnableSkipLength = 1;
    s.SkipLength = 500;
    s.EnableConvertLength = 1;
    s.ConvertLength = 250;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {8000, 1, 8000, 1, true, 1.0f}));
    PassResult r = RunPass(chain, 20000);
    EXPECT_EQ(Sum(r.written), 2000);
    EXPECT_EQ(r.left.front(), 4000);
    EXPECT_EQ(r.left.back(), 5999);
}

TEST(ProcessingChainLimits, LengthLimitOnAResampledPassDrainsToTheLimit) {
    CSettings s = Defaults();
    s.EnableConvertLength = 1;
    s.ConvertLength = 1000;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {44100, 1, 48000, 1, true, 1.0f}));
    PassResult r = RunPass(chain, 3 * 44100);
    EXPECT_NEAR(static_cast<double>(Sum(r.written)), 48000, 1.0);
}

TEST(ProcessingChainChannels, StereoToAmrMixesThenResamples) {
    CSettings s = Defaults();
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {44100, 2, 8000, 1, true, 1.0f}));
    EXPECT_TRUE(chain.ConverterNeeded());
    EXPECT_FALSE(chain.ChannelPick());
    EXPECT_EQ(chain.WriterChannels(), 1);
    // The counting source's channels are opposite: the mix is silence.
    PassResult r = RunPass(chain, 44100);
    EXPECT_NEAR(static_cast<double>(r.left.size()), 8000, 1.0);
    EXPECT_TRUE(r.right.empty());
    for (int16_t v : r.left) ASSERT_EQ(v, 0);
}

TEST(ProcessingChainChannels, MonoTypeTwoPicksRightWithoutConverter) {
    CSettings s = Defaults();
    s.MonoType = kMonoRight;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {44100, 2, 44100, 1, true, 1.0f}));
    EXPECT_TRUE(chain.ChannelPick());
    EXPECT_FALSE(chain.ConverterNeeded());
    PassResult r = RunPass(chain, 3000);
    ASSERT_EQ(r.left.size(), 3000u);
    EXPECT_TRUE(r.right.empty());
    EXPECT_EQ(r.left[10], -10);
    EXPECT_EQ(r.left[2999], -2999);
}

TEST(ProcessingChainChannels, MonoTypeOnePicksLeftBeforeResampling) {
    CSettings s = Defaults();
    s.MonoType = kMonoLeft;
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {16000, 2, 8000, 1, true, 1.0f}));
    EXPECT_TRUE(chain.ChannelPick());
    EXPECT_TRUE(chain.ConverterNeeded());
    // Left alone is a ramp, not the silence the mix would give.
    PassResult r = RunPass(chain, 16000);
    EXPECT_NEAR(static_cast<double>(r.left.size()), 8000, 1.0);
    EXPECT_NEAR(r.left[4000], 8000, 40);
}

TEST(ProcessingChainChannels, MonoToStereoSameRateScalesOnce) {
    CSettings s = Defaults();
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {22050, 1, 22050, 2, true, 2.0f}));
    EXPECT_FALSE(chain.ConverterNeeded());
    EXPECT_EQ(chain.ReadRight(), nullptr);
    CountingSource src;
    src.Fill(chain.ReadLeft(), nullptr, 100);
    ChainBlock b = chain.Process(100);
    ASSERT_EQ(b.action, BlockAction::Write);
    EXPECT_EQ(b.right, b.left);
    EXPECT_EQ(b.left[7], 14);  // once scaled, not 28
    EXPECT_EQ(chain.WriterChannels(), 2);
}

TEST(ProcessingChainChannels, WithoutConversionBothChannelsReachTheWriterScaled) {
    // Writers that adapt the format themselves get the source's channels
    // and rate as they are; the gain still applies to both channels.
    CSettings s = Defaults();
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {44100, 2, 22050, 1, false, 1.5f}));
    EXPECT_FALSE(chain.ConverterNeeded());
    CountingSource src;
    src.next = 3;
    src.Fill(chain.ReadLeft(), chain.ReadRight(), 10);
    ChainBlock b = chain.Process(10);
    ASSERT_EQ(b.action, BlockAction::Write);
    ASSERT_NE(b.right, nullptr);
    EXPECT_EQ(b.frames, 10);
    EXPECT_EQ(b.left[0], 4);    // 3 * 1.5 = 4.5, truncated
    EXPECT_EQ(b.right[0], -4);  // -4.5, truncated toward zero
}

TEST(ProcessingChainRates, UpsampledStereoKeepsBothChannelsAndLength) {
    CSettings s = Defaults();
    CProcessingChain chain;
    ASSERT_TRUE(chain.Setup(s, {8000, 2, 44100, 2, true, 1.0f}));
    PassResult r = RunPass(chain, 8000);
    EXPECT_NEAR(static_cast<double>(r.left.size()), 44100, 1.0);
    ASSERT_EQ(r.right.size(), r.left.size());
    for (int b = 1; b + 1 < static_cast<int>(r.written.size()); ++b)
        EXPECT_LE(r.written[b], 6 * kBlockFrames);
}

TEST(ProcessingChainSetup, RejectsImpossibleFormats) {
    CSettings s = Defaults();
    CProcessingChain chain;
    EXPECT_FALSE(chain.Setup(s, {0, 1, 44100, 1, true, 1.0f}));
    EXPECT_FALSE(chain.Setup(s, {44100, kMaxChannels + 1, 44100, 2, true, 1.0f}));
    EXPECT_FALSE(chain.Setup(s, {44100, 2, 44100, 0, true, 1.0f}));
    // Three channels are a source like any other now: they fold to stereo.
    EXPECT_TRUE(chain.Setup(s, {44100, 3, 44100, 2, true, 1.0f}));
}

TEST(RenderRate, FollowsTheOutputFormat) {
    CSettings s = Defaults();
    OutputFormatEntry f;
    f.code = 5500;
    s.AMRType = kAmrNarrowBand;
    EXPECT_EQ(RenderRateFor(s, f), 8000);
    s.AMRType = kAmrWideBand;
    EXPECT_EQ(RenderRateFor(s, f), 16000);
    f.code = 5600;
    EXPECT_EQ(RenderRateFor(s, f), 16000);
    f.code = 1000;
    f.AutoEncParam = 1;
    f.SampleRate = 22050;
    EXPECT_EQ(RenderRateFor(s, f), 44100);
    f.AutoEncParam = 0;
    EXPECT_EQ(RenderRateFor(s, f), 22050);
    f.SampleRate = 0;
    EXPECT_EQ(RenderRateFor(s, f), 44100);
}

// A pass shows each percentage once, from 0 to 100; a sink whose texts
// nobody reads gets the bar only.
TEST(PassProgress, TextsPerPercentageAndNoneForASinkThatShowsNoText) {
    struct CQuietSink : testsupport::CRecordingProgress {
        bool ShowsText() const override { return false; }
    };
    testsupport::CRecordingProgress shown;
    CQuietSink quiet;
    for (IProgress* sink : {static_cast<IProgress*>(&shown), static_cast<IProgress*>(&quiet)}) {
        CPassProgress pass(*sink, "[%d%%] 正在转换 %s...", "a.wav", 1000);
        for (uint64_t position = 0; position <= 1000; position += 7) pass.Update(position);
        pass.Complete();
    }
    ASSERT_EQ(shown.fileTexts.size(), 101u);
    EXPECT_EQ(shown.fileTexts[0], "[0%] 正在转换 a.wav...");
    EXPECT_EQ(shown.fileTexts[100], "[100%] 正在转换 a.wav...");
    EXPECT_TRUE(quiet.fileTexts.empty());
    EXPECT_EQ(quiet.lastPosition, 1000u);
    EXPECT_EQ(quiet.lastTotal, 1000u);
}

}  // namespace
}  // namespace quelvox
