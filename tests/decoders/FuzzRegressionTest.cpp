// Stored fuzzing inputs and hostile files for our own decoders: each one
// either fails to open or decodes to its end without a crash (the sanitizer
// builds catch bad reads) and with no more samples than its bytes allow,
// through Read and through ReadBlock alike.
#include "decoders/AiffReader.h"
#include "decoders/AmrReader.h"
#include "decoders/AuReader.h"
#include "fuzz/Regressions.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace quelvox;
using testsupport::ReadInt16;

namespace {

// Reads `reader` to its end; returns the frames delivered, or -1 when a
// block was too large, the frames exceeded `maxFrames` or a read after the
// end delivered more.
int64_t ReadToEnd(CAudioReader& reader, uint64_t maxFrames) {
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    const bool stereo = reader.GetOutputChannels() == 2;
    uint64_t frames = 0;
    for (;;) {
        int n = ReadInt16(reader, left.data(), stereo ? right.data() : nullptr);
        if (n <= 0) {
            if (ReadInt16(reader, left.data(), stereo ? right.data() : nullptr) > 0) return -1;
            return int64_t(frames);
        }
        if (n > kBlockFrames) return -1;
        frames += uint64_t(n);
        if (frames > maxFrames) return -1;
    }
}

// Opens every input of `name` with a fresh reader; an opened input must read
// to its end with at most `framesPerByte` frames for each byte of the file.
template <class Reader>
void CheckInputs(const std::string& name, uint64_t framesPerByte) {
    const auto inputs = testsupport::FuzzRegressionInputs(name);
    ASSERT_FALSE(inputs.empty()) << name;
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const uint64_t bytes = std::filesystem::file_size(path);
        Reader reader;
        if (reader.Open(path, 0)) {
            const int64_t frames = ReadToEnd(reader, bytes * framesPerByte);
            EXPECT_GE(frames, 0);
            // Blocks give the same frames, each with the reader's channels.
            Reader wide;
            ASSERT_TRUE(wide.Open(path, 0));
            const int channels = wide.GetBlockChannels();
            EXPECT_TRUE(channels >= 1 && channels <= kMaxChannels);
            AudioBlock block;
            int64_t blockFrames = 0;
            for (int n; (n = wide.ReadBlock(block)) > 0 && blockFrames <= frames;) {
                EXPECT_LE(n, kBlockFrames);
                EXPECT_EQ(block.Channels(), channels);
                blockFrames += n;
            }
            EXPECT_EQ(blockFrames, frames);
        }
        reader.Close();
        // The file is left as it was.
        EXPECT_EQ(std::filesystem::file_size(path), bytes);
    }
}

}  // namespace

TEST(FuzzRegression, AuInputsFailOrEndCleanly) { CheckInputs<CAuReader>("au", 4); }

TEST(FuzzRegression, AiffInputsFailOrEndCleanly) { CheckInputs<CAiffReader>("aiff", 8); }

TEST(FuzzRegression, AmrInputsFailOrEndCleanly) { CheckInputs<CAmrReader>("amr", 320); }

// The hostile headers are refused outright, not read as audio.
TEST(FuzzRegression, ImpossibleHeadersAreRefused) {
    const std::string root = std::string(QUELVOX_SOURCE_DIR) + "/tests/fuzz/regressions/";
    CAuReader au;
    EXPECT_EQ(au.Open(root + "au/short-header.au", 0), 0);
    CAiffReader aiff;
    for (const char* name : {"aiff/bits-64.aiff", "aiff/dwvw-bits-zero.aifc", "aiff/ima4-odd.aifc"})
        EXPECT_EQ(aiff.Open(root + name, 0), 0) << name;
    // Frame types a storage file may not hold end the stream at once.
    CAmrReader amr;
    for (const char* name : {"amr/magic-only.amr", "amr/bad-frame-types.amr"})
        if (amr.Open(root + name, 0)) {
            EXPECT_EQ(ReadToEnd(amr, 0), 0) << name;
        }
}
