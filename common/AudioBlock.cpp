#include "common/AudioBlock.h"

#include <algorithm>
#include <iterator>

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

void Int16ToBlock(const int16_t* left, const int16_t* right, int frames, AudioBlock& block) {
    const int channels = right ? 2 : 1;
    if (block.Channels() != channels || block.Capacity() < frames)
        block.Shape(channels, std::max(frames, block.Capacity()), 0, block.SourceBits());
    const int n = std::clamp(frames, 0, block.Capacity());
    float* l = block.Channel(0);
    for (int i = 0; i < n; ++i) l[i] = Int16ToFloat(left[i]);
    if (right) {
        float* r = block.Channel(1);
        for (int i = 0; i < n; ++i) r[i] = Int16ToFloat(right[i]);
    }
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
    std::fill_n(left, n, 0.0f);
    std::fill_n(right, n, 0.0f);
    for (int c = 0; c < in.Channels(); ++c) {
        const StereoWeights w = FoldWeights(ChannelAt(in.Layout(), c));
        const float* s = in.Channel(c);
        if (w.left != 0.0f)
            for (int i = 0; i < n; ++i) left[i] += s[i] * w.left;
        if (w.right != 0.0f)
            for (int i = 0; i < n; ++i) right[i] += s[i] * w.right;
    }
}

}  // namespace quelvox
