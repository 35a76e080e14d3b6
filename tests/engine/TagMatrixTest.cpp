// Every tag and the cover picture carried from each source format to each
// target format in carry-over mode; legacy 8-bit text decoded by detection;
// custom values still override the source's tags.
#include "engine/ConvertFile.h"

#include "common/FileEntry.h"
#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "common/TextCodec.h"
#include "encoders/TagWriter.h"
#include "engine/TagPolicy.h"
#include "engine/Texts.h"
#include "platform/bass/BassRuntime.h"
#include "platform/wma/WmaLayer.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct TagFormat {
    const char* name;
    const char* extension;
    const char* ffmpegArgs;  // how the source is made
    int code;                // as a target
};

const TagFormat kSources[] = {
    {"MP3", "mp3", "-c:a libmp3lame", kFormatMp3}, {"FLAC", "flac", "-c:a flac", kFormatFlac},
    {"Ogg", "ogg", "-c:a libvorbis", kFormatOgg},  {"M4A", "m4a", "-c:a aac", kFormatM4a},
    {"WMA", "wma", "-c:a wmav2", kFormatWma},      {"WAV", "wav", "-c:a pcm_s16le", kFormatWav},
};

TagInfo FullRecord(const std::string& pictureBytes) {
    TagInfo t;
    t.title = "Título";
    t.artist = "Artist One; Artist Two";
    t.artists = {"Artist One", "Artist Two"};
    t.album = "Album Ü";
    t.year = "2009";
    t.genre = "Rock";
    t.comment = "A comment\non two lines";
    t.track = "3";
    t.composer = "Composer";
    t.copyright = "(c) Label";
    t.albumArtist = "Various Artists";
    t.discNumber = 2;
    t.discTotal = 3;
    t.trackTotal = 12;
    t.lyrics = "First line\nSecond line";
    t.compilation = true;
    t.replayGain = {"-6.50 dB", "0.988", "-7.10 dB", "0.999"};
    TagPicture cover;
    cover.type = 3;
    cover.mimeType = "image/png";
    cover.description = "Front";
    cover.data = pictureBytes;
    t.pictures = {cover};
    return t;
}

// A WAV source keeps its tags in an ID3 chunk.
void TagWav(const std::string& path, const TagInfo& t) {
    TagLib::RIFF::WAV::File file(path.c_str(), false);
    TagLib::PropertyMap map;
    auto put = [&map](const char* key, const std::string& v) {
        map.insert(key, TagLib::StringList(TagLib::String(v, TagLib::String::UTF8)));
    };
    put("TITLE", t.title);
    TagLib::StringList artists;
    for (const std::string& a : t.artists) artists.append(TagLib::String(a, TagLib::String::UTF8));
    map.insert("ARTIST", artists);
    put("ALBUM", t.album);
    put("DATE", t.year);
    put("GENRE", t.genre);
    put("COMMENT", t.comment);
    put("COMPOSER", t.composer);
    put("COPYRIGHT", t.copyright);
    put("ALBUMARTIST", t.albumArtist);
    put("TRACKNUMBER", "3/12");
    put("DISCNUMBER", "2/3");
    put("LYRICS", t.lyrics);
    put("COMPILATION", "1");
    put("REPLAYGAIN_TRACK_GAIN", t.replayGain.trackGain);
    put("REPLAYGAIN_TRACK_PEAK", t.replayGain.trackPeak);
    put("REPLAYGAIN_ALBUM_GAIN", t.replayGain.albumGain);
    put("REPLAYGAIN_ALBUM_PEAK", t.replayGain.albumPeak);
    file.ID3v2Tag()->setProperties(map);
    auto* apic = new TagLib::ID3v2::AttachedPictureFrame;
    apic->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    apic->setMimeType("image/png");
    apic->setDescription("Front");
    const std::string& bytes = t.pictures.front().data;
    apic->setPicture(TagLib::ByteVector(bytes.data(), static_cast<unsigned>(bytes.size())));
    file.ID3v2Tag()->addFrame(apic);
    ASSERT_TRUE(file.save());
}

