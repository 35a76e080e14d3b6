// CUE sheets: the tracks of an album kept as one audio image, read with
// libcue.
#pragma once

#include "common/TagInfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvox {

// Sheets larger than this are not parsed: a real sheet is a few kilobytes,
// and the parser holds the whole text and its tree in memory.
inline constexpr size_t kMaxCueSheetBytes = size_t{1} << 20;

// 1/75 s: the unit of a sheet's INDEX positions (CD frames).
inline constexpr int64_t kCueFramesPerSecond = 75;

// A compact disc holds at most 99 tracks, and so does a sheet: the tracks
// after the 99th are left out.
inline constexpr int kMaxCueTracks = 99;

// One audio track of a sheet.
struct CueSheetTrack {
    int number = 0;     // 1-based position among the sheet's audio tracks
    std::string file;   // the image as the sheet names it (FILE)
    // INDEX 01 of this track and of the next track in the same image, in
    // frames from the image's start; end -1 when the track runs to the end
    // of the image. A pregap (INDEX 00) thus belongs to the track before.
    int64_t start = 0;
    int64_t end = -1;
    // Title, artist (the track's PERFORMER, else the album's), album (the
    // sheet's TITLE), album artist (the sheet's PERFORMER), year (REM
    // DATE), genre (REM GENRE), track "n/N" with its total, and the disc
    // (REM DISCNUMBER, REM TOTALDISCS) where the sheet gives one.
    TagInfo tags;
};

// Why a sheet gave no tracks.
enum class CueProblem {
    kNone,
    kTooLarge,      // above kMaxCueSheetBytes
    kUnparsable,    // the parser refused it, or its indexes go backwards
    kNoAudioTrack,  // it parsed but lists no audio track with a file
};

// Parses the text of a sheet (UTF-8, a leading byte-order mark is skipped).
// Rippers often wrote sheets in a legacy charset: a text that is not valid
// UTF-8 is read in `codePage` (an iconv name such as "GBK"; kAutoCodePage
// judges the whole sheet, see ResolveCodePage), or as Latin-1 when that
// fails or is empty. Returns the audio tracks in order; on failure an empty
// list and the cause in `problem`. Only the first kMaxCueTracks tracks are
// read; `sheetTracks`, when given, receives how many the sheet lists.
// What the parser says of a sheet it refuses goes to the library log
// (LogLibraryLine), never to standard error.
std::vector<CueSheetTrack> ParseCueSheet(std::string_view text, CueProblem& problem,
                                         const std::string& codePage = std::string(),
                                         int* sheetTracks = nullptr);

// The sheet a FLAC file carries for its own audio: the text of a CUESHEET
// Vorbis comment (parsed as above) or else its CUESHEET metadata block.
// The tracks' `file` is the FLAC file itself (whatever a FILE line says);
// a block's sample offsets become 1/75 s frames (exact for CD audio, whose
// offsets are multiples of 588 samples at 44.1 kHz; otherwise rounded
// down). Empty when the file has no usable sheet or is no FLAC file.
// Metadata beyond kMaxFlacMetadataBytes is not read.
std::vector<CueSheetTrack> ReadEmbeddedCueSheet(const std::string& path);
inline constexpr size_t kMaxFlacMetadataBytes = size_t{16} << 20;

// The same from the metadata bytes of a FLAC file (its start, "fLaC"
// included, up to the audio or any shorter part).
std::vector<CueSheetTrack> ParseEmbeddedCueSheet(std::string_view flac);

// The frame (sample per channel) of the image at `cdFrames` 1/75 s at
// `sampleRate`, rounded down; negative positions give 0.
uint64_t CueFrameToSample(int64_t cdFrames, int sampleRate);

}  // namespace quelvox
