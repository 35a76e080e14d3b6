#include "decoders/CueSheet.h"

#include "common/TextCodec.h"
#include "platform/LibraryLog.h"

extern "C" {
#include <libcue/libcue.h>
}

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>

// libcue's parser loses the sheet it was building when it meets a syntax
// error (it returns null without freeing it; a known fault of the library,
// a few kilobytes per refused sheet). LeakSanitizer is told so, so that
// sanitized runs still report every other leak.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUELVOX_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QUELVOX_ASAN)
extern "C" const char* __lsan_default_suppressions() { return "leak:libcue.so\n"; }
#endif

namespace quelvox {

namespace {

// libcue's parser keeps its state in globals of the generated scanner and
// grammar, so two sheets parsed at once (files are probed on several
// threads) corrupt each other. Parsing is serialised; reading the parsed
// sheet is not, each Cd being its own.
std::mutex& CueParserMutex() {
    static std::mutex mutex;
    return mutex;
}

struct CdDeleter {
    void operator()(Cd* cd) const { cd_delete(cd); }
};

// libcue tells what it refuses (a bad character, a syntax error, too many
// tracks) on standard error, where it would mix with the program's own
// output and could carry raw bytes of a binary file. While it parses,
// standard error is a memory file; the lines caught there go to the
// library log, which shows them only when asked. Used under the parser's
// mutex, so one capture at a time.
class CParserOutput {
public:
    CParserOutput() {
        std::fflush(stderr);
        file_ = memfd_create("quelvox-libcue", MFD_CLOEXEC);
        if (file_ < 0) return;
        saved_ = dup(STDERR_FILENO);
        if (saved_ < 0 || dup2(file_, STDERR_FILENO) < 0) {
            if (saved_ >= 0) close(saved_);
            saved_ = -1;
        }
    }
    CParserOutput(const CParserOutput&) = delete;
    CParserOutput& operator=(const CParserOutput&) = delete;

    // Puts standard error back and passes on what was caught.
    ~CParserOutput() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            PassOn();
        }
        if (file_ >= 0) close(file_);
    }

private:
    // At most this much of the parser's output is read, and this many of
    // its lines passed on: a binary file gives one line per byte.
    static constexpr size_t kMostBytes = 16 * 1024;
    static constexpr int kMostLines = 20;

    void PassOn() const {
        std::string caught(kMostBytes, '\0');
        const ssize_t got = pread(file_, caught.data(), caught.size(), 0);
        caught.resize(got > 0 ? static_cast<size_t>(got) : 0);
        int lines = 0, more = 0;
        std::string line;
        for (const char ch : caught) {
            if (ch != '\n') {
                // Control bytes of a binary sheet are shown, not sent to
                // the terminal.
                const auto byte = static_cast<unsigned char>(ch);
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
                    line += escaped;
                } else {
                    line += ch;
                }
                continue;
            }
            if (lines < kMostLines) {
                LogLibraryLine("libcue: " + SanitizeUtf8(line));
                ++lines;
            } else {
                ++more;
            }
            line.clear();
        }
        if (more > 0) LogLibraryLine("libcue: (" + std::to_string(more) + " more lines)");
    }

    int file_ = -1;
    int saved_ = -1;
};

// What the sheet's text says beyond what libcue reads: how many tracks it
// lists and where the first one past kMaxCueTracks starts (libcue would
// pour every later track into its last one), that track's INDEX 01 when it
// lies in the same image as the one before it (it ends that one), and the
// disc of the album (libcue keeps no REM DISCNUMBER or TOTALDISCS).
struct SheetFacts {
    int tracks = 0;
    size_t cut = std::string::npos;
    int64_t nextStart = -1;
    int discNumber = 0;
    int discTotal = 0;
};