// The letters of the fields of `want` that `got` holds.
std::string Survivors(const TagInfo& got, const TagInfo& want) {
    std::string s;
    auto mark = [&s](bool ok, char letter) { s += ok ? letter : '.'; };
    mark(got.title == want.title, 'T');
    mark(got.artists == want.artists, 'A');
    mark(got.album == want.album, 'B');
    mark(got.year == want.year, 'Y');
    mark(got.genre == want.genre, 'G');
    mark(got.comment == want.comment, 'C');
    mark(got.composer == want.composer, 'K');
    mark(got.copyright == want.copyright, 'O');
    mark(got.track == want.track, 'N');
    mark(got.trackTotal == want.trackTotal, 'M');
    mark(got.albumArtist == want.albumArtist, 'R');
    mark(got.discNumber == want.discNumber, 'D');
    mark(got.discTotal == want.discTotal, 'E');
    mark(got.lyrics == want.lyrics, 'L');
    mark(got.compilation == want.compilation, 'P');
    mark(got.replayGain.trackGain == want.replayGain.trackGain &&
             got.replayGain.albumPeak == want.replayGain.albumPeak,
         'Q');
    mark(got.pictures.size() == 1 && got.pictures[0].data == want.pictures[0].data &&
             got.pictures[0].mimeType == "image/png",
         'I');
    return s;
}

}  // namespace

class TagMatrixTest : public ::testing::Test, protected ConversionFixture {
protected:
    TempDir dir;

    void SetUp() override {
        services.LoadWmaRuntime();
        settings.ID3TagType = kTagsFromSource;
    }

    std::string Source(const TagFormat& f, const TagInfo& tags) {
        const std::string path = MakeWithFfmpeg(
            dir, std::string("source.") + f.extension,
            std::string("-f lavfi -i sine=duration=0.3 -ac 2 -ar 44100 ") + f.ffmpegArgs);
        if (f.code == kFormatWav) {
            TagWav(path, tags);
        } else {
            const TagWriteResult r = WriteTagFile(path, FormatTagFile(f.code), tags);
            EXPECT_TRUE(r.saved && r.dropped.empty()) << f.name;
        }
        return path;
    }
};

TEST_F(TagMatrixTest, EveryFieldAndThePictureReachEveryTaggedTarget) {
    const bool wma = wma::WmaRuntimeAvailable();
    const std::string png = MakeWithFfmpeg(dir, "cover.png", "-f lavfi -i color=red:s=8x8 -frames:v 1");
    const std::vector<uint8_t> pngBytes = ReadFile(png);
    const TagInfo want = FullRecord(std::string(pngBytes.begin(), pngBytes.end()));
    const std::string all = Survivors(want, want);

    std::string table = "source ";
    for (const TagFormat& target : kSources)
        if (target.code != kFormatWav) table += std::string(" ") + target.name;
    for (const TagFormat& source : kSources) {
        if (source.code == kFormatWma && !wma) continue;
        const std::string src = Source(source, want);
        table += std::string("\n") + source.name + ":";
        for (const TagFormat& target : kSources) {
            if (target.code == kFormatWav) continue;
            if (target.code == kFormatWma && !wma) continue;
            const std::string out =
                dir.file(std::string(source.extension) + "-to." + target.extension);
            ASSERT_TRUE(Convert(src, out, target.code)) << source.name << " to " << target.name;
            const std::string got = Survivors(bass::ReadFileTags(out, kAutoCodePage), want);
            table += " " + got;
            EXPECT_EQ(got, all) << source.name << " to " << target.name;
        }
    }
    std::printf("%s\n", table.c_str());
    // Players see the comment and the numbering the container's own way.
    EXPECT_EQ(ProbeTag(dir.file("flac-to.mp3"), "comment"), "A comment\non two lines");
    EXPECT_EQ(ProbeTag(dir.file("flac-to.m4a"), "track"), "3/12");
    EXPECT_EQ(ProbeTag(dir.file("flac-to.m4a"), "disc"), "2/3");
    EXPECT_EQ(ProbeTag(dir.file("mp3-to.ogg"), "disc"), "2");
    EXPECT_EQ(ProbeTag(dir.file("mp3-to.ogg"), "TRACKTOTAL"), "12");
    if (!wma) GTEST_SKIP() << "the linked FFmpeg lacks the ASF muxer or the WMA 2 encoder";
}

