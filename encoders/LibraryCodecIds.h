// Translation of persisted codec ids to the ids of the linked libavcodec,
// and the encoder each codec is written with.
#pragma once

#include <cstdint>
#include <span>

#include "common/CodecIds.h"

namespace quelvox {

// The library's codec id (an AVCodecID value) for a persisted id, or 0
// (AV_CODEC_ID_NONE) when the persisted id is unknown.
int ToLibraryCodecId(int persistedId);

// One private option of an encoder (AVOptions of its context).
struct EncoderOption {
    const char* key;
    const char* value;
};

// The encoder a persisted id is written with, where the library's default
// encoder of the codec is not the one we want (FFmpeg's own Opus encoder
// is experimental; libopus is not), with the options it is opened with.
// `name` is null for the library's default encoder. `layouts` are the
// channel layouts (FFmpeg channel masks) the encoder stores correctly, where
// it takes any layout without saying so; empty when it takes every layout
// or lists its own.
struct EncoderChoice {
    const char* name = nullptr;
    std::span<const EncoderOption> options;
    std::span<const uint64_t> layouts;
};
EncoderChoice ChooseEncoder(int persistedId);

}  // namespace quelvox
