#include "platform/DataFolders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace quelvox {

namespace fs = std::filesystem;

namespace {

// An environment value that is an absolute path, or empty.
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return {};
    return value;
}

}  // namespace

std::string UserDataFolder() {
    std::string base = AbsoluteEnv("XDG_DATA_HOME");
    if (base.empty()) {
        const std::string home = AbsoluteEnv("HOME");
        if (home.empty()) return {};
        base = home + "/.local/share";
    }
    return (fs::path(base) / "quelvox").lexically_normal().string();
}

std::vector<std::string> DataFolders(const std::string& programFolder) {
    std::vector<std::string> folders;
    auto add = [&folders](const fs::path& folder) {
        if (folder.empty()) return;
        const std::string text = folder.lexically_normal().string();
        if (std::find(folders.begin(), folders.end(), text) == folders.end())
            folders.push_back(text);
    };
    add(programFolder);
    add(UserDataFolder());
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(':', start), list.size());
        const std::string dir = list.substr(start, end - start);
        if (!dir.empty() && dir[0] == '/') add(fs::path(dir) / "quelvox");
        start = end + 1;
    }
    return folders;
}

std::string FindDataFile(const std::string& programFolder, const std::string& relative) {
    for (const std::string& folder : DataFolders(programFolder)) {
        std::error_code ec;
        const fs::path candidate = fs::path(folder) / relative;
        if (fs::is_regular_file(candidate, ec)) return candidate.string();
    }
    return {};
}

}  // namespace quelvox
