#include "engine/Normalise.h"
#include "engine/LoudnessMeter.h"

#include "engine/ReaderFactory.h"
#include "common/FormatCatalogue.h"
#include "engine/ConversionContext.h"
#include "common/FileEntry.h"
#include "platform/bass/BassRuntime.h"
#include "settings/Settings.h"
#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <cstdio>
#include <string>
#include <vector>

namespace quelvox {
namespace {

using testsupport::PassFixture;
using testsupport::WavBytes;

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
    s.VolumeType = kVolumeNormalise;
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f), 2.0f);
    EXPECT_FLOAT_EQ(SelectGain(s, -1.0f), 1.0f);
    s.VolumeType = kVolumeFixed;
    s.Volume = 150;
    const float g = SelectGain(s, 2.0f);
    EXPECT_FLOAT_EQ(g, 1.5f);
    int16_t samples[2] = {30000, -30000};
    ApplyGain(samples, nullptr, 2, 1, g);
    EXPECT_EQ(samples[0], 32767);
    EXPECT_EQ(samples[1], -32768);
    s.Volume = 100;
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f), 1.0f);
    s.VolumeType = kVolumeUnchanged;
    s.Volume = 150;
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f), 1.0f);
    s.VolumeType = kVolumeLoudness;
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f, 0.5f), 0.5f);
    EXPECT_FLOAT_EQ(SelectGain(s, 2.0f), 1.0f);
}

// ---- Measuring pass over real files ----

OutputFormatEntry Mp3Format() {
    OutputFormatEntry f;
    f.code = 1000;
    f.SampleRate = 44100;
    return f;
}

TEST(MeasurePeaks, FindsBothPeaksOfAStereoFile) {
    testsupport::TempDir dir;
    PassFixture f;
    // Left peaks at +16383, right at -16384, in different blocks.
    std::vector<int16_t> samples(2 * 44100, 0);
    samples[2 * 5000] = 16383;
    samples[2 * 30000 + 1] = -16384;
    samples[2 * 100] = -200;
    f.entry.Path = dir.file("peaks.wav");
    f.entry.InputType = 2000;
    testsupport::WriteFile(f.entry.Path, WavBytes(44100, 2, samples));
    f.ctx.currentEntry = &f.entry;
    int audioFound = 1;
    float lo = 1, hi = -1;
    ASSERT_EQ(MeasurePeaks(f.ctx, f.entry, Mp3Format(), audioFound, lo, hi), 1);
    EXPECT_EQ(lo, -16384);
    EXPECT_EQ(hi, 16383);
    EXPECT_EQ(audioFound, 1);
    EXPECT_FLOAT_EQ(NormalisationGain(lo, hi), 2.0f);
    ASSERT_FALSE(f.progress.fileTexts.empty());
    EXPECT_EQ(f.progress.fileTexts.front(), "[0%] 正在标准化 peaks.wav...");
    EXPECT_EQ(f.progress.fileTexts.back(), "[100%] 正在标准化 peaks.wav...");
    // Pumping (and the cancel check) on every third block only.
    const int blocks = (44100 + kBlockFrames - 1) / kBlockFrames;
    EXPECT_EQ(f.progress.pumps, (blocks + 2) / 3);
}

TEST(MeasurePeaks, DeepSurroundIsMeasuredAsTheTargetReceivesIt) {
    testsupport::TempDir dir;
    PassFixture f;
    // Front left and back left carry the same tone at 0.3: each channel
    // peaks there, their fold to the left side at 0.6 scaled by the fold's
    // 1 / 3.414.
    f.entry.Path = testsupport::MakeWithFfmpeg(
        dir, "six.flac",
        "-f lavfi -i \"aevalsrc=0.3*sin(2*PI*997*t)|0|0|0|0.3*sin(2*PI*997*t)|0:c=5.1:s=48000:"
        "d=1\" -c:a flac -sample_fmt s32 -bits_per_raw_sample 24");
    f.entry.InputType = 3200;
    f.ctx.currentEntry = &f.entry;
    int audioFound = 1;
    float lo = 0, hi = 0;
    ASSERT_EQ(MeasurePeaks(f.ctx, f.entry, *CatalogueRow(kFormatWav), audioFound, lo, hi), 1);
    EXPECT_NEAR(hi, 0.3 * 32768, 2.0);
    EXPECT_NEAR(lo, -0.3 * 32768, 2.0);
    EXPECT_NE(hi, std::round(hi)) << "measured at 24 bits";
    ASSERT_EQ(MeasurePeaks(f.ctx, f.entry, *CatalogueRow(kFormatMp3), audioFound, lo, hi), 1);
    EXPECT_NEAR(hi, 0.6 / 3.414 * 32768, 4.0);
    EXPECT_GT(NormalisationGain(lo, hi), 5.5f);
}

