#include "engine/CodecRuntime.h"

#include "platform/LibraryLog.h"
#include "platform/wma/WmaLayer.h"

#include "engine/RunState.h"

extern "C" {
#include <libavutil/log.h>
}
#include <cdio/cdio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace quelvox {
namespace {

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

bool IsSupportedVersion(uint32_t version) { return (version >> 16) == (bass::kVersion >> 16); }

std::string InstalledDataFolder() { return QUELVOX_DATA_DIR; }

std::vector<std::string> SoundfontFolders(const std::string& programFolder) {
    // The data folders, and the installed one even when XDG_DATA_DIRS leaves
    // out the prefix the program was installed to.
    std::vector<std::string> folders = DataFolders(programFolder);
    const std::string installed = InstalledDataFolder();
    if (std::find(folders.begin(), folders.end(), installed) == folders.end())
        folders.push_back(installed);
    return folders;
}

std::string ExecutableFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return exe.parent_path().string();
}

StartResult CCodecRuntime::Start(const std::string& programFolder,
                                 const std::vector<std::string>& skipAddOns) {
    Stop();
    // Decoding only: no sound output device.
    if (!bass_.Init(0, 44100)) return StartResult::InitFailed;

    programFolder_ = programFolder;
    loaded_.clear();
    if (!programFolder.empty()) {
        for (const char* name : bass::kAddOnNames) {
            bool skipped =
                std::any_of(skipAddOns.begin(), skipAddOns.end(),
                            [&](const std::string& s) { return SameNameIgnoringCase(s, name); });
            if (skipped) continue;
            std::string path = (std::filesystem::path(programFolder) / name).string();
            // A missing add-on is not an error: its formats fall back to
            // other readers.
            if (bass_.PluginLoad(path)) loaded_.push_back(name);
        }
    }

    // FFmpeg registers its formats and codecs by itself. The libraries' log
    // settings belong to the whole process, so they are made here, before
    // any conversion runs: FFmpeg logs errors only, and every library's
    // lines go through our handler, which drops them unless the front end
    // set a sink (quelvox-cli -v).
    av_log_set_level(AV_LOG_ERROR);
    RouteLibraryLogs();
    // libcdio builds its driver table on first use; do that once, here,
    // rather than racing inside two conversions. (It complains when asked
    // twice, hence the once-only initialisation.)
    static const bool cdioReady = cdio_init();
    (void)cdioReady;

    started_ = true;
    return StartResult::Started;
}

void CCodecRuntime::Stop() {
    if (!started_) return;
    bass_.Free();
    bass_.PluginFree();
    loaded_.clear();
    started_ = false;
}

bool CCodecRuntime::LoadWmaRuntime() {
    if (wmaLoaded_) return true;
    // The WMA layer stands on FFmpeg's ASF demuxer and muxer and its WMA
    // codecs; the runtime counts as loaded when the linked libraries have
    // them all. A later call checks again.
    wmaLoaded_ = wma::WmaRuntimeAvailable();
    return wmaLoaded_;
}

void CCodecRuntime::LoadSoundfont(RunState& state) {
    if (state.soundfontReady) return;
    // Looked for afresh on every call while none is loaded, so a font put
    // into one of the folders later is found without a restart.
    for (const std::string& folder : SoundfontFolders(programFolder_)) {
        if (soundfontLoaded_) break;
        const std::string path = (std::filesystem::path(folder) / kSoundfontFileName).string();
        soundfontLoaded_ = bass_.SetDefaultSoundfont(path) != 0;
    }
    state.soundfontReady = soundfontLoaded_;
}

}  // namespace quelvox
