#include "encoders/FFmpegWriter.h"

#include "encoders/AmrNbPacketEncoder.h"
#include "common/CodecIds.h"
#include "common/FormatCatalogue.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

struct WriterSetup {
    std::string container;
    int codecId;
    int rate;
    int channels;
    int bitrate = 0;
};

void Configure(CFFmpegWriter& w, const WriterSetup& s, const std::string& path) {
    FFmpegCodecParams p{s.container, s.codecId};
    w.SetCodecParams(p);
    w.SetSampleRate(s.rate);
    w.SetChannels(s.channels);
    w.SetBitrate(s.bitrate);
    w.SetFileName(path);
}

// Planar halves of an interleaved signal.
void Split(const std::vector<int16_t>& in, int channels, std::vector<int16_t>& l,
           std::vector<int16_t>& r) {
    size_t frames = in.size() / channels;
    l.resize(frames);
    r.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        l[i] = in[i * channels];
        r[i] = channels == 2 ? in[i * 2 + 1] : 0;
    }
}

// Writes `signal` (interleaved) in blocks of `block` frames; false when
// Open or a WriteBlock fails.
bool WriteSignal(const WriterSetup& s, const std::string& path, const std::vector<int16_t>& signal,
                 int block, int* frameSize = nullptr) {
    CFFmpegWriter w;
    Configure(w, s, path);
    if (!w.Open()) return false;
    if (frameSize) *frameSize = w.GetFrameSize();
    std::vector<int16_t> l, r;
    Split(signal, s.channels, l, r);
    const int frames = static_cast<int>(l.size());
    bool ok = true;
    for (int done = 0; done < frames; done += block) {
        int n = std::min(block, frames - done);
        ok = WriteInt16(w, l.data() + done, s.channels == 2 ? r.data() + done : nullptr, n) && ok;
    }
    w.Close();
    return ok;
}

// The payload of a RIFF/WAVE "data" chunk or an AIFF "SSND" chunk.
std::vector<uint8_t> AudioPayload(const std::vector<uint8_t>& file) {
    const std::string text(file.begin(), file.end());
    size_t p = text.find("data");
    if (p != std::string::npos && text.compare(0, 4, "RIFF") == 0) {
        uint32_t size = file[p + 4] | file[p + 5] << 8 | file[p + 6] << 16 |
                        static_cast<uint32_t>(file[p + 7]) << 24;
        size = std::min<uint32_t>(size, static_cast<uint32_t>(file.size() - p - 8));
        return {file.begin() + static_cast<long>(p) + 8,
                file.begin() + static_cast<long>(p + 8 + size)};
    }
    p = text.find("SSND");
    if (p == std::string::npos) return {};
    uint32_t size = static_cast<uint32_t>(file[p + 4]) << 24 | file[p + 5] << 16 |
                    file[p + 6] << 8 | file[p + 7];
    size = std::min<uint32_t>(size - 8, static_cast<uint32_t>(file.size() - p - 16));
    return {file.begin() + static_cast<long>(p) + 16,
            file.begin() + static_cast<long>(p + 16 + size)};
}

const std::vector<int16_t> kEdgeSamples = {0x1234, -32768, 32767, 0, -1, 16384};

// ---- Framing ---------------------------------------------------------------

// A source rate that automatic parameters keep for a lossless codec is one
// its container stores as it is.
TEST(FFmpegWriterRates, KeptSourceRatesAreStoredAsTheyAre) {
    const struct {
        int format;
        const char* container;
        int rate;
        bool kept;
    } rows[] = {
        {kFormatFlac, "flac", 35467, true},  {kFormatFlac, "flac", 65535, false},
        {kFormatFlac, "flac", 65540, true},  {kFormatFlac, "flac", 88201, false},
        {kFormatFlac, "flac", 654320, true}, {kFormatFlac, "flac", 655350, false},
        {kFormatAlac, "ipod", 384000, true}, {kFormatAlac, "ipod", 384001, false},
        {kFormatWav, "wav", 1, true},        {kFormatAiff, "aiff", 705600, true},
        {kFormatAu, "au", 2822400, true},    {kFormatWav, "wav", 0, false},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.container << " " << row.rate);
        const OutputFormatEntry* format = CatalogueRow(row.format);
        ASSERT_NE(format, nullptr);
        const CodecEntry* codec = FindCodec(*format);
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(KeepsSourceRate(*codec, row.rate), row.kept);
        if (!row.kept) continue;
        const std::string path = dir.file(std::string("kept.") + format->extension);
        const int channels = codec->channelMask & kChannelMaskMono ? 1 : 2;
        ASSERT_TRUE(WriteSignal({row.container, format->CodecID, row.rate, channels}, path,
                                Sine(4096, channels, std::max(row.rate, 8000), 100.0), 1000));
        EXPECT_EQ(Probe(path, "sample_rate"), std::to_string(row.rate));
    }
}

