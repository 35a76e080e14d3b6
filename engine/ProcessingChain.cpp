#include "engine/ProcessingChain.h"

#include "engine/Normalise.h"
#include "engine/Texts.h"
#include "settings/Settings.h"
#include "common/ChannelMix.h"
#include "common/SampleHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quelvox {

int RenderRateFor(const CSettings& settings, const OutputFormatEntry& format) {
    if (format.code == 5500) return settings.AMRType ? 16000 : 8000;
    if (format.code == 5600) return 16000;
    if (format.AutoEncParam) return 44100;
    return format.SampleRate < 1 ? 44100 : format.SampleRate;
}

namespace {

// rate × ms / 1000 in whole frames, in integers so that no rounding of
// the millisecond factor can lose a frame.
int64_t FramesOfMs(int rate, int ms) { return static_cast<int64_t>(rate) * ms / 1000; }

}  // namespace

int64_t SkipFramesFor(const CSettings& settings, int rate) {
    if (!settings.EnableSkipLength || settings.SkipLength <= 0 || rate < 1) return 0;
    return FramesOfMs(rate, settings.SkipLength);
}

int64_t LengthFramesFor(const CSettings& settings, int rate) {
    if (!settings.EnableConvertLength || settings.ConvertLength <= 0 || rate < 1) return -1;
    return FramesOfMs(rate, settings.ConvertLength);
}

bool CProcessingChain::Setup(const CSettings& settings, const ChainSetup& setup) {
    setup_ = setup;
    ended_ = false;
    in_.Shape(1, 0);
    if (setup.sourceRate < 1 || setup.targetRate < 1 || setup.sourceChannels < 1 ||
        setup.sourceChannels > kMaxChannels || setup.targetChannels < 1 ||
        setup.targetChannels > kMaxChannels)
        return false;

    skipFrames_ = SkipFramesFor(settings, setup.sourceRate);
    lengthFrames_ = LengthFramesFor(settings, setup.sourceRate);
    skipRemaining_ = skipFrames_;
    limiting_ = lengthFrames_ >= 0;
    lengthRemaining_ = limiting_ ? lengthFrames_ : 0;

    // Channels step by step: a wider source folds to stereo for a mono or
    // stereo target; then a stereo source for a mono target gives one
    // channel (kMonoLeft or kMonoRight) or, where the chain may convert, the mix.
    const int monoType = settings.MonoType;
    in_.Shape(setup.sourceChannels, kBlockFrames, setup.sourceLayout, setup.sourceBits);
    const bool wideTarget = setup.targetChannels > 2;
    const uint64_t targetLayout = LayoutChannels(setup.targetLayout) == setup.targetChannels
                                      ? setup.targetLayout
                                      : DefaultLayout(setup.targetChannels);
    const bool byPosition = wideTarget && setup.sourceChannels > 2;
    fold_ = setup.sourceChannels > 2 && !byPosition;
    const int afterFold = fold_ ? 2 : setup.sourceChannels;
    pick_ = afterFold == 2 && setup.targetChannels == 1 && monoType != kMonoMix;
    pickChannel_ = monoType == kMonoRight ? 1 : 0;
    mix_ = afterFold == 2 && setup.targetChannels == 1 && monoType == kMonoMix && setup.allowConversion;
    convChannels_ = (pick_ || mix_) ? 1 : afterFold;
    resample_ = setup.allowConversion && setup.targetRate != setup.sourceRate;
    converterNeeded_ = resample_ || mix_;
    repeat_ = convChannels_ == 1 && setup.targetChannels >= 2;
    outChannels_ = repeat_ ? 2 : convChannels_;
    exact16_ = setup.sourceBits <= 16 && setup.sourceChannels <= 2;
    place_ = wideTarget && !(byPosition && in_.Layout() == targetLayout);
    folded_.Shape(fold_ ? 2 : 1, fold_ ? kBlockFrames : 0);
    inLeft_.assign(kBlockFrames, 0);
    inRight_.assign(setup.sourceChannels == 2 ? kBlockFrames : 0, 0);

    outCapacity_ = kBlockFrames;
    if (resample_) {
        // Any stored value but libresample's picks the default converter.
        const ResamplerKind kind =
            settings.Resampler == kResamplerLibresample ? ResamplerKind::Libresample : ResamplerKind::Sox;
        if (!converter_.ConfigureFloat(convChannels_, setup.targetRate, setup.sourceRate, kind))
            return false;
        outCapacity_ =
            CPcmConverter::OutputFramesFor(setup.targetRate, setup.sourceRate, kBlockFrames);
    }
    out_.Shape(outChannels_, outCapacity_,
               outChannels_ == setup.sourceChannels ? in_.Layout() : 0, setup.sourceBits);
    placed_.Shape(1, 0);
    if (place_) {
        placed_.Shape(setup.targetChannels, outCapacity_, targetLayout, setup.sourceBits);
        PlanPlacement(targetLayout);
    }
    resamplerDrained_ = false;
    limiter_ = CPeakLimiter{};
    if (setup.limitCeiling > 0.0f &&
        !limiter_.Begin(convChannels_, resample_ ? setup.targetRate : setup.sourceRate,
                        setup.limitCeiling))
        return false;
    outLeft_.assign(static_cast<size_t>(outCapacity_), 0);
    outRight_.assign(outChannels_ == 2 ? static_cast<size_t>(outCapacity_) : 0, 0);
    return true;
}

