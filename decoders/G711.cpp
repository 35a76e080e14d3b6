#include "decoders/G711.h"

#include <array>
#include <cstddef>

namespace quelvox {

int16_t MulawToLinear(uint8_t code) {
    // Codes are transmitted inverted. Bit 7 is the sign (1 = positive after
    // inversion gives 0), bits 6..4 the segment, bits 3..0 the step.
    const unsigned c = static_cast<uint8_t>(~code);
    const int segment = (c >> 4) & 7;
    const int step = c & 15;
    // Decision value in the middle of the step, with the 0x84 bias that
    // makes the segments line up, then the bias removed.
    const int magnitude = (((step << 3) + 0x84) << segment) - 0x84;
    return static_cast<int16_t>((c & 0x80) ? -magnitude : magnitude);
}

int16_t AlawToLinear(uint8_t code) {
    // Even bits are transmitted inverted. Bit 7 set means positive.
    const unsigned c = code ^ 0x55u;
    const int segment = (c >> 4) & 7;
    const int step = c & 15;
    int magnitude = (step << 4) + 8;  // middle of the step, 13-bit scaled by 16
    if (segment > 0) magnitude = (magnitude + 0x100) << (segment - 1);
    return static_cast<int16_t>((c & 0x80) ? magnitude : -magnitude);
}

namespace {

template <int16_t (*Expand)(uint8_t)>
std::array<int16_t, 256> ExpansionTable() {
    std::array<int16_t, 256> table{};
    for (int code = 0; code < 256; ++code)
        table[static_cast<size_t>(code)] = Expand(static_cast<uint8_t>(code));
    return table;
}

}  // namespace

const int16_t* MulawTable() {
    static const std::array<int16_t, 256> table = ExpansionTable<MulawToLinear>();
    return table.data();
}

const int16_t* AlawTable() {
    static const std::array<int16_t, 256> table = ExpansionTable<AlawToLinear>();
    return table.data();
}

}  // namespace quelvox
