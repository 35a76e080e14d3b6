#include "decoders/FFmpegReader.h"

#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <filesystem>

using namespace quelvox;
using namespace testsupport;

namespace {

// Every block but the last holds exactly kBlockFrames frames.
void ExpectFullBlocks(const Decoded& d) {
    ASSERT_FALSE(d.blocks.empty());
    for (size_t i = 0; i + 1 < d.blocks.size(); ++i)
        ASSERT_EQ(d.blocks[i], kBlockFrames) << "block " << i;
    EXPECT_GE(d.blocks.back(), 1);
    EXPECT_LE(d.blocks.back(), kBlockFrames);
}

void Ffmpeg(const std::string& args) { Shell("ffmpeg -v error -nostdin -y " + args); }

// Writes the test signal of the compressed-format tests: 3 s stereo sine,
// 440 Hz left and 660 Hz right, at 44.1 kHz.
std::string MakeStereoSine(const TempDir& dir, const std::string& name,
                           const std::string& codecArgs) {
    return MakeWithFfmpeg(dir, name,
                          "-f lavfi -i \"aevalsrc=0.4*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):"
                          "s=44100:d=3\" " +
                              codecArgs);
}

}  // namespace

// ---------------------------------------------------------------------------
// PCM sample formats

TEST(FFmpegReaderPcm, EverySampleFormatGivesExactSamples) {
    TempDir dir;
    // 0.5 and -0.25 are exact in every format, so each must arrive as 16384
    // and -8192 however the decoder stores them.
    struct Case {
        const char* codec;
        const char* file;
    } cases[] = {
        {"pcm_s16le", "s16.wav"},         {"pcm_s24le", "s24.wav"},
        {"pcm_s32le", "s32.wav"},         {"pcm_f32le", "f32.wav"},
        {"pcm_f64le", "f64.wav"},         {"pcm_u8", "u8.wav"},
        {"pcm_s16le_planar", "s16p.nut"}, {"pcm_s64le", "s64.nut"},
        {"pcm_s24be", "s24be.aiff"},      {"flac", "s16.flac"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = dir.file(c.file);
        Ffmpeg("-f lavfi -i \"aevalsrc=0.5|-0.25:s=8000:d=1\" -c:a " + std::string(c.codec) + " " +
               Quote(path));
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        EXPECT_EQ(reader.GetSampleRate(), 8000);
        EXPECT_EQ(reader.GetChannels(), 2);
        EXPECT_EQ(reader.GetOutputChannels(), 2);
        EXPECT_EQ(reader.GetBitsPerSample(), 16);
        // What the container reports, truncated (NUT's estimate is short).
        EXPECT_EQ(reader.GetDuration(),
                  static_cast<int>(std::atof(Probe(path, "duration", true).c_str())));
        Decoded d = ReadAll(reader);
        ExpectFullBlocks(d);
        ASSERT_EQ(d.left.size(), 8000u);
        for (size_t i = 0; i < d.left.size(); ++i) {
            ASSERT_EQ(d.left[i], 16384) << i;
            ASSERT_EQ(d.right[i], -8192) << i;
        }
        reader.Close();
    }
}

TEST(FFmpegReaderPcm, EdgeValuesReachASixteenBitTargetRoundedToNearest) {
    TempDir dir;
    // 24-bit: kept at 24 bits (via the decoder's 32-bit form), then rounded
    // to nearest 16-bit values and clamped.
    std::vector<uint8_t> s24;
    for (int32_t v : {0x7FFFFF, -0x800000, 0x123456, -1, 0xFF}) {
        s24.push_back(static_cast<uint8_t>(v));
        s24.push_back(static_cast<uint8_t>(v >> 8));
        s24.push_back(static_cast<uint8_t>(v >> 16));
    }
    WriteFile(dir.file("s24.wav"), WavFileBytes(1, 1, 8000, 24, s24));
    // Unsigned 8-bit: (value - 128) * 256.
    WriteFile(dir.file("u8.wav"), WavFileBytes(1, 1, 8000, 8, {0, 128, 255, 1}));
    // Float: kept as it is, then times 32768 rounded to nearest and
    // clipped; infinities and NaN are silence.
    std::vector<uint8_t> f32;
    for (float v : {0.999999f, -0.00003f, 0.00006f, 1.0f, -1.0f, 1e30f,
                    -std::numeric_limits<float>::infinity(), NAN}) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        PutLe32(f32, bits);
    }
    WriteFile(dir.file("f32.wav"), WavFileBytes(3, 1, 8000, 32, f32));

    struct Case {
        const char* file;
        std::vector<int16_t> expected;
    } cases[] = {
        {"s24.wav", {32767, -32768, 0x1234, 0, 1}},
        {"u8.wav", {-32768, 0, 32512, -32512}},
        {"f32.wav", {32767, -1, 2, 32767, -32768, 32767, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(dir.file(c.file), 0), 1);
        EXPECT_EQ(reader.GetOutputChannels(), 1);
        Decoded d = ReadAll(reader);
        EXPECT_EQ(d.left, c.expected);
        EXPECT_TRUE(d.right.empty());
    }
}

TEST(FFmpegReaderPcm, FloatAboveFullScaleClampsInsteadOfWrapping) {
    TempDir dir;
    std::string path = dir.file("loud.wav");
    Ffmpeg("-f lavfi -i \"aevalsrc=2.0|-3.0:s=22050:d=0.5\" -c:a pcm_f32le " + Quote(path));
    CFFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    Decoded d = ReadAll(reader);
    ASSERT_EQ(d.left.size(), 11025u);
    for (size_t i = 0; i < d.left.size(); ++i) {
        ASSERT_EQ(d.left[i], 32767) << i;
        ASSERT_EQ(d.right[i], -32768) << i;
    }
}

// ---------------------------------------------------------------------------
// Compressed formats

TEST(FFmpegReaderCodecs, CompressedFilesMatchIndependentDecode) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* args;
        int minKbps, maxKbps;
    } cases[] = {
        {"a.mp3", "-c:a libmp3lame -b:a 128k", 120, 136},
        {"a.m4a", "-c:a aac -b:a 128k", 64, 200},
        {"a.flac", "-c:a flac", 50, 1411},
        {"a.ogg", "-c:a libvorbis -q:a 4", 64, 200},
        {"a.mka", "-c:a ac3 -b:a 192k", 180, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = MakeStereoSine(dir, c.name, c.args);
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        EXPECT_EQ(reader.GetSampleRate(), 44100);
        EXPECT_EQ(reader.GetChannels(), 2);
        EXPECT_EQ(reader.GetOutputChannels(), 2);
        EXPECT_EQ(reader.GetDuration(),
                  static_cast<int>(std::atof(Probe(path, "duration", true).c_str())));
        EXPECT_GE(reader.GetBitrate(), c.minKbps);
        EXPECT_LE(reader.GetBitrate(), c.maxKbps);
        EXPECT_EQ(reader.GetTotal(), std::filesystem::file_size(path));

        Decoded d = ReadAll(reader);
        ExpectFullBlocks(d);
        std::vector<int16_t> ref = DecodeWithFfmpeg(path);
        ASSERT_EQ(d.left.size() * 2, ref.size());
        // The independent decode rounds where this reader truncates.
        int worst = 0;
        for (size_t i = 0; i < d.left.size(); ++i) {
            worst = std::max(worst, std::abs(d.left[i] - ref[2 * i]));
            worst = std::max(worst, std::abs(d.right[i] - ref[2 * i + 1]));
        }
        EXPECT_LE(worst, 1);
        EXPECT_GT(reader.GetPosition(), reader.GetTotal() / 2);
        EXPECT_LE(reader.GetPosition(), reader.GetTotal());
        EXPECT_EQ(ReadInt16(reader, d.left.data(), d.right.data()), 0);
    }
}

