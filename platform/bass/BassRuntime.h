// Our decoding layer in the shape of the BASS family of calls: decoding
// streams created from files, tracker modules, MIDI streams, length and
// position in bytes of interleaved output, channel information with the
// 8-bit flag, the encoded file size, the next block of interleaved data,
// the tag record; plus the runtime calls (init, version,
// add-on loading, default soundfont).
//
// Behind it stand the reference decoders of each format, one backend each:
// libmpg123 (MPEG audio), libsndfile (WAV, AIFF, FLAC and the other PCM
// containers), libwavpack, libavformat/libavcodec (AAC, MP4/M4A with AAC or
// ALAC, ADX), libopenmpt (tracker modules), FluidSynth (MIDI) and
// libcdio-paranoia (CD tracks). Tags come from TagLib (module titles from
// libopenmpt).
//
// There is no process-wide state: a CBassRuntime, owned by the front end,
// records which add-ons are loaded and which soundfont is the default, and
// every stream is created against one. Streams are independent objects, so
// two threads may decode two streams at once; the runtime itself is set up
// before conversions start and only read while they run. The soundfont is
// the exception: it is loaded only when a MIDI file is to be rendered, and
// setting it and reading it are safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/KnownLength.h"
#include "common/TagInfo.h"

namespace quelvox::bass {

// Version reported by GetVersion: 2.4 in the high 16 bits.
inline constexpr uint32_t kVersion = 0x02040000;

// A soundfont loaded once and kept loaded (Soundfont.cpp); MIDI streams
// rendered with it share its sample data.
class CLoadedSoundfont;
const std::string& SoundfontPath(const CLoadedSoundfont& font);

// Channel information flag: the stream delivers unsigned 8-bit samples.
inline constexpr uint32_t kSample8Bits = 1;

// The add-ons of the start-up list, and the backends they enable.
enum class AddOn : int {
    Flac = 0,     // "bassflac": FLAC and Ogg FLAC
    Cd = 1,       // "basscd": CD tracks (.cda)
    WavPack = 2,  // "basswv": WavPack
    Aac = 3,      // "bass_aac": AAC (ADTS) and MP4/M4A with AAC
    Adx = 4,      // "bass_adx": ADX
    Alac = 5,     // "bass_alac": ALAC in MP4/M4A
};
inline constexpr int kAddOnCount = 6;

// The add-ons' file names, indexed by AddOn; start-up loads them in this
// order.
inline constexpr std::array<const char*, kAddOnCount> kAddOnNames = {
    "bassflac.dll", "basscd.dll", "basswv.dll", "bass_aac.dll", "bass_adx.dll", "bass_alac.dll"};

// Which kind of channel a handle is; decides how it is freed.
enum class ChannelKind : int { Stream = 0, Music = 2, Midi = 3 };

struct ChannelInfo {
    int freq = 0;        // Hz
    int chans = 0;       // interleaved channel count
    uint32_t flags = 0;  // kSample8Bits
};

class CBassRuntime {
public:
    // Initialise without sound output (device 0). Always succeeds here;
    // returns nonzero.
    int Init(int device = 0, int freq = 44100);
    // Release everything; add-ons stay as they are.
    void Free();
    bool IsInitialised() const { return initialised_; }
    static uint32_t GetVersion() { return kVersion; }

    // Loads an add-on by file name ("bassflac.dll", "bass_aac.dll", …; the
    // folder part and the letter case are ignored). Returns nonzero when the
    // name is one of the six known add-ons and its backend is available.
    int PluginLoad(const std::string& path);
    // Unloads all add-ons (handle 0) .
    void PluginFree();
    bool IsEnabled(AddOn a) const { return enabled_[static_cast<int>(a)]; }
    void SetEnabled(AddOn a, bool on) { enabled_[static_cast<int>(a)] = on; }

    // Makes the soundfont file the default of every MIDI stream created
    // afterwards. Nonzero when the file exists and FluidSynth accepts it.
    // The font is loaded here, once, and stays loaded while it is the
    // default; a failed call keeps the previous default.
    int SetDefaultSoundfont(const std::string& path);
    // Path of the default soundfont; empty when none is set.
    std::string DefaultSoundfont() const;
    // The default soundfont, kept loaded for as long as the caller holds
    // it; null when none is set.
    std::shared_ptr<const CLoadedSoundfont> LoadedSoundfont() const;

