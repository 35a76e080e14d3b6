#include "decoders/WmaReader.h"

#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

using namespace quelvox;
using namespace testsupport;

namespace {

// Makes a file with ffmpeg; `args` go between the inputs and the output.
void Make(const std::string& path, const std::string& inputs, const std::string& args) {
    Shell("ffmpeg -v error -nostdin -y " + inputs + " " + args + " " + Quote(path));
}

int SumOfStreamBitrates(const std::string& path) {
    std::string out;
    testsupport::Run("ffprobe -v error -show_entries stream=bit_rate -of default=nw=1:nk=1 " +
                         Quote(path) + " 2>/dev/null",
                     &out);
    long long sum = 0;
    for (size_t at = 0; at < out.size();) {
        sum += std::atoll(out.c_str() + at);
        size_t nl = out.find('\n', at);
        if (nl == std::string::npos) break;
        at = nl + 1;
    }
    return static_cast<int>(sum);
}

// Offset of the ASF File Properties Object in `bytes`, or npos.
size_t FindFileProperties(const std::vector<uint8_t>& bytes) {
    static const uint8_t guid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    for (size_t i = 0; i + 104 <= bytes.size(); ++i)
        if (std::memcmp(bytes.data() + i, guid, 16) == 0) return i;
    return std::string::npos;
}

}  // namespace

TEST(WmaReader, ReadsWma2WithTagsDurationAndBitrate) {
    TempDir dir;
    const std::string path = dir.file("a.wma");
    Make(path, "-f lavfi -i sine=f=440:d=3",
         "-ac 2 -c:a wmav2 -b:a 128k -metadata title=Song -metadata artist=Singer "
         "-metadata album=Record -metadata genre=Pop -metadata track=07 "
         "-metadata WM/Year=2004 -metadata composer=Writer -metadata copyright=Label "
         "-metadata comment=Remark");

    CWmaReader r;
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.HasAudio(), 1);
    EXPECT_EQ(r.GetSampleRate(), 44100);
    EXPECT_EQ(r.GetChannels(), 2);
    EXPECT_EQ(r.GetOutputChannels(), 2);
    EXPECT_EQ(r.GetBitsPerSample(), 16);
    EXPECT_EQ(r.GetDuration(), 3);
    EXPECT_NEAR(static_cast<double>(r.GetTotal()), 3.0e7, 0.1e7);
    EXPECT_EQ(r.GetBitrate(), SumOfStreamBitrates(path) / 1000);
    EXPECT_EQ(r.GetBitrate(), 128);

    TagInfo t;
    EXPECT_EQ(r.ReadTags(t), 1);
    EXPECT_EQ(t.title, "Song");
    EXPECT_EQ(t.artist, "Singer");
    EXPECT_EQ(t.album, "Record");
    EXPECT_EQ(t.genre, "Pop");
    EXPECT_EQ(t.track, "7");
    EXPECT_EQ(t.year, "2004");
    EXPECT_EQ(t.composer, "Writer");
    EXPECT_EQ(t.copyright, "Label");
    EXPECT_EQ(t.comment, "Remark");

    // The samples are those ffmpeg decodes; every block is full but the last.
    const Decoded d = ReadAll(r);
    const auto ref = DecodeWithFfmpeg(path);
    ASSERT_EQ(d.left.size() * 2, ref.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < d.left.size(); ++i)
        if (std::abs(d.left[i] - ref[2 * i]) > 1 || std::abs(d.right[i] - ref[2 * i + 1]) > 1)
            ++mismatches;
    EXPECT_EQ(mismatches, 0u);
    for (size_t i = 0; i + 1 < d.blocks.size(); ++i) ASSERT_EQ(d.blocks[i], kBlockFrames);
    EXPECT_NEAR(static_cast<double>(d.lastPosition), 3.0e7, 0.1e7);
    EXPECT_EQ(ReadInt16(r, nullptr, nullptr), 0);

    r.Close();
    r.Close();
    EXPECT_EQ(r.GetSampleRate(), 0);
    EXPECT_EQ(r.HasAudio(), 0);
    EXPECT_EQ(r.ReadTags(t), 1);
    EXPECT_EQ(t.title, "");
    EXPECT_EQ(t.track, "0");
}