// The next blank-separated word of `line`, taken off its front; quotes
// around it are dropped.
std::string_view NextWord(std::string_view& line) {
    const size_t begin = line.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        line = {};
        return {};
    }
    line.remove_prefix(begin);
    size_t end = line.find_first_of(" \t\r");
    if (end == std::string_view::npos) end = line.size();
    std::string_view word = line.substr(0, end);
    line.remove_prefix(end);
    if (word.size() >= 2 && word.front() == '"' && word.back() == '"')
        word = word.substr(1, word.size() - 2);
    return word;
}

// "mm:ss:ff" in 1/75 s frames; -1 when it is not one.
int64_t IndexFrames(std::string_view time) {
    int64_t parts[3] = {};
    for (int64_t& part : parts) {
        const size_t colon = time.find(':');
        const std::string_view digits = time.substr(0, colon);
        if (digits.empty() || digits.size() > 6 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return -1;
        part = ParseDecimal(digits);
        time = colon == std::string_view::npos ? std::string_view() : time.substr(colon + 1);
        if (&part != &parts[2] && colon == std::string_view::npos) return -1;
    }
    return (parts[0] * 60 + parts[1]) * kCueFramesPerSecond + parts[2];
}

SheetFacts ScanSheet(std::string_view text) {
    SheetFacts facts;
    bool fileSinceTrack = false;  // a FILE line since the last TRACK line
    bool inFirstCut = false;      // within the first track left out, same image
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const size_t lineStart = at;
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        const std::string_view word = NextWord(line);
        if (word == "TRACK") {
            ++facts.tracks;
            inFirstCut = facts.tracks == kMaxCueTracks + 1 && !fileSinceTrack;
            if (facts.tracks == kMaxCueTracks + 1) facts.cut = lineStart;
            fileSinceTrack = false;
        } else if (word == "FILE") {
            fileSinceTrack = true;
            inFirstCut = false;
        } else if (word == "INDEX" && inFirstCut) {
            if (ParseDecimal(NextWord(line)) == 1) facts.nextStart = IndexFrames(NextWord(line));
        } else if (word == "REM" && facts.tracks == 0) {
            const std::string_view key = NextWord(line);
            const int value = std::max(ParseDecimal(NextWord(line)), 0);
            if (key == "DISCNUMBER") facts.discNumber = value;
            if (key == "TOTALDISCS") facts.discTotal = value;
        }
    }
    return facts;
}

std::string Text(const char* text) { return text ? SanitizeUtf8(text) : std::string(); }

std::string CdText(Cdtext* cdtext, Pti field) {
    return cdtext ? Text(cdtext_get(field, cdtext)) : std::string();
}

// FLAC metadata block types.
constexpr int kStreamInfoBlock = 0;
constexpr int kVorbisCommentBlock = 4;
constexpr int kCueSheetBlock = 5;

// Lead-out track numbers of a CUESHEET block: CD audio, other.
constexpr int kLeadOutCd = 170;
constexpr int kLeadOutOther = 255;

