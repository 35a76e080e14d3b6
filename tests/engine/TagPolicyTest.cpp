#include "engine/TagPolicy.h"
#include "common/TagInfo.h"

#include "common/InputType.h"
#include "decoders/BassReader.h"
#include "platform/bass/BassRuntime.h"
#include "common/FormatCatalogue.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

// The arguments of one SetTags call.
struct TagCall {
    std::string title, artist, album, genre, year, comment, composer, copyright;
    int track = 0;
    bool operator==(const TagCall&) const = default;
};

void PrintTo(const TagCall& c, std::ostream* os) {
    *os << "{" << c.title << "|" << c.artist << "|" << c.album << "|" << c.genre << "|" << c.year
        << "|" << c.comment << "|" << c.composer << "|" << c.copyright << "|" << c.track << "}";
}

// The track as the writers read it.
TagCall CallOf(const TagInfo& t) {
    return {t.title,   t.artist,   t.album,     t.genre, t.year,
            t.comment, t.composer, t.copyright, ParseDecimal(t.track)};
}

class FakeWriter : public CAudioWriter {
public:
    void SetTags(const TagInfo& t) override { calls.push_back(CallOf(t)); }
    void SetFileName(const std::string&) override {}
    int Open() override { return 1; }
    int WriteBlock(const AudioBlock&) override { return 1; }
    void Close() override {}

    std::vector<TagCall> calls;
};

// Answers ReadTags with the given texts and result.
class FakeReader : public CAudioReader {
public:
    FakeReader() = default;
    FakeReader(const TagInfo& t, int found) : tags(t), result(found) {}
    void Close() override {}
    int Open(const std::string&, int) override { return 1; }
    int ReadBlock(AudioBlock&) override { return 0; }
    int ReadTags(TagInfo& t) override {
        ++readCount;
        t = tags;
        return result;
    }

    TagInfo tags;
    int result = 0;
    int readCount = 0;
};

CSettings CustomSettings() {
    CSettings s("");
    s.ID3TagType = kTagsCustom;
    s.Title = "Custom Title";
    s.Artist = "Artist";
    s.Album = "Album";
    s.Year = "1999";
    s.Genre = "Jazz";
    s.Comment = "Comment";
    s.Composer = "Composer";
    s.Copyright = "(c) Someone";
    s.TitleAsFileName = 0;
    s.TrackNumType = kTrackNone;
    return s;
}

FileEntry Entry(const std::string& path, int inputType = kInputMp3) {
    FileEntry e;
    e.Path = path;
    e.InputType = inputType;
    return e;
}

// Runs the per-file policy for a listed file converted from itself: the
// tags it found for the output, or none.
std::optional<TagCall> Apply(const CSettings& s, const FileEntry& entry, CAudioReader& reader,
                             int index = 1, int format = kFormatMp3) {
    FakeWriter w;
    TagInfo handed;
    const bool tagged = ApplyTagPolicy(reader, w, entry, format, s, &entry, index, &handed);
    // The writer receives them only where TagLib does not write them later.
    const bool byWriter = tagged && FormatTagFile(format) == TagFileKind::None;
    EXPECT_EQ(w.calls.size(), byWriter ? 1u : 0u);
    if (byWriter) EXPECT_EQ(w.calls[0], CallOf(handed));
    if (!tagged) return std::nullopt;
    return CallOf(handed);
}

std::string TitleOf(const std::string& path) {
    CSettings s = CustomSettings();
    s.TitleAsFileName = 1;
    FakeReader r;
    auto call = Apply(s, Entry(path), r);
    return call ? call->title : "<no call>";
}

}  // namespace

TEST(CustomTags, HandsTheCustomValuesInWriterOrder) {
    FakeReader r;
    EXPECT_EQ(Apply(CustomSettings(), Entry("/m/x.mp3"), r),
              (TagCall{"Custom Title", "Artist", "Album", "Jazz", "1999", "Comment", "Composer",
                       "(c) Someone", 0}));
    EXPECT_EQ(r.readCount, 0);  // the source's own tags are not consulted
}

