#include "common/TagSpans.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace quelvox {

namespace {

constexpr int kId3v2HeaderBytes = 10;
constexpr int kId3v1Bytes = 128;
constexpr int kApeFooterBytes = 32;

bool ReadAt(std::ifstream& file, int64_t offset, char* out, size_t count) {
    file.clear();
    file.seekg(offset);
    return static_cast<bool>(file.read(out, static_cast<std::streamsize>(count)));
}

uint32_t SyncSafe(const unsigned char* b) {
    return (uint32_t(b[0] & 0x7F) << 21) | (uint32_t(b[1] & 0x7F) << 14) |
           (uint32_t(b[2] & 0x7F) << 7) | uint32_t(b[3] & 0x7F);
}

uint32_t LittleEndian32(const unsigned char* b) {
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

// The end of the leading tags: ID3v2 tags one after another, then FLAC's
// metadata blocks up to the one marked last.
int64_t LeadingTagsEnd(std::ifstream& file, int64_t size) {
    int64_t at = 0;
    unsigned char h[kId3v2HeaderBytes];
    while (at + kId3v2HeaderBytes <= size && ReadAt(file, at, reinterpret_cast<char*>(h), sizeof h) &&
           std::memcmp(h, "ID3", 3) == 0) {
        const bool footer = (h[5] & 0x10) != 0;
        at += kId3v2HeaderBytes + SyncSafe(h + 6) + (footer ? kId3v2HeaderBytes : 0);
    }
    at = std::min(at, size);
    unsigned char magic[4];
    if (at + 4 > size || !ReadAt(file, at, reinterpret_cast<char*>(magic), 4) ||
        std::memcmp(magic, "fLaC", 4) != 0)
        return at;
    at += 4;
    unsigned char block[4];
    while (at + 4 <= size && ReadAt(file, at, reinterpret_cast<char*>(block), 4)) {
        const int64_t length = (int64_t(block[1]) << 16) | (int64_t(block[2]) << 8) | block[3];
        at += 4 + length;
        if (block[0] & 0x80) break;  // the last metadata block
    }
    return std::min(at, size);
}

// The start of the trailing tags: an ID3v1 tag at the very end, an APEv2
// tag before it or at the end.
int64_t TrailingTagsStart(std::ifstream& file, int64_t from, int64_t end) {
    char tag[3];
    if (end - kId3v1Bytes >= from && ReadAt(file, end - kId3v1Bytes, tag, 3) &&
        std::memcmp(tag, "TAG", 3) == 0)
        end -= kId3v1Bytes;
    unsigned char footer[kApeFooterBytes];
    if (end - kApeFooterBytes >= from &&
        ReadAt(file, end - kApeFooterBytes, reinterpret_cast<char*>(footer), sizeof footer) &&
        std::memcmp(footer, "APETAGEX", 8) == 0) {
        const bool header = (LittleEndian32(footer + 20) & 0x80000000u) != 0;
        const int64_t bytes = int64_t(LittleEndian32(footer + 12)) + (header ? kApeFooterBytes : 0);
        end = std::max(from, end - bytes);
    }
    return end;
}

}  // namespace

int64_t AudioDataBytes(const std::string& path, int64_t fileSize) {
    if (fileSize < 0) return -1;
    std::ifstream file(path, std::ios::binary);
    if (!file) return fileSize;
    const int64_t start = LeadingTagsEnd(file, fileSize);
    const int64_t end = TrailingTagsStart(file, start, fileSize);
    return std::max<int64_t>(0, end - start);
}

}  // namespace quelvox
