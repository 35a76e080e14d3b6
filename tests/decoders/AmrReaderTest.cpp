#include "decoders/AmrReader.h"

#include "encoders/AmrWriter.h"
#include "platform/amr/AmrCodec.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

// Voiced test signal with a gliding pitch.
std::vector<int16_t> Voice(int samples, int rate) {
    return testsupport::Voice(samples, rate, 130, 50, 1.1, 15, 5000);
}

void WriteAmr(const std::string& path, bool wide, int mode, int samples) {
    CAmrWriter w;
    AmrCodecParams p{wide ? 0 : 1, 0, mode, mode};
    w.SetCodecParams(p);
    w.SetFileName(path);
    ASSERT_TRUE(w.Open());
    auto v = Voice(samples, wide ? 16000 : 8000);
    ASSERT_TRUE(WriteInt16(w, v.data(), nullptr, samples));
    w.Close();
}

// Everything the reader delivers, and the size of each block.
struct ReadResult {
    std::vector<int16_t> samples;
    std::vector<int> blocks;
};

ReadResult ReadAll(CAmrReader& r) {
    ReadResult res;
    int16_t block[kBlockFrames];
    for (int guard = 0; guard < 100000; ++guard) {
        int n = ReadInt16(r, block, nullptr);
        if (n <= 0) break;
        EXPECT_LE(n, kBlockFrames);
        res.blocks.push_back(n);
        res.samples.insert(res.samples.end(), block, block + n);
    }
    return res;
}

// The same file decoded frame by frame through the codec layer.
std::vector<int16_t> DecodeFrames(const std::string& path, bool wide) {
    std::vector<int16_t> out;
    amr::AmrDecoder* d = wide ? amr::amrwbdec_init(path.c_str()) : amr::amrnbdec_init(path.c_str());
    if (!d) return out;
    const int16_t* s = nullptr;
    int n;
    while ((n = wide ? amr::amrwbdec_decode(d, &s, nullptr)
                     : amr::amrnbdec_decode(d, &s, nullptr)) > 0)
        out.insert(out.end(), s, s + n);
    if (wide)
        amr::amrwbdec_quit(d);
    else
        amr::amrnbdec_quit(d);
    return out;
}

}  // namespace

// Narrow-band: seven frames of 160 fill 1120 samples of a block, the eighth
// adds 32 and carries 128 over into the next block.
TEST(AmrReader, NarrowBandBlocksCarryPartialFramesOver) {
    TempDir dir;
    std::string path = dir.file("nb.amr");
    WriteAmr(path, false, 7, 20 * 160);  // 20 frames of 32 bytes
    CAmrReader r;
    ASSERT_TRUE(r.Open(path, 44100));
    EXPECT_EQ(r.GetSampleRate(), 8000);
    EXPECT_EQ(r.GetChannels(), 1);
    EXPECT_EQ(r.GetOutputChannels(), 1);
    EXPECT_EQ(r.GetBitsPerSample(), 16);
    EXPECT_EQ(r.GetDuration(), 0);
    EXPECT_EQ(r.GetBitrate(), 0);
    EXPECT_EQ(r.GetTotal(), 6u + 20u * 32u);
    EXPECT_EQ(r.GetPosition(), 6u);
    TagInfo tags;
    EXPECT_EQ(r.ReadTags(tags), 0);

    int16_t block[kBlockFrames];
    ASSERT_EQ(ReadInt16(r, block, nullptr), kBlockFrames);
    EXPECT_EQ(r.GetPosition(), 6u + 8u * 32u);  // eight frames consumed
    r.Close();

    ASSERT_TRUE(r.Open(path, 0));
    auto all = ReadAll(r);
    EXPECT_EQ(all.blocks, (std::vector<int>{1152, 1152, 896}));
    EXPECT_EQ(all.samples, DecodeFrames(path, false));
    EXPECT_EQ(r.GetPosition(), r.GetTotal());
    EXPECT_EQ(ReadInt16(r, block, nullptr), 0);  // stays at the end
}

TEST(AmrReader, WideBandFileIsReadAt16000Hz) {
    TempDir dir;
    std::string path = dir.file("wb.awb");
    WriteAmr(path, true, 8, 11 * 320);  // 11 frames of 61 bytes
    CAmrReader r;
    ASSERT_TRUE(r.Open(path, 0));
    EXPECT_EQ(r.GetSampleRate(), 16000);
    EXPECT_EQ(r.GetOutputChannels(), 1);
    EXPECT_EQ(r.GetPosition(), 9u);
    EXPECT_EQ(r.GetTotal(), 9u + 11u * 61u);
    auto all = ReadAll(r);
    // 1152 = 3 * 320 + 192: every block ends inside a frame.
    EXPECT_EQ(all.blocks, (std::vector<int>{1152, 1152, 1152, 64}));
    EXPECT_EQ(all.samples, DecodeFrames(path, true));
}

TEST(AmrReader, OpenRejectsShortAndForeignFiles) {
    TempDir dir;
    CAmrReader r;
    WriteFile(dir.file("eight.amr"), std::string("#!AMR\n\x7C\x7C"));
    EXPECT_EQ(r.Open(dir.file("eight.amr"), 0), 0);
    EXPECT_EQ(r.GetSampleRate(), 0);
    EXPECT_EQ(r.HasAudio(), 1);

    WriteFile(dir.file("wave.amr"), std::string("RIFF\x24\0\0\0WAVEfmt ", 16));
    EXPECT_EQ(r.Open(dir.file("wave.amr"), 0), 0);
    WriteFile(dir.file("case.amr"), std::string("#!amr\n\x7C\x7C\x7C\x7C"));
    EXPECT_EQ(r.Open(dir.file("case.amr"), 0), 0);
    EXPECT_EQ(r.Open(dir.file("missing.amr"), 0), 0);
    EXPECT_EQ(r.Open(dir.path().string(), 0), 0);  // a folder

    int16_t block[kBlockFrames];
    EXPECT_EQ(ReadInt16(r, block, nullptr), 0);
    r.Close();
    r.Close();

    // Nine bytes: magic and three empty frames, each a frame of comfort noise.
    WriteFile(dir.file("nine.amr"), std::string("#!AMR\n\x7C\x7C\x7C"));
    ASSERT_TRUE(r.Open(dir.file("nine.amr"), 0));
    EXPECT_EQ(ReadInt16(r, block, nullptr), 480);
    EXPECT_EQ(r.GetPosition(), 9u);
}

