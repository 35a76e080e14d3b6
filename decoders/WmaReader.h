// Reader of Windows Media audio: .wma files and the audio of .wmv, .asf,
// .wm, .wmd and .xwmv files, through the synchronous reader of the WMA layer.
//
// The reader selects the file's first audio stream, takes tags, duration
// and bit rate from the file's attributes and repackages the decoded 16-bit
// PCM into blocks of kBlockFrames frames (ReadBlock: every channel, and
// lossless streams at their depth). Progress counts 100 ns units: the
// total is the "Duration" attribute, the position the presentation time of
// the last decoded piece.
#pragma once

#include "common/AudioStream.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quelvox {

namespace wma {
class CWmaSyncReader;
}

class CWmaReader : public CAudioReader {
public:
    // Bytes of the PCM buffer of a new reader.
    static constexpr size_t kInitialBufferBytes = 102400;

    CWmaReader();
    ~CWmaReader() override;

    // Releases the file; empties the tags and clears the stream data. The
    // PCM buffer stays allocated until the reader is destroyed.
    void Close() override;
    // Opens the file, selects its first audio stream and reads the
    // attributes; the render rate is not used. 1 on success, 0 when the
    // Windows Media codecs are missing, the file does not open, has no
    // audio stream or no usable audio output.
    int Open(const std::string& path, int renderRate) override;
    // kBlockFrames frames unless the stream ends (0 at the end), of every
    // channel up to kMaxChannels with the stream's positions: lossless
    // streams deeper than 16 bits (WMA Lossless, PCM) at their depth, all
    // others as the decoded 16-bit samples.
    int ReadBlock(AudioBlock& block) override;
    int GetBlockChannels() override;
    uint64_t GetChannelLayout() override;
    int GetSourceBits() override { return reader_ ? sourceBits_ : 16; }
    // 1 when the file's audio stream was found (also after a failed Open
    // that got that far).
    int HasAudio() override { return streamNumber_ != 0 ? 1 : 0; }
    // Copies the stored tags; the track is the track number as decimal text
    // ("0" when the file has none). Always 1.
    int ReadTags(TagInfo& tags) override;

    // Size in bytes the PCM buffer is replaced by when a decoded piece of
    // `length` bytes does not fit: an eighth more, rounded down to a
    // multiple of 4, plus 4.
    static size_t GrownBufferBytes(size_t length);
    // Current size of the PCM buffer in bytes.
    size_t GetBufferBytes() const { return buffer_.size() * sizeof(int16_t); }

private:
    void Release();
    // Sets the block's channels, their layout and their order in the
    // decoded frames from the layer's positions.
    void DescribeBlocks();
    // Takes the next decoded 16-bit piece into buffer_; false at the end.
    bool NextPiece();
    // Moves decoded frames into `block` from frame `at`: those of the
    // 16-bit piece while it has any, else those of the float piece.
    int CopyWide(AudioBlock& block, int at);

    std::unique_ptr<wma::CWmaSyncReader> reader_;
    int streamNumber_ = 0;
    int pcmChannels_ = 0;  // channels of the decoded PCM
    std::string title_, artist_, comment_, album_, genre_, year_, copyright_, composer_;
    int track_ = 0;
    std::vector<int16_t> buffer_;
    size_t index_ = 0;       // next unread sample in buffer_
    size_t framesLeft_ = 0;  // frames not yet delivered

    // A deep stream's piece as float, and how blocks take pieces.
    std::vector<float> wide_;
    size_t wideIndex_ = 0;
    size_t wideLeft_ = 0;
    int sourceBits_ = 16;
    int blockChannels_ = 0;
    uint64_t blockLayout_ = 0;
    int order_[kMaxChannels] = {};  // decoded channel of each block channel
};

}  // namespace quelvox
