#include "decoders/RiffInfo.h"

#include "common/TextCodec.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace quelvox;
using namespace testsupport;

namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }
void Append(Bytes& v, const Bytes& s) { v.insert(v.end(), s.begin(), s.end()); }

// A chunk with the given id and body; `size` overrides the stored size
// (a lying size), and `pad` adds the pad byte after an odd body.
Bytes Chunk(const std::string& id, const Bytes& body, bool pad = true, int64_t size = -1) {
    Bytes v;
    Append(v, id);
    PutLe32(v, static_cast<uint32_t>(size < 0 ? body.size() : size));
    Append(v, body);
    if (pad && body.size() % 2) v.push_back(0);
    return v;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes TextZ(const std::string& s) {
    Bytes v = Text(s);
    v.push_back(0);
    return v;
}

Bytes List(const std::string& type, const Bytes& subchunks, int64_t size = -1) {
    Bytes body = Text(type);
    Append(body, subchunks);
    return Chunk("LIST", body, true, size < 0 ? -1 : size);
}

// "fmt " and a short "data" chunk: 16-bit mono PCM at 8000 Hz.
Bytes FmtAndData(int frames = 100) {
    Bytes fmt;
    PutLe16(fmt, 1);
    PutLe16(fmt, 1);
    PutLe32(fmt, 8000);
    PutLe32(fmt, 16000);
    PutLe16(fmt, 2);
    PutLe16(fmt, 16);
    Bytes v = Chunk("fmt ", fmt);
    Bytes data(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37);
    Append(v, Chunk("data", data));
    return v;
}

Bytes Wave(const Bytes& chunks) {
    Bytes v = Text("RIFF");
    PutLe32(v, static_cast<uint32_t>(chunks.size() + 4));
    Append(v, "WAVE");
    Append(v, chunks);
    return v;
}

struct Result {
    int found = 0;
    TagInfo tags;
};

Result ReadBytes(const TempDir& dir, const Bytes& bytes) {
    const std::string path = dir.file("t.wav");
    WriteFile(path, bytes);
    Result r;
    r.tags.title = "stale";  // must be emptied
    r.tags.composer = "stale";
    r.found = ReadRiffInfoTags(path, r.tags);
    return r;
}

bool AllEmpty(const TagInfo& t) {
    return t.title.empty() && t.artist.empty() && t.album.empty() && t.year.empty() &&
           t.genre.empty() && t.comment.empty() && t.track.empty() && t.composer.empty() &&
           t.copyright.empty();
}

bool IsValidUtf8(const std::string& s) { return SanitizeUtf8(s) == s; }

}  // namespace

TEST(RiffInfo, ReadsTheTagsFfmpegWrites) {
    TempDir dir;
    const std::string wav = dir.file("ff.wav");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -y -f lavfi -i sine=duration=0.2 "
                               "-metadata title='A Title' -metadata artist='An Artist' "
                               "-metadata album='An Album' -metadata genre=Ambient "
                               "-metadata comment='Some words' -metadata copyright='(c) X' "
                               "-metadata date=2009-05-01 -metadata title2=x " +
                               Quote(wav)),
              0);
    TagInfo t;
    ASSERT_NE(ReadRiffInfoTags(wav, t), 0);
    EXPECT_EQ(t.title, ProbeTag(wav, "title"));
    EXPECT_EQ(t.title, "A Title");
    EXPECT_EQ(t.artist, "An Artist");
    EXPECT_EQ(t.album, "An Album");
    EXPECT_EQ(t.genre, "Ambient");
    EXPECT_EQ(t.comment, "Some words");
    EXPECT_EQ(t.copyright, "(c) X");
    EXPECT_EQ(t.year, "2009");
    EXPECT_TRUE(t.composer.empty());
}

TEST(RiffInfo, FieldsByIdentifier) {
    TempDir dir;
    Bytes info;
    for (auto [id, text] : {std::pair{"INAM", "Title"},
                            {"IART", "Artist"},
                            {"IPRD", "Album"},
                            {"IGNR", "Genre"},
                            {"ICMT", "Comment"},
                            {"ICOP", "Copyright"},
                            {"ICRD", "1987"},
                            {"IPRT", "7"},
                            {"ITRK", "4/9"},
                            {"ICMS", "not a composer"}})
        Append(info, Chunk(id, TextZ(text)));
    Bytes chunks = FmtAndData();
    Append(chunks, List("INFO", info));
    Result r = ReadBytes(dir, Wave(chunks));
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.tags.title, "Title");
    EXPECT_EQ(r.tags.artist, "Artist");
    EXPECT_EQ(r.tags.album, "Album");
    EXPECT_EQ(r.tags.genre, "Genre");
    EXPECT_EQ(r.tags.comment, "Comment");
    EXPECT_EQ(r.tags.copyright, "Copyright");
    EXPECT_EQ(r.tags.year, "1987");
    EXPECT_EQ(r.tags.track, "4/9");
    EXPECT_EQ(r.tags.composer, "");

    // IPRT, as some writers number the track, counts without an ITRK.
    Result part = ReadBytes(dir, Wave([] {
        Bytes c = FmtAndData();
        Append(c, List("INFO", Chunk("IPRT", TextZ("5"))));
        return c;
    }()));
    EXPECT_EQ(part.tags.track, "5");
}