// Damage ends the stream cleanly after the last good frame: a cut last
// frame, a frame type no storage file may hold, or random bytes.
TEST(AmrReader, DamagedFilesEndCleanly) {
    TempDir dir;
    std::string good = dir.file("good.amr"), bad = dir.file("bad.amr");
    WriteAmr(good, false, 6, 30 * 160);  // 30 frames of 27 bytes
    auto bytes = ReadFile(good);
    CAmrReader r;

    WriteFile(bad, std::vector<uint8_t>(bytes.begin(), bytes.end() - 3));
    ASSERT_TRUE(r.Open(bad, 0));
    EXPECT_EQ(ReadAll(r).samples.size(), 29u * 160u);
    EXPECT_EQ(r.GetPosition(), 6u + 29u * 27u);

    auto broken = bytes;
    broken[6 + 10 * 27] = 0x6C;  // frame type 13
    WriteFile(bad, broken);
    ASSERT_TRUE(r.Open(bad, 0));
    auto part = ReadAll(r).samples;
    ASSERT_EQ(part.size(), 10u * 160u);
    auto whole = DecodeFrames(good, false);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin()));

    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> junk(bytes.begin(), bytes.begin() + 6);
        for (int i = 0; i < 3000; ++i) junk.push_back(static_cast<uint8_t>(rng()));
        WriteFile(bad, junk);
        ASSERT_TRUE(r.Open(bad, 0));
        auto got = ReadAll(r);
        EXPECT_EQ(got.samples.size() % 160, 0u);
        EXPECT_LE(r.GetPosition(), r.GetTotal());
    }
}

// A file that sox wrote with its AMR-NB encoder decodes like ffmpeg decodes
// it. ffmpeg here has only its own floating-point AMR decoder, the reader
// the fixed-point reference one: the two agree to 30-40 dB, not bit for bit;
// 15 dB still fails a decoding shifted by one sample.
TEST(AmrReader, ReadsAmrNbFilesWrittenBySox) {
    std::string formats;
    testsupport::Run("sox -h 2>/dev/null", &formats);
    if (formats.find("amr-nb") == std::string::npos)
        GTEST_SKIP() << "this sox has no AMR-NB support";
    TempDir dir;
    auto v = Voice(8000 * 2 + 50, 8000);
    std::vector<uint8_t> raw;
    for (int16_t s : v) PutLe16(raw, static_cast<uint16_t>(s));
    WriteFile(dir.file("in.raw"), raw);
    for (int mode : {0, 4, 7}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        std::string out = dir.file("sox.amr");
        if (testsupport::Run("sox -t raw -r 8000 -e signed -b 16 -c 1 " +
                             Quote(dir.file("in.raw")) + " -t amr-nb -C " + std::to_string(mode) +
                             " " + Quote(out) + " 2>/dev/null") != 0)
            GTEST_SKIP() << "this sox cannot write AMR-NB";
        auto bytes = ReadFile(out);
        ASSERT_GT(bytes.size(), 7u);
        EXPECT_EQ((bytes[6] >> 3) & 0x0F, mode);

        CAmrReader r;
        ASSERT_TRUE(r.Open(out, 0));
        EXPECT_EQ(r.GetSampleRate(), 8000);
        auto ours = ReadAll(r).samples;
        auto ff = DecodeWithFfmpeg(out);
        EXPECT_EQ(ours.size(), ff.size());
        EXPECT_LE(std::abs(static_cast<long>(ours.size()) - static_cast<long>(v.size())), 160);
        EXPECT_GT(SnrDb(ours, ff), 15.0);
        EXPECT_EQ(r.GetPosition(), bytes.size());
    }
}

// A file written by ffmpeg's AMR muxer: ours, put into 3GP and taken back
// out with stream copy, reads exactly as the original does.
TEST(AmrReader, ReadsFilesWrittenByFfmpegsAmrMuxer) {
    TempDir dir;
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "WB" : "NB");
        std::string ours = dir.file(wide ? "o.awb" : "o.amr");
        std::string gp = dir.file("o.3gp"), back = dir.file(wide ? "b.awb" : "b.amr");
        WriteAmr(ours, wide, 3, wide ? 16000 : 8000);
        ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -i " + Quote(ours) + " -c copy " +
                                   Quote(gp)),
                  0);
        ASSERT_EQ(Probe(gp, "format_name", true).find("3gp") != std::string::npos, true);
        ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -i " + Quote(gp) +
                                   " -c copy -f amr " + Quote(back)),
                  0);
        CAmrReader a, b;
        ASSERT_TRUE(a.Open(ours, 0));
        ASSERT_TRUE(b.Open(back, 0));
        EXPECT_EQ(b.GetSampleRate(), wide ? 16000 : 8000);
        auto sa = ReadAll(a).samples, sb = ReadAll(b).samples;
        EXPECT_EQ(sb.size(), wide ? 16000u : 8000u);
        EXPECT_EQ(sa, sb);
    }
}
