// CUE sheet parsing: track bounds with pregaps, tags from the sheet, and
// the sheets that give no tracks; the stored fuzzing inputs replayed.
#include "decoders/CueSheet.h"

#include "common/TextCodec.h"
#include "platform/LibraryLog.h"

#include "fuzz/Regressions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

using namespace quelvox;

namespace {

std::vector<CueSheetTrack> Parse(const std::string& text, CueProblem& problem) {
    return ParseCueSheet(text, problem);
}

}  // namespace

TEST(CueSheet, TracksEndAtTheNextTracksFirstIndexAndCarryTheSheetsTags) {
    CueProblem problem = CueProblem::kUnparsable;
    const auto tracks = Parse(
        "\xEF\xBB\xBFREM GENRE Jazz\nREM DATE 2001\nPERFORMER \"Album Artist\"\nTITLE \"LP\"\n"
        "FILE \"side a.wav\" WAVE\n"
        "  TRACK 01 AUDIO\n    TITLE \"A1\"\n    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n    TITLE \"A2\"\n    PERFORMER \"Solo\"\n"
        "    INDEX 00 01:00:00\n    INDEX 01 01:02:50\n"
        "FILE \"side b.flac\" WAVE\n"
        "  TRACK 03 AUDIO\n    TITLE \"B1\"\n    INDEX 01 00:00:33\n"
        "  TRACK 04 MODE1/2352\n    INDEX 01 00:10:00\n",
        problem);
    EXPECT_EQ(problem, CueProblem::kNone);
    ASSERT_EQ(tracks.size(), 3u);  // the data track is not one
    // The pregap of track 2 (INDEX 00) stays with track 1.
    EXPECT_EQ(tracks[0].start, 0);
    EXPECT_EQ(tracks[0].end, (62 * 75) + 50);
    EXPECT_EQ(tracks[1].start, (62 * 75) + 50);
    // The last track of an image runs to its end; the next image starts anew.
    EXPECT_EQ(tracks[1].end, -1);
    EXPECT_EQ(tracks[2].file, "side b.flac");
    EXPECT_EQ(tracks[2].start, 33);
    EXPECT_EQ(tracks[2].end, -1);

    EXPECT_EQ(tracks[0].tags.title, "A1");
    EXPECT_EQ(tracks[0].tags.artist, "Album Artist");
    EXPECT_EQ(tracks[1].tags.artist, "Solo");
    EXPECT_EQ(tracks[1].tags.album, "LP");
    EXPECT_EQ(tracks[1].tags.year, "2001");
    EXPECT_EQ(tracks[1].tags.genre, "Jazz");
    EXPECT_EQ(tracks[1].tags.track, "2/3");
}

TEST(CueSheet, SheetsWithoutUsableTracksSayWhy) {
    CueProblem problem = CueProblem::kNone;
    EXPECT_TRUE(Parse("FILE \"a.wav\" WAVE\n TRACK 01 ((\n", problem).empty());
    EXPECT_EQ(problem, CueProblem::kUnparsable);
    EXPECT_TRUE(Parse("FILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:05:00\n"
                      " TRACK 02 AUDIO\n  INDEX 01 00:01:00\n",
                      problem)
                    .empty());
    EXPECT_EQ(problem, CueProblem::kUnparsable);
    EXPECT_TRUE(Parse("FILE \"a.bin\" BINARY\n TRACK 01 MODE1/2352\n  INDEX 01 00:00:00\n",
                      problem)
                    .empty());
    EXPECT_EQ(problem, CueProblem::kNoAudioTrack);
    EXPECT_TRUE(Parse(std::string(kMaxCueSheetBytes + 1, '\n'), problem).empty());
    EXPECT_EQ(problem, CueProblem::kTooLarge);
}