uint64_t BigEndian(std::string_view b, size_t at, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

uint32_t LittleEndian32(std::string_view b, size_t at) {
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
    return v;
}

// The value of a CUESHEET comment in a VORBIS_COMMENT block; empty when
// there is none.
std::string CueSheetComment(std::string_view block) {
    if (block.size() < 8) return {};
    size_t at = 4 + size_t{LittleEndian32(block, 0)};  // vendor string
    if (at + 4 > block.size()) return {};
    const uint32_t count = LittleEndian32(block, at);
    at += 4;
    for (uint32_t i = 0; i < count && at + 4 <= block.size(); ++i) {
        const size_t length = LittleEndian32(block, at);
        at += 4;
        if (length > block.size() - at) return {};
        const std::string_view comment = block.substr(at, length);
        at += length;
        constexpr std::string_view kName = "CUESHEET";
        const size_t eq = comment.find('=');
        if (eq != kName.size()) continue;
        std::string name(comment.substr(0, eq));
        for (char& c : name)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (name == kName) return std::string(comment.substr(eq + 1));
    }
    return {};
}

// The tracks of a CUESHEET block, their INDEX 01 (else their first index)
// turned into 1/75 s frames at `sampleRate`.
std::vector<CueSheetTrack> CueSheetBlockTracks(std::string_view block, int sampleRate) {
    std::vector<CueSheetTrack> tracks;
    constexpr size_t kHeader = 128 + 8 + 259;
    if (sampleRate <= 0 || block.size() < kHeader + 1) return tracks;
    const size_t count = static_cast<uint8_t>(block[kHeader]);
    size_t at = kHeader + 1;
    for (size_t t = 0; t < count; ++t) {
        constexpr size_t kTrackHeader = 8 + 1 + 12 + 14 + 1;
        if (at + kTrackHeader > block.size()) return {};
        const uint64_t offset = BigEndian(block, at, 8);
        const int number = static_cast<uint8_t>(block[at + 8]);
        const bool audio = (static_cast<uint8_t>(block[at + 21]) & 0x80) == 0;
        const size_t indexes = static_cast<uint8_t>(block[at + kTrackHeader - 1]);
        at += kTrackHeader;
        if (indexes * 12 > block.size() - at) return {};
        uint64_t start = UINT64_MAX;
        for (size_t i = 0; i < indexes; ++i) {
            const uint64_t indexOffset = BigEndian(block, at + i * 12, 8);
            const int indexNumber = static_cast<uint8_t>(block[at + i * 12 + 8]);
            if (indexNumber == 1 || (i == 0 && start == UINT64_MAX)) start = indexOffset;
        }
        at += indexes * 12;
        if (number == kLeadOutCd || number == kLeadOutOther || !audio || start == UINT64_MAX)
            continue;
        // Offsets beyond any real file would overflow the conversion.
        const uint64_t samples = offset + start;
        if (offset > (uint64_t{1} << 40) || start > (uint64_t{1} << 40)) return {};
        CueSheetTrack track;
        track.start = static_cast<int64_t>(samples * static_cast<uint64_t>(kCueFramesPerSecond) /
                                           static_cast<uint64_t>(sampleRate));
        tracks.push_back(std::move(track));
    }
    return tracks;
}

// Numbers the tracks, ends each at the next one's start and sets the
// track tag; false when the starts do not rise.
bool LinkTracks(std::vector<CueSheetTrack>& tracks) {
    const std::string total = std::to_string(tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        CueSheetTrack& t = tracks[i];
        t.number = static_cast<int>(i + 1);
        t.tags.track = std::to_string(t.number) + "/" + total;
        t.tags.trackTotal = static_cast<int>(tracks.size());
        t.end = -1;
        if (i + 1 < tracks.size() && tracks[i + 1].file == t.file) t.end = tracks[i + 1].start;
        // Tracks of one image follow each other: an index going backwards
        // (or a track of no length) leaves no way to cut the image.
        if (t.end >= 0 && t.end <= t.start) return false;
    }
    return true;
}

}  // namespace

uint64_t CueFrameToSample(int64_t cdFrames, int sampleRate) {
    if (cdFrames <= 0 || sampleRate <= 0) return 0;
    // Exact in 64 bits for any sheet position (below 2^31 frames) and rate.
    return static_cast<uint64_t>(cdFrames) * static_cast<uint64_t>(sampleRate) /
           static_cast<uint64_t>(kCueFramesPerSecond);
}

