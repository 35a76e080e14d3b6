#include "encoders/WmaFormats.h"
#include "encoders/WmaWriter.h"

#include "decoders/WmaReader.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <filesystem>

using namespace quelvox;
using namespace testsupport;

namespace {

wma::WmaCodecFormat Format(int rate, int channels, int bitrate, int tag = wma::kFormatTagWma2,
                           const std::string& text = "") {
    wma::WmaCodecFormat f;
    f.description = text;
    f.bitrate = bitrate;
    f.mediaType = {tag, channels, rate, bitrate / 8, 1000, 16};
    return f;
}

WmaFormatList ListOf(const std::vector<wma::WmaCodecFormat>& formats) {
    WmaFormatList list;
    BuildWmaFormatListFrom(formats, list);
    return list;
}

// "rate/bitrate/channels" of an item, for readable comparisons.
std::string Key(const WmaFormatItem* item) {
    if (!item) return "none";
    return std::to_string(item->mediaType.samplesPerSec) + "/" + std::to_string(item->bitrate) +
           "/" + std::to_string(item->mediaType.channels);
}

std::string Select(const WmaFormatList& list, int rate, int bitrate, int channels) {
    return Key(SelectWmaFormat(list, rate, bitrate, channels));
}

// Every container tag, by its name in lower case, from one ffprobe run.
std::map<std::string, std::string> ProbeTags(const std::string& path) {
    std::string out;
    testsupport::Run("ffprobe -v error -show_entries format_tags -of default=nw=1 " + Quote(path) +
                         " 2>/dev/null",
                     &out);
    std::map<std::string, std::string> tags;
    size_t at = 0;
    while (at < out.size()) {
        size_t nl = out.find('\n', at);
        if (nl == std::string::npos) nl = out.size();
        std::string line = out.substr(at, nl - at);
        at = nl + 1;
        if (line.rfind("TAG:", 0) != 0) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(4, eq - 4);
        for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        tags[key] = line.substr(eq + 1);
    }
    return tags;
}

}  // namespace

TEST(WmaFormats, ListOrderDuplicatesAndFilters) {
    const WmaFormatList list = ListOf({
        Format(44100, 2, 128000), Format(22050, 1, 20000), Format(44100, 2, 64000),
        Format(44100, 1, 128000),  // same rate and bit rate, mono
        Format(44100, 2, 128000),  // duplicate
        Format(48000, 2, 192000, wma::kFormatTagWmaPro),
        Format(32000, 2, 48000, wma::kFormatTagWma2, "48 kbps, 32 kHz, stereo (a/v) CBR"),
        Format(44100, 2, 96000, wma::kFormatTagPcm),
        Format(44100, 6, 256000, wma::kFormatTagWmaPro),
        Format(44100, 1, 128000),  // duplicate of the mono one
    });
    std::vector<std::string> keys;
    for (const auto& item : list) keys.push_back(Key(&item));
    EXPECT_EQ(keys, (std::vector<std::string>{"22050/20000/1", "44100/64000/2", "44100/128000/1",
                                              "44100/128000/2", "48000/192000/2"}));

    WmaFormatList built{{}};
    ASSERT_EQ(BuildWmaFormatList(built), 1);
    ASSERT_FALSE(built.empty());
    for (size_t i = 1; i < built.size(); ++i) {
        const auto& a = built[i - 1].mediaType;
        const auto& b = built[i].mediaType;
        ASSERT_TRUE(
            a.samplesPerSec < b.samplesPerSec ||
            (a.samplesPerSec == b.samplesPerSec && built[i - 1].bitrate <= built[i].bitrate));
        if (a.samplesPerSec == b.samplesPerSec && built[i - 1].bitrate == built[i].bitrate) {
            ASSERT_NE(a.channels, b.channels);
        }
    }
}

