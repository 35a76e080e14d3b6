#include "decoders/OggVorbisReader.h"

#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

using namespace quelvox;
using namespace testsupport;

namespace {

// A WAV made by sox: `seconds` of a sine per channel (440 Hz left, 660 Hz
// right), 16-bit.
std::string SoxWav(const TempDir& dir, const std::string& name, int rate, int channels,
                   double seconds) {
    std::string path = dir.file(name);
    std::string tones = channels == 1 ? "sine 440" : "sine 440 sine 660";
    Shell("sox -n -r " + std::to_string(rate) + " -b 16 -e signed -c " + std::to_string(channels) +
          " " + Quote(path) + " synth " + std::to_string(seconds) + " " + tones + " vol 0.5");
    return path;
}

std::string OggEnc(const std::string& wav, const std::string& out,
                   const std::string& args = "-q 4") {
    Shell("oggenc -Q " + args + " -o " + Quote(out) + " " + Quote(wav));
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Channel layouts

TEST(OggVorbisReaderChannels, MonoDecodesIntoTheLeftBufferOnly) {
    TempDir dir;
    std::string ogg = OggEnc(SoxWav(dir, "m.wav", 22050, 1, 2), dir.file("m.ogg"));
    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(ogg, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 22050);
    EXPECT_EQ(reader.GetChannels(), 1);
    EXPECT_EQ(reader.GetOutputChannels(), 1);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetDuration(), 2);
    EXPECT_GT(reader.GetBitrate(), 16);
    EXPECT_LT(reader.GetBitrate(), 200);
    EXPECT_EQ(reader.GetTotal(), std::filesystem::file_size(ogg));

    std::vector<int16_t> all;
    int16_t l[kBlockFrames];
    std::vector<int16_t> r(kBlockFrames, 777);
    uint64_t lastPosition = 0;
    int n;
    while ((n = ReadInt16(reader, l, r.data())) > 0) {
        ASSERT_LE(n, kBlockFrames);
        all.insert(all.end(), l, l + n);
        EXPECT_GE(reader.GetPosition(), lastPosition);
        lastPosition = reader.GetPosition();
    }
    EXPECT_EQ(r, std::vector<int16_t>(kBlockFrames, 777));
    EXPECT_EQ(lastPosition, reader.GetTotal());
    // Exactly the samples sox wrote.
    ASSERT_EQ(all.size(), 44100u);
    EXPECT_NEAR(ToneLevel(all, 11025, 22050, 440), 16384, 500);
}

TEST(OggVorbisReaderChannels, StereoDeliversAtMost1024FramesPerBlock) {
    TempDir dir;
    std::string ogg = OggEnc(SoxWav(dir, "s.wav", 44100, 2, 2), dir.file("s.ogg"), "-b 128");
    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(ogg, 0), 1);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(reader.GetOutputChannels(), 2);
    EXPECT_EQ(reader.GetBitrate(), 128);
    Decoded d = ReadAll(reader);
    for (int b : d.blocks) ASSERT_LE(b, 1024);
    std::vector<int16_t> ref = DecodeWithFfmpeg(ogg);
    ASSERT_EQ(d.left.size(), 88200u);
    ASSERT_EQ(ref.size(), 2 * d.left.size());
    EXPECT_LE(MaxDifference(d.left, ref, 2, 0), 3);
    EXPECT_LE(MaxDifference(d.right, ref, 2, 1), 3);
    EXPECT_GT(ToneLevel(d.left, 22050, 44100, 440), 15000);
    EXPECT_LT(ToneLevel(d.left, 22050, 44100, 660), 300);
    EXPECT_GT(ToneLevel(d.right, 22050, 44100, 660), 15000);
}

