// FluidSynth, opened when a MIDI file is first rendered or a soundfont is
// first loaded (see platform/LazyLibrary.h): listing a MIDI file measures
// it with our own parser and needs no synthesiser.
#pragma once

#include <string>

#include <fluidsynth.h>

namespace quelvox::bass {

// Every function of FluidSynth the program calls.
#define QUELVOX_FLUIDSYNTH_ENTRY_POINTS(X) \
    X(delete_fluid_player)                 \
    X(delete_fluid_settings)               \
    X(delete_fluid_synth)                  \
    X(fluid_is_soundfont)                  \
    X(fluid_player_add_mem)                \
    X(fluid_player_play)                   \
    X(fluid_set_log_function)              \
    X(fluid_settings_setint)               \
    X(fluid_settings_setnum)               \
    X(fluid_settings_setstr)               \
    X(fluid_synth_sfload)                  \
    X(fluid_synth_write_s16)               \
    X(new_fluid_player)                    \
    X(new_fluid_settings)                  \
    X(new_fluid_synth)

struct CFluidSynthEntryPoints {
#define QUELVOX_FLUIDSYNTH_POINTER(name) decltype(&::name) name = nullptr;
    QUELVOX_FLUIDSYNTH_ENTRY_POINTS(QUELVOX_FLUIDSYNTH_POINTER)
#undef QUELVOX_FLUIDSYNTH_POINTER
};

// Opens the library the first time it is called (once per process, safe
// from any thread); false, with the loader's text in `error`, when it
// cannot be opened. Once open, its log goes where RouteFluidSynthLogs said.
bool LoadFluidSynth(std::string* error = nullptr);

// The entry points; only after LoadFluidSynth returned true (else the
// program stops with a message: a programming error).
const CFluidSynthEntryPoints& Fluid();

// Points FluidSynth's warnings and errors at `handler` and silences its
// information and debug lines: now when the library is open, else as soon
// as it is.
void RouteFluidSynthLogs(fluid_log_function_t handler);

}  // namespace quelvox::bass
