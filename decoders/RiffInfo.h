// Text tags of RIFF WAVE files: the sub-chunks of a LIST chunk of type INFO,
// a text DISP chunk, and numeric genres. The fallback of the carry-over tag
// policy for WAV sources whose reader reports no tags.
#pragma once

#include <cstdint>
#include <string>

#include "common/TagInfo.h"

namespace quelvox {

// Largest LIST/INFO body and DISP text read into memory.
inline constexpr uint32_t kMaxRiffTextBody = 0xA00000;  // 10 MiB

// Reads the RIFF INFO tags of the file at `path` into `tags`, which is
// emptied first (also when the file cannot be opened). Returns nonzero when
// something was found.
//
// INAM, IART, IPRD, IGNR, ICMT, ICOP, ICRD and ITRK fill title, artist,
// album, genre, comment, copyright, year and track; IGRE gives a genre
// number that names the genre when there is no IGNR text, and a genre text
// "(n)" becomes the name of genre n. The year is cut to 4 characters; a text
// DISP chunk gives the title when there is no INAM. The composer is never
// filled. Texts are returned as UTF-8: current tools (ffmpeg among them)
// write UTF-8, which is kept; older programs wrote their ANSI code page,
// read here in `codePage` (see LegacyTextToUtf8).
//
// Malformed files never cause reads outside the data actually read: chunk
// walks resynchronise on the next letter, sizes are clamped, and a truncated
// or corrupt file ends the walk with what was found so far.
int ReadRiffInfoTags(const std::string& path, TagInfo& tags,
                     const std::string& codePage = std::string());

}  // namespace quelvox
