// One audio encode session over FFmpeg's libraries: a muxer with one
// stream, an optional encoder, the staging of 16-bit input to the
// encoder's frame size, and the send / receive / drain cycle. The FFmpeg
// writer and the WMA layer's writer both write through it.
//
// Every library object lives in an RAII holder, so a session that fails
// half-way, or is dropped without Finish, releases everything it made.
// Every write into the file is checked: the first failure is kept as a
// cause (the library's text, e.g. "No space left on device").
#pragma once

#include "platform/libav/EntryPoints.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace quelvox::libav {

// ---- Holders -------------------------------------------------------------

// An output format context; an open file is closed with it.
struct OutputContextDeleter {
    void operator()(AVFormatContext* format) const;
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* codec) const { libav::Av().avcodec_free_context(&codec); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { libav::Av().av_packet_free(&packet); }
};
struct SwrDeleter {
    void operator()(SwrContext* swr) const { swr_free(&swr); }
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// The library's text for an error code.
std::string ErrorText(int code);

// ---- Encoder set-up ------------------------------------------------------

struct EncoderSpec {
    int sampleRate = 0;
    int channels = 0;  // default layout of this count, unless layoutMask names them
    uint64_t layoutMask = 0;  // channel positions (AV_CH_*); 0: the default
    int bitsPerRawSample = 0;  // real depth in a wider sample format; 0: all of it
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int64_t bitRate = 0;
    int strictness = FF_COMPLIANCE_NORMAL;
    bool globalHeader = false;
    // The encoder's private options (key, value), set before it opens.
    std::vector<std::pair<std::string, std::string>> options;
};

// A configured and opened encoder context (time base 1 / rate), or null
// when the encoder refuses the parameters.
CodecContextPtr OpenEncoder(const AVCodec* codec, const EncoderSpec& wanted);

// ---- The session ---------------------------------------------------------

// How the last, partial frame is sent when the session finishes.
enum class LastFrame {
    PadToFrameSize,     // always completed with silence
    ShortWhereAllowed,  // short when the encoder takes a small last frame
};

class CEncodeSession {
public:
    CEncodeSession() = default;
    CEncodeSession(const CEncodeSession&) = delete;
    CEncodeSession& operator=(const CEncodeSession&) = delete;

    // Muxer and its one stream. `interleaved` hands packets to the muxer
    // through its interleaving queue rather than directly.
    bool CreateMuxer(const AVOutputFormat* format, bool interleaved);
    AVFormatContext* Format() const { return format_.get(); }
    AVStream* Stream() const { return stream_; }

    // Takes the opened encoder: copies its parameters to the stream, and
    // prepares the frame and the staging. Encoders without a fixed frame
    // size are fed at most `chunkFrames` per frame. Input reaches Push as
    // interleaved samples of `inputFormat` (16- or 32-bit signed, or float) at
    // `inputRate` in the encoder's channels.
    bool AttachEncoder(CodecContextPtr codec, int chunkFrames, int inputRate,
                       AVSampleFormat inputFormat = AV_SAMPLE_FMT_S16);
    AVCodecContext* Codec() const { return codec_.get(); }
    // Fixed encoder frame size; 0 for encoders that take any size.
    int FrameSize() const { return frameSize_; }

    // Creates the file (unless the muxer writes none) and writes the
    // header. On failure a file it created is removed again.
    bool OpenFile(const std::string& path);
    bool HeaderWritten() const { return headerWritten_; }

    // Converts interleaved 16-bit input to the encoder's format and rate,
    // stages it and encodes every whole frame (everything, for encoders
    // without a fixed frame size). Null input converts nothing.
    bool Push(const int16_t* interleaved, int frames);
    // The same for a session attached with 32-bit or float input.
    bool Push(const int32_t* interleaved, int frames);
    bool Push(const float* interleaved, int frames);
    // Hands a ready packet (time stamps in the stream's time base) to the
    // muxer.
    bool WritePacket(AVPacket* packet);
    AVPacket* Packet() const { return packet_.get(); }

    // Encodes what is staged, drains the encoder, writes the trailer and
    // closes the file. False when anything could not be written.
    // A stream never ends shorter than its readers need to find all of it:
    // for an encoder that primes its output, one of less than a whole frame
    // is completed to it with silence; MPEG audio holds two frames at
    // least, and WMA gets a frame of silence after its last input (its
    // encoder holds a frame back and cannot be drained).
    bool Finish(LastFrame last);

    // The first write failure (the library's text); empty when none.
    const std::string& WriteError() const { return writeError_; }

private:
    bool NoteFailure(int code);
    bool Drain();
    bool EncodeStaged(int frames, bool pad);
    bool EncodeReady(bool all, LastFrame last);
    bool AppendSilence(int frames);
    template <typename Sample>
    bool PushSamples(const Sample* interleaved, int frames);

    OutputContextPtr format_;
    AVStream* stream_ = nullptr;
    bool interleaved_ = false;
    CodecContextPtr codec_;
    FramePtr frame_;
    PacketPtr packet_;
    SwrPtr swr_;
    AudioFifoPtr fifo_;
    int frameSize_ = 0;
    int capacity_ = 0;  // frames per encoder call
    bool smallLastFrame_ = false;
    int leastFrames_ = 1;     // encoder frames a stream holds at least
    int trailingFrames_ = 0;  // frames of silence after the last input
    int64_t nextPts_ = 0;                          // in the encoder's time base (1 / rate)
    std::vector<std::vector<uint8_t>> converted_;  // one plane per channel
    AVSampleFormat inputFormat_ = AV_SAMPLE_FMT_S16;
    bool headerWritten_ = false;
    std::string writeError_;
};

}  // namespace quelvox::libav
