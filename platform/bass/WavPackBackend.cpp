// WavPack through libwavpack, delivered as signed 16-bit samples.
//
// libwavpack returns each sample right-justified in 32 bits according to
// the stored byte width; integer samples are shifted to 16 bits (the top 16
// kept), float samples are normalised to +/-1.0 by the library and
// converted with clamping. Wide delivery (GetFloatFrames) keeps every
// channel: integer samples at their stored width (s / 2^(bits-1)), float
// samples as the library gives them (NaN as 0).
#include "platform/bass/Backends.h"

#include "common/AudioBlock.h"
#include "common/SampleHelpers.h"
#include "common/TagSpans.h"

#include <wavpack/wavpack.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace quelvox::bass {

namespace {

struct ContextCloser {
    void operator()(WavpackContext* c) const { WavpackCloseFile(c); }
};
using Context = std::unique_ptr<WavpackContext, ContextCloser>;

constexpr int kOpenFlags = OPEN_WVC | OPEN_NORMALIZE;

Context OpenContext(const std::string& path) {
    char error[128] = {};
    return Context(WavpackOpenFileInput(path.c_str(), error, kOpenFlags, 0));
}

class CWavPackChannel : public CChannel {
public:
    CWavPackChannel(Context c, uint64_t frames, int64_t fileSize, std::string path)
        : c_(std::move(c)),
          rate_(static_cast<int>(WavpackGetSampleRate(c_.get()))),
          channels_(WavpackGetNumChannels(c_.get())),
          bytesPerSample_(WavpackGetBytesPerSample(c_.get())),
          isFloat_((WavpackGetMode(c_.get()) & MODE_FLOAT) != 0),
          channelMask_(static_cast<uint32_t>(WavpackGetChannelMask(c_.get()))),
          frames_(frames),
          fileSize_(fileSize),
          path_(std::move(path)) {}

    uint64_t GetLength() const override { return frames_ * FrameBytes(); }
    ChannelInfo GetInfo() const override { return {rate_, channels_, 0}; }
    int64_t GetFilePositionEnd() const override { return fileSize_; }
    uint64_t GetPosition() const override { return delivered_ * FrameBytes(); }
    TagInfo ReadTags() const override { return ReadFileTags(path_, TagCodePage()); }

    int GetData(void* buffer, uint32_t bytes) override {
        uint32_t want = static_cast<uint32_t>(bytes / FrameBytes());
        if (want == 0) return -1;
        scratch_.resize(static_cast<size_t>(want) * channels_);
        uint32_t got = WavpackUnpackSamples(c_.get(), scratch_.data(), want);
        if (got == 0) return -1;
        auto* out = static_cast<int16_t*>(buffer);
        const size_t n = static_cast<size_t>(got) * channels_;
        for (size_t i = 0; i < n; ++i) out[i] = ToSample16(scratch_[i]);
        delivered_ += got;
        return static_cast<int>(static_cast<uint64_t>(got) * FrameBytes());
    }

    // Samples are stored right-justified in whole bytes, so the byte width
    // is the depth they arrive at (a 20-bit source arrives as 24 bits).
    bool SourceFloat() const override { return isFloat_; }
    int SourceBits() const override {
        if (isFloat_) return 32;
        return bytesPerSample_ <= 2 ? 16 : bytesPerSample_ * 8;
    }

    // The channel mask uses the positions of WAVE_FORMAT_EXTENSIBLE, which
    // are FFmpeg's mask bits; channels are stored in the order of its bits.
    std::vector<uint64_t> ChannelPositions() const override {
        if (std::popcount(channelMask_) != channels_) return {};
        std::vector<uint64_t> positions;
        for (uint32_t m = channelMask_; m != 0; m &= m - 1) positions.push_back(m & (~m + 1));
        return positions;
    }

    int GetFloatFrames(float* buffer, int frames) override {
        if (frames <= 0) return -1;
        scratch_.resize(static_cast<size_t>(frames) * static_cast<size_t>(channels_));
        const uint32_t got =
            WavpackUnpackSamples(c_.get(), scratch_.data(), static_cast<uint32_t>(frames));
        if (got == 0) return -1;
        const size_t n = static_cast<size_t>(got) * static_cast<size_t>(channels_);
        if (isFloat_) {
            for (size_t i = 0; i < n; ++i) {
                float f;
                std::memcpy(&f, &scratch_[i], sizeof f);
                buffer[i] = SaneFloatSample(f);
            }
        } else if (bytesPerSample_ <= 2) {
            // Exactly GetData's samples.
            for (size_t i = 0; i < n; ++i) buffer[i] = Int16ToFloat(ToSample16(scratch_[i]));
        } else {
            const int bits = bytesPerSample_ * 8;
            for (size_t i = 0; i < n; ++i) buffer[i] = IntToFloat(scratch_[i], bits);
        }
        delivered_ += got;
        return static_cast<int>(got);
    }

private:
    uint64_t FrameBytes() const { return static_cast<uint64_t>(channels_) * 2; }

    int16_t ToSample16(int32_t v) const {
        if (isFloat_) {
            float f;
            std::memcpy(&f, &v, sizeof f);
            return FloatToSample16(f);
        }
        switch (bytesPerSample_) {
            case 1: return static_cast<int16_t>(v * 256);
            case 2: return ClipSample(v);
            case 3: return static_cast<int16_t>(v >> 8);
            default: return static_cast<int16_t>(v >> 16);
        }
    }

    Context c_;
    int rate_;
    int channels_;
    int bytesPerSample_;
    bool isFloat_;
    uint32_t channelMask_;
    uint64_t frames_;
    int64_t fileSize_;
    std::string path_;
    uint64_t delivered_ = 0;
    std::vector<int32_t> scratch_;
};

}  // namespace

std::unique_ptr<CChannel> OpenWavPackStream(const std::string& path) {
    Context c = OpenContext(path);
    if (!c) return nullptr;
    const int channels = WavpackGetNumChannels(c.get());
    if (channels <= 0 || WavpackGetSampleRate(c.get()) == 0) return nullptr;
    const int bytesPerSample = WavpackGetBytesPerSample(c.get());
    if (bytesPerSample < 1 || bytesPerSample > 4) return nullptr;

    int64_t frames = WavpackGetNumSamples64(c.get());
    if (frames < 0) {
        // A stream written without its length: count the samples once and
        // open the file again to decode it.
        std::vector<int32_t> scratch(4096 * static_cast<size_t>(channels));
        frames = 0;
        for (uint32_t got; (got = WavpackUnpackSamples(c.get(), scratch.data(), 4096)) > 0;)
            frames += got;
        c = OpenContext(path);
        if (!c) return nullptr;
    }

    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    int64_t fileSize = ec ? -1 : static_cast<int64_t>(size);
    return std::make_unique<CWavPackChannel>(std::move(c), static_cast<uint64_t>(frames),
                                             AudioDataBytes(path, fileSize),
                                             path);
}

}  // namespace quelvox::bass
