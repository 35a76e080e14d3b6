// The wide sample block: up to kMaxChannels channels of 32-bit float
// samples, kept planar, together with the channel layout and the real bit
// depth of the source.
//
// Float samples have the nominal range -1 … 1. An integer sample of b bits
// maps to float as s / 2^(b-1), and back as round-to-nearest of
// v × 2^(b-1), clamped to the b-bit range, NaN giving 0. For 16 bits (and
// up to 24) the way there and back is exact: every integer value comes back
// unchanged, so a 16-bit stream can pass through float blocks and leave
// them byte for byte as it came.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quelvox {

// Most channels a block carries; a source with more delivers its first
// kMaxChannels.
inline constexpr int kMaxChannels = 8;

// Channel positions: the bits of FFmpeg's channel masks (AV_CH_*), so that
// a layout passes to and from the FFmpeg libraries unchanged. The channels
// of a block are stored in the order of their bits.
namespace channel {
inline constexpr uint64_t kFrontLeft = 0x1;
inline constexpr uint64_t kFrontRight = 0x2;
inline constexpr uint64_t kFrontCenter = 0x4;
inline constexpr uint64_t kLowFrequency = 0x8;
inline constexpr uint64_t kBackLeft = 0x10;
inline constexpr uint64_t kBackRight = 0x20;
inline constexpr uint64_t kFrontLeftOfCenter = 0x40;
inline constexpr uint64_t kFrontRightOfCenter = 0x80;
inline constexpr uint64_t kBackCenter = 0x100;
inline constexpr uint64_t kSideLeft = 0x200;
inline constexpr uint64_t kSideRight = 0x400;

inline constexpr uint64_t kMono = kFrontCenter;
inline constexpr uint64_t kStereo = kFrontLeft | kFrontRight;
}  // namespace channel

// The layout a source of `channels` channels has when it names none: mono,
// stereo, then L R C; L R BL BR; L R C BL BR; L R C LFE BL BR;
// L R C LFE BL BR BC; L R C LFE BL BR SL SR. 0 outside 1 … kMaxChannels.
uint64_t DefaultLayout(int channels);

// Channels a layout names.
inline int LayoutChannels(uint64_t layout) { return std::popcount(layout); }

// The position (one mask bit) of channel `index` of `layout`; 0 when the
// layout has fewer channels.
uint64_t ChannelAt(uint64_t layout, int index);

// Blocks hold their channels in layout order, whatever order a file stores
// them in. For `count` (1 … kMaxChannels) stored channels at `positions`
// (one mask bit each), fills order[k] with the stored channel at the
// layout's k-th position and returns the layout. Positions that do not
// name `count` distinct channels give the default layout of the count,
// stored in its own order.
uint64_t OrderByPosition(const uint64_t* positions, int count, int* order);

class AudioBlock {
public:
    AudioBlock() = default;

    // Gives the block `channels` channels (1 … kMaxChannels; others are
    // limited to that range) of room for `capacityFrames` frames each, and
    // the layout and source depth to carry. A layout that does not name
    // exactly `channels` channels is replaced by the default one. Storage
    // only grows, so readers shape the block they fill on every call;
    // frames is set to 0.
    void Shape(int channels, int capacityFrames, uint64_t layout = 0, int sourceBits = 16);

    float* Channel(int c) { return data_.data() + static_cast<size_t>(c) * stride_; }
    const float* Channel(int c) const { return data_.data() + static_cast<size_t>(c) * stride_; }

    int Channels() const { return channels_; }
    int Capacity() const { return capacity_; }
    uint64_t Layout() const { return layout_; }
    // Bits of the source's own samples (16 for 16-bit sources, 24 for
    // 24-bit ones, 32 for float and 32-bit sources).
    int SourceBits() const { return sourceBits_; }
    void SetSourceBits(int bits) { sourceBits_ = bits; }

    // Frames that hold samples, at most Capacity().
    int frames = 0;

private:
    std::vector<float> data_;
    size_t stride_ = 0;
    int channels_ = 0;
    int capacity_ = 0;
    uint64_t layout_ = 0;
    int sourceBits_ = 16;
};

// An integer sample of `bits` bits (8 … 32) as float: s / 2^(bits-1).
inline float IntToFloat(int32_t s, int bits) {
    return static_cast<float>(static_cast<double>(s) * std::ldexp(1.0, 1 - bits));
}

inline float Int16ToFloat(int16_t s) { return static_cast<float>(s) * (1.0f / 32768.0f); }

