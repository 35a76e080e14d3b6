// Single-file conversion end to end: real files through ConvertFile, the
// outputs checked with ffprobe and ffmpeg.
#include "engine/ConvertFile.h"

#include "common/InputType.h"
#include "common/FormatCatalogue.h"
#include "common/FileEntry.h"
#include "engine/Normalise.h"
#include "engine/Preprocess.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Interleaved frames where frame i of channel c holds f(i, c).
std::vector<int16_t> Frames(int frames, int channels, const std::function<int16_t(int, int)>& f) {
    std::vector<int16_t> v(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) v[static_cast<size_t>(i) * channels + c] = f(i, c);
    return v;
}

int16_t Ramp(int i, int) { return static_cast<int16_t>(i % 20000 - 10000); }

std::vector<std::string> FolderContents(const fs::path& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

class ConvertFileTest : public ::testing::Test, protected ConversionFixture {
protected:
    TempDir dir;

    void SetUp() override { services.LoadWmaRuntime(); }


    void ManualWav(int rate, int channels) {
        OutputFormatEntry& wav = Format(kFormatWav);
        wav.AutoEncParam = 0;
        wav.SampleRate = rate;
        wav.Channels = channels;
    }

    std::string MakeWithFfmpeg(const std::string& name, const std::string& args) {
        return testsupport::MakeWithFfmpeg(dir, name, args);
    }
};

TEST_F(ConvertFileTest, ConvertsIntoDifferentWritersWithResolvedParameters) {
    std::string src = MakeWithFfmpeg(
        "tone.wav", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2");
    ASSERT_TRUE(Convert(src, dir.file("tone.mp3"), kFormatMp3));
    EXPECT_EQ(Probe(dir.file("tone.mp3"), "codec_name"), "mp3");
    EXPECT_EQ(Probe(dir.file("tone.mp3"), "sample_rate"), "44100");
    EXPECT_EQ(Probe(dir.file("tone.mp3"), "channels"), "2");
    EXPECT_NEAR(std::stod(Probe(dir.file("tone.mp3"), "duration", true)), 2.0, 0.08);
    EXPECT_EQ(found.appliedGain, 1.0f);

    ASSERT_TRUE(Convert(src, dir.file("tone.amr"), kFormatAmr));
    EXPECT_EQ(Probe(dir.file("tone.amr"), "codec_name"), "amr_nb");
    EXPECT_EQ(Probe(dir.file("tone.amr"), "sample_rate"), "8000");
    EXPECT_EQ(Probe(dir.file("tone.amr"), "channels"), "1");

    ASSERT_TRUE(Convert(src, dir.file("tone.wma"), kFormatWma));
    EXPECT_EQ(Probe(dir.file("tone.wma"), "codec_name"), "wmav2");
    EXPECT_NEAR(std::stod(Probe(dir.file("tone.wma"), "duration", true)), 2.0, 0.15);
}

TEST_F(ConvertFileTest, ResampledOutputIsAsLongAsTheInput) {
    // 1.5 s at 44100 Hz to 22050 and 48000 Hz FLAC: the length follows the
    // rate exactly (within one frame), nothing is cut off at the end.
    WriteWav(dir.file("src.wav"), 44100, 2, Frames(66150, 2, [](int i, int c) {
                 return static_cast<int16_t>(8000 * std::sin(i * 0.05 + c));
             }));
    OutputFormatEntry& flac = Format(kFormatFlac);
    flac.AutoEncParam = 0;
    flac.Channels = 2;
    for (int rate : {22050, 48000}) {
        flac.SampleRate = rate;
        std::string out = dir.file("out" + std::to_string(rate) + ".flac");
        ASSERT_TRUE(Convert(dir.file("src.wav"), out, kFormatFlac));
        EXPECT_EQ(Probe(out, "sample_rate"), std::to_string(rate));
        long expected = 66150L * rate / 44100;
        long got = static_cast<long>(DecodeWithFfmpeg(out).size() / 2);
        EXPECT_LE(std::abs(got - expected), 1) << rate;
    }
}

TEST_F(ConvertFileTest, SkipAndLengthLimitsCutToTheFrame) {
    WriteWav(dir.file("ramp.wav"), 44100, 1, Frames(3 * 44100, 1, Ramp));
    ManualWav(44100, 1);
    settings.EnableSkipLength = 1;
    settings.SkipLength = 1000;
    ASSERT_TRUE(Convert(dir.file("ramp.wav"), dir.file("skip.wav"), kFormatWav));
    auto skipped = DecodeWithFfmpeg(dir.file("skip.wav"));
    ASSERT_EQ(skipped.size(), 2u * 44100);
    EXPECT_EQ(skipped[0], Ramp(44100, 0));

    settings.EnableSkipLength = 0;
    settings.EnableConvertLength = 1;
    settings.ConvertLength = 1000;
    ASSERT_TRUE(Convert(dir.file("ramp.wav"), dir.file("len.wav"), kFormatWav));
    auto limited = DecodeWithFfmpeg(dir.file("len.wav"));
    ASSERT_EQ(limited.size(), 44100u);
    EXPECT_EQ(limited.back(), Ramp(44099, 0));

    // A skip not shorter than the file refuses it, without a retry.
    settings.EnableConvertLength = 0;
    settings.EnableSkipLength = 1;
    settings.SkipLength = 3000;
    EXPECT_FALSE(Convert(dir.file("ramp.wav"), dir.file("none.wav"), kFormatWav));
    EXPECT_EQ(found.errorDetail, kSkipTooLongDetail);
    EXPECT_FALSE(ctx.pass.retry);
    EXPECT_FALSE(fs::exists(dir.file("none.wav")));
}

TEST_F(ConvertFileTest, NormalisationAndManualVolume) {
    WriteWav(dir.file("half.wav"), 44100, 2, Frames(44100, 2, [](int i, int) {
                 return static_cast<int16_t>(i % 2 ? 16383 : -16384);
             }));
    ManualWav(44100, 2);
    settings.VolumeType = kVolumeNormalise;
    entry.Path = dir.file("half.wav");
    entry.InputType = kInputWav;
    ctx.currentEntry = &entry;
    float lo = 0, hi = 0;
    ASSERT_TRUE(MeasurePeaks(ctx, entry, Format(kFormatWav), audioFound, lo, hi));
    measure.normalisationGain = NormalisationGain(lo, hi);
    ASSERT_TRUE(Convert(dir.file("half.wav"), dir.file("norm.wav"), kFormatWav));
    EXPECT_FLOAT_EQ(found.appliedGain, 2.0f);
    auto norm = DecodeWithFfmpeg(dir.file("norm.wav"));
    EXPECT_EQ(*std::max_element(norm.begin(), norm.end()), 32766);
    EXPECT_EQ(*std::min_element(norm.begin(), norm.end()), -32768);

    settings.VolumeType = kVolumeFixed;
    settings.Volume = 150;
    WriteWav(dir.file("loud.wav"), 44100, 1, Frames(1000, 1, [](int i, int) {
                 return static_cast<int16_t>(i % 2 ? 30000 : -30000);
             }));
    ManualWav(44100, 1);
    ASSERT_TRUE(Convert(dir.file("loud.wav"), dir.file("vol.wav"), kFormatWav));
    auto vol = DecodeWithFfmpeg(dir.file("vol.wav"));
    ASSERT_EQ(vol.size(), 1000u);
    EXPECT_EQ(vol[0], -32768);
    EXPECT_EQ(vol[1], 32767);
    EXPECT_FLOAT_EQ(found.appliedGain, 1.5f);
}

TEST_F(ConvertFileTest, MonoChoicesAndMonoToStereo) {
    WriteWav(dir.file("lr.wav"), 44100, 2,
             Frames(2000, 2, [](int, int c) { return static_cast<int16_t>(c ? -2000 : 1000); }));
    ManualWav(44100, 1);
    const int16_t expected[] = {-500, 1000, -2000};  // mix, left, right
    for (int mono = 0; mono < 3; ++mono) {
        settings.MonoType = mono;
        std::string out = dir.file("mono" + std::to_string(mono) + ".wav");
        ASSERT_TRUE(Convert(dir.file("lr.wav"), out, kFormatWav));
        auto s = DecodeWithFfmpeg(out);
        ASSERT_EQ(s.size(), 2000u) << mono;
        EXPECT_EQ(s[0], expected[mono]);
        EXPECT_EQ(s[1999], expected[mono]);
    }

    WriteWav(dir.file("m.wav"), 22050, 1, Frames(500, 1, Ramp));
    ManualWav(22050, 2);
    settings.VolumeType = kVolumeFixed;
    settings.Volume = 200;  // applied once, though both channels share a buffer
    ASSERT_TRUE(Convert(dir.file("m.wav"), dir.file("st.wav"), kFormatWav));
    auto st = DecodeWithFfmpeg(dir.file("st.wav"));
    ASSERT_EQ(st.size(), 1000u);
    for (int i = 0; i < 500; ++i) {
        int want = std::clamp(Ramp(i, 0) * 2, -32768, 32767);
        ASSERT_EQ(st[2 * i], want) << i;
        ASSERT_EQ(st[2 * i + 1], want) << i;
    }
}

TEST_F(ConvertFileTest, DtsInWavDecodesThroughThePreprocessingPass) {
    // A DTS stream at 48000 Hz carried in the samples of a 44100 Hz WAV file.
    std::string raw =
        MakeWithFfmpeg("dts.raw",
                       "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=1 -ac 2 "
                       "-c:a dca -strict -2 -f dts");
    std::string wav = MakeWithFfmpeg(
        "music.dts", "-f s16le -ar 44100 -ac 2 -i " + Quote(raw) + " -c:a pcm_s16le -f wav");
    FileEntry record;
    record.Path = wav;
    record.InputType = kInputDts;
    entry = record;
    ctx.currentEntry = &entry;
    ASSERT_TRUE(PreprocessDts(ctx, record, audioFound));
    ASSERT_TRUE(fs::exists(record.OutputPath));
    FileEntry substitute;
    substitute.Path = record.OutputPath;
    substitute.InputType = kInputDts;
    substitute.OutputPath = dir.file("decoded.wav");
    ASSERT_TRUE(Take(ConvertFile(ctx, substitute, Format(kFormatWav), measure)));
    fs::remove(record.OutputPath);
    EXPECT_EQ(Probe(dir.file("decoded.wav"), "sample_rate"), "48000");
    EXPECT_NEAR(std::stod(Probe(dir.file("decoded.wav"), "duration", true)), 1.0, 0.05);
    // The progress texts name the listed file, not the temporary one.
    EXPECT_NE(progress.fileTexts.back().find("music.dts"), std::string::npos);
}

TEST_F(ConvertFileTest, TagsFollowThePolicy) {
    std::string src = MakeWithFfmpeg("a.b.wav",
                                     "-f lavfi -i sine=duration=0.5 -metadata title=Original "
                                     "-metadata artist=Someone");
    settings.ID3TagType = 1;
    settings.TitleAsFileName = 1;
    settings.Artist = "Custom Artist";
    settings.TrackNumType = 1;
    ctx.currentIndex = 3;
    ASSERT_TRUE(Convert(src, dir.file("custom.mp3"), kFormatMp3));
    EXPECT_EQ(ProbeTag(dir.file("custom.mp3"), "title"), "a.b");
    EXPECT_EQ(ProbeTag(dir.file("custom.mp3"), "artist"), "Custom Artist");
    EXPECT_EQ(ProbeTag(dir.file("custom.mp3"), "track"), "3");

    // Carried over from the source: the WAV's INFO list.
    settings.ID3TagType = 2;
    ASSERT_TRUE(Convert(src, dir.file("copied.m4a"), kFormatM4a));
    EXPECT_EQ(ProbeTag(dir.file("copied.m4a"), "title"), "Original");
    EXPECT_EQ(ProbeTag(dir.file("copied.m4a"), "artist"), "Someone");

    // From MP3, Ogg and M4A sources, with a track text of the form n/m: the
    // track keeps its total (TRCK n/N).
    for (const char* ext : {"mp3", "ogg", "m4a"}) {
        std::string tagged = MakeWithFfmpeg(
            std::string("tagged.") + ext,
            "-f lavfi -i sine=duration=0.5 -metadata title=Carried -metadata album=Disc "
            "-metadata track=7/12");
        std::string out = dir.file(std::string("from-") + ext + ".mp3");
        ASSERT_TRUE(Convert(tagged, out, kFormatMp3)) << ext;
        EXPECT_EQ(ProbeTag(out, "title"), "Carried") << ext;
        EXPECT_EQ(ProbeTag(out, "album"), "Disc") << ext;
        EXPECT_EQ(ProbeTag(out, "track"), "7/12") << ext;
    }

    // A tagless format carries none.
    ASSERT_TRUE(Convert(src, dir.file("plain.wav"), kFormatWav));
    EXPECT_EQ(ProbeTag(dir.file("plain.wav"), "title"), "");
}

TEST_F(ConvertFileTest, FailureAndCancelLeaveNoPartialOutputAndKeepTheOldTarget) {
    std::string src = MakeWithFfmpeg("long.wav", "-f lavfi -i sine=duration=5");
    std::string target = dir.file("long.mp3");
    WriteFile(target, std::string("precious old output"));
    auto before = FolderContents(dir.path());

    progress.cancelAfterPumps = 3;
    EXPECT_FALSE(Convert(src, target, kFormatMp3));
    EXPECT_EQ(FolderContents(dir.path()), before);
    EXPECT_EQ(ReadFile(target).size(), std::string("precious old output").size());

    // A source no reader can open: the old target survives as well.
    progress.cancelAfterPumps = -1;
    WriteFile(dir.file("junk.wav"), std::string(4000, '\x11'));
    before = FolderContents(dir.path());
    EXPECT_FALSE(Convert(dir.file("junk.wav"), target, kFormatMp3));
    EXPECT_EQ(FolderContents(dir.path()), before);
    EXPECT_EQ(ReadFile(target).size(), std::string("precious old output").size());

    // A codec not in the format's list: no writer, no retry, no file.
    Format(kFormatMp3).CodecID = 0x7777;
    EXPECT_FALSE(Convert(src, dir.file("nocodec.mp3"), kFormatMp3));
    EXPECT_FALSE(ctx.pass.retry);
    EXPECT_EQ(FolderContents(dir.path()), before);
    Format(kFormatMp3).CodecID = BuildFormatCatalogue()[0].CodecID;

    // Success replaces the old target.
    Format(kFormatMp3) = *FindFormat(BuildFormatCatalogue(), kFormatMp3);
    ASSERT_TRUE(Convert(src, target, kFormatMp3));
    EXPECT_EQ(Probe(target, "codec_name"), "mp3");
    EXPECT_EQ(FolderContents(dir.path()), before);
}

TEST_F(ConvertFileTest, FileWithoutAudioClearsTheAudioFoundFlag) {
    std::string video =
        MakeWithFfmpeg("video.mkv", "-f lavfi -i testsrc=size=64x48:rate=5:duration=1 -c:v mpeg4");
    EXPECT_FALSE(Convert(video, dir.file("video.mp3"), kFormatMp3));
    EXPECT_EQ(audioFound, 0);
    EXPECT_FALSE(fs::exists(dir.file("video.mp3")));
}