    // The code page of legacy 8-bit tag text in the streams created
    // afterwards (see ReadFileTags); empty reads it as Latin-1.
    void SetTagCodePage(std::string codePage) { tagCodePage_ = std::move(codePage); }
    const std::string& TagCodePage() const { return tagCodePage_; }

private:
    bool initialised_ = false;
    bool enabled_[kAddOnCount] = {};
    // Shared by copies of the runtime, like the font itself.
    std::shared_ptr<std::mutex> fontMutex_ = std::make_shared<std::mutex>();
    std::shared_ptr<const CLoadedSoundfont> font_;
    std::string tagCodePage_;
};

// One decoding channel. Output is interleaved: signed 16-bit native-endian
// samples, or unsigned 8-bit when GetInfo reports kSample8Bits.
class CChannel {
public:
    virtual ~CChannel() = default;
    virtual ChannelKind Kind() const { return ChannelKind::Stream; }
    // Decoded length in bytes of interleaved output; 0 = unusable.
    virtual uint64_t GetLength() const = 0;
    // Seconds that `bytes` of output last.
    double Bytes2Seconds(uint64_t bytes) const;
    virtual ChannelInfo GetInfo() const = 0;
    // Bytes of encoded audio in the file (without the tags before and after
    // it, see AudioDataBytes), or -1 when unknown (modules).
    virtual int64_t GetFilePositionEnd() const = 0;
    // Fills `buffer` with the next interleaved samples, as many whole frames
    // as fit in `bytes`. Returns the byte count, or -1 at the end or on error.
    virtual int GetData(void* buffer, uint32_t bytes) = 0;
    // Bytes of output delivered so far.
    virtual uint64_t GetPosition() const = 0;

    // Wide delivery, for channels that can give every channel at the
    // source's own depth: the bits of the source's samples, or 0 when the
    // channel only gives GetData's samples.
    virtual int SourceBits() const { return 0; }
    // Whether those samples are floating point (SourceBits 32).
    virtual bool SourceFloat() const { return false; }
    // The position (FFmpeg channel mask bit) of each stored channel, in
    // stored order; empty when the file does not tell.
    virtual std::vector<uint64_t> ChannelPositions() const { return {}; }
    // Fills `buffer` with up to `frames` interleaved frames of every
    // channel as float (s / 2^(bits-1) for integer sources; sources of 16
    // bits or fewer exactly as GetData's samples). Moves the same position
    // as GetData. Returns the frame count, or -1 at the end or on error.
    virtual int GetFloatFrames(float* buffer, int frames) {
        (void)buffer;
        (void)frames;
        return -1;
    }
    // Moves decoding to a frame at or before `frame` and sets `landed` to
    // it (CAudioReader::SeekFrame); false when the channel cannot seek.
    virtual bool SeekFrame(uint64_t frame, uint64_t& landed) {
        (void)frame;
        (void)landed;
        return false;
    }
    // The file's tags; an empty record when it has none that are
    // understood.
    virtual TagInfo ReadTags() const = 0;

    // What opening the stream learned by reading the whole file (MPEG
    // audio: its exact length); frames 0 when it read no such thing.
    virtual KnownLength LearnedLength() const { return {}; }

    // The code page ReadTags reads legacy 8-bit tag text in (ReadFileTags).
    void SetTagCodePage(std::string codePage) { tagCodePage_ = std::move(codePage); }
    const std::string& TagCodePage() const { return tagCodePage_; }

private:
    std::string tagCodePage_;
};

// A decoding stream for any file an enabled backend opens (CD tracks
// included); null on failure. `known`, when given, is what an earlier
// stream of the file learned (CChannel::LearnedLength): an MPEG stream
// takes its length from it, instead of scanning all frames, while the file
// keeps the recorded size and modification time.
std::unique_ptr<CChannel> StreamCreateFile(const CBassRuntime& rt, const std::string& path,
                                           const KnownLength* known = nullptr);
// A decoding tracker module rendered at renderRate (0 = 44100), length
// known at load; null on failure.
std::unique_ptr<CChannel> MusicLoad(const CBassRuntime& rt, const std::string& path,
                                    int renderRate);
// A decoding MIDI stream rendered at renderRate with the runtime's default
// soundfont, length known at creation; null on failure. renderRate 0
// (probing, as the file list does) gives the stream's length and format at
// 44100 Hz but no data, and never needs or loads a soundfont.
std::unique_ptr<CChannel> MidiStreamCreateFile(const CBassRuntime& rt, const std::string& path,
                                               int renderRate);

// The tags of a file (what TAGS_Read yields) with its album fields, lists of
// artists and genres, lyrics, ReplayGain values and pictures, from ID3v2,
// APE, ID3v1, Vorbis comments and FLAC pictures, MP4 atoms and ASF
// attributes; an empty record when the file has no tags that are
// understood. 8-bit text that declares no encoding (ID3v1, ID3v2 frames
// marked Latin-1) is read in `codePage` (see LegacyTextToUtf8); with
// kAutoCodePage the code page is judged over all such texts of the file
// together (DetectLegacyCodePage). UTF-8 and UTF-16 text is taken as it
// is. A WAV file's RIFF INFO list is not read here.
TagInfo ReadFileTags(const std::string& path, const std::string& codePage = std::string());

}  // namespace quelvox::bass