TEST(OggVorbisReaderChannels, SurroundIsMixedInVorbisChannelOrder) {
    TempDir dir;
    // One tone per channel of FL FR FC LFE SL SR; the Vorbis encoder stores
    // them as L C R BL BR LFE.
    std::string ogg = MakeSurroundTones(dir, "surround.ogg", "-c:a libvorbis -q:a 6");
    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(ogg, 0), 1);
    EXPECT_EQ(reader.GetChannels(), 6);
    EXPECT_EQ(reader.GetOutputChannels(), 2);
    Decoded d = ReadAll(reader);
    ASSERT_EQ(d.left.size(), 144000u);
    for (int b : d.blocks) ASSERT_LE(b, kBlockFrames);
    ExpectSurroundMixedToStereo(d);
}

TEST(OggVorbisReaderChannels, BlocksKeepEveryChannelAtItsPosition) {
    TempDir dir;
    // One tone per channel of FL FR FC LFE BL BR, stored in the Vorbis order
    // L C R BL BR LFE: each comes back at its own position, on the 16-bit
    // grid (the coder leaves the low-frequency channel's level less exact).
    const std::string six = MakeSurroundTones(dir, "surround.ogg", "-c:a libvorbis -q:a 6");
    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(six, 0), 1);
    const DecodedWide w = ReadAllWide(reader);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.layout, DefaultLayout(6));
    ASSERT_EQ(w.planes.size(), 6u);
    EXPECT_EQ(w.planes[0].size(), 144000u);
    ExpectSurroundTones(w, 0.3);
    for (const auto& p : w.planes)
        for (float v : p) ASSERT_EQ(Int16ToFloat(FloatToInt16(v)), v);

    // A stereo link after the six-channel one fills front left and right.
    const std::string stereo = MakeWithFfmpeg(
        dir, "s.ogg",
        "-f lavfi -i \"aevalsrc=0.1*sin(2*PI*300*t)|0.1*sin(2*PI*500*t):s=48000:d=1\" "
        "-c:a libvorbis");
    const std::string chain = dir.file("chain.ogg");
    Shell("cat " + Quote(six) + " " + Quote(stereo) + " > " + Quote(chain));
    ASSERT_EQ(reader.Open(chain, 0), 1);
    const DecodedWide linked = ReadAllWide(reader);
    ASSERT_EQ(linked.planes.size(), 6u);
    ASSERT_EQ(linked.planes[0].size(), 192000u);
    std::vector<int16_t> l, r;
    for (size_t i = 144000; i < 192000; ++i) {
        l.push_back(FloatToInt16(linked.planes[0][i]));
        r.push_back(FloatToInt16(linked.planes[1][i]));
        for (size_t c = 2; c < 6; ++c) ASSERT_EQ(linked.planes[c][i], 0.0f) << c;
    }
    EXPECT_NEAR(ToneLevel(l, 0, 48000, 300) / (0.1 * 32768), 1.0, 0.05);
    EXPECT_NEAR(ToneLevel(r, 0, 48000, 500) / (0.1 * 32768), 1.0, 0.05);

    // Stereo: 16-bit blocks.
    const std::string ogg = OggEnc(SoxWav(dir, "s.wav", 44100, 2, 1), dir.file("st.ogg"));
    COggVorbisReader a, b;
    ASSERT_EQ(a.Open(ogg, 0), 1);
    ASSERT_EQ(b.Open(ogg, 0), 1);
    ExpectSixteenBitStereoBlocks(a, b);
}

// ---------------------------------------------------------------------------
// Comments