TEST(FFmpegWriterFraming, BlocksOf1000FillWhole1152FrameMp2Frames) {
    TempDir dir;
    const std::string path = dir.file("a.mp2");
    auto signal = Sine(10000, 2, 44100, 440.0);
    int frameSize = 0;
    ASSERT_TRUE(WriteSignal({"mp2", kCodecMp2, 44100, 2, 128000}, path, signal, 1000, &frameSize));
    EXPECT_EQ(frameSize, 1152);
    // 10000 frames make eight whole encoder frames and a partial ninth that
    // Close completes with silence: exactly nine frames, no more, no less.
    auto decoded = DecodeWithFfmpeg(path);
    EXPECT_EQ(decoded.size(), 9u * 1152u * 2u);
    EXPECT_EQ(Probe(path, "codec_name"), "mp2");
}

TEST(FFmpegWriterFraming, StagedFramesAndShortLastFrameKeepEverySample) {
    // FLAC uses 4608-frame frames and accepts a short last one: blocks of
    // 1000 and an odd tail come back sample for sample.
    TempDir dir;
    const std::string path = dir.file("a.flac");
    auto signal = Sine(12345, 2, 44100, 300.0);
    ASSERT_TRUE(WriteSignal({"flac", kCodecFlac, 44100, 2}, path, signal, 1000));
    EXPECT_EQ(DecodeWithFfmpeg(path), signal);
}

TEST(FFmpegWriterFraming, LargeBlocksAreCutIntoChunksForPcm) {
    // After upsampling a block may hold far more than 1152 frames.
    TempDir dir;
    const std::string path = dir.file("a.wav");
    auto signal = Sine(30001, 2, 48000, 1000.0);
    int frameSize = -1;
    ASSERT_TRUE(WriteSignal({"wav", kCodecPcmS16Le, 48000, 2}, path, signal, 30001, &frameSize));
    EXPECT_EQ(frameSize, 0);
    EXPECT_EQ(DecodeWithFfmpeg(path), signal);
}

TEST(FFmpegWriterFraming, ZeroFrameWriteIsHarmless) {
    TempDir dir;
    const std::string path = dir.file("a.wav");
    CFFmpegWriter w;
    Configure(w, {"wav", kCodecPcmS16Le, 8000, 1}, path);
    ASSERT_TRUE(w.Open());
    int16_t s[2] = {5, -5};
    EXPECT_EQ(WriteInt16(w, s, nullptr, 0), 1);
    EXPECT_EQ(WriteInt16(w, s, nullptr, 2), 1);
    w.Close();
    EXPECT_EQ(DecodeWithFfmpeg(path), (std::vector<int16_t>{5, -5}));
}

// ---- Sample conversions ---------------------------------------------------