// Files are probed on several threads, so sheets are parsed at once: a
// good sheet keeps its tracks and a broken one stays refused.
TEST(CueSheet, SheetsParsedOnSeveralThreadsAtOnceKeepTheirOwnResults) {
    std::atomic<int> wrong{0};
    auto parseMany = [&](bool good) {
        for (int i = 0; i < 2000; ++i) {
            CueProblem problem = CueProblem::kNone;
            const auto tracks =
                good ? Parse("FILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                             " TRACK 02 AUDIO\n  INDEX 01 00:01:00\n",
                             problem)
                     : Parse("TRACK ((\n", problem);
            if (good ? tracks.size() != 2 : problem != CueProblem::kUnparsable) ++wrong;
        }
    };
    std::thread other(parseMany, false);
    parseMany(true);
    other.join();
    EXPECT_EQ(wrong, 0);
}

TEST(CueSheet, IndexesTurnIntoExactImageFrames) {
    EXPECT_EQ(CueFrameToSample(75, 44100), 44100u);
    EXPECT_EQ(CueFrameToSample(1, 44100), 588u);
    EXPECT_EQ(CueFrameToSample(1, 48000), 640u);
    EXPECT_EQ(CueFrameToSample(1, 22050), 294u);
    EXPECT_EQ(CueFrameToSample(-5, 44100), 0u);
}

TEST(FuzzRegression, CueSheetInputsGiveOrderedTracksOrAReason) {
    const auto inputs = testsupport::FuzzRegressionInputs("cue");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const auto bytes = testsupport::ReadFile(path);
        CueProblem problem = CueProblem::kNone;
        const auto tracks = ParseCueSheet(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), problem);
        EXPECT_EQ(tracks.empty(), problem != CueProblem::kNone);
        for (size_t i = 0; i + 1 < tracks.size(); ++i) {
            if (tracks[i].end >= 0) {
                EXPECT_GT(tracks[i].end, tracks[i].start);
            }
        }
    }
}

TEST(CueSheet, FlacFilesCarryTheirSheetInAComment) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("sheet.txt"),
                           std::string("FILE \"rip.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"A\"\n"
                                       "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                                       "    INDEX 00 00:01:00\n    INDEX 01 00:01:30\n"));
    testsupport::Shell("ffmpeg -v error -nostdin -f lavfi -i sine=duration=3 -metadata CUESHEET=\"$(cat " +
                       testsupport::Quote(dir.file("sheet.txt")) + ")\" " +
                       testsupport::Quote(dir.file("a.flac")));
    const auto tracks = ReadEmbeddedCueSheet(dir.file("a.flac"));
    ASSERT_EQ(tracks.size(), 2u);
    // Cut from the FLAC file itself, whatever the FILE line says.
    EXPECT_TRUE(tracks[0].file.empty());
    EXPECT_EQ(tracks[0].tags.title, "A");
    EXPECT_EQ(tracks[0].end, 75 + 30);
    EXPECT_EQ(tracks[1].start, 75 + 30);
    // Not a FLAC file: no sheet.
    EXPECT_TRUE(ReadEmbeddedCueSheet(dir.file("sheet.txt")).empty());
}

TEST(FuzzRegression, EmbeddedCueSheetInputsGiveOrderedTracksOrNone) {
    const auto inputs = testsupport::FuzzRegressionInputs("flaccue");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const auto tracks = ReadEmbeddedCueSheet(path);
        for (size_t i = 0; i < tracks.size(); ++i) {
            EXPECT_GE(tracks[i].start, 0);
            if (i + 1 < tracks.size()) {
                EXPECT_GT(tracks[i].end, tracks[i].start);
            }
        }
    }
    // Offsets no file could reach give no tracks rather than wrapped ones.
    EXPECT_TRUE(ReadEmbeddedCueSheet(std::string(QUELVOX_SOURCE_DIR) +
                                     "/tests/fuzz/regressions/flaccue/huge-offsets.flac")
                    .empty());
}

