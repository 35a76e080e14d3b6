#include "platform/libav/DecodeLoop.h"

#include "platform/libav/EntryPoints.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace quelvox::libav {

FeedResult FeedNextPacket(AVFormatContext* format, AVCodecContext* codec, AVPacket* packet,
                          int streamIndex) {
    for (;;) {
        if (libav::Av().av_read_frame(format, packet) < 0) {
            libav::Av().avcodec_send_packet(codec, nullptr);
            return FeedResult::Flushed;
        }
        if (packet->stream_index != streamIndex) {
            libav::Av().av_packet_unref(packet);
            continue;
        }
        const int rc = libav::Av().avcodec_send_packet(codec, packet);
        libav::Av().av_packet_unref(packet);
        return rc >= 0 || rc == AVERROR(EAGAIN) ? FeedResult::Sent : FeedResult::Rejected;
    }
}

}  // namespace quelvox::libav
