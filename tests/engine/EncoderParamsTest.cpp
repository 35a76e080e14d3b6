#include "engine/EncoderParams.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "common/CodecIds.h"

namespace quelvox {
namespace {

const std::vector<int> kRates = {8000, 11025, 16000, 22050, 44100};

TEST(SnapToList, PicksTheNearestAllowedValue) {
    EXPECT_EQ(SnapToList(22050, kRates), 22050);
    EXPECT_EQ(SnapToList(30000, kRates), 22050);  // 7950 vs 14100 away
    EXPECT_EQ(SnapToList(40000, kRates), 44100);
    EXPECT_EQ(SnapToList(5000, kRates), 8000);
    EXPECT_EQ(SnapToList(96000, kRates), 44100);
}

TEST(SnapToList, TieGoesToTheLowerValue) {
    EXPECT_EQ(SnapToList(33075, kRates), 22050);
    const std::vector<int> aac = {44100, 48000};
    EXPECT_EQ(SnapToList(46050, aac), 44100);
    EXPECT_EQ(SnapToList(46051, aac), 48000);
}

TEST(SnapToList, NoListLeavesTheValue) {
    EXPECT_EQ(SnapToList(12345, {}), 12345);
    const std::vector<int> markerOnly = {-1};
    EXPECT_EQ(SnapToList(12345, markerOnly), 12345);
}

TEST(SnapToList, HonoursAnEndMarker) {
    const std::vector<int> marked = {8000, 11025, 16000, 22050, 44100, -1};
    EXPECT_EQ(SnapToList(96000, marked), 44100);
    EXPECT_EQ(SnapToList(30000, marked), 22050);
}

TEST(SnapToList, ExtremeValuesDoNotOverflow) {
    const std::vector<int> wide = {INT_MIN + 1, 0, INT_MAX};
    EXPECT_EQ(SnapToList(INT_MIN, wide), INT_MIN + 1);
    EXPECT_EQ(SnapToList(INT_MAX - 5, wide), INT_MAX);
    EXPECT_EQ(SnapToList(-1000, kRates), 8000);
}

TEST(SuggestBitrate, FollowsRateAndChannels) {
    EXPECT_EQ(SuggestBitrate(44100, 2), 128000);
    EXPECT_EQ(SuggestBitrate(48000, 1), 128000);
    EXPECT_EQ(SuggestBitrate(8000, 2), 48000);
    EXPECT_EQ(SuggestBitrate(22050, 1), 48000);
    EXPECT_EQ(SuggestBitrate(32000, 2), 96000);
    EXPECT_EQ(SuggestBitrate(16000, 6), 56000);  // anything but 1 is stereo
    int rate = 0;
    EXPECT_EQ(SuggestBitrate(44101, 2, &rate), 192000);
    EXPECT_EQ(rate, 48000);
    SuggestBitrate(12000, 1, &rate);
    EXPECT_EQ(rate, 12000);
    SuggestBitrate(20000, 1, &rate);
    EXPECT_EQ(rate, 22050);
}

class ResolveTest : public ::testing::Test {
protected:
    OutputFormatEntry Entry(int code) { return *FindFormat(catalogue_, code); }
    ResolvedParams Resolve(const OutputFormatEntry& e, int rate, int channels) {
        ResolvedParams r;
        EXPECT_TRUE(ResolveEncoderParams(e, rate, channels, r));
        return r;
    }
    std::vector<OutputFormatEntry> catalogue_ = BuildFormatCatalogue();
};

TEST_F(ResolveTest, Mp3AutomaticFromMonoSource) {
    ResolvedParams r = Resolve(Entry(kFormatMp3), 22050, 1);
    EXPECT_EQ(r.sampleRate, 22050);
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.bitRate, 48000);
    EXPECT_EQ(r.codec->CodecID, kCodecMp3);
}

TEST_F(ResolveTest, Mp3AutomaticFromHighRateSource) {
    ResolvedParams r = Resolve(Entry(kFormatMp3), 96000, 2);
    EXPECT_EQ(r.sampleRate, 48000);
    EXPECT_EQ(r.bitRate, 192000);
}

TEST_F(ResolveTest, AutomaticBitRateFollowsResolvedRate) {
    ResolvedParams r = Resolve(Entry(kFormatAc3), 22050, 2);
    EXPECT_EQ(r.sampleRate, 32000);
    EXPECT_EQ(r.bitRate, 96000);
}

TEST_F(ResolveTest, RateHalfwayBetweenTakesTheLower) {
    EXPECT_EQ(Resolve(Entry(kFormatAac), 46050, 2).sampleRate, 44100);
}

TEST_F(ResolveTest, ChannelsFollowTheCodecMask) {
    EXPECT_EQ(Resolve(Entry(kFormatAlac), 44100, 1).channels, 2);
    OutputFormatEntry gp = Entry(kFormat3gp);
    gp.Channels = 0;  // follow the source
    EXPECT_EQ(Resolve(gp, 44100, 2).channels, 1);
    gp.AutoEncParam = 1;
    ResolvedParams r = Resolve(gp, 44100, 2);
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.sampleRate, 8000);
    EXPECT_EQ(r.bitRate, 12200);  // 24000 suggested, snapped to the AMR modes
}

TEST_F(ResolveTest, G726AutomaticBitRateBecomesBitsPerSample) {
    OutputFormatEntry wav = Entry(kFormatWav);
    wav.AutoEncParam = 0;
    wav.CodecID = kCodecAdpcmG726;
    wav.BitRate = 0;
    wav.SampleRate = 32000;
    wav.Channels = 2;
    ResolvedParams r = Resolve(wav, 44100, 2);
    EXPECT_EQ(r.channels, 1);  // mono only
    EXPECT_EQ(r.bitRate, 5);   // 64000 suggested, nearest of 2..5
    wav.BitRate = 3;
    EXPECT_EQ(Resolve(wav, 44100, 2).bitRate, 3);
}

