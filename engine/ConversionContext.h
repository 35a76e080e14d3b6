// Everything one conversion pass works with, handed down by the run
// driver: the settings, the run's own state, the progress sink and the
// services the reader chain needs. A context belongs to one run; two runs
// on two threads each have their own.
#pragma once

#include "encoders/WmaFormats.h"
#include "engine/HostInterfaces.h"
#include "engine/RunState.h"

namespace quelvox {

struct CSettings;
class IReaderServices;

struct ConversionContext {
    const CSettings& settings;
    RunState& state;
    IProgress& progress;
    IReaderServices& readers;
    // The WMA formats the runtime offers; built once the runtime is loaded.
    const WmaFormatList* wmaFormats = nullptr;
};

// Runs a pass once more through the fallback reader when it failed with a
// primary reader (the retry flag still set) and was not cancelled.
template <typename Pass>
int WithRetry(RunState& state, IProgress& progress, Pass pass) {
    state.retry = false;
    int ok = pass();
    if (!ok && !progress.IsCancelled() && state.retry) ok = pass();
    return ok;
}

}  // namespace quelvox