TEST(FFmpegReaderCodecs, MonoSourceLeavesRightBufferAlone) {
    TempDir dir;
    std::string path = dir.file("mono.mp3");
    Ffmpeg(
        "-f lavfi -i \"sine=frequency=1000:sample_rate=22050:duration=1\" "
        "-c:a libmp3lame " +
        Quote(path));
    CFFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    EXPECT_EQ(reader.GetChannels(), 1);
    EXPECT_EQ(reader.GetOutputChannels(), 1);
    int16_t l[kBlockFrames];
    std::vector<int16_t> r(kBlockFrames, 4321);
    EXPECT_EQ(ReadInt16(reader, l, r.data()), kBlockFrames);
    EXPECT_EQ(r, std::vector<int16_t>(kBlockFrames, 4321));
    // Null for the right buffer is fine too.
    EXPECT_EQ(ReadInt16(reader, l, nullptr), kBlockFrames);
    Decoded rest = ReadAll(reader);
    EXPECT_EQ(rest.left.size() + 2 * kBlockFrames, DecodeWithFfmpeg(path).size());
}

// ---------------------------------------------------------------------------
// Containers with video, and files without audio

TEST(FFmpegReaderContainers, VideoFilesDeliverTheirAudioTrack) {
    TempDir dir;
    for (const char* name : {"clip.mp4", "clip.mkv"}) {
        SCOPED_TRACE(name);
        std::string path = dir.file(name);
        Ffmpeg(
            "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 "
            "-f lavfi -i \"sine=frequency=500:sample_rate=48000:duration=2\" "
            "-map 0:v -map 1:a -c:v mpeg4 -c:a aac -b:a 96k " +
            Quote(path));
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        EXPECT_EQ(reader.HasAudio(), 1);
        EXPECT_EQ(reader.GetSampleRate(), 48000);
        EXPECT_EQ(reader.GetChannels(), 1);
        EXPECT_EQ(reader.GetDuration(), 2);
        Decoded d = ReadAll(reader);
        ExpectFullBlocks(d);
        EXPECT_EQ(d.left.size(), DecodeWithFfmpeg(path).size());
        EXPECT_NEAR(ToneLevel(d.left, 24000, 48000, 500), 0.125 * 32768, 400);

        CFFmpegProbeReader probe;
        ASSERT_EQ(probe.Open(path, 0), 1);
        EXPECT_EQ(probe.HasAudio(), 1);
        EXPECT_EQ(probe.GetSampleRate(), 48000);
    }
}

