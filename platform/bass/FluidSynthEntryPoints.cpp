#include "platform/bass/FluidSynthEntryPoints.h"

#include "platform/LazyLibrary.h"

#include <atomic>

namespace quelvox::bass {

namespace {

CLazyLibrary& Library() {
    static CLazyLibrary library({QUELVOX_FLUIDSYNTH_SONAME});
    return library;
}

CFluidSynthEntryPoints& Points() {
    static CFluidSynthEntryPoints points;
    return points;
}

std::atomic<fluid_log_function_t>& LogHandler() {
    static std::atomic<fluid_log_function_t> handler{nullptr};
    return handler;
}

void InstallLogHandler(fluid_log_function_t handler) {
    const CFluidSynthEntryPoints& fluid = Points();
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN})
        fluid.fluid_set_log_function(level, handler, nullptr);
    for (int level : {FLUID_INFO, FLUID_DBG}) fluid.fluid_set_log_function(level, nullptr, nullptr);
}

}  // namespace

bool LoadFluidSynth(std::string* error) {
    return Library().Load(
        [](CLazyLibrary& library) {
            CFluidSynthEntryPoints& points = Points();
            bool all = true;
#define QUELVOX_FLUIDSYNTH_BIND(name) all = library.Bind(#name, points.name) && all;
            QUELVOX_FLUIDSYNTH_ENTRY_POINTS(QUELVOX_FLUIDSYNTH_BIND)
#undef QUELVOX_FLUIDSYNTH_BIND
            // Before anything can log: the font load is the first to.
            if (all && LogHandler().load()) InstallLogHandler(LogHandler().load());
            return all;
        },
        error);
}

const CFluidSynthEntryPoints& Fluid() {
    Library().ExpectLoaded();
    return Points();
}

void RouteFluidSynthLogs(fluid_log_function_t handler) {
    LogHandler().store(handler);
    if (Library().Loaded()) InstallLogHandler(handler);
}

}  // namespace quelvox::bass
