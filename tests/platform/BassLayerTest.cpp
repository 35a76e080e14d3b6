// The decoding layer: add-on bookkeeping, dispatch by content and
// extension, each backend's output against ffmpeg's decode of the same
// file, lengths in bytes, and the nine-field tag text.
#include "platform/bass/BassRuntime.h"

#include "support/ChannelSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <taglib/apetag.h>
#include <taglib/mpegfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

using namespace quelvox::bass;
using namespace testsupport;

namespace {

// Everything a channel delivers, in blocks of `block` bytes.
std::vector<uint8_t> DrainBytes(CChannel& ch, uint32_t block = 4608) {
    std::vector<uint8_t> all, buf(block);
    for (int guard = 0; guard < 10000000; ++guard) {
        int n = ch.GetData(buf.data(), block);
        if (n <= 0) break;
        all.insert(all.end(), buf.begin(), buf.begin() + n);
    }
    return all;
}

std::vector<int16_t> Drain16(CChannel& ch) {
    std::vector<uint8_t> bytes = DrainBytes(ch);
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// A 16-bit WAV made by sox: a sine per channel plus a little noise, so that
// lossless codecs get real work.
std::string SourceWav(const TempDir& dir, const std::string& name, int rate, int channels,
                      double seconds) {
    std::string path = dir.file(name);
    std::string tones;
    for (int c = 0; c < channels; ++c) tones += " sine " + std::to_string(300 + 110 * c);
    Shell("sox -n -r " + std::to_string(rate) + " -b 16 -e signed -c " + std::to_string(channels) +
          " " + Quote(path) + " synth " + std::to_string(seconds) + tones + " vol 0.5 dither");
    return path;
}

std::string Encode(const std::string& in, const std::string& out, const std::string& args) {
    Shell("ffmpeg -v error -nostdin -y -i " + Quote(in) + " " + args + " " + Quote(out));
    return out;
}

// Checks length, info and samples of a file that decodes exactly like
// ffmpeg decodes it (lossless codecs, same decoder, integer output).
void ExpectMatchesFfmpeg(const CBassRuntime& rt, const std::string& path, int maxDiff) {
    auto ch = StreamCreateFile(rt, path);
    ASSERT_TRUE(ch) << path;
    std::vector<int16_t> ref = DecodeWithFfmpeg(path);
    ASSERT_FALSE(ref.empty());
    ChannelInfo info = ch->GetInfo();
    EXPECT_EQ(info.freq, std::stoi(Probe(path, "sample_rate")));
    EXPECT_EQ(info.chans, std::stoi(Probe(path, "channels")));
    EXPECT_EQ(ch->GetLength(), ref.size() * 2) << path;
    std::vector<int16_t> got = Drain16(*ch);
    ASSERT_EQ(got.size(), ref.size()) << path;
    EXPECT_LE(MaxDifference(ref, got), maxDiff) << path;
    EXPECT_EQ(ch->GetPosition(), got.size() * 2);
    EXPECT_EQ(ch->GetData(got.data(), 64), -1);
}

// ---------------------------------------------------------------------------

TEST(BassRuntime, AddOnsLoadByFileNameIgnoringFolderAndCase) {
    CBassRuntime rt;
    EXPECT_EQ(CBassRuntime::GetVersion() >> 16, 0x0204u);
    EXPECT_NE(rt.Init(0, 44100), 0);
    EXPECT_TRUE(rt.IsInitialised());
    EXPECT_NE(rt.PluginLoad("C:\\Program Files\\Quelvox\\BASSFLAC.DLL"), 0);
    EXPECT_NE(rt.PluginLoad("/opt/quelvox/bass_aac.dll"), 0);
    EXPECT_EQ(rt.PluginLoad("/opt/quelvox/bass_fx.dll"), 0);
    EXPECT_TRUE(rt.IsEnabled(AddOn::Flac));
    EXPECT_TRUE(rt.IsEnabled(AddOn::Aac));
    EXPECT_FALSE(rt.IsEnabled(AddOn::WavPack));
    rt.PluginFree();
    EXPECT_FALSE(rt.IsEnabled(AddOn::Flac));
    EXPECT_FALSE(rt.IsEnabled(AddOn::Aac));
    rt.Free();
    EXPECT_FALSE(rt.IsInitialised());
}

TEST(BassMpeg, CbrAndVbrMatchFfmpegWithGaplessLength) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "src.wav", 44100, 2, 3.0);
    for (const char* args : {"-c:a libmp3lame -b:a 128k", "-c:a libmp3lame -q:a 4"}) {
        std::string mp3 = Encode(wav, dir.file("a.mp3"), args);
        auto ch = StreamCreateFile(rt, mp3);
        ASSERT_TRUE(ch) << args;
        ChannelInfo info = ch->GetInfo();
        EXPECT_EQ(info.freq, 44100);
        EXPECT_EQ(info.chans, 2);
        EXPECT_EQ(info.flags & kSample8Bits, 0u);
        // Gapless: exactly the source's 3 s, as ffprobe also reports.
        EXPECT_EQ(ch->GetLength(), 3u * 44100 * 4) << args;
        // ffprobe counts whole frames, delay and padding included.
        EXPECT_NEAR(ch->Bytes2Seconds(ch->GetLength()), std::stod(Probe(mp3, "duration", true)),
                    0.06);
        // The encoded audio: the file without ffmpeg's small ID3v2 tag.
        const auto size = static_cast<int64_t>(std::filesystem::file_size(mp3));
        EXPECT_LT(ch->GetFilePositionEnd(), size);
        EXPECT_GT(ch->GetFilePositionEnd(), size - 200);
        // Another decoder (ffmpeg's) of the same file agrees closely.
        std::vector<int16_t> ref = DecodeWithFfmpeg(mp3);
        std::vector<int16_t> got = Drain16(*ch);
        EXPECT_EQ(got.size(), ref.size());
        EXPECT_GT(SnrDb(ref, got), 60.0) << args;
        EXPECT_EQ(ch->GetPosition(), ch->GetLength());
    }
}

