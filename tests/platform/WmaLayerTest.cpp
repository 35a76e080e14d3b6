#include "platform/wma/WmaLayer.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

using namespace quelvox::wma;
using namespace testsupport;

namespace {

// Loud white noise, the hardest input for a given bit rate.
std::vector<int16_t> Noise(int frames, int channels, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-30000, 30000);
    std::vector<int16_t> v(static_cast<size_t>(frames) * channels);
    for (auto& s : v) s = static_cast<int16_t>(d(rng));
    return v;
}

// The audio stream's fields and the container's duration from one ffprobe
// run, plus the duration of the first packet.
struct Probed {
    std::string codec;
    int rate = 0, channels = 0;
    double bitrate = 0, duration = 0, packet = 0;
};
Probed ProbeAll(const std::string& path) {
    Probed p;
    std::string out;
    testsupport::Run(
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_rate,channels,bit_rate:format=duration "
        "-of default=nw=1 " +
            Quote(path) + " 2>/dev/null",
        &out);
    size_t at = 0;
    while (at < out.size()) {
        size_t nl = out.find('\n', at);
        if (nl == std::string::npos) nl = out.size();
        const std::string line = out.substr(at, nl - at);
        at = nl + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "codec_name")
            p.codec = v;
        else if (k == "sample_rate")
            p.rate = std::atoi(v.c_str());
        else if (k == "channels")
            p.channels = std::atoi(v.c_str());
        else if (k == "bit_rate")
            p.bitrate = std::atof(v.c_str());
        else if (k == "duration")
            p.duration = std::atof(v.c_str());
    }
    testsupport::Run(
        "ffprobe -v error -select_streams a:0 -read_intervals %+#1 "
        "-show_entries packet=duration_time -of default=nw=1:nk=1 " +
            Quote(path) + " 2>/dev/null",
        &out);
    p.packet = std::atof(out.c_str());
    return p;
}

// Writes `pcm` (interleaved, inRate/inChannels) in blocks of 1152 frames.
bool WriteFile(const std::string& path, const WmaCodecFormat& f, int inRate, int inChannels,
               const std::vector<int16_t>& pcm,
               const std::vector<std::pair<std::string, std::string>>& attrs = {}) {
    CWmaFileWriter w;
    w.SetProfile(f.mediaType, f.bitrate);
    w.SetInputFormat(inRate, inChannels);
    for (const auto& [k, v] : attrs) w.AddAttribute(k, v);
    if (!w.BeginWriting(path)) return false;
    const int frames = static_cast<int>(pcm.size()) / inChannels;
    for (int at = 0; at < frames; at += 1152) {
        const int n = std::min(1152, frames - at);
        const int64_t t = static_cast<int64_t>(at) * kTimeUnitsPerSecond / inRate;
        if (!w.WriteSample(t, pcm.data() + static_cast<size_t>(at) * inChannels, n)) return false;
    }
    return w.EndWriting();
}

const WmaCodecFormat* Find(const std::vector<WmaCodecFormat>& list, int rate, int channels,
                           int bitrate) {
    for (const auto& f : list)
        if (f.mediaType.samplesPerSec == rate && f.mediaType.channels == channels &&
            f.bitrate == bitrate)
            return &f;
    return nullptr;
}

}  // namespace

