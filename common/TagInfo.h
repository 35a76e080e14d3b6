// The tag record every output file's tags are assembled in, the genre name
// list, and the decimal reading that turns tag texts into numbers.
#pragma once

#include <string>
#include <string_view>

namespace quelvox {

// The nine tag texts of a file, as readers deliver them (ReadTags) and
// writers receive them (SetTags). UTF-8; an empty text means the value is
// absent. The track stays text; a writer reads it as a decimal number, and
// a number of 0 or less means no track.
struct TagInfo {
    std::string title, artist, album, year, genre, comment, track, composer, copyright;

    // True when every text is empty.
    bool IsEmpty() const {
        return title.empty() && artist.empty() && album.empty() && year.empty() && genre.empty() &&
               comment.empty() && track.empty() && composer.empty() && copyright.empty();
    }
};

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
