// The default soundfont of MIDI streams.
#include "platform/bass/BassRuntime.h"

#include "platform/bass/FluidSynthEntryPoints.h"

#include <filesystem>

namespace quelvox::bass {

// The font is loaded once, into a synthesiser of its own that is kept for as
// long as the font is the default. That load checks the font (a file with a
// valid "sfbk" header but damaged contents would otherwise make every later
// MIDI stream fail) and keeps its sample data in FluidSynth's process-wide
// sample cache, which is shared under FluidSynth's own lock: every MIDI
// stream loads the same unchanged file into its own synthesiser and takes
// the samples from that cache instead of reading and converting them again.
// Nothing else of the keeping synthesiser is touched after the load, so the
// streams on several threads share only the cached, read-only samples.
class CLoadedSoundfont {
public:
    explicit CLoadedSoundfont(std::string path) : path_(std::move(path)) {}
    ~CLoadedSoundfont() {
        if (synth_) Fluid().delete_fluid_synth(synth_);
        if (settings_) Fluid().delete_fluid_settings(settings_);
    }
    CLoadedSoundfont(const CLoadedSoundfont&) = delete;
    CLoadedSoundfont& operator=(const CLoadedSoundfont&) = delete;

    bool Load() {
        settings_ = Fluid().new_fluid_settings();
        if (!settings_) return false;
        Fluid().fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
        Fluid().fluid_settings_setint(settings_, "synth.cpu-cores", 1);
        Fluid().fluid_settings_setint(settings_, "synth.lock-memory", 0);
        // Whole fonts only: the cache keeps a font's samples exactly while
        // one synthesiser holds them loaded.
        Fluid().fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 0);
        synth_ = Fluid().new_fluid_synth(settings_);
        return synth_ && Fluid().fluid_synth_sfload(synth_, path_.c_str(), 0) != FLUID_FAILED;
    }

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
};

const std::string& SoundfontPath(const CLoadedSoundfont& font) { return font.Path(); }

int CBassRuntime::SetDefaultSoundfont(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return 0;
    if (!LoadFluidSynth() || !Fluid().fluid_is_soundfont(path.c_str())) return 0;

    auto font = std::make_shared<CLoadedSoundfont>(path);
    if (!font->Load()) return 0;
    std::lock_guard lock(*fontMutex_);
    font_ = std::move(font);
    return 1;
}

std::string CBassRuntime::DefaultSoundfont() const {
    std::lock_guard lock(*fontMutex_);
    return font_ ? font_->Path() : std::string();
}

std::shared_ptr<const CLoadedSoundfont> CBassRuntime::LoadedSoundfont() const {
    std::lock_guard lock(*fontMutex_);
    return font_;
}

}  // namespace quelvox::bass