TEST(CustomTags, TitleFromTheFileNameCutAtItsLastDot) {
    EXPECT_EQ(TitleOf("/music/a.b.mp3"), "a.b");
    EXPECT_EQ(TitleOf("/music/a.b/song.live.mp3"), "song.live");
    EXPECT_EQ(TitleOf("/music/a.b/README"), "README");
    EXPECT_EQ(TitleOf("plain"), "plain");
    EXPECT_EQ(TitleOf("/音乐/歌曲.flac"), "歌曲");
}

TEST(CustomTags, TitleComesFromTheListedFileNotATemporarySubstitute) {
    CSettings s = CustomSettings();
    s.TitleAsFileName = 1;
    FileEntry listed = Entry("/cd/Track 03.cda", kInputCdTrack);
    FileEntry temp = Entry("/tmp/qv1234.dts", kInputDts);
    FakeReader r;
    FakeWriter w;
    TagInfo handed;
    ASSERT_TRUE(ApplyTagPolicy(r, w, temp, kFormatMp3, s, &listed, 3, &handed));
    EXPECT_EQ(handed.title, "Track 03");
}

TEST(CustomTags, TrackNumberByTrackNumType) {
    CSettings s = CustomSettings();
    s.CustomTrackNum = 5;
    FakeReader r;
    const FileEntry e = Entry("/m/x.mp3");

    s.TrackNumType = kTrackNone;
    EXPECT_EQ(Apply(s, e, r, 4).value().track, 0);

    // Run positions: the second file of the run failed, so only the first
    // and the third produce output, and they keep their own positions.
    s.TrackNumType = kTrackRunPosition;
    EXPECT_EQ(Apply(s, e, r, 1).value().track, 1);
    EXPECT_EQ(Apply(s, e, r, 3).value().track, 3);

    s.TrackNumType = kTrackCustom;
    EXPECT_EQ(Apply(s, e, r, 1).value().track, 5);
    EXPECT_EQ(Apply(s, e, r, 2).value().track, 5);
}

TEST(CarryOverTags, PassesTheReadersTagsWithTheTrackReadAsANumber) {
    CSettings s("");
    s.ID3TagType = kTagsFromSource;
    TagInfo t;
    t.title = "T";
    t.artist = "A";
    t.album = "B";
    t.year = "2001";
    t.genre = "Rock";
    t.comment = "C";
    t.track = "7/12";
    t.composer = "Co";
    t.copyright = "Cp";
    FakeReader r(t, 1);
    EXPECT_EQ(Apply(s, Entry("/m/x.mp3"), r),
              (TagCall{"T", "A", "B", "Rock", "2001", "C", "Co", "Cp", 7}));

    r.tags.track = "";
    EXPECT_EQ(Apply(s, Entry("/m/x.mp3"), r).value().track, 0);
    r.tags.track = "side A";
    EXPECT_EQ(Apply(s, Entry("/m/x.mp3"), r).value().track, 0);
}

TEST(CarryOverTags, NoTagsFoundMeansNoCall) {
    CSettings s("");
    s.ID3TagType = kTagsFromSource;
    TagInfo t;
    t.title = "ignored";  // texts without a found flag do not count
    FakeReader r(t, 0);
    EXPECT_FALSE(Apply(s, Entry("/m/x.mp3"), r));
    EXPECT_EQ(r.readCount, 1);
}

TEST(CarryOverTags, WavSourceFallsBackToItsRiffInfoTags) {
    TempDir dir;
    const std::string wav = dir.file("tagged.wav");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -y -f lavfi -i sine=duration=0.1 "
                               "-metadata title='Info Title' -metadata artist='Info Artist' "
                               "-metadata date=2009-05-01 " +
                               Quote(wav)),
              0);
    ASSERT_EQ(ProbeTag(wav, "title"), "Info Title");

    CSettings s("");
    s.ID3TagType = kTagsFromSource;
    FakeReader untagged;
    auto call = Apply(s, Entry(wav, kInputWav), untagged);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->title, "Info Title");
    EXPECT_EQ(call->artist, "Info Artist");
    EXPECT_EQ(call->year, "2009");

    // The reader's own tags win when it has any.
    TagInfo t;
    t.title = "Reader Title";
    FakeReader tagged(t, 1);
    EXPECT_EQ(Apply(s, Entry(wav, kInputWav), tagged).value().title, "Reader Title");

    // The fallback is only for WAV sources.
    FakeReader other;
    EXPECT_FALSE(Apply(s, Entry(wav, kInputOther), other));
}

