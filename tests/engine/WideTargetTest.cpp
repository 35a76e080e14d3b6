#include "engine/EncoderParams.h"

#include "common/CodecIds.h"

#include <gtest/gtest.h>

#include <vector>

namespace quelvox {
namespace {

class WideTargetTest : public ::testing::Test {
protected:
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    OutputFormatEntry& Format(int code) { return *FindFormat(catalogue, code); }
};

TEST_F(WideTargetTest, AutomaticWavFollowsTheSourceThroughThePcmCodecOfItsDepth) {
    OutputFormatEntry& wav = Format(kFormatWav);
    ASSERT_EQ(wav.CodecID, kCodecPcmS16Le);
    wav.AutoEncParam = 1;
    WideTarget t = ResolveWideTarget(wav, 2, 6, 24);
    EXPECT_EQ(t.channels, 6);
    EXPECT_EQ(t.bits, 24);
    EXPECT_EQ(t.codecId, kCodecPcmS24Le);
    t = ResolveWideTarget(wav, 2, 2, 32);
    EXPECT_EQ(t.bits, 32);
    EXPECT_EQ(t.codecId, kCodecPcmS32Le);
    // Sixteen-bit stereo stays exactly what it was.
    t = ResolveWideTarget(wav, 2, 2, 16);
    EXPECT_EQ(t.channels, 2);
    EXPECT_EQ(t.bits, 16);
    EXPECT_EQ(t.codecId, kCodecPcmS16Le);
}

TEST_F(WideTargetTest, ManualParametersKeepTheChosenChannelsAndCodec) {
    OutputFormatEntry& wav = Format(kFormatWav);
    wav.AutoEncParam = 0;
    const WideTarget t = ResolveWideTarget(wav, 1, 6, 24);
    EXPECT_EQ(t.channels, 1);
    EXPECT_EQ(t.bits, 16);
    EXPECT_EQ(t.codecId, kCodecPcmS16Le);
    wav.CodecID = kCodecPcmS24Le;
    EXPECT_EQ(ResolveWideTarget(wav, 2, 2, 16).bits, 24);  // "PCM 24-bit" always stores 24
}

TEST_F(WideTargetTest, FlacStopsAtTwentyFourBitsAndLossyTargetsStayStereo) {
    OutputFormatEntry& flac = Format(kFormatFlac);
    flac.AutoEncParam = 1;
    WideTarget t = ResolveWideTarget(flac, 2, 8, 32);
    EXPECT_EQ(t.channels, 8);
    EXPECT_EQ(t.bits, 24);
    EXPECT_EQ(t.codecId, kCodecFlac);
    OutputFormatEntry& mp3 = Format(kFormatMp3);
    mp3.AutoEncParam = 1;
    t = ResolveWideTarget(mp3, 2, 6, 24);
    EXPECT_EQ(t.channels, 2);
    EXPECT_EQ(t.bits, 16);
}

}  // namespace
}  // namespace quelvox
