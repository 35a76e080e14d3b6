#include "decoders/AiffCodecs.h"

#include <cmath>
#include <limits>

namespace quelvox::aiff {

double ExtendedToDouble(const uint8_t* p) {
    const bool negative = (p[0] & 0x80) != 0;
    const int exponent = ((p[0] & 0x7F) << 8) | p[1];
    uint64_t mantissa = 0;
    for (int i = 2; i < 10; ++i) mantissa = (mantissa << 8) | p[i];

    double value;
    if (exponent == 0x7FFF) {
        // Infinity when the fraction below the integer bit is zero, else NaN.
        value = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity()
                                     : std::numeric_limits<double>::quiet_NaN();
    } else {
        // mantissa * 2^(exponent - 16383 - 63); ldexp saturates to infinity
        // or flushes to zero instead of overflowing.
        value = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
    }
    return negative ? -value : value;
}

namespace {

constexpr int kImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

constexpr int kImaStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

}  // namespace

void DecodeIma4Block(const uint8_t* block, int16_t* out) {
    // Predictor: first byte times 256 plus the top bit of the second byte,
    // read as a signed 16-bit value; step index: low seven bits.
    int predictor = static_cast<int16_t>((block[0] << 8) | (block[1] & 0x80));
    int index = block[1] & 0x7F;
    if (index > 88) index = 88;

    for (int i = 0; i < kIma4BlockSamples; ++i) {
        const uint8_t byte = block[2 + i / 2];
        const int code = (i & 1) ? (byte >> 4) : (byte & 0x0F);
        const int step = kImaStepTable[index];
        int diff = step >> 3;
        if (code & 1) diff += step >> 2;
        if (code & 2) diff += step >> 1;
        if (code & 4) diff += step;
        if (code & 8) diff = -diff;
        predictor += diff;
        if (predictor > 32767) predictor = 32767;
        if (predictor < -32768) predictor = -32768;
        index += kImaIndexTable[code];
        if (index < 0) index = 0;
        if (index > 88) index = 88;
        out[i] = static_cast<int16_t>(predictor);
    }
}

void CDwvwDecoder::Reset(int bitWidth, Source source) {
    source_ = std::move(source);
    bitWidth_ = bitWidth;
    maxModifier_ = bitWidth / 2;
    maxDelta_ = int32_t{1} << (bitWidth - 1);
    span_ = int32_t{1} << bitWidth;
    lastDeltaWidth_ = 0;
    lastSample_ = 0;
    bits_ = 0;
    heldBits_ = 0;
    inputDone_ = false;
    ended_ = false;
    inputPos_ = 0;
    inputLen_ = 0;
}

int CDwvwDecoder::ReadBits(int n) {
    while (heldBits_ < n) {
        if (inputPos_ >= inputLen_ && !inputDone_) {
            inputLen_ = source_ ? source_(input_, sizeof input_) : 0;
            if (inputLen_ > sizeof input_) inputLen_ = sizeof input_;
            inputPos_ = 0;
            if (inputLen_ == 0) inputDone_ = true;
        }
        if (inputPos_ >= inputLen_) {
            // No input left: short requests end the stream, longer ones are
            // completed with zero bits.
            if (n < 8) return -1;
            bits_ <<= 8;
        } else {
            bits_ = (bits_ << 8) | input_[inputPos_++];
        }
        heldBits_ += 8;
    }
    heldBits_ -= n;
    const uint64_t mask = (uint64_t{1} << n) - 1;
    const int value = static_cast<int>((bits_ >> heldBits_) & mask);
    bits_ &= (uint64_t{1} << heldBits_) - 1;
    return value;
}

int CDwvwDecoder::Decode(int32_t* out, int count) {
    int done = 0;
    while (done < count && !ended_) {
        // Delta width modifier: the number of 0 bits before a 1 bit, at most
        // the maximum modifier size; a sign bit follows a nonzero modifier.
        int modifier = 0;
        bool stop = false;
        while (modifier < maxModifier_) {
            const int bit = ReadBits(1);
            if (bit < 0) {
                stop = true;
                break;
            }
            if (bit) break;
            ++modifier;
        }
        if (!stop && modifier != 0) {
            const int sign = ReadBits(1);
            if (sign < 0)
                stop = true;
            else if (sign)
                modifier = -modifier;
        }
        if (stop) {
            ended_ = true;
            break;
        }

        const int deltaWidth = (lastDeltaWidth_ + modifier + bitWidth_) % bitWidth_;
        int32_t delta = 0;
        if (deltaWidth != 0) {
            const int low = ReadBits(deltaWidth - 1);
            if (low < 0) {
                ended_ = true;
                break;
            }
            delta = low | (int32_t{1} << (deltaWidth - 1));
            const int sign = ReadBits(1);
            if (sign < 0) {
                ended_ = true;
                break;
            }
            if (delta == maxDelta_ - 1) {
                const int extra = ReadBits(1);
                if (extra < 0) {
                    ended_ = true;
                    break;
                }
                delta += extra;
            }
            if (sign) delta = -delta;
        }

        int32_t sample = lastSample_ + delta;
        if (sample >= maxDelta_)
            sample -= span_;
        else if (sample < -maxDelta_)
            sample += span_;
        lastDeltaWidth_ = deltaWidth;
        lastSample_ = sample;
        out[done] = static_cast<int32_t>(static_cast<uint32_t>(sample) << (32 - bitWidth_));
        // Bits made up of padding after the end of the data are no sample.
        if (inputDone_ && inputPos_ >= inputLen_ && heldBits_ == 0) {
            ended_ = true;
            break;
        }
        ++done;
    }
    return done;
}

}  // namespace quelvox::aiff
