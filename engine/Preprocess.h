// The pre-processing pass for sources whose 16-bit samples carry a DTS bit
// stream (RIFF-wrapped ".dts" files, CD tracks): the samples are copied
// unchanged into a bare temporary file that the FFmpeg reader then decodes
// as DTS.
#pragma once

#include <string>

namespace quelvox {

struct ConversionContext;
struct FileEntry;

// Copies the decoded samples of `record` (its Path and InputType) into a
// new temporary ".dts" file. On success returns nonzero and sets
// record.OutputPath to the temporary file, which the caller deletes when
// done with it. On failure or cancel (ctx.progress.IsCancelled() tells
// which) returns 0, leaves no temporary file behind and leaves
// record.OutputPath as it was. Clears `audioFound` when the source holds no
// audio. Shows "[n%] 正在预处理 <name>..." with the name of
// ctx.currentEntry (of `record` when there is none).
int PreprocessDts(ConversionContext& ctx, FileEntry& record, int& audioFound);

// Makes a new unique file name `folder`/`prefix`<pid><thread><ticks>
// <random><counter>`extension` (the system's temporary folder when `folder`
// is empty) and creates the file empty and private, so that no other
// process can take the name before the caller opens it. The counter grows
// while a file, folder or link of that name exists. Returns nonzero on
// success; 0 when no file could be created there.
int MakeTempFileName(const std::string& folder, const std::string& prefix,
                     const std::string& extension, std::string& name);

}  // namespace quelvox
