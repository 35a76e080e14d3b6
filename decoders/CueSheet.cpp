#include "decoders/CueSheet.h"

#include "common/TextCodec.h"

extern "C" {
#include <libcue/libcue.h>
}

#include <memory>

namespace quelvox {

namespace {

struct CdDeleter {
    void operator()(Cd* cd) const { cd_delete(cd); }
};

std::string Text(const char* text) { return text ? SanitizeUtf8(text) : std::string(); }

std::string CdText(Cdtext* cdtext, Pti field) {
    return cdtext ? Text(cdtext_get(field, cdtext)) : std::string();
}

}  // namespace

uint64_t CueFrameToSample(int64_t cdFrames, int sampleRate) {
    if (cdFrames <= 0 || sampleRate <= 0) return 0;
    // Exact in 64 bits for any sheet position (below 2^31 frames) and rate.
    return static_cast<uint64_t>(cdFrames) * static_cast<uint64_t>(sampleRate) /
           static_cast<uint64_t>(kCueFramesPerSecond);
}

std::vector<CueSheetTrack> ParseCueSheet(std::string_view text, CueProblem& problem) {
    std::vector<CueSheetTrack> tracks;
    problem = CueProblem::kNone;
    if (text.size() > kMaxCueSheetBytes) {
        problem = CueProblem::kTooLarge;
        return tracks;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    // The parser reads a C string: a NUL byte would end the sheet early
    // without saying so, so such a text is refused whole.
    if (text.find('\0') != std::string_view::npos) {
        problem = CueProblem::kUnparsable;
        return tracks;
    }
    const std::string terminated(text);
    std::unique_ptr<Cd, CdDeleter> cd(cue_parse_string(terminated.c_str()));
    if (!cd) {
        problem = CueProblem::kUnparsable;
        return tracks;
    }

    Cdtext* album = cd_get_cdtext(cd.get());
    const std::string albumTitle = CdText(album, PTI_TITLE);
    const std::string albumArtist = CdText(album, PTI_PERFORMER);
    const std::string albumGenre = CdText(album, PTI_GENRE);
    Rem* albumRem = cd_get_rem(cd.get());
    const std::string albumDate = albumRem ? Text(rem_get(REM_DATE, albumRem)) : std::string();

    const int count = cd_get_ntrack(cd.get());
    for (int i = 1; i <= count; ++i) {
        Track* track = cd_get_track(cd.get(), i);
        if (!track || track_get_mode(track) != MODE_AUDIO) continue;
        const char* file = track_get_filename(track);
        const long start = track_get_start(track);
        if (!file || !*file || start < 0) continue;
        CueSheetTrack entry;
        entry.file = Text(file);
        entry.start = start;
        Cdtext* own = track_get_cdtext(track);
        entry.tags.title = CdText(own, PTI_TITLE);
        entry.tags.artist = CdText(own, PTI_PERFORMER);
        if (entry.tags.artist.empty()) entry.tags.artist = albumArtist;
        entry.tags.album = albumTitle;
        entry.tags.genre = CdText(own, PTI_GENRE);
        if (entry.tags.genre.empty()) entry.tags.genre = albumGenre;
        Rem* rem = track_get_rem(track);
        entry.tags.year = rem ? Text(rem_get(REM_DATE, rem)) : std::string();
        if (entry.tags.year.empty()) entry.tags.year = albumDate;
        tracks.push_back(std::move(entry));
    }
    if (tracks.empty()) {
        problem = CueProblem::kNoAudioTrack;
        return tracks;
    }

    // Each track ends where the next one in the same image starts (at its
    // INDEX 01), so the gap before a track stays with the track before it.
    const std::string total = std::to_string(tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        CueSheetTrack& t = tracks[i];
        t.number = static_cast<int>(i + 1);
        t.tags.track = std::to_string(t.number) + "/" + total;
        if (i + 1 < tracks.size() && tracks[i + 1].file == t.file) t.end = tracks[i + 1].start;
        // Tracks of one image follow each other: an index going backwards
        // (or a track of no length) leaves no way to cut the image.
        if (t.end >= 0 && t.end <= t.start) {
            problem = CueProblem::kUnparsable;
            tracks.clear();
            return tracks;
        }
    }
    return tracks;
}

}  // namespace quelvox
