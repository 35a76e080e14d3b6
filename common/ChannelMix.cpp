#include "common/ChannelMix.h"

#include <algorithm>
#include <bit>

namespace quelvox {

using namespace channel;

namespace {

constexpr float kCentreWeight = 0.707f;

// The other surround position of the same side (side for back, back for
// side), or 0.
uint64_t OtherSurround(uint64_t position) {
    switch (position) {
        case kSideLeft: return kBackLeft;
        case kSideRight: return kBackRight;
        case kBackLeft: return kSideLeft;
        case kBackRight: return kSideRight;
        default: return 0;
    }
}

// Index of `position` among `layout`'s channels, or -1.
int IndexIn(uint64_t layout, uint64_t position) {
    if (!(layout & position)) return -1;
    return std::popcount(layout & (position - 1));
}

}  // namespace

ChannelMix PlanChannelMix(uint64_t from, uint64_t to) {
    ChannelMix mix;
    mix.sourceChannels = std::min(LayoutChannels(from), kMaxChannels);
    mix.targetChannels = std::min(LayoutChannels(to), kMaxChannels);
    auto add = [&](uint64_t position, int s, float w) {
        const int t = IndexIn(to, position);
        if (t >= 0 && t < kMaxChannels) mix.weight[t][s] += w;
        return t >= 0;
    };
    for (int s = 0; s < mix.sourceChannels; ++s) {
        const uint64_t p = ChannelAt(from, s);
        if (add(p, s, 1.0f)) continue;
        if (const uint64_t other = OtherSurround(p); other && (to & other)) {
            add(other, s, (from & other) ? kCentreWeight : 1.0f);
            continue;
        }
        if (p == kBackCenter) {
            const uint64_t pair = (to & kBackLeft) && (to & kBackRight)   ? kBackLeft | kBackRight
                                  : (to & kSideLeft) && (to & kSideRight) ? kSideLeft | kSideRight
                                                                          : 0;
            if (pair) {
                add(ChannelAt(pair, 0), s, kCentreWeight);
                add(ChannelAt(pair, 1), s, kCentreWeight);
                continue;
            }
        }
        const StereoWeights w = FoldWeights(p);
        if (w.left != 0.0f) add(kFrontLeft, s, w.left);
        if (w.right != 0.0f) add(kFrontRight, s, w.right);
    }
    // One factor for every weight, so that no target channel can exceed
    // full scale.
    float most = 0.0f;
    for (int t = 0; t < mix.targetChannels; ++t) {
        float sum = 0.0f;
        for (int s = 0; s < mix.sourceChannels; ++s) sum += mix.weight[t][s];
        most = std::max(most, sum);
    }
    if (most > 1.0f)
        for (auto& row : mix.weight)
            for (float& w : row) w /= most;
    return mix;
}

ChannelMix PlanStereoFold(uint64_t layout) {
    if (LayoutChannels(layout) == 1) {
        // Mono reaches both sides as it is.
        ChannelMix mix;
        mix.sourceChannels = 1;
        mix.targetChannels = 2;
        mix.weight[0][0] = mix.weight[1][0] = 1.0f;
        return mix;
    }
    return PlanChannelMix(layout, kStereo);
}

uint64_t ClosestLayout(uint64_t wanted, int channels, const uint64_t* candidates, int count) {
    // Side positions count as the back ones of their side.
    auto alike = [](uint64_t layout) {
        uint64_t m = layout & ~(kSideLeft | kSideRight);
        if (layout & kSideLeft) m |= kBackLeft;
        if (layout & kSideRight) m |= kBackRight;
        return m;
    };
    uint64_t best = 0;
    int bestScore = -1;
    for (int i = 0; i < count; ++i) {
        const uint64_t c = candidates[i];
        if (LayoutChannels(c) != channels) continue;
        // Exact positions first, then those alike.
        const int score = 2 * std::popcount(c & wanted) + std::popcount(alike(c) & alike(wanted));
        if (score > bestScore) {
            best = c;
            bestScore = score;
        }
    }
    return best;
}

}  // namespace quelvox