TEST(WmaFormats, SelectNearestBitrateOfExactRate) {
    const WmaFormatList list =
        ListOf({Format(44100, 2, 64000), Format(44100, 2, 96000), Format(44100, 2, 128000),
                Format(32000, 2, 128000), Format(48000, 2, 32000), Format(44100, 1, 100000)});
    EXPECT_EQ(Select(list, 44100, 100000, 2), "44100/96000/2");
    EXPECT_EQ(Select(list, 44100, 112000, 2), "44100/128000/2");  // a tie: the higher
    EXPECT_EQ(Select(list, 44100, 128000, 2), "44100/128000/2");
    EXPECT_EQ(Select(list, 44100, 500000, 2), "44100/128000/2");
    EXPECT_EQ(Select(list, 44100, 8000, 2), "44100/64000/2");
    EXPECT_EQ(Select(list, 44100, 8000, 1), "44100/100000/1");
}

TEST(WmaFormats, SelectWithoutTheExactRate) {
    // Stereo at 32000 and 48000 Hz only: the lowest 48000 Hz format.
    const WmaFormatList a =
        ListOf({Format(32000, 2, 48000), Format(32000, 2, 96000), Format(48000, 2, 128000),
                Format(48000, 2, 192000), Format(44100, 1, 64000)});
    EXPECT_EQ(Select(a, 44100, 128000, 2), "48000/128000/2");
    EXPECT_EQ(Select(a, 8000, 320000, 2), "32000/48000/2");
    // Only 22050 Hz mono: the highest of them.
    const WmaFormatList b =
        ListOf({Format(22050, 1, 20000), Format(22050, 1, 32000), Format(22050, 1, 24000)});
    EXPECT_EQ(Select(b, 44100, 20000, 1), "22050/32000/1");
    // Stereo asked of a mono-only list, or of an empty one.
    EXPECT_EQ(Select(b, 22050, 20000, 2), "none");
    EXPECT_EQ(Select(WmaFormatList{}, 44100, 128000, 2), "none");
}

TEST(WmaFormats, AutoParams) {
    struct Case {
        int rate, channels, wantRate, wantBitrate;
    };
    const Case cases[] = {
        {8000, 1, 22050, 20000},   {8000, 2, 22050, 32000},  {12000, 2, 22050, 32000},
        {12001, 1, 44100, 32000},  {16000, 2, 44100, 48000}, {22050, 1, 44100, 48000},
        {24000, 2, 44100, 64000},  {32000, 2, 44100, 96000}, {44100, 2, 44100, 128000},
        {44100, 6, 44100, 128000}, {48000, 1, 44100, 48000}, {96000, 2, 48000, 192000},
    };
    for (const Case& c : cases) {
        int rate = 0, bitrate = 0;
        WmaAutoParams(c.rate, c.channels, rate, bitrate);
        EXPECT_EQ(rate, c.wantRate) << c.rate << "/" << c.channels;
        EXPECT_EQ(bitrate, c.wantBitrate) << c.rate << "/" << c.channels;
    }
    // The automatic request for an 8000 Hz mono source finds a format.
    WmaFormatList list;
    ASSERT_EQ(BuildWmaFormatList(list), 1);
    const WmaFormatItem* item = SelectWmaFormat(list, 22050, 20000, 1);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->mediaType.samplesPerSec, 22050);
    EXPECT_EQ(item->mediaType.channels, 1);
}

