#include "engine/Normalise.h"

#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quelvox {
namespace {

std::string Percent(float gain) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", gain * 100.0);
    return text;
}

TEST(NormalisationGain, RaisesPeaksToFullScale) {
    const float g = NormalisationGain(-16384, 16383);
    EXPECT_FLOAT_EQ(g, 2.0f);  // 32768 / 16384 beats 32767 / 16383
    EXPECT_EQ(Percent(g), "200.00%");
    EXPECT_FLOAT_EQ(NormalisationGain(-100, 1000), 32767.0f / 1000.0f);
    EXPECT_FLOAT_EQ(NormalisationGain(-32762, 32761), 32767.0f / 32761.0f);
}

TEST(NormalisationGain, NoGainOutsideTheUsableRange) {
    EXPECT_LT(NormalisationGain(-32767, 100), 0.0f);  // already at full scale
    EXPECT_LT(NormalisationGain(0, 0), 0.0f);         // silence
    EXPECT_LT(NormalisationGain(-500, 0), 0.0f);      // one-sided
    EXPECT_LT(NormalisationGain(0, 500), 0.0f);
    EXPECT_LT(NormalisationGain(-32763, 1000), 0.0f);
    EXPECT_LT(NormalisationGain(-1000, 32762), 0.0f);
}

TEST(ApplyGain, TruncatesTowardZeroAndClamps) {
    int16_t left[4] = {30000, -30000, 3, -3};
    int16_t right[4] = {1, 2, 3, 4};
    ApplyGain(left, right, 4, 1, 1.5f);
    EXPECT_EQ(left[0], 32767);
    EXPECT_EQ(left[1], -32768);
    EXPECT_EQ(left[2], 4);
    EXPECT_EQ(left[3], -4);
    // One channel: the right buffer is not touched.
    EXPECT_EQ(right[3], 4);
    ApplyGain(left, right, 4, 2, 0.5f);
    EXPECT_EQ(left[0], 16383);
    EXPECT_EQ(right[0], 0);
    EXPECT_EQ(right[3], 2);
}

TEST(ApplyGain, SameBufferAsBothChannelsScalesOnce) {
    int16_t buf[2] = {100, -100};
    ApplyGain(buf, buf, 2, 2, 2.0f);
    EXPECT_EQ(buf[0], 200);
    EXPECT_EQ(buf[1], -200);
}

TEST(SelectGain, ByVolumeType) {
    CSettings s{std::string_view{}};
    s.VolumeType = 0;
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f), 2.0f);
    EXPECT_FLOAT_EQ(SelectGain(s, -1.0f), 1.0f);
    s.VolumeType = 1;
    s.Volume = 150;
    const float g = SelectGain(s, 2.0f);
    EXPECT_FLOAT_EQ(g, 1.5f);
    int16_t samples[2] = {30000, -30000};
    ApplyGain(samples, nullptr, 2, 1, g);
    EXPECT_EQ(samples[0], 32767);
    EXPECT_EQ(samples[1], -32768);
    s.Volume = 100;
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f), 1.0f);
    s.VolumeType = 2;
    s.Volume = 150;
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f), 1.0f);
}

}  // namespace
}  // namespace quelvox