// The scan's length, learned when a file is added, spares its conversion a
// second scan; the decoding must not change in any way, and a changed file
// is scanned again.
TEST(BassMpeg, ALearnedLengthSkipsTheScanAndDecodesTheSame) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "src.wav", 44100, 2, 3.0);
    struct Case {
        const char* name;
        const char* args;
        size_t keepPercent;  // of the file, to cut off its end
    };
    for (const Case& c : {Case{"cbr.mp3", "-c:a libmp3lame -b:a 128k", 100},
                          Case{"vbr.mp3", "-c:a libmp3lame -q:a 4", 100},
                          Case{"noxing.mp3", "-c:a libmp3lame -q:a 4 -write_xing 0", 100},
                          Case{"cut.mp3", "-c:a libmp3lame -q:a 4", 60}}) {
        SCOPED_TRACE(c.name);
        std::string mp3 = Encode(wav, dir.file(c.name), c.args);
        if (c.keepPercent < 100)
            std::filesystem::resize_file(mp3,
                                         std::filesystem::file_size(mp3) * c.keepPercent / 100);
        auto scanned = StreamCreateFile(rt, mp3);
        ASSERT_TRUE(scanned);
        const quelvox::KnownLength learned = scanned->LearnedLength();
        const std::vector<uint8_t> reference = DrainBytes(*scanned);
        if (c.keepPercent < 100) {
            // The Info tag promises more frames than are left: the scan
            // switches gapless trimming off, so skipping it would decode
            // otherwise. Nothing is offered.
            EXPECT_EQ(learned.frames, 0u);
            continue;
        }
        ASSERT_GT(learned.frames, 0u);
        EXPECT_EQ(learned.frames * 4, scanned->GetLength());

        auto reused = StreamCreateFile(rt, mp3, &learned);
        ASSERT_TRUE(reused);
        EXPECT_EQ(reused->LearnedLength().frames, 0u);  // no scan this time
        EXPECT_EQ(reused->GetLength(), scanned->GetLength());
        EXPECT_EQ(DrainBytes(*reused), reference);

        // Touched since: scanned again.
        std::filesystem::last_write_time(
            mp3, std::filesystem::last_write_time(mp3) + std::chrono::seconds(1));
        auto rescanned = StreamCreateFile(rt, mp3, &learned);
        ASSERT_TRUE(rescanned);
        EXPECT_EQ(rescanned->LearnedLength().frames, learned.frames);
        EXPECT_NE(rescanned->LearnedLength().modified, learned.modified);
    }
}

