#include "common/AudioBlock.h"

#include "common/ChannelMix.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace quelvox {

namespace {

using namespace channel;

constexpr uint64_t kDefaultLayouts[kMaxChannels] = {
    kMono,
    kStereo,
    kStereo | kFrontCenter,
    kStereo | kBackLeft | kBackRight,
    kStereo | kFrontCenter | kBackLeft | kBackRight,
    kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight,
    kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight | kBackCenter,
    kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight | kSideLeft | kSideRight,
};

constexpr float kCentreWeight = 0.707f;

// The smallest float at or above `bound`: for every float x, x >= bound
// and x < bound read the same against it.
float SmallestFloatFrom(double bound) {
    float f = static_cast<float>(bound);
    if (static_cast<double>(f) < bound)
        f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

struct FoldRule {
    uint64_t position;
    StereoWeights weights;
};

// Positions not listed reach both sides at the centre weight, so that no
// channel is lost from a fold.
constexpr FoldRule kFoldRules[] = {
    {kFrontLeft, {1.0f, 0.0f}},
    {kFrontRight, {0.0f, 1.0f}},
    {kFrontCenter, {kCentreWeight, kCentreWeight}},
    {kLowFrequency, {kCentreWeight, kCentreWeight}},
    {kBackLeft, {1.0f, 0.0f}},
    {kBackRight, {0.0f, 1.0f}},
    {kFrontLeftOfCenter, {1.0f, 0.0f}},
    {kFrontRightOfCenter, {0.0f, 1.0f}},
    {kBackCenter, {kCentreWeight, kCentreWeight}},
    {kSideLeft, {1.0f, 0.0f}},
    {kSideRight, {0.0f, 1.0f}},
};

}  // namespace

uint64_t DefaultLayout(int channels) {
    if (channels < 1 || channels > kMaxChannels) return 0;
    return kDefaultLayouts[channels - 1];
}

uint64_t ChannelAt(uint64_t layout, int index) {
    for (int i = 0; layout != 0; ++i) {
        const uint64_t bit = layout & (~layout + 1);
        if (i == index) return bit;
        layout &= layout - 1;
    }
    return 0;
}

uint64_t OrderByPosition(const uint64_t* positions, int count, int* order) {
    count = std::clamp(count, 1, kMaxChannels);
    uint64_t layout = 0;
    bool named = true;
    for (int i = 0; i < count; ++i) {
        const uint64_t p = positions[i];
        if (p == 0 || (p & (p - 1)) != 0 || (layout & p)) named = false;
        layout |= p;
    }
    if (!named) {
        for (int k = 0; k < count; ++k) order[k] = k;
        return DefaultLayout(count);
    }
    for (int k = 0; k < count; ++k) {
        const uint64_t want = ChannelAt(layout, k);
        order[k] = static_cast<int>(std::find(positions, positions + count, want) - positions);
    }
    return layout;
}

void AudioBlock::Shape(int channels, int capacityFrames, uint64_t layout, int sourceBits) {
    channels_ = std::clamp(channels, 1, kMaxChannels);
    capacity_ = std::max(capacityFrames, 0);
    layout_ = LayoutChannels(layout) == channels_ ? layout : DefaultLayout(channels_);
    sourceBits_ = sourceBits;
    const size_t needed = static_cast<size_t>(channels_) * static_cast<size_t>(capacity_);
    if (data_.size() < needed) data_.resize(needed);
    stride_ = static_cast<size_t>(capacity_);
    frames = 0;
}

namespace {

#if defined(__SSE2__)
// Four floats as four 32-bit integers: NaN as 0, clamped to the 16-bit
// range, rounded to nearest (the processor's default rounding, ties to
// even, as FloatToInt16).
inline __m128i NarrowFour(const float* in) {
    __m128 x = _mm_mul_ps(_mm_loadu_ps(in), _mm_set1_ps(32768.0f));
    x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
    x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    return _mm_cvtps_epi32(x);
}

// Four 32-bit integers as floats divided by 32768.
inline void StoreWidened(__m128i v, float* out) {
    _mm_storeu_ps(out, _mm_mul_ps(_mm_cvtepi32_ps(v), _mm_set1_ps(1.0f / 32768.0f)));
}
#endif

}  // namespace

uint64_t CountClipping(const float* v, int n, int bits) {
    // v × 2^(bits-1) rounds past the largest integer from 2^(bits-1) - 0.5
    // on (a tie rounds to the even one beyond), past the smallest below
    // -2^(bits-1) - 0.5; both bounds are exact in double. A float compares
    // with a bound as it does with the smallest float at or above it, so
    // the test runs on floats, four at a time: every sample of every block
    // written passes here.
    const float hi = SmallestFloatFrom(1.0 - std::ldexp(1.0, -bits));
    const float lo = SmallestFloatFrom(-1.0 - std::ldexp(1.0, -bits));
    uint64_t count = 0;
    int i = 0;
#if defined(__SSE2__)
    const __m128 high = _mm_set1_ps(hi);
    const __m128 low = _mm_set1_ps(lo);
    // Each lane counts its samples beyond (a true comparison is -1); fewer
    // than 2^29 blocks of four fit an int.
    __m128i lanes = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(v + i);
        // Ordered comparisons: NaN is beyond neither bound.
        const __m128 beyond = _mm_or_ps(_mm_cmpge_ps(x, high), _mm_cmplt_ps(x, low));
        lanes = _mm_sub_epi32(lanes, _mm_castps_si128(beyond));
    }
    alignas(16) int32_t perLane[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(perLane), lanes);
    for (const int32_t c : perLane) count += static_cast<uint64_t>(c);
#endif
    for (; i < n; ++i) count += static_cast<uint64_t>((v[i] >= hi) | (v[i] < lo));
    return count;
}

