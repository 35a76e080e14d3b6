// Channel, bit-depth and sample-rate conversion of planar PCM blocks.
//
// Equal rates convert between 8-bit unsigned and 16-bit signed samples and
// between mono and stereo (a mono target takes (L + R) >> 1, a stereo
// target repeats the one channel). Different rates go through one of two
// resamplers: by default the SoX resampler (soxr, high quality, through
// libswresample), which is many times faster; or libresample, one
// high-quality resampler per output channel, which keeps the outputs of
// earlier versions. A stereo source for a mono target is mixed before
// resampling.
//
// The resamplers keep a filter delay: at the end of a stream the caller
// drains them with Flush until it returns 0, so that the output is as long
// as the input times the rate ratio (within one frame). Input that a
// resampler did not take because the output was full is kept and used by
// the next call, so nothing is lost whatever the output capacity.
//
// Buffers are planar, one per channel: int16_t samples for 16 bits, uint8_t
// for 8 bits. The float interface (ConfigureFloat, ProcessFloat,
// FlushFloat) resamples 1 … kMaxChannels planar float channels as they
// are, leaving channel changes to the caller. Work buffers only grow; a
// converter serves one stream.
#pragma once

#include "common/AudioStream.h"

#include <cstdint>
#include <vector>

struct SwrContext;

namespace quelvox {

// The sample-rate converter behind CPcmConverter; the values are stored
// settings.
enum class ResamplerKind : int {
    Sox = 0,          // soxr through libswresample
    Libresample = 1,  // libresample's high-quality filter
};

class CPcmConverter {
public:
    CPcmConverter() = default;
    virtual ~CPcmConverter();
    CPcmConverter(const CPcmConverter&) = delete;
    CPcmConverter& operator=(const CPcmConverter&) = delete;

    // Stores both formats and, when the rates differ, opens the resamplers
    // (a second one for a stereo target). False when a format is invalid
    // (rate < 1, channels not 1 or 2, bits not 8 or 16) or a resampler could
    // not be opened; the converter then produces nothing.
    bool Configure(const PcmFormat& target, const PcmFormat& source,
                   ResamplerKind kind = ResamplerKind::Sox);

    // Frames an output buffer must hold for one call with `inputFrames`
    // frames of input: (target rate / source rate, integer division, + 1)
    // per input frame.
    static int OutputFramesFor(int targetRate, int sourceRate, int inputFrames);

    // Converts `frames` frames. `rightIn` is read only for a stereo source;
    // `rightOut` is written only for a stereo target. At most `maxOutFrames`
    // frames are written; returns the number written.
    int Process(const void* leftIn, const void* rightIn, int frames, void* leftOut, void* rightOut,
                int maxOutFrames);

    // Drains the resamplers at the end of the stream: call until it returns
    // 0. Returns 0 at once when the rates are equal.
    int Flush(void* leftOut, void* rightOut, int maxOutFrames);

    // Float streams of `channels` channels (1 … kMaxChannels), resampled
    // from `sourceRate` to `targetRate` (equal rates copy). False for an
    // invalid rate or channel count or a resampler that could not be opened.
    bool ConfigureFloat(int channels, int targetRate, int sourceRate,
                        ResamplerKind kind = ResamplerKind::Sox);
    // Resamples `frames` frames of every channel of `in` into `out` (at most
    // `maxOutFrames` frames each); returns the frames written.
    int ProcessFloat(const float* const* in, int frames, float* const* out, int maxOutFrames);
    // Drains a float stream: call until it returns 0.
    int FlushFloat(float* const* out, int maxOutFrames);

    bool Resampling() const { return source_.sampleRate != target_.sampleRate; }
    const PcmFormat& Target() const { return target_; }
    const PcmFormat& Source() const { return source_; }

private:
    void Reset();
    // Resamples the pending input of every channel (lastFlag at the end of
    // the stream) into the outputs; returns the frame count.
    int Resample(bool last, void* leftOut, void* rightOut, int maxOutFrames);
    // The two resamplers' steps: float output frames into floatOut*_.
    int ResampleLibresample(bool last, int limit);
    int ResampleSox(bool last, int limit);
    // Resamples the pending input into floatOut_; returns the frame count.
    int ResampleCore(bool last, int maxOutFrames);
    void AppendFloat(int channel, const void* in, int frames);
    void FloatToOut(const float* in, int frames, void* out) const;

    PcmFormat target_;
    PcmFormat source_;
    // Channel count entering the resamplers (1 after a stereo-to-mono mix).
    int resampleChannels_ = 0;
    ResamplerKind kind_ = ResamplerKind::Sox;
    void* resamplers_[kMaxChannels] = {};  // libresample, one per channel
    SwrContext* sox_ = nullptr;            // every channel
    double factor_ = 1.0;

    // Bit-depth and mix work buffers, one set per sample width.
    std::vector<int16_t> bits16Left_, bits16Right_, mix16_;
    std::vector<uint8_t> bits8Left_, bits8Right_, mix8_;
    // Input the resamplers have not taken yet, as floats (the same count
    // for every channel).
    std::vector<float> pending_[kMaxChannels];
    int pendingCount_ = 0;
    // Resampler output.
    std::vector<float> floatOut_[kMaxChannels];

    // Frames fed to and taken from the resamplers over the whole stream;
    // the drain stops at input × ratio, rounded.
    int64_t framesIn_ = 0;
    int64_t framesOut_ = 0;
    bool drained_ = false;
};

}  // namespace quelvox