void CProcessingChain::PlanPlacement(uint64_t targetLayout) {
    const ChannelMix mix = PlanChannelMix(out_.Layout(), targetLayout);
    std::memset(placeWeight_, 0, sizeof placeWeight_);
    for (int t = 0; t < mix.targetChannels; ++t)
        for (int c = 0; c < mix.sourceChannels; ++c) placeWeight_[t][c] = mix.weight[t][c];
}

WideChainBlock CProcessingChain::ProcessBlock() {
    WideChainBlock drop;
    drop.action = BlockAction::Drop;
    if (ended_ || in_.Capacity() == 0) {
        ended_ = true;
        return WideChainBlock{};
    }
    // A reader keeps its channel count for the whole stream; a block of
    // another shape cannot be placed and is left out.
    if (in_.Channels() != setup_.sourceChannels) return drop;
    int n = std::clamp(in_.frames, 0, std::min(kBlockFrames, in_.Capacity()));
    if (n == 0) return drop;
    const int sourceChannels = setup_.sourceChannels;

    // Skip: whole blocks are dropped until the count is used up; of the
    // block that crosses it only the tail remains.
    int offset = 0;
    if (skipRemaining_ > 0) {
        skipRemaining_ -= n;
        if (skipRemaining_ >= 0) return drop;
        const int keep = static_cast<int>(-skipRemaining_);
        skipRemaining_ = 0;
        offset = n - keep;
        n = keep;
    }

    // Length limit, counted in source frames after the skipped part.
    bool last = false;
    if (limiting_) {
        if (lengthRemaining_ <= 0) {
            ended_ = true;
            return WideChainBlock{};
        }
        if (lengthRemaining_ > n) {
            lengthRemaining_ -= n;
        } else {
            n = static_cast<int>(lengthRemaining_);
            lengthRemaining_ = 0;
            last = true;
        }
    }

    // Nothing to change: the writer takes the reader's block as it is.
    if (offset == 0 && !fold_ && !pick_ && !mix_ && !resample_ && !repeat_ && !place_ &&
        setup_.gain == 1.0f && !limiter_.Started()) {
        in_.frames = n;
        WideChainBlock b;
        b.action = BlockAction::Write;
        b.block = &in_;
        b.last = last;
        return b;
    }

    // Channels: the source's, folded to stereo, then picked or mixed.
    const float* ch[kMaxChannels] = {};
    for (int c = 0; c < sourceChannels; ++c) ch[c] = in_.Channel(c) + offset;
    if (fold_) {
        const int whole = in_.frames;
        in_.frames = offset + n;
        FoldToStereo(in_, folded_.Channel(0), folded_.Channel(1));
        in_.frames = whole;
        ch[0] = folded_.Channel(0) + offset;
        ch[1] = folded_.Channel(1) + offset;
    }
    float* out0 = out_.Channel(0);
    if (pick_) {
        ch[0] = ch[pickChannel_];
    } else if (mix_) {
        const float* l = ch[0];
        const float* r = ch[1];
        if (exact16_) {
            // (L + R) >> 1 on the 16-bit values: L + R is exact in float,
            // and half of it floored is the arithmetic shift.
            for (int i = 0; i < n; ++i)
                out0[i] = std::floor((l[i] + r[i]) * 16384.0f) * (1.0f / 32768.0f);
        } else {
            for (int i = 0; i < n; ++i) out0[i] = (l[i] + r[i]) * 0.5f;
        }
        ch[0] = out0;
    }

    if (resample_) {
        float* outs[kMaxChannels] = {};
        for (int c = 0; c < convChannels_; ++c) outs[c] = out_.Channel(c);
        n = converter_.ProcessFloat(ch, n, outs, outCapacity_);
        if (n <= 0) {
            drop.last = last;
            return drop;
        }
        QuantiseResampled(n);
    } else {
        for (int c = 0; c < convChannels_; ++c)
            if (ch[c] != out_.Channel(c))
                std::memcpy(out_.Channel(c), ch[c], static_cast<size_t>(n) * sizeof(float));
    }
    WideChainBlock b = Finish(n);
    b.last = last;
    return b;
}

WideChainBlock CProcessingChain::DrainBlock() {
    float* outs[kMaxChannels] = {};
    for (int c = 0; c < convChannels_; ++c) outs[c] = out_.Channel(c);
    while (resample_ && !resamplerDrained_) {
        const int n = converter_.FlushFloat(outs, outCapacity_);
        if (n <= 0) {
            resamplerDrained_ = true;
            break;
        }
        QuantiseResampled(n);
        const WideChainBlock b = Finish(n);
        // Frames the limiter keeps in its look-ahead leave with its own
        // drain below.
        if (b.action == BlockAction::Write) return b;
    }
    if (!limiter_.Started()) return WideChainBlock{};
    const int n = limiter_.Flush(outs, outCapacity_);
    if (n <= 0) return WideChainBlock{};
    return Deliver(n);
}

