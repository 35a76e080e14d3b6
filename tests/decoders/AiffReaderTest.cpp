#include "decoders/AiffReader.h"

#include <gsm.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "common/SampleHelpers.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

using namespace quelvox;
using testsupport::ReadInt16;
using testsupport::MaxDifference;
using testsupport::PutBe16;
using testsupport::PutBe32;
using testsupport::Quote;
using testsupport::TempDir;

namespace {

// ---------------------------------------------------------------------------
// Building AIFF files by hand.

using Bytes = std::vector<uint8_t>;

struct Chunk {
    std::string id;
    Bytes body;
};

Bytes Form(const std::string& type, const std::vector<Chunk>& chunks) {
    Bytes v = {'F', 'O', 'R', 'M', 0, 0, 0, 0};
    v.insert(v.end(), type.begin(), type.end());
    for (const Chunk& c : chunks) {
        v.insert(v.end(), c.id.begin(), c.id.end());
        PutBe32(v, static_cast<uint32_t>(c.body.size()));
        v.insert(v.end(), c.body.begin(), c.body.end());
        if (c.body.size() & 1) v.push_back(0);
    }
    const uint32_t size = static_cast<uint32_t>(v.size() - 8);
    v[4] = static_cast<uint8_t>(size >> 24);
    v[5] = static_cast<uint8_t>(size >> 16);
    v[6] = static_cast<uint8_t>(size >> 8);
    v[7] = static_cast<uint8_t>(size);
    return v;
}

using Ext80 = std::array<uint8_t, 10>;

// A positive finite rate as an 80-bit extended value.
Ext80 Rate(double hz) {
    Ext80 e{};
    int exp2 = 0;
    const double m = std::frexp(hz, &exp2);  // hz = m * 2^exp2, m in [0.5, 1)
    const uint16_t exponent = static_cast<uint16_t>(exp2 - 1 + 16383);
    const uint64_t mantissa = static_cast<uint64_t>(std::ldexp(m, 64));
    e[0] = static_cast<uint8_t>(exponent >> 8);
    e[1] = static_cast<uint8_t>(exponent);
    for (int i = 0; i < 8; ++i) e[2 + i] = static_cast<uint8_t>(mantissa >> (56 - 8 * i));
    return e;
}

// COMM body; `type` empty gives the 18-byte plain AIFF form.
Bytes Comm(int channels, uint32_t frames, int bits, const Ext80& rate,
           const std::string& type = "") {
    Bytes b;
    PutBe16(b, static_cast<uint16_t>(channels));
    PutBe32(b, frames);
    PutBe16(b, static_cast<uint16_t>(bits));
    b.insert(b.end(), rate.begin(), rate.end());
    if (!type.empty()) {
        b.insert(b.end(), type.begin(), type.end());
        b.push_back(0);  // empty compression name (Pascal string + pad)
        b.push_back(0);
    }
    return b;
}

Bytes Ssnd(const Bytes& data, uint32_t offset = 0, uint32_t blockSize = 0) {
    Bytes b;
    PutBe32(b, offset);
    PutBe32(b, blockSize);
    b.insert(b.end(), offset, 0xEE);  // bytes the offset skips
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes Be16Samples(const std::vector<int16_t>& s) {
    Bytes b;
    for (int16_t x : s) PutBe16(b, static_cast<uint16_t>(x));
    return b;
}

// Minimal ID3v2.3 tag with ISO-8859-1 text frames.
Bytes Id3v23(const std::vector<std::pair<std::string, std::string>>& frames) {
    Bytes body;
    for (const auto& [id, text] : frames) {
        // A comment frame has a language and an empty description first.
        const std::string prefix = id == "COMM" ? std::string("eng\0", 4) : "";
        body.insert(body.end(), id.begin(), id.end());
        PutBe32(body, static_cast<uint32_t>(1 + prefix.size() + text.size()));
        PutBe16(body, 0);
        body.push_back(0);  // ISO-8859-1
        body.insert(body.end(), prefix.begin(), prefix.end());
        body.insert(body.end(), text.begin(), text.end());
    }
    Bytes tag = {'I', 'D', '3', 3, 0, 0};
    const uint32_t n = static_cast<uint32_t>(body.size());
    tag.push_back(static_cast<uint8_t>((n >> 21) & 0x7F));
    tag.push_back(static_cast<uint8_t>((n >> 14) & 0x7F));
    tag.push_back(static_cast<uint8_t>((n >> 7) & 0x7F));
    tag.push_back(static_cast<uint8_t>(n & 0x7F));
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

// ---------------------------------------------------------------------------
// Reading.

struct Decoded {
    std::vector<int16_t> samples;  // interleaved by output channels
    int largestRead = 0;
    int reads = 0;
};

Decoded ReadAll(CAiffReader& r) {
    Decoded d;
    std::vector<int16_t> left(kBlockFrames + 16, 0x5A5A), right(kBlockFrames + 16, 0x5A5A);
    const bool stereo = r.GetOutputChannels() == 2;
    for (int guard = 0; guard < 10000000; ++guard) {
        const int n = ReadInt16(r, left.data(), stereo ? right.data() : nullptr);
        if (n <= 0) break;
        EXPECT_LE(n, kBlockFrames);
        d.largestRead = std::max(d.largestRead, n);
        ++d.reads;
        for (int i = 0; i < n; ++i) {
            d.samples.push_back(left[i]);
            if (stereo) d.samples.push_back(right[i]);
        }
    }
    return d;
}

// Every block channel the reader delivers, and how many blocks.
struct Planes {
    std::vector<std::vector<float>> planes;
    int blocks = 0;
};

Planes ReadPlanes(CAiffReader& r) {
    Planes p;
    AudioBlock block;
    while (r.ReadBlock(block) > 0 && p.blocks < 10000000) {
        ++p.blocks;
        p.planes.resize(static_cast<size_t>(block.Channels()));
        for (int c = 0; c < block.Channels(); ++c)
            p.planes[static_cast<size_t>(c)].insert(p.planes[static_cast<size_t>(c)].end(),
                                                    block.Channel(c),
                                                    block.Channel(c) + block.frames);
    }
    return p;
}

Decoded OpenAndRead(const std::string& path, CAiffReader& r) {
    EXPECT_EQ(r.Open(path, 0), 1) << path;
    return ReadAll(r);
}

// A 16-bit stereo source signal written by ffmpeg, returned with its samples.
std::vector<int16_t> MakeSource(const TempDir& dir, int channels, int rate,
                                const std::string& name) {
    const std::string wav = dir.file(name);
    const std::string cmd =
        "ffmpeg -v error -nostdin -y -f lavfi -i 'sine=f=440:d=0.75:r=" + std::to_string(rate) +
        "' -f lavfi -i 'sine=f=620:d=0.75:r=" + std::to_string(rate) +
        "' -filter_complex '[0][1]amerge=inputs=2,volume=0.9' -ac " + std::to_string(channels) +
        " -c:a pcm_s16le " + Quote(wav);
    EXPECT_EQ(testsupport::Run(cmd), 0);
    return testsupport::DecodeWithFfmpeg(wav);
}

bool FfmpegToAiff(const std::string& in, const std::string& codec, const std::string& out) {
    return testsupport::Run("ffmpeg -v error -nostdin -y -i " + Quote(in) + " -c:a " + codec +
                            " -f aiff " + Quote(out)) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Files made by sox and ffmpeg.

TEST(AiffReaderSox, PlainAiffAndAifcDecodeExactly) {
    TempDir dir;
    const std::string aiff = dir.file("sine.aiff");
    const std::string aifc = dir.file("sine.aifc");
    ASSERT_EQ(testsupport::Run("sox -n -r 22050 -c 2 -b 16 " + Quote(aiff) +
                               " synth 1 sine 440 sine 660"),
              0);
    ASSERT_EQ(testsupport::Run("sox -n -r 22050 -c 2 -b 16 -t aifc " + Quote(aifc) +
                               " synth 1 sine 440 sine 660"),
              0);
    for (const std::string& path : {aiff, aifc}) {
        CAiffReader r;
        Decoded d = OpenAndRead(path, r);
        EXPECT_EQ(r.GetSampleRate(), 22050);
        EXPECT_EQ(r.GetChannels(), 2);
        EXPECT_EQ(r.GetOutputChannels(), 2);
        EXPECT_EQ(r.GetBitsPerSample(), 16);
        EXPECT_EQ(r.GetDuration(), 1);
        EXPECT_EQ(r.GetTotal(), std::filesystem::file_size(path));
        EXPECT_EQ(r.GetPosition(), r.GetTotal());  // SSND is the last chunk
        EXPECT_EQ(d.largestRead, kBlockFrames);
        EXPECT_EQ(d.samples, testsupport::DecodeWithFfmpeg(path)) << path;
        EXPECT_EQ(d.samples.size(), 22050u * 2);
        // Bit rate from file size and duration: about 16 * 2 * 22050 / 1000.
        EXPECT_NEAR(r.GetBitrate(), 706, 2);
    }
}

TEST(AiffReaderFfmpeg, LosslessCodecsGiveTheSourceSamples) {
    TempDir dir;
    const auto source = MakeSource(dir, 2, 32000, "src.wav");
    ASSERT_FALSE(source.empty());
    struct Case {
        const char* codec;
        int maxDiff;  // floats: truncation instead of rounding
    };
    for (const Case c : {Case{"pcm_s16be", 0}, Case{"pcm_s16le", 0}, Case{"pcm_s24be", 0},
                         Case{"pcm_s32be", 0}, Case{"pcm_f32be", 1}, Case{"pcm_f64be", 1}}) {
        const std::string out = dir.file(std::string(c.codec) + ".aif");
        ASSERT_TRUE(FfmpegToAiff(dir.file("src.wav"), c.codec, out)) << c.codec;
        CAiffReader r;
        Decoded d = OpenAndRead(out, r);
        EXPECT_EQ(r.GetSampleRate(), 32000) << c.codec;
        EXPECT_EQ(r.GetChannels(), 2) << c.codec;
        EXPECT_EQ(r.GetDuration(), 0) << c.codec;  // 0.75 s
        ASSERT_EQ(d.samples.size(), source.size()) << c.codec;
        EXPECT_LE(MaxDifference(d.samples, source), c.maxDiff) << c.codec;
    }
}

TEST(AiffReaderFfmpeg, EightBitAndG711MatchFfmpegExactly) {
    TempDir dir;
    MakeSource(dir, 1, 8000, "src.wav");
    for (const char* codec : {"pcm_s8", "pcm_u8", "pcm_alaw", "pcm_mulaw"}) {
        const std::string out = dir.file(std::string(codec) + ".aif");
        ASSERT_TRUE(FfmpegToAiff(dir.file("src.wav"), codec, out)) << codec;
        CAiffReader r;
        Decoded d = OpenAndRead(out, r);
        EXPECT_EQ(r.GetSampleRate(), 8000);
        EXPECT_EQ(r.GetOutputChannels(), 1);
        const auto ref = testsupport::DecodeWithFfmpeg(out);
        ASSERT_EQ(d.samples.size(), 6000u) << codec;
        EXPECT_EQ(d.samples, ref) << codec;
    }
}

TEST(AiffReaderFfmpeg, Ima4StereoMatchesFfmpeg) {
    TempDir dir;
    MakeSource(dir, 2, 22050, "src.wav");
    const std::string out = dir.file("ima4.aifc");
    ASSERT_TRUE(FfmpegToAiff(dir.file("src.wav"), "adpcm_ima_qt", out));
    CAiffReader r;
    Decoded d = OpenAndRead(out, r);
    EXPECT_EQ(r.GetSampleRate(), 22050);
    EXPECT_EQ(r.GetOutputChannels(), 2);
    EXPECT_EQ(d.largestRead, 64);
    const auto ref = testsupport::DecodeWithFfmpeg(out);
    ASSERT_EQ(d.samples.size(), ref.size());
    EXPECT_EQ(d.samples.size() % 128, 0u);
    // Every block restarts from the predictor stored in its header; ffmpeg
    // instead carries its full-precision predictor over when the header
    // agrees with it within the header's precision. The two may therefore
    // differ by less than one header step (128); the first block is equal.
    EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.begin() + 128, ref.begin()));
    EXPECT_LT(MaxDifference(d.samples, ref), 128);
    EXPECT_EQ(r.GetPosition(), r.GetTotal());
}

TEST(AiffReaderFfmpeg, MultichannelIsMixedToStereo) {
    TempDir dir;
    const std::string out = dir.file("six.aif");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -f lavfi -i "
                               "'sine=f=300:d=0.3:r=16000' -af 'pan=5.1|c0=c0|c1=0.5*c0|c2=0.3*c0|"
                               "c3=0.2*c0|c4=0.7*c0|c5=0.1*c0' -c:a pcm_s16be -f aiff " +
                               Quote(out)),
              0);
    CAiffReader r;
    Decoded d = OpenAndRead(out, r);
    EXPECT_EQ(r.GetChannels(), 6);
    EXPECT_EQ(r.GetOutputChannels(), 2);
    const auto six = testsupport::DecodeWithFfmpeg(out);
    ASSERT_EQ(d.samples.size(), six.size() / 3);
    for (size_t f = 0; f < six.size() / 6; ++f) {
        int16_t l, rr;
        DownmixToStereo(6, &six[f * 6], &l, &rr);
        ASSERT_EQ(d.samples[2 * f], l) << f;
        ASSERT_EQ(d.samples[2 * f + 1], rr) << f;
    }
}

