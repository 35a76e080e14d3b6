// AIFF / AIFF-C reader: chunk walk, every compression, the ID3 chunk's tags,
// read to the end twice, as 16-bit samples and as blocks.
#include "decoders/AiffReader.h"
#include "fuzz/FuzzSupport.h"
#include "support/BlockSupport.h"

#include <cstdint>

using namespace quelvox;
using testsupport::ReadInt16;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::Scratch().Write(data, size, ".aiff");
    CAiffReader reader;
    if (reader.Open(path, 0)) {
        TagInfo tags;
        reader.ReadTags(tags);
        int16_t left[kBlockFrames], right[kBlockFrames];
        // The densest coding (DWVW) spends at least one bit per sample.
        uint64_t frames = 0;
        for (;;) {
            int n = ReadInt16(reader, left, reader.GetOutputChannels() == 2 ? right : nullptr);
            if (n <= 0) break;
            fuzz::Check(n <= kBlockFrames);
            frames += uint64_t(n);
            fuzz::Check(frames <= uint64_t(size) * 8);
        }
        // The blocks of a second pass give the same frames.
        CAiffReader wide;
        if (wide.Open(path, 0)) fuzz::Check(fuzz::ReadBlocksToEnd(wide, frames) == frames);
    }
    reader.Close();
    return 0;
}
