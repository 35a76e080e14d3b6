#include "decoders/SampleUnpack.h"

#include "common/AudioBlock.h"
#include "common/ByteOrder.h"
#include "common/SampleHelpers.h"
#include "decoders/G711.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quelvox {

namespace {

inline int16_t Make16(uint8_t hi, uint8_t lo) {
    return static_cast<int16_t>(static_cast<uint16_t>((hi << 8) | lo));
}

inline uint32_t Bits32(const uint8_t* p, bool bigEndian) {
    return bigEndian ? ReadBe32(p) : ReadLe32(p);
}

// A stored IEEE float or double, as it is.
inline float LoadFloat32(const uint8_t* p, bool bigEndian) {
    const uint32_t bits = Bits32(p, bigEndian);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline double LoadFloat64(const uint8_t* p, bool bigEndian) {
    const uint64_t bits = bigEndian ? (uint64_t{Bits32(p, true)} << 32) | Bits32(p + 4, true)
                                    : (uint64_t{Bits32(p + 4, false)} << 32) | Bits32(p, false);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// One decoder per stored format: its size and the conversion of one sample.
// Integers keep their top two bytes (for big-endian data the first two, for
// little-endian the last two).
template <int Bytes, bool BigEndian>
struct Int {
    static constexpr int kBytes = Bytes;
    int16_t operator()(const uint8_t* p) const {
        if constexpr (Bytes == 1)
            return static_cast<int16_t>(static_cast<int8_t>(p[0]) * 256);
        else if constexpr (BigEndian)
            return Make16(p[0], p[1]);
        else
            return Make16(p[Bytes - 1], p[Bytes - 2]);
    }
};

struct Unsigned8 {
    static constexpr int kBytes = 1;
    int16_t operator()(const uint8_t* p) const { return static_cast<int16_t>((p[0] - 128) * 256); }
};

template <bool BigEndian>
struct Float32 {
    static constexpr int kBytes = 4;
    int16_t operator()(const uint8_t* p) const {
        return FloatToSample16(LoadFloat32(p, BigEndian));
    }
};

template <bool BigEndian>
struct Float64 {
    static constexpr int kBytes = 8;
    int16_t operator()(const uint8_t* p) const {
        return FloatToSample16(LoadFloat64(p, BigEndian));
    }
};

struct Table8 {
    static constexpr int kBytes = 1;
    const int16_t* table;
    int16_t operator()(const uint8_t* p) const { return table[p[0]]; }
};

template <class Decode>
void Unpack(Decode decode, const uint8_t* p, int frames, int channels, int16_t* left,
            int16_t* right) {
    constexpr int kBytes = Decode::kBytes;
    if (channels == 1) {
        for (int i = 0; i < frames; ++i) left[i] = decode(p + i * kBytes);
    } else if (channels == 2) {
        for (int i = 0; i < frames; ++i) {
            left[i] = decode(p + 2 * i * kBytes);
            right[i] = decode(p + (2 * i + 1) * kBytes);
        }
    } else {
        const int kept = std::min(channels, kUnpackMaxChannels);
        const size_t frameBytes = static_cast<size_t>(channels) * kBytes;
        int16_t frame[kUnpackMaxChannels];
        for (int i = 0; i < frames; ++i, p += frameBytes) {
            for (int c = 0; c < kept; ++c) frame[c] = decode(p + c * kBytes);
            DownmixToStereo(channels, frame, &left[i], &right[i]);
        }
    }
}

// A wide unpack fills at most the channels a block holds.
static_assert(kUnpackMaxChannels <= kMaxChannels);

// Wide decoders: one sample as float.
template <class Decode16>
struct Narrow {
    static constexpr int kBytes = Decode16::kBytes;
    Decode16 decode;
    float operator()(const uint8_t* p) const { return Int16ToFloat(decode(p)); }
};

template <bool BigEndian>
struct Wide24 {
    static constexpr int kBytes = 3;
    float operator()(const uint8_t* p) const {
        const uint32_t u =
            BigEndian ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8)
                      : (uint32_t{p[2]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[0]} << 8);
        return IntToFloat(static_cast<int32_t>(u) >> 8, 24);
    }
};

template <bool BigEndian>
struct Wide32 {
    static constexpr int kBytes = 4;
    float operator()(const uint8_t* p) const {
        return IntToFloat(static_cast<int32_t>(Bits32(p, BigEndian)), 32);
    }
};

template <bool BigEndian>
struct WideFloat32 {
    static constexpr int kBytes = 4;
    float operator()(const uint8_t* p) const {
        return SaneFloatSample(LoadFloat32(p, BigEndian));
    }
};

template <bool BigEndian>
struct WideFloat64 {
    static constexpr int kBytes = 8;
    float operator()(const uint8_t* p) const {
        return SaneFloatSample(LoadFloat64(p, BigEndian));
    }
};

template <class Decode>
void UnpackWide(Decode decode, const uint8_t* p, int frames, int channels, float* const* out) {
    constexpr int kBytes = Decode::kBytes;
    const int kept = std::min(channels, kUnpackMaxChannels);
    const size_t frameBytes = static_cast<size_t>(channels) * kBytes;
    for (int i = 0; i < frames; ++i, p += frameBytes)
        for (int c = 0; c < kept; ++c) out[c][i] = decode(p + c * kBytes);
}

}  // namespace

int WideBits(StoredSample format) {
    switch (format) {
        case StoredSample::S24Be:
        case StoredSample::S24Le: return 24;
        case StoredSample::S32Be:
        case StoredSample::S32Le:
        case StoredSample::F32Be:
        case StoredSample::F32Le:
        case StoredSample::F64Be:
        case StoredSample::F64Le: return 32;
        default: return 16;
    }
}

void UnpackFramesWide(StoredSample format, const uint8_t* p, int frames, int channels,
                      float* const* out) {
    switch (format) {
        case StoredSample::S8: return UnpackWide(Narrow<Int<1, true>>{}, p, frames, channels, out);
        case StoredSample::U8: return UnpackWide(Narrow<Unsigned8>{}, p, frames, channels, out);
        case StoredSample::S16Be:
            return UnpackWide(Narrow<Int<2, true>>{}, p, frames, channels, out);
        case StoredSample::S16Le:
            return UnpackWide(Narrow<Int<2, false>>{}, p, frames, channels, out);
        case StoredSample::S24Be: return UnpackWide(Wide24<true>{}, p, frames, channels, out);
        case StoredSample::S24Le: return UnpackWide(Wide24<false>{}, p, frames, channels, out);
        case StoredSample::S32Be: return UnpackWide(Wide32<true>{}, p, frames, channels, out);
        case StoredSample::S32Le: return UnpackWide(Wide32<false>{}, p, frames, channels, out);
        case StoredSample::F32Be: return UnpackWide(WideFloat32<true>{}, p, frames, channels, out);
        case StoredSample::F32Le: return UnpackWide(WideFloat32<false>{}, p, frames, channels, out);
        case StoredSample::F64Be: return UnpackWide(WideFloat64<true>{}, p, frames, channels, out);
        case StoredSample::F64Le: return UnpackWide(WideFloat64<false>{}, p, frames, channels, out);
        case StoredSample::Mulaw:
            return UnpackWide(Narrow<Table8>{Table8{MulawTable()}}, p, frames, channels, out);
        case StoredSample::Alaw:
            return UnpackWide(Narrow<Table8>{Table8{AlawTable()}}, p, frames, channels, out);
    }
}

void UnpackFrames(StoredSample format, const uint8_t* p, int frames, int channels, int16_t* left,
                  int16_t* right) {
    switch (format) {
        case StoredSample::S8: return Unpack(Int<1, true>{}, p, frames, channels, left, right);
        case StoredSample::U8: return Unpack(Unsigned8{}, p, frames, channels, left, right);
        case StoredSample::S16Be: return Unpack(Int<2, true>{}, p, frames, channels, left, right);
        case StoredSample::S16Le: return Unpack(Int<2, false>{}, p, frames, channels, left, right);
        case StoredSample::S24Be: return Unpack(Int<3, true>{}, p, frames, channels, left, right);
        case StoredSample::S24Le: return Unpack(Int<3, false>{}, p, frames, channels, left, right);
        case StoredSample::S32Be: return Unpack(Int<4, true>{}, p, frames, channels, left, right);
        case StoredSample::S32Le: return Unpack(Int<4, false>{}, p, frames, channels, left, right);
        case StoredSample::F32Be: return Unpack(Float32<true>{}, p, frames, channels, left, right);
        case StoredSample::F32Le: return Unpack(Float32<false>{}, p, frames, channels, left, right);
        case StoredSample::F64Be: return Unpack(Float64<true>{}, p, frames, channels, left, right);
        case StoredSample::F64Le: return Unpack(Float64<false>{}, p, frames, channels, left, right);
        case StoredSample::Mulaw:
            return Unpack(Table8{MulawTable()}, p, frames, channels, left, right);
        case StoredSample::Alaw:
            return Unpack(Table8{AlawTable()}, p, frames, channels, left, right);
    }
}

}  // namespace quelvox
