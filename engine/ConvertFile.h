// Single-file conversion: one source file into one output file, and the
// writer configuration that merged conversion shares.
#pragma once

#include "common/AudioStream.h"
#include "engine/ConversionContext.h"
#include "engine/Texts.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quelvox {

class CFFmpegWriter;
struct FileEntry;
struct OutputFormatEntry;

// A configured (not yet opened) writer and what the processing chain must
// deliver to it.
struct WriterPlan {
    std::unique_ptr<CAudioWriter> writer;
    int targetRate = 0;
    int targetChannels = 0;
    // False when the writer adapts rate and channels itself (WMA in
    // single-file conversion): the chain then never resamples or mixes.
    bool allowConversion = true;
    // Depth the writer stores (16, 24 or 32).
    int targetBits = 16;
    // The writer when it is the FFmpeg one, which may store its channels at
    // other positions than asked (see StoredLayout).
    const CFFmpegWriter* ffmpeg = nullptr;
};

// After the plan's writer opened: the positions its output stores
// `channels` channels at, which the blocks it is given must follow; 0 when
// the writer has no say in them or stores another count.
uint64_t StoredLayout(const WriterPlan& plan, int channels);

// What a reader delivers through ReadBlock, for the target policy of
// lossless formats; the default describes a 16-bit mono or stereo source.
struct WideSource {
    int channels = 0;  // GetBlockChannels; 0: as the 16-bit channel count
    uint64_t layout = 0;
    int bits = 16;
    bool isFloat = false;  // GetSourceFloat
};

// Builds the writer for `format` and configures it for a source of
// `sourceRate` Hz and `sourceChannels` (1 or 2) channels; `wide` tells
// what a lossless target may keep beyond that. With `merged`,
// the source values are the merged rate and channels and the engine
// converts every input for every writer, WMA included. False (no writer)
// when the codec is not in the format's list, no WMA format fits, or the
// WMA format list is missing.
bool PrepareWriter(const ConversionContext& ctx, const OutputFormatEntry& format, int sourceRate,
                   int sourceChannels, bool merged, WriterPlan& plan,
                   const WideSource& wide = WideSource{});

// Opens `source` for a conversion pass to `format`: the reader from the
// reader chain at the format's render rate, refused (null) when the source
// holds no audio (`audioFound` cleared) or is not longer than the skip
// length (error detail set, no retry).
std::unique_ptr<CAudioReader> OpenConversionSource(ConversionContext& ctx, const FileEntry& source,
                                                   const OutputFormatEntry& format,
                                                   int& audioFound);

class CProcessingChain;

struct BlockLoopResult {
    bool wroteBlocks = false;  // at least one block was read and processed
    bool cancelled = false;
    bool writeFailed = false;  // the writer refused a block; the loop stopped
    bool sourceEnded = false;  // the reader reached its end (not a limit)
    uint64_t framesRead = 0;   // frames the reader delivered
};

// Error detail of an output that could not be written, with the cause.
Text WriteFailureDetail(const std::string& cause);

// Notes in `found` a source that holds clearly less audio than its header
// claims (`claimedSeconds`), after the reader delivered `framesRead` frames
// at `sampleRate` up to its end.
void NoteHeldLength(FileFindings& found, int claimedSeconds, uint64_t framesRead, int sampleRate);

// Pumps every block of `reader` through `chain` into `writer`, with the
// "[n%] 正在转换 <name>..." progress, the message pump and the cancel check
// once per block, and the resampler drained at the end. Tracker modules and
// MIDI stop at their length.
BlockLoopResult RunBlockLoop(ConversionContext& ctx, const FileEntry& source, CAudioReader& reader,
                             CProcessingChain& chain, CAudioWriter& writer);

// Converts `source` (the list entry, or the substitute record of the
// pre-processing pass) into source.OutputPath, or, when that name was
// taken meanwhile and the policy numbers, the next free numbered name, at
// the gain the settings choose from `measured`. The result says whether it
// succeeded and carries what was found: the gains, the name the output
// took, notes, clipped samples, and on failure the reason (or, for a file
// without audio, audioFound cleared). The output is written under a
// temporary name and moved into place only on success, so a failed or
// cancelled conversion leaves no partial file and an existing file of the
// target's name untouched.
FileResult ConvertFile(ConversionContext& ctx, const FileEntry& source,
                       const OutputFormatEntry& format, const FileMeasure& measured);

}  // namespace quelvox
