#include "common/AudioStream.h"

#include <algorithm>

namespace quelvox {

int CAudioReader::ReadBlock(AudioBlock& block) {
    const bool stereo = GetOutputChannels() == 2;
    adaptLeft_.resize(kBlockFrames);
    adaptRight_.resize(stereo ? kBlockFrames : 0);
    const int frames = Read(adaptLeft_.data(), stereo ? adaptRight_.data() : nullptr);
    const int width = stereo ? 2 : 1;
    block.Shape(width, kBlockFrames, 0, 16);
    if (frames <= 0) {
        block.frames = 0;
        return frames;
    }
    const int n = std::min(frames, kBlockFrames);
    Int16ToBlock(adaptLeft_.data(), stereo ? adaptRight_.data() : nullptr, n, block);
    return n;
}

int CAudioWriter::WriteBlock(const AudioBlock& block) {
    const int n = block.frames;
    if (n <= 0) return 0;
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
    CountClipped(left, n, 16);
    if (right) CountClipped(right, n, 16);
    if (adaptLeft_.size() < size) adaptLeft_.resize(size);
    if (right && adaptRight_.size() < size) adaptRight_.resize(size);
    if (DithersTo(block, 16)) {
        CTpdfDither& noise = Dither();
        for (size_t i = 0; i < size; ++i) {
            adaptLeft_[i] = static_cast<int16_t>(FloatToIntDithered(left[i], 16, noise));
            if (right)
                adaptRight_[i] = static_cast<int16_t>(FloatToIntDithered(right[i], 16, noise));
        }
    } else {
        FloatsToInt16s(left, n, adaptLeft_.data(), 1);
        if (right) FloatsToInt16s(right, n, adaptRight_.data(), 1);
    }
    return Write(adaptLeft_.data(), right ? adaptRight_.data() : nullptr, n);
}

}  // namespace quelvox