TEST(TagPolicy, TaglessFormatsNeverReceiveTags) {
    const int tagless[] = {kFormatMmf, kFormatWav, kFormatFlv, kFormatAu, kFormatAiff,
                           kFormatAmr, kFormatAwb, kFormatSwf, kFormatVoc};
    TagInfo t;
    t.title = "T";
    for (int policy : {kTagsCustom, kTagsFromSource}) {
        CSettings s = CustomSettings();
        s.ID3TagType = policy;
        for (int format : tagless) {
            FakeReader r(t, 1);
            EXPECT_FALSE(Apply(s, Entry("/m/x.mp3"), r, 1, format)) << format;
            FakeWriter w;
            EXPECT_FALSE(ApplyMergedTagPolicy(w, format, s));
            EXPECT_TRUE(w.calls.empty());
        }
    }
    // Every other catalogue format receives the custom tags.
    for (const OutputFormatEntry& f : BuildFormatCatalogue()) {
        EXPECT_EQ(IsTaglessFormat(f.code),
                  std::find(std::begin(tagless), std::end(tagless), f.code) != std::end(tagless));
        FakeReader r;
        EXPECT_EQ(Apply(CustomSettings(), Entry("/m/x.mp3"), r, 1, f.code).has_value(),
                  !IsTaglessFormat(f.code))
            << f.code;
    }
}

TEST(TagPolicy, EachContainerHasOneTagWriter) {
    // Where TagLib writes a format's tags onto the finished file, the muxer
    // is given none; elsewhere the muxer is the only writer.
    for (const OutputFormatEntry& f : BuildFormatCatalogue()) {
        if (IsTaglessFormat(f.code)) continue;
        const bool byTagLib = FormatTagFile(f.code) != TagFileKind::None;
        FakeWriter w;
        TagInfo handed;
        FakeReader r;
        ASSERT_TRUE(ApplyTagPolicy(r, w, Entry("/m/x.mp3"), f.code, CustomSettings(), nullptr, 1,
                                   &handed));
        EXPECT_EQ(w.calls.size(), byTagLib ? 0u : 1u) << f.code;
        FakeWriter merged;
        ASSERT_TRUE(ApplyMergedTagPolicy(merged, f.code, CustomSettings(), {}, &handed));
        EXPECT_EQ(merged.calls.size(), byTagLib ? 0u : 1u) << f.code;
        EXPECT_EQ(handed.artist, "Artist") << f.code;
    }
}

TEST(TagPolicy, OtherPolicyValuesWriteNoTags) {
    TagInfo t;
    t.title = "T";
    for (int policy : {static_cast<int>(kTagsNone), 3, -1}) {
        CSettings s = CustomSettings();
        s.ID3TagType = policy;
        FakeReader r(t, 1);
        EXPECT_FALSE(Apply(s, Entry("/m/x.mp3"), r)) << policy;
        FakeWriter w;
        EXPECT_FALSE(ApplyMergedTagPolicy(w, kFormatMp3, s));
    }
}

TEST(MergedTags, CustomValuesWithTrackZero) {
    CSettings s = CustomSettings();
    s.TrackNumType = kTrackCustom;
    s.CustomTrackNum = 9;
    FakeWriter w;
    TagInfo handed;
    ASSERT_TRUE(ApplyMergedTagPolicy(w, kFormatOgg, s, {}, &handed));
    EXPECT_EQ(CallOf(handed), (TagCall{"Custom Title", "Artist", "Album", "Jazz", "1999",
                                       "Comment", "Composer", "(c) Someone", 0}));

    // No single file names a merged output.
    s.TitleAsFileName = 1;
    FakeWriter w2;
    ASSERT_TRUE(ApplyMergedTagPolicy(w2, kFormatOgg, s, {}, &handed));
    EXPECT_EQ(handed.title, "");
    EXPECT_EQ(handed.artist, "Artist");
}