TEST(BassMpeg, MonoMp2AndId3PrefixedFiles) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "src.wav", 32000, 1, 1.0);
    std::string mp2 = Encode(wav, dir.file("a.mp2"), "-c:a mp2 -b:a 64k");
    auto ch = StreamCreateFile(rt, mp2);
    ASSERT_TRUE(ch);
    EXPECT_EQ(ch->GetInfo().chans, 1);
    EXPECT_EQ(ch->GetInfo().freq, 32000);
    std::vector<int16_t> ref = DecodeWithFfmpeg(mp2);
    EXPECT_GT(SnrDb(ref, Drain16(*ch)), 60.0);

    // An ID3v2 tag in front of the audio, and a misleading extension: the
    // content decides.
    std::string tagged = Encode(wav, dir.file("t.mp3"), "-c:a libmp3lame -metadata title=Hello");
    std::filesystem::copy_file(tagged, dir.file("t.bin"));
    auto ch2 = StreamCreateFile(rt, dir.file("t.bin"));
    ASSERT_TRUE(ch2);
    EXPECT_EQ(ch2->GetLength(), 32000u * 2);
}

TEST(BassPcm, WavDepthsDecodeLikeFfmpeg) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "src.wav", 48000, 2, 0.5);
    ExpectMatchesFfmpeg(rt, wav, 0);
    for (const char* codec : {"pcm_s24le", "pcm_s32le", "pcm_s16be"}) {
        std::string ext = std::string(codec) == "pcm_s16be" ? ".aiff" : ".wav";
        std::string out =
            Encode(wav, dir.file(std::string(codec) + ext), std::string("-c:a ") + codec);
        ExpectMatchesFfmpeg(rt, out, 0);
    }
    // Float: ffmpeg rounds where we truncate, one step at most.
    ExpectMatchesFfmpeg(rt, Encode(wav, dir.file("f.wav"), "-c:a pcm_f32le"), 1);
}

TEST(BassPcm, FloatBeyondFullScaleClamps) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::vector<uint8_t> data;
    for (float f : {1.5f, -1.5f, 1.0f, -1.0f, 0.5f, 1e30f, -1e30f}) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        PutLe32(data, bits);
    }
    std::string path = dir.file("loud.wav");
    WriteFile(path, WavFileBytes(3, 1, 8000, 32, data));
    auto ch = StreamCreateFile(rt, path);
    ASSERT_TRUE(ch);
    std::vector<int16_t> got = Drain16(*ch);
    std::vector<int16_t> want = {32767, -32768, 32767, -32768, 16383, 32767, -32768};
    EXPECT_EQ(got, want);
}

TEST(BassPcm, EightBitIsReportedAndDeliveredUnsigned) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::vector<uint8_t> data;
    for (int i = 0; i < 1000; ++i) data.push_back(static_cast<uint8_t>(i * 7));
    std::string path = dir.file("u8.wav");
    WriteFile(path, WavFileBytes(1, 2, 22050, 8, data));
    auto ch = StreamCreateFile(rt, path);
    ASSERT_TRUE(ch);
    EXPECT_EQ(ch->GetInfo().flags & kSample8Bits, kSample8Bits);
    EXPECT_EQ(ch->GetLength(), 1000u);
    EXPECT_DOUBLE_EQ(ch->Bytes2Seconds(1000), 500.0 / 22050.0);
    EXPECT_EQ(DrainBytes(*ch, 333), data);  // whole frames only: 333 -> 332

    // sox writes signed 8-bit AIFF; it arrives as unsigned too.
    std::string aiff = dir.file("s8.aiff");
    Shell("sox -n -r 8000 -b 8 -e signed -c 1 " + Quote(aiff) + " synth 0.1 sine 440 vol 0.5");
    auto ch2 = StreamCreateFile(rt, aiff);
    ASSERT_TRUE(ch2);
    EXPECT_EQ(ch2->GetInfo().flags & kSample8Bits, kSample8Bits);
    std::vector<uint8_t> u = DrainBytes(*ch2);
    std::vector<int16_t> ref = DecodeWithFfmpeg(aiff);
    ASSERT_EQ(u.size(), ref.size());
    for (size_t i = 0; i < u.size(); ++i) ASSERT_EQ((int(u[i]) - 128) * 256, ref[i]) << i;
}

