// Files whose size fields claim far more than the file holds: every reader
// that could be handed one refuses it (or reads what is there) without
// allocating what it claims.
#include "decoders/BassReader.h"
#include "decoders/FFmpegReader.h"
#include "decoders/WmaReader.h"

#include "support/ChannelSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

using namespace quelvox;
using namespace testsupport;

namespace {

// A kibibyte figure of /proc/self/status ("VmRSS", "VmHWM").
long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

// A stereo 16-bit WAV of `frames` frames of silence with a LIST chunk
// of `listSize` bytes (claimed) before its data, holding an INAM text
// whose size field says `textSize`; `dataClaim` (0: the truth) is what the
// data chunk says of itself.
std::vector<uint8_t> LyingWav(uint32_t listSize, uint32_t textSize, uint32_t frames,
                              uint32_t dataClaim = 0) {
    std::vector<uint8_t> body;
    auto id = [&body](const char* s) {
        for (int i = 0; i < 4; ++i) body.push_back(static_cast<uint8_t>(s[i]));
    };
    id("WAVE");
    id("fmt ");
    PutLe32(body, 16);
    PutLe16(body, 1);
    PutLe16(body, 2);
    PutLe32(body, 44100);
    PutLe32(body, 44100 * 4);
    PutLe16(body, 4);
    PutLe16(body, 16);
    if (listSize) {
        id("LIST");
        PutLe32(body, listSize);
        id("INFO");
        id("INAM");
        PutLe32(body, textSize);
        for (char c : std::string("title", 6)) body.push_back(static_cast<uint8_t>(c));
    }
    id("data");
    PutLe32(body, dataClaim ? dataClaim : frames * 4);
    body.resize(body.size() + frames * 4, 0);
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
    PutLe32(file, static_cast<uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// A short tagged WMA file whose ASF header object claims `objects` objects
// inside it, and whose extended content description claims `attributes`
// attributes (0: as written).
std::vector<uint8_t> AsfClaiming(const TempDir& dir, uint32_t objects, uint16_t attributes = 0) {
    const std::string path = MakeWithFfmpeg(
        dir, "plain.wma", "-f lavfi -i sine=duration=0.5 -c:a wmav2 -metadata album=Album");
    std::vector<uint8_t> bytes = ReadFile(path);
    auto put = [&bytes](size_t at, uint32_t value, size_t width) {
        for (size_t i = 0; i < width && at + i < bytes.size(); ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    if (objects) put(24, objects, 4);
    if (attributes) {
        const std::string guid("\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50",
                               16);
        const std::string all(bytes.begin(), bytes.end());
        const size_t at = all.find(guid);
        EXPECT_NE(at, std::string::npos);
        if (at != std::string::npos) put(at + 24, attributes, 2);
    }
    return bytes;
}

enum class Reader { FFmpeg, FFmpegProbe, Bass, Wma };

std::unique_ptr<CAudioReader> MakeReader(Reader kind, const bass::CBassRuntime& rt) {
    switch (kind) {
        case Reader::FFmpeg: return std::make_unique<CFFmpegReader>();
        case Reader::FFmpegProbe: return std::make_unique<CFFmpegProbeReader>();
        case Reader::Bass: return std::make_unique<CBassReader>(rt);
        case Reader::Wma: return std::make_unique<CWmaReader>();
    }
    return nullptr;
}

}  // namespace

TEST(LyingSizes, ReadersRefuseClaimsBeyondTheFileWithoutAllocatingThem) {
    TempDir dir;
    const bass::CBassRuntime rt = RuntimeWithAllAddOns();
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Reader reader;
        bool opens;
    };
    const uint32_t frames = 44100;  // 1 s, 176 KB
    const Case cases[] = {
        // A LIST chunk, and the text inside it, claiming 2 GiB.
        {"list.wav", LyingWav(0x7FFFFFF0, 0x7FFFFF00, frames), Reader::FFmpeg, false},
        {"list.wav", LyingWav(0x7FFFFFF0, 0x7FFFFF00, frames), Reader::FFmpegProbe, false},
        {"list2.wav", LyingWav(0x20000023, 0x20000000, frames), Reader::FFmpeg, false},
        // The decoding layer too, also under a name that would send the
        // file to libavformat.
        {"list.wav", LyingWav(0x7FFFFFF0, 0x7FFFFF00, frames), Reader::Bass, false},
        {"list.m4a", LyingWav(0x7FFFFFF0, 0x7FFFFF00, frames), Reader::Bass, false},
        // Sample data cut short is no lie worth refusing: it is read.
        {"cut.wav", LyingWav(0, 0, frames, frames * 40), Reader::FFmpeg, true},
        {"cut-list.wav", LyingWav(18, 6, frames, frames * 40), Reader::FFmpegProbe, true},
        // An ASF header counting more objects, or attributes, than it holds.
        {"count.wma", AsfClaiming(dir, 0x7FFFFFF0), Reader::Wma, false},
        {"count.wma", AsfClaiming(dir, 0x7FFFFFF0), Reader::FFmpeg, false},
        {"attributes.wma", AsfClaiming(dir, 0, 0xFFFF), Reader::Wma, false},
        {"plain.wma", AsfClaiming(dir, 0), Reader::Wma, true},
    };
    // The libraries are loaded here once, so that a child's growth is the
    // reading alone.
    const std::string plain = dir.file("plain.wav");
    WriteFile(plain, LyingWav(0, 0, frames));
    for (Reader kind : {Reader::FFmpeg, Reader::Bass, Reader::Wma}) {
        auto reader = MakeReader(kind, rt);
        reader->Open(plain, 0);
        reader->Close();
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SCOPED_TRACE(static_cast<int>(c.reader));
        const std::string path = dir.file(c.name);
        WriteFile(path, c.bytes);
        // In a child of its own: a reader that did allocate the claim costs
        // the test nothing but its answer. The child's peak is reset first
        // and compared with where it started.
        EXPECT_EXIT(
            {
                std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
                if (!clear || std::fputs("5", clear) < 0 || std::fclose(clear) != 0) std::_Exit(9);
                const long before = StatusKiB("VmRSS");
                auto reader = MakeReader(c.reader, rt);
                const bool opened = reader->Open(path, 0) != 0;
                AudioBlock block;
                if (opened) reader->ReadBlock(block);
                reader->Close();
                const long grown = StatusKiB("VmHWM") - before;
                if (before < 0 || grown >= 100 * 1024) std::_Exit(2);
                std::_Exit(opened == c.opens ? 0 : 3);
            },
            ::testing::ExitedWithCode(0), "");
    }
}