// ---------------------------------------------------------------------------
// GSM 06.10, built around raw frames from sox.

TEST(AiffReaderGsm, MonoMatchesFfmpegAndStereoAlternates) {
    TempDir dir;
    const std::string raw = dir.file("a.gsm");
    ASSERT_EQ(testsupport::Run("sox -n -r 8000 -c 1 -t gsm " + Quote(raw) + " synth 2.5 sine 440"),
              0);
    const Bytes frames = testsupport::ReadFile(raw);
    ASSERT_EQ(frames.size() % 33, 0u);
    const size_t count = frames.size() / 33;

    const std::string mono = dir.file("mono.aifc");
    testsupport::WriteFile(
        mono,
        Form("AIFC", {{"COMM", Comm(1, static_cast<uint32_t>(count * 160), 16, Rate(8000), "GSM ")},
                      {"SSND", Ssnd(frames)}}));
    CAiffReader r;
    Decoded d = OpenAndRead(mono, r);
    EXPECT_EQ(r.GetSampleRate(), 8000);
    EXPECT_EQ(r.GetDuration(), 2);  // 2.5 s
    EXPECT_EQ(d.largestRead, 160);
    EXPECT_EQ(d.samples.size(), count * 160);
    EXPECT_EQ(d.samples, testsupport::DecodeWithFfmpeg(mono));

    const std::string stereo = dir.file("stereo.aifc");
    testsupport::WriteFile(
        stereo,
        Form("AIFC", {{"COMM", Comm(2, static_cast<uint32_t>(count * 80), 16, Rate(8000), "GSM ")},
                      {"SSND", Ssnd(frames)}}));
    CAiffReader s;
    Decoded ds = OpenAndRead(stereo, s);
    EXPECT_EQ(ds.largestRead, 80);
    EXPECT_EQ(s.GetDuration(), 1);  // half as many frames
    // The same samples, now read as alternating left and right.
    EXPECT_EQ(ds.samples, d.samples);

    // Three channels of GSM have no meaning here.
    testsupport::WriteFile(stereo, Form("AIFC", {{"COMM", Comm(3, 100, 16, Rate(8000), "GSM ")},
                                                 {"SSND", Ssnd(frames)}}));
    EXPECT_EQ(s.Open(stereo, 0), 0);
}