TEST(WmaReader, ReadsWma1MonoWithoutTags) {
    TempDir dir;
    const std::string path = dir.file("b.asf");
    Make(path, "-f lavfi -i sine=f=1000:d=2:r=22050", "-ac 1 -c:a wmav1 -b:a 32k");
    CWmaReader r;
    ASSERT_EQ(r.Open(path, 44100), 1);
    EXPECT_EQ(r.GetSampleRate(), 22050);
    EXPECT_EQ(r.GetChannels(), 1);
    EXPECT_EQ(r.GetOutputChannels(), 1);
    EXPECT_EQ(r.GetDuration(), 2);
    EXPECT_EQ(r.GetBitrate(), 32);
    TagInfo t;
    r.ReadTags(t);
    EXPECT_EQ(t.title, "");
    EXPECT_EQ(t.track, "0");
    // Mono: the right buffer may be null and stays untouched.
    const Decoded d = ReadAll(r);
    EXPECT_TRUE(d.right.empty());
    EXPECT_EQ(d.left.size(), DecodeWithFfmpeg(path).size());
}

TEST(WmaReader, WmvWithVideoDeliversOnlyTheAudio) {
    TempDir dir;
    const std::string path = dir.file("c.wmv");
    Make(path, "-f lavfi -i testsrc=d=2:s=160x120:r=25 -f lavfi -i sine=f=440:d=2:r=32000",
         "-c:v wmv2 -c:a wmav2 -b:a 64k -ac 2 -metadata title=Clip");
    CWmaReader r;
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetSampleRate(), 32000);
    EXPECT_EQ(r.GetOutputChannels(), 2);
    EXPECT_EQ(r.GetDuration(), 2);
    // The video stream's rate is not stated in the header: the file's
    // overall rate stands for both.
    EXPECT_EQ(r.GetBitrate(), std::atoi(Probe(path, "bit_rate", true).c_str()) / 1000);
    EXPECT_GT(r.GetBitrate(), 64);
    TagInfo t;
    r.ReadTags(t);
    EXPECT_EQ(t.title, "Clip");
    const Decoded d = ReadAll(r);
    EXPECT_EQ(d.left.size() * 2, DecodeWithFfmpeg(path).size());
    EXPECT_NEAR(d.left.size() / 32000.0, 2.0, 0.1);
}

TEST(WmaReader, FileWithoutDurationReportsZero) {
    TempDir dir;
    const std::string path = dir.file("d.wma");
    Make(path, "-f lavfi -i sine=d=2", "-c:a wmav2");
    // A broadcast file: its header states no play duration.
    auto bytes = ReadFile(path);
    const size_t fp = FindFileProperties(bytes);
    ASSERT_NE(fp, std::string::npos);
    for (int i = 0; i < 16; ++i) bytes[fp + 64 + i] = 0;  // play and send duration
    bytes[fp + 88] |= 0x01;                               // broadcast flag
    WriteFile(path, bytes);

    CWmaReader r;
    ASSERT_EQ(r.Open(path, 0), 1);
    EXPECT_EQ(r.GetDuration(), 0);
    EXPECT_EQ(r.GetTotal(), 0u);
    EXPECT_GT(ReadAll(r).left.size(), 44100u);
}

TEST(WmaReader, TrackNumberText) {
    TempDir dir;
    const std::string a = dir.file("a.wma"), b = dir.file("b.wma");
    Make(a, "-f lavfi -i sine=d=1", "-c:a wmav2 -metadata WM/TrackNumber=' 12abc'");
    Make(b, "-f lavfi -i sine=d=1", "-c:a wmav2 -metadata WM/TrackNumber=123456789012345678901234");
    CWmaReader r;
    TagInfo t;
    ASSERT_EQ(r.Open(a, 0), 1);
    r.ReadTags(t);
    EXPECT_EQ(t.track, "12");
    // Only the first 20 bytes count, and the value saturates.
    ASSERT_EQ(r.Open(b, 0), 1);
    r.ReadTags(t);
    EXPECT_EQ(t.track, "2147483647");
}