// MPEG audio and ADTS AAC carry an ID3v2 tag at their start, as players
// of those streams expect.
TEST_F(TagMatrixTest, MpegAudioAndAdtsTargetsTakeAnId3v2Tag) {
    const std::string png = MakeWithFfmpeg(dir, "cover.png", "-f lavfi -i color=red:s=8x8 -frames:v 1");
    const std::vector<uint8_t> pngBytes = ReadFile(png);
    const TagInfo want = FullRecord(std::string(pngBytes.begin(), pngBytes.end()));
    const std::string src = Source(kSources[1], want);
    for (const auto& [code, extension] : {std::pair{kFormatMp2, "mp2"}, std::pair{kFormatMpa, "mpa"},
                                         std::pair{kFormatAac, "aac"}}) {
        const std::string out = dir.file(std::string("flac-to.") + extension);
        ASSERT_TRUE(Convert(src, out, code)) << extension;
        EXPECT_EQ(Survivors(bass::ReadFileTags(out, kAutoCodePage), want), Survivors(want, want))
            << extension;
        EXPECT_EQ(ProbeTag(out, "title"), "Título") << extension;  // another reader agrees
    }
}

TEST_F(TagMatrixTest, LevelChangesDropReplayGainAndTaglessTargetsStayTagless) {
    const TagInfo want = FullRecord("\x89PNG\r\n\x1A\n, a signature only");
    const std::string src = Source(kSources[1], want);
    settings.VolumeType = kVolumeFixed;
    settings.Volume = 50;
    ASSERT_TRUE(Convert(src, dir.file("quiet.mp3"), kFormatMp3));
    const TagInfo got = bass::ReadFileTags(dir.file("quiet.mp3"), kAutoCodePage);
    EXPECT_TRUE(got.replayGain.IsEmpty());
    EXPECT_EQ(got.albumArtist, "Various Artists");

    ASSERT_TRUE(Convert(src, dir.file("plain.wav"), kFormatWav));
    EXPECT_TRUE(bass::ReadFileTags(dir.file("plain.wav")).IsEmpty());

    settings.ID3TagType = kTagsNone;
    ASSERT_TRUE(Convert(src, dir.file("none.mp3"), kFormatMp3));
    EXPECT_TRUE(bass::ReadFileTags(dir.file("none.mp3")).ExtrasEmpty());
}

TEST_F(TagMatrixTest, CustomValuesOverrideTheSourceAndCarryNothingElse) {
    const TagInfo want = FullRecord("\x89PNG\r\n\x1A\n, a signature only");
    const std::string src = Source(kSources[0], want);
    settings.ID3TagType = kTagsCustom;
    settings.TitleAsFileName = 0;
    settings.Title = "Custom";
    settings.Artist = "Someone Else";
    ASSERT_TRUE(Convert(src, dir.file("custom.flac"), kFormatFlac));
    const TagInfo got = bass::ReadFileTags(dir.file("custom.flac"));
    EXPECT_EQ(got.title, "Custom");
    EXPECT_EQ(got.artist, "Someone Else");
    EXPECT_TRUE(got.ExtrasEmpty());
    // The custom album artist and disc, in MP3's and MP4's conventions.
    settings.AlbumArtist = "Custom Band";
    settings.Disc = "2/3";
    for (auto [name, code] : {std::pair{"custom.mp3", kFormatMp3}, std::pair{"custom.m4a", kFormatM4a}}) {
        ASSERT_TRUE(Convert(src, dir.file(name), code));
        const TagInfo disc = bass::ReadFileTags(dir.file(name));
        EXPECT_EQ(disc.albumArtist, "Custom Band") << name;
        EXPECT_EQ(disc.discNumber, 2) << name;
        EXPECT_EQ(disc.discTotal, 3) << name;
        EXPECT_TRUE(disc.pictures.empty()) << name;
    }
    settings.Disc = "none";
    ASSERT_TRUE(Convert(src, dir.file("nodisc.mp3"), kFormatMp3));
    EXPECT_EQ(bass::ReadFileTags(dir.file("nodisc.mp3")).discNumber, 0);
}

TEST_F(TagMatrixTest, PicturesTooLargeAreDroppedWithANoteAndTheAudioKept) {
    TagInfo tags = FullRecord(std::string(kMaxPictureBytes + 1, 'x'));
    const std::string out = MakeWithFfmpeg(dir, "big.mp3", "-f lavfi -i sine=duration=0.3");
    // The run's note names the output, and a second one the field.
    DroppedTagNotes notes;
    Text error;
    ASSERT_TRUE(WriteOutputTags(out, kFormatMp3, tags, 1.0f, "big.mp3", error, notes));
    EXPECT_EQ(notes.summary, EngineText(kTagsDroppedNote, "big.mp3"));
    ASSERT_EQ(notes.fields.size(), 1u);
    EXPECT_NE(notes.fields[0].Source().find("picture 1"), std::string::npos);
    const TagWriteResult r = WriteTagFile(out, TagFileKind::Id3v2, tags);
    ASSERT_TRUE(r.saved);
    ASSERT_EQ(r.dropped.size(), 1u);
    EXPECT_EQ(r.dropped[0].field, "picture 1");
    EXPECT_TRUE(bass::ReadFileTags(out).pictures.empty());
    EXPECT_EQ(bass::ReadFileTags(out).albumArtist, "Various Artists");
    // A file TagLib cannot read as its container fails instead.
    WriteFile(dir.file("junk.m4a"), std::string("not an MP4 file"));
    EXPECT_FALSE(WriteTagFile(dir.file("junk.m4a"), TagFileKind::Mp4, tags).saved);
}