TEST(FFmpegWriterSamples, TwentyFourBitKeepsTheSampleInTheTopBytes) {
    TempDir dir;
    const std::string path = dir.file("a.wav");
    ASSERT_TRUE(WriteSignal({"wav", kCodecPcmS24Le, 44100, 1}, path, kEdgeSamples, 1152));
    // 0x1234 becomes 0x12340000 whose top 24 bits are stored: 00 34 12.
    EXPECT_EQ(AudioPayload(ReadFile(path)),
              (std::vector<uint8_t>{0x00, 0x34, 0x12, 0x00, 0x00, 0x80, 0x00, 0xFF, 0x7F, 0x00,
                                    0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x40}));
    EXPECT_EQ(DecodeWithFfmpeg(path), kEdgeSamples);

    // Big-endian in AIFF, stereo.
    const std::string aiff = dir.file("a.aiff");
    std::vector<int16_t> stereo = {0x1234, -2};
    ASSERT_TRUE(WriteSignal({"aiff", kCodecPcmS24Be, 44100, 2}, aiff, stereo, 1152));
    EXPECT_EQ(AudioPayload(ReadFile(aiff)),
              (std::vector<uint8_t>{0x12, 0x34, 0x00, 0xFF, 0xFE, 0x00}));
}

TEST(FFmpegWriterSamples, EightBitTakesTheHighByte) {
    TempDir dir;
    const std::string wav = dir.file("a.wav");
    ASSERT_TRUE(WriteSignal({"wav", kCodecPcmU8, 22050, 1}, wav, kEdgeSamples, 1152));
    // Unsigned: -32768 → 0, 0 → 128, 32767 → 255.
    EXPECT_EQ(AudioPayload(ReadFile(wav)),
              (std::vector<uint8_t>{0x92, 0x00, 0xFF, 0x80, 0x7F, 0xC0}));

    const std::string aiff = dir.file("a.aiff");
    ASSERT_TRUE(WriteSignal({"aiff", kCodecPcmS8, 22050, 1}, aiff, kEdgeSamples, 1152));
    // Signed: the same high bytes.
    EXPECT_EQ(AudioPayload(ReadFile(aiff)),
              (std::vector<uint8_t>{0x12, 0x80, 0x7F, 0x00, 0xFF, 0x40}));
}

TEST(FFmpegWriterSamples, FloatAndWideIntegerScaling) {
    TempDir dir;
    const std::string f32 = dir.file("f.wav");
    ASSERT_TRUE(WriteSignal({"wav", kCodecPcmF32Le, 44100, 1}, f32, kEdgeSamples, 1152));
    auto payload = AudioPayload(ReadFile(f32));
    ASSERT_EQ(payload.size(), kEdgeSamples.size() * 4);
    float values[6];
    std::memcpy(values, payload.data(), sizeof values);
    EXPECT_EQ(values[1], -1.0f);
    EXPECT_EQ(values[5], 0.5f);
    EXPECT_EQ(values[0], 0x1234 / 32768.0f);

    const std::string s32 = dir.file("i.wav");
    ASSERT_TRUE(WriteSignal({"wav", kCodecPcmS32Le, 44100, 1}, s32, kEdgeSamples, 1152));
    payload = AudioPayload(ReadFile(s32));
    ASSERT_EQ(payload.size(), kEdgeSamples.size() * 4);
    int32_t ints[6];
    std::memcpy(ints, payload.data(), sizeof ints);
    EXPECT_EQ(ints[0], 0x12340000);
    EXPECT_EQ(ints[1], INT32_MIN);
    EXPECT_EQ(ints[4], -65536);
}

TEST(FFmpegWriterSamples, G726OutOfRangeBitsFallBackToFour) {
    TempDir dir;
    const std::string path = dir.file("g.wav");
    CFFmpegWriter w;
    Configure(w, {"wav", kCodecAdpcmG726, 8000, 1, 7}, path);
    ASSERT_TRUE(w.Open()) << w.GetLastError();
    EXPECT_EQ(w.GetCodecBitrate(), 32000);
    std::vector<int16_t> s = Sine(8000, 1, 8000, 440.0);
    EXPECT_TRUE(WriteInt16(w, s.data(), nullptr, 8000));
    w.Close();
    EXPECT_EQ(Probe(path, "bit_rate"), "32000");
    EXPECT_EQ(DecodeWithFfmpeg(path).size(), 8000u);

    // In range, the stored value counts bits per sample; other rates than
    // 8000 Hz are accepted too.
    const std::string three = dir.file("g3.wav");
    CFFmpegWriter w3;
    Configure(w3, {"wav", kCodecAdpcmG726, 11025, 1, 3}, three);
    ASSERT_TRUE(w3.Open()) << w3.GetLastError();
    EXPECT_EQ(w3.GetCodecBitrate(), 33080);  // 3 × 11025 rounded up to whole bytes
    w3.Close();
}