// ---------------------------------------------------------------------------
// DWVW, written through libsndfile.

namespace {

// libsndfile writes DWVW for one channel only. A DWVW stream of several
// channels is one bit stream of the interleaved samples, so such a file is
// the mono encoding of the interleaved samples with its COMM chunk patched.
bool WriteDwvw(const std::string& path, int format, int channels, int rate,
               const std::vector<int16_t>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_AIFF | format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) {
        ADD_FAILURE() << sf_strerror(nullptr);
        return false;
    }
    const sf_count_t n = sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(f);
    if (n != static_cast<sf_count_t>(samples.size())) return false;
    if (channels == 1) return true;

    Bytes file = testsupport::ReadFile(path);
    const Bytes comm = {'C', 'O', 'M', 'M'};
    auto it = std::search(file.begin(), file.end(), comm.begin(), comm.end());
    if (it == file.end()) return false;
    const size_t body = static_cast<size_t>(it - file.begin()) + 8;
    const uint32_t frames = static_cast<uint32_t>(samples.size() / channels);
    file[body] = 0;
    file[body + 1] = static_cast<uint8_t>(channels);
    for (int i = 0; i < 4; ++i) file[body + 2 + i] = static_cast<uint8_t>(frames >> (24 - 8 * i));
    testsupport::WriteFile(path, file);
    return true;
}

}  // namespace

