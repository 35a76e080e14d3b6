#include "engine/ProcessingChain.h"

#include "engine/Normalise.h"
#include "engine/Texts.h"
#include "settings/Settings.h"

#include <algorithm>
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
    if (setup.sourceRate < 1 || setup.targetRate < 1 ||
        (setup.sourceChannels != 1 && setup.sourceChannels != 2) ||
        (setup.targetChannels != 1 && setup.targetChannels != 2))
        return false;

    skipFrames_ = SkipFramesFor(settings, setup.sourceRate);
    lengthFrames_ = LengthFramesFor(settings, setup.sourceRate);
    skipRemaining_ = skipFrames_;
    limiting_ = lengthFrames_ >= 0;
    lengthRemaining_ = limiting_ ? lengthFrames_ : 0;

    const int monoType = settings.MonoType;
    pick_ = setup.sourceChannels > setup.targetChannels && monoType > 0;
    const int pickedChannels = pick_ ? 1 : setup.sourceChannels;
    converterNeeded_ =
        setup.allowConversion && (setup.targetRate != setup.sourceRate ||
                                  (setup.sourceChannels > setup.targetChannels && monoType == 0));

    inLeft_.assign(kBlockFrames, 0);
    inRight_.assign(setup.sourceChannels == 2 ? kBlockFrames : 0, 0);
    int16_t* pickedBuffer = (pick_ && monoType == 2) ? inRight_.data() : inLeft_.data();

    if (converterNeeded_) {
        // Any stored value but libresample's picks the default converter.
        const ResamplerKind kind =
            settings.Resampler == 1 ? ResamplerKind::Libresample : ResamplerKind::Sox;
        if (!converter_.Configure(PcmFormat{setup.targetRate, setup.targetChannels, 16},
                                  PcmFormat{setup.sourceRate, pickedChannels, 16}, kind))
            return false;
        outCapacity_ =
            CPcmConverter::OutputFramesFor(setup.targetRate, setup.sourceRate, kBlockFrames);
        outLeft_.assign(outCapacity_, 0);
        outRight_.assign(setup.targetChannels == 2 ? outCapacity_ : 0, 0);
        convLeft_ = pickedBuffer;
        convRight_ = pickedChannels == 2 ? inRight_.data() : nullptr;
        writerLeft_ = outLeft_.data();
        writerRight_ = setup.targetChannels == 2 ? outRight_.data() : nullptr;
    } else {
        outCapacity_ = 0;
        outLeft_.clear();
        outRight_.clear();
        convLeft_ = convRight_ = nullptr;
        writerLeft_ = pickedBuffer;
        if (pick_)
            writerRight_ = nullptr;
        else if (setup.sourceChannels == 2)
            writerRight_ = inRight_.data();
        else
            writerRight_ = setup.targetChannels == 2 ? inLeft_.data() : nullptr;
    }
    return true;
}

ChainBlock CProcessingChain::Process(int frames) {
    ChainBlock drop;
    drop.action = BlockAction::Drop;
    if (ended_ || inLeft_.empty()) {
        ended_ = true;
        return ChainBlock{};
    }
    int n = std::clamp(frames, 0, kBlockFrames);
    if (n == 0) return drop;

    // Skip: whole blocks are dropped until the count is used up; of the
    // block that crosses it only the tail remains.
    if (skipRemaining_ > 0) {
        skipRemaining_ -= n;
        if (skipRemaining_ >= 0) return drop;
        const int keep = static_cast<int>(-skipRemaining_);
        skipRemaining_ = 0;
        std::memmove(inLeft_.data(), inLeft_.data() + (n - keep), keep * sizeof(int16_t));
        if (setup_.sourceChannels == 2)
            std::memmove(inRight_.data(), inRight_.data() + (n - keep), keep * sizeof(int16_t));
        n = keep;
    }

    // Length limit, counted in source frames after the skipped part.
    bool last = false;
    if (limiting_) {
        if (lengthRemaining_ <= 0) {
            ended_ = true;
            return ChainBlock{};
        }
        if (lengthRemaining_ > n) {
            lengthRemaining_ -= n;
        } else {
            n = static_cast<int>(lengthRemaining_);
            lengthRemaining_ = 0;
            last = true;
        }
    }

    if (converterNeeded_) {
        n = converter_.Process(convLeft_, convRight_, n, writerLeft_, writerRight_, outCapacity_);
        if (n <= 0) {
            drop.last = last;
            return drop;
        }
    }
    ChainBlock b = Finish(n);
    b.last = last;
    return b;
}

ChainBlock CProcessingChain::Drain() {
    if (!converterNeeded_) return ChainBlock{};
    const int n = converter_.Flush(writerLeft_, writerRight_, outCapacity_);
    if (n <= 0) return ChainBlock{};
    return Finish(n);
}

ChainBlock CProcessingChain::Finish(int frames) {
    // A mono source written as stereo hands the same buffer twice: scale it
    // once.
    if (setup_.gain != 1.0f) {
        const bool twoBuffers = writerRight_ && writerRight_ != writerLeft_;
        ApplyGain(writerLeft_, twoBuffers ? writerRight_ : nullptr, frames, twoBuffers ? 2 : 1,
                  setup_.gain);
    }
    ChainBlock b;
    b.action = BlockAction::Write;
    b.left = writerLeft_;
    b.right = writerRight_;
    b.frames = frames;
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
