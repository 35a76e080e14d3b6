// CUE sheet texts through the sheet parser.
#include "fuzz/FuzzSupport.h"
#include "decoders/CueSheet.h"

#include <string_view>

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CueProblem problem = CueProblem::kNone;
    const auto tracks =
        ParseCueSheet(std::string_view(reinterpret_cast<const char*>(data), size), problem);
    fuzz::Check(tracks.empty() == (problem != CueProblem::kNone));
    for (size_t i = 0; i < tracks.size(); ++i) {
        const CueSheetTrack& t = tracks[i];
        fuzz::Check(t.number == static_cast<int>(i + 1));
        fuzz::Check(t.start >= 0 && !t.file.empty());
        fuzz::Check(t.end == -1 || (i + 1 < tracks.size() && t.end == tracks[i + 1].start &&
                                     t.end > t.start));
    }
    return 0;
}
