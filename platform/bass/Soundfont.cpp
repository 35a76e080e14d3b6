// The default soundfont of MIDI streams.
#include "platform/bass/BassLayer.h"

#include <fluidsynth.h>

#include <filesystem>

namespace quelvox::bass {

// The font is accepted only when FluidSynth can really load it: a file with
// a valid "sfbk" header but damaged contents would otherwise make every
// later MIDI stream fail. It is loaded once into a throwaway synthesiser;
// the streams load it again for themselves, so nothing is shared between
// them.
int CBassRuntime::SetDefaultSoundfont(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return 0;
    if (!fluid_is_soundfont(path.c_str())) return 0;

    fluid_settings_t* settings = new_fluid_settings();
    if (!settings) return 0;
    fluid_settings_setint(settings, "synth.threadsafe-api", 0);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    fluid_synth_t* synth = new_fluid_synth(settings);
    bool loaded = synth && fluid_synth_sfload(synth, path.c_str(), 0) != FLUID_FAILED;
    if (synth) delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    if (!loaded) return 0;

    soundfont_ = path;
    return 1;
}

}  // namespace quelvox::bass
