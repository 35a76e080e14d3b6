// CBassReader over the decoding layer: properties, byte-based progress, the
// bit-rate rules, 8-bit, mono and multichannel delivery, the MIDI and module
// routes, and the tag order.
#include "decoders/BassReader.h"

#include "common/SampleHelpers.h"
#include "support/ReaderSupport.h"
#include "support/ChannelSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace quelvox;
using namespace testsupport;

namespace {

std::string SoxWav(const TempDir& dir, const std::string& name, int rate, int channels, int bits,
                   double seconds) {
    std::string path = dir.file(name);
    std::string tones;
    for (int c = 0; c < channels; ++c) tones += " sine " + std::to_string(200 + 150 * c);
    Shell("sox -n -r " + std::to_string(rate) + " -b " + std::to_string(bits) + " -e " +
          (bits == 8 ? "unsigned" : "signed") + " -c " + std::to_string(channels) + " " +
          Quote(path) + " synth " + std::to_string(seconds) + tones + " vol 0.5");
    return path;
}

int BitrateFromSize(const std::string& path, double seconds) {
    return static_cast<int>(
        static_cast<double>(std::filesystem::file_size(path)) / (seconds * 125.0) + 0.5);
}

TEST(BassReader, Mp3PropertiesProgressAndBitrate) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SoxWav(dir, "src.wav", 44100, 2, 16, 3.5);
    std::string mp3 = dir.file("a.mp3");
    Shell("ffmpeg -v error -nostdin -i " + Quote(wav) + " -c:a libmp3lame -b:a 128k " + Quote(mp3));

    CBassReader reader(rt);
    ASSERT_EQ(reader.Open(mp3, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(reader.GetOutputChannels(), 2);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetDuration(), 3);  // 3.5 s truncated
    EXPECT_EQ(reader.GetTotal(), 154350u * 4);
    EXPECT_EQ(reader.GetBitrate(), BitrateFromSize(mp3, 3.5));
    EXPECT_NEAR(reader.GetBitrate(), 128, 6);
    EXPECT_EQ(reader.GetPosition(), 0u);

    Decoded d = ReadAll(reader);
    EXPECT_EQ(d.left.size(), 154350u);
    for (size_t i = 0; i + 1 < d.blocks.size(); ++i) EXPECT_EQ(d.blocks[i], kBlockFrames);
    EXPECT_EQ(reader.GetPosition(), reader.GetTotal());

    // Both channels carry the same samples that ffmpeg's decoder produces,
    // closely (two different MPEG decoders).
    std::vector<int16_t> ref = DecodeWithFfmpeg(mp3);
    ASSERT_EQ(ref.size(), 2 * d.left.size());
    double err = 0, sig = 0;
    for (size_t i = 0; i < d.left.size(); ++i) {
        sig += double(ref[2 * i]) * ref[2 * i] + double(ref[2 * i + 1]) * ref[2 * i + 1];
        err += std::pow(ref[2 * i] - d.left[i], 2) + std::pow(ref[2 * i + 1] - d.right[i], 2);
    }
    EXPECT_GT(10 * std::log10(sig / std::max(err, 1.0)), 60.0);
    reader.Close();
    reader.Close();
    EXPECT_EQ(reader.GetTotal(), 0u);
    EXPECT_EQ(ReadInt16(reader, d.left.data(), d.right.data()), 0);
}

TEST(BassReader, EightBitSourcesAreWidened) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    // 22050 Hz mono unsigned 8-bit, as sox writes it.
    std::string mono = SoxWav(dir, "m8.wav", 22050, 1, 8, 0.2);
    std::vector<uint8_t> bytes = ReadFile(mono);
    CBassReader reader(rt);
    ASSERT_EQ(reader.Open(mono, 0), 1);
    EXPECT_EQ(reader.GetOutputChannels(), 1);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetTotal(), 4410u);  // bytes of 8-bit data
    EXPECT_EQ(reader.GetBitrate(), BitrateFromSize(mono, 0.2));
    Decoded d = ReadAll(reader);  // right buffer null: mono never touches it
    ASSERT_EQ(d.left.size(), 4410u);
    for (int n : d.blocks) EXPECT_LE(n, kBlockFrames);
    const size_t data = bytes.size() - 4410;  // sample bytes end the file
    for (size_t i = 0; i < d.left.size(); ++i)
        ASSERT_EQ(d.left[i], (int(bytes[data + i]) - 128) * 256) << i;
    EXPECT_EQ(reader.GetPosition(), 4410u);

    // Stereo and 5.1 8-bit against ffmpeg's widening of the same bytes.
    for (int channels : {2, 6}) {
        std::string path = SoxWav(dir, "s8.wav", 8000, channels, 8, 0.3);
        ASSERT_EQ(reader.Open(path, 0), 1);
        EXPECT_EQ(reader.GetChannels(), channels);
        EXPECT_EQ(reader.GetOutputChannels(), 2);
        std::vector<int16_t> ref = DecodeWithFfmpeg(path);
        Decoded s = ReadAll(reader);
        ASSERT_EQ(s.left.size() * channels, ref.size());
        if (channels == 6) {
            EXPECT_EQ(s.blocks[0], kBlockFrames);
        }
        for (size_t i = 0; i < s.left.size(); ++i) {
            int16_t l = ref[i * channels], r = ref[i * channels + 1];
            DownmixToStereo(channels, &ref[i * channels], &l, &r);
            ASSERT_EQ(s.left[i], l) << i;
            ASSERT_EQ(s.right[i], r) << i;
        }
    }
}