void CProcessingChain::QuantiseResampled(int frames) {
    if (!exact16_) return;
    for (int c = 0; c < convChannels_; ++c) {
        float* v = out_.Channel(c);
        for (int i = 0; i < frames; ++i) {
            // Clamped to -1 … 1, times 32767, truncated toward zero.
            const float x = std::clamp(v[i], -1.0f, 1.0f) * 32767.0f;
            const int q = std::isnan(x) ? 0 : static_cast<int>(x);
            v[i] = static_cast<float>(q) * (1.0f / 32768.0f);
        }
    }
}

WideChainBlock CProcessingChain::Finish(int frames) {
    // The gain applies once to every channel the writer receives; a
    // repeated channel is scaled before it is repeated.
    if (setup_.gain != 1.0f && frames > 0) {
        for (int c = 0; c < convChannels_; ++c) {
            float* v = out_.Channel(c);
            if (exact16_ && setup_.gridGain) {
                // On the 16-bit values: the product truncated toward zero
                // and clamped, as integer samples always were.
                ScaleOnSixteenBitGrid(v, frames, setup_.gain);
            } else {
                const float gf = setup_.gain;
                for (int i = 0; i < frames; ++i) v[i] *= gf;
            }
        }
    }
    if (limiter_.Started()) {
        float* chans[kMaxChannels] = {};
        for (int c = 0; c < convChannels_; ++c) chans[c] = out_.Channel(c);
        frames = limiter_.Process(chans, frames);
        if (frames <= 0) {
            WideChainBlock drop;
            drop.action = BlockAction::Drop;
            return drop;
        }
    }
    return Deliver(frames);
}

WideChainBlock CProcessingChain::Deliver(int frames) {
    if (repeat_)
        std::memcpy(out_.Channel(1), out_.Channel(0), static_cast<size_t>(frames) * sizeof(float));
    out_.frames = frames;
    WideChainBlock b;
    b.action = BlockAction::Write;
    b.block = &out_;
    if (place_) {
        for (int t = 0; t < placed_.Channels(); ++t) {
            float* to = placed_.Channel(t);
            std::fill_n(to, frames, 0.0f);
            for (int c = 0; c < outChannels_; ++c) {
                const float w = placeWeight_[t][c];
                if (w == 0.0f) continue;
                const float* from = out_.Channel(c);
                if (w == 1.0f) {
                    for (int i = 0; i < frames; ++i) to[i] += from[i];
                } else {
                    for (int i = 0; i < frames; ++i) to[i] += from[i] * w;
                }
            }
        }
        placed_.frames = frames;
        b.block = &placed_;
    }
    return b;
}

ChainBlock CProcessingChain::Process(int frames) {
    if (in_.Capacity() == 0) {
        ended_ = true;
        return ChainBlock{};
    }
    const int n = std::clamp(frames, 0, kBlockFrames);
    Int16ToBlock(inLeft_.data(), setup_.sourceChannels == 2 ? inRight_.data() : nullptr, n, in_);
    return ToInt16(ProcessBlock());
}

ChainBlock CProcessingChain::Drain() { return ToInt16(DrainBlock()); }

ChainBlock CProcessingChain::ToInt16(const WideChainBlock& wide) {
    ChainBlock b;
    b.action = wide.action;
    b.last = wide.last;
    if (wide.action != BlockAction::Write) return b;
    const AudioBlock& block = *wide.block;
    const auto n = static_cast<size_t>(block.frames);
    for (size_t i = 0; i < n; ++i) outLeft_[i] = FloatToInt16(block.Channel(0)[i]);
    b.left = outLeft_.data();
    if (outChannels_ == 2) {
        if (repeat_ && !converterNeeded_) {
            // A mono source written as stereo without conversion hands the
            // same buffer twice.
            b.right = b.left;
        } else {
            for (size_t i = 0; i < n; ++i) outRight_[i] = FloatToInt16(block.Channel(1)[i]);
            b.right = outRight_.data();
        }
    }
    b.frames = block.frames;
    return b;
}

CPassProgress::CPassProgress(IProgress& progress, const char* format, std::string fileName,
                             uint64_t total)
    : progress_(progress),
      format_(format),
      fileName_(std::move(fileName)),
      total_(total ? total : 1),
      percentStep_(total_ / 100 ? total_ / 100 : 1),
      showsText_(progress.ShowsText()) {
    Show(0, 0);
}

void CPassProgress::Update(uint64_t position) {
    const uint64_t percent = std::min<uint64_t>(position / percentStep_, 100);
    if (static_cast<int>(percent) > shown_) Show(static_cast<int>(percent), position);
}

void CPassProgress::Complete() {
    if (shown_ != 100) Show(100, total_);
}

void CPassProgress::Show(int percent, uint64_t position) {
    shown_ = percent;
    progress_.SetFileProgress(std::min(position, total_), total_);
    if (!showsText_) return;
    progress_.SetFileText(EngineText(format_, percent, fileName_));
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace quelvox
