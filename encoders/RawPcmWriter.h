// Writes blocks as bare signed 16-bit little-endian samples (no header):
// mono as one sample per frame, stereo interleaved left then right. Serves
// the pre-processing pass that copies a decoded stream into a temporary file.
#pragma once

#include "common/AudioStream.h"

#include <string>

namespace quelvox {

class CRawPcmWriter : public CAudioWriter {
public:
    CRawPcmWriter() = default;
    ~CRawPcmWriter() override;

    void SetFileName(const std::string& path) override { path_ = path; }
    // 2 writes interleaved stereo; any other value writes the left channel.
    void SetChannels(int count) override { channels_ = count; }
    // Creates the file, replacing an existing one. Nonzero on success.
    int Open() override;
    // Rounds the block to 16 bits (CInt16Planes::Round); nonzero when
    // every byte of it was written.
    int WriteBlock(const AudioBlock& block) override;
    void Close() override;

private:
    // Writes `frames` frames of `left` (and `right`, or `left` again, for
    // stereo); nonzero when every byte was written.
    int WriteInt16(const int16_t* left, const int16_t* right, int frames);

    CInt16Planes pcm16_;
    int channels_ = 0;
    std::string path_;
    int fd_ = -1;
    // One interleaved stereo block in little-endian byte order.
    unsigned char buffer_[kBlockFrames * 2 * 2];
};

}  // namespace quelvox
