#include "engine/RunPlan.h"

#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "engine/ConversionRun.h"
#include "engine/OutputPath.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"
#include "platform/DataFolders.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace quelvox {

namespace fs = std::filesystem;

namespace {

// A note about the merge file: its path, then what happened to it.
Text PathNote(const std::string& path, const Text& what) {
    Text note;
    note.source = "%s: %s";
    note.args = {Text(path), what};
    return note;
}

bool LeadsToASource(const std::string& path, const std::vector<FileEntry*>& sources) {
    for (const FileEntry* e : sources) {
        if (SameFile(path, e->Path) || (!e->ImagePath.empty() && SameFile(path, e->ImagePath)))
            return true;
    }
    return false;
}

}  // namespace

MergedTarget SettleMergedTarget(const std::string& chosen, const OutputFormatEntry& format,
                                const std::vector<FileEntry*>& sources, int targetExistsOpt,
                                bool fromDialog) {
    MergedTarget result;
    if (chosen.empty()) return result;
    std::error_code ec;
    fs::path target = fs::absolute(chosen, ec);
    if (ec) target = chosen;
    target = target.lexically_normal();
    if (!target.has_filename()) {
        result.refusal = EngineText(kFileFailed, chosen);
        return result;
    }
    if (!fromDialog) {
        const std::string extension = std::string(".") + format.extension;
        if (target.has_extension()) {
            std::string given = target.extension().string();
            std::transform(given.begin(), given.end(), given.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (given != extension) {
                result.notes.push_back(
                    EngineText(kMergeExtensionNote, extension, target.string() + extension));
                target += extension;
            }
        } else {
            target += extension;
        }
    }
    const bool exists = fs::exists(fs::symlink_status(target, ec));
    // Whatever name leads to a source (a link, a hard link): nothing is
    // written, or that source would be lost.
    if (LeadsToASource(target.string(), sources)) {
        result.refusal = EngineText(kSameAsSourceMessage);
        if (!fromDialog) result.notes.push_back(PathNote(target.string(), result.refusal));
        return result;
    }
    if (!exists) {
        result.path = target.string();
        return result;
    }
    if (fromDialog || targetExistsOpt == kTargetOverwrite) {
        result.path = target.string();
        result.replace = true;
        return result;
    }
    if (targetExistsOpt == kTargetSkip) {
        result.refusal = EngineText(kTargetExistsSkipped);
        result.notes.push_back(PathNote(target.string(), result.refusal));
        return result;
    }
    const std::string extension = target.extension().string();
    const std::string stem = (target.parent_path() / target.stem()).string();
    for (int n = 1;; ++n) {
        const std::string candidate = stem + "_" + std::to_string(n) + extension;
        if (!fs::exists(fs::symlink_status(candidate, ec))) {
            result.path = candidate;
            return result;
        }
    }
}

bool SettleRunRuntimes(RunEnvironment& env, IPlanHost& host, const std::vector<FileEntry*>& entries,
                       const OutputFormatEntry& format) {
    if (SelectWriter(format) == WriterKind::Wma) {
        if (!env.runtime.LoadWmaRuntime()) {
            if (host.AskQuestion(EngineText(kWmaRuntimeQuestion)))
                host.OpenInBrowser(kWmaRuntimeAddress);
            return false;
        }
        if (env.wmaFormats.empty()) BuildWmaFormatList(env.wmaFormats);
    }
    // Legacy tag text is read in the code page the settings choose.
    env.runtime.Bass().SetTagCodePage(env.settings.TagCodePage);
    bool hasMidi = false, hasWma = false;
    for (const FileEntry* e : entries) {
        hasMidi = hasMidi || e->InputType == kInputMidi;
        hasWma = hasWma || e->InputType == kInputWma;
    }
    // WMA sources need the runtime too; the question comes now, once, so
    // that nothing asks while the files convert.
    if (hasWma && !env.readers.LoadWmaRuntime()) env.readers.OfferWmaRuntime();
    if (hasMidi && !env.state.soundfontReady) {
        env.runtime.LoadSoundfont(env.state);
        if (!env.state.soundfontReady) {
            // The question names the folder the user can write to (and
            // Yes opens it, so it must exist).
            std::string folder = UserDataFolder();
            std::error_code ec;
            if (!folder.empty()) fs::create_directories(folder, ec);
            if (folder.empty() || folder.back() != '/') folder += '/';
            if (host.AskQuestion(EngineText(kSoundfontQuestion, folder))) {
                host.OpenFolder(folder);
                host.OpenInBrowser(kSoundfontAddress);
                return false;
            }
        }
    }
    return true;
}

}  // namespace quelvox
