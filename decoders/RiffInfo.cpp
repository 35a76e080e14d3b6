#include "decoders/RiffInfo.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "common/TextCodec.h"

namespace quelvox {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool IsAsciiLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool SameId(const unsigned char* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// Reads up to `count` bytes from the current position; fewer when the file
// ends first. Reads in pieces so that a size field that lies costs no more
// memory than the file actually holds.
std::vector<unsigned char> ReadUpTo(std::FILE* f, uint32_t count) {
    std::vector<unsigned char> out;
    constexpr size_t kPiece = 64 * 1024;
    while (out.size() < count) {
        const size_t want = std::min<size_t>(kPiece, count - out.size());
        const size_t have = out.size();
        out.resize(have + want);
        const size_t got = std::fread(out.data() + have, 1, want, f);
        out.resize(have + got);
        if (got < want) break;
    }
    return out;
}

// Moves forward by `count` bytes. A position beyond the end is allowed: the
// next read then fails and ends the walk.
bool SkipForward(std::FILE* f, uint32_t count) {
    return count == 0 || fseeko(f, static_cast<off_t>(count), SEEK_CUR) == 0;
}

// Bytes up to the first NUL (or all of them).
std::string TextUpToNul(const unsigned char* p, size_t n) {
    const void* nul = std::memchr(p, 0, n);
    if (nul) n = static_cast<size_t>(static_cast<const unsigned char*>(nul) - p);
    return std::string(reinterpret_cast<const char*>(p), n);
}

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t count) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars == count) return text.substr(0, i);
        ++chars;
    }
    return text;
}

// INFO identifiers that fill a text field.
std::string* TextField(const unsigned char* id, TagInfo& t) {
    struct Row {
        const char* id;
        std::string TagInfo::*field;
    };
    static constexpr Row kRows[] = {
        {"INAM", &TagInfo::title}, {"IART", &TagInfo::artist},  {"IPRD", &TagInfo::album},
        {"IGNR", &TagInfo::genre}, {"ICMT", &TagInfo::comment}, {"ICOP", &TagInfo::copyright},
        {"ICRD", &TagInfo::year},  {"ITRK", &TagInfo::track},
    };
    for (const Row& r : kRows)
        if (SameId(id, r.id)) return &(t.*r.field);
    return nullptr;
}

// INFO identifiers that are known and skipped whole.
bool IsSkippedId(const unsigned char* id) {
    static constexpr const char* kSkipped[] = {"IARL", "ICMS", "ICRP", "IDIM", "IDPI", "IENG",
                                               "IKEY", "ILGT", "IMED", "IPLT", "ISBJ", "ISFT",
                                               "ISHP", "ISRC", "ISRF", "ITCH"};
    for (const char* s : kSkipped)
        if (SameId(id, s)) return true;
    return false;
}

// Parses an INFO body (the LIST chunk's data after "INFO"). Every access
// stays inside `body`; sub-chunk identifiers are found by scanning for an
// 'I' or 'i' followed by three letters, so pad bytes and stray bytes are
// stepped over. Returns whether something was found; sets genreNumber from
// an IGRE sub-chunk.
bool ParseInfoBody(const std::vector<unsigned char>& body, TagInfo& tags, int& genreNumber) {
    const unsigned char* b = body.data();
    const size_t end = body.size();
    bool found = false;
    // IPRT ("part", the track as some writers store it) numbers the track
    // when no ITRK does.
    std::string part;
    size_t p = 0;
    while (p + 8 < end) {
        while (p + 3 < end && !((b[p] == 'I' || b[p] == 'i') && IsAsciiLetter(b[p + 1]) &&
                                IsAsciiLetter(b[p + 2]) && IsAsciiLetter(b[p + 3])))
            ++p;
        // An identifier needs its size field inside the body too.
        if (p + 8 > end) break;
        const unsigned char* id = b + p;
        const uint32_t size = ReadLe32(b + p + 4);
        const size_t data = p + 8;
        const size_t left = end - data;
        std::string* field = SameId(id, "IPRT") ? &part : TextField(id, tags);
        if (field) {
            if (size > 0 && left > 0) {
                const size_t n = std::min<size_t>(size, left);
                *field = TextUpToNul(b + data, n);
                found = true;
                p = data + n;
            } else {
                p = data;
            }
        } else if (SameId(id, "IGRE")) {
            if (size == 0) {
                p = data;
                continue;
            }
            if (left > 0) {
                genreNumber = b[data];
                found = true;
            }
            if (size > left) break;
            p = data + size;
        } else if (IsSkippedId(id)) {
            if (size > left) break;
            p = data + size;
        } else {
            ++p;
        }
    }
    if (tags.track.empty()) tags.track = part;
    return found;
}

}  // namespace