void Int16sToFloats(const int16_t* in, size_t stride, int n, float* out) {
    int i = 0;
#if defined(__SSE2__)
    if (stride == 1) {
        for (; i + 8 <= n; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            StoreWidened(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16), out + i);
            StoreWidened(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16), out + i + 4);
        }
    }
#endif
    for (; i < n; ++i) out[i] = Int16ToFloat(in[static_cast<size_t>(i) * stride]);
}

void StereoInt16sToFloats(const int16_t* in, int n, float* left, float* right) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        // l0 r0 l1 r1 l2 r2 l3 r3: the low halves of the 32-bit lanes are
        // the left samples, the high halves the right ones.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        StoreWidened(_mm_srai_epi32(_mm_slli_epi32(v, 16), 16), left + i);
        StoreWidened(_mm_srai_epi32(v, 16), right + i);
    }
#endif
    for (; i < n; ++i) {
        left[i] = Int16ToFloat(in[2 * i]);
        right[i] = Int16ToFloat(in[2 * i + 1]);
    }
}

void FloatsToInt16s(const float* in, int n, int16_t* out, size_t stride) {
    int i = 0;
#if defined(__SSE2__)
    if (stride == 1) {
        for (; i + 8 <= n; i += 8) {
            // The saturating pack cannot saturate: the values are clamped.
            const __m128i v = _mm_packs_epi32(NarrowFour(in + i), NarrowFour(in + i + 4));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        }
    }
#endif
    for (; i < n; ++i) out[static_cast<size_t>(i) * stride] = FloatToInt16(in[i]);
}

void FloatsToStereoInt16s(const float* left, const float* right, int n, int16_t* out) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        const __m128i l = NarrowFour(left + i);
        const __m128i r = NarrowFour(right + i);
        const __m128i v = _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), v);
    }
#endif
    for (; i < n; ++i) {
        out[2 * i] = FloatToInt16(left[i]);
        out[2 * i + 1] = FloatToInt16(right[i]);
    }
}

void ScaleOnSixteenBitGrid(float* v, int n, float gain) {
    // v × 32768 is the 16-bit value and 32768 × gain is exact, so the
    // double product is exactly the value times the gain.
    const double g = static_cast<double>(gain) * 32768.0;
    int i = 0;
#if defined(__SSE2__)
    const __m128d factor = _mm_set1_pd(g);
    const __m128d lo = _mm_set1_pd(-32768.0), hi = _mm_set1_pd(32767.0);
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(v + i);
        __m128d a = _mm_mul_pd(_mm_cvtps_pd(x), factor);
        __m128d b = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), factor);
        // NaN as 0, then clamped, then truncated.
        a = _mm_and_pd(a, _mm_cmpord_pd(a, a));
        b = _mm_and_pd(b, _mm_cmpord_pd(b, b));
        a = _mm_min_pd(_mm_max_pd(a, lo), hi);
        b = _mm_min_pd(_mm_max_pd(b, lo), hi);
        const __m128i t = _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b));
        StoreWidened(t, v + i);
    }
#endif
    for (; i < n; ++i) {
        const double x = static_cast<double>(v[i]) * g;
        const double clamped = std::isnan(x) ? 0.0 : std::clamp(x, -32768.0, 32767.0);
        v[i] = static_cast<float>(static_cast<int>(clamped)) * (1.0f / 32768.0f);
    }
}

void Int16ToBlock(const int16_t* left, const int16_t* right, int frames, AudioBlock& block) {
    const int channels = right ? 2 : 1;
    if (block.Channels() != channels || block.Capacity() < frames)
        block.Shape(channels, std::max(frames, block.Capacity()), 0, block.SourceBits());
    const int n = std::clamp(frames, 0, block.Capacity());
    Int16sToFloats(left, 1, n, block.Channel(0));
    if (right) Int16sToFloats(right, 1, n, block.Channel(1));
    block.frames = n;
}

StereoWeights FoldWeights(uint64_t position) {
    for (const FoldRule& rule : kFoldRules)
        if (rule.position == position) return rule.weights;
    return {kCentreWeight, kCentreWeight};
}

void FoldToStereo(const AudioBlock& in, float* left, float* right) {
    const int n = in.frames;
    if (in.Channels() == 1) {
        std::copy_n(in.Channel(0), n, left);
        std::copy_n(in.Channel(0), n, right);
        return;
    }
    if (in.Channels() == 2) {
        std::copy_n(in.Channel(0), n, left);
        std::copy_n(in.Channel(1), n, right);
        return;
    }
    const ChannelMix mix = PlanStereoFold(in.Layout());
    std::fill_n(left, n, 0.0f);
    std::fill_n(right, n, 0.0f);
    for (int c = 0; c < in.Channels(); ++c) {
        const float wl = mix.weight[0][c], wr = mix.weight[1][c];
        const float* s = in.Channel(c);
        if (wl != 0.0f)
            for (int i = 0; i < n; ++i) left[i] += s[i] * wl;
        if (wr != 0.0f)
            for (int i = 0; i < n; ++i) right[i] += s[i] * wr;
    }
}

}  // namespace quelvox
