// CUE sheet parsing: track bounds with pregaps, tags from the sheet, and
// the sheets that give no tracks; the stored fuzzing inputs replayed.
#include "decoders/CueSheet.h"

#include "fuzz/Regressions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
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
