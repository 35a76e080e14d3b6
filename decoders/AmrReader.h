// Reader of AMR narrow-band (".amr", 8000 Hz) and AMR-WB (".awb", 16000 Hz)
// speech files in the single-channel storage format. The kind is told by the
// file's magic text; the codec layer reads the file frame by frame and the
// reader gathers the 160- or 320-sample frames into engine blocks.
#pragma once

#include "common/AudioStream.h"

#include <cstdint>
#include <string>

namespace quelvox {

namespace amr {
struct AmrDecoder;
}

class CAmrReader : public CAudioReader {
public:
    CAmrReader();
    ~CAmrReader() override;

    // Quits the decoder, empties the carry-over and clears the base data.
    void Close() override;
    // Opens a file that begins with "#!AMR\n" or "#!AMR-WB\n"; renderRate is
    // not used. Nonzero on success; 0 for a file shorter than 9 bytes, any
    // other magic or a decoder that cannot start.
    int Open(const std::string& path, int renderRate) override;
    // Delivers mono blocks of up to kBlockFrames samples; 0 at the end of
    // the stream.
    int ReadBlock(AudioBlock& block) override;

private:
    // Fills `left` with up to kBlockFrames decoded samples; returns the
    // count.
    int DecodeInt16(int16_t* left);

    CInt16Planes pcm16_;
    amr::AmrDecoder* nbDecoder_ = nullptr;
    amr::AmrDecoder* wbDecoder_ = nullptr;
    bool wideBand_ = false;
    // Samples of the last decoded frame that did not fit into the caller's
    // block; they start the next block.
    int16_t carry_[1024];
    int carryCount_ = 0;
};

}  // namespace quelvox
