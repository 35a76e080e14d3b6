#include "engine/OutputPath.h"

#include "common/FileEntry.h"
#include "engine/Preprocess.h"
#include "engine/Texts.h"
#include "settings/Settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace quelvox {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSameAsSource = kSameAsSourceMessage;

// Anything of that name, a dangling link included.
bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// One level of EnsureFolder: an existing entry must be a folder, a missing
// one is created.
bool EnsureLevel(const std::string& path) {
    if (path.empty() || IsFolder(path)) return true;
    if (Exists(path)) return false;
    std::error_code ec;
    fs::create_directory(path, ec);
    return IsFolder(path);
}

std::string CollapseSlashes(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    return out;
}

// The source's folders to repeat below the output folder, as a relative
// path without a leading or trailing '/'; empty for none.
//
// From the whole path, /home/u/Music/Pop/a.mp3 gives home/u/Music/Pop. From
// the added folder, the same file added through /home/u/Music gives
// Music/Pop: the tree starts with the added folder's own name. A file with
// no added folder (named directly), or one that is not below it (a
// shortcut's target elsewhere), has no tree and goes straight into the
// output folder.
std::string KeptTree(const FileEntry& entry, bool wholePath) {
    std::error_code ec;
    fs::path absolute = fs::absolute(entry.Path, ec);
    if (ec) absolute = entry.Path;
    const fs::path sourceFolder = absolute.lexically_normal().parent_path();
    if (wholePath) {
        std::string tree = CollapseSlashes(sourceFolder.string());
        while (!tree.empty() && tree.front() == '/') tree.erase(0, 1);
        while (!tree.empty() && tree.back() == '/') tree.pop_back();
        return tree;
    }
    if (entry.AddedRoot.empty()) return {};
    fs::path root = fs::absolute(entry.AddedRoot, ec);
    if (ec) root = entry.AddedRoot;
    // A trailing '/' would leave the root without a last name.
    std::string rootText = root.lexically_normal().string();
    while (rootText.size() > 1 && rootText.back() == '/') rootText.pop_back();
    root = rootText;
    const fs::path below = sourceFolder.lexically_relative(root);
    if (below.empty()) return {};
    // The added folder's own name ("/" has none), then the folders below it.
    fs::path tree = root.filename();
    for (const fs::path& part : below) {
        if (part == "..") return {};  // not below the added folder
        if (part == "." || part.empty()) continue;
        tree /= part;
    }
    return tree.string();
}

// Whether `tree` names only folders below the one it is joined to: a
// relative path without "." or ".." levels.
bool StaysBelow(const std::string& tree) {
    const fs::path path(tree);
    if (path.is_absolute()) return false;
    for (const fs::path& part : path)
        if (part == "." || part == "..") return false;
    return true;
}

// Whether a private file can be created in the folder of `candidate`.
bool CanCreateBeside(const std::string& candidate) {
    std::string folder = fs::path(candidate).parent_path().string();
    if (folder.empty()) folder = ".";
    std::string probe;
    if (!MakeTempFileName(folder, ".quelvox-probe-", ".tmp", probe)) return false;
    ::unlink(probe.c_str());
    return true;
}

// Whether a file can be written at `candidate` without destroying
// anything: a new name is created exclusively and removed again; for an
// existing target the target is opened for appending (no truncation) and
// a private probe file is created beside it, where the conversion will
// stage its output.
//
// Another run naming the same file at the same moment makes the name
// appear or vanish between our look and our open (its own check creates
// and removes it): that is Raced, and the caller chooses the name again
// instead of giving up on the folder.
enum class CreateCheck { Yes, No, Raced };
constexpr int kNamingLooks = 8;

CreateCheck CanCreate(const std::string& candidate) {
    if (!Exists(candidate)) {
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return errno == EEXIST ? CreateCheck::Raced : CreateCheck::No;
        ::close(fd);
        ::unlink(candidate.c_str());
        return CreateCheck::Yes;
    }
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? CreateCheck::Raced : CreateCheck::No;
    ::close(fd);
    return CanCreateBeside(candidate) ? CreateCheck::Yes : CreateCheck::No;
}

}  // namespace

// Letter case counts.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec1), ec1);
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec2), ec2);
    if (!ec1 && !ec2 && ca == cb) return true;
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

bool EnsureFolder(const std::string& path) {
    if (path.empty()) return false;
    if (IsFolder(path)) return true;
    size_t start = 0;
    for (size_t slash = path.find('/', start); slash != std::string::npos;
         slash = path.find('/', start)) {
        if (!EnsureLevel(path.substr(0, slash))) return false;
        start = slash + 1;
    }
    if (start < path.size() && !EnsureLevel(path)) return false;
    return IsFolder(path);
}

