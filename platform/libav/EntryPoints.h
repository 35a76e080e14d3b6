// libavcodec and libavformat, opened when a stream first needs them (see
// platform/LazyLibrary.h). libavutil and libswresample, small and used by
// every resampled job, stay linked.
//
// Code that uses the two libraries calls them through Av(): every entry
// point we use is one member of CEntryPoints, typed from the library's own
// declaration, so a call reads `Av().avcodec_open2(...)` and is checked by
// the compiler exactly like a direct call.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace quelvox::libav {

// Every function of libavcodec and libavformat the program calls.
#define QUELVOX_LIBAV_ENTRY_POINTS(X)  \
    X(av_find_best_stream)             \
    X(av_find_input_format)            \
    X(av_get_bits_per_sample)          \
    X(av_guess_format)                 \
    X(av_interleaved_write_frame)      \
    X(av_packet_alloc)                 \
    X(av_packet_free)                  \
    X(av_packet_get_side_data)         \
    X(av_packet_rescale_ts)            \
    X(av_packet_unref)                 \
    X(av_read_frame)                   \
    X(av_seek_frame)                   \
    X(av_write_frame)                  \
    X(av_write_trailer)                \
    X(avcodec_alloc_context3)          \
    X(avcodec_find_decoder)            \
    X(avcodec_find_encoder)            \
    X(avcodec_find_encoder_by_name)    \
    X(avcodec_flush_buffers)           \
    X(avcodec_free_context)            \
    X(avcodec_open2)                   \
    X(avcodec_parameters_from_context) \
    X(avcodec_parameters_to_context)   \
    X(avcodec_receive_frame)           \
    X(avcodec_receive_packet)          \
    X(avcodec_send_frame)              \
    X(avcodec_send_packet)             \
    X(avformat_alloc_output_context2)  \
    X(avformat_close_input)            \
    X(avformat_find_stream_info)       \
    X(avformat_free_context)           \
    X(avformat_new_stream)             \
    X(avformat_open_input)             \
    X(avformat_write_header)           \
    X(avio_closep)                     \
    X(avio_flush)                      \
    X(avio_open)                       \
    X(avio_seek)                       \
    X(avio_size)

struct CEntryPoints {
#define QUELVOX_LIBAV_POINTER(name) decltype(&::name) name = nullptr;
    QUELVOX_LIBAV_ENTRY_POINTS(QUELVOX_LIBAV_POINTER)
#undef QUELVOX_LIBAV_POINTER
};

// Opens both libraries the first time it is called (once per process, safe
// from any thread). False when they cannot be opened or lack an entry
// point; `error` then gets the loader's text.
bool LoadCodecLibraries(std::string* error = nullptr);

// The entry points. Every path into the libraries starts with a successful
// LoadCodecLibraries; calling this before one is a programming error and
// stops the program with a message.
const CEntryPoints& Av();

}  // namespace quelvox::libav
