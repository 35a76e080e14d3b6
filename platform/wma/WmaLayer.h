// Windows Media audio layer: reading and writing ASF files (.wma, .wmv,
// .asf) over FFmpeg's ASF demuxer and muxer, its WMA decoders (WMA 1 and 2,
// Pro, Lossless, Voice) and its WMA 2 encoder.
//
// The layer offers what the WMA reader and writer need of a Windows Media
// runtime:
// - a synchronous reader that names the file's streams, answers attributes
//   by their Windows Media names ("Title", "WM/AlbumTitle", "Duration",
//   "Bitrate", ...) and hands out the decoded audio stream as interleaved
//   16-bit PCM (or, for lossless streams, float samples at their depth)
//   with presentation times and the positions of its channels;
// - the list of audio codec formats the encoder produces (rate, channels,
//   bit rate and a media-type record);
// - a writer for a one-stream audio profile that takes 16-bit PCM in any
//   rate and channel count, converts it to the profile's format itself,
//   stores text attributes as ASF metadata and writes the file.
//
// Every object is independent: any number of them may be used at the same
// time on different threads, one thread per object. Nothing is shared.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quelvox::wma {

// Format tags of the media-type record.
inline constexpr int kFormatTagPcm = 0x0001;
inline constexpr int kFormatTagWma2 = 0x0161;    // Windows Media Audio (v2)
inline constexpr int kFormatTagWmaPro = 0x0162;  // Windows Media Audio Pro

// Time unit of presentation times and of the "Duration" attribute.
inline constexpr int64_t kTimeUnitsPerSecond = 10000000;  // 100 ns

// True when the linked FFmpeg has the ASF demuxer and muxer, the WMA 2
// encoder and the WMA decoders (v1, v2, Pro, Lossless, Voice).
bool WmaRuntimeAvailable();

// A stream format as the layer describes it (the fields of a WAVEFORMATEX).
struct WmaMediaType {
    int formatTag = 0;  // kFormatTagWma2, kFormatTagWmaPro, kFormatTagPcm
    int channels = 0;
    int samplesPerSec = 0;  // Hz
    int avgBytesPerSec = 0;
    int blockAlign = 0;
    int bitsPerSample = 0;

    bool operator==(const WmaMediaType&) const = default;
};

// One audio codec format the writer can produce.
struct WmaCodecFormat {
    std::string description;  // e.g. "128 kbps, 44 kHz, stereo CBR"
    int bitrate = 0;          // stream bit rate, bit/s
    WmaMediaType mediaType;
};

// The formats the WMA 2 encoder produces well, in the layer's own order
// (by rate, then channels, then bit rate): 8000 to 48000 Hz, mono and
// stereo, 24 to 320 kbit/s. Formats the linked encoder refuses are left
// out. Empty when the runtime is not available.
std::vector<WmaCodecFormat> GetAudioCodecFormats();

// ---------------------------------------------------------------------------
// Attributes

enum class WmaAttrType { String, Dword, Qword };

struct WmaAttribute {
    WmaAttrType type = WmaAttrType::String;
    std::string text;     // String: UTF-8
    uint64_t number = 0;  // Dword, Qword
};

enum class WmaResult { Ok, NotFound, Failed };

// ---------------------------------------------------------------------------
// Reading

enum class WmaStreamType { Audio, Video, Other };

class CWmaSyncReader {
public:
    CWmaSyncReader();
    ~CWmaSyncReader();
    CWmaSyncReader(const CWmaSyncReader&) = delete;
    CWmaSyncReader& operator=(const CWmaSyncReader&) = delete;

    // Opens an ASF file and reads its header. False when the file cannot be
    // opened or is not a readable ASF file. Closes anything open first.
    bool Open(const std::string& path);
    // Releases the file and the decoder; harmless when nothing is open.
    void Close();
    bool IsOpen() const;

    // The file's streams in header order.
    int GetStreamCount() const;
    WmaStreamType GetStreamType(int index) const;
    // The stream number stored in the file (1 to 127).
    int GetStreamNumber(int index) const;

    // Selects the one stream whose samples GetNextSample delivers, and
    // prepares its decoder. Only audio streams can be selected. False when
    // there is no such stream or its decoder cannot start.
    bool SelectAudioStream(int streamNumber);