int ReadRiffInfoTags(const std::string& path, TagInfo& tags, const std::string& codePage) {
    tags = TagInfo{};
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return 0;
    std::FILE* f = file.get();

    unsigned char head[12];
    if (std::fread(head, 1, 8, f) != 8 || !SameId(head, "RIFF")) return 0;
    if (std::fread(head + 8, 1, 4, f) != 4 || !SameId(head + 8, "WAVE")) return 0;

    bool found = false;
    bool haveInfo = false;
    std::vector<unsigned char> info;
    bool haveDisplay = false;
    std::string display;

    // The chunk walk. Each chunk starts at the next ASCII letter, which steps
    // over pad bytes whether or not a writer put them there.
    for (;;) {
        int c;
        do {
            c = getc_unlocked(f);
        } while (c != EOF && !IsAsciiLetter(c));
        if (c == EOF) break;
        unsigned char chunk[8];
        chunk[0] = static_cast<unsigned char>(c);
        if (std::fread(chunk + 1, 1, 7, f) != 7) break;
        const uint32_t size = ReadLe32(chunk + 4);

        if (SameId(chunk, "LIST")) {
            unsigned char type[4];
            if (std::fread(type, 1, 4, f) != 4) break;
            if (SameId(type, "INFO")) {
                // A later INFO list replaces an earlier one.
                const uint32_t clamped = std::min(size, kMaxRiffTextBody);
                info = ReadUpTo(f, clamped > 4 ? clamped - 4 : 0);
                haveInfo = true;
            } else if (!SkipForward(f, size > 4 ? size - 4 : 0)) {
                break;
            }
        } else if (SameId(chunk, "DISP") && size > 4) {
            unsigned char type[4];
            if (std::fread(type, 1, 4, f) != 4) break;
            if (ReadLe32(type) == 1) {  // text
                const std::vector<unsigned char> text =
                    ReadUpTo(f, std::min(size - 4, kMaxRiffTextBody));
                display = TextUpToNul(text.data(), text.size());
                haveDisplay = true;
                found = true;
            } else if (!SkipForward(f, size - 4)) {
                break;
            }
        } else if (!SkipForward(f, size)) {
            break;
        }
    }
    file.reset();

    int genreNumber = -1;
    if (haveInfo && ParseInfoBody(info, tags, genreNumber)) found = true;
    // The code page is one for the whole file, judged over all its texts.
    std::string* const texts[] = {&tags.title, &tags.artist, &tags.album,
                                  &tags.year,  &tags.genre,  &tags.comment,
                                  &tags.track, &tags.copyright};
    std::vector<std::string> raw;
    for (const std::string* t : texts) raw.push_back(*t);
    if (tags.title.empty() && haveDisplay) raw.push_back(display);
    const std::string page = ResolveCodePage(codePage, raw);
    if (haveInfo) {
        for (std::string* t : texts)
            if (!t->empty()) *t = LegacyTextToUtf8(*t, page);
        // "(17)" names genre 17 of the list; other texts stay as they are.
        if (tags.genre.size() >= 2 && tags.genre[0] == '(' && tags.genre[1] >= '0' &&
            tags.genre[1] <= '9') {
            const int n = ParseDecimal(std::string_view(tags.genre).substr(1));
            if (n >= 0 && n < kGenreCount) tags.genre = GenreName(n);
        }
        if (tags.genre.empty() && genreNumber >= 0 && genreNumber < kGenreCount)
            tags.genre = GenreName(genreNumber);
        tags.year = FirstCharacters(tags.year, 4);
    }
    if (tags.title.empty() && haveDisplay) tags.title = LegacyTextToUtf8(display, page);
    return found ? 1 : 0;
}

}  // namespace quelvox
