#include "encoders/LibraryCodecIds.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace quelvox {

namespace {

struct CodecIdPair {
    int persisted;
    AVCodecID library;
};

// One row per codec the catalogue offers.
constexpr CodecIdPair kCodecIds[] = {
    {kCodecPcmS16Le, AV_CODEC_ID_PCM_S16LE},
    {kCodecPcmS16Be, AV_CODEC_ID_PCM_S16BE},
    {kCodecPcmS8, AV_CODEC_ID_PCM_S8},
    {kCodecPcmU8, AV_CODEC_ID_PCM_U8},
    {kCodecPcmMulaw, AV_CODEC_ID_PCM_MULAW},
    {kCodecPcmAlaw, AV_CODEC_ID_PCM_ALAW},
    {kCodecPcmS32Le, AV_CODEC_ID_PCM_S32LE},
    {kCodecPcmS32Be, AV_CODEC_ID_PCM_S32BE},
    {kCodecPcmS24Le, AV_CODEC_ID_PCM_S24LE},
    {kCodecPcmS24Be, AV_CODEC_ID_PCM_S24BE},
    {kCodecPcmF32Be, AV_CODEC_ID_PCM_F32BE},
    {kCodecPcmF32Le, AV_CODEC_ID_PCM_F32LE},
    {kCodecPcmF64Be, AV_CODEC_ID_PCM_F64BE},
    {kCodecPcmF64Le, AV_CODEC_ID_PCM_F64LE},
    {kCodecAdpcmImaQt, AV_CODEC_ID_ADPCM_IMA_QT},
    {kCodecAdpcmImaWav, AV_CODEC_ID_ADPCM_IMA_WAV},
    {kCodecAdpcmMs, AV_CODEC_ID_ADPCM_MS},
    {kCodecAdpcmG726, AV_CODEC_ID_ADPCM_G726},
    {kCodecAdpcmSwf, AV_CODEC_ID_ADPCM_SWF},
    {kCodecAdpcmYamaha, AV_CODEC_ID_ADPCM_YAMAHA},
    {kCodecAmrNb, AV_CODEC_ID_AMR_NB},
    {kCodecMp2, AV_CODEC_ID_MP2},
    {kCodecMp3, AV_CODEC_ID_MP3},
    {kCodecAac, AV_CODEC_ID_AAC},
    {kCodecAc3, AV_CODEC_ID_AC3},
    {kCodecVorbis, AV_CODEC_ID_VORBIS},
    {kCodecFlac, AV_CODEC_ID_FLAC},
    {kCodecAlac, AV_CODEC_ID_ALAC},
    {kCodecGsm, AV_CODEC_ID_GSM},
    {kCodecGsmMs, AV_CODEC_ID_GSM_MS},
    {kCodecOpus, AV_CODEC_ID_OPUS},
};

// Variable bit rate: the bit rate asked for is the average, and each frame
// takes what its content needs.
constexpr EncoderOption kLibopusOptions[] = {{"vbr", "on"}};

// Layouts by channel count (1 … 8) as Vorbis and Opus store them: their
// decoders place the channels of each count so, whatever the file says.
constexpr uint64_t kVorbisLayouts[] = {
    AV_CH_LAYOUT_MONO,         AV_CH_LAYOUT_STEREO,       AV_CH_LAYOUT_SURROUND,
    AV_CH_LAYOUT_QUAD,         AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT1_BACK,
    AV_CH_LAYOUT_6POINT1,      AV_CH_LAYOUT_7POINT1,
};

// The layouts AAC stores as a standard channel configuration, which every
// decoder places by position; others would need a program configuration
// element that decoders do not label.
constexpr uint64_t kAacLayouts[] = {
    AV_CH_LAYOUT_MONO,         AV_CH_LAYOUT_STEREO,       AV_CH_LAYOUT_SURROUND,
    AV_CH_LAYOUT_4POINT0,      AV_CH_LAYOUT_5POINT0_BACK, AV_CH_LAYOUT_5POINT1_BACK,
    AV_CH_LAYOUT_7POINT1,
};

struct EncoderRow {
    int persisted;
    const char* name;
    std::span<const EncoderOption> options;
    std::span<const uint64_t> layouts;
};

// Codecs not written with the library's default encoder, or whose encoder
// stores only some layouts without listing them itself.
constexpr EncoderRow kEncoders[] = {
    {kCodecOpus, "libopus", kLibopusOptions, kVorbisLayouts},
    {kCodecVorbis, nullptr, {}, kVorbisLayouts},
    {kCodecAac, nullptr, {}, kAacLayouts},
};

}  // namespace

int ToLibraryCodecId(int persistedId) {
    for (const auto& p : kCodecIds)
        if (p.persisted == persistedId) return p.library;
    return AV_CODEC_ID_NONE;
}

EncoderChoice ChooseEncoder(int persistedId) {
    for (const auto& row : kEncoders)
        if (row.persisted == persistedId) return {row.name, row.options, row.layouts};
    return {};
}

}  // namespace quelvox
