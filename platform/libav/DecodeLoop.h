// The feeding half of a libavcodec decode loop, shared by every reader that
// decodes through libavformat and libavcodec.
#pragma once

extern "C" {
struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
}

namespace quelvox::libav {

enum class FeedResult {
    Sent,      // a packet of the stream went to the decoder, which took it
    Rejected,  // a packet went to the decoder, which refused it (damaged)
    Flushed,   // the input ended (or failed): the end of stream was sent
};

// Reads packets until one of stream `streamIndex` comes (packets of other
// streams are released unread) and sends it to the decoder. When reading
// fails, at the end of the file or on a read error, the decoder is sent the
// end of stream instead, so that it gives out the frames it still holds.
// `packet` is a scratch packet, left unreferenced on return.
FeedResult FeedNextPacket(AVFormatContext* format, AVCodecContext* codec, AVPacket* packet,
                          int streamIndex);

}  // namespace quelvox::libav