// A float sample as a 16-bit one: v × 32768 rounded to nearest, clamped to
// -32768 … 32767; NaN gives 0.
inline int16_t FloatToInt16(float v) {
    const float x = v * 32768.0f;
    if (!(x > -32768.0f)) return std::isnan(x) ? int16_t{0} : int16_t{-32768};
    if (x >= 32767.0f) return 32767;
    // Adding and taking away 1.5 × 2^23 rounds to the nearest integer (ties
    // to even) in the float unit itself, without a library call; exact for
    // every |x| below 2^22.
    constexpr float kRound = 12582912.0f;
    const float shifted = x + kRound;
    return static_cast<int16_t>(static_cast<int>(shifted - kRound));
}

// A float sample as an integer of `bits` bits (8 … 32): v × 2^(bits-1)
// rounded to nearest, clamped to the range of that width; NaN gives 0.
inline int32_t FloatToInt(float v, int bits) {
    const double scale = static_cast<double>(int64_t{1} << (bits - 1));
    const double x = static_cast<double>(v) * scale;
    if (!(x > -scale)) return std::isnan(x) ? 0 : static_cast<int32_t>(-scale);
    if (x >= scale - 1.0) return static_cast<int32_t>(scale - 1.0);
    // Rounds to nearest (ties to even) as FloatToInt16 does, here with
    // 1.5 × 2^52.
    constexpr double kRound = 6755399441055744.0;
    const double shifted = x + kRound;
    return static_cast<int32_t>(shifted - kRound);
}

// How many of `n` samples lie so far beyond full scale that FloatToInt
// clips them at `bits` bits (8 … 32): rounded, they would pass the largest
// or the smallest integer of that width. NaN counts as silence.
uint64_t CountClipping(const float* v, int n, int bits);

// Triangular (TPDF) dither for reducing depth: the difference of two
// uniform values, spanning -1 … 1 step of the target width. A fixed seed
// makes a conversion give the same file every time.
class CTpdfDither {
public:
    // One noise value in steps of the target width.
    float Next() {
        const float a = Uniform();
        return a - Uniform();
    }

private:
    // xorshift32: a uniform value in [0, 1).
    float Uniform() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<float>(state_ >> 8) * (1.0f / 16777216.0f);
    }
    uint32_t state_ = 0x9E3779B9u;
};

// FloatToInt with dither: the noise is added in steps of `bits` before the
// rounding. NaN gives 0.
inline int32_t FloatToIntDithered(float v, int bits, CTpdfDither& dither) {
    if (std::isnan(v)) return 0;
    const float noise = dither.Next();
    return FloatToInt(static_cast<float>(static_cast<double>(v) +
                                         std::ldexp(static_cast<double>(noise), 1 - bits)),
                      bits);
}

// Widens `n` samples taken every `stride` samples of `in` to float (as
// Int16ToFloat), and narrows `n` floats to 16-bit samples stored every
// `stride` samples of `out` (as FloatToInt16). Where the processor has
// SSE2, whole groups of samples go through its vector instructions, with
// the same results.
void Int16sToFloats(const int16_t* in, size_t stride, int n, float* out);
void FloatsToInt16s(const float* in, int n, int16_t* out, size_t stride);
// The same for `n` interleaved stereo frames, both channels at once.
void StereoInt16sToFloats(const int16_t* in, int n, float* left, float* right);
void FloatsToStereoInt16s(const float* left, const float* right, int n, int16_t* out);

// Scales `n` samples that lie on the 16-bit grid by `gain` as integer
// samples always were: the product of the 16-bit value and the gain,
// truncated toward zero and clamped to -32768 … 32767 (NaN as 0), back on
// the grid.
void ScaleOnSixteenBitGrid(float* v, int n, float gain);

// Stores the first `frames` frames of one or two planar 16-bit channels
// into `block` as float (a null `right` makes a mono block).
void Int16ToBlock(const int16_t* left, const int16_t* right, int frames, AudioBlock& block);

// Weights with which a channel position reaches the left and the right side
// of a stereo fold, before the fold scales them (common/ChannelMix.h): front
// and side/back channels reach their own side at 1, centre, low-frequency
// and back-centre channels both sides at 0.707.
struct StereoWeights {
    float left;
    float right;
};
StereoWeights FoldWeights(uint64_t position);

// Folds the channels of `in` (any layout) to stereo by PlanStereoFold
// (FoldWeights scaled so that neither side can exceed full scale) into
// `left` and `right`, `in.frames` frames each. A mono block is copied to
// both sides; a stereo block passes unchanged.
void FoldToStereo(const AudioBlock& in, float* left, float* right);

}  // namespace quelvox