TEST(WmaLayer, RuntimeAndFormatTable) {
    ASSERT_TRUE(WmaRuntimeAvailable());
    const auto formats = GetAudioCodecFormats();
    ASSERT_GE(formats.size(), 30u);
    std::set<int> rates, channels;
    for (const auto& f : formats) {
        SCOPED_TRACE(f.description);
        EXPECT_EQ(f.mediaType.formatTag, kFormatTagWma2);
        EXPECT_GE(f.mediaType.samplesPerSec, 8000);
        EXPECT_LE(f.mediaType.samplesPerSec, 48000);
        EXPECT_GE(f.bitrate, 24000);
        EXPECT_LE(f.bitrate, 320000);
        EXPECT_EQ(f.mediaType.avgBytesPerSec * 8, f.bitrate);
        EXPECT_GT(f.mediaType.blockAlign, 0);
        EXPECT_EQ(f.description.find("(A/V)"), std::string::npos);
        rates.insert(f.mediaType.samplesPerSec);
        channels.insert(f.mediaType.channels);
    }
    EXPECT_EQ(rates, (std::set<int>{8000, 11025, 16000, 22050, 32000, 44100, 48000}));
    EXPECT_EQ(channels, (std::set<int>{1, 2}));
    ASSERT_NE(Find(formats, 44100, 2, 128000), nullptr);
    EXPECT_EQ(Find(formats, 44100, 2, 128000)->description, "128 kbps, 44 kHz, stereo CBR");
}

// Every listed format encodes loud noise from a CD-quality source into a
// file that ffprobe reads with the format's rate, channels and bit rate.
TEST(WmaLayer, EveryListedFormatEncodes) {
    TempDir dir;
    const auto pcm = Noise(44100, 2);
    for (const auto& f : GetAudioCodecFormats()) {
        SCOPED_TRACE(f.description);
        const std::string path = dir.file("f.wma");
        ASSERT_TRUE(WriteFile(path, f, 44100, 2, pcm));
        const Probed p = ProbeAll(path);
        EXPECT_EQ(p.codec, "wmav2");
        EXPECT_EQ(p.rate, f.mediaType.samplesPerSec);
        EXPECT_EQ(p.channels, f.mediaType.channels);
        EXPECT_NEAR(p.bitrate, f.bitrate, f.bitrate * 0.02);
        ASSERT_GT(p.packet, 0.0);
        // The stream also holds the frame the encoder's delay adds, so
        // that the decoded audio covers the whole second.
        EXPECT_NEAR(p.duration, 1.0 + p.packet, p.packet + 0.002);
        // The decoded audio is not silence.
        const auto decoded = DecodeWithFfmpeg(path);
        ASSERT_FALSE(decoded.empty());
        EXPECT_GE(decoded.size() / static_cast<size_t>(p.channels),
                  static_cast<size_t>(f.mediaType.samplesPerSec));
        double energy = 0;
        for (int16_t s : decoded) energy += std::abs(s);
        EXPECT_GT(energy / decoded.size(), 1000.0);
    }
}

TEST(WmaLayer, WriterConvertsRateAndChannels) {
    TempDir dir;
    const auto formats = GetAudioCodecFormats();
    const WmaCodecFormat* mono = Find(formats, 22050, 1, 32000);
    const WmaCodecFormat* stereo = Find(formats, 48000, 2, 192000);
    ASSERT_TRUE(mono && stereo);

    // Stereo 44100 Hz to mono 22050 Hz: left and right carry the same tone,
    // so the mean keeps it.
    std::vector<int16_t> in(44100 * 2 * 2);
    for (size_t i = 0; i < in.size() / 2; ++i)
        in[2 * i] = in[2 * i + 1] =
            static_cast<int16_t>(10000 * std::sin(2 * M_PI * 1000.0 * i / 44100));
    const std::string a = dir.file("a.wma");
    ASSERT_TRUE(WriteFile(a, *mono, 44100, 2, in));
    EXPECT_EQ(Probe(a, "sample_rate"), "22050");
    EXPECT_EQ(Probe(a, "channels"), "1");
    EXPECT_NEAR(ProbeNumber(a, "duration", true), 2.0, 0.1);
    auto dec = DecodeWithFfmpeg(a);
    ASSERT_GT(dec.size(), 22050u);
    double peak = 0;
    for (size_t i = 4096; i < dec.size() - 4096; ++i) peak = std::max(peak, std::fabs(dec[i]));
    EXPECT_NEAR(peak, 10000, 1500);

    // Mono 8000 Hz to stereo 48000 Hz: both sides carry the input.
    const auto m = Sine(8000 * 2, 1, 8000, 440.0);
    const std::string b = dir.file("b.wma");
    ASSERT_TRUE(WriteFile(b, *stereo, 8000, 1, m));
    EXPECT_EQ(Probe(b, "sample_rate"), "48000");
    EXPECT_EQ(Probe(b, "channels"), "2");
    EXPECT_NEAR(ProbeNumber(b, "duration", true), 2.0, 0.1);
    dec = DecodeWithFfmpeg(b);
    ASSERT_GT(dec.size(), 96000u);
    double diff = 0, level = 0;
    for (size_t i = 0; i + 1 < dec.size(); i += 2) {
        diff += std::abs(dec[i] - dec[i + 1]);
        level += std::abs(dec[i]);
    }
    EXPECT_LT(diff, level * 0.05);
}