TEST(FFmpegReaderContainers, VideoWithoutAudioCountsAsNoAudio) {
    TempDir dir;
    std::string path = dir.file("silent.mp4");
    Ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v mpeg4 " + Quote(path));

    CFFmpegReader reader;
    EXPECT_EQ(reader.Open(path, 0), 0);
    EXPECT_EQ(reader.HasAudio(), 0);
    EXPECT_EQ(reader.GetSampleRate(), 0);

    CFFmpegProbeReader probe;
    ASSERT_EQ(probe.Open(path, 0), 1);
    EXPECT_LT(probe.GetSampleRate(), 1);
    EXPECT_EQ(probe.GetChannels(), 0);
    EXPECT_EQ(probe.GetBitrate(), 0);
    EXPECT_EQ(probe.HasAudio(), 0);
    EXPECT_EQ(probe.GetDuration(), 1);
}

TEST(FFmpegReaderContainers, ProbeReaderReportsTheSamePropertiesWithoutDecoding) {
    TempDir dir;
    std::vector<std::string> files = {
        MakeStereoSine(dir, "p.mp3", "-c:a libmp3lame -b:a 192k"),
        MakeStereoSine(dir, "p.m4a", "-c:a aac"),
        MakeStereoSine(dir, "p.flac", "-c:a flac"),
        MakeStereoSine(dir, "p.wav", "-c:a pcm_s16le"),
    };
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        CFFmpegReader reader;
        CFFmpegProbeReader probe;
        ASSERT_EQ(reader.Open(path, 0), 1);
        ASSERT_EQ(probe.Open(path, 0), 1);
        EXPECT_EQ(probe.GetDuration(), reader.GetDuration());
        EXPECT_EQ(probe.GetSampleRate(), reader.GetSampleRate());
        EXPECT_EQ(probe.GetChannels(), reader.GetChannels());
        EXPECT_EQ(probe.GetOutputChannels(), reader.GetOutputChannels());
        EXPECT_EQ(probe.GetBitrate(), reader.GetBitrate());
        EXPECT_EQ(probe.GetBitsPerSample(), 16);
        EXPECT_EQ(probe.HasAudio(), 1);
        int16_t l[kBlockFrames], r[kBlockFrames];
        EXPECT_EQ(ReadInt16(probe, l, r), 0);
        TagInfo tags;
        std::string& t = tags.title;
        t = "unchanged";
        EXPECT_EQ(probe.ReadTags(tags), 0);
        EXPECT_EQ(t, "unchanged");
        probe.Close();
        EXPECT_EQ(probe.GetSampleRate(), 0);
        EXPECT_EQ(probe.HasAudio(), 0);
    }
}

// ---------------------------------------------------------------------------
// Six-channel sources

