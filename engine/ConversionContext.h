// Everything one conversion pass works with, handed down by the run
// driver: the settings, the run's configuration, the file in hand, the
// progress sink and the services the reader chain needs. A context
// belongs to one file (or one measuring pass) of one run; two runs on two
// threads each have their own.
#pragma once

#include "encoders/WmaFormats.h"
#include "engine/HostInterfaces.h"
#include "engine/RunState.h"

namespace quelvox {

struct CSettings;
struct FileEntry;
class IReaderServices;

struct ConversionContext {
    const CSettings& settings;
    const RunState& run;
    IProgress& progress;
    IReaderServices& readers;
    // The WMA formats the runtime offers; built once the runtime is loaded.
    const WmaFormatList* wmaFormats = nullptr;
    // The listed entry in hand: its Path names the file in every progress
    // text, even while a temporary file is read instead (null: the source
    // itself). Its 1-based position within the run is also the track number
    // when tracks are numbered by list position.
    const FileEntry* currentEntry = nullptr;
    int currentIndex = 0;
    // Whether the file's target existed when its name was chosen (1, 0; -1
    // unknown: the conversion looks when it starts). Only such a target is
    // replaced; one that appears later belongs to someone else.
    int targetExisted = -1;
    // The reader chain's word on the passes over the file in hand.
    PassNotes pass = {};
};

// Runs a pass once more through the fallback reader when it failed with a
// primary reader (the retry flag still set) and was not cancelled.
template <typename Pass>
int WithRetry(ConversionContext& ctx, Pass pass) {
    ctx.pass.retry = false;
    int ok = pass();
    if (!ok && !ctx.progress.IsCancelled() && ctx.pass.retry) ok = pass();
    return ok;
}

}  // namespace quelvox
