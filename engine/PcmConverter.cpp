#include "engine/PcmConverter.h"

#include <libresample.h>

#include <algorithm>
#include <cstring>

namespace quelvox {

namespace {

bool ValidFormat(const PcmFormat& f) {
    return f.sampleRate >= 1 && (f.channels == 1 || f.channels == 2) &&
           (f.bitsPerSample == 8 || f.bitsPerSample == 16);
}

template <typename T>
T* Grow(std::vector<T>& v, size_t count) {
    if (v.size() < count) v.resize(count);
    return v.data();
}

// (L + R) >> 1 with an arithmetic shift; for unsigned bytes the same on the
// byte values.
void Mix16(const int16_t* l, const int16_t* r, int n, int16_t* out) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<int16_t>((l[i] + r[i]) >> 1);
}

void Mix8(const uint8_t* l, const uint8_t* r, int n, uint8_t* out) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((l[i] + r[i]) >> 1);
}

void To16(const uint8_t* in, int n, int16_t* out) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<int16_t>((in[i] - 128) * 256);
}

void To8(const int16_t* in, int n, uint8_t* out) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((in[i] >> 8) + 128);
}

}  // namespace

CPcmConverter::~CPcmConverter() { Reset(); }

void CPcmConverter::Reset() {
    if (resamplerLeft_) resample_close(resamplerLeft_);
    if (resamplerRight_) resample_close(resamplerRight_);
    resamplerLeft_ = nullptr;
    resamplerRight_ = nullptr;
    pendingLeftCount_ = pendingRightCount_ = 0;
    framesIn_ = framesOut_ = 0;
    drained_ = false;
    factor_ = 1.0;
}

bool CPcmConverter::Configure(const PcmFormat& target, const PcmFormat& source) {
    Reset();
    target_ = target;
    source_ = source;
    if (!ValidFormat(target) || !ValidFormat(source)) {
        target_ = source_ = PcmFormat{};
        return false;
    }
    resampleChannels_ = (target.channels == 1) ? 1 : source.channels;
    if (target.sampleRate == source.sampleRate) return true;

    factor_ = static_cast<double>(target.sampleRate) / source.sampleRate;
    resamplerLeft_ = resample_open(1, factor_, factor_);
    if (target.channels == 2) resamplerRight_ = resample_open(1, factor_, factor_);
    if (!resamplerLeft_ || (target.channels == 2 && !resamplerRight_)) {
        Reset();
        return false;
    }
    return true;
}

int CPcmConverter::OutputFramesFor(int targetRate, int sourceRate, int inputFrames) {
    if (sourceRate < 1 || inputFrames < 0) return 0;
    return (targetRate / sourceRate + 1) * inputFrames;
}

int CPcmConverter::Process(const void* leftIn, const void* rightIn, int frames,
                           void* leftOut, void* rightOut, int maxOutFrames) {
    if (frames <= 0 || maxOutFrames <= 0 || source_.sampleRate < 1) return 0;
    const bool stereoIn = source_.channels == 2;
    const bool stereoOut = target_.channels == 2;

    if (!Resampling()) {
        const int n = std::min(frames, maxOutFrames);
        const void* l = leftIn;
        const void* r = stereoIn ? rightIn : nullptr;
        if (source_.bitsPerSample != target_.bitsPerSample) {
            if (source_.bitsPerSample == 8) {
                To16(static_cast<const uint8_t*>(l), n, Grow(bits16Left_, n));
                l = bits16Left_.data();
                if (r) {
                    To16(static_cast<const uint8_t*>(r), n, Grow(bits16Right_, n));
                    r = bits16Right_.data();
                }
            } else {
                To8(static_cast<const int16_t*>(l), n, Grow(bits8Left_, n));
                l = bits8Left_.data();
                if (r) {
                    To8(static_cast<const int16_t*>(r), n, Grow(bits8Right_, n));
                    r = bits8Right_.data();
                }
            }
        }
        if (stereoOut && !stereoIn) {
            r = l;
        } else if (!stereoOut && stereoIn) {
            if (target_.bitsPerSample == 16) {
                Mix16(static_cast<const int16_t*>(l), static_cast<const int16_t*>(r), n,
                      Grow(mix16_, n));
                l = mix16_.data();
            } else {
                Mix8(static_cast<const uint8_t*>(l), static_cast<const uint8_t*>(r), n,
                     Grow(mix8_, n));
                l = mix8_.data();
            }
        }
        const size_t bytes = static_cast<size_t>(n) * (target_.bitsPerSample / 8);
        std::memmove(leftOut, l, bytes);
        if (stereoOut && rightOut) std::memmove(rightOut, r, bytes);
        return n;
    }

    if (!resamplerLeft_ || drained_) return 0;
    if (stereoIn && !stereoOut) {
        // Mix first; the resampler then sees a mono source.
        if (source_.bitsPerSample == 16) {
            Mix16(static_cast<const int16_t*>(leftIn), static_cast<const int16_t*>(rightIn),
                  frames, Grow(mix16_, frames));
            AppendFloat(pendingLeft_, pendingLeftCount_, mix16_.data(), frames);
        } else {
            Mix8(static_cast<const uint8_t*>(leftIn), static_cast<const uint8_t*>(rightIn),
                 frames, Grow(mix8_, frames));
            AppendFloat(pendingLeft_, pendingLeftCount_, mix8_.data(), frames);
        }
    } else {
        AppendFloat(pendingLeft_, pendingLeftCount_, leftIn, frames);
        if (resampleChannels_ == 2)
            AppendFloat(pendingRight_, pendingRightCount_, rightIn, frames);
    }
    framesIn_ += frames;
    return Resample(false, leftOut, rightOut, maxOutFrames);
}

