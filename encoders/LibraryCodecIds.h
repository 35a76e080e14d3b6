// Translation of persisted codec ids to the ids of the linked libavcodec.
#pragma once

#include "common/CodecIds.h"

namespace quelvox {

// The library's codec id (an AVCodecID value) for a persisted id, or 0
// (AV_CODEC_ID_NONE) when the persisted id is unknown.
int ToLibraryCodecId(int persistedId);

}  // namespace quelvox
