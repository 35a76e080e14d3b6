// The extension filter of the file adding: the input is the filter text,
// a line feed and the path to judge; the first byte's low bit switches the
// filter on.
#include "engine/AddFiles.h"
#include "fuzz/FuzzSupport.h"
#include "settings/Settings.h"

#include <algorithm>
#include <string>

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t split = text.find('\n');
    std::string filter = text.substr(0, split);
    std::string path = split == std::string::npos ? std::string() : text.substr(split + 1);

    CSettings settings;
    settings.EnableExtFilter = data[0] & 1;
    settings.FilterExts = filter;
    RebuildFilterList(settings);
    if (settings.EnableExtFilter == 0) fuzz::Check(settings.FilterExtList.empty());
    for (const std::string& ext : settings.FilterExtList) {
        fuzz::Check(!ext.empty());
        fuzz::Check(ext.find_first_of(" ,;") == std::string::npos);
    }
    bool passes = PassesExtensionFilter(settings, path);
    if (settings.EnableExtFilter == 0) fuzz::Check(passes);
    return 0;
}
