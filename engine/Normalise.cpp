#include "engine/Normalise.h"
#include "engine/Texts.h"

#include "engine/ReaderFactory.h"
#include "engine/CueTracks.h"
#include "engine/ConversionContext.h"
#include "common/FileEntry.h"
#include "engine/EncoderParams.h"
#include "engine/ProcessingChain.h"
#include "common/AudioBlock.h"
#include "common/FormatCatalogue.h"
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

float NormalisationGain(float minimum, float maximum) {
    if (!(minimum >= -32762.0f && minimum <= -1.0f && maximum >= 1.0f && maximum <= 32761.0f))
        return -1.0f;
    return std::min(32767.0f / maximum, 32768.0f / -minimum);
}

int MeasurePeaks(ConversionContext& ctx, const FileEntry& source, const OutputFormatEntry& format,
                 int& audioFound, float& minimum, float& maximum) {
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

    const int blockChannels = reader->GetBlockChannels();
    const int sourceBits = reader->GetSourceBits();
    const bool wide = sourceBits > 16 || blockChannels > 2;
    // A source of more channels is measured as the target receives it:
    // each channel when it keeps them, else their fold to stereo.
    bool fold = false;
    if (blockChannels > 2) {
        ResolvedParams params;
        fold = !(format.writer == WriterKind::FFmpeg &&
                 ResolveEncoderParams(format, reader->GetSampleRate(), 2, params) &&
                 ResolveWideTarget(format, params.channels, blockChannels, sourceBits).channels >
                     2);
    }
    const bool stereo = reader->GetOutputChannels() == 2;
    std::vector<int16_t> left(wide ? 0 : kBlockFrames), right(stereo && !wide ? kBlockFrames : 0);
    std::vector<float> foldLeft(fold ? kBlockFrames : 0), foldRight(fold ? kBlockFrames : 0);
    AudioBlock block;
    const uint64_t total = reader->GetTotal() ? reader->GetTotal() : 1;
    const FileEntry& shown = ctx.state.currentEntry ? *ctx.state.currentEntry : source;
    CPassProgress progress(ctx.progress, kNormalisingPass, FileNameOf(shown.Path), total);
    const bool stopAtTotal = source.InputType == 3000 || source.InputType == 3050;

    int16_t lo = 0, hi = 0;
    float wideLo = 0.0f, wideHi = 0.0f;
    auto measure = [&](const float* s, int frames) {
        for (int i = 0; i < frames; ++i) {
            wideLo = std::min(wideLo, s[i]);
            wideHi = std::max(wideHi, s[i]);
        }
    };
    bool anyBlock = false;
    bool cancelled = false;
    uint64_t blocks = 0;
    for (;;) {
        int frames = wide ? reader->ReadBlock(block)
                          : reader->Read(left.data(), stereo ? right.data() : nullptr);
        if (frames <= 0) break;
        frames = std::min(frames, kBlockFrames);
        anyBlock = true;
        const uint64_t position = reader->GetPosition();
        if (wide && fold) {
            block.frames = frames;
            FoldToStereo(block, foldLeft.data(), foldRight.data());
            measure(foldLeft.data(), frames);
            measure(foldRight.data(), frames);
        } else if (wide) {
            for (int c = 0; c < block.Channels(); ++c) measure(block.Channel(c), frames);
        } else {
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
    minimum = wide ? wideLo * 32768.0f : lo;
    maximum = wide ? wideHi * 32768.0f : hi;
    return anyBlock && !cancelled ? 1 : 0;
}

}  // namespace quelvox
