// Writer of AMR narrow-band (8000 Hz) and AMR-WB (16000 Hz) speech files in
// the storage format, for the ".amr" and ".awb" outputs. It cuts the mono
// 16-bit blocks it receives into codec frames of 160 or 320 samples and
// hands each frame to the codec layer, which owns the output file.
#pragma once

#include "common/AudioStream.h"

#include <cstdint>
#include <string>

namespace quelvox {

namespace amr {
struct AmrEncoder;
}

// Parameter record of the AMR writer.
struct AmrCodecParams {
    int narrowBand = 1;  // 1 = AMR-NB, 0 = AMR-WB
    int dtx = 0;
    int nbMode = 0;
    int wbMode = 0;
};

class CAmrWriter : public CAudioWriter {
public:
    CAmrWriter() = default;
    ~CAmrWriter() override;

    void SetFileName(const std::string& path) override { path_ = path; }
    // Picks narrow- or wide-band, the frame size and the encode routine,
    // and keeps DTX and both modes.
    void SetCodecParams(const AmrCodecParams& params);
    // Creates the file and the encoder; nonzero on success. Fails for a mode
    // out of range (0..7 narrow-band, 0..8 wide-band), for a missing
    // SetCodecParams and when the file cannot be created.
    int Open() override;
    // Rounds the block to 16 bits (CInt16Planes::Round) and frames its
    // left (or only) channel. Returns 1, or 0 when the writer is not open
    // or a frame could not be written.
    int WriteBlock(const AudioBlock& block) override;
    // Pads and encodes a staged partial frame, closes the file and returns
    // every field to its default.
    void Close() override;

private:
    using EncodeRoutine = int (*)(amr::AmrEncoder*, const int16_t*);

    void Reset();
    // Frames `frames` samples of `left`.
    int WriteInt16(const int16_t* left, int frames);

    EncodeRoutine encode_ = nullptr;
    std::string path_;
    int narrowBand_ = 1;
    int16_t staging_[1024] = {};
    int staged_ = 0;
    int dtx_ = 0;
    int nbMode_ = 6;
    int wbMode_ = 6;
    amr::AmrEncoder* handle_ = nullptr;
    int frameSize_ = 0;
    CInt16Planes pcm16_;
};

}  // namespace quelvox
