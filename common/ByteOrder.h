// Reading unsigned integers of a fixed byte order from raw bytes, for the
// parsers of file headers and chunks. The caller checks that the bytes are
// there.
#pragma once

#include <cstdint>

namespace quelvox {

inline uint16_t ReadBe16(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t ReadBe32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline uint16_t ReadLe16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadLe32(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace quelvox