int CPcmConverter::Flush(void* leftOut, void* rightOut, int maxOutFrames) {
    if (!Resampling() || !resamplerLeft_ || drained_ || maxOutFrames <= 0) return 0;
    return Resample(true, leftOut, rightOut, maxOutFrames);
}

void CPcmConverter::AppendFloat(std::vector<float>& pending, int& count, const void* in,
                                int frames) {
    float* dst = Grow(pending, static_cast<size_t>(count) + frames) + count;
    if (source_.bitsPerSample == 16) {
        const int16_t* s = static_cast<const int16_t*>(in);
        for (int i = 0; i < frames; ++i) dst[i] = s[i] * (1.0f / 32768.0f);
    } else {
        const uint8_t* s = static_cast<const uint8_t*>(in);
        for (int i = 0; i < frames; ++i) dst[i] = (s[i] - 128) * (1.0f / 128.0f);
    }
    count += frames;
}

void CPcmConverter::FloatToOut(const float* in, int frames, void* out) const {
    if (target_.bitsPerSample == 16) {
        int16_t* d = static_cast<int16_t*>(out);
        for (int i = 0; i < frames; ++i) {
            const float v = std::clamp(in[i], -1.0f, 1.0f);
            d[i] = static_cast<int16_t>(v * 32767.0f);
        }
    } else {
        uint8_t* d = static_cast<uint8_t*>(out);
        for (int i = 0; i < frames; ++i) {
            const float v = std::clamp(in[i], -1.0f, 1.0f);
            d[i] = static_cast<uint8_t>(static_cast<int>(v * 127.0f) + 128);
        }
    }
}

int CPcmConverter::Resample(bool last, void* leftOut, void* rightOut, int maxOutFrames) {
    // Output never runs past input × ratio, so a drained stream is exactly
    // as long as its source (rounded to the nearest frame).
    const int64_t expected =
        (framesIn_ * target_.sampleRate + source_.sampleRate / 2) / source_.sampleRate;
    const int64_t room = expected - framesOut_;
    if (room <= 0) {
        if (last) drained_ = true;
        return 0;
    }
    const int limit = static_cast<int>(std::min<int64_t>(room, maxOutFrames));

    // The library takes its output capacity as a count of floats.
    float* outL = Grow(floatOutLeft_, limit);
    Grow(pendingLeft_, 1);
    int usedL = 0;
    int n = resample_process(resamplerLeft_, factor_, pendingLeft_.data(), pendingLeftCount_,
                             last ? 1 : 0, &usedL, outL, limit);
    n = std::clamp(n, 0, limit);
    usedL = std::clamp(usedL, 0, pendingLeftCount_);
    std::memmove(pendingLeft_.data(), pendingLeft_.data() + usedL,
                 static_cast<size_t>(pendingLeftCount_ - usedL) * sizeof(float));
    pendingLeftCount_ -= usedL;

    if (resampleChannels_ == 2) {
        float* outR = Grow(floatOutRight_, limit);
        Grow(pendingRight_, 1);
        int usedR = 0;
        int nr = resample_process(resamplerRight_, factor_, pendingRight_.data(),
                                  pendingRightCount_, last ? 1 : 0, &usedR, outR, limit);
        usedR = std::clamp(usedR, 0, pendingRightCount_);
        std::memmove(pendingRight_.data(), pendingRight_.data() + usedR,
                     static_cast<size_t>(pendingRightCount_ - usedR) * sizeof(float));
        pendingRightCount_ -= usedR;
        // Both resamplers see the same amounts, so they deliver the same
        // counts; guard anyway.
        n = std::min(n, std::clamp(nr, 0, limit));
    }

    FloatToOut(outL, n, leftOut);
    if (target_.channels == 2 && rightOut) {
        if (resampleChannels_ == 2)
            FloatToOut(floatOutRight_.data(), n, rightOut);
        else
            std::memmove(rightOut, leftOut,
                         static_cast<size_t>(n) * (target_.bitsPerSample / 8));
    }
    framesOut_ += n;
    if (last && n == 0) drained_ = true;
    return n;
}

}  // namespace quelvox
