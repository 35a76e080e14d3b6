// Shared pieces of the libFuzzer targets: the readers under test take a
// path, so each input is written to a file in a folder of this process
// (below $TMPDIR, or /dev/shm for speed) and read from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

#include "common/AudioStream.h"

namespace quelvox::fuzz {

// The process's scratch folder, made on first use and removed at exit.
class CScratch {
public:
    CScratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::filesystem::path base = tmp && *tmp ? tmp : "/dev/shm";
        if (!std::filesystem::is_directory(base)) base = "/tmp";
        dir_ = base / ("quelvox-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    ~CScratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // Writes the input to <scratch>/input<extension> and returns the path.
    std::string Write(const uint8_t* data, size_t size, const char* extension) {
        std::string path = (dir_ / (std::string("input") + extension)).string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) std::abort();
        if (size && std::fwrite(data, 1, size, f) != size) std::abort();
        std::fclose(f);
        return path;
    }

private:
    std::filesystem::path dir_;
};

inline CScratch& Scratch() {
    static CScratch scratch;
    return scratch;
}

// Stops the run with a finding when an invariant of a target is broken.
inline void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// Reads an opened reader to its end through ReadBlock; every block must
// fit, carry the reader's channels, and the frames must not pass
// `maxFrames`. Returns the frames delivered.
inline uint64_t ReadBlocksToEnd(CAudioReader& reader, uint64_t maxFrames) {
    AudioBlock block;
    const int channels = reader.GetBlockChannels();
    Check(channels >= 1 && channels <= kMaxChannels);
    uint64_t frames = 0;
    for (;;) {
        const int n = reader.ReadBlock(block);
        if (n <= 0) break;
        Check(n <= kBlockFrames && n == block.frames && block.Channels() == channels);
        frames += uint64_t(n);
        Check(frames <= maxFrames);
    }
    return frames;
}

}  // namespace quelvox::fuzz