// ---- Channels --------------------------------------------------------------

TEST(FFmpegWriterChannels, MonoIgnoresTheRightPointer) {
    TempDir dir;
    const std::string path = dir.file("m.wav");
    auto signal = Sine(3000, 1, 16000, 500.0);
    CFFmpegWriter w;
    Configure(w, {"wav", kCodecPcmS16Le, 16000, 1}, path);
    ASSERT_TRUE(w.Open());
    EXPECT_TRUE(WriteInt16(w, signal.data(), nullptr, 3000));
    w.Close();
    EXPECT_EQ(Probe(path, "channels"), "1");
    EXPECT_EQ(DecodeWithFfmpeg(path), signal);
}

TEST(FFmpegWriterChannels, StereoFromOneBufferDuplicatesIt) {
    TempDir dir;
    auto mono = Sine(5000, 1, 44100, 700.0);
    std::vector<int16_t> expected;
    for (int16_t s : mono) {
        expected.push_back(s);
        expected.push_back(s);
    }
    // Left passed as both pointers (a mono source written as stereo), and a
    // null right pointer, through a PCM and a frame-based codec.
    for (const WriterSetup& s : {WriterSetup{"wav", kCodecPcmS16Le, 44100, 2},
                                 WriterSetup{"flac", kCodecFlac, 44100, 2}}) {
        for (bool nullRight : {false, true}) {
            const std::string path = dir.file(std::string(nullRight ? "n." : "s.") + s.container);
            CFFmpegWriter w;
            Configure(w, s, path);
            ASSERT_TRUE(w.Open());
            for (int done = 0; done < 5000; done += 1152) {
                int n = std::min(1152, 5000 - done);
                EXPECT_TRUE(
                    WriteInt16(w, mono.data() + done, nullRight ? nullptr : mono.data() + done, n));
            }
            w.Close();
            EXPECT_EQ(Probe(path, "channels"), "2");
            EXPECT_EQ(DecodeWithFfmpeg(path), expected) << path;
        }
    }
}

// ---- Codec identity --------------------------------------------------------

TEST(FFmpegWriterCodecs, AlacIsAlacAndFlacIsFlac) {
    TempDir dir;
    auto signal = Sine(4410, 2, 44100, 440.0);
    const std::string alac = dir.file("a.m4a");
    ASSERT_TRUE(WriteSignal({"ipod", kCodecAlac, 44100, 2}, alac, signal, 1152));
    EXPECT_EQ(Probe(alac, "codec_name"), "alac");
    EXPECT_EQ(DecodeWithFfmpeg(alac), signal);

    const std::string flac = dir.file("a.ogg");
    ASSERT_TRUE(WriteSignal({"ogg", kCodecFlac, 44100, 2}, flac, signal, 1152));
    EXPECT_EQ(Probe(flac, "codec_name"), "flac");
    EXPECT_EQ(Probe(flac, "format_name", true), "ogg");
    EXPECT_EQ(DecodeWithFfmpeg(flac), signal);
}

TEST(FFmpegWriterCodecs, AmrNbModeFollowsTheBitRate) {
    EXPECT_EQ(CAmrNbPacketEncoder::ModeForBitrate(10200), 6);
    EXPECT_EQ(CAmrNbPacketEncoder::ModeForBitrate(0), 0);
    EXPECT_EQ(CAmrNbPacketEncoder::ModeForBitrate(128000), 7);
    EXPECT_EQ(CAmrNbPacketEncoder::ModeForBitrate(7700), 5);  // nearer 7950
    EXPECT_EQ(CAmrNbPacketEncoder::ModeForBitrate(4950), 0);  // tie → lower

    // Storage-format frames of 1 + 12 (4.75 kbit/s) and 1 + 31 (12.2) bytes,
    // 50 per second; 1000 samples make six whole frames and a padded seventh.
    TempDir dir;
    auto speech = Sine(1000, 1, 8000, 300.0);
    for (auto [bitrate, frameBytes] : {std::pair{4750, 13}, std::pair{12200, 32}}) {
        const std::string path = dir.file("a" + std::to_string(bitrate) + ".3gp");
        ASSERT_TRUE(WriteSignal({"3gp", kCodecAmrNb, 8000, 1, bitrate}, path, speech, 300));
        EXPECT_EQ(Probe(path, "codec_name"), "amr_nb");
        EXPECT_EQ(Probe(path, "bit_rate"), std::to_string(frameBytes * 8 * 50));
        EXPECT_EQ(DecodeWithFfmpeg(path).size(), 7u * 160u);
    }
}