std::vector<CueSheetTrack> ParseCueSheet(std::string_view text, CueProblem& problem,
                                         const std::string& codePage, int* sheetTracks) {
    std::vector<CueSheetTrack> tracks;
    problem = CueProblem::kNone;
    if (sheetTracks) *sheetTracks = 0;
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
    // The parser's grammar ends every line with a line break; a sheet
    // whose last line has none (as in a CUESHEET comment) gets one.
    std::string terminated = LegacyTextToUtf8(text, codePage);
    if (terminated.empty() || terminated.back() != '\n') terminated += '\n';
    const SheetFacts facts = ScanSheet(terminated);
    if (sheetTracks) *sheetTracks = facts.tracks;
    // The parser sees the tracks it can hold, and no more.
    if (facts.cut != std::string::npos) terminated.resize(facts.cut);
    std::unique_ptr<Cd, CdDeleter> cd;
    {
        std::lock_guard lock(CueParserMutex());
        CParserOutput caught;
        cd.reset(cue_parse_string(terminated.c_str()));
    }
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
    bool lastIsSheetsLast = false;  // the last track listed is the parser's last
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
        entry.tags.albumArtist = albumArtist;
        entry.tags.discNumber = facts.discNumber;
        entry.tags.discTotal = facts.discNumber > 0 ? facts.discTotal : 0;
        entry.tags.genre = CdText(own, PTI_GENRE);
        if (entry.tags.genre.empty()) entry.tags.genre = albumGenre;
        Rem* rem = track_get_rem(track);
        entry.tags.year = rem ? Text(rem_get(REM_DATE, rem)) : std::string();
        if (entry.tags.year.empty()) entry.tags.year = albumDate;
        tracks.push_back(std::move(entry));
        lastIsSheetsLast = i == count;
    }
    if (tracks.empty()) {
        problem = CueProblem::kNoAudioTrack;
        return tracks;
    }

    // Each track ends where the next one in the same image starts (at its
    // INDEX 01), so the gap before a track stays with the track before it.
    if (!LinkTracks(tracks)) {
        problem = CueProblem::kUnparsable;
        tracks.clear();
        return tracks;
    }
    // The last track read ends where the first one left out starts.
    CueSheetTrack& last = tracks.back();
    if (lastIsSheetsLast && facts.nextStart > last.start) last.end = facts.nextStart;
    return tracks;
}

std::vector<CueSheetTrack> ParseEmbeddedCueSheet(std::string_view flac) {
    std::vector<CueSheetTrack> tracks;
    if (flac.substr(0, 4) != "fLaC") return tracks;
    int sampleRate = 0;
    std::string comment;
    std::string_view cueBlock;
    for (size_t at = 4; at + 4 <= flac.size();) {
        const uint8_t head = static_cast<uint8_t>(flac[at]);
        const size_t length = static_cast<size_t>(BigEndian(flac, at + 1, 3));
        at += 4;
        if (length > flac.size() - at) break;
        const std::string_view block = flac.substr(at, length);
        at += length;
        const int type = head & 0x7F;
        if (type == kStreamInfoBlock && block.size() >= 18)
            sampleRate = static_cast<int>(BigEndian(block, 10, 3) >> 4);
        else if (type == kVorbisCommentBlock && comment.empty())
            comment = CueSheetComment(block);
        else if (type == kCueSheetBlock && cueBlock.empty())
            cueBlock = block;
        if (head & 0x80) break;  // the last metadata block
    }
    if (!comment.empty()) {
        CueProblem problem = CueProblem::kNone;
        tracks = ParseCueSheet(comment, problem);
    }
    if (tracks.empty()) tracks = CueSheetBlockTracks(cueBlock, sampleRate);
    // Every track is cut from this file, whatever its FILE lines said.
    for (CueSheetTrack& track : tracks) track.file.clear();
    if (!LinkTracks(tracks)) tracks.clear();
    return tracks;
}

std::vector<CueSheetTrack> ReadEmbeddedCueSheet(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    // Metadata blocks are read one by one, so that the audio that follows
    // them is never read.
    std::string bytes(4, '\0');
    if (!in.read(bytes.data(), 4) || bytes != "fLaC") return {};
    for (;;) {
        char head[4];
        if (!in.read(head, 4)) break;
        const size_t length = static_cast<size_t>(BigEndian(std::string_view(head, 4), 1, 3));
        if (bytes.size() + 4 + length > kMaxFlacMetadataBytes) break;
        bytes.append(head, 4);
        const size_t at = bytes.size();
        bytes.resize(at + length);
        if (!in.read(bytes.data() + at, static_cast<std::streamsize>(length))) break;
        if (static_cast<uint8_t>(head[0]) & 0x80) break;
    }
    return ParseEmbeddedCueSheet(bytes);
}

}  // namespace quelvox