TEST(WmaLayer, AttributesBecomeTags) {
    TempDir dir;
    const auto formats = GetAudioCodecFormats();
    const WmaCodecFormat* f = Find(formats, 44100, 2, 128000);
    ASSERT_TRUE(f);
    const std::string path = dir.file("t.wma");
    ASSERT_TRUE(WriteFile(path, *f, 44100, 2, Sine(44100, 2, 44100, 440.0),
                          {{"Title", "Titel ü"},
                           {"Author", "Artist"},
                           {"WM/AlbumArtist", "Album Artist"},
                           {"Description", "Note"},
                           {"WM/AlbumTitle", "Album"},
                           {"WM/Genre", "Jazz"},
                           {"WM/TrackNumber", "7"},
                           {"WM/Year", "1999"},
                           {"WM/Composer", "Composer"},
                           {"Copyright", "(c) Us"},
                           {"WM/Empty", ""}}));
    EXPECT_EQ(ProbeTag(path, "title"), "Titel ü");
    EXPECT_EQ(ProbeTag(path, "artist"), "Artist");
    EXPECT_EQ(ProbeTag(path, "album_artist"), "Album Artist");
    EXPECT_EQ(ProbeTag(path, "comment"), "Note");
    EXPECT_EQ(ProbeTag(path, "album"), "Album");
    EXPECT_EQ(ProbeTag(path, "genre"), "Jazz");
    EXPECT_EQ(ProbeTag(path, "track"), "7");
    EXPECT_EQ(ProbeTag(path, "WM/Year"), "1999");
    EXPECT_EQ(ProbeTag(path, "composer"), "Composer");
    EXPECT_EQ(ProbeTag(path, "copyright"), "(c) Us");
    EXPECT_EQ(ProbeTag(path, "WM/Empty"), "");

    // The layer's own reader answers the same names.
    CWmaSyncReader r;
    ASSERT_TRUE(r.Open(path));
    WmaAttribute a;
    const std::pair<const char*, const char*> expected[] = {
        {"Title", "Titel ü"},    {"Author", "Artist"},       {"WM/AlbumArtist", "Album Artist"},
        {"Description", "Note"}, {"WM/AlbumTitle", "Album"}, {"WM/Genre", "Jazz"},
        {"WM/TrackNumber", "7"}, {"WM/Year", "1999"},        {"WM/Composer", "Composer"},
        {"Copyright", "(c) Us"}};
    for (const auto& [name, value] : expected) {
        SCOPED_TRACE(name);
        ASSERT_EQ(r.GetAttributeByName(name, a), WmaResult::Ok);
        EXPECT_EQ(a.type, WmaAttrType::String);
        EXPECT_EQ(a.text, value);
    }
    EXPECT_EQ(r.GetAttributeByName("WM/Lyrics", a), WmaResult::NotFound);
    ASSERT_EQ(r.GetAttributeByName("Duration", a), WmaResult::Ok);
    EXPECT_EQ(a.type, WmaAttrType::Qword);
    EXPECT_NEAR(static_cast<double>(a.number) / kTimeUnitsPerSecond, 1.0, 0.1);
    ASSERT_EQ(r.GetAttributeByName("Bitrate", a), WmaResult::Ok);
    EXPECT_EQ(a.type, WmaAttrType::Dword);
    EXPECT_NEAR(static_cast<double>(a.number), 128000, 3000);
    r.Close();
    EXPECT_EQ(r.GetAttributeByName("Title", a), WmaResult::Failed);
}