TEST(MeasurePeaks, SilenceGivesNoGainAndTheShownNameIsTheEntrys) {
    testsupport::TempDir dir;
    PassFixture f;
    f.entry.Path = dir.file("original.dts");
    f.ctx.currentEntry = &f.entry;
    FileEntry temp;
    temp.Path = dir.file("tmp123.wav");
    temp.InputType = 2000;
    testsupport::WriteFile(temp.Path, WavBytes(22050, 1, std::vector<int16_t>(5000, 0)));
    int audioFound = 1;
    float lo = 1, hi = 1;
    ASSERT_EQ(MeasurePeaks(f.ctx, temp, Mp3Format(), audioFound, lo, hi), 1);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 0);
    EXPECT_LT(NormalisationGain(lo, hi), 0.0f);
    EXPECT_EQ(f.progress.fileTexts.front(), "[0%] 正在标准化 original.dts...");
}

TEST(MeasurePeaks, CancelAndUnreadableFilesFail) {
    testsupport::TempDir dir;
    {
        PassFixture f;
        f.entry.Path = dir.file("long.wav");
        f.entry.InputType = 2000;
        std::vector<int16_t> samples(44100, 0);
        samples[40000] = 1000;  // beyond the point of cancelling
        testsupport::WriteFile(f.entry.Path, WavBytes(44100, 1, samples));
        f.progress.cancelAfterPumps = 0;
        int audioFound = 1;
        float lo = 0, hi = 0;
        EXPECT_EQ(MeasurePeaks(f.ctx, f.entry, Mp3Format(), audioFound, lo, hi), 0);
        EXPECT_EQ(hi, 0);
        EXPECT_NE(f.progress.fileTexts.back().rfind("[100%]", 0), 0u);
    }
    {
        PassFixture f;
        f.entry.Path = dir.file("missing.wav");
        f.entry.InputType = 2000;
        int audioFound = 1;
        float lo = 5, hi = 5;
        EXPECT_EQ(MeasurePeaks(f.ctx, f.entry, Mp3Format(), audioFound, lo, hi), 0);
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 0);
    }
}

TEST(LoudnessGain, ReachesTheTargetUnderTheCeilingAndLeavesSilenceAlone) {
    CSettings s{std::string_view{}};
    s.LoudnessTarget = -16;
    s.TruePeakCeiling = -10;
    LoudnessResult r;
    r.valid = true;
    r.loudness = -26.0;
    r.peak = 0.1;  // -20 dBTP
    r.seconds = 5.0;
    EXPECT_NEAR(LoudnessGain(s, r), std::pow(10.0, 0.5), 1e-4);  // +10 dB
    r.peak = 0.5;  // +10 dB would pass -1 dBTP: the ceiling decides
    EXPECT_NEAR(LoudnessGain(s, r) * 0.5, std::pow(10.0, -0.05), 1e-4);
    r.loudness = -75.0;
    EXPECT_FLOAT_EQ(LoudnessGain(s, r), 1.0f);
    r.loudness = -HUGE_VAL;
    EXPECT_FLOAT_EQ(LoudnessGain(s, r), 1.0f);
    r.loudness = -26.0;
    r.seconds = 0.3;
    EXPECT_FLOAT_EQ(LoudnessGain(s, r), 1.0f);
    // Stored values beyond the ranges count as their nearest ends.
    s.LoudnessTarget = -40;
    s.TruePeakCeiling = 50;
    EXPECT_EQ(TargetLufs(s), -31.0);
    EXPECT_EQ(CeilingDbtp(s), 0.0);
}

