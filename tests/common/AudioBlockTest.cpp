#include "common/AudioBlock.h"
#include "common/AudioStream.h"
#include "common/ChannelMix.h"

#include <gtest/gtest.h>

#include <bit>
#include <iterator>
#include <cmath>
#include <limits>
#include <vector>

using namespace quelvox;

namespace {

TEST(AudioBlockSamples, EverySixteenBitValueComesBackUnchanged) {
    for (int s = -32768; s <= 32767; ++s) {
        const auto v = static_cast<int16_t>(s);
        ASSERT_EQ(FloatToInt16(Int16ToFloat(v)), v) << s;
        ASSERT_EQ(FloatToInt(Int16ToFloat(v), 16), s) << s;
        ASSERT_EQ(IntToFloat(s, 16), Int16ToFloat(v)) << s;
    }
}

TEST(AudioBlockSamples, TwentyFourBitValuesComeBackUnchanged) {
    for (int s : {-8388608, -8388607, -65537, -1, 0, 1, 4095, 65535, 8388606, 8388607})
        EXPECT_EQ(FloatToInt(IntToFloat(s, 24), 24), s) << s;
}

TEST(AudioBlockSamples, OutOfRangeClampsAndNaNIsZero) {
    EXPECT_EQ(FloatToInt16(1.0f), 32767);
    EXPECT_EQ(FloatToInt16(7.5f), 32767);
    EXPECT_EQ(FloatToInt16(-1.0f), -32768);
    EXPECT_EQ(FloatToInt16(-1e30f), -32768);
    EXPECT_EQ(FloatToInt16(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(FloatToInt16(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(FloatToInt(2.0f, 24), 8388607);
    EXPECT_EQ(FloatToInt(-2.0f, 32), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(FloatToInt(1.0f, 32), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(FloatToInt(std::numeric_limits<float>::quiet_NaN(), 32), 0);
}

TEST(AudioBlockSamples, ClippingIsCountedWhereTheRoundingClamps) {
    // Samples around both bounds of each width, steps of one float apart,
    // and what no width holds; an odd count, so that blocks of four leave
    // a tail.
    for (int bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const double half = std::ldexp(1.0, -bits);
        std::vector<float> v{0.0f,
                             0.5f,
                             -0.5f,
                             1.0f,
                             -1.0f,
                             2.0f,
                             -2.0f,
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN()};
        for (const double bound : {1.0 - half, -1.0 - half}) {
            float f = static_cast<float>(bound);
            for (int k = 0; k < 6; ++k) f = std::nextafter(f, -2.0f);
            for (int k = 0; k < 13; ++k, f = std::nextafter(f, 2.0f)) v.push_back(f);
        }
        if (v.size() % 4 == 0) v.push_back(0.25f);
        // What the rounding to integers does: beyond the largest or the
        // smallest integer of the width (v × 2^(bits-1) is exact in double).
        const double scale = std::ldexp(1.0, bits - 1);
        uint64_t expected = 0;
        for (float x : v) {
            if (std::isnan(x)) continue;
            const double r = std::nearbyint(static_cast<double>(x) * scale);
            if (r > scale - 1.0 || r < -scale) ++expected;
        }
        EXPECT_GT(expected, 4u);
        EXPECT_EQ(CountClipping(v.data(), static_cast<int>(v.size()), bits), expected);
        // Each sample on its own, at every place of a block of four.
        for (size_t i = 0; i < v.size(); ++i) {
            float four[5] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
            four[i % 4] = v[i];
            const double r = std::nearbyint(static_cast<double>(v[i]) * scale);
            const bool clips = !std::isnan(v[i]) && (r > scale - 1.0 || r < -scale);
            EXPECT_EQ(CountClipping(four, 4, bits), clips ? 1u : 0u) << v[i];
        }
    }
}

TEST(AudioBlockSamples, RoundsToNearest) {
    EXPECT_EQ(FloatToInt16(100.4f / 32768.0f), 100);
    EXPECT_EQ(FloatToInt16(100.6f / 32768.0f), 101);
    EXPECT_EQ(FloatToInt16(-100.6f / 32768.0f), -101);
}

TEST(AudioBlockLayout, DefaultLayoutsFollowTheFoldOrders) {
    for (int n = 1; n <= kMaxChannels; ++n) EXPECT_EQ(LayoutChannels(DefaultLayout(n)), n);
    EXPECT_EQ(DefaultLayout(0), 0u);
    EXPECT_EQ(DefaultLayout(9), 0u);
    const uint64_t six = DefaultLayout(6);
    EXPECT_EQ(ChannelAt(six, 2), channel::kFrontCenter);
    EXPECT_EQ(ChannelAt(six, 3), channel::kLowFrequency);
    EXPECT_EQ(ChannelAt(six, 5), channel::kBackRight);
    EXPECT_EQ(ChannelAt(six, 6), 0u);
}

TEST(AudioBlockLayout, StoredChannelsAreOrderedByTheirPositions) {
    using namespace channel;
    int order[kMaxChannels] = {};
    const uint64_t vorbis[3] = {kFrontLeft, kFrontCenter, kFrontRight};
    EXPECT_EQ(OrderByPosition(vorbis, 3, order), kFrontLeft | kFrontRight | kFrontCenter);
    EXPECT_EQ(order[0], 0);  // left
    EXPECT_EQ(order[1], 2);  // right
    EXPECT_EQ(order[2], 1);  // centre
    const uint64_t twice[3] = {kFrontLeft, kFrontLeft, 0};
    EXPECT_EQ(OrderByPosition(twice, 3, order), DefaultLayout(3));
    EXPECT_EQ(order[1], 1);
}

TEST(AudioBlockLayout, ShapeReplacesALayoutOfTheWrongWidth) {
    AudioBlock b;
    b.Shape(6, 10, channel::kStereo, 24);
    EXPECT_EQ(b.Channels(), 6);
    EXPECT_EQ(b.Layout(), DefaultLayout(6));
    EXPECT_EQ(b.SourceBits(), 24);
    b.Shape(12, 10);
    EXPECT_EQ(b.Channels(), kMaxChannels);
}

TEST(AudioBlockFold, SixChannelsUseTheCentreWeightScaledToFullScale) {
    AudioBlock b;
    b.Shape(6, 1);
    const float s[6] = {1000, 2000, 100, 100, 10, 20};
    for (int c = 0; c < 6; ++c) b.Channel(c)[0] = s[c] / 32768.0f;
    b.frames = 1;
    float l = 0, r = 0;
    FoldToStereo(b, &l, &r);
    // Each side's weights (1 + 0.707 + 0.707 + 1) are scaled to add up to 1.
    EXPECT_NEAR(l * 32768.0f, (1000 + 141.4 + 10) / 3.414, 0.01);
    EXPECT_NEAR(r * 32768.0f, (2000 + 141.4 + 20) / 3.414, 0.01);
}

// Mixes between layouts, by position: where each source position goes, at
// which weight, and the one factor that keeps every target channel within
// full scale.
TEST(AudioBlockMix, PlacesByPositionAndNeverExceedsFullScale) {
    using namespace channel;
    constexpr uint64_t k40 = kStereo | kFrontCenter | kBackCenter;
    constexpr uint64_t k51 = kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight;
    constexpr uint64_t k51Side = kStereo | kFrontCenter | kLowFrequency | kSideLeft | kSideRight;
    constexpr uint64_t k61 = k51Side | kBackCenter;
    constexpr uint64_t k61Back = k51 | kBackCenter;
    constexpr uint64_t k71 = k51 | kSideLeft | kSideRight;
    constexpr uint64_t k71Wide = k51 | kFrontLeftOfCenter | kFrontRightOfCenter;
    const struct {
        uint64_t from, to;
        uint64_t source;  // one position of `from`
        uint64_t target;  // one position of `to`
        float weight;     // of source in target
    } cases[] = {
        // The same positions: each channel alone, unscaled.
        {k71, k71, kSideLeft, kSideLeft, 1.0f},
        {k71, k71, kSideLeft, kBackLeft, 0.0f},
        // Side channels where the target has only back ones, and back ones
        // where it has only side ones.
        {k51Side, k51, kSideRight, kBackRight, 1.0f},
        {k51, k51Side, kBackLeft, kSideLeft, 1.0f},
        // The back centre splits over the back pair at 0.707 each.
        {k40, k51, kBackCenter, kBackLeft, 0.707f},
        {k40, k51, kBackCenter, kBackRight, 0.707f},
        {k40, k51, kBackCenter, kFrontLeft, 0.0f},
        {k40, k51Side, kBackCenter, kSideRight, 0.707f},
        // 6.1 to 5.1: back = side + 0.707 × back centre, scaled by 1.707.
        {k61, k51, kSideLeft, kBackLeft, 1.0f / 1.707f},
        {k61, k51, kBackCenter, kBackLeft, 0.707f / 1.707f},
        {k61, k51, kFrontLeft, kFrontLeft, 1.0f / 1.707f},
        // 6.1 into its back variant needs no scaling.
        {k61, k61Back, kSideLeft, kBackLeft, 1.0f},
        {k61, k61Back, kBackCenter, kBackCenter, 1.0f},
        // 7.1 into 7.1 with front-of-centre channels: side joins back at
        // 0.707; the front-of-centre positions stay silent.
        {k71, k71Wide, kSideLeft, kBackLeft, 0.707f / 1.707f},
        {k71, k71Wide, kSideLeft, kFrontLeftOfCenter, 0.0f},
        // And back again: front-of-centre joins its front channel.
        {k71Wide, k71, kFrontRightOfCenter, kFrontRight, 0.5f},
        // To stereo: the described weights, scaled by the larger side's sum.
        {k51, kStereo, kFrontCenter, kFrontLeft, 0.707f / 3.414f},
        {k51, kStereo, kBackRight, kFrontRight, 1.0f / 3.414f},
        {k51, kStereo, kBackRight, kFrontLeft, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.from << " -> " << c.to << ": "
                                          << c.source << " in " << c.target);
        const ChannelMix mix = PlanChannelMix(c.from, c.to);
        ASSERT_EQ(mix.sourceChannels, LayoutChannels(c.from));
        ASSERT_EQ(mix.targetChannels, LayoutChannels(c.to));
        const int s = std::popcount(c.from & (c.source - 1));
        const int t = std::popcount(c.to & (c.target - 1));
        EXPECT_NEAR(mix.weight[t][s], c.weight, 1e-4);
        // No target channel can exceed full scale; every source channel
        // reaches some target.
        for (int row = 0; row < mix.targetChannels; ++row) {
            float sum = 0.0f;
            for (int col = 0; col < mix.sourceChannels; ++col) sum += mix.weight[row][col];
            EXPECT_LE(sum, 1.0f + 1e-6f);
        }
        for (int col = 0; col < mix.sourceChannels; ++col) {
            float reach = 0.0f;
            for (int row = 0; row < mix.targetChannels; ++row) reach += mix.weight[row][col];
            EXPECT_GT(reach, 0.0f) << col;
        }
    }
}

// A reader of a fixed 16-bit stereo ramp, decoded through CInt16Planes.
class RampReader : public CAudioReader {
public:
    void Close() override {}
    int Open(const std::string&, int) override {
        outputChannels = 2;
        return 1;
    }
    int ReadBlock(AudioBlock& block) override {
        return planes_.Decode(block, outputChannels == 2, [this](int16_t* left, int16_t* right) {
            if (done_) return 0;
            done_ = true;
            for (int i = 0; i < 3; ++i) {
                left[i] = static_cast<int16_t>(-32768 + i);
                right[i] = static_cast<int16_t>(32767 - i);
            }
            return 3;
        });
    }

private:
    CInt16Planes planes_;
    bool done_ = false;
};

// Keeps the 16-bit samples a 16-bit encoder would receive.
class KeepingWriter : public CAudioWriter {
public:
    void SetFileName(const std::string&) override {}
    int Open() override { return 1; }
    int WriteBlock(const AudioBlock& block) override {
        RoundToInt16(block, planes_);
        const int frames = block.frames;
        rightWasNull = planes_.Right() == nullptr;
        l.assign(planes_.Left(), planes_.Left() + frames);
        if (planes_.Right()) r.assign(planes_.Right(), planes_.Right() + frames);
        return 1;
    }
    void Close() override {}
    std::vector<int16_t> l, r;
    bool rightWasNull = false;

private:
    CInt16Planes planes_;
};

TEST(AudioStreamInt16Planes, SixteenBitReadThroughBlocksWritesTheSameSamples) {
    RampReader reader;
    reader.Open("", 0);
    AudioBlock block;
    ASSERT_EQ(reader.ReadBlock(block), 3);
    EXPECT_EQ(block.Channels(), 2);
    EXPECT_EQ(block.Layout(), channel::kStereo);
    EXPECT_EQ(block.SourceBits(), 16);
    KeepingWriter writer;
    ASSERT_EQ(writer.WriteBlock(block), 1);
    EXPECT_EQ(writer.l, (std::vector<int16_t>{-32768, -32767, -32766}));
    EXPECT_EQ(writer.r, (std::vector<int16_t>{32767, 32766, 32765}));
    EXPECT_LE(reader.ReadBlock(block), 0);
    EXPECT_EQ(block.frames, 0);
}

TEST(AudioStreamInt16Planes, RoundingClampsZeroesNaNAndCountsWhatClipped) {
    struct Row {
        float in;
        int16_t out;
        bool clipped;
    };
    const Row rows[] = {
        {1.0f, 32767, true},
        {2.0f, 32767, true},
        {std::numeric_limits<float>::infinity(), 32767, true},
        {-1.0f, -32768, false},
        {-32768.6f / 32768.0f, -32768, true},
        {32767.4f / 32768.0f, 32767, false},
        {std::numeric_limits<float>::quiet_NaN(), 0, false},
        {0.5f / 32768.0f, 0, false},
        {-1234.0f / 32768.0f, -1234, false},
    };
    AudioBlock block;
    block.Shape(1, static_cast<int>(std::size(rows)));
    for (size_t i = 0; i < std::size(rows); ++i) block.Channel(0)[i] = rows[i].in;
    block.frames = static_cast<int>(std::size(rows));
    KeepingWriter writer;
    ASSERT_EQ(writer.WriteBlock(block), 1);
    uint64_t clipped = 0;
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(writer.l[i], rows[i].out) << i;
        clipped += rows[i].clipped;
    }
    EXPECT_EQ(writer.ClippedSamples(), clipped);
}

TEST(AudioStreamInt16Planes, MonoBlockGoesWithoutRightAndWideBlocksFold) {
    KeepingWriter writer;
    AudioBlock block;
    block.Shape(1, 4);
    block.Channel(0)[0] = 0.5f;
    block.frames = 1;
    writer.WriteBlock(block);
    EXPECT_TRUE(writer.rightWasNull);
    EXPECT_EQ(writer.l, std::vector<int16_t>{16384});

    block.Shape(4, 4);  // L R BL BR
    for (int c = 0; c < 4; ++c) block.Channel(c)[0] = 0.75f;
    block.frames = 1;
    writer.WriteBlock(block);
    ASSERT_FALSE(writer.rightWasNull);
    // Each side is the mean of its two channels: nothing clips.
    EXPECT_EQ(writer.l, std::vector<int16_t>{24576});
    EXPECT_EQ(writer.r, std::vector<int16_t>{24576});
}

}  // namespace

namespace {

// A block of `frames` samples of one value in a source of `bits` bits.
AudioBlock Constant(float v, int frames, int bits) {
    AudioBlock b;
    b.Shape(1, frames, 0, bits);
    for (int i = 0; i < frames; ++i) b.Channel(0)[i] = v;
    b.frames = frames;
    return b;
}

TEST(AudioStreamDither, DeeperSourcesAreDitheredIntoSixteenBits) {
    // 100.25 steps of 16 bits: rounding alone always writes 100.
    const float v = 100.25f / 32768.0f;
    KeepingWriter plain;
    plain.SetDither(false);
    plain.WriteBlock(Constant(v, 20000, 24));
    for (int16_t s : plain.l) ASSERT_EQ(s, 100);

    KeepingWriter dithered;
    dithered.WriteBlock(Constant(v, 20000, 24));
    double sum = 0;
    int off = 0;
    for (int16_t s : dithered.l) {
        ASSERT_GE(s, 99);
        ASSERT_LE(s, 102);
        off += s != 100;
        sum += s;
    }
    EXPECT_GT(off, 2000);
    // The noise has no bias: the average keeps the quarter step.
    EXPECT_NEAR(sum / 20000.0, 100.25, 0.03);
}

TEST(AudioStreamDither, SixteenBitSourcesAreNeverDithered) {
    KeepingWriter w;  // dither on
    w.WriteBlock(Constant(Int16ToFloat(-1234), 5000, 16));
    for (int16_t s : w.l) ASSERT_EQ(s, -1234);
    CTpdfDither noise;
    EXPECT_EQ(FloatToIntDithered(std::numeric_limits<float>::quiet_NaN(), 16, noise), 0);
    EXPECT_EQ(FloatToIntDithered(4.0f, 24, noise), 8388607);
}

}  // namespace

namespace {

TEST(AudioBlockSamples, BlockConversionsMatchTheSampleOnesForEveryValue) {
    std::vector<int16_t> all(65536), back(65536), stereo(2 * 65536);
    for (int s = -32768; s <= 32767; ++s) all[static_cast<size_t>(s + 32768)] = static_cast<int16_t>(s);
    std::vector<float> f(65536), l(65536), r(65536);
    Int16sToFloats(all.data(), 1, 65536, f.data());
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(f[i], Int16ToFloat(all[i])) << i;
    FloatsToInt16s(f.data(), 65536, back.data(), 1);
    EXPECT_EQ(back, all);

    std::vector<float> rev(f.rbegin(), f.rend());
    FloatsToStereoInt16s(f.data(), rev.data(), 65535, stereo.data());  // an odd count
    StereoInt16sToFloats(stereo.data(), 65535, l.data(), r.data());
    for (size_t i = 0; i < 65535; ++i) {
        ASSERT_EQ(l[i], f[i]) << i;
        ASSERT_EQ(r[i], rev[i]) << i;
    }

    // Out of range, NaN and halfway values as the single-sample conversion.
    const float odd[] = {2.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), 0.5f / 32768.0f,
                         1.5f / 32768.0f, -2.5f / 32768.0f, 32767.4f / 32768.0f};
    int16_t got[8] = {};
    FloatsToInt16s(odd, 8, got, 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], FloatToInt16(odd[i])) << i;
    EXPECT_EQ(got[4], 0);   // ties go to even
    EXPECT_EQ(got[5], 2);
    EXPECT_EQ(got[6], -2);
}

}  // namespace
