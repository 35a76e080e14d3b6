#include "engine/ConversionRun.h"
#include "engine/SilentProgress.h"

#include "common/InputType.h"
#include "engine/ReaderFactory.h"
#include "common/FormatCatalogue.h"
#include "engine/ConvertFile.h"
#include "engine/CueTracks.h"
#include "engine/Normalise.h"
#include "engine/OutputPath.h"
#include "engine/PendingOutput.h"
#include "engine/Preprocess.h"
#include "engine/ProcessingChain.h"
#include "engine/CodecRuntime.h"
#include "settings/Settings.h"
#include "engine/TagPolicy.h"
#include "engine/Texts.h"
#include "platform/DataFolders.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace quelvox {

namespace fs = std::filesystem;

namespace {

// Whether a file starts with the four bytes "RIFF".
bool StartsWithRiff(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    char magic[4] = {};
    return f.read(magic, 4) && std::string(magic, 4) == "RIFF";
}

void RemoveFile(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    fs::remove(path, ec);
}

// The run's volume and output cells after a success.
void ReportSuccess(IRowCells& cells, int row, const FileFindings& found,
                   const std::string& outputName) {
    cells.SetVolumeCell(row, FillText("%.02f%%", static_cast<double>(found.appliedGain) * 100.0));
    // An output that clipped samples says how many.
    cells.SetOutputCell(row, found.clippedSamples > 0
                                 ? EngineText(kClippedRow, outputName, found.clippedSamples)
                                 : Text(outputName));
}

// An output the ceiling held short of the target loudness says where it
// stopped: on its row and among the run's notes.
void NoteHeldLoudness(IRowCells& cells, int row, const FileEntry& entry,
                      const FileFindings& found) {
    const double held = found.measured.heldLufs;
    if (!std::isfinite(held)) return;
    const std::string lufs = FillText("%.1f", held);
    cells.NoteVolume(row, EngineText(kHeldByCeilingTip, lufs));
    cells.NoteFile(EngineText(
        kHeldByCeilingNote, entry.TrackName.empty() ? FileNameOf(entry.Path) : entry.TrackName,
        lufs));
}

// The failure text of a conversion pass.
Text FailureText(const FileResult& result, IRowCells& cells) {
    if (!result.audioFound) return EngineText(kNoAudioRow);
    if (result.findings.errorDetail.empty()) return EngineText(kFailedRow);
    cells.WidenOutputColumn();
    return EngineText(kFailedWithDetailRow, result.findings.errorDetail);
}

// What was measured of a file before the run's files converted (an album
// or a merged output is measured as a whole first); not valid otherwise.
struct Premeasured {
    LoudnessResult track;
    float normalisationGain = -1.0f;
    LoudnessResult album;
};

// The passes before a conversion: pre-processing of DTS carried in the
// samples of a RIFF file or a CD track, and the normalisation measurement
// (not repeated for a file `pre` measured), whose gains and loudness go to
// `measured`. Returns the source to convert (the entry, or `substitute`
// naming the pre-processed temporary file, which `tempPath` then holds), or
// null when the run was cancelled.
const FileEntry* RunPreparatoryPasses(ConversionContext& ctx, IRowCells& cells, int row,
                                      const FileEntry& entry, const OutputFormatEntry& format,
                                      const Premeasured& pre, FileEntry& substitute,
                                      std::string& tempPath, FileMeasure& measured) {
    IProgress& progress = ctx.progress;
    const FileEntry* source = &entry;
    if ((entry.InputType == kInputDts && StartsWithRiff(entry.Path)) ||
        (entry.InputType == kInputCdTrack && ctx.settings.EnableDTSForCDA)) {
        cells.SetOutputCell(row, EngineText(kPreprocessingRow));
        ctx.pass.retry = false;
        FileEntry copy = entry;
        int audioFound = 1;
        if (PreprocessDts(ctx, copy, audioFound)) {
            tempPath = copy.OutputPath;
            substitute.Path = tempPath;
            substitute.InputType = kInputDts;
            substitute.OutputPath = entry.OutputPath;
            source = &substitute;
        } else if (progress.IsCancelled()) {
            return nullptr;
        }
    }
    // One pass serves the normalisation peaks and the loudness; a file
    // measured before the run's files converted is not measured again.
    const CSettings& settings = ctx.settings;
    measured.trackLoudness = pre.track;
    const bool premeasured = pre.track.valid;
    const bool loudness = MeasuresLoudness(settings) && !premeasured;
    if (settings.VolumeType == kVolumeNormalise && premeasured) {
        measured.normalisationGain = pre.normalisationGain;
    } else if (settings.VolumeType == kVolumeNormalise || loudness) {
        cells.SetOutputCell(row, EngineText(kNormalisingRow));
        float lo = 0, hi = 0;
        int audioFound = 1;
        // Only a ceiling needs the true peak.
        CLoudnessMeter meter(settings.VolumeType == kVolumeLoudness, LimitsLoudness(settings));
        CLoudnessMeter* const fed = loudness ? &meter : nullptr;
        int ok = WithRetry(ctx, [&] {
            return MeasurePeaks(ctx, *source, format, audioFound, lo, hi, fed);
        });
        if (progress.IsCancelled()) return nullptr;
        if (ok && settings.VolumeType == kVolumeNormalise)
            measured.normalisationGain = NormalisationGain(lo, hi);
        if (ok && loudness) measured.trackLoudness = ResultOf(meter);
    }
    if (settings.VolumeType == kVolumeLoudness) {
        const LoudnessResult& base = pre.album.valid ? pre.album : measured.trackLoudness;
        measured.loudnessGain = LoudnessGain(settings, base);
        if (!LimitsLoudness(settings))
            measured.heldLufs = HeldLoudness(settings, base, measured.loudnessGain);
    }
    return source;
}

// Shows the texts of the next file and empties its volume cell.
void BeginFile(IProgress& progress, IRowCells& cells, const FileEntry& entry, int row, int index,
               int count, const Text& target) {
    cells.ScrollToRow(row);
    cells.SetVolumeCell(row, "");
    const bool texts = progress.ShowsText();
    if (texts) progress.SetRunText(EngineText(kRunText, index, count, target));
    progress.SetRunProgress(index, count);
    if (texts) progress.SetFileText(EngineText(kFileStartText, FileNameOf(entry.Path)));
    progress.SetFileProgress(0, 1);
}

}  // namespace