TEST(WmaReader, BufferGrowth) {
    EXPECT_EQ(CWmaReader::GrownBufferBytes(200000), 225004u);
    CWmaReader r;
    EXPECT_EQ(r.GetBufferBytes(), CWmaReader::kInitialBufferBytes);
}

TEST(WmaReader, NotAsfOrMissing) {
    TempDir dir;
    CWmaReader r;
    EXPECT_EQ(r.Open(dir.file("missing.wma"), 0), 0);
    EXPECT_EQ(r.HasAudio(), 0);
    const std::string wav = dir.file("a.wma");
    Make(wav, "-f lavfi -i sine=d=1", "-f wav");
    EXPECT_EQ(r.Open(wav, 0), 0);
    EXPECT_EQ(r.GetSampleRate(), 0);
    int16_t l[kBlockFrames], rr[kBlockFrames];
    EXPECT_EQ(ReadInt16(r, l, rr), 0);
    // A video-only ASF file has no audio stream.
    const std::string video = dir.file("v.wmv");
    Make(video, "-f lavfi -i testsrc=d=1:s=64x48", "-c:v wmv2");
    EXPECT_EQ(r.Open(video, 0), 0);
    EXPECT_EQ(r.HasAudio(), 0);
}

// Truncated and damaged files either fail to open or end cleanly.
TEST(WmaReader, DamagedFilesFailOrEndCleanly) {
    TempDir dir;
    const std::string good = dir.file("good.wmv");
    Make(good, "-f lavfi -i testsrc=d=2:s=64x48 -f lavfi -i sine=d=2",
         "-c:v wmv2 -c:a wmav2 -ac 2 -metadata title=T");
    const auto bytes = ReadFile(good);
    const std::string path = dir.file("bad.wma");
    std::mt19937 rng(7);
    int16_t l[kBlockFrames], rr[kBlockFrames];
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> b = bytes;
        if (round < 20) {
            b.resize(bytes.size() * round / 20);  // truncated
        } else {
            const size_t limit = round < 40 ? std::min<size_t>(b.size(), 1200) : b.size();
            for (int k = 0; k < 12; ++k) b[rng() % limit] = static_cast<uint8_t>(rng());
        }
        WriteFile(path, b);
        CWmaReader r;
        if (r.Open(path, 0)) {
            EXPECT_GE(r.GetSampleRate(), 1);
            int blocks = 0;
            while (blocks < 10000 && ReadInt16(r, l, r.GetOutputChannels() == 2 ? rr : nullptr) > 0)
                ++blocks;
            EXPECT_LT(blocks, 10000);
        }
        r.Close();
    }
    EXPECT_EQ(ReadFile(good), bytes);
}

TEST(WmaReader, BlocksKeepDepthChannelsAndSixteenBitSamples) {
    TempDir dir;
    // Six channels of 24-bit PCM in ASF, the low byte in use.
    const std::vector<int32_t> samples = FineSamples(6 * 6000, 24);
    WriteFile(dir.file("six.raw"), PackSamples(samples, 3, false));
    const std::string six = dir.file("six.wma");
    Make(six, "-f s24le -ar 48000 -ch_layout \"5.1(side)\" -i " + Quote(dir.file("six.raw")),
         "-c:a pcm_s24le -f asf");
    CWmaReader r;
    ASSERT_EQ(r.Open(six, 0), 1);
    const DecodedWide w = ReadAllWide(r);
    EXPECT_EQ(w.bits, 24);
    EXPECT_EQ(w.layout, channel::kFrontLeft | channel::kFrontRight | channel::kFrontCenter |
                            channel::kLowFrequency | channel::kSideLeft | channel::kSideRight);
    ASSERT_EQ(w.planes.size(), 6u);
    EXPECT_TRUE(InterleavedInts(w, 24) == samples);

    // WMA 2 stereo: 16-bit blocks.
    const std::string path = dir.file("s.wma");
    Make(path, "-f lavfi -i sine=f=440:d=2", "-ac 2 -c:a wmav2 -b:a 128k");
    CWmaReader a, b;
    ASSERT_EQ(a.Open(path, 0), 1);
    ASSERT_EQ(b.Open(path, 0), 1);
    ExpectSixteenBitStereoBlocks(a, b);
}
