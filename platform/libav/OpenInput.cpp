#include "platform/libav/OpenInput.h"

#include "common/ByteOrder.h"
#include "platform/libav/EntryPoints.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quelvox::libav {

namespace {

// Chunks and header objects looked at before a file is taken as it is: a
// file that has more is not made of lies about its sizes.
constexpr int kMaxChunks = 4096;

bool Is(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32;
}

constexpr uint8_t kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// ASF header objects that count their records: where the count is, how
// wide it is, and the fewest bytes a record takes.
struct AsfCountedObject {
    uint8_t guid[16];
    size_t countAt;
    size_t countBytes;
    uint64_t minRecordBytes;
};
constexpr AsfCountedObject kAsfCountedObjects[] = {
    // Extended content description: name, type and value lengths.
    {{0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8,
      0x50},
     24, 2, 6},
    // Codec list: type and three lengths.
    {{0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11, 0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48,
      0xF6},
     40, 4, 8},
};

// Whether the record count of a header object of `size` bytes whose first
// bytes are `o` fits inside it; true for objects that count nothing.
template <typename ReadFn>
bool AsfCountFits(const uint8_t* o, uint64_t at, uint64_t size, ReadFn read) {
    for (const AsfCountedObject& k : kAsfCountedObjects) {
        if (std::memcmp(o, k.guid, 16) != 0) continue;
        const uint64_t records = k.countAt + k.countBytes;
        if (size < records) return false;
        uint8_t c[4]{};
        if (!read(at + k.countAt, c, k.countBytes)) return false;
        const uint64_t count = k.countBytes == 2 ? ReadLe16(c) : ReadLe32(c);
        return count <= (size - records) / k.minRecordBytes;
    }
    return true;
}

// The ASF header object and the objects inside it (their count, each
// one's 64-bit size, and the record counts of the objects that have one)
// within the file. Each object inside takes 24 bytes at least, so their
// count cannot be more than the header holds.
template <typename ReadFn>
bool AsfHeaderFits(uint64_t fileSize, ReadFn read) {
    uint8_t h[30];
    if (!read(0, h, sizeof h)) return true;
    const uint64_t headerSize = ReadLe64(h + 16);
    const uint32_t objects = ReadLe32(h + 24);
    if (headerSize < 30 || headerSize > fileSize) return false;
    if (objects > (headerSize - 30) / 24) return false;
    uint64_t at = 30;
    for (uint32_t i = 0; i < objects && i < kMaxChunks; ++i) {
        uint8_t o[24];
        if (!read(at, o, sizeof o)) return false;
        const uint64_t size = ReadLe64(o + 16);
        if (size < 24 || size > headerSize - at) return false;
        if (!AsfCountFits(o, at, size, read)) return false;
        at += size;
    }
    return true;
}

// Every chunk of a RIFF WAVE file up to its end, or up to a sample data
// chunk that runs past the end (a file cut short), inside the file.
template <typename ReadFn>
bool RiffChunksFit(bool bigEndian, uint64_t fileSize, ReadFn read) {
    uint64_t at = 12;
    for (int i = 0; i < kMaxChunks && at + 8 <= fileSize; ++i) {
        uint8_t c[8];
        if (!read(at, c, sizeof c)) return true;
        // A walk that lost its way (a writer that left out a pad byte)
        // cannot tell anything more.
        if (!std::all_of(c, c + 4, [](uint8_t b) { return b >= 0x20 && b < 0x7F; })) return true;
        const uint64_t size = bigEndian ? ReadBe32(c + 4) : ReadLe32(c + 4);
        const uint64_t left = fileSize - (at + 8);
        if (size > left) {
            // Sample data may be cut short (RF64 says 0xFFFFFFFF there);
            // nothing read from it is allocated whole.
            return Is(c, "data");
        }
        at += 8 + size + (size & 1);
    }
    return true;
}

template <typename ReadFn>
bool SizesFit(const uint8_t* head, size_t headSize, uint64_t fileSize, ReadFn read) {
    if (headSize >= 12 && (Is(head, "RIFF") || Is(head, "RIFX") || Is(head, "RF64") ||
                           Is(head, "BW64")) &&
        Is(head + 8, "WAVE"))
        return RiffChunksFit(Is(head, "RIFX"), fileSize, read);
    if (headSize >= 16 && std::memcmp(head, kAsfHeaderGuid, 16) == 0)
        return AsfHeaderFits(fileSize, read);
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool HeadSizesFitFile(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return true;
    std::FILE* f = file.get();
    if (fseeko(f, 0, SEEK_END) != 0) return true;
    const off_t end = ftello(f);
    if (end <= 0) return true;
    const auto read = [f](uint64_t offset, uint8_t* out, size_t n) {
        return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 &&
               std::fread(out, 1, n, f) == n;
    };
    uint8_t head[16];
    const size_t headSize = std::min<size_t>(sizeof head, static_cast<size_t>(end));
    if (!read(0, head, headSize)) return true;
    return SizesFit(head, headSize, static_cast<uint64_t>(end), read);
}

int OpenInput(AVFormatContext** context, const std::string& path, const AVInputFormat* format) {
    if (!HeadSizesFitFile(path)) return AVERROR_INVALIDDATA;
    return Av().avformat_open_input(context, path.c_str(), format, nullptr);
}

}  // namespace quelvox::libav