const bass::CBassRuntime& CRunReaderServices::BassRuntime() const { return runtime_.Bass(); }

bool CRunReaderServices::LoadWmaRuntime() {
    if (!runtime_.LoadWmaRuntime()) return false;
    if (wmaFormats_.empty()) BuildWmaFormatList(wmaFormats_);
    return true;
}

void CRunReaderServices::OfferWmaRuntime() {
    if (offered_) return;
    offered_ = true;
    if (host_ && host_->AskQuestion(EngineText(kWmaRuntimeQuestion)))
        host_->OpenInBrowser(kWmaRuntimeAddress);
}

std::string FirstOutputToShow(const CSettings& settings, const std::vector<FileEntry*>& entries) {
    if (!settings.BrowseOutputFolder) return {};
    for (const FileEntry* e : entries) {
        std::error_code ec;
        if (!e->OutputPath.empty() && fs::is_regular_file(e->OutputPath, ec)) return e->OutputPath;
    }
    return {};
}

FileOutcome ConvertListedFile(RunEnvironment& env, IProgress& progress, IRowCells& cells,
                              FileEntry& entry, int row, int index, int count,
                              const OutputFormatEntry& format, bool outputResolved,
                              const Text& fallbackReason) {
    const RunState& run = env.state;
    ConversionContext ctx{env.settings, run, progress, env.readers, &env.wmaFormats};
    ctx.currentEntry = &entry;
    ctx.currentIndex = index;
    FileOutcome outcome;
    std::string tempPath;

    auto fail = [&](const Text& message) {
        RemoveFile(tempPath);
        entry.OutputPath.clear();
        outcome.success = false;
        outcome.cancelled = progress.IsCancelled();
        outcome.message = outcome.cancelled ? EngineText(kCancelledRow) : message;
        cells.SetOutputCell(row, outcome.message);
        return outcome;
    };

    if (entry.InputType == kInputMidi && !run.soundfontReady) return fail(EngineText(kSoundfontMissingRow));

    BeginFile(progress, cells, entry, row, index, count, FormatName(format));
    Text fallback = fallbackReason;
    if (!outputResolved) {
        if (!ResolveOutputPath(env.settings, entry, format.extension, fallback))
            return fail(fallback);
    }
    std::error_code existsError;
    ctx.targetExisted = fs::exists(fs::symlink_status(entry.OutputPath, existsError)) ? 1 : 0;

    FileEntry substitute;
    FileMeasure measured;
    const FileEntry* source =
        RunPreparatoryPasses(ctx, cells, row, entry, format,
                             {run.measuredTrack, run.measuredNormalisationGain, run.albumLoudness},
                             substitute, tempPath, measured);
    if (!source) return fail(EngineText(kCancelledRow));

    cells.SetOutputCell(row, EngineText(kConvertingRow));
    FileResult converted;
    WithRetry(ctx, [&] {
        converted = ConvertFile(ctx, *source, format, measured);
        return converted.ok ? 1 : 0;
    });
    const FileFindings& found = converted.findings;
    outcome.findings = found;
    if (!found.partFileLeft.empty())
        cells.NoteFile(EngineText(kPartFileLeftNote, found.partFileLeft));
    if (!converted.ok) return fail(FailureText(converted, cells));

    RemoveFile(tempPath);
    // The name actually taken, should the chosen one have been taken meanwhile.
    if (!found.outputUsed.empty()) entry.OutputPath = found.outputUsed;
    if (found.heldSeconds >= 0.0)
        cells.NoteShortSource(row, found.claimedSeconds, found.heldSeconds);
    // An output that went elsewhere than asked shows where it is.
    const std::string shown = fallback.empty() ? FileNameOf(entry.OutputPath) : entry.OutputPath;
    ReportSuccess(cells, row, found, shown);
    NoteHeldLoudness(cells, row, entry, found);
    if (!fallback.empty()) cells.NoteDocumentsFallback(row, entry.OutputPath, fallback);
    if (!found.droppedTags.empty()) cells.NoteDroppedTags(found.droppedTags);
    for (const Text& note : found.notes) cells.NoteFile(note);
    progress.Pump();
    outcome.success = true;
    outcome.cancelled = progress.IsCancelled();
    outcome.message = Text(shown);
    return outcome;
}