TEST(BassReader, SixChannelsMixToStereoInFullBlocks) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SoxWav(dir, "six.wav", 48000, 6, 16, 0.5);
    std::string flac = dir.file("six.flac");
    Shell("ffmpeg -v error -nostdin -i " + Quote(wav) + " -c:a flac " + Quote(flac));
    for (const std::string& path : {wav, flac}) {
        CBassReader reader(rt);
        ASSERT_EQ(reader.Open(path, 0), 1) << path;
        EXPECT_EQ(reader.GetChannels(), 6);
        EXPECT_EQ(reader.GetOutputChannels(), 2);
        EXPECT_EQ(reader.GetTotal(), 24000u * 12);
        Decoded d = ReadAll(reader);
        ASSERT_EQ(d.left.size(), 24000u);
        for (size_t i = 0; i + 1 < d.blocks.size(); ++i) ASSERT_EQ(d.blocks[i], kBlockFrames);
        std::vector<int16_t> ref = DecodeWithFfmpeg(path);
        for (size_t i = 0; i < d.left.size(); ++i) {
            int16_t l = 0, r = 0;
            DownmixToStereo(6, &ref[i * 6], &l, &r);
            // Folded in float and rounded to nearest rather than truncated.
            ASSERT_NEAR(d.left[i], l, 1) << i;
            ASSERT_NEAR(d.right[i], r, 1) << i;
        }
        EXPECT_EQ(reader.GetPosition(), reader.GetTotal());
    }
}

TEST(BassReader, MonoSixteenBitFillsOnlyTheLeftBuffer) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SoxWav(dir, "mono.wav", 16000, 1, 16, 0.2);
    CBassReader reader(rt);
    ASSERT_EQ(reader.Open(wav, 0), 1);
    EXPECT_EQ(reader.GetOutputChannels(), 1);
    int16_t left[kBlockFrames];
    int16_t right[kBlockFrames];
    std::fill(std::begin(right), std::end(right), int16_t(0x5A5A));
    std::vector<int16_t> got;
    for (int n; (n = ReadInt16(reader, left, right)) > 0;) got.insert(got.end(), left, left + n);
    EXPECT_EQ(got, DecodeWithFfmpeg(wav));
    for (int16_t v : right) ASSERT_EQ(v, 0x5A5A);
}