// With the limiter the gain takes a file to the target whatever its peak,
// raised by the loudness the limiter will take (forecast from the file's
// envelope); without it the ceiling caps the gain and says where it held.
TEST(LoudnessGain, TheLimiterLetsTheGainReachTheTarget) {
    CSettings s{std::string_view{}};
    s.VolumeType = kVolumeLoudness;
    s.LoudnessTarget = -16;
    s.TruePeakCeiling = -10;
    // Loud pieces every half second, 10 dB above the rest: at +10 dB of
    // gain they would reach +3 dBTP.
    auto envelope = std::make_shared<PeakEnvelope>();
    envelope->rate = 44100;
    for (int i = 0; i < 44100 * 4 / 64; ++i) {
        const bool loud = i % 345 < 20;
        envelope->peak.push_back(loud ? 0.45f : 0.14f);
        envelope->energy.push_back(loud ? 10.0f : 1.0f);
    }
    LoudnessResult r;
    r.valid = true;
    r.loudness = -26.0;
    r.peak = 0.45;
    r.seconds = 4.0;
    struct Case {
        int limiter;
        bool withEnvelope;
        double gainDb;  // NaN: above the plain gain, where the forecast says
        double heldLufs;
    };
    const double ceilingGainDb = -1.0 - 20 * std::log10(0.45);  // 5.94 dB
    for (const Case c : {Case{0, false, ceilingGainDb, -26.0 + ceilingGainDb},
                         Case{1, false, 10.0, NAN}, Case{1, true, NAN, NAN}}) {
        SCOPED_TRACE(c.limiter * 2 + c.withEnvelope);
        s.LoudnessLimiter = c.limiter;
        r.envelopes.clear();
        if (c.withEnvelope) r.envelopes.push_back(envelope);
        const float gain = LoudnessGain(s, r);
        const double db = 20 * std::log10(gain);
        if (std::isnan(c.gainDb)) {
            EXPECT_GT(db, 10.05);
            const double change = LimitedLoudnessChange(r.envelopes, gain, LimiterCeiling(s));
            EXPECT_NEAR(-26.0 + db + change, -16.0, 0.05);
        } else {
            EXPECT_NEAR(db, c.gainDb, 1e-3);
        }
        const double held = HeldLoudness(s, r, gain);
        if (std::isnan(c.heldLufs))
            EXPECT_TRUE(std::isnan(held));
        else
            EXPECT_NEAR(held, c.heldLufs, 1e-3);
    }
    // Audio the limiter never touches loses nothing.
    EXPECT_EQ(LimitedLoudnessChange(r.envelopes, 1.0, 1.0), 0.0);
    // Held only when clearly short of the target.
    r.loudness = -16.02;
    EXPECT_TRUE(std::isnan(HeldLoudness(s, r, 1.0f)));
}

TEST(ReplayGainFor, DescribesTheOutputAfterItsGain) {
    LoudnessResult track;
    track.valid = true;
    track.loudness = -20.0;
    track.peak = 0.25;
    track.seconds = 3.0;
    ReplayGain rg = ReplayGainFor(track, LoudnessResult{}, 1.0f);
    EXPECT_EQ(rg.trackGain, "2.00 dB");
    EXPECT_EQ(rg.trackPeak, "0.250000");
    EXPECT_TRUE(rg.albumGain.empty());
    LoudnessResult album = track;
    album.loudness = -23.5;
    rg = ReplayGainFor(track, album, 2.0f);  // +6.02 dB applied
    EXPECT_EQ(rg.trackGain, "-4.02 dB");
    EXPECT_EQ(rg.trackPeak, "0.500000");
    EXPECT_EQ(rg.albumGain, "-0.52 dB");
    track.loudness = -HUGE_VAL;  // silence: nothing to say
    EXPECT_TRUE(ReplayGainFor(track, LoudnessResult{}, 1.0f).IsEmpty());
    // Measured as written: the track's values as they are; the album's at
    // the gain, its peak no higher than the limiter let any file go, but
    // never below this file's own.
    LoudnessResult written;
    written.valid = true;
    written.loudness = -16.3;
    written.peak = 0.95;
    written.seconds = 3.0;
    album.peak = 0.6;
    rg = ReplayGainOfWritten(written, album, 2.0f, 0.89);
    EXPECT_EQ(rg.trackGain, "-1.70 dB");
    EXPECT_EQ(rg.trackPeak, "0.950000");
    EXPECT_EQ(rg.albumGain, "-0.52 dB");
    EXPECT_EQ(rg.albumPeak, "0.950000");
    written.peak = 0.5;
    EXPECT_EQ(ReplayGainOfWritten(written, album, 2.0f, 0.89).albumPeak, "0.890000");
    EXPECT_EQ(ReplayGainOfWritten(written, album, 2.0f, 0.0).albumPeak, "1.200000");
}

}  // namespace
}  // namespace quelvox