TEST_F(ResolveTest, VocDefaultIsManualPcm) {
    ResolvedParams r = Resolve(Entry(kFormatVoc), 44100, 2);
    EXPECT_EQ(r.codec->CodecID, kCodecPcmU8);
    EXPECT_EQ(r.sampleRate, 22050);
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.bitRate, 0);
}

TEST_F(ResolveTest, ThreeGpDefaultIsNarrowBandAmr) {
    ResolvedParams r = Resolve(Entry(kFormat3gp), 44100, 2);
    EXPECT_EQ(r.sampleRate, 8000);
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.bitRate, 10200);
}

TEST_F(ResolveTest, LosslessAndPcmGetNoBitRateInAutomaticMode) {
    for (int code : {kFormatFlac, kFormatWav, kFormatAlac, kFormatAiff}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(Resolve(Entry(code), 44100, 2).bitRate, 0);
    }
}

TEST_F(ResolveTest, ManualValuesAreSnapped) {
    OutputFormatEntry mp3 = Entry(kFormatMp3);
    mp3.AutoEncParam = 0;
    mp3.SampleRate = 44000;
    mp3.BitRate = 130000;
    mp3.Channels = 0;
    ResolvedParams r = Resolve(mp3, 8000, 1);
    EXPECT_EQ(r.sampleRate, 44100);
    EXPECT_EQ(r.bitRate, 128000);
    EXPECT_EQ(r.channels, 1);
    mp3.SampleRate = 0;  // the source's rate
    EXPECT_EQ(Resolve(mp3, 11025, 1).sampleRate, 11025);
    mp3.BitRate = 0;  // suggested from the resolved rate
    EXPECT_EQ(Resolve(mp3, 11025, 1).bitRate, 24000);
}

TEST_F(ResolveTest, ManualBitRatePassesWhenTheCodecHasNoList) {
    OutputFormatEntry flac = Entry(kFormatFlac);
    flac.AutoEncParam = 0;
    flac.BitRate = 777;
    EXPECT_EQ(Resolve(flac, 44100, 2).bitRate, 777);
    flac.BitRate = -5;
    EXPECT_EQ(Resolve(flac, 44100, 2).bitRate, 0);
}

TEST_F(ResolveTest, OutOfRangeChannelCountsBecomeStereo) {
    OutputFormatEntry mp3 = Entry(kFormatMp3);
    mp3.AutoEncParam = 0;
    mp3.Channels = 6;
    EXPECT_EQ(Resolve(mp3, 44100, 2).channels, 2);
    mp3.Channels = -3;
    EXPECT_EQ(Resolve(mp3, 44100, 1).channels, 2);
    OutputFormatEntry gp = Entry(kFormat3gp);
    gp.Channels = 5;
    EXPECT_EQ(Resolve(gp, 44100, 2).channels, 1);
}

// Opus codes at 48000 Hz: any source is resampled to it, except a source
// already at a lower libopus rate that the user picked.
TEST_F(ResolveTest, OpusResamplesToItsOwnRateUnlessTheSourceHasThePickedRate) {
    const OutputFormatEntry opus = Entry(kFormatOpus);
    for (int source : {8000, 11025, 16000, 22050, 24000, 44100, 48000, 96000})
        EXPECT_EQ(Resolve(opus, source, 2).sampleRate, 48000) << source;

    OutputFormatEntry manual = opus;
    manual.AutoEncParam = 0;
    manual.SampleRate = 16000;
    EXPECT_EQ(Resolve(manual, 16000, 1).sampleRate, 16000);
    EXPECT_EQ(Resolve(manual, 44100, 1).sampleRate, 48000);
    EXPECT_EQ(Resolve(manual, 12000, 1).sampleRate, 48000);
    // "The source's rate" keeps a listed rate, resamples any other.
    manual.SampleRate = 0;
    EXPECT_EQ(Resolve(manual, 24000, 2).sampleRate, 24000);
    EXPECT_EQ(Resolve(manual, 22050, 2).sampleRate, 48000);
    EXPECT_EQ(Resolve(manual, 32000, 2).sampleRate, 48000);
}

TEST_F(ResolveTest, OpusAutomaticBitRateIs64kPerChannel) {
    OutputFormatEntry opus = Entry(kFormatOpus);
    EXPECT_EQ(Resolve(opus, 44100, 2).bitRate, 128000);
    EXPECT_EQ(Resolve(opus, 44100, 1).bitRate, 64000);
    EXPECT_EQ(Resolve(opus, 8000, 1).bitRate, 64000);  // not the low-rate suggestion
    opus.AutoEncParam = 0;
    opus.BitRate = 0;
    opus.Channels = 1;
    EXPECT_EQ(Resolve(opus, 44100, 2).bitRate, 64000);
    opus.BitRate = 1000000;  // above the list: its top
    EXPECT_EQ(Resolve(opus, 44100, 2).bitRate, 256000);
    opus.BitRate = 1;
    EXPECT_EQ(Resolve(opus, 44100, 2).bitRate, 6000);
}

TEST_F(ResolveTest, FailsForACodecOutsideTheList) {
    OutputFormatEntry mp3 = Entry(kFormatMp3);
    mp3.CodecID = kCodecVorbis;
    ResolvedParams r;
    r.sampleRate = 123;
    EXPECT_FALSE(ResolveEncoderParams(mp3, 44100, 2, r));
    EXPECT_EQ(r.sampleRate, 123);
    EXPECT_FALSE(ResolveEncoderParams(Entry(kFormatWma), 44100, 2, r));
}

}  // namespace
}  // namespace quelvox
