// Conversion runs over the list: one output per file (ConvertEach), or all
// files joined into one output (ConvertAllToOne). The front end provides
// the windows through IRunHost; the engine never shows anything itself.
#pragma once

#include "engine/ReaderFactory.h"
#include "encoders/WmaFormats.h"
#include "common/AudioStream.h"
#include "engine/ConversionContext.h"
#include "common/FileEntry.h"
#include "common/Product.h"
#include "engine/HostInterfaces.h"
#include "engine/Texts.h"

#include <memory>
#include <string>
#include <vector>

namespace quelvox {

class CCodecRuntime;
struct OutputFormatEntry;

// The reader chain's services on top of a codec runtime: the WMA runtime
// is loaded on demand (and its format list built), and a missing runtime
// is offered through the host's question box.
class CRunReaderServices : public IReaderServices {
public:
    CRunReaderServices(CCodecRuntime& runtime, WmaFormatList& wmaFormats, IRunHost* host)
        : runtime_(runtime), wmaFormats_(wmaFormats), host_(host) {}
    const bass::CBassRuntime& BassRuntime() const override;
    bool LoadWmaRuntime() override;
    void OfferWmaRuntime() override;

private:
    CCodecRuntime& runtime_;
    WmaFormatList& wmaFormats_;
    IRunHost* host_;
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
    std::string message;  // the output cell: file name, failure text or "已取消"
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
                              const std::string& fallbackReason = std::string());

// Makes sure the runtimes a run needs are there: the WMA runtime for WMA
// formats (asking to fetch it when missing; false ends the run) and the
// MIDI soundfont when `entries` hold a MIDI file (looked for again; when
// missing, asking with the user's data folder as the place to put it;
// false ends the run, true continues and MIDI files fail one by one).
// Also hands the settings' tag code page to the decoding layer.
bool PrepareRunRuntimes(RunEnvironment& env, IRunHost& host, const std::vector<FileEntry*>& entries,
                        const OutputFormatEntry& format);

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
};

// One output per entry. `rows` are the list rows of the entries.
RunOutcome ConvertEach(RunEnvironment& env, IRunHost& host, const std::vector<FileEntry*>& entries,
                       const std::vector<int>& rows, const OutputFormatEntry& format);

// The merged writer for `path`, opened; null when it cannot be created.
// `mergedRate` and `mergedChannels` receive the format every input is
// brought to.
std::unique_ptr<CAudioWriter> CreateMergedWriter(ConversionContext& ctx,
                                                 const OutputFormatEntry& format,
                                                 const std::string& path, int maxRate,
                                                 int maxChannels, int& mergedRate,
                                                 int& mergedChannels);

// Appends one source to the merged writer; nonzero when at least one block
// was appended and the run was not cancelled.
int AppendFileToMerged(ConversionContext& ctx, const FileEntry& source, CAudioWriter& writer,
                       const OutputFormatEntry& format, int mergedRate, int mergedChannels,
                       int& audioFound);

// All entries joined, in order, into one file chosen by the host. The file
// is written under a temporary name and appears only when the run was not
// cancelled; a file of that name is untouched until then.
RunOutcome ConvertAllToOne(RunEnvironment& env, IRunHost& host,
                           const std::vector<FileEntry*>& entries, const std::vector<int>& rows,
                           const OutputFormatEntry& format);

}  // namespace quelvox