TEST(BassLossless, FlacOggFlacWavPackAndAlacAreExact) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "src.wav", 44100, 2, 1.5);
    std::vector<int16_t> src = DecodeWithFfmpeg(wav);
    struct Case {
        const char* name;
        const char* args;
    };
    for (Case c : {Case{"a.flac", "-c:a flac"}, Case{"a.oga", "-c:a flac"},
                   Case{"a.wv", "-c:a wavpack"}, Case{"a.m4a", "-c:a alac"}}) {
        std::string out = Encode(wav, dir.file(c.name), c.args);
        auto ch = StreamCreateFile(rt, out);
        ASSERT_TRUE(ch) << c.name;
        EXPECT_EQ(ch->GetLength(), src.size() * 2) << c.name;
        EXPECT_EQ(Drain16(*ch), src) << c.name;
    }
    // 24-bit FLAC and float WavPack against ffmpeg's decode.
    ExpectMatchesFfmpeg(
        rt, Encode(wav, dir.file("b.flac"), "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24"),
        0);
    ExpectMatchesFfmpeg(rt, Encode(wav, dir.file("f.wv"), "-c:a wavpack -sample_fmt fltp"), 1);
}

TEST(BassLossy, AacAdtsM4aAndAdxMatchFfmpeg) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "src.wav", 44100, 2, 2.0);
    // Same decoder as ffmpeg's; ffmpeg rounds float output where we truncate.
    ExpectMatchesFfmpeg(rt, Encode(wav, dir.file("a.aac"), "-c:a aac -b:a 128k"), 1);
    ExpectMatchesFfmpeg(rt, Encode(wav, dir.file("a.adx"), "-c:a adpcm_adx -f adx"), 0);

    // MP4 keeps the exact length in its edit list: the encoder's priming and
    // padding are cut, while ffmpeg's decode keeps the padding at the end.
    std::string m4a = Encode(wav, dir.file("a.m4a"), "-c:a aac -b:a 128k");
    auto ch = StreamCreateFile(rt, m4a);
    ASSERT_TRUE(ch);
    EXPECT_EQ(ch->GetLength(), 88200u * 4);
    std::vector<int16_t> ref = DecodeWithFfmpeg(m4a);
    std::vector<int16_t> got = Drain16(*ch);
    ASSERT_EQ(got.size(), 88200u * 2);
    ASSERT_GE(ref.size(), got.size());
    ref.resize(got.size());
    EXPECT_LE(MaxDifference(ref, got), 1);
    EXPECT_GT(SnrDb(DecodeWithFfmpeg(wav), got), 15.0);  // it is the source
}

TEST(BassMultichannel, SixChannelsKeepTheirCountAndOrder) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "six.wav", 48000, 6, 0.3);
    ExpectMatchesFfmpeg(rt, Encode(wav, dir.file("six.aac"), "-c:a aac"), 1);
    ExpectMatchesFfmpeg(rt, Encode(wav, dir.file("six.wv"), "-c:a wavpack"), 0);
}

TEST(BassDispatch, DisabledAddOnsRefuseTheirFormats) {
    TempDir dir;
    std::string wav = SourceWav(dir, "src.wav", 44100, 1, 0.5);
    struct Case {
        const char* name;
        const char* args;
        AddOn addOn;
    };
    const Case cases[] = {
        {"a.flac", "-c:a flac", AddOn::Flac},
        {"a.oga", "-c:a flac", AddOn::Flac},
        {"a.wv", "-c:a wavpack", AddOn::WavPack},
        {"a.aac", "-c:a aac", AddOn::Aac},
        {"b.m4a", "-c:a aac", AddOn::Aac},
        {"c.m4a", "-c:a alac", AddOn::Alac},
        {"a.adx", "-c:a adpcm_adx -f adx", AddOn::Adx},
    };
    for (const Case& c : cases) {
        std::string out = Encode(wav, dir.file(c.name), c.args);
        CBassRuntime rt = RuntimeWithAllAddOns();
        EXPECT_TRUE(StreamCreateFile(rt, out)) << c.name;
        rt.SetEnabled(c.addOn, false);
        EXPECT_FALSE(StreamCreateFile(rt, out)) << c.name;
    }
    // Built-in formats need no add-on.
    CBassRuntime none;
    none.Init();
    EXPECT_TRUE(StreamCreateFile(none, wav));
    EXPECT_TRUE(StreamCreateFile(none, Encode(wav, dir.file("a.mp3"), "-c:a libmp3lame")));
}

TEST(BassDispatch, ContentWinsOverExtension) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SourceWav(dir, "src.wav", 44100, 1, 0.5);
    std::string flac = Encode(wav, dir.file("a.flac"), "-c:a flac");
    std::filesystem::copy_file(flac, dir.file("really-flac.mp3"));
    std::filesystem::copy_file(wav, dir.file("really-wav.m4a"));
    auto a = StreamCreateFile(rt, dir.file("really-flac.mp3"));
    auto b = StreamCreateFile(rt, dir.file("really-wav.m4a"));
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_EQ(a->GetLength(), 22050u * 2);
    EXPECT_EQ(b->GetLength(), 22050u * 2);
}