TEST(MergedTags, CarryOverTakesTheFirstSourceThatHasTags) {
    CSettings s = CustomSettings();
    s.ID3TagType = kTagsFromSource;
    FakeWriter w;
    EXPECT_FALSE(ApplyMergedTagPolicy(w, kFormatMp3, s));
    EXPECT_TRUE(w.calls.empty());

    // An untagged intro first: the album comes from the next file.
    TempDir dir;
    const std::string tone = "-f lavfi -i sine=duration=0.2 ";
    FileEntry intro = Entry(MakeWithFfmpeg(dir, "intro.wav", tone), kInputWav);
    FileEntry song = Entry(MakeWithFfmpeg(dir, "song.mp3", tone +
                                                               "-metadata album=Album "
                                                               "-metadata artist=Band "
                                                               "-metadata title=Song"));
    FileEntry* sources[] = {&intro, &song};
    TagInfo handed;
    ASSERT_TRUE(ApplyMergedTagPolicy(w, kFormatMp3, s, sources, &handed));
    EXPECT_EQ(handed.album, "Album");
    EXPECT_EQ(handed.artist, "Band");
    EXPECT_EQ(handed.title, "");  // a track's own field
    FileEntry* untagged[] = {&intro};
    EXPECT_FALSE(ApplyMergedTagPolicy(w, kFormatMp3, s, untagged));
}

TEST(CarryOverTags, WavInfoTagsAreDecidedByTheRiffInfoReader) {
    // A WAV file whose only tags are INFO and DISP chunks: the decoding
    // layer reports none of them, so the RIFF INFO reader supplies the
    // display title, the genre name for "(17)" and the track.
    std::vector<uint8_t> wav = WavFileBytes(1, 1, 8000, 16, std::vector<uint8_t>(1600, 0));
    auto append = [&wav](const std::string& id, const std::vector<uint8_t>& body) {
        wav.insert(wav.end(), id.begin(), id.end());
        PutLe32(wav, static_cast<uint32_t>(body.size()));
        wav.insert(wav.end(), body.begin(), body.end());
        if (body.size() % 2) wav.push_back(0);
    };
    auto text = [](const std::string& s) {
        std::vector<uint8_t> v(s.begin(), s.end());
        v.push_back(0);
        return v;
    };
    std::vector<uint8_t> info = {'I', 'N', 'F', 'O'};
    for (const auto& [id, value] : std::vector<std::pair<std::string, std::string>>{
             {"IART", "Artist"}, {"IGNR", "(17)"}, {"ICRD", "2009-05-01"}, {"ITRK", "3"}}) {
        info.insert(info.end(), id.begin(), id.end());
        const std::vector<uint8_t> body = text(value);
        PutLe32(info, static_cast<uint32_t>(body.size()));
        info.insert(info.end(), body.begin(), body.end());
        if (body.size() % 2) info.push_back(0);
    }
    append("LIST", info);
    std::vector<uint8_t> disp = {1, 0, 0, 0};
    const std::vector<uint8_t> title = text("显示标题");
    disp.insert(disp.end(), title.begin(), title.end());
    append("DISP", disp);
    const uint32_t riffSize = static_cast<uint32_t>(wav.size() - 8);
    for (int i = 0; i < 4; ++i)
        wav[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(riffSize >> (8 * i));

    TempDir dir;
    const std::string path = dir.file("info.wav");
    WriteFile(path, wav);
    bass::CBassRuntime rt;
    rt.Init();
    CBassReader reader(rt);
    ASSERT_EQ(reader.Open(path, 0), 1);
    CSettings s("");
    s.ID3TagType = kTagsFromSource;
    auto call = Apply(s, Entry(path, kInputWav), reader);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->title, "显示标题");
    EXPECT_EQ(call->artist, "Artist");
    EXPECT_EQ(call->genre, "Rock");
    EXPECT_EQ(call->year, "2009");
    EXPECT_EQ(call->track, 3);
}
