#include "engine/PcmConverter.h"

#include <libresample.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

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
    swr_free(&sox_);
    resamplerLeft_ = nullptr;
    resamplerRight_ = nullptr;
    pendingLeftCount_ = pendingRightCount_ = 0;
    framesIn_ = framesOut_ = 0;
    drained_ = false;
    factor_ = 1.0;
}

namespace {

// A soxr resampler for planar floats, `channels` wide; null on failure.
SwrContext* OpenSox(int channels, int targetRate, int sourceRate) {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLTP, targetRate, &layout,
                            AV_SAMPLE_FMT_FLTP, sourceRate, 0, nullptr) < 0)
        return nullptr;
    // soxr at 20 bits of precision: its "high quality" setting.
    if (av_opt_set_int(swr, "resampler", SWR_ENGINE_SOXR, 0) < 0 ||
        av_opt_set_double(swr, "precision", 20.0, 0) < 0 || swr_init(swr) < 0)
        swr_free(&swr);
    return swr;
}

}  // namespace

bool CPcmConverter::Configure(const PcmFormat& target, const PcmFormat& source,
                              ResamplerKind kind) {
    Reset();
    kind_ = kind;
    target_ = target;
    source_ = source;
    if (!ValidFormat(target) || !ValidFormat(source)) {
        target_ = source_ = PcmFormat{};
        return false;
    }
    resampleChannels_ = (target.channels == 1) ? 1 : source.channels;
    if (target.sampleRate == source.sampleRate) return true;

    factor_ = static_cast<double>(target.sampleRate) / source.sampleRate;
    if (kind == ResamplerKind::Sox) {
        sox_ = OpenSox(resampleChannels_, target.sampleRate, source.sampleRate);
        if (!sox_) {
            Reset();
            return false;
        }
        return true;
    }
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

int CPcmConverter::Process(const void* leftIn, const void* rightIn, int frames, void* leftOut,
                           void* rightOut, int maxOutFrames) {
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

    if ((!resamplerLeft_ && !sox_) || drained_) return 0;
    if (stereoIn && !stereoOut) {
        // Mix first; the resampler then sees a mono source.
        if (source_.bitsPerSample == 16) {
            Mix16(static_cast<const int16_t*>(leftIn), static_cast<const int16_t*>(rightIn), frames,
                  Grow(mix16_, frames));
            AppendFloat(pendingLeft_, pendingLeftCount_, mix16_.data(), frames);
        } else {
            Mix8(static_cast<const uint8_t*>(leftIn), static_cast<const uint8_t*>(rightIn), frames,
                 Grow(mix8_, frames));
            AppendFloat(pendingLeft_, pendingLeftCount_, mix8_.data(), frames);
        }
    } else {
        AppendFloat(pendingLeft_, pendingLeftCount_, leftIn, frames);
        if (resampleChannels_ == 2) AppendFloat(pendingRight_, pendingRightCount_, rightIn, frames);
    }
    framesIn_ += frames;
    return Resample(false, leftOut, rightOut, maxOutFrames);
}

int CPcmConverter::Flush(void* leftOut, void* rightOut, int maxOutFrames) {
    if (!Resampling() || (!resamplerLeft_ && !sox_) || drained_ || maxOutFrames <= 0) return 0;
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
    const int n =
        kind_ == ResamplerKind::Sox ? ResampleSox(last, limit) : ResampleLibresample(last, limit);
    FloatToOut(floatOutLeft_.data(), n, leftOut);
    if (target_.channels == 2 && rightOut) {
        if (resampleChannels_ == 2)
            FloatToOut(floatOutRight_.data(), n, rightOut);
        else
            std::memmove(rightOut, leftOut, static_cast<size_t>(n) * (target_.bitsPerSample / 8));
    }
    framesOut_ += n;
    if (last && n == 0) drained_ = true;
    return n;
}

int CPcmConverter::ResampleLibresample(bool last, int limit) {
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

    return n;
}

int CPcmConverter::ResampleSox(bool last, int limit) {
    // Input goes in only as far as its output fits in `limit` frames (the
    // rest stays pending): the resampler's own buffering grows with what it
    // holds, and a small output room would otherwise make it copy ever more.
    // At the end, once every pending frame is in, a call without input
    // drains it.
    float* outs[2] = {Grow(floatOutLeft_, limit), Grow(floatOutRight_, limit)};
    auto* out = reinterpret_cast<uint8_t**>(outs);
    for (;;) {
        if (last && pendingLeftCount_ == 0)
            return std::clamp(swr_convert(sox_, out, limit, nullptr, 0), 0, limit);
        const int64_t held = swr_get_delay(sox_, target_.sampleRate);
        const int64_t fits = (limit - held) * source_.sampleRate / target_.sampleRate;
        const int feed =
            static_cast<int>(std::clamp<int64_t>(fits, last ? 1 : 0, pendingLeftCount_));
        const float* ins[2] = {Grow(pendingLeft_, 1), Grow(pendingRight_, 1)};
        const int n = swr_convert(sox_, out, limit, reinterpret_cast<const uint8_t**>(ins), feed);
        for (auto [pending, count] : {std::pair{&pendingLeft_, &pendingLeftCount_},
                                      std::pair{&pendingRight_, &pendingRightCount_}}) {
            const int used = std::min(feed, *count);
            std::memmove(pending->data(), pending->data() + used,
                         static_cast<size_t>(*count - used) * sizeof(float));
            *count -= used;
        }
        // Until the end, a call may give nothing (the filter's delay); at
        // the end, keep feeding until output comes.
        if (n != 0 || !last) return std::clamp(n, 0, limit);
    }
}

}  // namespace quelvox
