#include "engine/TagPolicy.h"

#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "settings/Settings.h"
#include "decoders/RiffInfo.h"

namespace quelvox {

namespace {

// Hands the custom values to the writer with the given title and track.
void SetCustomTags(CAudioWriter& writer, const CSettings& settings, const std::string& title,
                   int track) {
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
    writer.SetTags(tags);
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
                    int outputFormat, const CSettings& settings, const RunState& state) {
    if (IsTaglessFormat(outputFormat)) return false;

    if (settings.ID3TagType == kTagsCustom) {
        const FileEntry& listed = state.currentEntry ? *state.currentEntry : source;
        // A CUE track's file name is its track name.
        const std::string fileTitle =
            listed.TrackName.empty() ? TitleFromFileName(listed.Path) : listed.TrackName;
        const std::string title = settings.TitleAsFileName ? fileTitle : settings.Title;
        int track = 0;
        if (settings.TrackNumType == kTrackRunPosition)
            track = state.currentIndex;
        else if (settings.TrackNumType == kTrackCustom)
            track = settings.CustomTrackNum;
        SetCustomTags(writer, settings, title, track);
        return true;
    }

    if (settings.ID3TagType == kTagsFromSource) {
        TagInfo tags;
        int found = reader.ReadTags(tags);
        if (!found && source.InputType == kInputWav)
            found = ReadRiffInfoTags(source.Path, tags, settings.TagCodePage);
        if (!found) return false;
        writer.SetTags(tags);
        return true;
    }

    return false;
}

bool ApplyMergedTagPolicy(CAudioWriter& writer, int outputFormat, const CSettings& settings) {
    if (IsTaglessFormat(outputFormat) || settings.ID3TagType != kTagsCustom) return false;
    SetCustomTags(writer, settings, settings.TitleAsFileName ? std::string() : settings.Title, 0);
    return true;
}

}  // namespace quelvox