TEST(CueSheet, SheetsInALegacyCharsetAreReadInTheTagCodePage) {
    CueProblem problem = CueProblem::kNone;
    const std::string latin1 = "TITLE \"Caf\xE9\"\nFILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n"
                               "  INDEX 01 00:00:00\n";
    auto tracks = ParseCueSheet(latin1, problem);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].tags.album, "Caf\xC3\xA9");
    // "中文" in GBK, read as GBK when that is the code page.
    const std::string gbk = "FILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"\xD6\xD0\xCE\xC4\"\n"
                            "  INDEX 01 00:00:00\n";
    tracks = ParseCueSheet(gbk, problem, "GBK");
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].tags.title, "\xE4\xB8\xAD\xE6\x96\x87");
    // UTF-8 stays as it is whatever the code page.
    tracks = ParseCueSheet("FILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"\xE4\xB8\xAD\"\n"
                           "  INDEX 01 00:00:00\n",
                           problem, "GBK");
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].tags.title, "\xE4\xB8\xAD");
}

namespace {

// A sheet of one image with a track per title, a second apart.
std::string SheetWithTitles(const std::string& performer, const std::string& album,
                            const std::vector<std::string>& titles) {
    std::string text = "PERFORMER \"" + performer + "\"\nTITLE \"" + album + "\"\n" +
                       "FILE \"" + album + ".wav\" WAVE\n";
    for (size_t i = 0; i < titles.size(); ++i) {
        char lines[96];
        std::snprintf(lines, sizeof lines, "  TRACK %02zu AUDIO\n    INDEX 01 %02zu:%02zu:00\n",
                      i + 1, i / 60, i % 60);
        text += lines;
        text.insert(text.rfind("    INDEX"), "    TITLE \"" + titles[i] + "\"\n");
    }
    return text;
}

}  // namespace

// Sheets are decoded before they are parsed: UTF-8 as it is, a legacy code
// page as detected over the whole sheet, or as the setting names it.
TEST(CueSheet, SheetsInAnyCharsetGiveTheirTitlesAndFileNames) {
    const std::vector<std::string> chinese = {"以父之名", "晴天", "夜曲", "七里香"};
    const std::vector<std::string> japanese = {"夜に駆ける", "群青", "怪物", "ハルジオン"};
    const std::vector<std::string> french = {"Café Noël", "Déjà vu", "Là-bas", "Été"};
    const struct {
        const char* name;
        std::string performer;
        std::vector<std::string> titles;
        const char* charset;  // what the sheet is stored in
        bool bom;
        const char* setting;  // TagCodePage
    } cases[] = {
        {"UTF-8 with a byte-order mark", "周杰伦", chinese, "UTF-8", true, "auto"},
        {"UTF-8 stays UTF-8 whatever the setting", "周杰伦", chinese, "UTF-8", false, "SHIFT_JIS"},
        {"GBK detected", "周杰伦", chinese, "GBK", false, "auto"},
        {"GBK named", "周杰伦", chinese, "GBK", false, "GBK"},
        {"Shift-JIS detected", "YOASOBI", japanese, "SHIFT_JIS", false, "auto"},
        {"Windows-1252 detected", "Zaz", french, "WINDOWS-1252", false, "auto"},
        // Too little Cyrillic to tell it from double-byte text: the code
        // page the setting names decides.
        {"Windows-1251 named", "Кино", {"Кукушка"}, "WINDOWS-1251", false, "WINDOWS-1251"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string album = c.titles[0];
        std::string stored;
        ASSERT_EQ(Utf8ToCharset(SheetWithTitles(c.performer, album, c.titles), c.charset, stored),
                  0);
        if (c.bom) stored = "\xEF\xBB\xBF" + stored;
        CueProblem problem = CueProblem::kUnparsable;
        const auto tracks = ParseCueSheet(stored, problem, c.setting);
        EXPECT_EQ(problem, CueProblem::kNone);
        ASSERT_EQ(tracks.size(), c.titles.size());
        for (size_t i = 0; i < tracks.size(); ++i) EXPECT_EQ(tracks[i].tags.title, c.titles[i]);
        EXPECT_EQ(tracks[0].tags.artist, c.performer);
        EXPECT_EQ(tracks[0].tags.album, album);
        EXPECT_EQ(tracks[0].file, album + ".wav");
    }
}

TEST(CueSheet, TheSheetsPerformerIsTheAlbumArtistAndEveryTrackKnowsTheTotalAndDisc) {
    CueProblem problem = CueProblem::kUnparsable;
    const std::string text = "REM DISCNUMBER 2\nREM TOTALDISCS 3\n" +
                             SheetWithTitles("Band", "LP", {"One", "Two", "Three"});
    const auto tracks = Parse(text, problem);
    ASSERT_EQ(tracks.size(), 3u);
    for (const CueSheetTrack& t : tracks) {
        EXPECT_EQ(t.tags.albumArtist, "Band");
        EXPECT_EQ(t.tags.trackTotal, 3);
        EXPECT_EQ(t.tags.discNumber, 2);
        EXPECT_EQ(t.tags.discTotal, 3);
    }
    EXPECT_EQ(tracks[1].tags.track, "2/3");
    // Without REM lines there is no disc.
    const auto plain = Parse(SheetWithTitles("Band", "LP", {"One"}), problem);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].tags.discNumber, 0);
    EXPECT_EQ(plain[0].tags.discTotal, 0);
}