namespace {

// A CUE track's name as a file name in the output folder: a sheet's title
// may hold anything, so no '/' or NUL survives, leading dots go (no hidden
// file, no "." or ".."), and nothing left becomes "_".
std::string SafeTrackStem(const std::string& name) {
    std::string stem;
    for (char c : name) stem += (c == '/' || c == '\0') ? '_' : c;
    const size_t first = stem.find_first_not_of('.');
    stem.erase(0, first == std::string::npos ? stem.size() : first);
    return stem.empty() ? std::string("_") : stem;
}

// The longest file name (one path level) Linux file systems take, in bytes.
constexpr size_t kMaxNameBytes = 255;

// `stem` followed by `tail` (a number and the extension), the stem cut at
// a character boundary so that the whole stays within kMaxNameBytes. The
// start of the stem ("NN - " of a CUE track) and the tail are kept.
std::string FitName(const std::string& stem, const std::string& tail) {
    if (stem.size() + tail.size() <= kMaxNameBytes) return stem + tail;
    size_t keep = tail.size() < kMaxNameBytes ? kMaxNameBytes - tail.size() : 0;
    // Never keep the lead byte of a UTF-8 sequence without its continuation.
    while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
    std::string name = stem.substr(0, keep);
    if (name.empty()) name = "_";
    return name + tail;
}

}  // namespace

bool ResolveOutputPath(const CSettings& settings, FileEntry& entry, const std::string& extension,
                       Text& message, const WrittenByRun& writtenByRun) {
    message = Text();
    int mode = settings.DestOutputFolderOpt;
    std::string folder = settings.DestSpecifiedFolder;
    bool keepTree = settings.CreateDirs != 0;
    bool fallbackUsed = false;

    const std::string& source = entry.Path;
    const size_t slash = source.find_last_of('/');
    const std::string sourceName = slash == std::string::npos ? source : source.substr(slash + 1);
    const size_t dot = sourceName.find_last_of('.');
    // A CUE track is named after the track, beside its sheet.
    const std::string sourceStem = !entry.TrackName.empty() ? SafeTrackStem(entry.TrackName)
                                   : dot == std::string::npos ? sourceName
                                                              : sourceName.substr(0, dot);
    const std::string newExtension = "." + extension;
    const bool wholePath = settings.CreateDirsFrom == kTreeFromWholePath;
    std::string tree = KeptTree(entry, wholePath);
    // The output never leaves the chosen folder, whatever the paths held.
    if (!StaysBelow(tree)) tree.clear();

    for (;;) {
        bool placed = false;
        // The folder the output goes to, ending in '/' (empty: the current one).
        std::string base;
        if (mode == kOutputToSpecifiedFolder) {
            if (folder.empty() || !EnsureFolder(folder)) {
                message = EngineText(kFolderFailed, folder);
            } else {
                base = folder;
                if (base.back() != '/') base += '/';
                placed = true;
                if (keepTree) {
                    // The source's folders below the chosen one: /out/Music/Pop/
                    // or, from the whole path, /out/home/u/Music/Pop/.
                    if (!tree.empty()) {
                        base += tree;
                        base += '/';
                        if (!EnsureFolder(base)) {
                            message = EngineText(kFolderFailed, base);
                            placed = false;
                        }
                    }
                }
            }
        } else {
            base = slash == std::string::npos ? std::string() : source.substr(0, slash + 1);
            placed = true;
        }

        // A name another run was checking at that very moment is chosen
        // again (a few times at most).
        for (int look = 0; placed && look < kNamingLooks; ++look) {
            const auto ours = [&](const std::string& path) {
                return writtenByRun && writtenByRun(path);
            };
            // "<stem>_<n>.<ext>" with the first n whose name is free.
            const auto numbered = [&] {
                for (int n = 1;; ++n) {
                    std::string name =
                        base + FitName(sourceStem, "_" + std::to_string(n) + newExtension);
                    if (!Exists(name) && !ours(name)) return name;
                }
            };
            std::string candidate = base + FitName(sourceStem, newExtension);
            if (ours(candidate)) {
                candidate = numbered();
            } else if (Exists(candidate)) {
                if (settings.TargetExistsOpt == kTargetOverwrite) {
                    if (SameFile(candidate, source) ||
                        (!entry.ImagePath.empty() && SameFile(candidate, entry.ImagePath))) {
                        message = EngineText(kSameAsSource);
                        return false;
                    }
                } else if (settings.TargetExistsOpt == kTargetSkip) {
                    message = EngineText(kTargetExistsSkipped);
                    return false;
                } else {
                    candidate = numbered();
                }
            }
            CreateCheck check = CanCreate(candidate);
            if (check == CreateCheck::Raced) {
                if (look + 1 < kNamingLooks) continue;
                // The other run kept the name busy at every look. The name
                // itself was created, so the question left is whether the
                // folder takes new files; a name taken by the time the
                // output is committed is handled there.
                check = CanCreateBeside(candidate) ? CreateCheck::Yes : CreateCheck::No;
            }
            if (check == CreateCheck::Yes) {
                entry.OutputPath = candidate;
                return true;
            }
            message = EngineText(kFileFailed, candidate);
            break;
        }

        if (!settings.OutputFiles2MyDocuments || fallbackUsed) return false;
        fallbackUsed = true;
        // The documents folder is created only now that output goes there.
        const std::string documents = UserDocumentsFolder();
        if (documents.empty() || !EnsureFolder(documents)) return false;
        folder = documents;
        keepTree = settings.DestOutputFolderOpt == kOutputToSpecifiedFolder && settings.CreateDirs != 0;
        mode = kOutputToSpecifiedFolder;
    }
}

}  // namespace quelvox