TEST(WmaLayer, GapInSampleTimesIsFilledWithSilence) {
    TempDir dir;
    const auto formats = GetAudioCodecFormats();
    const WmaCodecFormat* f = Find(formats, 44100, 1, 64000);
    ASSERT_TRUE(f);
    const auto pcm = Sine(44100, 1, 44100, 440.0);
    const std::string path = dir.file("g.wma");
    CWmaFileWriter w;
    w.SetProfile(f->mediaType, f->bitrate);
    w.SetInputFormat(44100, 1);
    ASSERT_TRUE(w.BeginWriting(path));
    ASSERT_TRUE(w.WriteSample(0, pcm.data(), 22050));
    // Half a second later than the end of the first half.
    ASSERT_TRUE(w.WriteSample(10000000, pcm.data() + 22050, 22050));
    ASSERT_TRUE(w.EndWriting());
    EXPECT_NEAR(ProbeNumber(path, "duration", true), 1.5, 0.1);
}

TEST(WmaLayer, WriterFailuresLeaveNothingBehind) {
    TempDir dir;
    const auto formats = GetAudioCodecFormats();
    ASSERT_FALSE(formats.empty());
    const WmaCodecFormat& f = formats.back();
    const std::string path = dir.file("x.wma");

    {  // Not a WMA format.
        CWmaFileWriter w;
        WmaMediaType pcm = f.mediaType;
        pcm.formatTag = kFormatTagPcm;
        w.SetProfile(pcm, f.bitrate);
        w.SetInputFormat(44100, 2);
        EXPECT_FALSE(w.BeginWriting(path));
        EXPECT_FALSE(w.GetLastError().empty());
    }
    {  // Input of three channels.
        CWmaFileWriter w;
        w.SetProfile(f.mediaType, f.bitrate);
        w.SetInputFormat(44100, 3);
        EXPECT_FALSE(w.BeginWriting(path));
    }
    {  // A folder that does not exist.
        CWmaFileWriter w;
        w.SetProfile(f.mediaType, f.bitrate);
        w.SetInputFormat(44100, 2);
        EXPECT_FALSE(w.BeginWriting(dir.file("missing/x.wma")));
        EXPECT_FALSE(w.WriteSample(0, Sine(10, 2, 44100, 440).data(), 10));
    }
    {  // Abandoned while writing: the unfinished file goes.
        CWmaFileWriter w;
        w.SetProfile(f.mediaType, f.bitrate);
        w.SetInputFormat(44100, 2);
        ASSERT_TRUE(w.BeginWriting(path));
        EXPECT_TRUE(std::filesystem::exists(path));
        EXPECT_TRUE(w.WriteSample(0, Sine(4410, 2, 44100, 440).data(), 4410));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(WmaLayer, ReaderRefusesWhatIsNotAsf) {
    TempDir dir;
    CWmaSyncReader r;
    EXPECT_FALSE(r.Open(dir.file("none.wma")));
    const std::string wav = dir.file("a.wav");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -f lavfi -i sine=d=1 -y " + Quote(wav)),
              0);
    EXPECT_FALSE(r.Open(wav));
    EXPECT_FALSE(r.IsOpen());
    const int16_t* data;
    size_t bytes;
    int64_t time;
    EXPECT_FALSE(r.GetNextSample(data, bytes, time));
    EXPECT_FALSE(r.SelectAudioStream(1));
}
