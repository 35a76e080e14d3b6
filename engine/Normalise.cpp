#include "engine/Normalise.h"
#include "engine/Texts.h"

#include "engine/ReaderFactory.h"
#include "engine/CueTracks.h"
#include "engine/ConversionContext.h"
#include "common/FileEntry.h"
#include "engine/ProcessingChain.h"
#include "common/SampleHelpers.h"
#include "settings/Settings.h"

#include <algorithm>
#include <vector>

namespace quelvox {

namespace {

void Scale(int16_t* buffer, int frames, float gain) {
    const double g = gain;
    for (int i = 0; i < frames; ++i)
        buffer[i] = static_cast<int16_t>(ClampToInt(buffer[i] * g, -32768, 32767));
}

}  // namespace

void ApplyGain(int16_t* left, int16_t* right, int frames, int channels, float gain) {
    if (frames <= 0) return;
    if (left) Scale(left, frames, gain);
    if (channels == 2 && right && right != left) Scale(right, frames, gain);
}

float SelectGain(const CSettings& settings, float normalisationGain) {
    if (settings.VolumeType == 0) return normalisationGain > 0.0f ? normalisationGain : 1.0f;
    if (settings.VolumeType == 1 && settings.Volume != 100)
        return static_cast<float>(settings.Volume) * 0.01f;
    return 1.0f;
}

float NormalisationGain(int16_t minimum, int16_t maximum) {
    if (minimum < -32762 || minimum > -1 || maximum < 1 || maximum > 32761) return -1.0f;
    return std::min(32767.0f / static_cast<float>(maximum),
                    32768.0f / static_cast<float>(-minimum));
}

int MeasurePeaks(ConversionContext& ctx, const FileEntry& source, const OutputFormatEntry& format,
                 int& audioFound, int16_t& minimum, int16_t& maximum) {
    minimum = 0;
    maximum = 0;
    const int renderRate = RenderRateFor(ctx.settings, format);
    std::unique_ptr<CAudioReader> reader =
        CreateEntryReader(ctx.readers, ctx.state, source, renderRate, true, audioFound);
    if (!reader) return 0;
    if (reader->GetSampleRate() < 1) {
        audioFound = 0;
        reader->Close();
        return 0;
    }

    const bool stereo = reader->GetOutputChannels() == 2;
    std::vector<int16_t> left(kBlockFrames), right(stereo ? kBlockFrames : 0);
    const uint64_t total = reader->GetTotal() ? reader->GetTotal() : 1;
    const FileEntry& shown = ctx.state.currentEntry ? *ctx.state.currentEntry : source;
    CPassProgress progress(ctx.progress, kNormalisingPass, FileNameOf(shown.Path), total);
    const bool stopAtTotal = source.InputType == 3000 || source.InputType == 3050;

    int16_t lo = 0, hi = 0;
    bool anyBlock = false;
    bool cancelled = false;
    uint64_t blocks = 0;
    for (;;) {
        int frames = reader->Read(left.data(), stereo ? right.data() : nullptr);
        if (frames <= 0) break;
        frames = std::min(frames, kBlockFrames);
        anyBlock = true;
        const uint64_t position = reader->GetPosition();
        for (int i = 0; i < frames; ++i) {
            lo = std::min(lo, left[i]);
            hi = std::max(hi, left[i]);
        }
        if (stereo) {
            for (int i = 0; i < frames; ++i) {
                lo = std::min(lo, right[i]);
                hi = std::max(hi, right[i]);
            }
        }
        if (blocks++ % 3 == 0) {
            progress.Update(position);
            ctx.progress.Pump();
            if (ctx.progress.IsCancelled()) {
                cancelled = true;
                break;
            }
        }
        if (stopAtTotal && position >= total) break;
    }
    if (!cancelled) progress.Complete();
    reader->Close();
    minimum = lo;
    maximum = hi;
    return anyBlock && !cancelled ? 1 : 0;
}

}  // namespace quelvox
