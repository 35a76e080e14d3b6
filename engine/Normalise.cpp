#include "engine/Normalise.h"
#include "engine/LoudnessMeter.h"
#include "engine/RunState.h"
#include "engine/Texts.h"

#include "engine/ReaderFactory.h"
#include "engine/CueTracks.h"
#include "engine/ConversionContext.h"
#include "common/FileEntry.h"
#include "common/InputType.h"
#include "decoders/FFmpegReader.h"
#include "engine/EncoderParams.h"
#include "engine/ProcessingChain.h"
#include "common/AudioBlock.h"
#include "common/FormatCatalogue.h"
#include "common/SampleHelpers.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace quelvox {

namespace {

// The channels a target receives of a source of one or two channels: a
// mono source written as stereo counts twice in the loudness, a stereo one
// written as mono once.
int ReceivedChannels(const CSettings& settings, const OutputFormatEntry& format, int rate,
                     int channels) {
    switch (SelectWriter(format)) {
        case WriterKind::Amr: return 1;
        case WriterKind::Wma:
            return settings.WMAAutoEncParam ? channels : settings.WMAChannels == 1 ? 1 : 2;
        case WriterKind::FFmpeg: break;
    }
    ResolvedParams params;
    if (ResolveEncoderParams(format, rate, channels, params) && params.channels >= 1 &&
        params.channels <= 2)
        return params.channels;
    return channels;
}

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

float SelectGain(const CSettings& settings, float normalisationGain, float loudnessGain) {
    if (settings.VolumeType == kVolumeNormalise)
        return normalisationGain > 0.0f ? normalisationGain : 1.0f;
    if (settings.VolumeType == kVolumeLoudness) return loudnessGain > 0.0f ? loudnessGain : 1.0f;
    if (settings.VolumeType == kVolumeFixed && settings.Volume != 100)
        return static_cast<float>(settings.Volume) * 0.01f;
    return 1.0f;
}

float NormalisationGain(float minimum, float maximum) {
    if (!(minimum >= -32762.0f && minimum <= -1.0f && maximum >= 1.0f && maximum <= 32761.0f))
        return -1.0f;
    return std::min(32767.0f / maximum, 32768.0f / -minimum);
}

int MeasurePeaks(ConversionContext& ctx, const FileEntry& source, const OutputFormatEntry& format,
                 int& audioFound, float& minimum, float& maximum, CLoudnessMeter* meter) {
    minimum = 0;
    maximum = 0;
    const int renderRate = RenderRateFor(ctx.settings, format);
    std::unique_ptr<CAudioReader> reader =
        CreateEntryReader(ctx.readers, ctx.pass, source, renderRate, true, audioFound);
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
        fold =
            !(format.writer == WriterKind::FFmpeg &&
              ResolveEncoderParams(format, reader->GetSampleRate(), 2, params, blockChannels) &&
              ResolveWideTarget(format, params.channels, blockChannels, sourceBits).channels > 2);
    }
    const bool stereo = reader->GetOutputChannels() == 2;
    // The meter takes what the target receives. A target clips a louder
    // sample where the catalogue says (full scale, a lossy encoder's
    // headroom for float sources, nowhere for float PCM), at the file's
    // fixed gain; the loudness gain, chosen from this very measurement,
    // keeps every sample it scales under the ceiling, so nothing is clipped
    // then.
    const float received = format.writer == WriterKind::FFmpeg
                               ? ReceivedSampleLimit(format.CodecID, sourceBits > 16)
                               : 1.0f;
    float meterLimit = 0.0f;  // none
    if (meter && ctx.settings.VolumeType != kVolumeLoudness && std::isfinite(received)) {
        const float gain =
            ctx.settings.VolumeType == kVolumeFixed ? SelectGain(ctx.settings, -1.0f) : 1.0f;
        if (gain > 0.0f) meterLimit = received / gain;
    }
    auto clip = [meterLimit](float* s, int frames) {
        if (meterLimit <= 0.0f) return;
        for (int i = 0; i < frames; ++i) s[i] = std::clamp(s[i], -meterLimit, meterLimit);
    };
    const int writtenChannels =
        fold || wide ? 0
                     : ReceivedChannels(ctx.settings, format, reader->GetSampleRate(), stereo ? 2 : 1);
    std::vector<float> mono(meter && stereo && writtenChannels == 1 ? kBlockFrames : 0);
    if (meter) {
        const int measured = fold ? 2 : wide ? blockChannels : writtenChannels;
        if (!meter->Begin(measured, reader->GetSampleRate(),
                          fold || !wide ? 0 : reader->GetChannelLayout()))
            meter = nullptr;
    }
    std::vector<float> foldLeft(fold ? kBlockFrames : 0), foldRight(fold ? kBlockFrames : 0);
    AudioBlock block;
    const uint64_t total = reader->GetTotal() ? reader->GetTotal() : 1;
    const FileEntry& shown = ctx.currentEntry ? *ctx.currentEntry : source;
    CPassProgress progress(ctx.progress, kNormalisingPass, FileNameOf(shown.Path), total);
    const bool stopAtTotal = source.InputType == 3000 || source.InputType == 3050;

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
        int frames = reader->ReadBlock(block);
        if (frames <= 0) break;
        frames = std::min(frames, kBlockFrames);
        anyBlock = true;
        const uint64_t position = reader->GetPosition();
        if (wide && fold) {
            block.frames = frames;
            FoldToStereo(block, foldLeft.data(), foldRight.data());
            measure(foldLeft.data(), frames);
            measure(foldRight.data(), frames);
            if (meter) {
                clip(foldLeft.data(), frames);
                clip(foldRight.data(), frames);
                const float* ch[2] = {foldLeft.data(), foldRight.data()};
                meter->Add(ch, frames);
            }
        } else if (wide) {
            for (int c = 0; c < block.Channels(); ++c) measure(block.Channel(c), frames);
            if (meter && block.Channels() == blockChannels) {
                const float* ch[kMaxChannels] = {};
                for (int c = 0; c < blockChannels; ++c) {
                    clip(block.Channel(c), frames);
                    ch[c] = block.Channel(c);
                }
                meter->Add(ch, frames);
            }
        } else {
            // Mono or stereo of 16 bits or fewer: samples on the 16-bit
            // grid, metered as they are.
            const float* ch[2] = {block.Channel(0),
                                  block.Channels() >= 2 ? block.Channel(1) : block.Channel(0)};
            measure(ch[0], frames);
            if (stereo) measure(ch[1], frames);
            if (meter && stereo && writtenChannels == 1) {
                // Written as mono: the mix, or the channel picked.
                const int pick = ctx.settings.MonoType;
                for (int i = 0; i < frames; ++i)
                    mono[static_cast<size_t>(i)] = pick == kMonoLeft    ? ch[0][i]
                                                   : pick == kMonoRight ? ch[1][i]
                                                                        : (ch[0][i] + ch[1][i]) * 0.5f;
                const float* one[1] = {mono.data()};
                meter->Add(one, frames);
            } else if (meter) {
                meter->Add(ch, frames);
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
    minimum = wideLo * 32768.0f;
    maximum = wideHi * 32768.0f;
    return anyBlock && !cancelled ? 1 : 0;
}

bool MeasuresLoudness(const CSettings& settings) {
    return settings.VolumeType == kVolumeLoudness || settings.WriteReplayGain != 0;
}

bool MeasuresWritten(const CSettings& settings, const OutputFormatEntry& format) {
    return !IsLosslessCodec(format.CodecID, format.code) &&
           (settings.VolumeType == kVolumeLoudness || settings.WriteReplayGain != 0);
}

bool MeasureWrittenOutput(ConversionContext& ctx, const std::string& path,
                          const std::string& namedAs, LoudnessResult& written) {
    written = LoudnessResult{};
    FileEntry output;
    output.Path = path;
    output.InputType = InputTypeOf(namedAs);
    // FFmpeg's decoder, its float output as it decodes (a lossy encoder's
    // overshoot goes beyond full scale, and players hear it there); the
    // reader chain where FFmpeg cannot read the file.
    std::unique_ptr<CAudioReader> reader;
    {
        auto direct = std::make_unique<CFFmpegReader>();
        direct->KeepLossyFloat();
        if (direct->Open(path, 44100)) reader = std::move(direct);
        else direct->Close();
    }
    if (!reader) {
        // The reader chain's notes on this file are not the source's.
        PassNotes notes;
        int audioFound = 1;
        reader = CreateEntryReader(ctx.readers, notes, output, 44100, true, audioFound);
    }
    if (!reader) return false;
    struct Closer {
        CAudioReader& r;
        ~Closer() { r.Close(); }
    } close{*reader};
    const int channels = reader->GetBlockChannels();
    CLoudnessMeter meter(true);
    if (reader->GetSampleRate() < 1 ||
        !meter.Begin(channels, reader->GetSampleRate(), reader->GetChannelLayout()))
        return false;
    AudioBlock block;
    const float* ch[kMaxChannels] = {};
    for (uint64_t blocks = 0;; ++blocks) {
        const int frames = std::min(reader->ReadBlock(block), kBlockFrames);
        if (frames <= 0) break;
        if (block.Channels() != channels) continue;
        for (int c = 0; c < channels; ++c) ch[c] = block.Channel(c);
        meter.Add(ch, frames);
        if (blocks % 16 == 0) {
            ctx.progress.Pump();
            if (ctx.progress.IsCancelled()) return false;
        }
    }
    written = ResultOf(meter);
    return written.valid && meter.Frames() > 0;
}

bool MeasuresAlbum(const CSettings& settings) {
    return MeasuresLoudness(settings) && settings.LoudnessAlbum != 0;
}

bool MeasureLoudnessOfAll(ConversionContext& ctx, const std::vector<FileEntry*>& entries,
                          const OutputFormatEntry& format, std::vector<LoudnessResult>& tracks,
                          LoudnessResult& album, std::vector<float>* normalisationGains) {
    const FileEntry* const listed = ctx.currentEntry;
    std::vector<std::unique_ptr<CLoudnessMeter>> meters;
    tracks.assign(entries.size(), LoudnessResult{});
    album = LoudnessResult{};
    if (normalisationGains) normalisationGains->assign(entries.size(), -1.0f);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (ctx.progress.IsCancelled()) break;
        ctx.currentEntry = entries[i];
        auto meter = std::make_unique<CLoudnessMeter>(ctx.settings.VolumeType == kVolumeLoudness,
                                                      LimitsLoudness(ctx.settings));
        float lo = 0, hi = 0;
        int audioFound = 1;
        const int ok = WithRetry(ctx, [&] {
            return MeasurePeaks(ctx, *entries[i], format, audioFound, lo, hi, meter.get());
        });
        if (!ok || !meter->Started()) continue;
        tracks[i] = ResultOf(*meter);
        if (normalisationGains) (*normalisationGains)[i] = NormalisationGain(lo, hi);
        album.peak = std::max(album.peak, tracks[i].peak);
        album.seconds += tracks[i].seconds;
        album.envelopes.insert(album.envelopes.end(), tracks[i].envelopes.begin(),
                               tracks[i].envelopes.end());
        meters.push_back(std::move(meter));
    }
    ctx.currentEntry = listed;
    ctx.pass.errorDetail.clear();
    ctx.pass.retry = false;
    if (ctx.progress.IsCancelled()) return false;
    std::vector<const CLoudnessMeter*> all;
    for (const auto& m : meters) all.push_back(m.get());
    album.valid = !all.empty();
    album.loudness = CLoudnessMeter::LoudnessOf(all);
    return true;
}

}  // namespace quelvox
