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

TEST(DownmixToStereo, MixesEachChannelLayout) {
    // 3: L R C
    EXPECT_EQ(Mix({100, 200, 1000}), std::make_pair(807, 907));
    // 4: L R BL BR, no centre
    EXPECT_EQ(Mix({100, 200, 10, 20}), std::make_pair(110, 220));
    // 5: L R C BL BR
    EXPECT_EQ(Mix({100, 200, 1000, 10, 20}), std::make_pair(817, 927));
    // 6: L R C LFE BL BR
    EXPECT_EQ(Mix({1000, 2000, 100, 100, 10, 20}), std::make_pair(1151, 2161));
    // 7: the back centre joins the centre term
    EXPECT_EQ(Mix({0, 0, 100, 0, 0, 0, 100}), std::make_pair(141, 141));
    // 8: side channels add to their own side
    EXPECT_EQ(Mix({1, 2, 0, 0, 10, 20, 100, 200}), std::make_pair(111, 222));
}

TEST(DownmixToStereo, PassesTwoAndNinePlusChannelsThrough) {
    EXPECT_EQ(Mix({-5, 7}), std::make_pair(-5, 7));
    EXPECT_EQ(Mix({11, 22, 1, 1, 1, 1, 1, 1, 30000}), std::make_pair(11, 22));
}

TEST(DownmixToStereo, ClipsAndTruncatesTowardZero) {
    EXPECT_EQ(Mix({30000, 30000, 30000, 30000, 30000, 30000, 30000, 30000}),
              std::make_pair(32767, 32767));
    EXPECT_EQ(Mix({-30000, -30000, -30000, -30000, -30000, -30000}),
              std::make_pair(-32768, -32768));
    // c = -3 * 0.707 = -2.121 -> -2
    EXPECT_EQ(Mix({0, 0, -3}), std::make_pair(-2, -2));
}

TEST(DownmixToStereo, SixChannelVariantsFollowTheirOrder) {
    int16_t l, r;
    // Vorbis: L C R BL BR LFE
    const int16_t vorbis[6] = {1000, 100, 2000, 10, 20, 100};
    DownmixVorbis51(vorbis, &l, &r);
    EXPECT_EQ(l, 1000 + 10 + 141);
    EXPECT_EQ(r, 2000 + 20 + 141);
    // AAC: C L R BL BR LFE
    const int16_t aac[6] = {100, 1000, 2000, 10, 20, 100};
    DownmixAac51(aac, &l, &r);
    EXPECT_EQ(l, 1151);
    EXPECT_EQ(r, 2161);
    // MPEG audio in MP4: L R BL BR C LFE
    const int16_t mp4[6] = {1000, 2000, 10, 20, 100, 100};
    DownmixMp4Mpeg51(mp4, &l, &r);
    EXPECT_EQ(l, 1151);
    EXPECT_EQ(r, 2161);
    const int16_t loud[6] = {32000, 32000, 32000, 32000, 32000, 32000};
    DownmixAac51(loud, &l, &r);
    EXPECT_EQ(l, 32767);
    EXPECT_EQ(r, 32767);
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
