#include "engine/PcmConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <tuple>
#include <vector>

namespace quelvox {
namespace {

std::vector<int16_t> SineMono(int frames, int rate, double hz, double amplitude) {
    std::vector<int16_t> v(frames);
    for (int i = 0; i < frames; ++i)
        v[i] = static_cast<int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    return v;
}

struct Output {
    std::vector<int16_t> left, right;
    int maxPerCall = 0;
};

// Feeds `left`/`right` in blocks of `block` frames with outputs of
// `capacity` frames (guarded by sentinels past their end), then drains.
Output Convert(CPcmConverter& c, const std::vector<int16_t>& left,
               const std::vector<int16_t>& right, int block, int capacity) {
    constexpr int kGuard = 64;
    constexpr int16_t kSentinel = 0x5A5A;
    const bool stereoOut = c.Target().channels == 2;
    std::vector<int16_t> outL(capacity + kGuard, kSentinel), outR(capacity + kGuard, kSentinel);
    Output out;
    auto take = [&](int n) {
        EXPECT_GE(n, 0);
        EXPECT_LE(n, capacity);
        out.maxPerCall = std::max(out.maxPerCall, n);
        out.left.insert(out.left.end(), outL.begin(), outL.begin() + n);
        if (stereoOut) out.right.insert(out.right.end(), outR.begin(), outR.begin() + n);
        for (int g = capacity; g < capacity + kGuard; ++g) {
            ASSERT_EQ(outL[g], kSentinel) << "left output written past its capacity";
            ASSERT_EQ(outR[g], kSentinel) << "right output written past its capacity";
        }
    };
    for (size_t pos = 0; pos < left.size(); pos += block) {
        const int n = static_cast<int>(std::min<size_t>(block, left.size() - pos));
        take(c.Process(left.data() + pos, right.empty() ? nullptr : right.data() + pos, n,
                       outL.data(), outR.data(), capacity));
    }
    for (int guard = 0; guard < 10000; ++guard) {
        const int n = c.Flush(outL.data(), outR.data(), capacity);
        if (n == 0) break;
        take(n);
    }
    EXPECT_EQ(c.Flush(outL.data(), outR.data(), capacity), 0) << "drain does not end";
    return out;
}

// Largest deviation from the ideal sine at the target rate, edges excluded
// (the filter sees zeros beyond the stream's ends).
double WorstError(const std::vector<int16_t>& out, int rate, double hz, double amplitude) {
    double worst = 0;
    const int edge = rate / 100;
    for (int i = edge; i + edge < static_cast<int>(out.size()); ++i) {
        const double ideal = amplitude * std::sin(2 * std::numbers::pi * hz * i / rate);
        worst = std::max(worst, std::abs(out[i] - ideal));
    }
    return worst;
}

struct RateCase {
    int from, to, channels;
};

// Every rate case runs through both resamplers.
class ResampledLength : public ::testing::TestWithParam<std::tuple<RateCase, ResamplerKind>> {};

TEST_P(ResampledLength, DrainedOutputMatchesInputLengthAndSignal) {
    const RateCase rc = std::get<0>(GetParam());
    CPcmConverter c;
    ASSERT_TRUE(
        c.Configure({rc.to, rc.channels, 16}, {rc.from, rc.channels, 16}, std::get<1>(GetParam())));
    ASSERT_TRUE(c.Resampling());
    const int frames = rc.from;  // one second
    const double hz = 440, amp = 12000;
    std::vector<int16_t> left = SineMono(frames, rc.from, hz, amp), right;
    if (rc.channels == 2) right = SineMono(frames, rc.from, hz, -amp);
    const int capacity = CPcmConverter::OutputFramesFor(rc.to, rc.from, kBlockFrames);
    Output out = Convert(c, left, right, kBlockFrames, capacity);

    EXPECT_NEAR(static_cast<double>(out.left.size()), rc.to, 1.0);
    EXPECT_LT(WorstError(out.left, rc.to, hz, amp), amp * 0.02);
    if (rc.channels == 2) {
        ASSERT_EQ(out.right.size(), out.left.size());
        EXPECT_LT(WorstError(out.right, rc.to, hz, -amp), amp * 0.02);
    }
    // The tail of the input arrives: the last 10 ms carry the signal.
    double tail = 0;
    for (size_t i = out.left.size() - rc.to / 100; i < out.left.size(); ++i)
        tail = std::max(tail, std::abs(static_cast<double>(out.left[i])));
    EXPECT_GT(tail, amp * 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ResampledLength,
    ::testing::Combine(::testing::Values(RateCase{44100, 48000, 1}, RateCase{48000, 44100, 1},
                                         RateCase{8000, 44100, 1}, RateCase{44100, 8000, 1},
                                         RateCase{44100, 48000, 2}, RateCase{48000, 44100, 2},
                                         RateCase{8000, 44100, 2}, RateCase{44100, 8000, 2}),
                       ::testing::Values(ResamplerKind::Sox, ResamplerKind::Libresample)));

// Level of the `hz` component of `signal`, in dB relative to full scale
// (Goertzel over the whole signal through a Hann window, whose gain of one
// half is made up for).
double LevelDb(const std::vector<int16_t>& signal, int rate, double hz) {
    const double w = 2 * std::numbers::pi * hz / rate;
    const double n = static_cast<double>(signal.size());
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < signal.size(); ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / n);
        const double s0 = signal[i] * hann + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    const double amplitude = 4 * std::sqrt(std::max(power, 0.0)) / n;
    return 20 * std::log10(std::max(amplitude, 1e-12) / 32768.0);
}

TEST(PcmConverterResample, SoxDownsamplingKeepsThePassBandAndRejectsAliases) {
    // 44100 -> 8000 Hz, the phone-format path: a 440 Hz tone passes; tones
    // at 5000, 6700 and 10300 Hz lie above the new Nyquist frequency and
    // would fold to 3000, 1300 and 2300 Hz (clear of the 440 Hz tone's
    // harmonics).
    const int from = 44100, to = 8000;
    std::vector<int16_t> in(from);
    for (int i = 0; i < from; ++i) {
        double v = 0;
        for (double hz : {440.0, 5000.0, 6700.0, 10300.0})
            v += 7000 * std::sin(2 * std::numbers::pi * hz * i / from);
        in[i] = static_cast<int16_t>(std::lround(v));
    }
    CPcmConverter c;
    ASSERT_TRUE(c.Configure({to, 1, 16}, {from, 1, 16}, ResamplerKind::Sox));
    const Output out =
        Convert(c, in, {}, kBlockFrames, CPcmConverter::OutputFramesFor(to, from, kBlockFrames));
    ASSERT_NEAR(static_cast<double>(out.left.size()), to, 1.0);
    EXPECT_NEAR(LevelDb(out.left, to, 440), 20 * std::log10(7000 / 32768.0), 0.5);
    for (double alias : {3000.0, 1300.0, 2300.0})
        EXPECT_LT(LevelDb(out.left, to, alias), -90.0) << alias << " Hz";
}

TEST(PcmConverterResample, SmallOutputCapacityUnderLargeUpRatioLosesNothing) {
    // 8000 -> 48000 makes six output floats per input frame; with only 100
    // frames of room per call the converter must keep the input it could
    // not place and never write past the room it was given.
    CPcmConverter c;
    ASSERT_TRUE(c.Configure({48000, 2, 16}, {8000, 2, 16}));
    std::vector<int16_t> left = SineMono(8000, 8000, 300, 10000);
    std::vector<int16_t> right = SineMono(8000, 8000, 300, 5000);
    Output out = Convert(c, left, right, kBlockFrames, 100);
    EXPECT_LE(out.maxPerCall, 100);
    EXPECT_NEAR(static_cast<double>(out.left.size()), 48000, 1.0);
    EXPECT_LT(WorstError(out.left, 48000, 300, 10000), 200);
    EXPECT_LT(WorstError(out.right, 48000, 300, 5000), 100);
}

TEST(PcmConverterResample, OneBlockUpsampledFitsTheDescribedBuffer) {
    // 8000 -> 44100: the output buffer of (44100 / 8000 + 1) blocks holds a
    // block's worth, about 6350 frames once the stream is running.
    EXPECT_EQ(CPcmConverter::OutputFramesFor(44100, 8000, kBlockFrames), 6 * kBlockFrames);
    CPcmConverter c;
    ASSERT_TRUE(c.Configure({44100, 1, 16}, {8000, 1, 16}, ResamplerKind::Libresample));
    std::vector<int16_t> in = SineMono(kBlockFrames * 4, 8000, 500, 8000);
    std::vector<int16_t> out(6 * kBlockFrames);
    int total = 0;
    for (int b = 0; b < 4; ++b) {
        const int n = c.Process(in.data() + b * kBlockFrames, nullptr, kBlockFrames, out.data(),
                                nullptr, static_cast<int>(out.size()));
        if (b >= 1) {
            EXPECT_NEAR(n, 6350, 5);
        }
        total += n;
    }
    while (int n = c.Flush(out.data(), nullptr, static_cast<int>(out.size()))) total += n;
    EXPECT_NEAR(total, 4 * kBlockFrames * 44100.0 / 8000, 1.0);
}

TEST(PcmConverterResample, StereoToMonoMixesBeforeResampling) {
    // Opposite channels cancel in the mix: the mono output is silent.
    CPcmConverter c;
    ASSERT_TRUE(c.Configure({8000, 1, 16}, {44100, 2, 16}));
    std::vector<int16_t> l = SineMono(44100, 44100, 440, 10000);
    std::vector<int16_t> r(l.size());
    for (size_t i = 0; i < l.size(); ++i) r[i] = static_cast<int16_t>(-l[i]);
    Output out = Convert(c, l, r, kBlockFrames, 6 * kBlockFrames);
    EXPECT_NEAR(static_cast<double>(out.left.size()), 8000, 1.0);
    for (int16_t s : out.left) ASSERT_LE(std::abs(s), 1);
}

TEST(PcmConverterResample, MonoToStereoRepeatsTheChannel) {
    CPcmConverter c;
    ASSERT_TRUE(c.Configure({48000, 2, 16}, {22050, 1, 16}));
    std::vector<int16_t> in = SineMono(22050, 22050, 1000, 9000);
    Output out = Convert(c, in, {}, kBlockFrames, 3 * kBlockFrames);
    EXPECT_EQ(out.left, out.right);
    EXPECT_LT(WorstError(out.left, 48000, 1000, 9000), 180);
}

TEST(PcmConverterEqualRate, BitDepthAndChannelConversions) {
    // 8-bit unsigned to 16-bit: (u - 128) * 256.
    {
        CPcmConverter c;
        ASSERT_TRUE(c.Configure({8000, 1, 16}, {8000, 1, 8}));
        const uint8_t in[4] = {0, 127, 128, 255};
        int16_t out[4] = {};
        ASSERT_EQ(c.Process(in, nullptr, 4, out, nullptr, 4), 4);
        EXPECT_EQ(out[0], -32768);
        EXPECT_EQ(out[1], -256);
        EXPECT_EQ(out[2], 0);
        EXPECT_EQ(out[3], 32512);
        EXPECT_EQ(c.Flush(out, nullptr, 4), 0);
    }
    // 16-bit to 8-bit: (s >> 8) + 128.
    {
        CPcmConverter c;
        ASSERT_TRUE(c.Configure({8000, 1, 8}, {8000, 1, 16}));
        const int16_t in[4] = {-32768, -1, 255, 32767};
        uint8_t out[4] = {};
        ASSERT_EQ(c.Process(in, nullptr, 4, out, nullptr, 4), 4);
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(out[1], 127);
        EXPECT_EQ(out[2], 128);
        EXPECT_EQ(out[3], 255);
    }
    // Stereo to mono: (L + R) >> 1, an arithmetic shift.
    {
        CPcmConverter c;
        ASSERT_TRUE(c.Configure({44100, 1, 16}, {44100, 2, 16}));
        const int16_t l[3] = {-3, 32767, 100}, r[3] = {-4, 32767, -101};
        int16_t out[3] = {};
        ASSERT_EQ(c.Process(l, r, 3, out, nullptr, 3), 3);
        EXPECT_EQ(out[0], -4);
        EXPECT_EQ(out[1], 32767);
        EXPECT_EQ(out[2], -1);
    }
    // Mono to stereo repeats the channel.
    {
        CPcmConverter c;
        ASSERT_TRUE(c.Configure({44100, 2, 16}, {44100, 1, 16}));
        const int16_t in[2] = {5, -7};
        int16_t l[2] = {}, r[2] = {};
        ASSERT_EQ(c.Process(in, nullptr, 2, l, r, 2), 2);
        EXPECT_EQ(r[0], 5);
        EXPECT_EQ(r[1], -7);
    }
}

TEST(PcmConverterConfigure, RejectsInvalidFormats) {
    CPcmConverter c;
    EXPECT_FALSE(c.Configure({0, 1, 16}, {44100, 1, 16}));
    EXPECT_FALSE(c.Configure({44100, 3, 16}, {44100, 1, 16}));
    EXPECT_FALSE(c.Configure({44100, 1, 24}, {44100, 1, 16}));
    int16_t in[4] = {1, 2, 3, 4}, out[4] = {};
    EXPECT_EQ(c.Process(in, nullptr, 4, out, nullptr, 4), 0);
}

}  // namespace
}  // namespace quelvox