// What a merged output may keep beyond 16-bit stereo: the most channels
// and the greatest depth among its sources, in the positions of the first
// source of that many channels, and whether any source is float. Only a
// lossless or surround target with automatic parameters keeps any of it,
// so only then are the sources opened once more to learn them; a source
// that does not open counts for nothing here.
WideSource MergedWideSource(ConversionContext& ctx, const std::vector<FileEntry*>& entries,
                            const OutputFormatEntry& format) {
    WideSource wide;
    const CodecEntry* codec = FindCodec(format);
    const bool surround = codec && SurroundChannelsKept(*codec, kMaxChannels) != 0;
    if (SelectWriter(format) != WriterKind::FFmpeg || format.AutoEncParam == 0 ||
        (!FindCodecDepth(format) && !surround))
        return wide;
    const int renderRate = RenderRateFor(ctx.settings, format);
    for (const FileEntry* e : entries) {
        if (ctx.progress.IsCancelled()) break;
        int audioFound = 1;
        auto reader = CreateEntryReader(ctx.readers, ctx.pass, *e, renderRate, true, audioFound);
        if (!reader) continue;
        if (reader->GetSampleRate() >= 1) {
            if (reader->GetBlockChannels() > wide.channels) {
                wide.channels = reader->GetBlockChannels();
                wide.layout = reader->GetChannelLayout();
            }
            wide.bits = std::max(wide.bits, reader->GetSourceBits());
            wide.isFloat = wide.isFloat || reader->GetSourceFloat();
        }
        reader->Close();
    }
    ctx.pass.errorDetail.clear();
    ctx.pass.retry = false;
    return wide;
}