// Pictures whose type, MIME type or bytes lie: the type is put in range,
// the MIME type taken from the image's own signature when the stored one
// is no plain "type/subtype", and bytes that are no known image left out
// with a note naming the picture.
TEST_F(TagMatrixTest, PicturesThatLieAreMendedOrLeftOut) {
    struct Case {
        const char* what;
        std::string bytes;
        int type;
        const char* mime;
        int wantType;  // -1: left out
        const char* wantMime;
    };
    const std::string jpeg = "\xFF\xD8\xFF\xE0" + std::string(64, 'j');
    const std::string png = "\x89PNG\r\n\x1A\n" + std::string(64, 'p');
    const std::string webp = std::string("RIFF\x44\0\0\0WEBPVP8 ", 16) + std::string(56, 'w');
    const std::string avif = std::string("\0\0\0\x1C", 4) + "ftypavif" + std::string(64, 'a');
    const std::string bmp = std::string("BM\x4E\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0", 18) +
                            std::string(60, 'b');
    const Case cases[] = {
        {"type 120, MIME cut off", jpeg, 120, "image/\xC3\xBF\xC3\xBE", 0, "image/jpeg"},
        {"a link's MIME", png, 3, "-->", 3, "image/png"},
        {"no MIME, type 21", webp, 21, "", 0, "image/webp"},
        {"a plain MIME is kept", avif, 6, "image/x-avif", 6, "image/x-avif"},
        {"MIME with a blank", bmp, 20, "image/ bmp", 20, "image/bmp"},
        {"GIF without MIME", "GIF89a" + std::string(40, 'g'), 4, "", 4, "image/gif"},
        {"no image at all", std::string(80, 'x'), 3, "image/jpeg", -1, ""},
    };
    TagInfo tags;
    tags.title = "Pictures";
    for (const Case& c : cases) tags.pictures.push_back({c.type, c.mime, c.what, c.bytes});
    for (const auto& [ext, kind] : {std::pair{"flac", TagFileKind::Flac},
                                    std::pair{"opus", TagFileKind::OggOpus},
                                    std::pair{"mp3", TagFileKind::Id3v2}}) {
        SCOPED_TRACE(ext);
        const std::string out = MakeWithFfmpeg(dir, std::string("lies.") + ext,
                                               "-f lavfi -i sine=duration=0.3");
        const TagWriteResult r = WriteTagFile(out, kind, tags);
        ASSERT_TRUE(r.saved);
        ASSERT_EQ(r.dropped.size(), 1u);
        EXPECT_EQ(r.dropped[0].field, "picture 7");
        const TagInfo got = bass::ReadFileTags(out);
        ASSERT_EQ(got.pictures.size(), std::size(cases) - 1);
        for (size_t i = 0; i + 1 < std::size(cases); ++i) {
            SCOPED_TRACE(cases[i].what);
            EXPECT_EQ(got.pictures[i].type, cases[i].wantType);
            EXPECT_EQ(got.pictures[i].mimeType, cases[i].wantMime);
            EXPECT_EQ(got.pictures[i].data, cases[i].bytes);
        }
        // Players take the pictures as they are now.
        std::string log;
        testsupport::Run("ffprobe -v warning " + Quote(out) + " 2>&1", &log);
        EXPECT_EQ(log.find("Invalid picture"), std::string::npos) << log;
    }
}