TEST(FFmpegReaderSurround, AacAndAc3AreMixedByTheirChannelPositions) {
    TempDir dir;
    // AAC and AC-3 store 5.1 in different orders inside their bit streams;
    // either way the front and surround channels must reach their own side
    // at full level and the centre both sides at 0.707.
    for (const std::string& path : {MakeSurroundTones(dir, "s.m4a", "-c:a aac -b:a 384k"),
                                    MakeSurroundTones(dir, "s.ac3", "-c:a ac3 -b:a 448k"),
                                    MakeSurroundTones(dir, "s.flac", "-c:a flac")}) {
        SCOPED_TRACE(path);
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        EXPECT_EQ(reader.GetChannels(), 6);
        EXPECT_EQ(reader.GetOutputChannels(), 2);
        Decoded d = ReadAll(reader);
        ExpectFullBlocks(d);
        ExpectSurroundMixedToStereo(d);
    }
}

TEST(FFmpegReaderSurround, AacWithoutChannelPositionsIsMixedInTheDecodersOrder) {
    TempDir dir;
    // 5.1 AAC described by a program config element: the channel layout
    // stays unknown, yet the decoder delivers its channels in the library's
    // own order.
    for (const std::string& path :
         {MakeSurroundTones(dir, "s.mka", "-c:a aac -aac_pce 1 -b:a 384k"),
          MakeSurroundTones(dir, "s.mov", "-c:a aac -aac_pce 1 -b:a 384k"),
          MakeSurroundTones(dir, "s.ts", "-c:a aac -aac_pce 1 -b:a 384k")}) {
        SCOPED_TRACE(path);
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        Decoded d = ReadAll(reader);
        ExpectSurroundMixedToStereo(d);
    }
}

TEST(FFmpegReaderSurround, LosslessSixChannelsUseTheGenericRuleExactly) {
    TempDir dir;
    // FL 1000, FR 2000, FC 100, LFE 100, SL 10, SR 20 (in 1/32768 units):
    // centre term (100 + 100) * 0.707 = 141.4, left 1151.4 and right 2161.4,
    // both scaled by 1 / 3.414 so that no fold can clip: 337 and 633.
    const std::string expr =
        "aevalsrc=1000/32768|2000/32768|100/32768|100/32768|10/32768|20/32768"
        ":c=5.1:s=8000:d=1";
    for (const char* name : {"g.wav", "g.flac", "g.mkv"}) {
        SCOPED_TRACE(name);
        std::string path = dir.file(name);
        Ffmpeg("-f lavfi -i \"" + expr + "\" -c:a " +
               (std::string(name) == "g.flac" ? "flac " : "pcm_s16le ") + Quote(path));
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        Decoded d = ReadAll(reader);
        ASSERT_EQ(d.left.size(), 8000u);
        for (size_t i = 0; i < d.left.size(); ++i) {
            ASSERT_EQ(d.left[i], 337) << i;
            ASSERT_EQ(d.right[i], 633) << i;
        }
    }
}

