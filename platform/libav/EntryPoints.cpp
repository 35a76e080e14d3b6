#include "platform/libav/EntryPoints.h"

#include "platform/LazyLibrary.h"

namespace quelvox::libav {

namespace {

// The sonames the build found (libavcodec.so.59, ...): the libraries whose
// headers we compiled against.
CLazyLibrary& Library() {
    static CLazyLibrary library({QUELVOX_LIBAVCODEC_SONAME, QUELVOX_LIBAVFORMAT_SONAME});
    return library;
}

CEntryPoints& Points() {
    static CEntryPoints points;
    return points;
}

}  // namespace

bool LoadCodecLibraries(std::string* error) {
    return Library().Load(
        [](CLazyLibrary& library) {
            CEntryPoints& points = Points();
            bool all = true;
#define QUELVOX_LIBAV_BIND(name) all = library.Bind(#name, points.name) && all;
            QUELVOX_LIBAV_ENTRY_POINTS(QUELVOX_LIBAV_BIND)
#undef QUELVOX_LIBAV_BIND
            return all;
        },
        error);
}

const CEntryPoints& Av() {
    Library().ExpectLoaded();
    return Points();
}

}  // namespace quelvox::libav