TEST(AiffReaderDwvw, SixteenAndTwentyFourBitAreLossless) {
    TempDir dir;
    for (int channels : {1, 2}) {
        auto source = testsupport::Sine(5000, channels, 11025, 330.0, 20000.0);
        // Include full-scale steps so the widest deltas occur.
        for (size_t i = 0; i < 40 * size_t(channels); ++i)
            source[i] = (i / channels) % 2 ? 32767 : -32768;
        for (int format : {SF_FORMAT_DWVW_16, SF_FORMAT_DWVW_24}) {
            const std::string path = dir.file("d.aifc");
            ASSERT_TRUE(WriteDwvw(path, format, channels, 11025, source));
            CAiffReader r;
            Decoded d = OpenAndRead(path, r);
            EXPECT_EQ(r.GetSampleRate(), 11025);
            EXPECT_EQ(r.GetOutputChannels(), channels);
            EXPECT_EQ(d.samples, source) << channels << " " << format;
            EXPECT_EQ(r.GetPosition(), r.GetTotal());
        }
    }
}

TEST(AiffReaderDwvw, TwelveBitStreamWithWrapAround) {
    // libsndfile writes no 12-bit DWVW, so this stream is worked out by hand
    // from the format's definition: 5 (modifier +3, delta 5), 5 (modifier
    // -3, no delta), then +2047 (modifier -1 to width 11, the largest delta
    // plus its extra bit), which wraps to -2044; four zero bits of padding.
    TempDir dir;
    const std::string path = dir.file("d12.aifc");
    testsupport::WriteFile(path, Form("AIFC", {{"COMM", Comm(1, 3, 12, Rate(8000), "DWVW")},
                                               {"SSND", Ssnd({0x12, 0x1B, 0xFF, 0xC0})}}));
    CAiffReader r;
    Decoded d = OpenAndRead(path, r);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{5 * 16, 5 * 16, -2044 * 16}));
}

TEST(AiffReaderDwvw, ManyChannelsComeThroughAndBadWidthsRejected) {
    TempDir dir;
    auto source = testsupport::Sine(2000, 1, 8000, 200.0, 8000.0);
    std::vector<int16_t> four;
    for (int16_t s : source)
        for (int c = 0; c < 4; ++c) four.push_back(static_cast<int16_t>(s / (c + 1)));
    const std::string path = dir.file("d4.aifc");
    ASSERT_TRUE(WriteDwvw(path, SF_FORMAT_DWVW_16, 4, 8000, four));
    CAiffReader r;
    ASSERT_EQ(r.Open(path, 0), 1);
    const Planes p = ReadPlanes(r);
    ASSERT_EQ(p.planes.size(), 4u);
    for (size_t c = 0; c < 4; ++c) {
        ASSERT_EQ(p.planes[c].size(), source.size());
        for (size_t f = 0; f < source.size(); ++f)
            ASSERT_EQ(FloatToInt16(p.planes[c][f]), four[f * 4 + c]) << c << " " << f;
    }

    const std::string bad = dir.file("bad.aifc");
    for (int bits : {4, 25}) {
        testsupport::WriteFile(bad, Form("AIFC", {{"COMM", Comm(1, 10, bits, Rate(8000), "DWVW")},
                                                  {"SSND", Ssnd(Bytes(20, 0x55))}}));
        EXPECT_EQ(r.Open(bad, 0), 0) << bits;
    }
}