TEST(BassReader, FailuresLeaveAClosedReader) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    CBassReader reader(rt);
    reader.Close();  // never opened
    EXPECT_EQ(reader.Open(dir.file("missing.wav"), 0), 0);
    reader.Close();

    // A WAV without sample frames has length 0 and does not open.
    std::vector<uint8_t> v;
    for (char c : std::string("RIFF")) v.push_back(static_cast<uint8_t>(c));
    PutLe32(v, 36);
    for (char c : std::string("WAVEfmt ")) v.push_back(static_cast<uint8_t>(c));
    PutLe32(v, 16);
    PutLe16(v, 1);
    PutLe16(v, 2);
    PutLe32(v, 44100);
    PutLe32(v, 44100 * 4);
    PutLe16(v, 4);
    PutLe16(v, 16);
    for (char c : std::string("data")) v.push_back(static_cast<uint8_t>(c));
    PutLe32(v, 0);
    WriteFile(dir.file("empty.wav"), v);
    EXPECT_EQ(reader.Open(dir.file("empty.wav"), 0), 0);
    EXPECT_EQ(reader.GetSampleRate(), 0);
    EXPECT_EQ(reader.GetTotal(), 0u);

    // An open reader reopened on a failing file ends up closed.
    std::string wav = SoxWav(dir, "ok.wav", 8000, 2, 16, 0.1);
    ASSERT_EQ(reader.Open(wav, 0), 1);
    EXPECT_EQ(reader.Open(dir.file("empty.wav"), 0), 0);
    int16_t l[kBlockFrames], r[kBlockFrames];
    EXPECT_EQ(ReadInt16(reader, l, r), 0);

    // A format whose add-on is not loaded does not open.
    std::string flac = dir.file("a.flac");
    Shell("ffmpeg -v error -nostdin -i " + Quote(wav) + " -c:a flac " + Quote(flac));
    bass::CBassRuntime bare;
    bare.Init();
    CBassReader without(bare);
    EXPECT_EQ(without.Open(flac, 0), 0);
    EXPECT_EQ(CBassReader(rt).Open(flac, 0), 1);
}

// A one-track standard MIDI file: a few quarter notes at 120 bpm.
std::vector<uint8_t> SmallMidi() {
    std::vector<uint8_t> track;
    for (int note : {60, 64, 67, 72}) {
        for (uint8_t b : {uint8_t(0x00), uint8_t(0x90), uint8_t(note), uint8_t(100), uint8_t(0x83),
                          uint8_t(0x60), uint8_t(0x80), uint8_t(note), uint8_t(0)})
            track.push_back(b);
    }
    for (uint8_t b : {0x00, 0xFF, 0x2F, 0x00}) track.push_back(b);
    std::vector<uint8_t> v;
    for (char c : std::string("MThd")) v.push_back(static_cast<uint8_t>(c));
    PutBe32(v, 6);
    PutBe16(v, 0);
    PutBe16(v, 1);
    PutBe16(v, 480);
    for (char c : std::string("MTrk")) v.push_back(static_cast<uint8_t>(c));
    PutBe32(v, static_cast<uint32_t>(track.size()));
    v.insert(v.end(), track.begin(), track.end());
    return v;
}

TEST(BassReader, MidiIsChosenByExtensionIgnoringCase) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    // A WAV named like a MIDI file goes the MIDI route and fails there.
    std::string wav = SoxWav(dir, "src.wav", 8000, 1, 16, 0.1);
    std::filesystem::copy_file(wav, dir.file("song.MID"));
    CBassReader reader(rt);
    EXPECT_EQ(reader.Open(dir.file("song.MID"), 44100), 0);

    const std::string font = std::string(QUELVOX_BINARY_DIR) + "/ct4mgm.sf2";
    if (!rt.SetDefaultSoundfont(font)) GTEST_SKIP() << "no General MIDI soundfont";
    WriteFile(dir.file("tune.Midi"), SmallMidi());
    ASSERT_EQ(reader.Open(dir.file("tune.Midi"), 32000), 1);
    EXPECT_EQ(reader.GetSampleRate(), 32000);
    EXPECT_EQ(reader.GetOutputChannels(), 2);
    // No encoded size for a rendered stream: bits x rate x channels.
    EXPECT_EQ(reader.GetBitrate(), 16 * 32000 * 2 / 1000);
    EXPECT_GE(reader.GetDuration(), 1);
    Decoded d = ReadAll(reader);
    EXPECT_EQ(d.left.size() * 4, reader.GetTotal());
}