TEST(RiffInfo, OddSizesPadBytesAndGarbageBetweenChunks) {
    TempDir dir;
    Bytes info = Chunk("INAM", Text("Hello"));        // odd, padded
    Append(info, Bytes{0x00, 0x7F, 0xFF});            // stray bytes
    Append(info, Chunk("IART", Text("Bob"), false));  // odd, unpadded
    Append(info, Chunk("ISFT", Text("INAMfake")));    // skipped whole
    Append(info, Chunk("IPRD", Text("LP")));
    Bytes chunks = Chunk("junk", Text("odd"), false);  // unpadded at top level
    Append(chunks, Bytes{0x00, 0x01, 0x02, 0xFE});
    Append(chunks, FmtAndData(51));
    Append(chunks, List("INFO", info));
    Result r = ReadBytes(dir, Wave(chunks));
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.tags.title, "Hello");
    EXPECT_EQ(r.tags.artist, "Bob");
    EXPECT_EQ(r.tags.album, "LP");
}

TEST(RiffInfo, ZeroSizesAndRepeatedIdentifiers) {
    TempDir dir;
    Bytes info = Chunk("INAM", {});
    Append(info, Chunk("IART", TextZ("First")));
    Append(info, Chunk("IART", TextZ("Second")));      // the later one wins
    Append(info, Chunk("inam", TextZ("lower case")));  // never matches
    Bytes chunks = Chunk("zero", {});
    Append(chunks, FmtAndData());
    Append(chunks, List("INFO", info));
    Result r = ReadBytes(dir, Wave(chunks));
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.tags.title, "");
    EXPECT_EQ(r.tags.artist, "Second");
}

TEST(RiffInfo, SizesThatLie) {
    TempDir dir;
    // A sub-chunk claiming more than the body holds: the text is what is
    // there.
    Bytes info = Chunk("IART", TextZ("Artist"));
    Append(info, Chunk("INAM", Text("Cut short"), false, 100000));
    Bytes chunks = FmtAndData();
    // The LIST chunk claims far more than the file holds.
    Append(chunks, List("INFO", info, 0x7FFFFFF0));
    Result r = ReadBytes(dir, Wave(chunks));
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.tags.artist, "Artist");
    EXPECT_EQ(r.tags.title, "Cut short");

    // A data chunk claiming more than the file: nothing after it is reached.
    Bytes late = Chunk("data", Bytes(10), true, 0xFFFFFFFF);
    Append(late, List("INFO", Chunk("INAM", TextZ("unreachable"))));
    r = ReadBytes(dir, Wave(late));
    EXPECT_EQ(r.found, 0);
    EXPECT_TRUE(AllEmpty(r.tags));

    // Skipped sub-chunks and IGRE with overrunning sizes end the parsing.
    info = Chunk("INAM", TextZ("Kept"));
    Append(info, Chunk("ISFT", Text("x"), false, 5000));
    Append(info, Chunk("IART", TextZ("never")));
    r = ReadBytes(dir, Wave(List("INFO", info)));
    EXPECT_EQ(r.tags.title, "Kept");
    EXPECT_EQ(r.tags.artist, "");
    r = ReadBytes(dir, Wave(List("INFO", Chunk("IGRE", Bytes{8}, false, 5000))));
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.tags.genre, "Jazz");
    // An identifier whose size field is cut off by the end of the body.
    Bytes tail = Text("INFOINAM");
    Append(tail, Bytes{5, 0});
    Bytes cut = Text("LIST");
    PutLe32(cut, static_cast<uint32_t>(tail.size()));
    Append(cut, tail);
    r = ReadBytes(dir, Wave(cut));
    EXPECT_EQ(r.found, 0);
    EXPECT_TRUE(AllEmpty(r.tags));
}

TEST(RiffInfo, ManyChunksBeforeTheTags) {
    TempDir dir;
    Bytes chunks;
    for (int i = 0; i < 3000; ++i) Append(chunks, Chunk("junk", Bytes(static_cast<size_t>(i % 7))));
    Append(chunks, FmtAndData(2000));
    Append(chunks, List("INFO", Chunk("INAM", TextZ("Found"))));
    EXPECT_EQ(ReadBytes(dir, Wave(chunks)).tags.title, "Found");
}