TEST(BassDispatch, BrokenAndForeignFilesGiveNull) {
    TempDir dir;
    CBassRuntime rt = RuntimeWithAllAddOns();
    EXPECT_FALSE(StreamCreateFile(rt, dir.file("missing.mp3")));
    WriteFile(dir.file("empty.wav"), std::string());
    EXPECT_FALSE(StreamCreateFile(rt, dir.file("empty.wav")));
    WriteFile(dir.file("text.flac"), std::string("just some text, no audio\n"));
    EXPECT_FALSE(StreamCreateFile(rt, dir.file("text.flac")));

    // Truncated files of every backend open or fail, but never overrun.
    std::string wav = SourceWav(dir, "src.wav", 44100, 2, 0.5);
    for (const char* name : {"t.flac", "t.wv", "t.m4a", "t.aac", "t.mp3", "t.adx"}) {
        std::string args = std::string(name) == "t.adx" ? "-c:a adpcm_adx -f adx" : "";
        std::string out = Encode(wav, dir.file(name), args);
        std::vector<uint8_t> bytes = ReadFile(out);
        for (size_t keep : {size_t(16), bytes.size() / 3, bytes.size() - 7}) {
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + keep);
            std::string p = dir.file(std::string("cut-") + name);
            WriteFile(p, cut);
            if (auto ch = StreamCreateFile(rt, p)) DrainBytes(*ch);
        }
    }
}

// ---------------------------------------------------------------------------
// Tags

std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t lf = text.find('\n', start);
        out.push_back(text.substr(start, lf - start));
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return out;
}

const char* kMeta =
    "-metadata title=Title -metadata artist=Artist -metadata album=Album "
    "-metadata genre=Genre -metadata date=1999 -metadata comment=Comment "
    "-metadata track=7 -metadata composer=Composer -metadata copyright=Copy";

TEST(BassTags, NineFieldsFromEveryTagFamily) {
    TempDir dir;
    std::string wav = SourceWav(dir, "src.wav", 44100, 1, 0.2);
    const std::vector<std::string> want = {"7",    "Title",   "Artist",   "Album", "Genre",
                                           "1999", "Comment", "Composer", "Copy"};
    // ffmpeg stores the comment of an MP3 in a user-defined text frame
    // rather than a comment frame, and writes APE keys as given (so the
    // year goes in as "year" there).
    struct Case {
        const char* name;
        const char* args;
        int skip;
    };
    for (Case c :
         {Case{"id3.mp3", "-c:a libmp3lame -id3v2_version 3", 6}, Case{"vc.flac", "-c:a flac", -1},
          Case{"vc.oga", "-c:a flac", -1}, Case{"atoms.m4a", "-c:a aac", -1},
          Case{"ape.wv", "-c:a wavpack -metadata year=1999", -1}}) {
        std::string out = Encode(wav, dir.file(c.name), std::string(c.args) + " " + kMeta);
        std::vector<std::string> got = Fields(JoinedTags(ReadFileTags(out)));
        ASSERT_EQ(got.size(), 9u) << c.name;
        for (int i = 0; i < 9; ++i) {
            if (i == c.skip) continue;
            EXPECT_EQ(got[i], want[i]) << c.name << " field " << i;
        }
    }
}

TEST(BassTags, RiffInfoApeInMp3MissingPiecesAndLineBreaks) {
    TempDir dir;
    std::string wav = SourceWav(dir, "src.wav", 44100, 1, 0.2);
    std::string info =
        Encode(wav, dir.file("info.wav"), "-metadata title=Wave -metadata artist=Someone");
    // A WAV file's RIFF INFO list is left to the RIFF INFO reader.
    EXPECT_EQ(JoinedTags(ReadFileTags(info)), "");

    // An APE tag written with TagLib, values with line breaks in them.
    std::string mp3 = Encode(wav, dir.file("ape.mp3"), "-c:a libmp3lame -write_id3v2 0");
    {
        TagLib::MPEG::File f(mp3.c_str());
        TagLib::APE::Tag* ape = f.APETag(true);
        ape->setTitle(TagLib::String("Two\nLines", TagLib::String::UTF8));
        ape->setArtist(TagLib::String("Ünïcode", TagLib::String::UTF8));
        ape->setTrack(3);
        ape->addValue("COMPOSER", "Bach");
        ASSERT_TRUE(f.save(TagLib::MPEG::File::APE));
    }
    EXPECT_EQ(JoinedTags(ReadFileTags(mp3)), "3\nTwo Lines\nÜnïcode\n\n\n\n\nBach\n");

    // No tags at all: empty text.
    EXPECT_EQ(JoinedTags(ReadFileTags(wav)), "");
    EXPECT_EQ(JoinedTags(ReadFileTags(dir.file("missing.mp3"))), "");
}

}  // namespace