    // An attribute of the file by its Windows Media name. Texts: "Title",
    // "Author", "Description", "Copyright", "WM/AlbumTitle",
    // "WM/AlbumArtist", "WM/Genre", "WM/TrackNumber", "WM/Year",
    // "WM/Composer" and any other name stored in the file. Numbers:
    // "Duration" (Qword, 100 ns units, present only when the file's header
    // states the play duration) and "Bitrate" (Dword, bit/s: the sum of the
    // streams' bit rates, or the file's overall rate when a stream's own is
    // not stated). NotFound when the file lacks it; Failed when no file is
    // open.
    WmaResult GetAttributeByName(std::string_view name, WmaAttribute& value) const;

    // Rate and channel count of the PCM GetNextSample delivers for the
    // selected stream (the decoder's own; channels may exceed 2).
    bool GetOutputFormat(int& sampleRate, int& channels) const;

    // Decodes the next piece of the selected stream. On success points
    // `data` at interleaved 16-bit samples (owned by the reader, valid until
    // the next call), sets `bytes` to their size and `time` to their
    // presentation time in 100 ns units. False at the end of the stream, on
    // a read error, or when no stream is selected. Damaged packets are
    // skipped.
    bool GetNextSample(const int16_t*& data, size_t& bytes, int64_t& time);

    // Positions (FFmpeg channel mask bits) of the channels GetNextSample
    // delivers, in their order; empty when no stream is selected.
    std::vector<uint64_t> GetChannelPositions() const;
    // Bits of the selected stream's own samples: 24 or 32 for a lossless
    // stream deeper than 16 bits (WMA Lossless, PCM), else 16.
    int GetSourceBits() const;
    // As GetNextSample, but `data` points at interleaved float samples at
    // the stream's full depth (an integer sample s of b bits as
    // s / 2^(b-1)) and `frames` counts frames. Use one of the two calls
    // for a stream, not both.
    bool GetNextFloatSample(const float*& data, size_t& frames, int64_t& time);

private:
    // Decodes the next piece as 16-bit or float samples; its frame count,
    // 0 at the end.
    int NextPiece(bool wide, int64_t& time);

    struct State;
    std::unique_ptr<State> s_;
};

// ---------------------------------------------------------------------------
// Writing

class CWmaFileWriter {
public:
    CWmaFileWriter();
    // An unfinished output (BeginWriting without EndWriting) is abandoned:
    // its file is removed.
    ~CWmaFileWriter();
    CWmaFileWriter(const CWmaFileWriter&) = delete;
    CWmaFileWriter& operator=(const CWmaFileWriter&) = delete;

    // The one audio stream of the profile: its format (a WMA 2 format, as
    // GetAudioCodecFormats lists them) and its bit rate in bit/s (0 takes
    // the format's own). Checked by BeginWriting.
    void SetProfile(const WmaMediaType& format, int bitrate);
    // The PCM that WriteSample receives: 16-bit interleaved at this rate and
    // channel count (1 or 2). It is converted to the profile's format.
    void SetInputFormat(int sampleRate, int channels);
    // A text attribute stored in the file's header (UTF-8; an empty value is
    // not stored). The usual names are those CWmaSyncReader answers.
    void AddAttribute(const std::string& name, const std::string& value);
    // A number attribute; stored as its decimal text (the ASF muxer keeps
    // every attribute as text).
    void AddAttribute(const std::string& name, uint32_t value);

    // Sets up the encoder, creates the file (replacing one that exists) and
    // writes the header. False with nothing left behind on failure; then
    // GetLastError tells why.
    bool BeginWriting(const std::string& path);
    // Appends `frames` frames of input PCM presented at `time` (100 ns
    // units). Samples are laid end to end; a time later than the end of the
    // samples written so far is filled with silence up to it, an earlier one
    // is taken as following on directly. False when not writing or the
    // encoder or the file fails.
    bool WriteSample(int64_t time, const int16_t* interleaved, int frames);
    // Encodes what is left, finishes the file and closes it. False when the
    // file could not be finished (it is left as far as it got). After a
    // false WriteSample or EndWriting, GetLastError names the cause.
    bool EndWriting();

    bool IsWriting() const;
    const std::string& GetLastError() const { return lastError_; }

private:
    struct Session;
    bool Fail(const std::string& reason);

    WmaMediaType format_;
    int bitrate_ = 0;
    int inRate_ = 0;
    int inChannels_ = 0;
    std::vector<std::pair<std::string, std::string>> attributes_;
    std::unique_ptr<Session> session_;
    std::string lastError_;
};

}  // namespace quelvox::wma
