// The conversion of one listed file as a run does it, and the merged run
// (all files joined into one output). They report through IProgress and
// IRowCells and never ask anything: what needs the user is settled in the
// run's plan (engine/RunPlan.h) before they start.
#pragma once

#include "engine/ReaderFactory.h"
#include "encoders/WmaFormats.h"
#include "common/AudioStream.h"
#include "engine/ConversionContext.h"
#include "engine/ConvertFile.h"
#include "common/FileEntry.h"
#include "common/Product.h"
#include "engine/HostInterfaces.h"
#include "engine/RunPlan.h"
#include "engine/Texts.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace quelvox {

class CCodecRuntime;
struct OutputFormatEntry;

// The reader chain's services on top of a codec runtime: the WMA runtime
// is loaded on demand (and its format list built), and a missing runtime
// is offered through the host's question box (with no host, while files
// convert, it is not offered: the plan asked before).
class CRunReaderServices : public IReaderServices {
public:
    CRunReaderServices(CCodecRuntime& runtime, WmaFormatList& wmaFormats, IPlanHost* host)
        : runtime_(runtime), wmaFormats_(wmaFormats), host_(host) {}
    const bass::CBassRuntime& BassRuntime() const override;
    bool LoadWmaRuntime() override;
    void OfferWmaRuntime() override;

private:
    CCodecRuntime& runtime_;
    WmaFormatList& wmaFormats_;
    IPlanHost* host_;
    // The question is asked at most once per services object, that is once
    // per batch of added files or per run: a hundred WMA files without the
    // runtime would otherwise ask a hundred times.
    bool offered_ = false;
};

// Everything a run works with. One environment per run; two runs on two
// threads each have their own state.
struct RunEnvironment {
    const CSettings& settings;
    CCodecRuntime& runtime;
    IReaderServices& readers;
    WmaFormatList& wmaFormats;
    RunState& state;
};

// Outcome of one listed file.
struct FileOutcome {
    bool success = false;
    bool cancelled = false;
    Text message;  // the output cell: file name, failure text or "已取消"
    // What its conversion found (empty when none was attempted).
    FileFindings findings;
};

// Converts one listed file as a run does: output path (unless
// `outputResolved`), pre-processing, normalisation, conversion with one
// retry through the fallback reader, clean-up, and the row cells.
// `index` is the 1-based position within the run of `count` files. When the
// output path went to the documents folder (`fallbackReason` says why, for
// a path resolved beforehand), the row shows the whole path and the cells
// are told through NoteDocumentsFallback.
FileOutcome ConvertListedFile(RunEnvironment& env, IProgress& progress, IRowCells& cells,
                              FileEntry& entry, int row, int index, int count,
                              const OutputFormatEntry& format, bool outputResolved = false,
                              const Text& fallbackReason = Text());

// What a run did, for the front end to tell.
struct RunOutcome {
    bool started = false;    // the progress window was shown and files were visited
    bool cancelled = false;  // the run ended on a cancel request
    // Merged runs: the file chosen, whether it was kept, and the rows whose
    // files were appended to it (they show its name until the front end
    // learns it was not kept).
    std::string mergedPath;
    bool mergedKept = false;
    bool mergedMoveFailed = false;  // written, but the final move failed
    std::vector<int> appendedRows;
    // What the conversion of each of those rows found, in the same order.
    std::vector<FileFindings> appendedFindings;
    // A merged run that wrote nothing kept, or could not start: why, for the
    // front end to show once (every row says it too).
    Text warning;
    // With BrowseOutputFolder set and the run not cancelled: the first
    // output that exists, for the front end to show in the file manager.
    std::string browsePath;
};

// The merged writer for `path`, opened; null when it cannot be created.
// `mergedRate`, `mergedChannels` and `mergedLayout` receive the format
// every input is brought to (beyond 16-bit stereo as far as `wide` says);
// `tags` the tags handed to it (in carry-over mode from the first of
// `sources`, the run's files, that has tags), and `tagged` whether there
// were any.
std::unique_ptr<CAudioWriter> CreateMergedWriter(ConversionContext& ctx,
                                                 const OutputFormatEntry& format,
                                                 const std::string& path, int maxRate,
                                                 int maxChannels, const WideSource& wide,
                                                 int& mergedRate, int& mergedChannels,
                                                 uint64_t& mergedLayout,
                                                 std::span<FileEntry* const> sources,
                                                 TagInfo& tags, bool& tagged);

// Appends one source to the merged writer at the gain the settings choose
// from `measured`; ok when at least one block was appended and the run was
// not cancelled. The result carries what was found, as ConvertFile's does.
FileResult AppendFileToMerged(ConversionContext& ctx, const FileEntry& source,
                              CAudioWriter& writer, const OutputFormatEntry& format,
                              int mergedRate, int mergedChannels, uint64_t mergedLayout,
                              const FileMeasure& measured);

// All entries joined, in order, into the settled `target` (its path must
// not be empty). The file is written under a temporary name and appears
// only when the run was not cancelled; a file of that name is untouched
// until then. `progress` shows the file in hand, `cells` the rows `rows`.
RunOutcome ConvertAllToOne(RunEnvironment& env, IProgress& progress, IRowCells& cells,
                           const std::vector<FileEntry*>& entries, const std::vector<int>& rows,
                           const OutputFormatEntry& format, const MergedTarget& target);

// The first of `entries` whose output exists, when the settings ask to show
// the output folder; empty otherwise.
std::string FirstOutputToShow(const CSettings& settings, const std::vector<FileEntry*>& entries);

}  // namespace quelvox
