#include "common/AudioStream.h"

#include <algorithm>

namespace quelvox {

void CInt16Planes::Reserve(size_t frames, bool stereo) {
    if (left_.size() < frames) left_.resize(frames);
    if (stereo && right_.size() < frames) right_.resize(frames);
}

int CInt16Planes::Store(int frames, bool stereo, AudioBlock& block) {
    stereo_ = stereo;
    block.Shape(stereo ? 2 : 1, kBlockFrames, 0, 16);
    if (frames <= 0) {
        block.frames = 0;
        return frames;
    }
    const int n = std::min(frames, kBlockFrames);
    Int16ToBlock(left_.data(), stereo ? right_.data() : nullptr, n, block);
    return n;
}

uint64_t CInt16Planes::Round(const AudioBlock& block, CTpdfDither* dither) {
    const int n = std::max(block.frames, 0);
    const auto size = static_cast<size_t>(n);
    const float* left = block.Channel(0);
    const float* right = block.Channels() >= 2 ? block.Channel(1) : nullptr;
    if (block.Channels() > 2) {
        if (foldLeft_.size() < size) {
            foldLeft_.resize(size);
            foldRight_.resize(size);
        }
        FoldToStereo(block, foldLeft_.data(), foldRight_.data());
        left = foldLeft_.data();
        right = foldRight_.data();
    }
    stereo_ = right != nullptr;
    // At least one sample of room, so that Left() is never null.
    Reserve(std::max<size_t>(size, 1), stereo_);
    if (n == 0) return 0;
    uint64_t clipped = CountClipping(left, n, 16);
    if (right) clipped += CountClipping(right, n, 16);
    if (dither) {
        for (size_t i = 0; i < size; ++i) {
            left_[i] = static_cast<int16_t>(FloatToIntDithered(left[i], 16, *dither));
            if (right) right_[i] = static_cast<int16_t>(FloatToIntDithered(right[i], 16, *dither));
        }
    } else {
        FloatsToInt16s(left, n, left_.data(), 1);
        if (right) FloatsToInt16s(right, n, right_.data(), 1);
    }
    return clipped;
}

}  // namespace quelvox
