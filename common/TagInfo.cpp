#include "common/TagInfo.h"

#include <climits>
#include <iterator>

namespace quelvox {

namespace {

constexpr const char* kGenreNames[] = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "Alt. Rock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychadelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    // Extensions beyond the original ID3v1 list.
    "Folk",
    "Folk/Rock",
    "National Folk",
    "Swing",
    "Fast-Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A Cappella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Trash Metal",
    "Anime",
    "Jpop",
    "Synthpop",
};
static_assert(std::size(kGenreNames) == kGenreCount);

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string ImageMimeType(std::string_view data) {
    // Each kind's signature: bytes at an offset, all of which must match.
    struct Mark {
        size_t at;
        std::string_view bytes;
    };
    struct Kind {
        const char* mime;
        Mark first, second;
    };
    using namespace std::string_view_literals;
    static constexpr Kind kKinds[] = {
        {"image/jpeg", {0, "\xFF\xD8\xFF"sv}, {}},
        {"image/png", {0, "\x89PNG\r\n\x1A\n"sv}, {}},
        {"image/gif", {0, "GIF87a"sv}, {}},
        {"image/gif", {0, "GIF89a"sv}, {}},
        {"image/webp", {0, "RIFF"sv}, {8, "WEBP"sv}},
        {"image/avif", {4, "ftypavif"sv}, {}},
        {"image/avif", {4, "ftypavis"sv}, {}},
        // A bitmap file header, then the size of one of the info headers.
        {"image/bmp", {0, "BM"sv}, {14, "\x28\0\0\0"sv}},
        {"image/bmp", {0, "BM"sv}, {14, "\x0C\0\0\0"sv}},
        {"image/bmp", {0, "BM"sv}, {14, "\x6C\0\0\0"sv}},
        {"image/bmp", {0, "BM"sv}, {14, "\x7C\0\0\0"sv}},
    };
    const auto matches = [data](const Mark& m) {
        return m.bytes.empty() || (data.size() >= m.at + m.bytes.size() &&
                                   data.substr(m.at, m.bytes.size()) == m.bytes);
    };
    for (const Kind& k : kKinds)
        if (matches(k.first) && matches(k.second)) return k.mime;
    return {};
}

bool IsPlainMimeType(std::string_view mime) {
    // RFC 6838 restricted names: a letter or digit, then up to 126 of
    // letters, digits and !#$&-^_.+
    const auto name = [](std::string_view part) {
        if (part.empty() || part.size() > 127) return false;
        for (size_t i = 0; i < part.size(); ++i) {
            const char c = part[i];
            const bool alnum =
                (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (alnum) continue;
            if (i == 0 || std::string_view("!#$&-^_.+").find(c) == std::string_view::npos)
                return false;
        }
        return true;
    };
    const size_t slash = mime.find('/');
    return slash != std::string_view::npos && name(mime.substr(0, slash)) &&
           name(mime.substr(slash + 1));
}

bool SanitisePicture(TagPicture& picture) {
    const std::string kind = ImageMimeType(picture.data);
    if (kind.empty()) return false;
    if (picture.type < 0 || picture.type > kMaxPictureType) picture.type = 0;
    if (!IsPlainMimeType(picture.mimeType)) picture.mimeType = kind;
    return true;
}

void TagInfo::TakeExtras(const TagInfo& other) {
    albumArtist = other.albumArtist;
    discNumber = other.discNumber;
    discTotal = other.discTotal;
    trackTotal = other.trackTotal;
    lyrics = other.lyrics;
    compilation = other.compilation;
    artists = other.artists;
    genres = other.genres;
    replayGain = other.replayGain;
    pictures = other.pictures;
}

std::string JoinValues(const std::vector<std::string>& values) {
    std::string joined;
    for (const std::string& v : values) {
        if (v.empty()) continue;
        if (!joined.empty()) joined += "; ";
        joined += v;
    }
    return joined;
}

std::string_view GenreName(int index) {
    if (index < 0 || index >= kGenreCount) return {};
    return kGenreNames[index];
}

int ParseDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude in 64 bits and stop growing once it is past
    // the int range, so long digit runs can never overflow.
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace quelvox
