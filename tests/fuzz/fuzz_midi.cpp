// Standard MIDI File (and RIFF RMID) length reading: header, track chunks,
// events and the tempo map.
#include "fuzz/FuzzSupport.h"
#include "platform/bass/Backends.h"

#include <cmath>
#include <vector>

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    double seconds = bass::MidiFileSeconds(file);
    fuzz::Check(!std::isnan(seconds));
    return 0;
}
