// ADPCM decoder of ITU-T G.726 at 24, 32 and 40 kbit/s (the G.723 3-bit,
// G.721 4-bit and G.723 5-bit codes): adaptive quantizer with fast and slow
// scale factors, speed control with tone and transition detection, and the
// adaptive predictor with two poles and six zeros, all in the standard's
// fixed-point arithmetic so that the output matches it bit for bit.
#pragma once

#include <cstdint>

namespace quelvox {

class CG72xDecoder {
public:
    // codeBits: 3, 4 or 5 (any other value is taken as 4).
    explicit CG72xDecoder(int codeBits = 4) { Reset(codeBits); }

    // Returns to the standard's initial state with the given code width.
    void Reset(int codeBits);
    int CodeBits() const { return codeBits_; }

    // Decodes one code (its low CodeBits() bits) and returns the
    // reconstructed signal, the standard's 14-bit linear value shifted left
    // by 2 and clipped to 16 bits.
    int16_t Decode(unsigned code);

private:
    int codeBits_ = 4;
    // Names follow the standard's variables; every value is kept as the
    // unsigned bit pattern of its word length.
    int yu_ = 0;             // fast quantizer scale factor (13 bits)
    int yl_ = 0;             // slow quantizer scale factor (19 bits)
    int dms_ = 0;            // short-term average of F(I) (12 bits)
    int dml_ = 0;            // long-term average of F(I) (14 bits)
    int ap_ = 0;             // speed control parameter (10 bits)
    int a1_ = 0, a2_ = 0;    // pole coefficients (16 bits)
    int b_[6] = {};          // zero coefficients (16 bits)
    int dq_[6] = {};         // past quantized differences, 11-bit floating point
    int sr1_ = 0, sr2_ = 0;  // past reconstructed signal, floating point
    int pk1_ = 0, pk2_ = 0;  // past signs of the partial signal
    int td_ = 0;             // tone detected
};

}  // namespace quelvox