// ---------------------------------------------------------------------------
// Hand-built files: structure and the compression table.

TEST(AiffReaderStructure, ChunksInAnyOrderWithOddPaddingAndTags) {
    TempDir dir;
    const std::vector<int16_t> pcm = {100, -100, 200, -200, 300, -300, 32767, -32768};
    const Bytes id3 = Id3v23({{"TIT2", "Song"},
                              {"TPE1", "Singer"},
                              {"TALB", "Record"},
                              {"TYER", "1999"},
                              {"TCON", "(17)"},
                              {"TRCK", "7/12"},
                              {"TCOM", "Writer"},
                              {"TCOP", "Label"},
                              {"COMM", "Remark"}});
    const std::string path = dir.file("order.aif");
    testsupport::WriteFile(path,
                           Form("AIFF", {{"SSND", Ssnd(Be16Samples(pcm), 3)},  // odd size, padded
                                         {"APPL", Bytes(5, 0x41)},             // odd size, padded
                                         {"COMM", Comm(2, 4, 16, Rate(22050))},
                                         {"ID3 ", id3}}));
    CAiffReader r;
    Decoded d = OpenAndRead(path, r);
    EXPECT_EQ(r.GetSampleRate(), 22050);
    EXPECT_EQ(d.samples, pcm);

    TagInfo t;
    ASSERT_EQ(r.ReadTags(t), 1);
    EXPECT_EQ(t.title, "Song");
    EXPECT_EQ(t.artist, "Singer");
    EXPECT_EQ(t.album, "Record");
    EXPECT_EQ(t.year, "1999");
    EXPECT_EQ(t.genre, "Rock");
    EXPECT_EQ(t.track, "7/12");
    EXPECT_EQ(t.composer, "Writer");
    EXPECT_EQ(t.copyright, "Label");
    EXPECT_EQ(t.comment, "Remark");

    // Close forgets the tags.
    r.Close();
    TagInfo after;
    after.title = "kept";
    EXPECT_EQ(r.ReadTags(after), 0);
    EXPECT_EQ(after.title, "kept");
}

TEST(AiffReaderStructure, TagsWrittenByFfmpegAreUtf8) {
    TempDir dir;
    const std::string path = dir.file("tagged.aif");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -f lavfi -i 'sine=d=0.2:r=8000' "
                               "-metadata title='标题 Ünïcode' -metadata artist='歌手' "
                               "-metadata album=Alb -metadata date=2021 -metadata genre=Jazz "
                               "-metadata comment=Nice -metadata track=3 -metadata composer=Comp "
                               "-metadata copyright='(c) Me' -write_id3v2 1 -f aiff " +
                               Quote(path)),
              0);
    CAiffReader r;
    ASSERT_EQ(r.Open(path, 0), 1);
    TagInfo t;
    ASSERT_EQ(r.ReadTags(t), 1);
    EXPECT_EQ(t.title, "标题 Ünïcode");
    EXPECT_EQ(t.artist, "歌手");
    EXPECT_EQ(t.album, "Alb");
    EXPECT_EQ(t.year, "2021");
    EXPECT_EQ(t.genre, "Jazz");
    // ffmpeg stores the comment in a user-defined frame, not in COMM.
    EXPECT_EQ(t.track, "3");
    EXPECT_EQ(t.composer, "Comp");
    EXPECT_EQ(t.copyright, "(c) Me");
    EXPECT_EQ(ReadAll(r).samples.size(), 1600u);

    // A file without an ID3 chunk has no tags.
    const std::string plain = dir.file("plain.aif");
    ASSERT_EQ(testsupport::Run("sox -n -r 8000 -c 1 " + Quote(plain) + " synth 0.1 sine 440"), 0);
    ASSERT_EQ(r.Open(plain, 0), 1);
    EXPECT_EQ(r.ReadTags(t), 0);
}

TEST(AiffReaderStructure, OversizedId3ChunkIsSkippedWhole) {
    TempDir dir;
    Bytes id3 = Id3v23({{"TIT2", "Big"}});
    // 11 MiB of chunk: the tag, then filler that looks like chunk headers.
    Bytes filler(11 * 1024 * 1024 - id3.size());
    // Aligned so that a header "COMM" of size 0 starts 10 MiB into the body.
    for (size_t i = 0; i < filler.size(); ++i)
        filler[i] = static_cast<uint8_t>("COMM\0\0\0\0"[(id3.size() + i) % 8]);
    id3.insert(id3.end(), filler.begin(), filler.end());
    const std::string path = dir.file("big.aif");
    testsupport::WriteFile(path, Form("AIFF", {{"COMM", Comm(1, 2, 16, Rate(8000))},
                                               {"ID3 ", id3},
                                               {"SSND", Ssnd(Be16Samples({5, 6}))}}));
    CAiffReader r;
    Decoded d = OpenAndRead(path, r);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{5, 6}));
    TagInfo t;
    ASSERT_EQ(r.ReadTags(t), 1);
    EXPECT_EQ(t.title, "Big");
}