// WMA, WMV and ASF outputs at list formats, from sources of other rates and
// channel counts, checked with ffprobe and read back.
TEST(WmaWriter, OutputsAtListFormats) {
    WmaFormatList list;
    ASSERT_EQ(BuildWmaFormatList(list), 1);
    struct Case {
        const char* ext;
        int rate, bitrate, channels;  // requested format
        int inRate, inChannels;       // source
    };
    const Case cases[] = {
        {"wma", 44100, 128000, 2, 44100, 2}, {"wmv", 8000, 24000, 1, 44100, 2},
        {"asf", 48000, 320000, 2, 22050, 1}, {"wma", 22050, 32000, 2, 48000, 2},
        {"wmv", 32000, 48000, 1, 32000, 1},  {"asf", 16000, 40000, 2, 44100, 2},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ext) + " " + std::to_string(c.rate) + "/" +
                     std::to_string(c.bitrate) + "/" + std::to_string(c.channels));
        const WmaFormatItem* item = SelectWmaFormat(list, c.rate, c.bitrate, c.channels);
        ASSERT_NE(item, nullptr);
        ASSERT_EQ(item->mediaType.samplesPerSec, c.rate);
        ASSERT_EQ(item->bitrate, c.bitrate);
        const std::string path = dir.file(std::string("out.") + c.ext);

        const int frames = c.inRate * 5 / 2;  // 2.5 s
        const auto pcm = Sine(frames, c.inChannels, c.inRate, 440.0);
        {
            CWmaWriter w;
            w.SetSampleRate(c.inRate);
            w.SetChannels(c.inChannels);
            w.SetBitrate(item->bitrate);
            w.SetCodecParams(item->mediaType);
            w.SetTags({.title = "Title",
                       .artist = "Artist",
                       .album = "Album",
                       .year = "2010",
                       .genre = "Rock",
                       .comment = "Comment",
                       .track = "3",
                       .composer = "Composer",
                       .copyright = "Copyright"});
            w.SetFileName(path);
            ASSERT_EQ(w.Open(), 1) << w.GetLastError();
            std::vector<int16_t> l(kBlockFrames), r(kBlockFrames);
            for (int at = 0; at < frames; at += kBlockFrames) {
                const int n = std::min(kBlockFrames, frames - at);
                for (int i = 0; i < n; ++i) {
                    l[i] = pcm[static_cast<size_t>(at + i) * c.inChannels];
                    r[i] = pcm[static_cast<size_t>(at + i) * c.inChannels + c.inChannels - 1];
                }
                ASSERT_EQ(WriteInt16(w, l.data(), c.inChannels == 2 ? r.data() : nullptr, n), 1);
            }
            w.Close();
        }
        EXPECT_EQ(Probe(path, "format_name", true), "asf");
        EXPECT_EQ(Probe(path, "codec_name"), "wmav2");
        EXPECT_EQ(std::atoi(Probe(path, "sample_rate").c_str()), c.rate);
        EXPECT_EQ(std::atoi(Probe(path, "channels").c_str()), c.channels);
        EXPECT_NEAR(ProbeNumber(path, "bit_rate"), c.bitrate, c.bitrate * 0.02);
        std::string packet;
        testsupport::Run(
            "ffprobe -v error -select_streams a:0 -read_intervals %+#1 "
            "-show_entries packet=duration_time -of default=nw=1:nk=1 " +
                Quote(path),
            &packet);
        const double packetSeconds = std::atof(packet.c_str());
        ASSERT_GT(packetSeconds, 0.0);
        // The stream also holds the frame the encoder's delay adds.
        EXPECT_NEAR(ProbeNumber(path, "duration", true), 2.5 + packetSeconds,
                    packetSeconds + 0.002);
        const auto tags = ProbeTags(path);
        const std::map<std::string, std::string> expected = {{"title", "Title"},
                                                             {"artist", "Artist"},
                                                             {"album_artist", "Artist"},
                                                             {"comment", "Comment"},
                                                             {"album", "Album"},
                                                             {"genre", "Rock"},
                                                             {"track", "3"},
                                                             {"wm/year", "2010"},
                                                             {"composer", "Composer"},
                                                             {"copyright", "Copyright"}};
        for (const auto& [key, value] : expected) {
            auto it = tags.find(key);
            ASSERT_NE(it, tags.end()) << key;
            EXPECT_EQ(it->second, value) << key;
        }

        CWmaReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        EXPECT_EQ(reader.GetSampleRate(), c.rate);
        EXPECT_EQ(reader.GetOutputChannels(), c.channels);
        EXPECT_EQ(reader.GetDuration(), 2);
        TagInfo t;
        reader.ReadTags(t);
        EXPECT_EQ(t.title, "Title");
        EXPECT_EQ(t.artist, "Artist");
        EXPECT_EQ(t.album, "Album");
        EXPECT_EQ(t.year, "2010");
        EXPECT_EQ(t.genre, "Rock");
        EXPECT_EQ(t.comment, "Comment");
        EXPECT_EQ(t.track, "3");
        EXPECT_EQ(t.composer, "Composer");
        EXPECT_EQ(t.copyright, "Copyright");
    }
}