TEST(RiffInfo, GenreNumbersAndYear) {
    TempDir dir;
    auto genreOf = [&](const Bytes& info) {
        return ReadBytes(dir, Wave(List("INFO", info))).tags.genre;
    };
    EXPECT_EQ(genreOf(Chunk("IGNR", TextZ("(17)"))), "Rock");
    EXPECT_EQ(genreOf(Chunk("IGNR", TextZ("(200)"))), "(200)");
    EXPECT_EQ(genreOf(Chunk("IGNR", TextZ("(x)"))), "(x)");
    EXPECT_EQ(genreOf(Chunk("IGRE", Bytes{8})), "Jazz");
    EXPECT_EQ(genreOf(Chunk("IGRE", Bytes{200})), "");
    Bytes both = Chunk("IGRE", Bytes{8});
    Append(both, Chunk("IGNR", TextZ("Polka")));
    EXPECT_EQ(genreOf(both), "Polka");

    Result r = ReadBytes(dir, Wave(List("INFO", Chunk("ICRD", TextZ("2009-05-01")))));
    EXPECT_EQ(r.tags.year, "2009");
    // Cut by characters, never inside a multibyte one.
    r = ReadBytes(dir, Wave(List("INFO", Chunk("ICRD", TextZ("二〇〇九年五月")))));
    EXPECT_EQ(r.tags.year, "二〇〇九");
}

TEST(RiffInfo, DisplayTextGivesTheTitleWhenThereIsNoInam) {
    TempDir dir;
    Bytes disp;
    PutLe32(disp, 1);
    Append(disp, TextZ("Display"));
    Bytes chunks = Chunk("DISP", disp);
    Append(chunks, FmtAndData());
    Result r = ReadBytes(dir, Wave(chunks));
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.tags.title, "Display");

    Append(chunks, List("INFO", Chunk("INAM", TextZ("Name"))));
    EXPECT_EQ(ReadBytes(dir, Wave(chunks)).tags.title, "Name");

    // A DISP chunk of another type (a bitmap, say) is skipped.
    Bytes bitmap;
    PutLe32(bitmap, 8);
    Append(bitmap, Text("DIBDATA!"));
    Bytes other = Chunk("DISP", bitmap);
    Append(other, FmtAndData());
    r = ReadBytes(dir, Wave(other));
    EXPECT_EQ(r.found, 0);
    EXPECT_TRUE(AllEmpty(r.tags));
}

TEST(RiffInfo, OnlyListChunksOfTypeInfo) {
    TempDir dir;
    Bytes chunks = List("adtl", Chunk("INAM", TextZ("not info")));
    Append(chunks, FmtAndData());
    Result r = ReadBytes(dir, Wave(chunks));
    EXPECT_EQ(r.found, 0);
    EXPECT_TRUE(AllEmpty(r.tags));

    // A later INFO list replaces an earlier one.
    Bytes two = List("INFO", Chunk("IART", TextZ("Old")));
    Append(two, FmtAndData());
    Append(two, List("INFO", Chunk("INAM", TextZ("New"))));
    r = ReadBytes(dir, Wave(two));
    EXPECT_EQ(r.tags.title, "New");
    EXPECT_EQ(r.tags.artist, "");
}

TEST(RiffInfo, FilesWithoutTagsOrNotWave) {
    TempDir dir;
    Result r = ReadBytes(dir, Wave(FmtAndData()));
    EXPECT_EQ(r.found, 0);
    EXPECT_TRUE(AllEmpty(r.tags));

    Bytes notWave = Wave(List("INFO", Chunk("INAM", TextZ("x"))));
    notWave[8] = 'A';  // "AAVE"
    r = ReadBytes(dir, notWave);
    EXPECT_EQ(r.found, 0);
    EXPECT_TRUE(AllEmpty(r.tags));
    r = ReadBytes(dir, Text("RIFF"));
    EXPECT_EQ(r.found, 0);
    EXPECT_TRUE(AllEmpty(r.tags));

    TagInfo t;
    t.title = "stale";
    EXPECT_EQ(ReadRiffInfoTags(dir.file("missing.wav"), t), 0);
    EXPECT_TRUE(AllEmpty(t));
    t.title = "stale";
    EXPECT_EQ(ReadRiffInfoTags(dir.path().string(), t), 0);  // a folder
    EXPECT_TRUE(AllEmpty(t));
}

