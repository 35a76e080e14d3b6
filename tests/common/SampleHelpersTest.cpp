#include "common/SampleHelpers.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

using namespace quelvox;

namespace {

std::pair<int, int> Mix(std::initializer_list<int16_t> frame) {
    std::array<int16_t, 16> s{};
    int n = 0;
    for (int16_t v : frame) s[n++] = v;
    int16_t l = 0, r = 0;
    DownmixToStereo(n, s.data(), &l, &r);
    return {l, r};
}

}  // namespace

TEST(DownmixToStereo, FoldsEachCountWithoutEverClipping) {
    // Channels in the default order of their count; each side's weights
    // add up to 1 at most, so equal channels fold to their own value.
    const struct {
        std::initializer_list<int16_t> frame;
        int left, right;
    } cases[] = {
        // 3: L R C; the centre reaches both sides at 0.707 of a front
        // channel: 0.707 / 1.707 of the sum.
        {{0, 0, 1000}, 414, 414},
        {{1000, 0, 0}, 586, 0},
        // 4: L R BL BR, no centre: each side halves.
        {{1000, 2000, 10, 20}, 505, 1010},
        // 6: L R C LFE BL BR; a front channel alone reaches its side at
        // 1 / 3.414.
        {{1000, 0, 0, 0, 0, 0}, 293, 0},
        {{0, 0, 0, 0, 0, 1000}, 0, 293},
        // 7: the back centre reaches both sides like the centre.
        {{0, 0, 0, 0, 0, 0, 1000}, 172, 172},
        // Full-scale channels of every count stay within full scale.
        {{30000, 30000, 30000}, 30000, 30000},
        {{30000, 30000, 30000, 30000}, 30000, 30000},
        {{30000, 30000, 30000, 30000, 30000}, 30000, 30000},
        {{-32768, -32768, -32768, -32768, -32768, -32768}, -32768, -32768},
        {{32767, 32767, 32767, 32767, 32767, 32767, 32767}, 32767, 32767},
        {{30000, 30000, 30000, 30000, 30000, 30000, 30000, 30000}, 30000, 30000},
        // A negative centre rounds to nearest as a positive one does.
        {{0, 0, -1000}, -414, -414},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame.size());
        EXPECT_EQ(Mix(c.frame), std::make_pair(c.left, c.right));
    }
}

TEST(DownmixToStereo, PassesTwoAndNinePlusChannelsThrough) {
    EXPECT_EQ(Mix({-5, 7}), std::make_pair(-5, 7));
    EXPECT_EQ(Mix({11, 22, 1, 1, 1, 1, 1, 1, 30000}), std::make_pair(11, 22));
}

TEST(DownmixToStereo, SixChannelVariantsMixTheirOrderAsTheGenericOrder) {
    // The same channels, L R C LFE BL BR, in each variant's order.
    const int16_t generic[6] = {1000, 2000, 100, 300, 10, 20};
    int16_t wl, wr;
    DownmixToStereo(6, generic, &wl, &wr);
    const struct {
        void (*mix)(const int16_t*, int16_t*, int16_t*);
        int16_t frame[6];
    } variants[] = {
        {DownmixVorbis51, {1000, 100, 2000, 10, 20, 300}},  // L C R BL BR LFE
        {DownmixAac51, {100, 1000, 2000, 10, 20, 300}},     // C L R BL BR LFE
        {DownmixMp4Mpeg51, {1000, 2000, 10, 20, 100, 300}}, // L R BL BR C LFE
    };
    for (const auto& v : variants) {
        int16_t l, r;
        v.mix(v.frame, &l, &r);
        EXPECT_EQ(l, wl);
        EXPECT_EQ(r, wr);
    }
    const int16_t loud[6] = {32000, 32000, 32000, 32000, 32000, 32000};
    int16_t l, r;
    DownmixAac51(loud, &l, &r);
    EXPECT_EQ(l, 32000);
    EXPECT_EQ(r, 32000);
}

TEST(FloatToSample16, ScalesAndClampsOutOfRangeValues) {
    EXPECT_EQ(FloatToSample16(0.5), 16383);
    EXPECT_EQ(FloatToSample16(1.0), 32767);
    EXPECT_EQ(FloatToSample16(-1.0), -32768);
    EXPECT_EQ(FloatToSample16(0.0), 0);
    // Beyond full scale clamps instead of wrapping.
    EXPECT_EQ(FloatToSample16(3.0), 32767);
    EXPECT_EQ(FloatToSample16(-7.5), -32768);
    EXPECT_EQ(FloatToSample16(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(FloatToSample16(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(FloatToSample16(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(FloatToSample16(1e300), 32767);
}
