// The WMA format list: the Windows Media audio formats the WMA writer can
// produce, and how one is chosen for a requested rate, bit rate and channel
// count.
#pragma once

#include "platform/wma/WmaLayer.h"

#include <vector>

namespace quelvox {

struct WmaFormatItem {
    wma::WmaMediaType mediaType;
    int bitrate = 0;  // bit/s
};

// Ordered by ascending sample rate, then ascending bit rate; no two items
// share rate, bit rate and channel count.
using WmaFormatList = std::vector<WmaFormatItem>;

// Rebuilds `list` from the formats the WMA layer offers. Returns 0 and
// leaves the list unchanged when the Windows Media codecs are missing,
// otherwise 1.
int BuildWmaFormatList(WmaFormatList& list);

// Rebuilds `list` from the given codec formats, in their order: formats
// described as audio/video ("(A/V)" in any case), formats other than WMA and
// WMA Pro, and formats with other than 1 or 2 channels are skipped; each
// kept one is dropped when an item of the same rate, bit rate and channel
// count is already there, else inserted before the first item of higher
// rate or of the same rate and a higher (or the same) bit rate.
void BuildWmaFormatListFrom(const std::vector<wma::WmaCodecFormat>& formats, WmaFormatList& list);

// Chooses the format for rate `rate` (Hz), bit rate `bitrate` (bit/s) and
// `channels`: an exact rate wins over a near one; among formats of that rate
// the nearest bit rate wins (a tie goes to the higher); without that rate
// the next higher rate's lowest bit rate, and only when there is no higher
// rate the highest format below. Null when the list has no format with
// that channel count.
const WmaFormatItem* SelectWmaFormat(const WmaFormatList& list, int rate, int bitrate,
                                     int channels);

// Rate and bit rate the WMA writer picks for itself from the source's rate
// and channel count (mono, or anything else).
void WmaAutoParams(int sourceRate, int sourceChannels, int& rate, int& bitrate);

}  // namespace quelvox