TEST(FFmpegWriterCodecs, UnmanageableBitRatesMoveToTheNearestManagedOne) {
    TempDir dir;
    struct Case {
        WriterSetup setup;
        int lowest, highest;
    };
    const Case cases[] = {
        // Layer II: MPEG-1 rates have no 144 kbit/s, MPEG-2 rates stop at 160.
        {{"mp2", kCodecMp2, 44100, 2, 144000}, 128000, 128000},
        {{"mp2", kCodecMp2, 16000, 1, 320000}, 160000, 160000},
        // libvorbis manages far less than 320 kbit/s for 8000 Hz mono, and
        // more than 8 kbit/s for 48000 Hz stereo.
        {{"ogg", kCodecVorbis, 8000, 1, 320000}, 8000, 64000},
        {{"ogg", kCodecVorbis, 48000, 2, 8000}, 16000, 128000},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("b." + c.setup.container);
        CFFmpegWriter w;
        Configure(w, c.setup, path);
        ASSERT_EQ(w.Open(), 1) << w.GetLastError();
        EXPECT_GE(w.GetCodecBitrate(), c.lowest);
        EXPECT_LE(w.GetCodecBitrate(), c.highest);
        auto sig = Sine(c.setup.rate / 4, c.setup.channels, c.setup.rate, 440.0);
        std::vector<int16_t> l, r;
        Split(sig, c.setup.channels, l, r);
        EXPECT_TRUE(WriteInt16(w, l.data(), c.setup.channels == 2 ? r.data() : nullptr,
                            static_cast<int>(l.size())));
        w.Close();
        EXPECT_FALSE(DecodeWithFfmpeg(path).empty()) << path;
    }
}

// ---- Tags ------------------------------------------------------------------

TEST(FFmpegWriterTags, EveryKeyReachesMp3AndM4a) {
    TempDir dir;
    for (const WriterSetup& s : {WriterSetup{"mp3", kCodecMp3, 44100, 2, 128000},
                                 WriterSetup{"ipod", kCodecAac, 44100, 2, 128000},
                                 WriterSetup{"opus", kCodecOpus, 48000, 2, 128000}}) {
        const std::string path = dir.file("t." + s.container);
        {
            CFFmpegWriter w;
            Configure(w, s, path);
            TagInfo tags{.title = "标题",
                         .artist = "歌手",
                         .album = "Album",
                         .year = "1999",
                         .genre = "Genre",
                         .comment = "Comment",
                         .track = "12",
                         .composer = "Composer",
                         .copyright = "(C) Someone"};
            std::string& title = tags.title;
            w.SetTags(tags);
            title = "changed";  // the writer keeps its own copy
            ASSERT_TRUE(w.Open());
            auto sig = Sine(2000, 2, 44100, 440.0);
            std::vector<int16_t> l, r;
            Split(sig, 2, l, r);
            WriteInt16(w, l.data(), r.data(), 2000);
            w.Close();
        }
        EXPECT_EQ(ProbeTag(path, "title"), "标题") << s.container;
        EXPECT_EQ(ProbeTag(path, "artist"), "歌手");
        EXPECT_EQ(ProbeTag(path, "album"), "Album");
        EXPECT_EQ(ProbeTag(path, "genre"), "Genre");
        EXPECT_EQ(ProbeTag(path, "date"), "1999");
        EXPECT_EQ(ProbeTag(path, "comment"), "Comment");
        EXPECT_EQ(ProbeTag(path, "composer"), "Composer");
        EXPECT_EQ(ProbeTag(path, "copyright"), "(C) Someone");
        EXPECT_EQ(ProbeTag(path, "track"), "12");
    }
}

