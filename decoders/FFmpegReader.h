// Readers built on the FFmpeg libraries: the last resort for any container
// and audio codec that FFmpeg can open.
//
// CFFmpegReader decodes the first audio stream of a file into blocks of
// exactly kBlockFrames frames (only the last block of a stream is shorter).
// CFFmpegProbeReader only reads the container headers to learn duration,
// rate, channels and bit rate; it never opens a decoder and ReadBlock
// delivers nothing.
#pragma once

#include "common/AudioStream.h"

#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct AVChannelLayout;

namespace quelvox {

// The order a six-channel frame stores its channels in, named by the
// codec family that stores them so.
enum class SixChannelMix {
    Generic,  // L R C LFE BL BR
    Aac,      // C L R BL BR LFE
    Mp4Mpeg,  // L R BL BR C LFE
    Vorbis,   // L C R BL BR LFE
};

// Chooses the six-channel order of decoded audio. When the layout names its
// channels, the rule is the one whose order matches the channels as they are
// actually stored (side and back surrounds count alike), so every decoder's
// channels are placed where they really are. When the layout gives no positions
// (or an order none of the rules knows), the order the codec's decoder is
// known to deliver decides: MPEG audio carried in an MP4/QuickTime container
// uses the MP4 order, everything else (AAC included, which the library's
// decoder delivers as L R C LFE BL BR) the generic order. `codecId` is an AVCodecID value and
// `containerName` the demuxer's short name list (e.g. "mov,mp4,m4a,...").
SixChannelMix ChooseSixChannelMix(const AVChannelLayout* layout, int codecId,
                                  const std::string& containerName);

class CFFmpegReader : public CAudioReader {
public:
    CFFmpegReader();
    ~CFFmpegReader() override;

    void Close() override;
    // Opens the container, finds its first audio stream and opens its
    // decoder. The render rate is not used. Nonzero on success.
    int Open(const std::string& path, int renderRate) override;
    // Before Open: float output of lossy decoders too is delivered as
    // decoded, unrounded and unclamped (as 32-bit float), for measuring a
    // written file as players hear it.
    void KeepLossyFloat() { keepLossyFloat_ = true; }
    // Exactly kBlockFrames frames unless the stream ends (0 at the end),
    // with every channel (the first kMaxChannels of a wider stream) at the
    // source's depth, in the order of their positions.
    int ReadBlock(AudioBlock& block) override;
    int GetBlockChannels() override { return blockChannels_; }
    uint64_t GetChannelLayout() override { return blockLayout_; }
    // The decoder's real sample depth: what it reports as raw bits, else
    // its integer sample width. Float output of lossy decoders counts as
    // 16 bits, and is delivered on the 16-bit grid (times 32768 truncated
    // and clamped); float output of lossless codecs as 32.
    int GetSourceBits() override { return sourceBits_; }
    // Float output of a lossless codec (float PCM).
    bool GetSourceFloat() override { return sourceFloat_; }
    // 1 when an audio stream was found (also after a failed Open that got
    // that far); 0 for a file without audio or one FFmpeg cannot open.
    int HasAudio() override { return streamIndex_ >= 0 ? 1 : 0; }
    // FFmpeg's text for the error of the call that failed the last Open.
    std::string OpenError() const override { return openError_; }
    // Title, artist, album, year, genre, comment, track and copyright from
    // the container's (or else the audio stream's) metadata; composer is
    // always empty. Returns 0 and changes nothing when there are no tags.
    int ReadTags(TagInfo& tags) override;
    // Seeks in streams whose codec decodes every frame on its own and whose
    // timestamps count output samples exactly (lossless codecs such as
    // Monkey's Audio, TTA, WavPack, FLAC, ALAC and PCM): the container's
    // seek lands on a frame at or before `frame`, whose timestamp tells
    // where. Other codecs (with decoder delay or priming) do not seek.
    bool SeekFrame(uint64_t frame, uint64_t& landed) override;

private:
    // The stream's first timestamp (0 when the container gives none).
    int64_t StreamOrigin() const;
    // Moves the demuxer to `timestamp` of the stream (or the key frame
    // before it) and starts decoding afresh; false when the seek failed.
    bool SeekStream(int64_t timestamp);
    // Goes back to the stream's start after a seek that could not tell
    // where it landed; false when even that fails.
    bool Rewind();
    // Feeds packets to the decoder until at least one frame was staged or
    // the stream ended. Returns false at the end of the stream.
    bool DecodeMore();
    // Receives every frame the decoder has ready and stages it; returns the
    // number of frames received, or -1 when the decoder reported the end.
    int DrainDecoder();
    // Appends the samples of one decoded frame to the staging buffer, every
    // staged channel of every frame.
    void StageFrame(const AVFrame* frame);
    // Sets blockChannels_, blockLayout_, order_ and sourceBits_ from the
    // opened decoder.
    void DescribeBlocks();
    // Delivers up to kBlockFrames staged frames through `put` (frame
    // index, staged samples); returns the count.
    template <typename Put>
    int Deliver(Put&& put);
    void UpdatePosition();

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int streamIndex_ = -1;
    bool flushed_ = false;   // the end-of-stream packet was sent
    bool finished_ = false;  // the decoder delivered its last frame
    int codecId_ = 0;
    std::string containerName_;
    std::string openError_;
    // Decoded frames not yet delivered, interleaved by stageChannels_ in the
    // stream's stored order, as float (on the 16-bit grid for sources of 16
    // bits or fewer); stageRead_ marks the first undelivered sample.
    std::vector<float> stage_;
    size_t stageRead_ = 0;
    int stageChannels_ = 1;
    int blockChannels_ = 1;
    uint64_t blockLayout_ = 0;
    int sourceBits_ = 16;
    bool sourceFloat_ = false;
    bool keepLossyFloat_ = false;
    // The stored channel behind each block channel.
    int order_[kMaxChannels] = {};
    // Timestamp of the first frame staged into an empty buffer (the
    // stream's time base; INT64_MIN when it had none).
    int64_t stagedPts_ = INT64_MIN;
};

class CFFmpegProbeReader : public CAudioReader {
public:
    CFFmpegProbeReader() { ResetInfo(); }
    ~CFFmpegProbeReader() override;

    void Close() override;
    // Opens the container and reads its stream information. Succeeds also
    // when the file has no audio stream; the sample rate is then 0.
    int Open(const std::string& path, int renderRate) override;
    // Decodes nothing: an empty block of the stream's channels.
    int ReadBlock(AudioBlock& block) override {
        block.Shape(GetBlockChannels(), kBlockFrames);
        return 0;
    }
    int HasAudio() override { return streamIndex_ >= 0 ? 1 : 0; }

private:
    AVFormatContext* format_ = nullptr;
    int streamIndex_ = -1;
};

}  // namespace quelvox
