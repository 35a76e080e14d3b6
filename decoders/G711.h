// ITU-T G.711 expansion of 8-bit µ-law and A-law codes to 16-bit linear
// samples.
#pragma once

#include <cstdint>

namespace quelvox {

// µ-law code to linear: the 14-bit value of the code's segment and step,
// scaled to 16 bits (range -32124 .. 32124).
int16_t MulawToLinear(uint8_t code);

// A-law code to linear: the 13-bit value of the code's segment and step,
// scaled to 16 bits (range -32256 .. 32256).
int16_t AlawToLinear(uint8_t code);

// The expansions of all 256 codes, indexed by code, for converting blocks.
const int16_t* MulawTable();
const int16_t* AlawTable();

}  // namespace quelvox