TEST(FFmpegWriterTags, Mp3GetsNoAuthorFrame) {
    TempDir dir;
    const std::string path = dir.file("a.mp3");
    CFFmpegWriter w;
    Configure(w, {"mp3", kCodecMp3, 44100, 2, 128000}, path);
    TagInfo tags;
    tags.artist = "Artist";
    w.SetTags(tags);
    ASSERT_TRUE(w.Open());
    auto sig = Sine(2000, 2, 44100, 440.0);
    std::vector<int16_t> l, r;
    Split(sig, 2, l, r);
    WriteInt16(w, l.data(), r.data(), 2000);
    w.Close();
    EXPECT_EQ(ProbeTag(path, "artist"), "Artist");
    EXPECT_EQ(ProbeTag(path, "author"), "");
}

TEST(FFmpegWriterTags, AbsentValuesAndMalformedText) {
    TempDir dir;
    const std::string path = dir.file("t.mka");
    CFFmpegWriter w;
    Configure(w, {"matroska", kCodecMp3, 44100, 2, 128000}, path);
    TagInfo tags;
    tags.title =
        "A\xff"
        "B";
    w.SetTags(tags);
    ASSERT_TRUE(w.Open());
    auto sig = Sine(1152, 2, 44100, 440.0);
    std::vector<int16_t> l, r;
    Split(sig, 2, l, r);
    WriteInt16(w, l.data(), r.data(), 1152);
    w.Close();
    EXPECT_EQ(ProbeTag(path, "title"),
              "A\xEF\xBF\xBD"
              "B");  // U+FFFD
    EXPECT_EQ(ProbeTag(path, "artist"), "");
    EXPECT_EQ(ProbeTag(path, "track"), "");
}

// An output without tags gets none of the library's own either. (MP3's
// info frame, which carries the gapless length, names "Lavf" as its
// writer; that is no tag.)
TEST(FFmpegWriterTags, NoEncoderTagOfTheLibrary) {
    TempDir dir;
    for (const auto& [container, codec] : {std::pair{"matroska", kCodecMp3}, std::pair{"ipod", kCodecAac},
                                           std::pair{"ogg", kCodecVorbis},
                                           std::pair{"flac", kCodecFlac}}) {
        const std::string path = dir.file(std::string("t.") + container);
        CFFmpegWriter w;
        Configure(w, {container, codec, 44100, 2, 128000}, path);
        ASSERT_TRUE(w.Open()) << container;
        auto sig = Sine(4096, 2, 44100, 440.0);
        std::vector<int16_t> l, r;
        Split(sig, 2, l, r);
        WriteInt16(w, l.data(), r.data(), 4096);
        w.Close();
        const std::string encoder = ProbeTag(path, "encoder");
        EXPECT_EQ(encoder.find("Lavf5"), std::string::npos) << container << ": " << encoder;
        EXPECT_EQ(encoder.find("Lavf6"), std::string::npos) << container << ": " << encoder;
    }
}

TEST(FFmpegWriterTags, TaglessContainers) {
    for (const char* c : {"wav", "aiff", "au", "voc", "mmf", "flv", "swf"})
        EXPECT_FALSE(CFFmpegWriter::ContainerCarriesTags(c)) << c;
    for (const char* c : {"mp3", "ipod", "mp4", "mov", "3gp", "3g2", "ogg", "opus", "flac",
                          "matroska", "avi", "adts", "ac3", "mp2", "mpeg"})
        EXPECT_TRUE(CFFmpegWriter::ContainerCarriesTags(c)) << c;
}

// ---- Opus ------------------------------------------------------------------

