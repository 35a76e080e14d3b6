// CUE sheets: adding a sheet lists its tracks, converting them cuts the
// image exactly at the sheet's indexes, the sheet's tags win over the
// image's, and a sheet that cannot be used is refused with its reason.
#include "engine/AddFiles.h"
#include "engine/ConvertFile.h"
#include "engine/CueTracks.h"
#include "engine/ListCells.h"
#include "engine/OutputPath.h"

#include "common/FormatCatalogue.h"
#include "common/TextCodec.h"
#include "decoders/CueSheet.h"
#include "decoders/FFmpegReader.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"
#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class RowList : public IFileList {
public:
    int AppendRow(const FileEntry& e) override {
        rows.push_back(&e);
        return static_cast<int>(rows.size());
    }
    std::vector<const FileEntry*> rows;
};

// 44.1 kHz stereo frames whose every sample differs from its neighbours, so
// a cut one frame off shows.
std::vector<int16_t> Pattern(int frames) {
    std::vector<int16_t> v(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(static_cast<int>((i * 7919) % 60001) - 30000);
    return v;
}

// Three tracks: the second with a pregap (INDEX 00) that belongs to the
// first, the cuts at frames that no decoder block boundary meets.
const char* kSheet =
    "REM GENRE \"Ambient\"\n"
    "REM DATE 1998\n"
    "PERFORMER \"The Band\"\n"
    "TITLE \"The Album\"\n"
    "FILE \"image.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"First\"\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Second\"\n"
    "    PERFORMER \"Guest\"\n"
    "    INDEX 00 00:01:10\n"
    "    INDEX 01 00:01:37\n"
    "  TRACK 03 AUDIO\n"
    "    TITLE \"../../Third\"\n"
    "    INDEX 01 00:02:74\n";

constexpr int kImageFrames = 44100 * 4 + 123;

void PutBe(std::vector<uint8_t>& v, uint64_t x, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// A FLAC CUESHEET metadata block for CD audio: tracks starting at the
// given sample offsets (each with INDEX 01 only), then the lead-out.
std::vector<uint8_t> CueSheetBlock(const std::vector<uint64_t>& starts, uint64_t leadOut) {
    std::vector<uint8_t> b(128, 0);  // media catalog number
    PutBe(b, 88200, 8);              // lead-in samples
    b.push_back(0x80);               // CD audio
    b.insert(b.end(), 258, 0);
    b.push_back(static_cast<uint8_t>(starts.size() + 1));
    for (size_t i = 0; i <= starts.size(); ++i) {
        const bool last = i == starts.size();
        PutBe(b, last ? leadOut : starts[i], 8);
        b.push_back(static_cast<uint8_t>(last ? 170 : i + 1));
        b.insert(b.end(), 12 + 14, 0);  // ISRC, flags and reserved bytes
        b.push_back(last ? 0 : 1);
        if (!last) {
            PutBe(b, 0, 8);
            b.push_back(1);
            b.insert(b.end(), 3, 0);
        }
    }
    return b;
}

// Puts a metadata block of `type` right after a FLAC file's STREAMINFO.
void InsertFlacBlock(const std::string& path, int type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> file = ReadFile(path);
    ASSERT_GE(file.size(), 42u);
    const bool streamInfoLast = (file[4] & 0x80) != 0;
    file[4] &= 0x7F;
    std::vector<uint8_t> block{static_cast<uint8_t>(type | (streamInfoLast ? 0x80 : 0))};
    PutBe(block, body.size(), 3);
    block.insert(block.end(), body.begin(), body.end());
    file.insert(file.begin() + 42, block.begin(), block.end());
    WriteFile(path, file);
}

}  // namespace

class CueTracks : public ::testing::Test {
protected:
    TempDir dir;
    CSettings settings{""};
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    RunState state;
    CRecordingProgress progress;
    CTestReaderServices services;
    ConversionContext ctx{settings, state, progress, services, &services.wmaFormats};
    std::map<std::string, FileEntry> pathMap;
    RowList list;

    std::string Sheet(const std::string& name, const std::string& text) {
        const std::string path = dir.file(name);
        WriteFile(path, text);
        return path;
    }

    AddPathListResult Add(const std::string& path) {
        return AddPathList(services, pathMap, list, {path}, nullptr);
    }

    // Converts a listed row into the "out" folder; returns its output path.
    std::string Convert(const FileEntry& row, int code) {
        settings.DestOutputFolderOpt = 399;
        settings.DestSpecifiedFolder = dir.file("out");
        FileEntry entry = row;
        Text message;
        EXPECT_TRUE(ResolveOutputPath(settings, entry, FindFormat(catalogue, code)->extension,
                                      message))
            << message;
        ctx.currentEntry = &entry;
        ctx.currentIndex = 1;
        ctx.pass = PassNotes{};
        const FileResult result = ConvertFile(ctx, entry, *FindFormat(catalogue, code), {});
        EXPECT_TRUE(result.ok) << result.findings.errorDetail;
        return entry.OutputPath;
    }
};

TEST_F(CueTracks, SheetListsItsTracksAndTheirOutputsJoinToTheImage) {
    const std::vector<int16_t> image = Pattern(kImageFrames);
    WriteWav(dir.file("image.wav"), 44100, 2, image);
    const AddPathListResult added = Add(Sheet("album.cue", kSheet));
    EXPECT_EQ(added.added, 3);
    EXPECT_TRUE(added.failures.empty());
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_EQ(FileNameCell(*list.rows[0]), "01 - First");
    EXPECT_EQ(FileNameCell(*list.rows[1]), "02 - Second");
    // Track 2 runs from 1 s 37/75 to 2 s 74/75; track 3 to the image's end.
    EXPECT_EQ(list.rows[1]->Duration, 1);
    EXPECT_EQ(list.rows[2]->Duration, 1);

    // Adding the sheet again adds nothing.
    EXPECT_EQ(Add(dir.file("album.cue")).listed, 1);
    EXPECT_EQ(list.rows.size(), 3u);

    std::vector<int16_t> joined;
    std::vector<std::string> outputs;
    for (const FileEntry* row : list.rows) {
        const std::string out = Convert(*row, kFormatFlac);
        outputs.push_back(out);
        const std::vector<int16_t> part = DecodeWithFfmpeg(out);
        ASSERT_FALSE(part.empty()) << out;
        joined.insert(joined.end(), part.begin(), part.end());
    }
    // Sample for sample: the first track ends at the second's INDEX 01
    // (its pregap included), 1 s 37/75 = 44100 + 37 * 588 frames.
    EXPECT_EQ(DecodeWithFfmpeg(outputs[0]).size(), static_cast<size_t>(44100 + 37 * 588) * 2);
    ASSERT_EQ(joined.size(), image.size());
    EXPECT_TRUE(joined == image);

    // A title that climbs out of the folder stays a name inside it.
    EXPECT_EQ(fs::path(outputs[2]).parent_path(), fs::path(dir.file("out")));
    EXPECT_EQ(fs::path(outputs[2]).filename().string(), "03 - .._.._Third.flac");
}

TEST_F(CueTracks, TracksOfAFlacOrTtaImageJoinToItSampleForSample) {
    // The sheet names image.wav; the ripper left image.flac (read through
    // libsndfile) or image.tta (read by the FFmpeg reader, which seeks by
    // timestamps) beside it.
    const std::vector<int16_t> image = Pattern(kImageFrames);
    WriteWav(dir.file("source.wav"), 44100, 2, image);
    for (const std::string extension : {"flac", "tta"}) {
        SCOPED_TRACE(extension);
        const std::string encoded = dir.file(extension + "/image." + extension);
        fs::create_directories(fs::path(encoded).parent_path());
        Shell("ffmpeg -v error -nostdin -i " + Quote(dir.file("source.wav")) + " " +
              Quote(encoded));
        list.rows.clear();
        Add(Sheet(extension + "/album.cue", kSheet));
        ASSERT_EQ(list.rows.size(), 3u);
        EXPECT_EQ(list.rows[0]->ImagePath, encoded);
        std::vector<int16_t> joined;
        for (const FileEntry* row : list.rows) {
            const std::vector<int16_t> part = DecodeWithFfmpeg(Convert(*row, kFormatWav));
            joined.insert(joined.end(), part.begin(), part.end());
        }
        ASSERT_EQ(joined.size(), image.size());
        EXPECT_TRUE(joined == image);
    }
}

TEST_F(CueTracks, TracksOfAWideImageKeepItsDepthAndChannels) {
    // Six channels of 24-bit samples with the low byte in use.
    const std::vector<int32_t> image = FineSamples(kImageFrames * 6, 24);
    WriteFile(dir.file("image.wav"), WavFileBytes(1, 6, 44100, 24, PackSamples(image, 3, false)));
    Add(Sheet("album.cue", kSheet));
    ASSERT_EQ(list.rows.size(), 3u);
    std::vector<int32_t> joined;
    for (const FileEntry* row : list.rows) {
        const std::string out = Convert(*row, kFormatWav);
        EXPECT_EQ(Probe(out, "codec_name"), "pcm_s24le");
        CFFmpegReader r;
        ASSERT_TRUE(r.Open(out, 0)) << out;
        const DecodedWide w = ReadAllWide(r);
        EXPECT_EQ(w.layout, DefaultLayout(6));
        const std::vector<int32_t> part = InterleavedInts(w, 24);
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(joined == image);

    // Read as 16-bit stereo (as normalising measures it), the second track
    // has its frames too: 1 s 37/75 to 2 s 74/75.
    int audioFound = 1;
    auto track = CreateEntryReader(services, ctx.pass, *list.rows[1], 0, true, audioFound);
    ASSERT_TRUE(track);
    EXPECT_EQ(ReadAll(*track).left.size(), static_cast<size_t>(44100 + 37 * 588));
}

TEST_F(CueTracks, FlacFileWithItsOwnSheetIsListedByTrack) {
    const std::vector<int16_t> image = Pattern(kImageFrames);
    WriteWav(dir.file("source.wav"), 44100, 2, image);
    // A CUESHEET comment: its FILE line names the file as it was ripped.
    WriteFile(dir.file("sheet.txt"), std::string(kSheet));
    Shell("ffmpeg -v error -nostdin -i " + Quote(dir.file("source.wav")) +
          " -metadata CUESHEET=\"$(cat " + Quote(dir.file("sheet.txt")) + ")\" " +
          Quote(dir.file("commented.flac")));
    const AddPathListResult added = Add(dir.file("commented.flac"));
    EXPECT_EQ(added.added, 3);
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_EQ(FileNameCell(*list.rows[1]), "02 - Second");
    EXPECT_EQ(list.rows[1]->ImagePath, dir.file("commented.flac"));
    std::vector<int16_t> joined;
    for (const FileEntry* row : list.rows) {
        const std::vector<int16_t> part = DecodeWithFfmpeg(Convert(*row, kFormatWav));
        joined.insert(joined.end(), part.begin(), part.end());
    }
    ASSERT_EQ(joined.size(), image.size());
    EXPECT_TRUE(joined == image);

    // A CUESHEET block: its tracks have numbers but no names.
    Shell("ffmpeg -v error -nostdin -i " + Quote(dir.file("source.wav")) + " " +
          Quote(dir.file("block.flac")));
    const uint64_t second = 44100 + 37 * 588;
    InsertFlacBlock(dir.file("block.flac"), 5, CueSheetBlock({0, second}, kImageFrames));
    list.rows.clear();
    EXPECT_EQ(Add(dir.file("block.flac")).added, 2);
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(FileNameCell(*list.rows[1]), "02");
    const std::vector<int16_t> tail = DecodeWithFfmpeg(Convert(*list.rows[1], kFormatWav));
    EXPECT_TRUE(tail == std::vector<int16_t>(image.begin() + static_cast<std::ptrdiff_t>(2 * second),
                                             image.end()));

    // A FLAC file without a sheet stays one row.
    Shell("ffmpeg -v error -nostdin -i " + Quote(dir.file("source.wav")) + " " +
          Quote(dir.file("plain.flac")));
    list.rows.clear();
    EXPECT_EQ(Add(dir.file("plain.flac")).added, 1);
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_TRUE(list.rows[0]->ImagePath.empty());
    EXPECT_EQ(FileNameCell(*list.rows[0]), "plain.flac");
}

TEST_F(CueTracks, TagsComeFromTheSheetOverTheImage) {
    MakeWithFfmpeg(dir, "image.flac",
                   "-f lavfi -i sine=duration=4 -ac 2 -metadata title=Whole -metadata "
                   "album=Wrong -metadata comment=Kept");
    // The sheet names a .wav; the ripper left a .flac beside it.
    Add(Sheet("album.cue", kSheet));
    ASSERT_EQ(list.rows.size(), 3u);
    settings.ID3TagType = 2;
    const std::string out = Convert(*list.rows[1], kFormatFlac);
    EXPECT_EQ(ProbeTag(out, "title"), "Second");
    EXPECT_EQ(ProbeTag(out, "artist"), "Guest");
    EXPECT_EQ(ProbeTag(out, "album"), "The Album");
    EXPECT_EQ(ProbeTag(out, "date"), "1998");
    EXPECT_EQ(ProbeTag(out, "genre"), "Ambient");
    EXPECT_EQ(ProbeTag(out, "comment"), "Kept");
    EXPECT_EQ(ProbeTag(out, "track").substr(0, 1), "2");
    // The album performer stands in for a track without its own.
    const std::string first = Convert(*list.rows[0], kFormatFlac);
    EXPECT_EQ(ProbeTag(first, "artist"), "The Band");
}

TEST_F(CueTracks, UnusableSheetsAreRefusedWithTheirReason) {
    WriteWav(dir.file("image.wav"), 44100, 2, Pattern(44100));
    const struct {
        const char* name;
        std::string text;
        const char* reason;
    } cases[] = {
        {"garbage.cue", "FILE \"image.wav\" WAVE\n TRACK 01 ((\n INDEX 01 00:00:00\n",
         "the CUE sheet does not parse"},
        {"missing.cue", "FILE \"nothere.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n",
         "the audio file the CUE sheet names is missing"},
        {"beyond.cue",
         "FILE \"image.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
         " TRACK 02 AUDIO\n  INDEX 01 09:00:00\n",
         "the CUE sheet's indexes lie beyond the end of its audio file"},
        {"huge.cue", std::string(2u << 20, ' '), "the CUE sheet is too large"},
    };
    for (const auto& c : cases) {
        const AddPathListResult result = Add(Sheet(c.name, c.text));
        EXPECT_EQ(result.added, 0) << c.name;
        ASSERT_EQ(result.failures.size(), 1u) << c.name;
        EXPECT_EQ(result.failures[0].reason, c.reason) << c.name;
        EXPECT_NE(result.message.Source().find(c.name), std::string::npos) << c.name;
    }
    EXPECT_TRUE(list.rows.empty());
    EXPECT_TRUE(pathMap.empty());
}

TEST_F(CueTracks, ATrackNeverOverwritesItsImage) {
    // The image happens to bear the name the first track's output gets.
    WriteWav(dir.file("source.wav"), 44100, 2, Pattern(kImageFrames));
    Shell("ffmpeg -v error -nostdin -i " + Quote(dir.file("source.wav")) + " " +
          Quote(dir.file("01 - First.flac")));
    const std::string sheet = std::string(kSheet);
    Add(Sheet("album.cue", "FILE \"01 - First.flac\" WAVE\n" +
                               sheet.substr(sheet.find("  TRACK 01"))));
    ASSERT_EQ(list.rows.size(), 3u);
    const std::vector<uint8_t> before = ReadFile(dir.file("01 - First.flac"));
    settings.DestOutputFolderOpt = 199;  // beside the sheet
    settings.TargetExistsOpt = 22;       // overwrite
    FileEntry entry = *list.rows[0];
    Text message;
    EXPECT_FALSE(ResolveOutputPath(settings, entry, "flac", message));
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(ReadFile(dir.file("01 - First.flac")), before);
}

TEST_F(CueTracks, EveryTrackCarriesTheAlbumArtistTrackTotalAndDisc) {
    WriteWav(dir.file("image.wav"), 44100, 2, Pattern(kImageFrames));
    Add(Sheet("album.cue", "REM DISCNUMBER 1\nREM TOTALDISCS 2\n" + std::string(kSheet)));
    ASSERT_EQ(list.rows.size(), 3u);
    settings.ID3TagType = 2;
    // As ffprobe names the tags each container stores.
    const struct {
        int format;
        const char* tag;
        const char* value;
    } cases[] = {
        {kFormatFlac, "album_artist", "The Band"}, {kFormatFlac, "track", "2"},
        {kFormatFlac, "TRACKTOTAL", "3"},          {kFormatFlac, "disc", "1"},
        {kFormatFlac, "DISCTOTAL", "2"},           {kFormatMp3, "album_artist", "The Band"},
        {kFormatMp3, "track", "2/3"},              {kFormatMp3, "disc", "1/2"},
        {kFormatM4a, "album_artist", "The Band"},  {kFormatM4a, "track", "2/3"},
        {kFormatM4a, "disc", "1/2"},
    };
    std::map<int, std::string> outputs;
    for (const auto& c : cases) {
        if (!outputs.count(c.format)) outputs[c.format] = Convert(*list.rows[1], c.format);
        EXPECT_EQ(ProbeTag(outputs[c.format], c.tag), c.value) << c.format << " " << c.tag;
    }
}

TEST_F(CueTracks, ASheetInALegacyCodePageIsReadWhenItIsAdded) {
    WriteWav(dir.file("image.wav"), 44100, 2, Pattern(kImageFrames));
    std::string gbk;
    ASSERT_EQ(Utf8ToCharset("TITLE \"叶惠美\"\nFILE \"image.wav\" WAVE\n"
                            "  TRACK 01 AUDIO\n    TITLE \"以父之名\"\n    INDEX 01 00:00:00\n"
                            "  TRACK 02 AUDIO\n    TITLE \"晴天\"\n    INDEX 01 00:01:00\n",
                            "GBK", gbk),
              0);
    // Detected, or named by the setting: the same titles either way.
    for (const char* codePage : {"auto", "GBK"}) {
        SCOPED_TRACE(codePage);
        services.runtime.Bass().SetTagCodePage(codePage);
        list.rows.clear();
        pathMap.clear();
        Add(Sheet("album.cue", gbk));
        ASSERT_EQ(list.rows.size(), 2u);
        EXPECT_EQ(FileNameCell(*list.rows[0]), "01 - 以父之名");
        EXPECT_EQ(FileNameCell(*list.rows[1]), "02 - 晴天");
        EXPECT_EQ(list.rows[0]->TrackTags.album, "叶惠美");
    }
}

TEST_F(CueTracks, ASheetOfMoreThan99TracksSaysOnlyTheFirstAreListed) {
    WriteWav(dir.file("image.wav"), 44100, 2, Pattern(kImageFrames));
    // 150 tracks of one CD frame (1/75 s) each.
    std::string text = "FILE \"image.wav\" WAVE\n";
    for (int i = 0; i < 150; ++i) {
        char track[80];
        std::snprintf(track, sizeof track, "  TRACK %02d AUDIO\n    INDEX 01 00:%02d:%02d\n", i + 1,
                      i / 75, i % 75);
        text += track;
    }
    const std::string path = Sheet("long.cue", text);
    const AddPathListResult added = Add(path);
    EXPECT_EQ(added.added, kMaxCueTracks);
    EXPECT_TRUE(added.failures.empty());
    ASSERT_EQ(added.notes.size(), 1u);
    EXPECT_EQ(added.notes[0].Source(),
              path + ": CUE 表单列有 150 个音轨, 只列出了前 99 个音轨.");
    EXPECT_NE(added.message.Source().find(added.notes[0].Source()), std::string::npos);
    // The 99th track ends where the 100th begins.
    ASSERT_EQ(list.rows.size(), static_cast<size_t>(kMaxCueTracks));
    EXPECT_EQ(list.rows[98]->TrackEnd, 99);
    // A sheet within the limit says nothing.
    EXPECT_TRUE(Add(Sheet("album.cue", kSheet)).message.empty());
}
