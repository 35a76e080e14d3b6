// Writer for every output format that FFmpeg's libraries mux: one audio
// stream in a container chosen by its muxer short name, encoded with the
// codec chosen in the format catalogue, plus text tags.
//
// Blocks of planar 16-bit samples are staged to the encoder's frame size
// (frame-based codecs) or passed on in chunks (PCM-like codecs), converted
// to the encoder's own sample format without changing the rate, and the
// packets are written with time stamps in the stream's time base.
//
// AMR narrow-band inside 3GP/3G2 is encoded with opencore-amrnb (FFmpeg's
// own build lacks that encoder) and handed to the muxer as ready packets.
#pragma once

#include "common/AudioStream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVCodec;

namespace quelvox {

// Parameter record of the FFmpeg writer: container short name and the
// persisted codec id (translated to the library's id by the writer).
struct FFmpegCodecParams {
    std::string container;
    int codecId = 0;
};

class CFFmpegWriter : public CAudioWriter {
public:
    CFFmpegWriter();
    ~CFFmpegWriter() override;

    // Stores copies of the texts; empty texts and a track that reads as 0 or
    // less are absent.
    void SetTags(const TagInfo& tags) override;
    void SetFileName(const std::string& path) override;
    void SetSampleRate(int hz) override;
    // 1 … kMaxChannels (more than 2 only through WriteBlock); any other
    // count makes Open fail.
    void SetChannels(int count) override;
    // Positions asked for; an encoder that stores only some layouts takes
    // the nearest of the same count (see GetStoredLayout).
    void SetChannelLayout(uint64_t layout) override { layout_ = layout; }
    // While open: the positions the output stores its channels at, which
    // WriteBlock's blocks must follow channel for channel; 0 when they are
    // not known.
    uint64_t GetStoredLayout() const { return session_ ? storedLayout_ : 0; }
    // 16 (the default), 24 or 32. Above 16 the encoder takes 32-bit
    // integers whose top `bits` bits carry the sample (24-bit FLAC and
    // "PCM 24-bit" store exactly those); only WriteBlock feeds them.
    void SetSampleBits(int bits) override { sampleBits_ = bits; }
    // Float input for a lossy encoder: WriteBlock hands the blocks' float
    // samples to the encoder without rounding or clipping them first (the
    // encoder's own float format where it has one). For sources deeper
    // than 16 bits; 16-bit sources keep the 16-bit path.
    void SetFloatInput(bool on) { floatInput_ = on; }
    // Bit/s; for G.726 the number of bits per sample (2 to 5, others → 4).
    void SetBitrate(int bitsPerSecond) override;
    // Muxer short name and persisted codec id; the writer copies both.
    void SetCodecParams(const FFmpegCodecParams& params);

    // Builds container, stream and encoder, creates the file and writes the
    // header. Returns 1, or 0 with everything released, no file left open and
    // no file left behind that Open created.
    int Open() override;
    // Encodes one block: rounded once to the stored depth and clipped
    // (ClippedSamples counts the clipped samples). AMR, and blocks of more
    // channels than a mono or stereo output, go through CInt16Planes.
    // Returns 1, or 0 when a packet could not be written or the writer is
    // not open.
    int WriteBlock(const AudioBlock& block) override;
    // Flushes staged samples and the encoder, writes the trailer and closes
    // the file; releases everything. Harmless when not open.
    void Close() override;

    // The encoder's frame size in sample frames while open: 0 for codecs
    // that take any number of samples per call (PCM and the like).
    int GetFrameSize() const;
    // The bit rate the encoder was set up with (bit/s), while open.
    int GetCodecBitrate() const;
    // Why the last Open failed (plain English, for diagnostics); empty after
    // a successful Open.
    const std::string& GetLastError() const { return lastError_; }

    // Whether output in this muxer receives text tags, as the format
    // catalogue's rows say (WAV, AIFF, AU, VOC, MMF, FLV and SWF: never).
    static bool ContainerCarriesTags(const std::string& container);

private:
    struct Session;  // library objects of one open file

    // The steps of Open; each returns 0 through Fail.
    int SetUpAmrNb(Session& s);
    int SetUpEncoder(Session& s, const AVCodec* codec);
    int AddTags(Session& s);
    // The bit rate the encoder is asked for, by codec.
    int64_t EncoderBitRate(int libId);

    // Encodes 16-bit planes into a 16-bit mono or stereo output; a null
    // `right` lets the left channel stand for both.
    int WriteInt16(const int16_t* left, const int16_t* right, int frames);

    int Fail(const std::string& reason);
    void Release();

    // Configuration (own copies).
    std::string container_;
    int codecId_ = 0;  // persisted id
    std::string path_;
    int sampleRate_ = 0;
    int bitrate_ = 0;
    int channels_ = 0;
    uint64_t layout_ = 0;
    uint64_t storedLayout_ = 0;  // the open encoder's positions
    int sampleBits_ = 16;
    bool floatInput_ = false;
    // Bits of the integers the encoder takes (0: it takes float), set by Open.
    int encoderIntegerBits_ = 0;
    float floatLimit_ = 1.0f;  // larger float samples are clipped (and counted)
    std::string title_, artist_, album_, genre_, year_, comment_, composer_, copyright_, track_;

    std::unique_ptr<Session> session_;
    std::vector<int16_t> interleaved_;  // one stereo block for the encoder
    CInt16Planes pcm16_;                // AMR and folded blocks as 16 bits
    std::vector<int32_t> wide_;         // one wide block for the encoder
    std::vector<float> floats_;         // one float block for the encoder
    std::string lastError_;
};

}  // namespace quelvox
