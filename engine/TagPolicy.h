// Which tags an output file receives: custom values, the source's own tags,
// or none, as the user's tag policy says.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "common/AudioStream.h"
#include "common/FileEntry.h"
#include "common/Text.h"
#include "encoders/TagWriter.h"
#include "engine/RunState.h"
#include "settings/Settings.h"

namespace quelvox {

struct CSettings;

// True for the output formats that never receive tags, whatever the policy:
// MMF, WAV, FLV, AU, AIFF, AMR, AWB, SWF and VOC.
bool IsTaglessFormat(int outputFormat);

// The title a listed file gives in custom mode: its file name (the part
// after the last '/') cut at its last dot; a name without a dot stays whole.
std::string TitleFromFileName(std::string_view path);

// Hands the tags of one output file to its writer; call it after the
// writer's codec and stream parameters and before SetFileName and Open.
//
// `source` is the file being decoded (a pre-processed temporary file stands
// in for the listed file where there is one); `listed` is the listed file,
// whose name gives the title in custom mode (when it is null, `source` is
// used), and `index` its 1-based position in the run.
//
// Custom mode passes the custom values, with the title from the file name
// when TitleAsFileName is set and the track by TrackNumType. Carry-over
// mode passes what the reader's ReadTags finds, falling back to the RIFF
// INFO tags of WAV sources, as found (the writer reads the track text as a
// decimal number), with the album fields, artist and genre lists, lyrics,
// ReplayGain values and pictures TagLib finds in the source; nothing is
// passed when nothing is found. Any other policy, and every tagless format,
// passes nothing. Returns whether there are tags for the output; `handed`,
// when given, receives them, for WriteOutputTags. The writer receives them
// (SetTags) only when TagLib does not write the format's tags onto the
// finished file (FormatTagFile gives None): one tag writer per container.
bool ApplyTagPolicy(CAudioReader& reader, CAudioWriter& writer, const FileEntry& source,
                    int outputFormat, const CSettings& settings, const FileEntry* listed,
                    int index, TagInfo* handed = nullptr);

// The tags of a merged output file, only for formats that carry tags: in
// custom mode the custom values with track 0 and, since no single source
// names the file, an empty title when TitleAsFileName is set; in carry-over
// mode the album fields and pictures of the first of `sources` (the run's
// files in order) that has tags: album, album artist, artists, year,
// genres, composer, copyright, disc and compilation. Returns and hands
// them over as ApplyTagPolicy does.
bool ApplyMergedTagPolicy(CAudioWriter& writer, int outputFormat, const CSettings& settings,
                          std::span<FileEntry* const> sources = {}, TagInfo* handed = nullptr);

// Writes `tags` onto the finished temporary output `path` of `outputFormat`
// in its container's convention (WriteTagFile), without the ReplayGain
// values when the audio's level was changed (`gain` other than 1); values
// `measured` for the output replace the source's when not empty. Fields
// left out are described in `dropped` under the name `shownName` (empty
// when none were). Returns false, with `error` set, when the file's tags
// could not be saved.
bool WriteOutputTags(const std::string& path, int outputFormat, TagInfo tags, float gain,
                     const std::string& shownName, Text& error, DroppedTagNotes& dropped,
                     const ReplayGain& measured = ReplayGain{});

}  // namespace quelvox
