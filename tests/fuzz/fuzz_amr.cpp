// AMR / AMR-WB storage files through the reader and the codec layer, read
// to the end.
#include "decoders/AmrReader.h"
#include "fuzz/FuzzSupport.h"
#include "support/BlockSupport.h"

#include <cstdint>

using namespace quelvox;
using testsupport::ReadInt16;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::Scratch().Write(data, size, ".amr");
    CAmrReader reader;
    if (reader.Open(path, 0)) {
        int16_t left[kBlockFrames];
        // Every frame takes at least its header byte and gives at most 320
        // samples.
        uint64_t frames = 0;
        for (;;) {
            int n = ReadInt16(reader, left, nullptr);
            if (n <= 0) break;
            fuzz::Check(n <= kBlockFrames);
            frames += uint64_t(n);
            fuzz::Check(frames <= uint64_t(size) * 320);
        }
    }
    reader.Close();
    return 0;
}