// Ogg Opus says how many samples the encoder's look-ahead put in front
// (pre-skip) and where the last packet ends, so the decoded output, always
// at 48 kHz, holds exactly the samples written: no silence in front, no
// padding behind, whatever the input rate and the block size.
TEST(FFmpegWriterOpus, DecodesToExactlyTheSamplesWritten) {
    TempDir dir;
    struct Case {
        int rate, channels, frames, block;
    };
    for (const Case& c :
         {Case{48000, 2, 48000 + 123, 1152}, Case{48000, 1, 20000, 960},
          Case{16000, 1, 12434, 1000}, Case{24000, 2, 7777, 1152}, Case{8000, 1, 321, 1152}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch");
        const std::string path = dir.file("o" + std::to_string(c.rate) + ".opus");
        const WriterSetup s{"opus", kCodecOpus, c.rate, c.channels, 64000 * c.channels};
        const std::vector<int16_t> signal = Sine(c.frames, c.channels, c.rate, 440.0);
        int frameSize = 0;
        ASSERT_TRUE(WriteSignal(s, path, signal, c.block, &frameSize));
        EXPECT_EQ(frameSize, c.rate / 50);  // 20 ms frames
        EXPECT_EQ(Probe(path, "codec_name"), "opus");
        EXPECT_EQ(Probe(path, "sample_rate"), "48000");
        EXPECT_EQ(Probe(path, "channels"), std::to_string(c.channels));
        const std::vector<int16_t> decoded = DecodeWithFfmpeg(path);
        const size_t scale = static_cast<size_t>(48000 / c.rate);
        EXPECT_EQ(decoded.size(), signal.size() * scale);
        if (c.rate == 48000) {
            // In step with the source: a decode that kept the look-ahead
            // would be shifted by several milliseconds, a sine's phase
            // turned well away.
            EXPECT_GT(SnrDb(signal, decoded), 10.0);
        }
    }
}

// The stream says the rate it was made from, so that a decoder may give
// the source's rate back.
TEST(FFmpegWriterOpus, HeaderKeepsTheInputRateAndIsVariableBitRate) {
    TempDir dir;
    for (int rate : {16000, 48000}) {
        const std::string path = dir.file("r" + std::to_string(rate) + ".opus");
        const std::vector<int16_t> signal = Sine(rate, 1, rate, 440.0);
        ASSERT_TRUE(WriteSignal({"opus", kCodecOpus, rate, 1, 64000}, path, signal, 1152));
        const std::vector<uint8_t> bytes = ReadFile(path);
        const std::string text(bytes.begin(), bytes.end());
        const size_t head = text.find("OpusHead");
        ASSERT_NE(head, std::string::npos);
        ASSERT_GT(bytes.size(), head + 16);
        const uint32_t inputRate = bytes[head + 12] | bytes[head + 13] << 8 |
                                   bytes[head + 14] << 16 |
                                   static_cast<uint32_t>(bytes[head + 15]) << 24;
        EXPECT_EQ(inputRate, static_cast<uint32_t>(rate));
    }
    // Variable bit rate: silence costs far less than a rich signal at the
    // same asked-for bit rate.
    std::vector<int16_t> noise(48000 * 2);
    uint32_t seed = 1;
    for (int16_t& x : noise) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<int16_t>(static_cast<int>(seed >> 16) - 32768);
    }
    const std::vector<int16_t> silence(noise.size(), 0);
    const std::string loud = dir.file("noise.opus"), quiet = dir.file("silence.opus");
    ASSERT_TRUE(WriteSignal({"opus", kCodecOpus, 48000, 2, 128000}, loud, noise, 1152));
    ASSERT_TRUE(WriteSignal({"opus", kCodecOpus, 48000, 2, 128000}, quiet, silence, 1152));
    EXPECT_LT(std::filesystem::file_size(quiet) * 4, std::filesystem::file_size(loud));
}

// ---- Open failures ----------------------------------------------------------

bool FolderIsEmpty(const TempDir& dir) { return std::filesystem::is_empty(dir.path()); }

