// FLAC metadata through the reading of an embedded CUE sheet (a CUESHEET
// comment or block).
#include "fuzz/FuzzSupport.h"
#include "decoders/CueSheet.h"

#include <string_view>

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto tracks =
        ParseEmbeddedCueSheet(std::string_view(reinterpret_cast<const char*>(data), size));
    for (size_t i = 0; i < tracks.size(); ++i) {
        const CueSheetTrack& t = tracks[i];
        fuzz::Check(t.file.empty() && t.start >= 0 && t.number == static_cast<int>(i + 1));
        fuzz::Check(i + 1 < tracks.size() ? t.end > t.start : t.end == -1);
    }
    return 0;
}
