// AMR narrow-band speech frames for a container muxer.
//
// Wraps the opencore-amrnb encoder: 160 samples of 8000 Hz mono audio in,
// one frame in storage format (a header byte with the frame type, then the
// speech bits) out. That is the packet layout the 3GP/3G2 muxer stores in a
// "samr" track.
#pragma once

#include <cstdint>

namespace quelvox {

class CAmrNbPacketEncoder {
public:
    // Samples per frame (20 ms at 8000 Hz).
    static constexpr int kFrameSamples = 160;
    // Largest encoded frame: header byte plus 31 bytes of 12.2 kbit/s speech.
    static constexpr int kMaxFrameBytes = 32;

    CAmrNbPacketEncoder() = default;
    ~CAmrNbPacketEncoder();
    CAmrNbPacketEncoder(const CAmrNbPacketEncoder&) = delete;
    CAmrNbPacketEncoder& operator=(const CAmrNbPacketEncoder&) = delete;

    // The encoder mode (0 = 4750 … 7 = 12200 bit/s) whose bit rate is
    // nearest to `bitsPerSecond`; ties go to the lower rate.
    static int ModeForBitrate(int bitsPerSecond);
    // The bit rate of a mode index (0 … 7).
    static int BitrateOfMode(int mode);

    // Prepares the encoder; nonzero on success. Reopening releases first.
    int Open(int bitsPerSecond, bool dtx = false);
    // Encodes one frame of kFrameSamples samples into `out` (at least
    // kMaxFrameBytes). Returns the frame's byte count, or -1 on failure.
    int Encode(const int16_t* speech, uint8_t* out);
    void Close();

    bool IsOpen() const { return state_ != nullptr; }
    int Mode() const { return mode_; }

private:
    void* state_ = nullptr;
    int mode_ = 0;
};

}  // namespace quelvox