TEST(WmaWriter, NoTagsWithoutSetTags) {
    WmaFormatList list;
    ASSERT_EQ(BuildWmaFormatList(list), 1);
    const WmaFormatItem* item = SelectWmaFormat(list, 44100, 64000, 1);
    ASSERT_NE(item, nullptr);
    TempDir dir;
    const std::string path = dir.file("plain.wma");
    CWmaWriter w;
    w.SetSampleRate(44100);
    w.SetChannels(1);
    w.SetBitrate(item->bitrate);
    w.SetCodecParams(item->mediaType);
    w.SetFileName(path);
    ASSERT_EQ(w.Open(), 1);
    const auto pcm = Sine(44100, 1, 44100, 440.0);
    EXPECT_EQ(WriteInt16(w, pcm.data(), nullptr, 0), 1);
    ASSERT_EQ(WriteInt16(w, pcm.data(), nullptr, 1152), 1);
    EXPECT_EQ(w.GetSampleTime(), 261224);
    for (int i = 1; i < 38; ++i) WriteInt16(w, pcm.data() + 1152 * i, nullptr, 1152);
    // The time follows the frame total: no truncation piles up.
    EXPECT_EQ(w.GetSampleTime(), 38LL * 1152 * 10000000 / 44100);
    w.Close();
    w.Close();
    EXPECT_EQ(ProbeTag(path, "title"), "");
    EXPECT_EQ(ProbeTag(path, "track"), "");
    // The stream also holds the frame (2048 samples) the encoder's delay adds.
    EXPECT_NEAR(ProbeNumber(path, "duration", true), (38 * 1152 + 2048) / 44100.0, 0.05);
}

TEST(WmaWriter, OpenFailuresLeaveNoFile) {
    WmaFormatList list;
    ASSERT_EQ(BuildWmaFormatList(list), 1);
    const WmaFormatItem& item = list.back();
    TempDir dir;
    const std::string path = dir.file("x.wma");
    int16_t block[kBlockFrames] = {};
    {
        CWmaWriter w;  // no format chosen
        w.SetSampleRate(44100);
        w.SetChannels(2);
        w.SetFileName(path);
        EXPECT_EQ(w.Open(), 0);
        EXPECT_EQ(WriteInt16(w, block, block, kBlockFrames), 0);
    }
    {
        CWmaWriter w;  // three input channels
        w.SetSampleRate(44100);
        w.SetChannels(3);
        w.SetCodecParams(item.mediaType);
        w.SetFileName(path);
        EXPECT_EQ(w.Open(), 0);
    }
    {
        CWmaWriter w;  // a folder that does not exist
        w.SetSampleRate(44100);
        w.SetChannels(2);
        w.SetCodecParams(item.mediaType);
        w.SetFileName(dir.file("no/x.wma"));
        EXPECT_EQ(w.Open(), 0);
        EXPECT_FALSE(w.GetLastError().empty());
    }
    {
        CWmaWriter w;  // a format the encoder does not produce
        wma::WmaMediaType pro = item.mediaType;
        pro.formatTag = wma::kFormatTagWmaPro;
        w.SetSampleRate(44100);
        w.SetChannels(2);
        w.SetCodecParams(pro);
        w.SetFileName(path);
        EXPECT_EQ(w.Open(), 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}
