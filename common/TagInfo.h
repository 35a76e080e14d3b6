// The tag record every output file's tags are assembled in, the genre name
// list, and the decimal reading that turns tag texts into numbers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quelvox {

// One embedded picture: its ID3 picture type (3 = front cover), MIME type,
// description (UTF-8) and the image bytes as stored.
struct TagPicture {
    int type = 3;
    std::string mimeType;
    std::string description;
    std::string data;

    bool operator==(const TagPicture&) const = default;
};

// Pictures larger than this are never carried; a source's larger picture is
// dropped with a note.
inline constexpr size_t kMaxPictureBytes = 16u * 1024u * 1024u;

// Picture types run from 0 ("Other") to 20 ("Publisher/Studio logotype").
inline constexpr int kMaxPictureType = 20;

// The MIME type of image bytes by their own signature (JPEG, PNG, GIF,
// WebP, AVIF, BMP); empty when they are no image of these kinds.
std::string ImageMimeType(std::string_view data);

// Whether `mime` is a plain "type/subtype" of ASCII token characters.
bool IsPlainMimeType(std::string_view mime);

// Puts right what a source may have said wrong of a picture it carries: a
// type outside 0..20 becomes 0, a MIME type that is not a plain
// "type/subtype" (or none) becomes the one the image's bytes show. False
// when the bytes are no image of a known kind: such a picture is not
// carried.
bool SanitisePicture(TagPicture& picture);

// ReplayGain values as the source stores them ("-6.50 dB", "0.988").
struct ReplayGain {
    std::string trackGain, trackPeak, albumGain, albumPeak;

    bool IsEmpty() const {
        return trackGain.empty() && trackPeak.empty() && albumGain.empty() && albumPeak.empty();
    }
};

// The tags of a file, as readers deliver them (ReadTags) and writers receive
// them (SetTags). UTF-8; an empty text means the value is absent.
//
// The nine texts are what custom tags and every writer know. The track
// stays text; a writer reads it as a decimal number, and a number of 0 or
// less means no track. Where the source has several artists or genres, the
// text holds them joined with "; " and the list holds each one.
//
// The fields after them are carried over from a source only (the tag
// policy's carry-over mode); numbers of 0 and empty texts are absent.
struct TagInfo {
    std::string title, artist, album, year, genre, comment, track, composer, copyright;

    std::string albumArtist;
    int discNumber = 0, discTotal = 0, trackTotal = 0;
    std::string lyrics;
    bool compilation = false;
    std::vector<std::string> artists;  // two or more, else empty
    std::vector<std::string> genres;   // two or more, else empty
    ReplayGain replayGain;             // kept only while the level is unchanged
    std::vector<TagPicture> pictures;

    // True when the nine texts are empty.
    bool TextsEmpty() const {
        return title.empty() && artist.empty() && album.empty() && year.empty() && genre.empty() &&
               comment.empty() && track.empty() && composer.empty() && copyright.empty();
    }
    // True when none of the fields after the nine texts holds a value.
    bool ExtrasEmpty() const {
        return albumArtist.empty() && discNumber == 0 && discTotal == 0 && trackTotal == 0 &&
               lyrics.empty() && !compilation && artists.empty() && genres.empty() &&
               replayGain.IsEmpty() && pictures.empty();
    }
    // True when no field holds a value.
    bool IsEmpty() const { return TextsEmpty() && ExtrasEmpty(); }

    // Takes the fields after the nine texts from `other`, replacing these.
    void TakeExtras(const TagInfo& other);
};

// Joins several values into the one text of a single-valued field.
std::string JoinValues(const std::vector<std::string>& values);

// Number of entries in the genre name list (indexes 0 to kGenreCount - 1):
// the ID3v1 genres 0 to 79 and the later extensions 80 to 147.
inline constexpr int kGenreCount = 148;

// The genre name for an index of the list; empty for any other index.
std::string_view GenreName(int index);

// The usual decimal reading of a text: leading blanks (space, tab, line
// breaks, vertical tab, form feed) are skipped, then an optional '+' or '-',
// then digits up to the first other character. A text without those digits
// gives 0 ("7/12" gives 7, "x3" gives 0). Values beyond the int range clamp
// to INT_MIN or INT_MAX.
int ParseDecimal(std::string_view text);

}  // namespace quelvox
