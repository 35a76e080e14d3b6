// Lossless conversions of sources wider than 16-bit stereo: FLAC files
// (read through libsndfile) and FLAC in Matroska (read by the FFmpeg
// reader) to WAV keep depth and channels.
#include "engine/ConvertFile.h"

#include "common/FileEntry.h"
#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "decoders/FFmpegReader.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"
#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quelvox;
using namespace testsupport;

namespace {

// Every channel of `path` through ReadBlock, as integers of `bits` bits.
std::vector<std::vector<int32_t>> Planes(const std::string& path, int bits, int* sourceBits) {
    CFFmpegReader r;
    EXPECT_TRUE(r.Open(path, 0)) << path;
    *sourceBits = r.GetSourceBits();
    std::vector<std::vector<int32_t>> p(static_cast<size_t>(r.GetBlockChannels()));
    AudioBlock b;
    while (r.ReadBlock(b) > 0)
        for (int c = 0; c < b.Channels(); ++c)
            for (int i = 0; i < b.frames; ++i)
                p[static_cast<size_t>(c)].push_back(FloatToInt(b.Channel(c)[i], bits));
    return p;
}

class ConvertWideTest : public ::testing::Test, protected ConversionFixture {
protected:
    TempDir dir;
};

class ConvertWideContainerTest : public ConvertWideTest,
                                 public ::testing::WithParamInterface<const char*> {};

TEST_P(ConvertWideContainerTest, TwentyFourBitFlacKeepsEveryBitInEachLosslessTarget) {
    const std::string src = MakeWithFfmpeg(
        dir, std::string("hi.") + GetParam(),
        "-f lavfi -i \"aevalsrc=0.3*sin(2*PI*1000*t)|0.25*sin(2*PI*3000*t):s=96000:d=1\" "
        "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24");
    int srcBits = 0;
    const auto want = Planes(src, 24, &srcBits);
    EXPECT_EQ(srcBits, 24);
    const struct {
        int format;
        const char* name;
        const char* codec;
        int rate;
    } targets[] = {{kFormatWav, "hi.wav", "pcm_s24le", 96000},
                   {kFormatFlac, "out.flac", "flac", 96000},
                   {kFormatAlac, "hi.m4a", "alac", 96000}};
    for (const auto& t : targets) {
        SCOPED_TRACE(t.name);
        const std::string out = dir.file(t.name);
        ASSERT_TRUE(Convert(src, out, t.format));
        EXPECT_EQ(Probe(out, "sample_rate"), std::to_string(t.rate));
        EXPECT_EQ(Probe(out, "codec_name"), t.codec);
        int outBits = 0;
        const auto got = Planes(out, 24, &outBits);
        EXPECT_EQ(outBits, 24);
        ASSERT_EQ(got.size(), 2u);
        ASSERT_EQ(got[0].size(), static_cast<size_t>(t.rate));
        EXPECT_EQ(got, want);
        int finer = 0;
        for (int32_t s : got[0]) finer += s % 256 != 0;
        EXPECT_GT(finer, t.rate * 9 / 10) << "the low 8 bits are not used";
    }
}

TEST_P(ConvertWideContainerTest, SixChannelFlacKeepsSixChannelsInWavAndFlac) {
    const std::string src =
        MakeSurroundTones(dir, std::string("six.") + GetParam(), "-c:a flac -sample_fmt s16");
    int bits = 0;
    const auto want = Planes(src, 16, &bits);
    for (const auto& [format, name] : {std::pair{kFormatWav, "six.wav"}, {kFormatFlac, "o.flac"}}) {
        SCOPED_TRACE(name);
        const std::string out = dir.file(name);
        ASSERT_TRUE(Convert(src, out, format));
        EXPECT_EQ(Probe(out, "channels"), "6");
        EXPECT_EQ(Probe(out, "channel_layout"), "5.1");
        const auto got = Planes(out, 16, &bits);
        EXPECT_EQ(bits, 16);
        ASSERT_EQ(got.size(), 6u);
        EXPECT_EQ(got, want);
        const double full = 0.1 * 32768;
        for (size_t c = 0; c < 6; ++c) {
            const std::vector<int16_t> x(got[c].begin(), got[c].end());
            EXPECT_NEAR(ToneLevel(x, 48000, 48000, kSurroundToneHz[c]) / full, 1.0, 0.05) << c;
            for (size_t k = 0; k < 6; ++k) {
                if (k != c) {
                    EXPECT_LT(ToneLevel(x, 48000, 48000, kSurroundToneHz[k]) / full, 0.01);
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FlacFileAndMatroska, ConvertWideContainerTest,
                         ::testing::Values("flac", "mka"));

TEST_F(ConvertWideTest, SixChannelsToMp3FoldToStereoByTheMixWeights) {
    const std::string src = MakeSurroundTones(dir, "six.mka", "-c:a flac -sample_fmt s16");
    const std::string out = dir.file("six.mp3");
    ASSERT_TRUE(Convert(src, out, kFormatMp3));
    EXPECT_EQ(Probe(out, "channels"), "2");
    const std::vector<int16_t> pcm = DecodeWithFfmpeg(out);
    Decoded d;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        d.left.push_back(pcm[i]);
        d.right.push_back(pcm[i + 1]);
    }
    ExpectSurroundMixedToStereo(d);
}

}  // namespace

namespace {

TEST_F(ConvertWideTest, ReducingDepthRoundsAndDithersByTheSetting) {
    const std::string src = MakeWithFfmpeg(
        dir, "hi.flac",
        "-f lavfi -i \"aevalsrc=0.3*sin(2*PI*997*t):s=48000:d=1\" -c:a flac -sample_fmt s32 "
        "-bits_per_raw_sample 24");
    OutputFormatEntry& wav = *FindFormat(catalogue, kFormatWav);
    wav.AutoEncParam = 0;
    wav.SampleRate = 48000;
    wav.Channels = 1;
    int bits = 0;
    const auto source = Planes(src, 24, &bits);
    ASSERT_EQ(bits, 24);

    settings.DitherOnReduce = 0;
    ASSERT_TRUE(Convert(src, dir.file("plain.wav"), kFormatWav));
    const auto plain = Planes(dir.file("plain.wav"), 16, &bits);
    EXPECT_EQ(bits, 16);
    ASSERT_EQ(plain[0].size(), source[0].size());
    for (size_t i = 0; i < plain[0].size(); ++i)
        ASSERT_EQ(plain[0][i], FloatToInt16(IntToFloat(source[0][i], 24))) << i;

    settings.DitherOnReduce = 1;
    ASSERT_TRUE(Convert(src, dir.file("dither.wav"), kFormatWav));
    const auto dithered = Planes(dir.file("dither.wav"), 16, &bits);
    ASSERT_EQ(dithered[0].size(), plain[0].size());
    // The error against the exact 24-bit value, in 16-bit steps: rounding
    // alone leaves 1/12 of a step squared; triangular dither of one step
    // each way adds 1/6, a quarter in all.
    auto errorPower = [&](const std::vector<int32_t>& out) {
        double sum = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            const double e = out[i] - source[0][i] / 256.0;
            sum += e * e;
        }
        return sum / static_cast<double>(out.size());
    };
    EXPECT_NEAR(errorPower(plain[0]), 1.0 / 12, 0.01);
    EXPECT_NEAR(errorPower(dithered[0]), 0.25, 0.025);
    for (size_t i = 0; i < plain[0].size(); ++i)
        ASSERT_LE(std::abs(dithered[0][i] - plain[0][i]), 1) << i;
}

}  // namespace

namespace {

TEST_F(ConvertWideTest, DeepSourceToMp3GoesThroughFloat) {
    const std::string src = MakeWithFfmpeg(
        dir, "hi.flac",
        "-f lavfi -i \"aevalsrc=0.3*sin(2*PI*1000*t)|0.2*sin(2*PI*1500*t):s=44100:d=2\" "
        "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24");
    const std::string out = dir.file("hi.mp3");
    ASSERT_TRUE(Convert(src, out, kFormatMp3));
    EXPECT_EQ(Probe(out, "channels"), "2");
    const std::vector<int16_t> pcm = DecodeWithFfmpeg(out);
    std::vector<int16_t> left;
    for (size_t i = 0; i < pcm.size(); i += 2) left.push_back(pcm[i]);
    EXPECT_NEAR(ToneLevel(left, 22050, 44100, 1000) / (0.3 * 32768), 1.0, 0.05);
}

}  // namespace

namespace {

// A lossy codec that offers surround keeps 5.1 when the options page picks
// it, and with automatic parameters.
TEST_F(ConvertWideTest, SurroundChoiceKeepsSixChannelsInLossyCodecs) {
    const std::string src = MakeSurroundTones(dir, "six.flac", "-c:a flac -sample_fmt s16");
    for (const auto& [format, name] : {std::pair{kFormatM4a, "six.m4a"}, {kFormatOgg, "six.ogg"},
                                       {kFormatOpus, "six.opus"}, {kFormatAc3, "six.ac3"}}) {
        SCOPED_TRACE(name);
        OutputFormatEntry& entry = *FindFormat(catalogue, format);
        entry.AutoEncParam = 0;
        entry.Channels = 6;
        entry.SampleRate = 48000;
        const std::string out = dir.file(name);
        ASSERT_TRUE(Convert(src, out, format));
        EXPECT_EQ(Probe(out, "channels"), "6");
        const std::vector<int16_t> pcm = DecodeWithFfmpeg(out);
        std::vector<int16_t> x[6];
        for (size_t i = 0; i + 5 < pcm.size(); i += 6)
            for (size_t c = 0; c < 6; ++c) x[c].push_back(pcm[i + c]);
        ASSERT_GT(x[0].size(), 96000u);
        const double full = 0.1 * 32768;
        for (size_t c = 0; c < 6; ++c) {
            if (c == 3) continue;  // the low-frequency channel may be band-limited
            EXPECT_NEAR(ToneLevel(x[c], 48000, 48000, kSurroundToneHz[c]) / full, 1.0, 0.15) << c;
        }
        entry.AutoEncParam = 1;
        ASSERT_TRUE(Convert(src, out, format));
        EXPECT_EQ(Probe(out, "channels"), "6");
    }
}

}  // namespace

namespace {

// Every reader hands its depth and channels on through the conversion:
// sources of each reader (and decoding back end) converted to WAV.
TEST_F(ConvertWideTest, EveryReaderHandsOnDepthAndChannels) {
    const std::vector<int32_t> fine = FineSamples(2 * 48000, 24);
    WriteFile(dir.file("src.wav"), WavFileBytes(1, 2, 48000, 24, PackSamples(fine, 3, false)));
    const std::string deep = "-i " + Quote(dir.file("src.wav")) + " ";
    const struct {
        std::string source;
        const char* channels;
        const char* codec;
    } cases[] = {
        {MakeWithFfmpeg(dir, "hi.aiff", deep + "-c:a pcm_s24be"), "2", "pcm_s24le"},
        {MakeWithFfmpeg(dir, "hi.au", deep + "-c:a pcm_s24be"), "2", "pcm_s24le"},
        {MakeWithFfmpeg(dir, "hi.m4a", deep + "-c:a alac -sample_fmt s32p"), "2", "pcm_s24le"},
        {MakeWithFfmpeg(dir, "hi.wma", deep + "-c:a pcm_s24le -f asf"), "2", "pcm_s24le"},
        {MakeWithFfmpeg(dir, "hi.wv", deep + "-c:a wavpack"), "2", "pcm_s32le"},
        {MakeSurroundTones(dir, "six.ogg", "-c:a libvorbis"), "6", "pcm_s16le"},
        {MakeSurroundTones(dir, "six.aac", "-c:a aac"), "6", "pcm_s16le"},
        {MakeSurroundTones(dir, "six.wv", "-c:a wavpack -sample_fmt s16p"), "6", "pcm_s16le"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string out = c.source + ".wav";
        ASSERT_TRUE(Convert(c.source, out, kFormatWav)) << found.errorDetail;
        EXPECT_EQ(Probe(out, "channels"), c.channels);
        EXPECT_EQ(Probe(out, "codec_name"), c.codec);
        if (c.channels[0] == '2') {
            int bits = 0;
            const auto got = Planes(out, 24, &bits);
            ASSERT_EQ(got.size(), 2u);
            ASSERT_EQ(got[0].size(), fine.size() / 2);
            for (size_t i = 0; i < fine.size(); ++i) ASSERT_EQ(got[i % 2][i / 2], fine[i]) << i;
        }
    }
}

}  // namespace

namespace {

// The peak of `path` as ffmpeg decodes it (float where its decoder gives
// float), in dB relative to full scale.
double PeakDb(const std::string& path) {
    std::string out;
    Run("ffmpeg -nostdin -i " + Quote(path) + " -af astats=measure_perchannel=none -f null - 2>&1",
        &out);
    const size_t at = out.rfind("Peak level dB:");
    return at == std::string::npos ? -1000.0 : std::stod(out.substr(at + 14));
}

// A float source that peaks at 1.6 (+4.1 dB) in both channels.
std::string LoudFloatSource(const TempDir& dir) {
    return MakeWithFfmpeg(dir, "loud.wav",
                          "-f lavfi -i \"aevalsrc=1.6*sin(2*PI*441*t)|-1.6*sin(2*PI*441*t):"
                          "s=44100:d=1\" -c:a pcm_f32le");
}

// Float stays float where the target stores it, and lossy encoders take
// the float signal as it is: the peak above full scale survives.
TEST_F(ConvertWideTest, FloatAboveFullScaleKeepsItsPeak) {
    const std::string src = LoudFloatSource(dir);
    const struct {
        int format;
        const char* name;
        const char* codec;
        double toleranceDb;
    } targets[] = {{kFormatWav, "f.wav", "pcm_f32le", 0.01},
                   {kFormatAiff, "f.aiff", "pcm_f32be", 0.01},
                   {kFormatAu, "f.au", "pcm_f32be", 0.01},
                   {kFormatMp3, "f.mp3", "mp3", 0.6},
                   {kFormatOgg, "f.ogg", "vorbis", 0.6}};
    for (const auto& t : targets) {
        SCOPED_TRACE(t.name);
        const std::string out = dir.file(t.name);
        ASSERT_TRUE(Convert(src, out, t.format)) << found.errorDetail;
        EXPECT_EQ(Probe(out, "codec_name"), t.codec);
        EXPECT_NEAR(PeakDb(out), 20 * std::log10(1.6), t.toleranceDb);
        EXPECT_EQ(found.clippedSamples, 0u);
    }
}

// An integer target clips, and says how many samples it clipped: those of
// the source at or beyond full scale, in the row and in a note.
TEST_F(ConvertWideTest, IntegerTargetReportsHowManySamplesItClipped) {
    const std::string src = LoudFloatSource(dir);
    uint64_t beyond = 0;
    {
        CFFmpegReader r;
        ASSERT_TRUE(r.Open(src, 0));
        AudioBlock b;
        while (r.ReadBlock(b) > 0)
            for (int c = 0; c < b.Channels(); ++c)
                for (int i = 0; i < b.frames; ++i) beyond += std::fabs(b.Channel(c)[i]) >= 1.0f;
    }
    ASSERT_GT(beyond, 20000u);
    const std::string out = dir.file("clipped.flac");
    ASSERT_TRUE(Convert(src, out, kFormatFlac)) << found.errorDetail;
    EXPECT_EQ(found.clippedSamples, beyond);
    ASSERT_EQ(found.notes.size(), 1u);
    EXPECT_TRUE(found.notes[0].Is(kClippedNote));
    ASSERT_EQ(found.notes[0].args.size(), 2u);
    EXPECT_EQ(found.notes[0].args[1].Source(), std::to_string(beyond));
}

}  // namespace