TEST(AiffReaderStructure, CompressionTypesAndSampleSizes) {
    TempDir dir;
    const std::string path = dir.file("c.aifc");
    struct Case {
        std::string type;
        int bits;
        Bytes data;
        std::vector<int16_t> expected;
    };
    const std::vector<Case> cases = {
        // Lower-case "sowt": little-endian.
        {"sowt", 16, {0x34, 0x12, 0xCC, 0xED}, {0x1234, -0x1234}},
        {"twos", 16, {0x12, 0x34, 0xED, 0xCC}, {0x1234, -0x1234}},
        // 12 bits take two bytes, 20 bits three, 8 bits one. Samples of
        // more than 16 bits as a 16-bit target takes them: rounded to
        // nearest.
        {"NONE", 12, {0x12, 0x30, 0x80, 0x00}, {0x1230, -32768}},
        {"NONE", 20, {0x12, 0x34, 0x50, 0xFF, 0xFF, 0xF0}, {0x1234, 0}},
        {"in24", 24, {0x7F, 0xFF, 0xFF, 0x80, 0x00, 0x01}, {32767, -32768}},
        {"23ni", 24, {0xFF, 0x56, 0x34, 0x01, 0x00, 0x80}, {0x3457, -32768}},
        {"in32", 32, {0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0x00, 0x00}, {0x1234, -1}},
        {"NONE", 8, {0x7F, 0x80}, {0x7F00, -32768}},
        // "raw ": unsigned, 0x80 is silence.
        {"raw ", 8, {0x80, 0xFF, 0x00}, {0, 0x7F00, -32768}},
        {"ulaw", 8, {0xFF, 0x00, 0x80}, {0, -32124, 32124}},
        {"alaw", 8, {0xD5, 0x55, 0xAA}, {8, -8, 32256}},
        // Floats outside -1..1 clamp to full scale; an infinity is silence.
        {"fl32",
         32,
         {0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00},
         {16384, 32767, -32768}},
        {"FL64", 64, {0xBF, 0xE0, 0, 0, 0, 0, 0, 0, 0x7F, 0xF0, 0, 0, 0, 0, 0, 0}, {-16384, 0}},
    };
    for (const Case& c : cases) {
        const uint32_t frames = static_cast<uint32_t>(c.expected.size());
        testsupport::WriteFile(path,
                               Form("AIFC", {{"COMM", Comm(1, frames, c.bits, Rate(8000), c.type)},
                                             {"SSND", Ssnd(c.data)}}));
        CAiffReader r;
        Decoded d = OpenAndRead(path, r);
        EXPECT_EQ(d.samples, c.expected) << c.type << " " << c.bits;
    }

    // Unsupported: unknown type, PCM above 32 bits or of 0 bits, mono IMA4.
    struct Bad {
        std::string type;
        int channels;
        int bits;
    };
    for (const Bad& b : {Bad{"MAC3", 1, 16}, Bad{"NONE", 1, 33}, Bad{"NONE", 1, 0},
                         Bad{"ima4", 1, 16}, Bad{"ima4", 3, 16}}) {
        testsupport::WriteFile(
            path, Form("AIFC", {{"COMM", Comm(b.channels, 1, b.bits, Rate(8000), b.type)},
                                {"SSND", Ssnd(Bytes(68 * 3, 0))}}));
        CAiffReader r;
        EXPECT_EQ(r.Open(path, 0), 0) << b.type << " " << b.bits;
        EXPECT_EQ(ReadInt16(r, nullptr, nullptr), 0);
    }
}

TEST(AiffReaderStructure, SampleRatesAndFrameCounts) {
    TempDir dir;
    const std::string path = dir.file("r.aif");
    auto write = [&](const Ext80& rate, uint32_t frames) {
        testsupport::WriteFile(path, Form("AIFF", {{"COMM", Comm(1, frames, 16, rate)},
                                                   {"SSND", Ssnd(Be16Samples({1, 2, 3, 4}))}}));
    };
    CAiffReader r;
    write(Rate(22050), 4);
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetSampleRate(), 22050);
    write(Rate(44100.75), 4);
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetSampleRate(), 44100);

    // A frame count of 0 counts as one frame: duration 0, or 1 s at 1 Hz.
    write(Rate(8000), 0);
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetDuration(), 0);
    write(Rate(1), 0);
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetDuration(), 1);
    write(Rate(8000), 80000);
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetDuration(), 10);

    // Degenerate rates open without a usable rate (0) or clamp, never crash.
    const Ext80 zero{};
    const Ext80 inf = {0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0};
    const Ext80 nan = {0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 1};
    const Ext80 huge = {0x7F, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Ext80 negative = {0xC0, 0x0D, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    const Ext80 tiny = {0x00, 0x01, 0x80, 0, 0, 0, 0, 0, 0, 0};
    for (const Ext80& e : {zero, inf, nan, negative, tiny}) {
        write(e, 4);
        ASSERT_EQ(r.Open(path, 0), 1);
        EXPECT_EQ(r.GetSampleRate(), 0);
        EXPECT_EQ(r.GetDuration(), 0);
        EXPECT_EQ(r.GetBitrate(), 0);
    }
    // Rates beyond the integer range are no usable rate either.
    for (const Ext80& e : {huge, Rate(3e9), Rate(1e300)}) {
        write(e, 4);
        ASSERT_EQ(r.Open(path, 0), 1);
        EXPECT_EQ(r.GetSampleRate(), 0);
    }
    write(Rate(2147483647.0), 4);
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetSampleRate(), std::numeric_limits<int32_t>::max());
}