std::unique_ptr<CAudioWriter> CreateMergedWriter(ConversionContext& ctx,
                                                 const OutputFormatEntry& format,
                                                 const std::string& path, int maxRate,
                                                 int maxChannels, const WideSource& wide,
                                                 int& mergedRate, int& mergedChannels,
                                                 uint64_t& mergedLayout,
                                                 std::span<FileEntry* const> sources,
                                                 TagInfo& tags, bool& tagged) {
    WriterPlan plan;
    if (!PrepareWriter(ctx, format, maxRate, maxChannels, true, plan, wide)) return nullptr;
    mergedRate = plan.targetRate;
    mergedChannels = plan.targetChannels;
    mergedLayout = plan.targetChannels == wide.channels ? wide.layout : 0;
    tagged = ApplyMergedTagPolicy(*plan.writer, format.code, ctx.settings, sources, &tags);
    plan.writer->SetFileName(path);
    if (!plan.writer->Open()) {
        plan.writer.reset();
        RemoveFile(path);
        return nullptr;
    }
    // The output's own positions, where it stores its channels at others.
    if (const uint64_t stored = StoredLayout(plan, mergedChannels)) mergedLayout = stored;
    return std::move(plan.writer);
}

FileResult AppendFileToMerged(ConversionContext& ctx, const FileEntry& source,
                              CAudioWriter& writer, const OutputFormatEntry& format,
                              int mergedRate, int mergedChannels, uint64_t mergedLayout,
                              const FileMeasure& measured) {
    FileResult result;
    FileFindings& found = result.findings;
    found.measured = measured;
    int audioFound = 1;
    auto reader = OpenConversionSource(ctx, source, format, audioFound);
    if (!reader) {
        result.audioFound = audioFound != 0;
        found.errorDetail = ctx.pass.errorDetail;
        return result;
    }

    found.appliedGain = SelectGain(ctx.settings, measured.normalisationGain, measured.loudnessGain);
    CProcessingChain chain;
    ChainSetup setup;
    setup.sourceRate = reader->GetSampleRate();
    setup.sourceChannels = reader->GetBlockChannels();
    setup.sourceLayout = reader->GetChannelLayout();
    setup.sourceBits = reader->GetSourceBits();
    setup.targetRate = mergedRate;
    setup.targetChannels = mergedChannels;
    setup.targetLayout = mergedLayout;
    setup.gain = found.appliedGain;
    setup.gridGain = ctx.settings.VolumeType != kVolumeLoudness;
    if (LimitsLoudness(ctx.settings)) setup.limitCeiling = LimiterCeiling(ctx.settings);
    BlockLoopResult loop;
    const uint64_t clippedBefore = writer.ClippedSamples();
    if (chain.Setup(ctx.settings, setup))
        loop = RunBlockLoop(ctx, source, *reader, chain, writer);
    else
        ctx.pass.retry = false;
    found.clippedSamples = writer.ClippedSamples() - clippedBefore;
    const int claimedSeconds = reader->GetDuration();
    reader->Close();
    if (loop.writeFailed) {
        ctx.pass.retry = false;
        ctx.pass.errorDetail = WriteFailureDetail(writer.WriteError());
        found.errorDetail = ctx.pass.errorDetail;
        return result;
    }
    if (loop.sourceEnded && !loop.cancelled)
        NoteHeldLength(found, claimedSeconds, loop.framesRead, setup.sourceRate);
    found.errorDetail = ctx.pass.errorDetail;
    result.ok = loop.wroteBlocks && !loop.cancelled;
    return result;
}