// A four-channel ProTracker module with one looped square-wave sample and
// one pattern of notes.
std::vector<uint8_t> SmallMod() {
    std::vector<uint8_t> v(20, 0);
    const char* title = "square";
    std::copy(title, title + 6, v.begin());
    for (int s = 0; s < 31; ++s) {
        std::vector<uint8_t> h(30, 0);
        if (s == 0) {
            h[22] = 0;
            h[23] = 16;  // length in words: 32 bytes
            h[25] = 64;  // volume
            h[28] = 0;
            h[29] = 16;  // loop the whole sample
        } else {
            h[29] = 1;
        }
        v.insert(v.end(), h.begin(), h.end());
    }
    v.push_back(1);    // song length
    v.push_back(127);  // restart
    for (int i = 0; i < 128; ++i) v.push_back(0);
    for (char c : std::string("M.K.")) v.push_back(static_cast<uint8_t>(c));
    for (int row = 0; row < 64; ++row) {
        for (int ch = 0; ch < 4; ++ch) {
            bool note = ch == 0 && row % 8 == 0;
            // sample 1, period 428 (C-2)
            v.push_back(note ? 0x01 : 0);
            v.push_back(note ? 0xAC : 0);
            v.push_back(note ? 0x10 : 0);
            v.push_back(0);
        }
    }
    for (int i = 0; i < 32; ++i) v.push_back(i < 16 ? 0x60 : 0xA0);
    return v;
}

TEST(BassReader, ModulesOpenThroughTheMusicRoute) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    WriteFile(dir.file("tune.mod"), SmallMod());
    CBassReader reader(rt);
    ASSERT_EQ(reader.Open(dir.file("tune.mod"), 44100), 1);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(reader.GetBitrate(), 1411);  // 16 x 44100 x 2 / 1000
    EXPECT_GE(reader.GetDuration(), 1);
    Decoded d = ReadAll(reader);
    EXPECT_EQ(d.left.size() * 4, reader.GetTotal());
    EXPECT_EQ(reader.GetPosition(), reader.GetTotal());
    reader.Close();
    reader.Close();
}

TEST(BassReader, TagsComeBackInReaderOrder) {
    TempDir dir;
    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    std::string wav = SoxWav(dir, "src.wav", 44100, 1, 16, 0.3);
    std::string full = dir.file("full.flac");
    Shell("ffmpeg -v error -nostdin -i " + Quote(wav) +
          " -c:a flac -metadata title=T -metadata artist=A -metadata album=B"
          " -metadata genre=G -metadata date=2001 -metadata comment=C"
          " -metadata track=5 -metadata composer=K -metadata copyright=R " +
          Quote(full));
    TagInfo t;
    CBassReader reader(rt);
    ASSERT_EQ(reader.Open(full, 0), 1);
    EXPECT_EQ(reader.ReadTags(t), 1);
    EXPECT_EQ(t.title, "T");
    EXPECT_EQ(t.artist, "A");
    EXPECT_EQ(t.album, "B");
    EXPECT_EQ(t.year, "2001");
    EXPECT_EQ(t.genre, "G");
    EXPECT_EQ(t.comment, "C");
    EXPECT_EQ(t.track, "5");
    EXPECT_EQ(t.composer, "K");
    EXPECT_EQ(t.copyright, "R");

    // Title and artist but no track: the track comes back empty and the
    // other fields in place.
    std::string partial = dir.file("partial.mp3");
    Shell("ffmpeg -v error -nostdin -i " + Quote(wav) +
          " -c:a libmp3lame -metadata title=Name -metadata artist=Band " + Quote(partial));
    TagInfo p{"x", "x", "x", "x", "x", "x", "x", "x", "x"};
    EXPECT_EQ(CBassReader::ReadTagsFromFile(rt, partial, p), 1);
    EXPECT_EQ(p.track, "");
    EXPECT_EQ(p.title, "Name");
    EXPECT_EQ(p.artist, "Band");
    EXPECT_EQ(p.album, "");

    // No tags: 0, nothing changed; a file that does not open: 0.
    TagInfo none{"x", "x", "x", "x", "x", "x", "x", "x", "x"};
    ASSERT_EQ(reader.Open(wav, 0), 1);
    EXPECT_EQ(reader.ReadTags(none), 0);
    EXPECT_EQ(none.title, "x");
    EXPECT_EQ(none.copyright, "x");
    EXPECT_EQ(CBassReader::ReadTagsFromFile(rt, dir.file("missing.mp3"), none), 0);
    EXPECT_EQ(none.track, "x");
}

}  // namespace