TEST(AiffReaderStructure, SsndOffsetAndTruncation) {
    TempDir dir;
    const std::string path = dir.file("s.aif");
    const std::vector<int16_t> pcm = {11, 22, 33, 44, 55, 66};
    CAiffReader r;

    // The data offset skips bytes before the samples.
    testsupport::WriteFile(path, Form("AIFF", {{"COMM", Comm(2, 3, 16, Rate(8000))},
                                               {"SSND", Ssnd(Be16Samples(pcm), 6, 4096)}}));
    EXPECT_EQ(OpenAndRead(path, r).samples, pcm);

    // An offset beyond the chunk leaves no SSND; a chunk below 8 bytes too.
    Bytes bad;
    PutBe32(bad, 1000);
    PutBe32(bad, 0);
    bad.insert(bad.end(), 12, 0);
    testsupport::WriteFile(path,
                           Form("AIFF", {{"COMM", Comm(1, 3, 16, Rate(8000))}, {"SSND", bad}}));
    EXPECT_EQ(r.Open(path, 0), 0);
    testsupport::WriteFile(
        path, Form("AIFF", {{"COMM", Comm(1, 3, 16, Rate(8000))}, {"SSND", Bytes(4, 0)}}));
    EXPECT_EQ(r.Open(path, 0), 0);

    // A file cut inside the sound data gives what is there, then ends; the
    // partial last frame is dropped.
    const auto source = testsupport::Sine(3000, 2, 8000, 440.0);
    Bytes full = Form(
        "AIFF", {{"COMM", Comm(2, 3000, 16, Rate(8000))}, {"SSND", Ssnd(Be16Samples(source))}});
    const size_t header = full.size() - source.size() * 2;
    full.resize(header + 2000 * 4 + 3);
    testsupport::WriteFile(path, full);
    Decoded d = OpenAndRead(path, r);
    EXPECT_EQ(d.samples, std::vector<int16_t>(source.begin(), source.begin() + 4000));
    EXPECT_EQ(ReadInt16(r, d.samples.data(), d.samples.data()), 0);
}

TEST(AiffReaderStructure, OversizedCommAndHugeChannelCounts) {
    TempDir dir;
    const std::string path = dir.file("h.aifc");
    CAiffReader r;

    // A COMM body far larger than the work buffer: only its fields are read.
    Bytes comm = Comm(1, 2, 16, Rate(8000), "NONE");
    comm.resize(9 * 1024 * 1024, 0);
    testsupport::WriteFile(path,
                           Form("AIFC", {{"COMM", comm}, {"SSND", Ssnd(Be16Samples({7, 8}))}}));
    EXPECT_EQ(OpenAndRead(path, r).samples, (std::vector<int16_t>{7, 8}));

    // A COMM that claims more bytes than the file has: the scan ends, no SSND.
    Bytes claim = Form("AIFC", {{"COMM", Comm(1, 2, 16, Rate(8000), "NONE")}});
    claim[16] = 0x7F;
    claim[17] = 0xFF;
    testsupport::WriteFile(path, claim);
    EXPECT_EQ(r.Open(path, 0), 0);

    // 65535 channels of 64-bit floats: 524280 bytes per frame, read a few
    // frames at a time without overrunning the buffer.
    const int channels = 65535;
    const int frames = 40;
    Bytes data(size_t(channels) * 8 * frames, 0);
    for (int f = 0; f < frames; ++f) {
        // Channel 0 = f / 64, channel 1 = -f / 64 (as big-endian doubles).
        for (int c = 0; c < 2; ++c) {
            const double v = (c ? -f : f) / 64.0;
            uint64_t u;
            std::memcpy(&u, &v, 8);
            for (int i = 0; i < 8; ++i)
                data[(size_t(f) * channels + c) * 8 + i] = static_cast<uint8_t>(u >> (56 - 8 * i));
        }
    }
    testsupport::WriteFile(path,
                           Form("AIFC", {{"COMM", Comm(channels, frames, 64, Rate(8000), "fl64")},
                                         {"SSND", Ssnd(data)}}));
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetChannels(), channels);
    EXPECT_EQ(r.GetOutputChannels(), 2);
    const Planes p = ReadPlanes(r);
    EXPECT_GT(p.blocks, 1);
    ASSERT_GE(p.planes.size(), 2u);
    ASSERT_EQ(p.planes[0].size(), size_t(frames));
    for (int f = 0; f < frames; ++f) {
        EXPECT_EQ(p.planes[0][static_cast<size_t>(f)], static_cast<float>(f / 64.0));
        EXPECT_EQ(p.planes[1][static_cast<size_t>(f)], static_cast<float>(-f / 64.0));
    }
}

