// Folding of multichannel frames to stereo, and sample conversions shared by
// the readers.
#pragma once

#include <cmath>
#include <cstdint>

namespace quelvox {

// Clamps an integer to the 16-bit sample range.
inline int16_t ClipSample(int64_t v) {
    if (v > 32767) return 32767;
    if (v < -32768) return -32768;
    return static_cast<int16_t>(v);
}

// Converts a double to a 64-bit integer, truncating toward zero and clamping
// to [lo, hi]; NaN gives 0. Never undefined behaviour.
inline int64_t ClampToInt(double v, int64_t lo, int64_t hi) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(lo)) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<int64_t>(v);
}

// The largest magnitude a decoded float sample keeps: +18 dBFS, far beyond
// the overs of any real recording, yet small enough that every gain and
// loudness computed from it stays finite and meaningful.
inline constexpr double kFloatSampleLimit = 8.0;

// A decoded float sample of nominal range -1..1 as readers hand it on:
// NaN and infinities (a broken or hostile stream) are silence, finite
// values are limited to ±kFloatSampleLimit.
inline float SaneFloatSample(double v) {
    if (!std::isfinite(v)) return 0.0f;
    if (v > kFloatSampleLimit) return static_cast<float>(kFloatSampleLimit);
    if (v < -kFloatSampleLimit) return static_cast<float>(-kFloatSampleLimit);
    return static_cast<float>(v);
}

// A float sample of nominal range -1..1 as a 16-bit sample: value times
// 2147483647 truncated toward zero, then shifted right by 16. Values outside
// the range clamp to full scale; NaN and infinities are silence.
inline int16_t FloatToSample16(double v) {
    if (!std::isfinite(v)) return 0;
    int64_t i = ClampToInt(v * 2147483647.0, INT32_MIN, INT32_MAX);
    return static_cast<int16_t>(i >> 16);
}

// Folds one frame of n samples into left and right. Frames of 3 to 8
// channels in the default order of their count (DefaultLayout) are mixed
// by PlanStereoFold: the weights of FoldWeights, scaled so that neither side
// can exceed full scale; each side's weighted sum is rounded to the nearest
// integer. Any other n passes s0 and s1 through.
void DownmixToStereo(int n, const int16_t* frame, int16_t* left, int16_t* right);

// Six-channel variants for decoders whose channel order differs, mixed as
// DownmixToStereo mixes six channels.
// Vorbis order: L C R BL BR LFE.
void DownmixVorbis51(const int16_t* frame, int16_t* left, int16_t* right);
// AAC order: C L R BL BR LFE.
void DownmixAac51(const int16_t* frame, int16_t* left, int16_t* right);
// MPEG audio stored in MP4: L R BL BR C LFE.
void DownmixMp4Mpeg51(const int16_t* frame, int16_t* left, int16_t* right);

}  // namespace quelvox
