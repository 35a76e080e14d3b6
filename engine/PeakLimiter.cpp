#include "engine/PeakLimiter.h"

#include "engine/TruePeakMeter.h"

#include <algorithm>
#include <cmath>

namespace quelvox {

namespace {

// Frames the detector and the delay line take at once.
constexpr int kChunk = 1024;

}  // namespace

int CPeakLimiter::CPeakInterpolatorHalf() { return CPeakInterpolator::kHalf; }

bool CPeakLimiter::Begin(int channels, int rate, float ceiling) {
    channels_ = 0;
    if (channels < 1 || channels > kMaxChannels || rate < 1 || !(ceiling > 0.0f) ||
        !std::isfinite(ceiling))
        return false;
    ceiling_ = ceiling;
    lookAhead_ = std::max(1, static_cast<int>(std::lround(kLookAheadSeconds * rate)));
    release_ = static_cast<float>(std::exp(-1.0 / (kReleaseSeconds * rate)));
    const auto latency = static_cast<size_t>(lookAhead_ - 1 + CPeakInterpolator::kHalf);
    size_t size = 1;
    while (size < latency + kChunk + 1) size *= 2;
    delayMask_ = size - 1;
    detect_.assign(static_cast<size_t>(channels),
                   std::vector<float>(static_cast<size_t>(CPeakInterpolator::kHistory + kChunk), 0.0f));
    delay_.assign(static_cast<size_t>(channels), std::vector<float>(size, 0.0f));
    framePeak_.assign(kChunk, 0.0f);
    peaks_.assign(kChunk, 0.0f);
    minima_.clear();
    // Before the first frame the gain is 1.
    box_.assign(static_cast<size_t>(lookAhead_), 1.0f);
    boxSum_ = lookAhead_;
    released_ = 1.0f;
    taken_ = real_ = left_ = 0;
    smallest_ = 1.0f;
    channels_ = channels;
    return true;
}

int CPeakLimiter::Process(float* const* ch, int frames) {
    if (!Started() || frames <= 0) return 0;
    real_ += frames;
    return Take(ch, frames);
}

int CPeakLimiter::Take(float* const* ch, int frames) {
    int written = 0;
    for (int start = 0; start < frames; start += kChunk) {
        const int m = std::min(kChunk, frames - start);
        const auto count = static_cast<size_t>(m);
        std::fill_n(peaks_.begin(), count, 0.0f);
        for (size_t c = 0; c < static_cast<size_t>(channels_); ++c) {
            const float* in = ch[c] + start;
            std::vector<float>& d = detect_[c];
            float* x = d.data() + CPeakInterpolator::kHistory;
            std::copy(in, in + m, x);
            std::vector<float>& line = delay_[c];
            for (size_t i = 0; i < count; ++i)
                line[(static_cast<size_t>(taken_) + i) & delayMask_] = in[i];
            SharedPeakInterpolator(true).Run(x, m, framePeak_.data());
            for (size_t i = 0; i < count; ++i) peaks_[i] = std::max(peaks_[i], framePeak_[i]);
            // The last samples stay as the next chunk's history.
            std::copy(x + m - CPeakInterpolator::kHistory, x + m, d.begin());
        }
        taken_ += m;
        written = Step(ch, m, written);
    }
    return written;
}

int CPeakLimiter::Step(float* const* ch, int n, int written) {
    const int64_t firstTaken = taken_ - n;
    for (int i = 0; i < n; ++i) {
        // The peak read with frame firstTaken + i belongs to the frame
        // kHalf before it.
        const int64_t s = firstTaken + i - CPeakInterpolator::kHalf;
        if (s < 0) continue;
        const float peak = peaks_[static_cast<size_t>(i)];
        const float need = peak > ceiling_ ? ceiling_ / peak : 1.0f;
        while (!minima_.empty() && minima_.back().second >= need) minima_.pop_back();
        minima_.emplace_back(s, need);
        while (minima_.front().first <= s - lookAhead_) minima_.pop_front();
        const float smallest = minima_.front().second;
        released_ = std::min(smallest, 1.0f - (1.0f - released_) * release_);
        float& slot = box_[static_cast<size_t>(s % lookAhead_)];
        boxSum_ += static_cast<double>(released_) - slot;
        slot = released_;
        const int64_t k = s - (lookAhead_ - 1);
        if (k < 0) continue;
        const float gain = std::min(1.0f, static_cast<float>(boxSum_ / lookAhead_));
        if (k < real_) smallest_ = std::min(smallest_, gain);
        const size_t at = static_cast<size_t>(k) & delayMask_;
        for (size_t c = 0; c < static_cast<size_t>(channels_); ++c)
            ch[c][written] = delay_[c][at] * gain;
        ++written;
        left_ = k + 1;
    }
    return written;
}

int CPeakLimiter::Flush(float* const* ch, int capacity) {
    if (!Started() || capacity <= 0) return 0;
    // Frames still held: those taken by Process less those that left. The
    // delay line is fed silence until they have left too.
    const int64_t held = real_ - left_;
    if (held <= 0) return 0;
    const int feed = std::min(capacity, kChunk);
    for (int c = 0; c < channels_; ++c) std::fill_n(ch[c], feed, 0.0f);
    const int64_t before = left_;
    Take(ch, feed);
    return static_cast<int>(std::min<int64_t>(left_ - before, held));
}

}  // namespace quelvox