// A write the file system refuses half-way (here a file size limit, as a
// disk that fills) fails the tag write with the system's reason, in every
// container: TagLib itself would call such a file saved. Each limit is set
// in a child process of its own.
TEST_F(TagMatrixTest, AWriteRefusedDuringTheTagWriteFailsWithItsCause) {
    struct Kind {
        const char* file;
        const char* ffmpegArgs;
        TagFileKind kind;
    };
    const Kind kinds[] = {
        {"t.mp3", "-c:a libmp3lame", TagFileKind::Id3v2},
        {"t.flac", "-c:a flac", TagFileKind::Flac},
        {"t.ogg", "-c:a libvorbis", TagFileKind::OggVorbis},
        {"t.opus", "-c:a libopus", TagFileKind::OggOpus},
        {"t.m4a", "-c:a aac", TagFileKind::Mp4},
        {"t.wma", "-c:a wmav2", TagFileKind::Asf},
    };
    TagInfo tags = FullRecord("\xFF\xD8\xFF" + std::string(1 << 20, 'p'));
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.file);
        const std::string path =
            MakeWithFfmpeg(dir, k.file, std::string("-f lavfi -i sine=duration=1 ") + k.ffmpegArgs);
        const auto size = static_cast<rlim_t>(fs::file_size(path));
        EXPECT_EXIT(
            {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit limit = {};
                limit.rlim_cur = size + 64 * 1024;
                limit.rlim_max = RLIM_INFINITY;
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(2);
                const TagWriteResult r = WriteTagFile(path, k.kind, tags);
                if (r.saved) std::_Exit(3);
                if (!r.writeFailed || r.error != std::strerror(EFBIG)) std::_Exit(4);
                std::_Exit(0);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

// ID3v2.3 frames marked Latin-1 hold GBK or Latin-1 bytes; UTF-16 frames
// are never re-decoded. Each is read right under a Chinese and an English
// locale.
TEST(LegacyTagText, DetectedPerFileUnderEitherLocale) {
    TempDir dir;
    auto make = [&dir](const std::string& name, const std::string& artistBytes,
                       const std::string& titleBytes, TagLib::String::Type type) {
        const std::string path = MakeWithFfmpeg(dir, name, "-f lavfi -i sine=duration=0.2");
        TagLib::MPEG::File file(path.c_str(), false);
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        for (const char* id : {"TPE1", "TIT2"}) tag->removeFrames(id);
        for (auto [id, bytes] : {std::pair{"TPE1", artistBytes}, std::pair{"TIT2", titleBytes}}) {
            auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, type);
            frame->setText(type == TagLib::String::Latin1
                               ? TagLib::String(bytes, TagLib::String::Latin1)
                               : TagLib::String(bytes, TagLib::String::UTF8));
            tag->addFrame(frame);
        }
        EXPECT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3));
        return path;
    };
    std::string gbk;
    ASSERT_EQ(Utf8ToCharset("周杰伦", "GBK", gbk), 0);
    std::string gbkTitle;
    ASSERT_EQ(Utf8ToCharset("七里香", "GBK", gbkTitle), 0);
    const std::string chinese = make("gbk.mp3", gbk, gbkTitle, TagLib::String::Latin1);
    const std::string latin = make("latin.mp3", "Sigur R\xf3s", "Hopp\xedpolla", TagLib::String::Latin1);
    const std::string utf16 = make("utf16.mp3", "Sigur Rós", "七里香", TagLib::String::UTF16);
    for (const char* locale : {"zh_CN.UTF-8", "en_US.UTF-8"}) {
        ScopedEnv env("LC_ALL", locale);
        EXPECT_EQ(bass::ReadFileTags(chinese, kAutoCodePage).artist, "周杰伦") << locale;
        EXPECT_EQ(bass::ReadFileTags(chinese, kAutoCodePage).title, "七里香") << locale;
        EXPECT_EQ(bass::ReadFileTags(latin, kAutoCodePage).artist, "Sigur Rós") << locale;
        EXPECT_EQ(bass::ReadFileTags(latin, kAutoCodePage).title, "Hoppípolla") << locale;
        EXPECT_EQ(bass::ReadFileTags(utf16, kAutoCodePage).artist, "Sigur Rós") << locale;
        EXPECT_EQ(bass::ReadFileTags(utf16, kAutoCodePage).title, "七里香") << locale;
    }
    // A named code page is still obeyed.
    EXPECT_EQ(bass::ReadFileTags(latin, "ISO-8859-1").artist, "Sigur Rós");
    // Nothing to judge by: the locale decides.
    {
        ScopedEnv env("LC_ALL", "zh_CN.UTF-8");
        EXPECT_EQ(LocaleLegacyCodePage(), "GBK");
    }
    ScopedEnv env("LC_ALL", "en_GB.UTF-8");
    EXPECT_EQ(LocaleLegacyCodePage(), "WINDOWS-1252");
}