TEST(OggVorbisTagInfo, CommentsFillTheNineFields) {
    TempDir dir;
    std::string wav = SoxWav(dir, "t.wav", 8000, 1, 1);
    std::string longComment = "COMMENT=" + std::string(1200, 'x');
    std::string ogg = OggEnc(wav, dir.file("t.ogg"),
                             "-c TITLE=First -c 'title=Ünïcode 标题' -c artist=lower "
                             "-c ALBUM=Album -c DATE=2010 -c GENRE=Rock -c COMMENT=short -c " +
                                 Quote(longComment) +
                                 " -c TRACKNUMBER=4/9 -c Composer=Someone -c COPYRIGHT=Mine");
    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(ogg, 0), 1);
    TagInfo t;
    ASSERT_EQ(reader.ReadTags(t), 1);
    EXPECT_EQ(t.title, "Ünïcode 标题");  // the later TITLE wins
    EXPECT_EQ(t.artist, "lower");
    EXPECT_EQ(t.album, "Album");
    EXPECT_EQ(t.year, "2010");
    EXPECT_EQ(t.genre, "Rock");
    EXPECT_EQ(t.comment, "short");  // the over-long one is not kept
    EXPECT_EQ(t.track, "4/9");
    EXPECT_EQ(t.composer, "Someone");
    EXPECT_EQ(t.copyright, "Mine");
}

TEST(OggVorbisTagInfo, FileWithoutCommentsGivesNineEmptyTexts) {
    TempDir dir;
    std::string ogg = OggEnc(SoxWav(dir, "n.wav", 8000, 1, 1), dir.file("n.ogg"));
    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(ogg, 0), 1);
    TagInfo t{"a", "b", "c", "d", "e", "f", "g", "h", "i"};
    EXPECT_EQ(reader.ReadTags(t), 1);
    for (const std::string* s : {&t.title, &t.artist, &t.album, &t.year, &t.genre, &t.comment,
                                 &t.track, &t.composer, &t.copyright})
        EXPECT_EQ(*s, "");
}

// ---------------------------------------------------------------------------
// Chained streams

TEST(OggVorbisReaderChains, ChainedStreamsPlayInTurnWithTheFirstStreamsComments) {
    TempDir dir;
    std::string a =
        OggEnc(SoxWav(dir, "a.wav", 44100, 2, 1), dir.file("a.ogg"), "-s 1 -c TITLE=One");
    std::string b =
        OggEnc(SoxWav(dir, "b.wav", 44100, 2, 2), dir.file("b.ogg"), "-s 2 -c TITLE=Two");
    std::string chain = dir.file("chain.ogg");
    Shell("cat " + Quote(a) + " " + Quote(b) + " > " + Quote(chain));

    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(chain, 0), 1);
    EXPECT_EQ(reader.GetDuration(), 3);
    EXPECT_EQ(reader.GetTotal(), std::filesystem::file_size(chain));
    TagInfo t;
    reader.ReadTags(t);
    EXPECT_EQ(t.title, "One");
    Decoded d = ReadAll(reader);
    EXPECT_EQ(d.left.size(), 3u * 44100);
    EXPECT_EQ(reader.GetPosition(), reader.GetTotal());
}

