#include "platform/bass/BassRuntime.h"

#include "platform/bass/Backends.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <fstream>
#include <vector>

namespace quelvox::bass {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The file name part of a path written with either kind of separator.
std::string FileNamePart(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The extension of the file name, lower case, without the dot.
std::string Extension(const std::string& path) {
    std::string name = FileNamePart(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : Lower(name.substr(dot + 1));
}

// The decoders a file may be handed to.
enum class Backend { Mpeg, Sndfile, WavPack, FFmpeg, Cd };

// How many bytes of the file head the content test looks at.
constexpr size_t kSniffBytes = 4096;

std::vector<uint8_t> ReadHead(const std::string& path, uint64_t offset, size_t count) {
    std::vector<uint8_t> head;
    std::ifstream f(path, std::ios::binary);
    if (!f) return head;
    f.seekg(static_cast<std::streamoff>(offset));
    if (!f) return head;
    head.resize(count);
    f.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(count));
    head.resize(static_cast<size_t>(std::max<std::streamsize>(f.gcount(), 0)));
    return head;
}

bool At(const std::vector<uint8_t>& b, size_t pos, const char* text) {
    size_t n = std::strlen(text);
    return b.size() >= pos + n && std::memcmp(b.data() + pos, text, n) == 0;
}

// Size of an ID3v2 tag at the start of `b` (header and footer included), or
// 0 when there is none.
uint64_t Id3v2Size(const std::vector<uint8_t>& b) {
    if (b.size() < 10 || !At(b, 0, "ID3")) return 0;
    if ((b[6] | b[7] | b[8] | b[9]) & 0x80) return 0;
    uint64_t size =
        (uint64_t(b[6]) << 21) | (uint64_t(b[7]) << 14) | (uint64_t(b[8]) << 7) | uint64_t(b[9]);
    return size + 10 + ((b[5] & 0x10) ? 10 : 0);
}

// Which decoder the file head belongs to, as far as its magic bytes tell.
enum class Content { Unknown, Pcm, Flac, WavPack, Mp4, Adts, Adx, Mpeg, Cd };

Content Sniff(const std::vector<uint8_t>& b) {
    if (At(b, 0, "RIFF") && At(b, 8, "CDDA")) return Content::Cd;
    if ((At(b, 0, "RIFF") || At(b, 0, "RIFX") || At(b, 0, "RF64")) && At(b, 8, "WAVE"))
        return Content::Pcm;
    if (At(b, 0, "FORM") && (At(b, 8, "AIFF") || At(b, 8, "AIFC") || At(b, 8, "8SVX")))
        return Content::Pcm;
    if (At(b, 0, ".snd") || At(b, 0, "caff") || At(b, 0, "riff") || At(b, 0, "Creative Voice File"))
        return Content::Pcm;
    if (At(b, 0, "fLaC")) return Content::Flac;
    if (At(b, 0, "OggS") && (At(b, 28,
                                "\x7F"
                                "FLAC") ||
                             At(b, 28, "fLaC")))
        return Content::Flac;
    if (At(b, 0, "wvpk")) return Content::WavPack;
    if (At(b, 4, "ftyp")) return Content::Mp4;
    if (b.size() >= 4 && b[0] == 0x80 && b[1] == 0x00) {
        size_t offset = (size_t(b[2]) << 8) | b[3];
        if (offset >= 8 && At(b, offset - 2, "(c)CRI")) return Content::Adx;
    }
    if (b.size() >= 4 && b[0] == 0xFF) {
        if ((b[1] & 0xF6) == 0xF0) return Content::Adts;
        // MPEG audio frame sync with a valid layer, bit-rate and rate index.
        if ((b[1] & 0xE0) == 0xE0 && (b[1] & 0x06) != 0 && (b[2] & 0xF0) != 0xF0 &&
            (b[2] & 0x0C) != 0x0C)
            return Content::Mpeg;
    }
    return Content::Unknown;
}

Content ByExtension(const std::string& ext) {
    static constexpr std::array<const char*, 5> mpeg = {"mp3", "mp2", "mp1", "mpa", "mpga"};
    static constexpr std::array<const char*, 10> pcm = {"wav", "wave", "aif", "aiff", "aifc",
                                                        "au",  "snd",  "caf", "w64",  "voc"};
    for (const char* e : mpeg)
        if (ext == e) return Content::Mpeg;
    for (const char* e : pcm)
        if (ext == e) return Content::Pcm;
    if (ext == "flac" || ext == "fla" || ext == "oga" || ext == "ogg") return Content::Flac;
    if (ext == "wv") return Content::WavPack;
    if (ext == "m4a" || ext == "mp4" || ext == "m4b" || ext == "m4r" || ext == "m4p")
        return Content::Mp4;
    if (ext == "aac" || ext == "adts") return Content::Adts;
    if (ext == "adx") return Content::Adx;
    if (ext == "cda") return Content::Cd;
    return Content::Unknown;
}

}  // namespace

// ---------------------------------------------------------------------------
// Runtime

int CBassRuntime::Init(int device, int freq) {
    (void)device;
    (void)freq;
    initialised_ = true;
    return 1;
}

void CBassRuntime::Free() { initialised_ = false; }

int CBassRuntime::PluginLoad(const std::string& path) {
    std::string name = Lower(FileNamePart(path));
    for (int i = 0; i < kAddOnCount; ++i) {
        if (name == kAddOnNames[static_cast<size_t>(i)]) {
            SetEnabled(static_cast<AddOn>(i), true);
            return 1;
        }
    }
    return 0;
}

void CBassRuntime::PluginFree() {
    for (bool& on : enabled_) on = false;
}

// ---------------------------------------------------------------------------
// Channels

double CChannel::Bytes2Seconds(uint64_t bytes) const {
    ChannelInfo info = GetInfo();
    uint64_t frameBytes =
        static_cast<uint64_t>(std::max(info.chans, 0)) * ((info.flags & kSample8Bits) ? 1 : 2);
    if (frameBytes == 0 || info.freq <= 0) return 0.0;
    return static_cast<double>(bytes / frameBytes) / static_cast<double>(info.freq);
}

std::unique_ptr<CChannel> StreamCreateFile(const CBassRuntime& rt, const std::string& path,
                                           const KnownLength* known) {
    std::vector<uint8_t> head = ReadHead(path, 0, kSniffBytes);
    if (head.empty()) return nullptr;
    Content content = Sniff(head);
    if (content == Content::Unknown) {
        // Audio may follow an ID3v2 tag (MPEG audio mostly, at times FLAC).
        uint64_t skip = Id3v2Size(head);
        if (skip > 0) {
            std::vector<uint8_t> after = ReadHead(path, skip, kSniffBytes);
            content = Sniff(after);
            // A tag followed by something unrecognised: MPEG audio often
            // carries padding or junk before its first frame.
            if (content == Content::Unknown) content = Content::Mpeg;
        }
    }

    const bool flac = rt.IsEnabled(AddOn::Flac);
    const bool aac = rt.IsEnabled(AddOn::Aac);
    const bool alac = rt.IsEnabled(AddOn::Alac);
    const bool adx = rt.IsEnabled(AddOn::Adx);

    // Candidates: what the content says first, then what the extension says,
    // and the PCM container library last (it recognises many containers by
    // their headers).
    std::vector<Content> order;
    order.push_back(content);
    order.push_back(ByExtension(Extension(path)));
    order.push_back(Content::Pcm);

    std::vector<Backend> tried;
    // libsndfile never yields a channel for an Ogg stream (OpenSndfileStream
    // turns Ogg away), but its failing open of a damaged Ogg Vorbis file
    // leaks the stream's setup inside the library: never hand it one.
    if (At(head, 0, "OggS")) tried.push_back(Backend::Sndfile);
    // Nor MPEG audio: libsndfile decodes it with a libmpg123 handle of its
    // own, which no caller can quieten, so a damaged stream has it write
    // its resync notes to standard error (and OpenSndfileStream would turn
    // the stream away anyway).
    if (content == Content::Mpeg) tried.push_back(Backend::Sndfile);
    auto once = [&tried](Backend b) {
        if (std::find(tried.begin(), tried.end(), b) != tried.end()) return false;
        tried.push_back(b);
        return true;
    };

    for (Content c : order) {
        std::unique_ptr<CChannel> ch;
        switch (c) {
            case Content::Unknown: break;
            case Content::Mpeg:
                if (once(Backend::Mpeg)) ch = OpenMpegStream(path, known);
                break;
            case Content::Pcm:
                if (once(Backend::Sndfile)) ch = OpenSndfileStream(path, flac);
                break;
            case Content::Flac:
                // Native FLAC through libsndfile; Ogg FLAC, which libsndfile
                // does not read reliably, through libavformat.
                if (flac && once(Backend::Sndfile)) ch = OpenSndfileStream(path, true);
                if (!ch && flac && once(Backend::FFmpeg))
                    ch = OpenFFmpegStream(path, aac, alac, adx, true);
                break;
            case Content::WavPack:
                if (rt.IsEnabled(AddOn::WavPack) && once(Backend::WavPack))
                    ch = OpenWavPackStream(path);
                break;
            case Content::Mp4:
            case Content::Adts:
            case Content::Adx:
                if ((aac || alac || adx) && once(Backend::FFmpeg))
                    ch = OpenFFmpegStream(path, aac, alac, adx, flac);
                break;
            case Content::Cd:
                if (rt.IsEnabled(AddOn::Cd) && once(Backend::Cd)) ch = OpenCdTrack(path);
                break;
        }
        if (ch) {
            ch->SetTagCodePage(rt.TagCodePage());
            return ch;
        }
    }
    return nullptr;
}

std::unique_ptr<CChannel> MusicLoad(const CBassRuntime& rt, const std::string& path,
                                    int renderRate) {
    (void)rt;
    return OpenModule(path, renderRate > 0 ? renderRate : 44100);
}

std::unique_ptr<CChannel> MidiStreamCreateFile(const CBassRuntime& rt, const std::string& path,
                                               int renderRate) {
    // A MIDI file is listed without a soundfont (its length and format come
    // from the file alone); it is rendered only with one. The font is held
    // while the stream loads it, so its samples stay in the shared cache.
    if (renderRate <= 0) return OpenMidiUnrendered(path);
    const std::shared_ptr<const CLoadedSoundfont> font = rt.LoadedSoundfont();
    return OpenMidi(path, renderRate, font ? SoundfontPath(*font) : std::string());
}

}  // namespace quelvox::bass