TEST(FFmpegReaderSurround, ChoosesTheRuleByChannelOrderThenByCodec) {
    auto custom = [](std::initializer_list<AVChannel> order) {
        AVChannelLayout layout{};
        layout.order = AV_CHANNEL_ORDER_CUSTOM;
        layout.nb_channels = static_cast<int>(order.size());
        layout.u.map =
            static_cast<AVChannelCustom*>(av_calloc(order.size(), sizeof(AVChannelCustom)));
        int i = 0;
        for (AVChannel c : order) layout.u.map[i++].id = c;
        return layout;
    };
    AVChannelLayout aacOrder =
        custom({AV_CHAN_FRONT_CENTER, AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_SIDE_LEFT,
                AV_CHAN_SIDE_RIGHT, AV_CHAN_LOW_FREQUENCY});
    AVChannelLayout mp4Order =
        custom({AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_BACK_LEFT, AV_CHAN_BACK_RIGHT,
                AV_CHAN_FRONT_CENTER, AV_CHAN_LOW_FREQUENCY});
    AVChannelLayout vorbisOrder =
        custom({AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_CENTER, AV_CHAN_FRONT_RIGHT, AV_CHAN_BACK_LEFT,
                AV_CHAN_BACK_RIGHT, AV_CHAN_LOW_FREQUENCY});
    AVChannelLayout native = AV_CHANNEL_LAYOUT_5POINT1;
    AVChannelLayout unknown{};
    av_channel_layout_default(&unknown, 6);
    unknown.order = AV_CHANNEL_ORDER_UNSPEC;

    // Positions known: the order decides, whatever the codec.
    EXPECT_EQ(ChooseSixChannelMix(&aacOrder, AV_CODEC_ID_AC3, "ac3"), SixChannelMix::Aac);
    EXPECT_EQ(ChooseSixChannelMix(&mp4Order, AV_CODEC_ID_AAC, "mov,mp4"), SixChannelMix::Mp4Mpeg);
    EXPECT_EQ(ChooseSixChannelMix(&vorbisOrder, AV_CODEC_ID_PCM_S16LE, "wav"),
              SixChannelMix::Vorbis);
    EXPECT_EQ(ChooseSixChannelMix(&native, AV_CODEC_ID_AAC, "mov,mp4"), SixChannelMix::Generic);
    // Positions unknown: the codec decides.
    EXPECT_EQ(ChooseSixChannelMix(&unknown, AV_CODEC_ID_AAC, "aac"), SixChannelMix::Generic);
    EXPECT_EQ(ChooseSixChannelMix(&unknown, AV_CODEC_ID_MP3, "mov,mp4,m4a,3gp,3g2,mj2"),
              SixChannelMix::Mp4Mpeg);
    EXPECT_EQ(ChooseSixChannelMix(&unknown, AV_CODEC_ID_MP3, "mp3"), SixChannelMix::Generic);
    EXPECT_EQ(ChooseSixChannelMix(&unknown, AV_CODEC_ID_AC3, "ac3"), SixChannelMix::Generic);
    EXPECT_EQ(ChooseSixChannelMix(nullptr, AV_CODEC_ID_AAC, "aac"), SixChannelMix::Generic);

    av_channel_layout_uninit(&aacOrder);
    av_channel_layout_uninit(&mp4Order);
    av_channel_layout_uninit(&vorbisOrder);
}

// ---------------------------------------------------------------------------
// Tags

TEST(FFmpegTagInfo, ContainerTagsComeBackFromEveryFormat) {
    TempDir dir;
    const std::string meta =
        "-metadata title='Ünïcode 标题' -metadata artist='The Artist' "
        "-metadata album='An Album' -metadata genre=Jazz "
        "-metadata comment='A comment' -metadata copyright='(c) Someone' "
        "-metadata date=2009 -metadata track=7";
    for (const char* name : {"t.mp3", "t.m4a", "t.flac", "t.ogg"}) {
        SCOPED_TRACE(name);
        std::string path = dir.file(name);
        Ffmpeg("-f lavfi -i \"sine=sample_rate=44100:duration=1\" " + meta + " " + Quote(path));
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        TagInfo t;
        t.composer = "stale";
        ASSERT_EQ(reader.ReadTags(t), 1);
        EXPECT_EQ(t.title, "Ünïcode 标题");
        EXPECT_EQ(t.artist, "The Artist");
        EXPECT_EQ(t.album, "An Album");
        EXPECT_EQ(t.genre, "Jazz");
        EXPECT_EQ(t.comment, "A comment");
        EXPECT_EQ(t.copyright, "(c) Someone");
        EXPECT_EQ(t.year, "2009");
        EXPECT_EQ(t.track, "7");
        EXPECT_EQ(t.composer, "");
    }
}

TEST(FFmpegTagInfo, NumbersAreReadAsLeadingDecimals) {
    TempDir dir;
    std::string path = dir.file("n.flac");
    Ffmpeg(
        "-f lavfi -i \"sine=duration=1\" -metadata date=2011-05-04 "
        "-metadata track=3/12 " +
        Quote(path));
    CFFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    TagInfo t;
    ASSERT_EQ(reader.ReadTags(t), 1);
    EXPECT_EQ(t.year, "2011");
    EXPECT_EQ(t.track, "3");
    EXPECT_EQ(t.title, "");
}

TEST(FFmpegTagInfo, FileWithoutTagsChangesNothing) {
    TempDir dir;
    std::string path = dir.file("plain.wav");
    Ffmpeg("-f lavfi -i \"sine=duration=1\" -fflags +bitexact " + Quote(path));
    CFFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    TagInfo t;
    t.title = "keep";
    t.year = "1999";
    EXPECT_EQ(reader.ReadTags(t), 0);
    EXPECT_EQ(t.title, "keep");
    EXPECT_EQ(t.year, "1999");
    // A closed reader has no tags either.
    reader.Close();
    EXPECT_EQ(reader.ReadTags(t), 0);
}

// ---------------------------------------------------------------------------
// Damaged input and the reader's life cycle