TEST(OggVorbisReaderChains, LinksWithDifferentChannelCountsStayWithinBlocks) {
    TempDir dir;
    std::string mono = OggEnc(SoxWav(dir, "m.wav", 44100, 1, 1), dir.file("m.ogg"), "-s 1");
    std::string stereo = OggEnc(SoxWav(dir, "s.wav", 44100, 2, 1), dir.file("s.ogg"), "-s 2");
    struct Case {
        const char* name;
        std::string first, second;
        int outputChannels;
    } cases[] = {
        {"stereo-then-mono.ogg", stereo, mono, 2},
        {"mono-then-stereo.ogg", mono, stereo, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string chain = dir.file(c.name);
        Shell("cat " + Quote(c.first) + " " + Quote(c.second) + " > " + Quote(chain));
        COggVorbisReader reader;
        ASSERT_EQ(reader.Open(chain, 0), 1);
        EXPECT_EQ(reader.GetOutputChannels(), c.outputChannels);
        Decoded d = ReadAll(reader);
        for (int b : d.blocks) ASSERT_LE(b, kBlockFrames);
        EXPECT_EQ(d.left.size(), 2u * 44100);
        // The 440 Hz tone is on the (first) channel of both links.
        EXPECT_GT(ToneLevel(d.left, 0, 44100, 440), 15000);
        EXPECT_GT(ToneLevel(d.left, 44100, 44100, 440), 15000);
    }
}

// ---------------------------------------------------------------------------
// Damaged and foreign input, life cycle

TEST(OggVorbisReaderDamage, TruncatedAndCorruptFilesEndCleanly) {
    TempDir dir;
    std::string ogg = OggEnc(SoxWav(dir, "d.wav", 44100, 2, 4), dir.file("d.ogg"));
    std::vector<uint8_t> bytes = ReadFile(ogg);

    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() * 6 / 10);
    WriteFile(dir.file("cut.ogg"), cut);
    COggVorbisReader reader;
    ASSERT_EQ(reader.Open(dir.file("cut.ogg"), 0), 1);
    Decoded d = ReadAll(reader);
    // The pages before the cut (a good second: the headers take a large
    // share of so small a file).
    EXPECT_GT(d.left.size(), 44100u);
    EXPECT_LT(d.left.size(), 44100u * 4);
    EXPECT_EQ(ReadInt16(reader, d.left.data(), d.right.data()), 0);

    // Overwrite part of one page in the middle: vorbisfile reports a hole
    // there, which the reader skips.
    std::vector<uint8_t> holed = bytes;
    std::fill(holed.begin() + holed.size() / 2, holed.begin() + holed.size() / 2 + 300, 0x55);
    WriteFile(dir.file("holed.ogg"), holed);
    ASSERT_EQ(reader.Open(dir.file("holed.ogg"), 0), 1);
    d = ReadAll(reader);
    // The audio after the damaged page still arrives.
    EXPECT_GT(d.left.size(), 44100u * 2);
    EXPECT_LT(d.left.size(), 44100u * 4);
    EXPECT_GT(ToneLevel(d.left, d.left.size() - 44100, 44100, 440), 15000);
    EXPECT_EQ(reader.GetPosition(), reader.GetTotal());
}

TEST(OggVorbisReaderDamage, NonVorbisFilesAreRefused) {
    TempDir dir;
    std::string flac = dir.file("flac.oga");
    Shell("ffmpeg -v error -nostdin -y -f lavfi -i sine=duration=1 -c:a flac " + Quote(flac));
    std::vector<uint8_t> junk(5000, 0x4F);
    WriteFile(dir.file("junk.ogg"), junk);
    WriteFile(dir.file("empty.ogg"), std::string());
    for (const std::string& path :
         {flac, dir.file("junk.ogg"), dir.file("empty.ogg"), dir.file("missing.ogg")}) {
        SCOPED_TRACE(path);
        COggVorbisReader reader;
        EXPECT_EQ(reader.Open(path, 0), 0);
        EXPECT_EQ(reader.GetSampleRate(), 0);
        EXPECT_EQ(reader.HasAudio(), 1);
        int16_t l[kBlockFrames], r[kBlockFrames];
        EXPECT_EQ(ReadInt16(reader, l, r), 0);
        reader.Close();
    }
}

TEST(OggVorbisReaderLifecycle, CloseIsHarmlessAndTheReaderReopens) {
    TempDir dir;
    std::string a = OggEnc(SoxWav(dir, "a.wav", 44100, 2, 1), dir.file("a.ogg"));
    std::string b = OggEnc(SoxWav(dir, "b.wav", 16000, 1, 1), dir.file("b.ogg"));
    COggVorbisReader reader;
    reader.Close();
    ASSERT_EQ(reader.Open(a, 0), 1);
    int16_t l[kBlockFrames], r[kBlockFrames];
    EXPECT_GT(ReadInt16(reader, l, r), 0);
    ASSERT_EQ(reader.Open(b, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 16000);
    EXPECT_EQ(reader.GetOutputChannels(), 1);
    EXPECT_EQ(ReadAll(reader).left.size(), 16000u);
    reader.Close();
    reader.Close();
    EXPECT_EQ(reader.GetSampleRate(), 0);
    EXPECT_EQ(reader.GetTotal(), 0u);
    EXPECT_EQ(reader.GetPosition(), 0u);
}
