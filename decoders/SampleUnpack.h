// Conversion of blocks of interleaved fixed-size samples (linear PCM,
// floats, G.711) to the 16-bit left/right blocks a reader delivers. The
// stored format is chosen once per block: each format has its own loop, so
// no call through a pointer and no branch on the format per sample.
#pragma once

#include <cstdint>

namespace quelvox {

// One stored sample. Integers wider than 16 bits keep their most
// significant 16 bits; floats of nominal range -1..1 clamp outside it (NaN
// gives silence); G.711 codes expand by table.
enum class StoredSample : uint8_t {
    S8,
    U8,  // unsigned, 128 is silence
    S16Be,
    S16Le,
    S24Be,
    S24Le,
    S32Be,
    S32Le,
    F32Be,
    F32Le,
    F64Be,
    F64Le,
    Mulaw,
    Alaw,
};

// Channels decoded per frame; further channels are skipped.
inline constexpr int kUnpackMaxChannels = 8;

// Converts `frames` whole frames of `channels` interleaved samples from `p`.
// Mono goes to `left`; two channels to `left` and `right`; from three on,
// the first eight channels are mixed by DownmixToStereo and the rest are
// skipped.
void UnpackFrames(StoredSample format, const uint8_t* p, int frames, int channels, int16_t* left,
                  int16_t* right);

}  // namespace quelvox