TEST(FFmpegWriterOpen, RefusedSetupsLeaveNoFile) {
    TempDir dir;
    const std::string path = dir.file("out.x");
    const WriterSetup refused[] = {
        {"nosuchmuxer", kCodecPcmS16Le, 44100, 2},
        {"", kCodecPcmS16Le, 44100, 2},
        {"wav", 0x99999, 44100, 2},
        {"wav", 0, 44100, 2},
        {"ac3", kCodecAc3, 8000, 2, 128000},  // the encoder refuses the rate
        {"wav", kCodecPcmS16Le, 44100, 9},    // more than 8 channels
        {"wav", kCodecPcmS16Le, 0, 2},
        {"3gp", kCodecAmrNb, 16000, 1, 12200},   // AMR-NB is 8000 Hz only
        {"mmf", kCodecAdpcmYamaha, 6000, 1},     // the muxer refuses the rate
        {"opus", kCodecOpus, 44100, 2, 128000},  // libopus takes 8 to 48 kHz rates only
    };
    for (const WriterSetup& s : refused) {
        CFFmpegWriter w;
        Configure(w, s, path);
        EXPECT_EQ(w.Open(), 0) << s.container << " " << s.codecId;
        EXPECT_FALSE(w.GetLastError().empty());
        int16_t x[4] = {};
        EXPECT_EQ(WriteInt16(w, x, x, 2), 0);
        w.Close();
        w.Close();
        EXPECT_TRUE(FolderIsEmpty(dir)) << s.container << " " << s.codecId;
    }
}

TEST(FFmpegWriterOpen, UncreatableOutputPath) {
    TempDir dir;
    WriteFile(dir.file("plain"), std::string("not a folder"));
    for (const std::string& path : {dir.file("missing/out.wav"), dir.file("plain/out.wav")}) {
        CFFmpegWriter w;
        Configure(w, {"wav", kCodecPcmS16Le, 44100, 2}, path);
        EXPECT_EQ(w.Open(), 0);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_EQ(ReadFile(dir.file("plain")).size(), 12u);

    CFFmpegWriter noName;
    FFmpegCodecParams p{"wav", kCodecPcmS16Le};
    noName.SetCodecParams(p);
    noName.SetSampleRate(44100);
    noName.SetChannels(2);
    EXPECT_EQ(noName.Open(), 0);
}

TEST(FFmpegWriterOpen, DestroyingAnOpenWriterReleasesIt) {
    // The engine may drop a writer without Close; nothing may leak or crash,
    // and a closed writer is back to its empty state.
    TempDir dir;
    auto sig = Sine(3000, 2, 44100, 440.0);
    std::vector<int16_t> l, r;
    Split(sig, 2, l, r);
    {
        CFFmpegWriter w;
        Configure(w, {"ipod", kCodecAac, 44100, 2, 128000}, dir.file("a.m4a"));
        ASSERT_TRUE(w.Open());
        EXPECT_TRUE(WriteInt16(w, l.data(), r.data(), 1000));
    }
    CFFmpegWriter w;
    Configure(w, {"wav", kCodecPcmS16Le, 44100, 2}, dir.file("b.wav"));
    ASSERT_TRUE(w.Open());
    w.Close();
    EXPECT_EQ(w.GetFrameSize(), 0);
    EXPECT_EQ(WriteInt16(w, l.data(), r.data(), 10), 0);
    EXPECT_EQ(w.Open(), 0);  // everything set before was released
    EXPECT_EQ(Probe(dir.file("b.wav"), "codec_name"), "pcm_s16le");
}

TEST(FFmpegWriterOpen, WritersShareNoState) {
    // Two conversions on two threads.
    TempDir dir;
    auto a = Sine(44100, 2, 44100, 440.0);
    auto b = Sine(22050, 1, 22050, 880.0);
    bool okA = false, okB = false;
    std::thread ta([&] {
        okA = WriteSignal({"flac", kCodecFlac, 44100, 2}, dir.file("a.flac"), a, 1000);
    });
    std::thread tb([&] {
        okB = WriteSignal({"wav", kCodecPcmS24Le, 22050, 1}, dir.file("b.wav"), b, 1152);
    });
    ta.join();
    tb.join();
    ASSERT_TRUE(okA && okB);
    EXPECT_EQ(DecodeWithFfmpeg(dir.file("a.flac")), a);
    EXPECT_EQ(DecodeWithFfmpeg(dir.file("b.wav")), b);
}

}  // namespace