TEST(FFmpegReaderDamage, GarbageAndMissingFilesFailCleanly) {
    TempDir dir;
    std::vector<uint8_t> junk(20000);
    uint32_t x = 12345;
    for (auto& b : junk) {
        x = x * 1103515245 + 12345;
        b = static_cast<uint8_t>(x >> 24);
    }
    WriteFile(dir.file("junk.mp3"), junk);
    WriteFile(dir.file("empty.wav"), std::string());
    for (const char* name : {"junk.mp3", "empty.wav", "missing.flac"}) {
        SCOPED_TRACE(name);
        CFFmpegReader reader;
        if (reader.Open(dir.file(name), 0)) {
            ReadAll(reader);  // whatever the probe found must end cleanly
        } else {
            EXPECT_EQ(reader.GetSampleRate(), 0);
        }
        CFFmpegProbeReader probe;
        probe.Open(dir.file(name), 0);
    }
    CFFmpegReader reader;
    EXPECT_EQ(reader.Open(dir.file("missing.flac"), 0), 0);
    EXPECT_EQ(reader.HasAudio(), 0);
}

TEST(FFmpegReaderDamage, TruncatedFilesEndCleanly) {
    TempDir dir;
    std::vector<std::string> files = {
        MakeStereoSine(dir, "t.mp3", "-c:a libmp3lame"),
        MakeStereoSine(dir, "t.m4a", "-c:a aac -movflags +faststart"),
        MakeStereoSine(dir, "t.flac", "-c:a flac"),
        MakeStereoSine(dir, "t.wav", "-c:a pcm_s16le"),
    };
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        size_t full = DecodeWithFfmpeg(path).size() / 2;
        std::vector<uint8_t> bytes = ReadFile(path);
        bytes.resize(bytes.size() * 6 / 10);
        WriteFile(path, bytes);
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        Decoded d = ReadAll(reader);
        ExpectFullBlocks(d);
        EXPECT_GT(d.left.size(), full / 3);
        EXPECT_LT(d.left.size(), full);
    }
}

TEST(FFmpegReaderDamage, CorruptPacketsInTheMiddleDoNotEndTheStream) {
    TempDir dir;
    for (const char* name : {"c.mp3", "c.ac3"}) {
        SCOPED_TRACE(name);
        std::string path = MakeStereoSine(
            dir, name, std::string(name) == "c.mp3" ? "-c:a libmp3lame" : "-c:a ac3");
        size_t full = DecodeWithFfmpeg(path).size() / 2;
        std::vector<uint8_t> bytes = ReadFile(path);
        // Scramble a stretch in the middle of the payload.
        uint32_t x = 99;
        for (size_t i = bytes.size() * 4 / 10; i < bytes.size() * 5 / 10; ++i) {
            x = x * 1103515245 + 12345;
            bytes[i] = static_cast<uint8_t>(x >> 24);
        }
        WriteFile(path, bytes);
        CFFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        Decoded d = ReadAll(reader);
        ExpectFullBlocks(d);
        // Audio after the damage is still delivered.
        EXPECT_GT(d.left.size(), full * 8 / 10);
        EXPECT_GT(ToneLevel(d.left, d.left.size() - 44100, 44100, 440), 5000);
    }
}

TEST(FFmpegReaderLifecycle, CloseIsHarmlessAndTheReaderReopens) {
    TempDir dir;
    std::string a = MakeStereoSine(dir, "a.flac", "-c:a flac");
    std::string b = dir.file("b.wav");
    Ffmpeg("-f lavfi -i \"sine=sample_rate=16000:duration=2\" " + Quote(b));

    CFFmpegReader reader;
    reader.Close();
    reader.Close();
    int16_t l[kBlockFrames], r[kBlockFrames];
    EXPECT_EQ(ReadInt16(reader, l, r), 0);

    ASSERT_EQ(reader.Open(a, 0), 1);
    EXPECT_EQ(ReadInt16(reader, l, r), kBlockFrames);
    // Reopening on another file starts afresh, with its own properties.
    ASSERT_EQ(reader.Open(b, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 16000);
    EXPECT_EQ(reader.GetOutputChannels(), 1);
    EXPECT_EQ(ReadAll(reader).left.size(), 32000u);
    reader.Close();
    EXPECT_EQ(reader.GetSampleRate(), 0);
    EXPECT_EQ(reader.GetTotal(), 0u);
    EXPECT_EQ(reader.HasAudio(), 0);
    reader.Close();
}
