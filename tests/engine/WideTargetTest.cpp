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

// With automatic parameters: lossless targets keep the source's rate where
// their codec stores it, a float source stays float where the container
// stores float, and surround codecs keep 5.1 or 7.1 with a bit rate per
// pair of channels; mono and stereo sources resolve as they always did.
TEST_F(WideTargetTest, AutomaticTargetsFollowRateDepthAndSurroundOfTheSource) {
    const struct {
        int format;
        int rate, channels, bits;
        bool isFloat;
        int wantRate, wantChannels, wantBits, wantCodec, wantBitRate;
    } rows[] = {
        {kFormatFlac, 192000, 2, 24, false, 192000, 2, 24, kCodecFlac, 0},
        {kFormatFlac, 35467, 2, 16, false, 35467, 2, 16, kCodecFlac, 0},
        {kFormatFlac, 39000, 1, 16, false, 39000, 1, 16, kCodecFlac, 0},
        {kFormatFlac, 654320, 2, 24, false, 654320, 2, 24, kCodecFlac, 0},
        // Above 65535 Hz FLAC names rates in tens of Hz: the nearest listed.
        {kFormatFlac, 88201, 2, 16, false, 88200, 2, 16, kCodecFlac, 0},
        {kFormatFlac, 48000, 2, 32, true, 48000, 2, 24, kCodecFlac, 0},
        {kFormatAlac, 96000, 2, 24, false, 96000, 2, 24, kCodecAlac, 0},
        {kFormatAlac, 384000, 2, 24, false, 384000, 2, 24, kCodecAlac, 0},
        {kFormatAlac, 705600, 2, 24, false, 384000, 2, 24, kCodecAlac, 0},
        {kFormatWav, 35467, 2, 16, false, 35467, 2, 16, kCodecPcmS16Le, 0},
        {kFormatWav, 48000, 2, 32, true, 48000, 2, 32, kCodecPcmF32Le, 0},
        {kFormatWav, 48000, 2, 32, false, 48000, 2, 32, kCodecPcmS32Le, 0},
        {kFormatWav, 44100, 2, 16, false, 44100, 2, 16, kCodecPcmS16Le, 0},
        {kFormatAiff, 705600, 6, 32, true, 705600, 6, 32, kCodecPcmF32Be, 0},
        {kFormatAu, 1000, 1, 32, true, 1000, 1, 32, kCodecPcmF32Be, 0},
        {kFormatAac, 48000, 6, 16, false, 48000, 6, 16, kCodecAac, 576000},
        {kFormatAac, 44100, 8, 24, false, 44100, 8, 16, kCodecAac, 512000},
        {kFormatAac, 44100, 7, 16, false, 44100, 6, 16, kCodecAac, 384000},
        {kFormatAac, 44100, 5, 16, false, 44100, 2, 16, kCodecAac, 128000},
        {kFormatAac, 44100, 2, 16, false, 44100, 2, 16, kCodecAac, 128000},
        {kFormatAc3, 48000, 8, 16, false, 48000, 6, 16, kCodecAc3, 576000},
        {kFormatAc3, 44100, 6, 16, false, 44100, 6, 16, kCodecAc3, 384000},
        {kFormatOpus, 44100, 6, 16, false, 48000, 6, 16, kCodecOpus, 384000},
        {kFormatOpus, 44100, 1, 16, false, 48000, 1, 16, kCodecOpus, 64000},
        {kFormatOgg, 48000, 8, 16, false, 48000, 8, 16, kCodecVorbis, 768000},
        {kFormatOgg, 44100, 6, 16, false, 44100, 6, 16, kCodecVorbis, 400000},
        {kFormatMp3, 96000, 6, 32, true, 48000, 2, 16, kCodecMp3, 192000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.format << " from " << row.rate << " Hz, "
                                          << row.channels << " ch, " << row.bits << " bits");
        OutputFormatEntry& entry = Format(row.format);
        ASSERT_EQ(entry.AutoEncParam, 1);
        ResolvedParams p;
        ASSERT_TRUE(
            ResolveEncoderParams(entry, row.rate, row.channels == 1 ? 1 : 2, p, row.channels));
        const WideTarget t =
            ResolveWideTarget(entry, p.channels, row.channels, row.bits, row.isFloat);
        EXPECT_EQ(p.sampleRate, row.wantRate);
        EXPECT_EQ(t.channels, row.wantChannels);
        EXPECT_EQ(t.bits, row.wantBits);
        EXPECT_EQ(t.codecId, row.wantCodec);
        EXPECT_EQ(p.bitRate, row.wantBitRate);
    }
}

// Manual parameters are the user's: no kept rate, float or surround.
TEST_F(WideTargetTest, ManualParametersKeepNoneOfIt) {
    for (int code : {kFormatFlac, kFormatWav, kFormatAac}) {
        SCOPED_TRACE(code);
        OutputFormatEntry& entry = Format(code);
        entry.AutoEncParam = 0;
        entry.SampleRate = 0;
        entry.Channels = 0;
        ResolvedParams p;
        ASSERT_TRUE(ResolveEncoderParams(entry, 35467, 2, p, 6));
        EXPECT_NE(p.sampleRate, 35467);
        EXPECT_EQ(p.channels, 2);
        EXPECT_EQ(ResolveWideTarget(entry, p.channels, 2, 32, true).codecId, entry.CodecID);
    }
}

}  // namespace
}  // namespace quelvox
