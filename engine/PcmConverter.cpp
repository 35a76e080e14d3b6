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
    for (void*& r : resamplers_) {
        if (r) resample_close(r);
        r = nullptr;
    }
    swr_free(&sox_);
    pendingCount_ = 0;
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
    for (int c = 0; c < resampleChannels_; ++c) {
        resamplers_[c] = resample_open(1, factor_, factor_);
        if (!resamplers_[c]) {
            Reset();
            return false;
        }
    }
    return true;
}

bool CPcmConverter::ConfigureFloat(int channels, int targetRate, int sourceRate,
                                   ResamplerKind kind) {
    // Float streams are described as 32-bit; Process and Flush refuse them.
    const bool valid = channels >= 1 && channels <= kMaxChannels && targetRate >= 1 &&
                       sourceRate >= 1;
    Reset();
    kind_ = kind;
    target_ = source_ = PcmFormat{};
    if (!valid) return false;
    target_ = PcmFormat{targetRate, channels, 32};
    source_ = PcmFormat{sourceRate, channels, 32};
    resampleChannels_ = channels;
    if (targetRate == sourceRate) return true;
    factor_ = static_cast<double>(targetRate) / sourceRate;
    if (kind == ResamplerKind::Sox) {
        sox_ = OpenSox(channels, targetRate, sourceRate);
        if (sox_) return true;
        Reset();
        target_ = source_ = PcmFormat{};
        return false;
    }
    for (int c = 0; c < channels; ++c) {
        resamplers_[c] = resample_open(1, factor_, factor_);
        if (!resamplers_[c]) {
            Reset();
            target_ = source_ = PcmFormat{};
            return false;
        }
    }
    return true;
}

int CPcmConverter::OutputFramesFor(int targetRate, int sourceRate, int inputFrames) {
    if (sourceRate < 1 || inputFrames < 0) return 0;
    return (targetRate / sourceRate + 1) * inputFrames;
}

int CPcmConverter::Process(const void* leftIn, const void* rightIn, int frames, void* leftOut,
                           void* rightOut, int maxOutFrames) {
    if (frames <= 0 || maxOutFrames <= 0 || source_.sampleRate < 1 ||
        source_.bitsPerSample == 32)
        return 0;
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

    if ((!resamplers_[0] && !sox_) || drained_) return 0;
    if (stereoIn && !stereoOut) {
        // Mix first; the resampler then sees a mono source.
        if (source_.bitsPerSample == 16) {
            Mix16(static_cast<const int16_t*>(leftIn), static_cast<const int16_t*>(rightIn), frames,
                  Grow(mix16_, frames));
            AppendFloat(0, mix16_.data(), frames);
        } else {
            Mix8(static_cast<const uint8_t*>(leftIn), static_cast<const uint8_t*>(rightIn), frames,
                 Grow(mix8_, frames));
            AppendFloat(0, mix8_.data(), frames);
        }
    } else {
        AppendFloat(0, leftIn, frames);
        if (resampleChannels_ == 2) AppendFloat(1, rightIn, frames);
    }
    pendingCount_ += frames;
    framesIn_ += frames;
    return Resample(false, leftOut, rightOut, maxOutFrames);
}

int CPcmConverter::Flush(void* leftOut, void* rightOut, int maxOutFrames) {
    if (!Resampling() || (!resamplers_[0] && !sox_) || drained_ || maxOutFrames <= 0 ||
        source_.bitsPerSample == 32)
        return 0;
    return Resample(true, leftOut, rightOut, maxOutFrames);
}

int CPcmConverter::ProcessFloat(const float* const* in, int frames, float* const* out,
                                int maxOutFrames) {
    if (frames <= 0 || maxOutFrames <= 0 || source_.bitsPerSample != 32) return 0;
    const auto channels = static_cast<size_t>(resampleChannels_);
    if (!Resampling()) {
        const int n = std::min(frames, maxOutFrames);
        for (size_t c = 0; c < channels; ++c)
            if (out[c] != in[c]) std::memmove(out[c], in[c], static_cast<size_t>(n) * sizeof(float));
        return n;
    }
    if ((!resamplers_[0] && !sox_) || drained_) return 0;
    const size_t count = static_cast<size_t>(pendingCount_);
    for (size_t c = 0; c < channels; ++c)
        std::memcpy(Grow(pending_[c], count + static_cast<size_t>(frames)) + count, in[c],
                    static_cast<size_t>(frames) * sizeof(float));
    pendingCount_ += frames;
    framesIn_ += frames;
    const int n = ResampleCore(false, maxOutFrames);
    // Nothing out yet (a source of a few samples): the buffers may be empty.
    for (size_t c = 0; n > 0 && c < channels; ++c)
        std::memcpy(out[c], floatOut_[c].data(), static_cast<size_t>(n) * sizeof(float));
    return n;
}

