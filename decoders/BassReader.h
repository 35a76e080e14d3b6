// Reader for every format the decoding layer of platform/bass serves: MPEG
// audio, WAV, FLAC, WavPack, AAC/MP4, ALAC, ADX, CD tracks, MIDI and
// tracker modules.
#pragma once

#include "common/AudioStream.h"
#include "platform/bass/BassLayer.h"

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
    int Read(int16_t* left, int16_t* right) override;
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
    const bass::CBassRuntime& runtime_;
    std::unique_ptr<bass::CChannel> channel_;
    int dataBits_ = 16;
    std::vector<uint8_t> buffer_;
};

}  // namespace quelvox
