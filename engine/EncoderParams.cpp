#include "engine/EncoderParams.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace quelvox {

namespace {

struct BitrateSuggestion {
    int upToRate;  // applies to rates up to and including this one
    int rate;
    int mono;
    int stereo;
};

constexpr BitrateSuggestion kSuggestions[] = {
    {11025, 11025, 24000, 48000},  {12000, 12000, 24000, 48000}, {16000, 16000, 32000, 56000},
    {22050, 22050, 48000, 64000},  {24000, 24000, 48000, 64000}, {32000, 32000, 64000, 96000},
    {44100, 44100, 96000, 128000},
};
constexpr BitrateSuggestion kAboveAll = {0, 48000, 128000, 192000};

// Channels other than a surround choice are mono or stereo.
int LimitChannels(int channels) { return channels == 1 ? 1 : 2; }

// The automatic bit rate of a codec: its own per-channel rate where the
// catalogue gives one, else the general suggestion.
int AutomaticBitrate(const CodecEntry& codec, int rate, int channels) {
    if (codec.autoBitRatePerChannel > 0) return codec.autoBitRatePerChannel * channels;
    // Surround: the stereo suggestion for each pair of channels.
    if (channels > 2) return SuggestBitrate(rate, 2) / 2 * channels;
    return SuggestBitrate(rate, channels);
}

// The automatic bit rate on the codec's list. Surround takes the stereo
// pair's rate for each pair of channels; where that passes the top of a
// list made for mono and stereo, the product stands.
int ListedAutomaticBitrate(const CodecEntry& codec, int rate, int channels) {
    if (channels <= 2) return SnapToList(AutomaticBitrate(codec, rate, channels), codec.bitRates);
    const int pair = SnapToList(AutomaticBitrate(codec, rate, 2), codec.bitRates);
    const int total = pair / 2 * channels;
    return total <= codec.bitRates.back() ? SnapToList(total, codec.bitRates) : total;
}

}  // namespace

WideTarget ResolveWideTarget(const OutputFormatEntry& entry, int resolvedChannels,
                             int sourceChannels, int sourceBits, bool sourceFloat) {
    WideTarget t;
    t.channels = resolvedChannels;
    t.codecId = entry.CodecID;
    const CodecDepth* depth = FindCodecDepth(entry);
    if (!depth) return t;
    const bool automatic = entry.AutoEncParam != 0;
    if (automatic && sourceChannels > 2)
        t.channels = std::min(sourceChannels, depth->maxChannels);
    t.bits = depth->bits;
    if (automatic && depth->followsSource && sourceFloat && depth->codecFloat != 0) {
        t.bits = 32;
        t.codecId = depth->codecFloat;
    } else if (automatic && depth->followsSource && sourceBits > 16) {
        t.bits = std::min(sourceBits > 24 ? 32 : 24, depth->maxBits);
        const int codec = t.bits == 24 ? depth->codec24 : t.bits == 32 ? depth->codec32 : 0;
        if (codec != 0) t.codecId = codec;
    }
    return t;
}

int SnapToList(int value, std::span<const int> list) {
    size_t n = 0;
    while (n < list.size() && list[n] != -1) ++n;
    if (n == 0) return value;
    if (value <= list[0]) return list[0];
    if (value >= list[n - 1]) return list[n - 1];
    for (size_t i = 1; i < n; ++i) {
        if (value == list[i]) return value;
        if (value < list[i]) {
            int64_t below = static_cast<int64_t>(value) - list[i - 1];
            int64_t above = static_cast<int64_t>(list[i]) - value;
            return above < below ? list[i] : list[i - 1];
        }
    }
    return list[n - 1];
}

int SuggestBitrate(int rate, int channels, int* rateOut) {
    const BitrateSuggestion* pick = &kAboveAll;
    for (const BitrateSuggestion& s : kSuggestions) {
        if (rate <= s.upToRate) {
            pick = &s;
            break;
        }
    }
    if (rateOut) *rateOut = pick->rate;
    return channels == 1 ? pick->mono : pick->stereo;
}

int AdjustChannelsToMask(int channels, int mask) {
    if (channels == 2 && !(mask & kChannelMaskStereo)) return 1;
    if (channels == 1 && !(mask & kChannelMaskMono)) return 2;
    return channels;
}

bool ResolveEncoderParams(const OutputFormatEntry& entry, int srcRate, int srcChannels,
                          ResolvedParams& out, int blockChannels) {
    const CodecEntry* codec = FindCodec(entry);
    if (!codec) return false;
    const bool hasBitRates = !codec->bitRates.empty();
    const bool manual = entry.AutoEncParam == 0;

    ResolvedParams r;
    r.codec = codec;
    r.sampleRate = !manual && KeepsSourceRate(*codec, srcRate)
                       ? srcRate
                       : SnapToList(manual && entry.SampleRate != 0 ? entry.SampleRate : srcRate,
                                    codec->sampleRates);
    if (codec->encoderRate != 0 && !(manual && r.sampleRate == srcRate)) {
        // Resampling to the encoder's own rate is done once, here, rather
        // than again inside the encoder; only a source already at a rate
        // the user picked stays as it is.
        r.sampleRate = codec->encoderRate;
    }
    const int channels = manual && entry.Channels != 0 ? entry.Channels : srcChannels;
    // A surround choice the codec offers is taken as it is; everything
    // else is mono or stereo.
    const bool surround = manual && ((channels == 6 && (codec->channelMask & kChannelMask51)) ||
                                     (channels == 8 && (codec->channelMask & kChannelMask71)));
    r.channels = surround ? channels
                          : AdjustChannelsToMask(LimitChannels(channels), codec->channelMask);
    if (!manual) {
        const int kept = SurroundChannelsKept(*codec, blockChannels);
        if (kept != 0) r.channels = kept;
        r.bitRate = hasBitRates ? ListedAutomaticBitrate(*codec, r.sampleRate, r.channels) : 0;
    } else {
        int bitRate = entry.BitRate;
        if (bitRate == 0 && hasBitRates)
            bitRate = AutomaticBitrate(*codec, r.sampleRate, r.channels);
        // Without a bit-rate list the stored value passes unchanged, but a
        // negative one is meaningless for any encoder.
        if (bitRate < 0 && !hasBitRates) bitRate = 0;
        r.bitRate = SnapToList(bitRate, codec->bitRates);
    }
    out = r;
    return true;
}

}  // namespace quelvox
