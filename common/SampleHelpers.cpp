#include "common/SampleHelpers.h"

#include "common/ChannelMix.h"

#include <array>
#include <bit>
#include <cmath>

namespace quelvox {

namespace {

using namespace channel;

// The weights of each stored channel of one frame layout in its fold.
struct FrameFold {
    int channels = 0;
    float left[kMaxChannels] = {};
    float right[kMaxChannels] = {};
};

// The fold of frames whose stored channels sit at `positions` (one mask bit
// each, all different).
FrameFold PlanFrameFold(const uint64_t* positions, int n) {
    uint64_t layout = 0;
    for (int k = 0; k < n; ++k) layout |= positions[k];
    const ChannelMix mix = PlanStereoFold(layout);
    FrameFold f;
    f.channels = n;
    for (int k = 0; k < n; ++k) {
        // The mix counts channels in the layout's order.
        const int index = std::popcount(layout & (positions[k] - 1));
        f.left[k] = mix.weight[0][index];
        f.right[k] = mix.weight[1][index];
    }
    return f;
}

FrameFold PlanDefaultFold(int n) {
    uint64_t positions[kMaxChannels] = {};
    for (int k = 0; k < n; ++k) positions[k] = ChannelAt(DefaultLayout(n), k);
    return PlanFrameFold(positions, n);
}

// Each side's weighted sum, rounded to the nearest integer: equal channels
// fold to their own value, as the wide fold (rounded by the writer) does.
// The weights of a side add up to at most 1, so the clamp only guards
// rounding.
void Fold(const FrameFold& f, const int16_t* s, int16_t* left, int16_t* right) {
    double l = 0.0, r = 0.0;
    for (int k = 0; k < f.channels; ++k) {
        l += static_cast<double>(f.left[k]) * s[k];
        r += static_cast<double>(f.right[k]) * s[k];
    }
    *left = ClipSample(static_cast<int64_t>(std::lround(l)));
    *right = ClipSample(static_cast<int64_t>(std::lround(r)));
}

// The folds of the default orders of 3 … 8 channels, planned once.
const FrameFold* DefaultFold(int n) {
    static const std::array<FrameFold, kMaxChannels + 1> kFolds = [] {
        std::array<FrameFold, kMaxChannels + 1> folds{};
        for (int k = 3; k <= kMaxChannels; ++k) folds[static_cast<size_t>(k)] = PlanDefaultFold(k);
        return folds;
    }();
    if (n < 3 || n > kMaxChannels) return nullptr;
    return &kFolds[static_cast<size_t>(n)];
}

}  // namespace

void DownmixToStereo(int n, const int16_t* s, int16_t* left, int16_t* right) {
    const FrameFold* f = DefaultFold(n);
    if (!f) {
        *left = s[0];
        *right = s[1];
        return;
    }
    Fold(*f, s, left, right);
}

void DownmixVorbis51(const int16_t* s, int16_t* left, int16_t* right) {
    static const FrameFold kFold = [] {
        const uint64_t order[6] = {kFrontLeft, kFrontCenter, kFrontRight,
                                   kBackLeft,  kBackRight,   kLowFrequency};
        return PlanFrameFold(order, 6);
    }();
    Fold(kFold, s, left, right);
}

void DownmixAac51(const int16_t* s, int16_t* left, int16_t* right) {
    static const FrameFold kFold = [] {
        const uint64_t order[6] = {kFrontCenter, kFrontLeft, kFrontRight,
                                   kBackLeft,    kBackRight, kLowFrequency};
        return PlanFrameFold(order, 6);
    }();
    Fold(kFold, s, left, right);
}

void DownmixMp4Mpeg51(const int16_t* s, int16_t* left, int16_t* right) {
    static const FrameFold kFold = [] {
        const uint64_t order[6] = {kFrontLeft,   kFrontRight, kBackLeft,
                                   kBackRight,   kFrontCenter, kLowFrequency};
        return PlanFrameFold(order, 6);
    }();
    Fold(kFold, s, left, right);
}

}  // namespace quelvox
