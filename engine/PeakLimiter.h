// A look-ahead true-peak limiter: keeps the true (inter-sample) peak of the
// audio it passes at or below a ceiling, changing as little as it can.
//
// Every frame's peak is read eight times oversampled, and as four-times
// meters read it (CPeakInterpolator, the larger, largest over the
// channels); the gain a frame needs is ceiling / peak
// (at most 1). The gain applied is that need taken as the smallest over the
// look-ahead window, released exponentially towards 1, and then averaged
// over the window once more: the average of values that are each at most
// the need of the frame in hand is itself at most that need, so no peak
// passes, and the gain falls as a straight ramp across the look-ahead
// before a peak (the attack) and rises smoothly after it (the release).
//
// The audio leaves delayed by Latency() frames; Flush gives the rest.
#pragma once

#include "common/AudioStream.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace quelvox {

class CPeakLimiter {
public:
    // Look-ahead (and attack ramp) and release time constant.
    static constexpr double kLookAheadSeconds = 0.005;
    static constexpr double kReleaseSeconds = 0.150;

    // Starts limiting `channels` channels (1 … kMaxChannels) at `rate` Hz
    // to `ceiling` (linear, 1.0 = full scale). False for values outside
    // those ranges.
    bool Begin(int channels, int rate, float ceiling);
    bool Started() const { return channels_ > 0; }

    // Takes `frames` frames of `ch` (Begin's channel count) and writes, in
    // place, the frames that leave the limiter; returns their count (fewer
    // than taken while the look-ahead fills, then as many).
    int Process(float* const* ch, int frames);
    // After the last Process: writes at most `capacity` of the frames still
    // held into `ch` and returns their count; 0 once every frame left.
    int Flush(float* const* ch, int capacity);

    int Latency() const { return lookAhead_ - 1 + CPeakInterpolatorHalf(); }
    // The smallest gain applied so far (1: the limiter never acted).
    float SmallestGain() const { return smallest_; }

private:
    static int CPeakInterpolatorHalf();
    // Process without counting the frames as the caller's (Flush's silence).
    int Take(float* const* ch, int frames);
    // Steps the gain computation over `n` frames whose per-frame peaks are
    // in peaks_; writes the frames that leave into `ch`, from `written`.
    int Step(float* const* ch, int n, int written);

    int channels_ = 0;
    int lookAhead_ = 1;
    float ceiling_ = 1.0f;
    float release_ = 0.0f;  // share of the distance to 1 kept per frame
    // Per channel: the detector's last kHistory input samples, then a
    // block's; and the delay line the audio waits in.
    std::vector<std::vector<float>> detect_;
    std::vector<std::vector<float>> delay_;
    size_t delayMask_ = 0;
    std::vector<float> framePeak_, peaks_;
    // Sliding minimum of the needed gains over the look-ahead: (frame, gain)
    // pairs, gains rising from front to back.
    std::deque<std::pair<int64_t, float>> minima_;
    // The released minima of the last lookAhead_ frames and their sum.
    std::vector<float> box_;
    double boxSum_ = 0.0;
    float released_ = 1.0f;
    int64_t taken_ = 0;    // frames taken
    int64_t real_ = 0;     // frames the caller gave
    int64_t left_ = 0;     // frames that left
    float smallest_ = 1.0f;
    std::vector<float> zeros_;
};

}  // namespace quelvox