TEST(AiffReaderStructure, BrokenFilesFailCleanly) {
    TempDir dir;
    const std::string path = dir.file("b.aif");
    CAiffReader r;
    int16_t buf[kBlockFrames];

    EXPECT_EQ(r.Open(dir.file("missing.aif"), 0), 0);

    testsupport::WriteFile(path, Bytes{});
    EXPECT_EQ(r.Open(path, 0), 0);

    Bytes garbage(4096);
    std::srand(7);
    for (auto& b : garbage) b = static_cast<uint8_t>(std::rand());
    testsupport::WriteFile(path, garbage);
    EXPECT_EQ(r.Open(path, 0), 0);

    // Not AIFF, or no SSND, or no COMM, or a plain AIFF COMM of the wrong size.
    testsupport::WriteFile(path, Form("WAVE", {{"COMM", Comm(1, 1, 16, Rate(8000))}}));
    EXPECT_EQ(r.Open(path, 0), 0);
    testsupport::WriteFile(path, Form("AIFF", {{"COMM", Comm(1, 1, 16, Rate(8000))}}));
    EXPECT_EQ(r.Open(path, 0), 0);
    testsupport::WriteFile(path, Form("AIFF", {{"SSND", Ssnd(Bytes(4, 0))}}));
    EXPECT_EQ(r.Open(path, 0), 0);
    testsupport::WriteFile(path, Form("AIFF", {{"COMM", Comm(1, 1, 16, Rate(8000), "NONE")},
                                               {"SSND", Ssnd(Bytes(4, 0))}}));
    EXPECT_EQ(r.Open(path, 0), 0);
    EXPECT_EQ(ReadInt16(r, buf, buf), 0);

    // Every truncation of a valid file either fails or reads cleanly.
    const Bytes good = Form("AIFC", {{"COMM", Comm(2, 64, 16, Rate(8000), "ima4")},
                                     {"ID3 ", Id3v23({{"TIT2", "x"}})},
                                     {"SSND", Ssnd(Bytes(68 * 2, 0x77))}});
    for (size_t n = 0; n < good.size(); ++n) {
        testsupport::WriteFile(path, Bytes(good.begin(), good.begin() + n));
        if (r.Open(path, 0)) ReadAll(r);
    }
    r.Close();
    r.Close();
    EXPECT_EQ(ReadInt16(r, buf, buf), 0);
    EXPECT_EQ(r.GetSampleRate(), 0);
}

TEST(AiffReaderStructure, CorruptedFilesNeverOverrunOrLoop) {
    // Random byte damage to files of every decoding path: each either fails
    // to open or yields a bounded number of frames (at most 8 per file byte,
    // the densest coding, 1-bit DWVW words) in blocks of at most 1152.
    TempDir dir;
    const std::string path = dir.file("x.aifc");
    const Bytes tag = Id3v23({{"TIT2", "t"}, {"COMM", "c"}});
    const auto pcm = Be16Samples(testsupport::Sine(500, 2, 8000, 300.0));
    std::vector<Bytes> bases = {
        Form("AIFC",
             {{"COMM", Comm(2, 500, 16, Rate(8000), "NONE")}, {"ID3 ", tag}, {"SSND", Ssnd(pcm)}}),
        Form("AIFC",
             {{"COMM", Comm(2, 64, 16, Rate(8000), "ima4")}, {"SSND", Ssnd(Bytes(68 * 8, 0x5C))}}),
        Form("AIFC",
             {{"COMM", Comm(1, 320, 16, Rate(8000), "GSM ")}, {"SSND", Ssnd(Bytes(33 * 4, 0xD3))}}),
        Form("AIFC", {{"COMM", Comm(3, 200, 12, Rate(8000), "DWVW")}, {"SSND", Ssnd(pcm)}}),
        Form("AIFC", {{"COMM", Comm(3, 100, 64, Rate(8000), "fl64")}, {"SSND", Ssnd(pcm)}}),
    };
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    CAiffReader r;
    for (const Bytes& base : bases) {
        for (int round = 0; round < 150; ++round) {
            Bytes file = base;
            const int damage = 1 + static_cast<int>(next() % 6);
            for (int i = 0; i < damage; ++i)
                file[next() % file.size()] = static_cast<uint8_t>(next());
            testsupport::WriteFile(path, file);
            if (!r.Open(path, 0)) continue;
            const Decoded d = ReadAll(r);
            const size_t frames = d.samples.size() / r.GetOutputChannels();
            EXPECT_LE(frames, file.size() * 8);
        }
    }
}

TEST(AiffReaderStructure, BitRateDividesTheFileSizeByWholeSeconds) {
    TempDir dir;
    const std::string path = dir.file("b.aif");
    CAiffReader r;
    // A COMM frame count of 0 (read as one frame) lasts less than a second:
    // the sample format gives the bit rate, 16 bits x 2 channels x 8000 Hz.
    testsupport::WriteFile(path, Form("AIFF", {{"COMM", Comm(2, 0, 16, Rate(8000))},
                                               {"SSND", Ssnd(Be16Samples({1, 2, 3, 4}))}}));
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetBitrate(), 256);
    // 1.5 s: the file size divided by the whole second it lasts.
    testsupport::WriteFile(
        path, Form("AIFF", {{"COMM", Comm(1, 12000, 16, Rate(8000))},
                            {"SSND", Ssnd(Be16Samples(std::vector<int16_t>(12000)))}}));
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetBitrate(), static_cast<int>(std::filesystem::file_size(path) / 125));
}
