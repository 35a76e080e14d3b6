// Start-up and shut-down of the codec runtimes.
//
// The front end (main window or quelvox-cli) owns one CCodecRuntime for the
// life of the program: Start prepares the decoding layer (initialisation
// without sound output, the six add-ons in their fixed order) and the
// libraries' logging; Stop releases them. libavcodec/libavformat and
// FluidSynth are opened by the first stream that needs them.
// The runtime also owns the two set-ups that conversions trigger on demand:
// the Windows Media runtime (WMA work) and the MIDI soundfont, which is
// loaded only when a run converts a MIDI file, never at start.
//
// Nothing here is process-wide: two runtimes are independent objects, and
// every conversion reads the runtime its front end hands it.
#pragma once

#include "platform/DataFolders.h"
#include "platform/bass/BassRuntime.h"
#include "engine/Texts.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quelvox {

struct RunState;

// kInitFailedMessage (engine/Texts.h) is shown with an error icon and the
// caption "Quelvox" when the decoding layer cannot be initialised.
// The MIDI soundfont, looked up in SoundfontFolders.
inline constexpr const char* kSoundfontFileName = "ct4mgm.sf2";

// The data folder of the installed program (<prefix>/share/quelvox).
std::string InstalledDataFolder();
// The folders searched for the soundfont, in this order: the data folders
// (platform/DataFolders.h: the program's folder when known, the user's
// data folder UserDataFolder(), where the user can put the soundfont, then
// the system's), and InstalledDataFolder() when they do not hold it.
std::vector<std::string> SoundfontFolders(const std::string& programFolder);

enum class StartResult {
    Started,
    // Initialisation failed: show kInitFailedMessage and end.
    InitFailed,
};

// Whether a version number of the decoding layer is one we work with
// (2.4 in the high 16 bits).
bool IsSupportedVersion(uint32_t version);

// Folder of the running executable (no trailing separator); empty when it
// cannot be told.
std::string ExecutableFolder();

class CCodecRuntime {
public:
    CCodecRuntime() = default;
    ~CCodecRuntime() { Stop(); }
    CCodecRuntime(const CCodecRuntime&) = delete;
    CCodecRuntime& operator=(const CCodecRuntime&) = delete;

    // Prepares the runtimes. `programFolder` is where the add-ons and the
    // soundfont are looked up; when it is empty no add-on is loaded (their
    // formats then fall back to other readers). Add-ons named in
    // `skipAddOns` (file names as in bass::kAddOnNames, letter case
    // ignored) are treated as missing from the folder. Starting a started
    // runtime restarts it.
    StartResult Start(const std::string& programFolder,
                      const std::vector<std::string>& skipAddOns = {});
    // Releases the decoding layer and unloads every add-on. Harmless when
    // not started.
    void Stop();
    bool IsStarted() const { return started_; }

    // Loads the Windows Media runtime for WMA/WMV/ASF work; false when it is
    // missing, in which case callers prompt or fall back. A later call tries
    // again.
    bool LoadWmaRuntime();

    // Makes the first loadable "ct4mgm.sf2" of SoundfontFolders the
    // default soundfont of MIDI streams (loading it, once per runtime) and
    // sets state.soundfontReady on success. The run drivers call it before
    // converting MIDI files. Does nothing when the flag is already set; while it is
    // clear, every call looks again, so a font copied into a folder later
    // is found without a restart.
    void LoadSoundfont(RunState& state);
    // Whether a soundfont has been made the default.
    bool IsSoundfontLoaded() const { return soundfontLoaded_; }

    const std::string& ProgramFolder() const { return programFolder_; }
    // Add-on names loaded by the last Start, in load order.
    const std::vector<std::string>& LoadedAddOns() const { return loaded_; }

    bass::CBassRuntime& Bass() { return bass_; }
    const bass::CBassRuntime& Bass() const { return bass_; }

private:
    bass::CBassRuntime bass_;
    std::string programFolder_;
    std::vector<std::string> loaded_;
    bool started_ = false;
    bool soundfontLoaded_ = false;
    bool wmaLoaded_ = false;
};

}  // namespace quelvox
