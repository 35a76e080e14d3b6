#include "engine/TagPolicy.h"

#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "settings/Settings.h"
#include "decoders/RiffInfo.h"
#include "engine/Texts.h"
#include "platform/bass/BassRuntime.h"

#include <algorithm>

namespace quelvox {

namespace {

// The tags of a source file in carry-over mode: what its reader finds, or
// the RIFF INFO list of a WAV file, with the fields beyond the nine texts
// that TagLib reads from the file itself when the reader has none.
// Returns whether anything was found.
bool SourceTags(CAudioReader* reader, const FileEntry& source, const CSettings& settings,
                TagInfo& tags) {
    int found = reader ? reader->ReadTags(tags) : 0;
    if (!found && source.InputType == kInputWav)
        found = ReadRiffInfoTags(source.Path, tags, settings.TagCodePage);
    if (!found) tags = TagInfo{};
    if (tags.ExtrasEmpty()) {
        const TagInfo file = bass::ReadFileTags(source.Path, settings.TagCodePage);
        if (found)
            tags.TakeExtras(file);
        else
            tags = file;
    }
    return !tags.IsEmpty();
}

// Hands `tags` to the writer of `outputFormat` unless TagLib writes the
// format's tags onto the finished file: that write replaces the whole tag,
// so the muxer writes none and each container has one tag writer.
void HandTags(CAudioWriter& writer, int outputFormat, const TagInfo& tags) {
    if (FormatTagFile(outputFormat) == TagFileKind::None) writer.SetTags(tags);
}

// The custom values with the given title and track, handed to the writer.
TagInfo SetCustomTags(CAudioWriter& writer, int outputFormat, const CSettings& settings,
                      const std::string& title, int track) {
    TagInfo tags;
    tags.title = title;
    tags.artist = settings.Artist;
    tags.album = settings.Album;
    tags.year = settings.Year;
    tags.genre = settings.Genre;
    tags.comment = settings.Comment;
    tags.track = track != 0 ? std::to_string(track) : std::string();
    tags.composer = settings.Composer;
    tags.copyright = settings.Copyright;
    tags.albumArtist = settings.AlbumArtist;
    // "2" or "2/3"; what does not read as a positive number is no disc.
    const std::string_view disc = settings.Disc;
    tags.discNumber = std::max(ParseDecimal(disc), 0);
    const size_t slash = disc.find('/');
    if (tags.discNumber > 0 && slash != std::string_view::npos)
        tags.discTotal = std::max(ParseDecimal(disc.substr(slash + 1)), 0);
    HandTags(writer, outputFormat, tags);
    return tags;
}

}  // namespace

bool IsTaglessFormat(int outputFormat) { return !FormatCarriesTags(outputFormat); }

std::string TitleFromFileName(std::string_view path) {
    // UTF-8 never uses the bytes of '/' or '.' inside a multibyte character,
    // so byte searches cannot split a name.
    const size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(name);
}

bool ApplyTagPolicy(CAudioReader& reader, CAudioWriter& writer, const FileEntry& source,
                    int outputFormat, const CSettings& settings, const FileEntry* listed,
                    int index, TagInfo* handed) {
    if (IsTaglessFormat(outputFormat)) return false;

    if (settings.ID3TagType == kTagsCustom) {
        const FileEntry& named = listed ? *listed : source;
        // A CUE track's file name is its track name.
        const std::string fileTitle =
            named.TrackName.empty() ? TitleFromFileName(named.Path) : named.TrackName;
        const std::string title = settings.TitleAsFileName ? fileTitle : settings.Title;
        int track = 0;
        if (settings.TrackNumType == kTrackRunPosition)
            track = index;
        else if (settings.TrackNumType == kTrackCustom)
            track = settings.CustomTrackNum;
        const TagInfo tags = SetCustomTags(writer, outputFormat, settings, title, track);
        if (handed) *handed = tags;
        return true;
    }

    if (settings.ID3TagType == kTagsFromSource) {
        TagInfo tags;
        if (!SourceTags(&reader, source, settings, tags)) return false;
        HandTags(writer, outputFormat, tags);
        if (handed) *handed = std::move(tags);
        return true;
    }

    return false;
}

bool ApplyMergedTagPolicy(CAudioWriter& writer, int outputFormat, const CSettings& settings,
                          std::span<FileEntry* const> sources, TagInfo* handed) {
    if (IsTaglessFormat(outputFormat)) return false;
    if (settings.ID3TagType == kTagsCustom) {
        const TagInfo tags =
            SetCustomTags(writer, outputFormat, settings,
                          settings.TitleAsFileName ? std::string() : settings.Title, 0);
        if (handed) *handed = tags;
        return true;
    }
    if (settings.ID3TagType != kTagsFromSource) return false;
    // An untagged first file (a silence, a spoken intro) gives its place to
    // the next one that has tags.
    TagInfo found;
    const auto tagged = std::find_if(sources.begin(), sources.end(), [&](const FileEntry* e) {
        return e && SourceTags(nullptr, *e, settings, found);
    });
    if (tagged == sources.end()) return false;
    // What describes the album, not one of its tracks.
    TagInfo tags;
    tags.artist = found.artist;
    tags.album = found.album;
    tags.year = found.year;
    tags.genre = found.genre;
    tags.composer = found.composer;
    tags.copyright = found.copyright;
    tags.albumArtist = found.albumArtist;
    tags.discNumber = found.discNumber;
    tags.discTotal = found.discTotal;
    tags.compilation = found.compilation;
    tags.artists = found.artists;
    tags.genres = found.genres;
    tags.pictures = found.pictures;
    HandTags(writer, outputFormat, tags);
    if (handed) *handed = std::move(tags);
    return true;
}

bool WriteOutputTags(const std::string& path, int outputFormat, TagInfo tags, float gain,
                     const std::string& shownName, Text& error, DroppedTagNotes& dropped,
                     const ReplayGain& measured) {
    dropped = {};
    if (gain != 1.0f) tags.replayGain = ReplayGain{};
    if (!measured.IsEmpty()) tags.replayGain = measured;
    const TagWriteResult result = WriteTagFile(path, FormatTagFile(outputFormat), tags);
    if (!result.saved) {
        // A refused write (a full disk) reads as any other failed write.
        error = EngineText(result.writeFailed ? kWriteFailedDetail : kTagsNotSavedDetail, result.error);
        return false;
    }
    if (result.dropped.empty()) return true;
    dropped.summary = EngineText(kTagsDroppedNote, shownName);
    for (const DroppedTagField& d : result.dropped)
        dropped.fields.push_back(EngineText(kTagFieldDroppedNote, shownName, d.field, d.reason));
    return true;
}

}  // namespace quelvox