int CPcmConverter::FlushFloat(float* const* out, int maxOutFrames) {
    if (!Resampling() || (!resamplers_[0] && !sox_) || drained_ || maxOutFrames <= 0 ||
        source_.bitsPerSample != 32)
        return 0;
    const int n = ResampleCore(true, maxOutFrames);
    for (int c = 0; n > 0 && c < resampleChannels_; ++c)
        std::memcpy(out[c], floatOut_[c].data(), static_cast<size_t>(n) * sizeof(float));
    return n;
}

void CPcmConverter::AppendFloat(int channel, const void* in, int frames) {
    float* dst = Grow(pending_[channel], static_cast<size_t>(pendingCount_) +
                                             static_cast<size_t>(frames)) +
                 pendingCount_;
    if (source_.bitsPerSample == 16) {
        const int16_t* s = static_cast<const int16_t*>(in);
        for (int i = 0; i < frames; ++i) dst[i] = s[i] * (1.0f / 32768.0f);
    } else {
        const uint8_t* s = static_cast<const uint8_t*>(in);
        for (int i = 0; i < frames; ++i) dst[i] = (s[i] - 128) * (1.0f / 128.0f);
    }
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
    const int n = ResampleCore(last, maxOutFrames);
    FloatToOut(floatOut_[0].data(), n, leftOut);
    if (target_.channels == 2 && rightOut) {
        if (resampleChannels_ == 2)
            FloatToOut(floatOut_[1].data(), n, rightOut);
        else
            std::memmove(rightOut, leftOut, static_cast<size_t>(n) * (target_.bitsPerSample / 8));
    }
    return n;
}

int CPcmConverter::ResampleCore(bool last, int maxOutFrames) {
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
    framesOut_ += n;
    if (last && n == 0) drained_ = true;
    return n;
}

int CPcmConverter::ResampleLibresample(bool last, int limit) {
    // Every channel's resampler sees the same amounts, so they take and
    // deliver the same counts; the smallest is kept anyway.
    int n = limit;
    int used = pendingCount_;
    for (int c = 0; c < resampleChannels_; ++c) {
        // The library takes its output capacity as a count of floats.
        float* out = Grow(floatOut_[c], static_cast<size_t>(limit));
        Grow(pending_[c], 1);
        int usedC = 0;
        const int got = resample_process(resamplers_[c], factor_, pending_[c].data(),
                                         pendingCount_, last ? 1 : 0, &usedC, out, limit);
        n = std::min(n, std::clamp(got, 0, limit));
        usedC = std::clamp(usedC, 0, pendingCount_);
        if (c == 0) used = usedC;
        std::memmove(pending_[c].data(), pending_[c].data() + usedC,
                     static_cast<size_t>(pendingCount_ - usedC) * sizeof(float));
    }
    pendingCount_ -= used;
    return n;
}

int CPcmConverter::ResampleSox(bool last, int limit) {
    // Input goes in only as far as its output fits in `limit` frames (the
    // rest stays pending): the resampler's own buffering grows with what it
    // holds, and a small output room would otherwise make it copy ever more.
    // At the end, once every pending frame is in, a call without input
    // drains it.
    float* outs[kMaxChannels] = {};
    const float* ins[kMaxChannels] = {};
    for (int c = 0; c < resampleChannels_; ++c)
        outs[c] = Grow(floatOut_[c], static_cast<size_t>(limit));
    auto* out = reinterpret_cast<uint8_t**>(outs);
    for (;;) {
        if (last && pendingCount_ == 0)
            return std::clamp(swr_convert(sox_, out, limit, nullptr, 0), 0, limit);
        const int64_t held = swr_get_delay(sox_, target_.sampleRate);
        const int64_t fits = (limit - held) * source_.sampleRate / target_.sampleRate;
        const int feed = static_cast<int>(std::clamp<int64_t>(fits, last ? 1 : 0, pendingCount_));
        for (int c = 0; c < resampleChannels_; ++c) ins[c] = Grow(pending_[c], 1);
        const int n = swr_convert(sox_, out, limit, reinterpret_cast<const uint8_t**>(ins), feed);
        const int used = std::min(feed, pendingCount_);
        for (int c = 0; c < resampleChannels_; ++c)
            std::memmove(pending_[c].data(), pending_[c].data() + used,
                         static_cast<size_t>(pendingCount_ - used) * sizeof(float));
        pendingCount_ -= used;
        // Until the end, a call may give nothing (the filter's delay); at
        // the end, keep feeding until output comes.
        if (n != 0 || !last) return std::clamp(n, 0, limit);
    }
}

}  // namespace quelvox