TEST(RiffInfo, TextBecomesValidUtf8) {
    TempDir dir;
    Bytes info = Chunk("INAM", TextZ("Grüße 你好"));
    // "你好" in code page 936: not UTF-8.
    Append(info, Chunk("IART", Bytes{0xC4, 0xE3, 0xBA, 0xC3, 0x00}));
    Result r = ReadBytes(dir, Wave(List("INFO", info)));
    EXPECT_EQ(r.tags.title, "Grüße 你好");
    EXPECT_FALSE(r.tags.artist.empty());
    EXPECT_TRUE(IsValidUtf8(r.tags.artist));
}

TEST(RiffInfo, TruncatedAtEveryLength) {
    TempDir dir;
    Bytes info = Chunk("INAM", TextZ("Title"));
    Append(info, Chunk("IGRE", Bytes{17}));
    Append(info, Chunk("ICRD", TextZ("2009-05-01")));
    Bytes chunks = FmtAndData(20);
    Append(chunks, List("INFO", info));
    const Bytes full = Wave(chunks);
    for (size_t n = 0; n <= full.size(); ++n) {
        Result r = ReadBytes(dir, Bytes(full.begin(), full.begin() + n));
        // Whatever was found is a prefix of the real value.
        EXPECT_EQ(std::string("Title").compare(0, r.tags.title.size(), r.tags.title), 0) << n;
        EXPECT_TRUE(r.tags.genre.empty() || r.tags.genre == "Rock") << n;
        if (n == full.size()) {
            EXPECT_EQ(r.tags.title, "Title");
            EXPECT_EQ(r.tags.genre, "Rock");
            EXPECT_EQ(r.tags.year, "2009");
        }
    }
}

TEST(RiffInfo, RandomDataNeverBreaksTheReader) {
    TempDir dir;
    std::mt19937 rng(12345);
    Bytes info = Chunk("INAM", TextZ("Title"));
    Append(info, Chunk("IGNR", TextZ("(3)")));
    Append(info, Chunk("IGRE", Bytes{1}));
    Append(info, Chunk("ISFT", TextZ("tool")));
    Bytes disp;
    PutLe32(disp, 1);
    Append(disp, TextZ("Shown"));
    Bytes chunks = Chunk("DISP", disp);
    Append(chunks, FmtAndData(30));
    Append(chunks, List("INFO", info));
    const Bytes valid = Wave(chunks);

    for (int round = 0; round < 600; ++round) {
        Bytes v;
        if (round % 3 == 0) {
            // RIFF/WAVE header and random bytes, rich in identifier letters.
            v = Wave({});
            const size_t len = rng() % 2048;
            const std::string alphabet = "INFOLISTDISPAMRGEC\x01\x00\xFF";
            for (size_t i = 0; i < len; ++i)
                v.push_back(rng() % 2 ? static_cast<uint8_t>(rng())
                                      : static_cast<uint8_t>(alphabet[rng() % alphabet.size()]));
        } else {
            // A valid file with a few bytes changed.
            v = valid;
            for (int k = 0, n = 1 + static_cast<int>(rng() % 8); k < n; ++k)
                v[8 + rng() % (v.size() - 8)] = static_cast<uint8_t>(rng());
        }
        Result r = ReadBytes(dir, v);
        for (const std::string* s :
             {&r.tags.title, &r.tags.artist, &r.tags.genre, &r.tags.year, &r.tags.comment})
            EXPECT_TRUE(IsValidUtf8(*s)) << round;
        EXPECT_TRUE(r.tags.composer.empty());
        EXPECT_LE(r.tags.year.size(), 4u * 4u);
    }
}

TEST(RiffInfo, LegacyTextIsReadInTheChosenCodePage) {
    TempDir dir;
    // "你好" in code page 936, and "Café" in Latin-1, which is no valid
    // GBK text.
    Bytes info = Chunk("INAM", Bytes{0xC4, 0xE3, 0xBA, 0xC3, 0x00});
    Append(info, Chunk("IART", Bytes{'C', 'a', 'f', 0xE9, 0x00}));
    Append(info, Chunk("IPRD", TextZ("Grüße")));
    const std::string path = dir.file("t.wav");
    WriteFile(path, Wave(List("INFO", info)));
    TagInfo tags;
    ASSERT_EQ(ReadRiffInfoTags(path, tags, "GBK"), 1);
    EXPECT_EQ(tags.title, "你好");
    EXPECT_EQ(tags.artist, "Café");
    EXPECT_EQ(tags.album, "Grüße");  // UTF-8 stays as it is
    // Without a code page, legacy bytes are Latin-1.
    ASSERT_EQ(ReadRiffInfoTags(path, tags, ""), 1);
    EXPECT_EQ(tags.title, "\xC3\x84\xC3\xA3\xC2\xBA\xC3\x83");
    EXPECT_EQ(tags.artist, "Café");
}