// An ID3v2.3 text frame: identifier, size, no flags, encoding byte, text.
std::vector<uint8_t> Id3Frame(const std::string& id, uint8_t encoding,
                              const std::vector<uint8_t>& text) {
    std::vector<uint8_t> f(id.begin(), id.end());
    PutBe32(f, static_cast<uint32_t>(text.size() + 1));
    f.push_back(0);
    f.push_back(0);
    f.push_back(encoding);
    f.insert(f.end(), text.begin(), text.end());
    return f;
}

TEST(BassTags, LegacyTextIsReadInTheChosenCodePage) {
    TempDir dir;
    std::string wav = SourceWav(dir, "src.wav", 44100, 1, 0.2);
    std::string bare =
        Encode(wav, dir.file("bare.mp3"), "-c:a libmp3lame -id3v2_version 0 -write_id3v1 0");
    const std::vector<uint8_t> audio = ReadFile(bare);
    const std::vector<uint8_t> gbk = {0xD6, 0xD0, 0xCE, 0xC4, 0xB1, 0xEA, 0xCC, 0xE2};  // 中文标题

    // ID3v2: the title in a frame marked Latin-1 holding GBK bytes, the
    // artist marked UTF-16 (never decoded again), the album Latin-1 "Café".
    std::vector<uint8_t> frames = Id3Frame("TIT2", 0, gbk);
    for (auto& part : {Id3Frame("TPE1", 1, {0xFF, 0xFE, 0x2D, 0x4E, 0x87, 0x65}),
                       Id3Frame("TALB", 0, {'C', 'a', 'f', 0xE9})})
        frames.insert(frames.end(), part.begin(), part.end());
    std::vector<uint8_t> v2 = {'I', 'D', '3', 3, 0, 0};
    for (int shift : {21, 14, 7, 0})
        v2.push_back(static_cast<uint8_t>((frames.size() >> shift) & 0x7F));
    v2.insert(v2.end(), frames.begin(), frames.end());
    v2.insert(v2.end(), audio.begin(), audio.end());
    const std::string id3v2 = dir.file("v2.mp3");
    WriteFile(id3v2, v2);

    // ID3v1 alone: the title field in GBK.
    std::vector<uint8_t> v1 = audio;
    std::vector<uint8_t> tag(128, 0);
    tag[0] = 'T', tag[1] = 'A', tag[2] = 'G';
    std::copy(gbk.begin(), gbk.end(), tag.begin() + 3);
    tag[127] = 255;
    v1.insert(v1.end(), tag.begin(), tag.end());
    const std::string id3v1 = dir.file("v1.mp3");
    WriteFile(id3v1, v1);

    quelvox::TagInfo t = ReadFileTags(id3v2, "GBK");
    EXPECT_EQ(t.title, "中文标题");
    EXPECT_EQ(t.artist, "中文");
    EXPECT_EQ(t.album, "Café");
    EXPECT_EQ(ReadFileTags(id3v1, "GBK").title, "中文标题");
    // Without a code page the bytes stay Latin-1.
    EXPECT_EQ(ReadFileTags(id3v1, "").title, "ÖÐÎÄ±êÌâ");
    EXPECT_EQ(ReadFileTags(id3v2, "").artist, "中文");
}

TEST(BassTags, DatesAreKeptAsFound) {
    TempDir dir;
    std::string wav = SourceWav(dir, "src.wav", 44100, 1, 0.2);
    EXPECT_EQ(ReadFileTags(
                  Encode(wav, dir.file("d.mp3"), "-c:a libmp3lame -metadata date=2009-05-01"), "")
                  .year,
              "2009-05-01");
    EXPECT_EQ(
        ReadFileTags(Encode(wav, dir.file("d.flac"), "-c:a flac -metadata DATE=2010-06-07"), "")
            .year,
        "2010-06-07");
}