TEST(CueSheet, ASheetOfMoreThan99TracksGivesItsFirst99WithTheirOwnBounds) {
    std::vector<std::string> titles;
    for (int i = 1; i <= 1000; ++i) titles.push_back("t" + std::to_string(i));
    CueProblem problem = CueProblem::kUnparsable;
    int listed = 0;
    const auto tracks = ParseCueSheet(SheetWithTitles("Band", "Long", titles), problem, "auto",
                                      &listed);
    EXPECT_EQ(problem, CueProblem::kNone);
    EXPECT_EQ(listed, 1000);
    ASSERT_EQ(tracks.size(), static_cast<size_t>(kMaxCueTracks));
    // The 99th keeps its own title and ends where the 100th starts.
    EXPECT_EQ(tracks[98].tags.title, "t99");
    EXPECT_EQ(tracks[98].start, 98 * 75);
    EXPECT_EQ(tracks[98].end, 99 * 75);
    EXPECT_EQ(tracks[98].tags.track, "99/99");
}

namespace {

std::vector<std::string>& LoggedLines() {
    static std::vector<std::string> lines;
    return lines;
}
void KeepLine(const std::string& line) { LoggedLines().push_back(line); }

}  // namespace

// What the parser says of a broken or binary sheet goes to the library log
// (shown with -v), never to standard error.
TEST(CueSheet, TheParsersComplaintsGoToTheLibraryLogOnly) {
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(1 + (i * 7) % 250);
    const std::string sheets[] = {"FILE \"a.wav\" WAVE\n TRACK 01 ((\n", binary,
                                  "FILE \"a.wav\" WAVE\n TRACK 01 AUDIO\n @@ \x01\xFF\n"
                                  "  INDEX 01 00:00:00\n"};
    SetLibraryLogSink(KeepLine);
    for (const std::string& sheet : sheets) {
        LoggedLines().clear();
        testing::internal::CaptureStderr();
        CueProblem problem = CueProblem::kNone;
        ParseCueSheet(sheet, problem);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_FALSE(LoggedLines().empty());
        for (const std::string& line : LoggedLines()) {
            EXPECT_EQ(line.rfind("libcue: ", 0), 0u) << line;
            EXPECT_EQ(SanitizeUtf8(line), line);
            EXPECT_TRUE(std::none_of(line.begin(), line.end(),
                                     [](char c) { return c >= 0 && c < 0x20; }))
                << line;
        }
        EXPECT_LE(LoggedLines().size(), 21u);
    }
    SetLibraryLogSink(nullptr);
    // Standard error works again afterwards.
    testing::internal::CaptureStderr();
    std::fputs("after\n", stderr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "after\n");
}
