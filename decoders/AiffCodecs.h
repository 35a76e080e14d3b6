// Sample decoders used by the AIFF reader: the 80-bit extended sample rate,
// G.711 expansion, QuickTime IMA4 blocks and the DWVW bit-stream decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quelvox::aiff {

// Converts a big-endian 80-bit IEEE extended value (the COMM sample rate) to
// a double. Exponents too large or too small for a double give +-infinity
// or zero; the all-ones exponent gives infinity or NaN. Never undefined
// behaviour, whatever the ten bytes hold.
double ExtendedToDouble(const uint8_t* bytes);

// Size of one channel's part of a QuickTime IMA4 block, and the samples it
// holds.
inline constexpr int kIma4BlockBytes = 34;
inline constexpr int kIma4BlockSamples = 64;

// Decodes one channel's 34-byte IMA4 block into 64 samples. The block
// header holds the starting predictor (top nine bits) and the step index
// (low seven bits, limited to 88); 32 bytes of four-bit codes follow, low
// nibble first.
void DecodeIma4Block(const uint8_t* block, int16_t* out);

// Delta With Variable Word width decoder. Samples come out as 32-bit values
// with the decoded word in the top `bitWidth` bits. The compressed bytes are
// pulled through a source callback that fills a buffer and returns the byte
// count, 0 at the end of the data.
class CDwvwDecoder {
public:
    using Source = std::function<size_t(uint8_t* buffer, size_t maxBytes)>;

    // Starts a new stream of `bitWidth`-bit words (8 ... 24 in AIFF-C).
    void Reset(int bitWidth, Source source);
    // Decodes up to `count` samples into `out`; returns how many. Fewer than
    // asked means the data ended (or the stream is broken).
    int Decode(int32_t* out, int count);
    // True once the data has been used up; no further sample will come.
    bool Ended() const { return ended_; }

private:
    // Takes the next n bits (0 ... 24) of the stream, -1 at its end.
    int ReadBits(int n);

    Source source_;
    int bitWidth_ = 16;
    int maxModifier_ = 8;
    int32_t maxDelta_ = 1 << 15;
    int32_t span_ = 1 << 16;
    int lastDeltaWidth_ = 0;
    int32_t lastSample_ = 0;
    uint64_t bits_ = 0;  // reservoir; the low heldBits_ bits are valid
    int heldBits_ = 0;
    bool inputDone_ = false;  // the source returned no more bytes
    bool ended_ = false;
    uint8_t input_[256] = {};
    size_t inputPos_ = 0;
    size_t inputLen_ = 0;
};

}  // namespace quelvox::aiff