RunOutcome ConvertAllToOne(RunEnvironment& env, IProgress& progress, IRowCells& host,
                           const std::vector<FileEntry*>& entries, const std::vector<int>& rows,
                           const OutputFormatEntry& format, const MergedTarget& target) {
    RunOutcome result;
    if (entries.empty() || entries.size() != rows.size() || target.path.empty()) return result;

    // Every entry counts towards the merged format: the converter brings
    // any rate and channel count to it.
    int maxRate = 0, maxChannels = 0;
    for (const FileEntry* e : entries) {
        maxRate = std::max(maxRate, e->SampleRate);
        maxChannels = std::max(maxChannels, std::min(e->Channels, 2));
    }
    if (maxRate < 1) maxRate = 44100;
    if (maxChannels < 1) maxChannels = 2;

    const std::string& path = target.path;
    result.mergedPath = path;
    // A merge that never starts gives every row its reason.
    auto refuse = [&](const Text& reason) {
        for (int row : rows) host.SetOutputCell(row, reason);
        result.warning = reason;
        return result;
    };
    // A file chosen although it exists is replaced (the save dialog asked,
    // or the command line's policy said so); otherwise a file that appears
    // meanwhile is kept as the policy says.
    const CommitMode commitMode =
        target.replace ? CommitMode::Replace : CommitModeFor(env.settings.TargetExistsOpt);

    const RunState& run = env.state;
    CSilentProgress quiet;
    ConversionContext setupCtx{env.settings, run, quiet, env.readers, &env.wmaFormats};
    CPendingOutput output;
    const std::string& temp = output.Begin(path, run.leftovers);
    int mergedRate = 0, mergedChannels = 0;
    uint64_t mergedLayout = 0;
    std::unique_ptr<CAudioWriter> writer;
    TagInfo tags;
    bool tagged = false;
    if (!temp.empty()) {
        const WideSource wide = MergedWideSource(setupCtx, entries, format);
        writer = CreateMergedWriter(setupCtx, format, temp, maxRate, maxChannels, wide,
                                    mergedRate, mergedChannels, mergedLayout, entries, tags,
                                    tagged);
    }
    if (!writer) return refuse(EngineText(kMergedCreateFailed, path));
    result.started = true;

    const int count = static_cast<int>(entries.size());
    progress.SetRunProgress(0, count);
    progress.Pump();
    ConversionContext measuring{env.settings, run, progress, env.readers, &env.wmaFormats};
    const std::string mergedName = FileNameOf(path);

    // The merged output is one piece of audio: its loudness is that of all
    // its sources together, and one gain serves them all.
    std::vector<LoudnessResult> measuredTracks(entries.size());
    std::vector<float> normalisationGains(entries.size(), -1.0f);
    LoudnessResult whole;
    bool cancelled = false;
    if (MeasuresLoudness(env.settings))
        cancelled = !MeasureLoudnessOfAll(measuring, entries, format, measuredTracks, whole,
                                          &normalisationGains);
    const float mergedGain =
        env.settings.VolumeType == kVolumeLoudness ? LoudnessGain(env.settings, whole) : 1.0f;


    std::vector<FileEntry*> visited;
    std::vector<int> visitedRows;
    Text writeFailure;  // failure text once the merged file lost data
    for (int i = 0; i < count && !cancelled; ++i) {
        FileEntry& entry = *entries[i];
        const int row = rows[i];
        visited.push_back(&entry);
        visitedRows.push_back(row);
        ConversionContext ctx{env.settings, run, progress, env.readers, &env.wmaFormats};
        ctx.currentEntry = &entry;
        ctx.currentIndex = i + 1;
        std::string tempSource;
        auto finishFailed = [&](const Text& message) {
            RemoveFile(tempSource);
            entry.OutputPath.clear();
            cancelled = progress.IsCancelled();
            host.SetOutputCell(row, cancelled ? EngineText(kCancelledRow) : message);
        };

        if (entry.InputType == kInputMidi && !run.soundfontReady) {
            finishFailed(EngineText(kSoundfontMissingRow));
            continue;
        }
        BeginFile(progress, host, entry, row, i + 1, count, Text(mergedName));
        if (!writeFailure.empty()) {
            finishFailed(writeFailure);
            continue;
        }
        entry.OutputPath = path;

        FileEntry substitute;
        FileMeasure measured;
        const size_t at = static_cast<size_t>(i);
        const FileEntry* source =
            RunPreparatoryPasses(ctx, host, row, entry, format,
                                 {measuredTracks[at], normalisationGains[at], whole}, substitute,
                                 tempSource, measured);
        if (!source) {
            finishFailed(EngineText(kCancelledRow));
            continue;
        }

        host.SetOutputCell(row, EngineText(kConvertingRow));
        FileResult appended;
        WithRetry(ctx, [&] {
            appended = AppendFileToMerged(ctx, *source, *writer, format, mergedRate,
                                          mergedChannels, mergedLayout, measured);
            return appended.ok ? 1 : 0;
        });
        if (!appended.ok) {
            const Text text = FailureText(appended, host);
            if (!writer->WriteError().empty()) writeFailure = text;
            finishFailed(text);
            continue;
        }
        const FileFindings& found = appended.findings;
        RemoveFile(tempSource);
        if (found.heldSeconds >= 0.0)
            host.NoteShortSource(row, found.claimedSeconds, found.heldSeconds);
        ReportSuccess(host, row, found, mergedName);
        NoteHeldLoudness(host, row, entry, found);
        if (found.clippedSamples > 0)
            host.NoteFile(EngineText(
                kClippedNote, entry.TrackName.empty() ? FileNameOf(entry.Path) : entry.TrackName,
                found.clippedSamples));
        result.appendedRows.push_back(row);
        result.appendedFindings.push_back(found);
        progress.Pump();
        cancelled = progress.IsCancelled();
    }

    writer->Close();
    const std::string writeError = writer->WriteError();
    writer.reset();
    bool committed = false;
    Text tagError;
    DroppedTagNotes droppedTags;
    // ReplayGain values describe the merged audio only where one gain, or
    // none, was applied to all of it.
    ReplayGain measuredGain;
    if (env.settings.WriteReplayGain && env.settings.VolumeType >= kVolumeUnchanged)
        measuredGain = ReplayGainFor(whole, LoudnessResult{}, mergedGain);
    if (!measuredGain.IsEmpty() && !IsTaglessFormat(format.code)) tagged = true;
    if (!cancelled && writeFailure.empty() && writeError.empty() && tagged &&
        !WriteOutputTags(temp, format.code, tags, 1.0f, mergedName, tagError, droppedTags,
                         measuredGain)) {
        writeFailure = EngineText(kFailedWithDetailRow, tagError);
    } else if (!cancelled && writeFailure.empty() && writeError.empty()) {
        committed = output.Commit(commitMode);
        if (!committed) {
            writeFailure = EngineText(kFailedWithDetailRow, output.Error());
            result.mergedMoveFailed = true;
        }
    } else if (!cancelled && writeFailure.empty()) {
        writeFailure = EngineText(kFailedWithDetailRow, WriteFailureDetail(writeError));
    }
    result.mergedKept = committed;
    if (committed && !droppedTags.empty()) host.NoteDroppedTags(droppedTags);
    if (!committed) {
        output.Abandon();
        if (!output.Unremoved().empty())
            host.NoteFile(EngineText(kPartFileLeftNote, output.Unremoved()));
        for (size_t i = 0; i < visited.size(); ++i) {
            // Rows that were appended to a file that is not kept fail too,
            // and show no volume: nothing was written with it.
            if (!cancelled && !visited[i]->OutputPath.empty()) {
                host.SetVolumeCell(visitedRows[i], "");
                host.SetOutputCell(visitedRows[i], writeFailure);
            }
            visited[i]->OutputPath.clear();
        }
        if (!cancelled) result.warning = writeFailure;
    } else if (output.Target() != path) {
        // The chosen name was taken meanwhile: the rows name the one used.
        for (size_t i = 0; i < visited.size(); ++i) {
            if (visited[i]->OutputPath.empty()) continue;
            visited[i]->OutputPath = output.Target();
            host.SetOutputCell(visitedRows[i], Text(FileNameOf(output.Target())));
        }
    }

    if (!cancelled) result.browsePath = FirstOutputToShow(env.settings, visited);
    result.cancelled = cancelled;
    return result;
}

}  // namespace quelvox
