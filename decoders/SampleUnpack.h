// Conversion of blocks of interleaved fixed-size samples (linear PCM,
// floats, G.711) to the 16-bit left/right blocks a reader delivers. The
// stored format is chosen once per block: each format has its own loop, so
// no call through a pointer and no branch on the format per sample.
#pragma once

#include <cstdint>

namespace quelvox {

// One stored sample. Integers wider than 16 bits keep their most
// significant 16 bits; floats of nominal range -1..1 clamp outside it (NaN
// and infinities give silence); G.711 codes expand by table.
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

// Bits a stored format keeps when unpacked wide: 24 for 24-bit integers,
// 32 for 32-bit integers and floats, 16 for every other format.
int WideBits(StoredSample format);
// Whether a stored format holds floating-point samples.
inline bool IsFloatSample(StoredSample format) {
    return format == StoredSample::F32Be || format == StoredSample::F32Le ||
           format == StoredSample::F64Be || format == StoredSample::F64Le;
}

// Converts `frames` whole frames of `channels` interleaved samples from `p`
// to float, channel c (the first kUnpackMaxChannels) into out[c]; further
// channels are skipped. Integers of WideBits 24 or 32 give s / 2^(bits-1),
// floats their value as SaneFloatSample keeps it (non-finite values as 0,
// the rest limited to ±kFloatSampleLimit), and the
// 16-bit formats exactly UnpackFrames' samples.
void UnpackFramesWide(StoredSample format, const uint8_t* p, int frames, int channels,
                      float* const* out);

}  // namespace quelvox
