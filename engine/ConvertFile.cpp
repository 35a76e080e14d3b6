#include "engine/ConvertFile.h"

#include "common/InputType.h"
#include "engine/ReaderFactory.h"
#include "engine/CueTracks.h"
#include "encoders/AmrWriter.h"
#include "encoders/FFmpegWriter.h"
#include "common/FormatCatalogue.h"
#include "encoders/WmaWriter.h"
#include "engine/BlockSource.h"
#include "engine/EncoderParams.h"
#include "engine/LoudnessMeter.h"
#include "common/FileEntry.h"
#include "engine/Normalise.h"
#include "engine/PendingOutput.h"
#include "engine/ProcessingChain.h"
#include "settings/Settings.h"
#include "engine/TagPolicy.h"
#include "engine/Texts.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

namespace quelvox {

namespace {

// How much further below the ceiling than its overshoot a repeated
// encoding holds the peak (dB).
constexpr double kRepeatMarginDb = 0.1;
// How far (LU) a decoded output may miss the target before it is encoded
// once more.
constexpr double kRepeatMissDb = 0.5;
// How much lower than the ceiling the limiter holds the peak of a lossy
// output's first encoding (dB): the overshoot MP3, AAC and Vorbis encoders
// commonly add to held peaks, so that most outputs need no second one.
constexpr double kLossyFirstHeadroomDb = 1.0;
// Encodings that may replace the first: an encoder whose overshoot grows
// as the peak is held lower (AAC on held transients) needs a second.
constexpr int kMostRepeats = 2;

bool PrepareAmrWriter(const CSettings& s, const OutputFormatEntry& format, WriterPlan& plan) {
    AmrCodecParams params;
    if (format.code == kFormatAmr) {
        params.narrowBand = s.AMRType == kAmrNarrowBand ? 1 : 0;
        params.dtx = s.AMRDTX;
        params.nbMode = s.AMRMode;
        params.wbMode = s.AMRWBMode;
        plan.targetRate = params.narrowBand ? 8000 : 16000;
    } else {
        params.narrowBand = 0;
        params.dtx = s.AWBDTX;
        params.nbMode = s.AMRMode;
        params.wbMode = s.AWBMode;
        plan.targetRate = 16000;
    }
    plan.targetChannels = 1;
    auto writer = std::make_unique<CAmrWriter>();
    writer->SetCodecParams(params);
    plan.writer = std::move(writer);
    return true;
}

bool PrepareWmaWriter(const ConversionContext& ctx, int sourceRate, int sourceChannels, bool merged,
                      WriterPlan& plan) {
    const CSettings& s = ctx.settings;
    if (!ctx.wmaFormats) return false;
    int rate = 0, bitrate = 0, channels = 0;
    if (s.WMAAutoEncParam) {
        WmaAutoParams(sourceRate, sourceChannels, rate, bitrate);
        channels = sourceChannels;
    } else {
        bitrate = s.WMABitRate;
        rate = s.WMASampleRate;
        channels = s.WMAChannels == 1 ? 1 : 2;
    }
    const WmaFormatItem* item = SelectWmaFormat(*ctx.wmaFormats, rate, bitrate, channels);
    if (!item) return false;

    auto writer = std::make_unique<CWmaWriter>();
    if (merged) {
        // Every input is brought to the merged rate and channel count by the
        // engine; the writer is told that format.
        plan.targetRate = rate;
        plan.targetChannels = channels;
        plan.allowConversion = true;
        writer->SetSampleRate(rate);
        writer->SetChannels(channels);
    } else {
        // The WMA layer adapts the PCM it receives; the engine only picks a
        // channel when the user asked for one.
        int delivered = sourceChannels;
        if (sourceChannels > channels && s.MonoType != kMonoMix) delivered = 1;
        plan.targetRate = sourceRate;
        plan.targetChannels = s.WMAAutoEncParam ? sourceChannels : channels;
        plan.allowConversion = false;
        writer->SetSampleRate(sourceRate);
        writer->SetChannels(delivered < channels ? 2 : delivered);
    }
    writer->SetBitrate(item->bitrate);
    writer->SetCodecParams(item->mediaType);
    plan.writer = std::move(writer);
    return true;
}

bool PrepareFFmpegWriter(const OutputFormatEntry& format, int sourceRate, int sourceChannels,
                         const WideSource& wide, WriterPlan& plan) {
    ResolvedParams params;
    if (!format.container ||
        !ResolveEncoderParams(format, sourceRate, sourceChannels, params, wide.channels))
        return false;
    const WideTarget target = ResolveWideTarget(format, params.channels,
                                                wide.channels > 0 ? wide.channels : sourceChannels,
                                                wide.bits, wide.isFloat);
    params.channels = target.channels;
    auto writer = std::make_unique<CFFmpegWriter>();
    FFmpegCodecParams codec;
    codec.container = format.container;
    codec.codecId = target.codecId;
    writer->SetCodecParams(codec);
    writer->SetSampleRate(params.sampleRate);
    writer->SetChannels(params.channels);
    // The source's positions when its channels are kept as they are.
    if (params.channels == wide.channels) writer->SetChannelLayout(wide.layout);
    writer->SetSampleBits(target.bits);
    // A lossy or float codec takes a deeper source's samples as float,
    // unrounded (and unclipped).
    writer->SetFloatInput(wide.bits > 16 && TakesFloatSamples(target.codecId));
    writer->SetBitrate(params.bitRate);
    plan.targetRate = params.sampleRate;
    plan.targetChannels = params.channels;
    plan.targetBits = target.bits;
    plan.ffmpeg = writer.get();
    plan.writer = std::move(writer);
    return true;
}

}  // namespace

uint64_t StoredLayout(const WriterPlan& plan, int channels) {
    const uint64_t stored = plan.ffmpeg ? plan.ffmpeg->GetStoredLayout() : 0;
    return LayoutChannels(stored) == channels ? stored : 0;
}

Text WriteFailureDetail(const std::string& cause) {
    if (cause.empty()) return EngineText(kWriteFailedDetail, EngineText(kWriteFailedCause));
    return EngineText(kWriteFailedDetail, cause);
}

void NoteHeldLength(FileFindings& found, int claimedSeconds, uint64_t framesRead, int sampleRate) {
    if (claimedSeconds <= 0 || sampleRate <= 0) return;
    const double held = static_cast<double>(framesRead) / sampleRate;
    // Header durations are whole seconds and some formats estimate them:
    // only a clear shortfall counts.
    const double claimed = claimedSeconds;
    if (claimed - held > std::max(1.0, claimed * 0.1)) {
        found.claimedSeconds = claimed;
        found.heldSeconds = held;
    }
}

bool PrepareWriter(const ConversionContext& ctx, const OutputFormatEntry& format, int sourceRate,
                   int sourceChannels, bool merged, WriterPlan& plan, const WideSource& wide) {
    plan = WriterPlan{};
    bool prepared = false;
    switch (SelectWriter(format)) {
        case WriterKind::Amr: prepared = PrepareAmrWriter(ctx.settings, format, plan); break;
        case WriterKind::Wma:
            prepared = PrepareWmaWriter(ctx, sourceRate, sourceChannels, merged, plan);
            break;
        case WriterKind::FFmpeg:
            prepared = PrepareFFmpegWriter(format, sourceRate, sourceChannels, wide, plan);
            break;
    }
    if (prepared && plan.writer) plan.writer->SetDither(ctx.settings.DitherOnReduce != 0);
    return prepared;
}

std::unique_ptr<CAudioReader> OpenConversionSource(ConversionContext& ctx, const FileEntry& source,
                                                   const OutputFormatEntry& format,
                                                   int& audioFound) {
    const CSettings& settings = ctx.settings;
    auto reader =
        CreateEntryReader(ctx.readers, ctx.pass, source, RenderRateFor(settings, format), true, audioFound);
    if (!reader) return nullptr;
    if (reader->GetSampleRate() < 1) {
        reader->Close();
        audioFound = 0;
        return nullptr;
    }
    if (settings.EnableSkipLength && settings.SkipLength > 0 &&
        static_cast<int64_t>(settings.SkipLength) >=
            static_cast<int64_t>(reader->GetDuration()) * 1000) {
        reader->Close();
        ctx.pass.retry = false;
        ctx.pass.errorDetail = EngineText(kSkipTooLongDetail);
        return nullptr;
    }
    return reader;
}

BlockLoopResult RunBlockLoop(ConversionContext& ctx, const FileEntry& source, CAudioReader& reader,
                             CProcessingChain& chain, CAudioWriter& writer) {
    const FileEntry& listed = ctx.currentEntry ? *ctx.currentEntry : source;
    const std::string shownName =
        listed.TrackName.empty() ? FileNameOf(listed.Path) : listed.TrackName;
    const uint64_t total = reader.GetTotal();
    CPassProgress progress(ctx.progress, kConvertingPass, shownName, total);
    const bool synthesised = source.InputType == kInputModule || source.InputType == kInputMidi;

    // While the run has a processor to spare (a file alone, or the last
    // files of a batch) the reader decodes ahead on a second thread; when
    // another file starts, it goes back to this one. The first seconds are
    // always read here (a short source needs no second thread).
    CBlockSource blocks(reader, chain.Source(), synthesised, total);
    const uint64_t readHereFirst =
        kSecondsBeforeDecodingAhead * static_cast<uint64_t>(std::max(reader.GetSampleRate(), 1));
    BlockLoopResult result;
    bool wroteFrames = false;  // any frame handed to the writer
    for (;;) {
        const bool spare = result.framesRead >= readHereFirst && SpareProcessor(ctx.run);
        if (spare && !blocks.DecodingAhead())
            blocks.DecodeAhead();
        else if (!spare && blocks.DecodingAhead())
            blocks.Stop();
        const SourceBlock next = blocks.Next();
        const int frames = next.frames;
        if (frames <= 0) {
            result.sourceEnded = !synthesised;
            break;
        }
        result.wroteBlocks = true;
        result.framesRead += static_cast<uint64_t>(frames);
        const uint64_t position = next.position;
        progress.Update(position);
        ctx.progress.Pump();
        if (ctx.progress.IsCancelled()) {
            result.cancelled = true;
            return result;
        }
        const WideChainBlock block = chain.ProcessBlock();
        if (block.action == BlockAction::End) break;
        if (block.action == BlockAction::Write && !writer.WriteBlock(*block.block)) {
            // What follows could not be stored either: the output is lost.
            result.writeFailed = true;
            return result;
        }
        if (block.action == BlockAction::Write && block.block->frames > 0) wroteFrames = true;
        if (block.last) break;
        // Tracker modules and MIDI may loop forever: stop at the length.
        if (synthesised && position >= total) break;
    }
    blocks.Stop();  // blocks read past a length limit are not needed
    if (result.wroteBlocks) {
        for (WideChainBlock b = chain.DrainBlock(); b.action == BlockAction::Write;
             b = chain.DrainBlock()) {
            if (!writer.WriteBlock(*b.block)) {
                result.writeFailed = true;
                return result;
            }
            if (b.block->frames > 0) wroteFrames = true;
        }
        // A source that held audio gives an output that holds audio: when
        // processing left no frame at all (a few samples resampled to a
        // lower rate), one frame of silence stands for them.
        if (!wroteFrames) {
            AudioBlock silence;
            silence.Shape(chain.WriterChannels(), 1);
            for (int c = 0; c < silence.Channels(); ++c) silence.Channel(c)[0] = 0.0f;
            silence.frames = 1;
            if (!writer.WriteBlock(silence)) {
                result.writeFailed = true;
                return result;
            }
        }
        progress.Complete();
    }
    return result;
}

FileResult ConvertFile(ConversionContext& ctx, const FileEntry& source,
                       const OutputFormatEntry& format, const FileMeasure& measured) {
    const CSettings& settings = ctx.settings;
    FileResult result;
    FileFindings& found = result.findings;
    found.measured = measured;
    CPendingOutput output;
    // The unfinished output goes; one that cannot go is named.
    auto abandon = [&] {
        output.Abandon();
        if (!output.Unremoved().empty()) found.partFileLeft = output.Unremoved();
    };
    // A failure's reason joins what the file's earlier passes said; none
    // is worth another attempt with the fallback reader.
    auto fail = [&](const Text& detail) {
        abandon();
        ctx.pass.retry = false;
        ctx.pass.errorDetail = detail;
        found.errorDetail = detail;
        return result;
    };

    int audioFound = 1;
    auto reader = OpenConversionSource(ctx, source, format, audioFound);
    if (!reader) {
        result.audioFound = audioFound != 0;
        found.errorDetail = ctx.pass.errorDetail;
        return result;
    }
    const int sourceRate = reader->GetSampleRate();
    const int sourceChannels = reader->GetOutputChannels() == 2 ? 2 : 1;
    const int blockChannels = reader->GetBlockChannels();

    // On every early return below, the reader is closed by this guard, the
    // writer by its owner and the temporary output removed by its own.
    struct ReaderCloser {
        CAudioReader& r;
        ~ReaderCloser() { r.Close(); }
    } closeReader{*reader};

    WriterPlan plan;
    WideSource wide;
    wide.channels = blockChannels;
    wide.layout = reader->GetChannelLayout();
    wide.bits = reader->GetSourceBits();
    wide.isFloat = reader->GetSourceFloat();
    if (!PrepareWriter(ctx, format, sourceRate, sourceChannels, false, plan, wide))
        return fail(EngineText(kNoEncoderSettingsDetail));
    CAudioWriter& writer = *plan.writer;

    const FileEntry& listed = ctx.currentEntry ? *ctx.currentEntry : source;
    const std::string listedName =
        listed.TrackName.empty() ? FileNameOf(listed.Path) : listed.TrackName;
    if (reader->GetChannels() > kMaxChannels)
        found.notes.push_back(
            EngineText(kChannelsDroppedNote, listedName, reader->GetChannels(), kMaxChannels));

    TagInfo tags;
    const bool tagged = ApplyTagPolicy(*reader, writer, source, format.code, settings,
                                       ctx.currentEntry, ctx.currentIndex, &tags);

    // A target that existed when its name was chosen is replaced (the policy
    // said overwrite, or the caller chose it); one that appeared later was
    // made by someone else and is kept as the target-exists policy says.
    std::error_code existsError;
    const bool chosenExisting = ctx.targetExisted >= 0
                                    ? ctx.targetExisted == 1
                                    : std::filesystem::exists(std::filesystem::symlink_status(
                                          source.OutputPath, existsError));
    const CommitMode commitMode =
        chosenExisting ? CommitMode::Replace : CommitModeFor(settings.TargetExistsOpt);
    const std::string& temp = output.Begin(source.OutputPath, ctx.run.leftovers);
    if (temp.empty()) return fail(WriteFailureDetail(output.Error()));
    writer.SetFileName(temp);
    if (!writer.Open()) return fail(EngineText(kEncoderNotStartedDetail));

    found.appliedGain = SelectGain(settings, measured.normalisationGain, measured.loudnessGain);
    CProcessingChain chain;
    ChainSetup setup;
    setup.sourceRate = sourceRate;
    setup.sourceChannels = blockChannels;
    setup.sourceLayout = reader->GetChannelLayout();
    setup.sourceBits = reader->GetSourceBits();
    setup.targetRate = plan.targetRate;
    setup.targetChannels = plan.targetChannels;
    // A target of the source's channel count has the source's positions,
    // unless the output stores its channels at others.
    if (plan.targetChannels == blockChannels) setup.targetLayout = setup.sourceLayout;
    if (const uint64_t stored = StoredLayout(plan, plan.targetChannels)) setup.targetLayout = stored;
    setup.allowConversion = plan.allowConversion;
    setup.gain = found.appliedGain;
    setup.gridGain = settings.VolumeType != kVolumeLoudness;
    if (LimitsLoudness(settings)) {
        const bool lossy = !IsLosslessCodec(format.CodecID, format.code);
        setup.limitCeiling = LimiterCeiling(
            settings, measured.repeats == 0 && lossy ? kLossyFirstHeadroomDb : measured.headroomDb);
    }
    if (!chain.Setup(settings, setup)) {
        writer.Close();
        return fail(EngineText(kSampleConversionDetail));
    }

    BlockLoopResult loop = RunBlockLoop(ctx, source, *reader, chain, writer);
    const int claimedSeconds = reader->GetDuration();
    reader->Close();
    writer.Close();
    const std::string writeError = writer.WriteError();
    const uint64_t clipped = writer.ClippedSamples();
    plan.writer.reset();
    found.limiterGain = chain.LimiterSmallestGain();

    if (loop.writeFailed || !writeError.empty()) {
        // An incomplete output never takes the target's name, and trying
        // again with another reader would meet the same disk.
        return fail(WriteFailureDetail(writeError));
    }
    // Only a complete, non-empty output takes the target's name.
    if (!loop.wroteBlocks || loop.cancelled || output.TempSize() <= 0) {
        abandon();
        if (ctx.pass.errorDetail.empty() && !loop.cancelled)
            ctx.pass.errorDetail = EngineText(loop.wroteBlocks ? kOutputNotWrittenDetail
                                                               : kNothingDecodedDetail);
        found.errorDetail = ctx.pass.errorDetail;
        return result;
    }
    // A lossy output is measured as it decodes, and so is one the limiter
    // changed when ReplayGain values must describe it.
    const bool replayGain = settings.WriteReplayGain && !IsTaglessFormat(format.code);
    if (MeasuresWritten(settings, format) || (replayGain && found.limiterGain < 1.0f)) {
        const bool read = MeasureWrittenOutput(ctx, temp, source.OutputPath, found.written);
        if (!read && ctx.progress.IsCancelled()) {
            output.Abandon();
            return result;
        }
    }
    // The decoded output missed: the encoder's overshoot took its peak over
    // the ceiling (it is encoded once more with the peak held that much,
    // and a little, lower), or the output lost loudness on the way (a
    // resampler's or encoder's band edge; the gain makes up for it).
    if (settings.VolumeType == kVolumeLoudness && MeasuresWritten(settings, format) &&
        measured.repeats < kMostRepeats && found.written.valid && found.written.peak > 0.0 &&
        std::isfinite(found.written.loudness) && found.appliedGain > 0.0f) {
        const double overDb = 20.0 * std::log10(found.written.peak) - CeilingDbtp(settings);
        const double missDb = TargetLufs(settings) - found.written.loudness;
        // In an album the target is the album's, not the file's.
        const bool missed = !ctx.run.albumLoudness.valid && std::isnan(measured.heldLufs) &&
                            std::fabs(missDb) > kRepeatMissDb;
        if (overDb > 0.0 || missed) {
            output.Abandon();
            FileMeasure again = measured;
            ++again.repeats;
            const double held = measured.repeats == 0 && LimitsLoudness(settings)
                                    ? kLossyFirstHeadroomDb
                                    : measured.headroomDb;
            if (overDb > 0.0) again.headroomDb = held + overDb + kRepeatMarginDb;
            double gain = found.appliedGain * (missed ? std::pow(10.0, missDb / 20.0) : 1.0);
            if (!LimitsLoudness(settings)) {
                // The gain alone holds the peak, which moves with it.
                const double room = CeilingDbtp(settings) - kRepeatMarginDb -
                                    20.0 * std::log10(found.written.peak);
                gain = std::min(gain, found.appliedGain * std::pow(10.0, room / 20.0));
                const double reached =
                    found.written.loudness + 20.0 * std::log10(gain / found.appliedGain);
                again.heldLufs = reached <= TargetLufs(settings) - 0.05
                                     ? reached
                                     : std::numeric_limits<double>::quiet_NaN();
            }
            again.loudnessGain = static_cast<float>(std::clamp(gain, 1e-6, 1e6));
            return ConvertFile(ctx, source, format, again);
        }
    }
    // The tags go onto the finished file before it takes its name, so a
    // file whose tags could not be saved is never committed.
    Text tagError;
    ReplayGain measuredGain;
    if (replayGain && found.written.valid)
        measuredGain = ReplayGainOfWritten(
            found.written, ctx.run.albumLoudness, found.appliedGain,
            LimitsLoudness(settings) ? std::pow(10.0, CeilingDbtp(settings) / 20.0) : 0.0);
    else if (replayGain)
        measuredGain = ReplayGainFor(measured.trackLoudness, ctx.run.albumLoudness, found.appliedGain);
    if ((tagged || !measuredGain.IsEmpty()) &&
        !WriteOutputTags(temp, format.code, tags, found.appliedGain,
                         FileNameOf(source.OutputPath), tagError, found.droppedTags,
                         measuredGain)) {
        return fail(tagError);
    }
    if (!output.Commit(commitMode)) return fail(Text(output.Error()));
    found.outputUsed = output.Target();
    if (loop.sourceEnded) NoteHeldLength(found, claimedSeconds, loop.framesRead, sourceRate);
    if (clipped > 0) {
        found.clippedSamples = clipped;
        found.notes.push_back(EngineText(kClippedNote, listedName, clipped));
    }
    result.ok = true;
    return result;
}

}  // namespace quelvox
