// Reader for every format the decoding layer of platform/bass serves: MPEG
// audio, WAV, FLAC, WavPack, AAC/MP4, ALAC, ADX, CD tracks, MIDI and
// tracker modules.
#pragma once

#include "common/AudioStream.h"
#include "platform/bass/BassRuntime.h"

#include <memory>
#include <string>
#include <vector>

namespace quelvox {

class CBassReader : public CAudioReader {
public:
    explicit CBassReader(const bass::CBassRuntime& runtime);
    ~CBassReader() override;

    void Close() override;
    int Open(const std::string& path, int renderRate) override;
    // Channels that can deliver wide (the libsndfile formats) give every
    // channel, the first kMaxChannels of a wider file, at the source's
    // depth, in the order of their positions; the others deliver 16-bit
    // mono or stereo (DecodeInt16).
    int ReadBlock(AudioBlock& block) override;
    int GetBlockChannels() override {
        return wideBits_ ? blockChannels_ : CAudioReader::GetBlockChannels();
    }
    uint64_t GetChannelLayout() override {
        return wideBits_ ? blockLayout_ : CAudioReader::GetChannelLayout();
    }
    int GetSourceBits() override { return wideBits_ ? wideBits_ : 16; }
    bool GetSourceFloat() override { return wideBits_ && channel_ && channel_->SourceFloat(); }
    uint64_t GetPosition() override;
    bool SeekFrame(uint64_t frame, uint64_t& landed) override {
        return channel_ && channel_->SeekFrame(frame, landed);
    }
    int ReadTags(TagInfo& tags) override;
    KnownLength LearnedLength() const override {
        return channel_ ? channel_->LearnedLength() : KnownLength{};
    }

    // Opens `path` with render rate 0 and reads its tags; the ReadTags
    // result, or 0 when the file did not open.
    static int ReadTagsFromFile(const bass::CBassRuntime& runtime, const std::string& path,
                                TagInfo& tags);

private:
    // The next block of a channel without wide delivery as 16-bit samples:
    // mono into `left`, else stereo (more channels mixed down).
    int DecodeInt16(int16_t* left, int16_t* right);
    // Sets the wide delivery's fields from the opened channel.
    void DescribeWide();

    const bass::CBassRuntime& runtime_;
    std::unique_ptr<bass::CChannel> channel_;
    int dataBits_ = 16;
    std::vector<uint8_t> buffer_;
    // Wide delivery: the source's bits (0 when the channel has none), the
    // block's channels and positions, and the stored channel behind each
    // block channel.
    int wideBits_ = 0;
    int blockChannels_ = 0;
    uint64_t blockLayout_ = 0;
    int order_[kMaxChannels] = {};
    std::vector<float> wideBuffer_;
    std::vector<int16_t> wide16_;
    CInt16Planes pcm16_;
};

}  // namespace quelvox
