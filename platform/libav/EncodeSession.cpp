#include "platform/libav/EncodeSession.h"

#include "common/ChannelMix.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
}

namespace quelvox::libav {

namespace {

// How short a stream of a codec may end, in encoder frames: MPEG audio
// demuxers find a stream only as a frame followed by another (they check
// the header after the first frame); the WMA decoder drops its first frame
// as the encoder's delay, which that encoder cannot be drained of, so one
// frame of silence must follow the last input for all of it to come out.
struct StreamFloor {
    AVCodecID codec;
    int leastFrames;
    int trailingFrames;
};
constexpr StreamFloor kStreamFloors[] = {
    {AV_CODEC_ID_MP2, 2, 0},
    {AV_CODEC_ID_MP3, 2, 0},
    {AV_CODEC_ID_WMAV1, 1, 1},
    {AV_CODEC_ID_WMAV2, 1, 1},
};

}  // namespace

void OutputContextDeleter::operator()(AVFormatContext* format) const {
    if (!format) return;
    if (format->pb && !(format->oformat->flags & AVFMT_NOFILE))
        libav::Av().avio_closep(&format->pb);
    libav::Av().avformat_free_context(format);
}

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

CodecContextPtr OpenEncoder(const AVCodec* codec, const EncoderSpec& wanted) {
    CodecContextPtr cc(libav::Av().avcodec_alloc_context3(codec));
    if (!cc) return nullptr;
    cc->codec_type = AVMEDIA_TYPE_AUDIO;
    cc->sample_rate = wanted.sampleRate;
    if (wanted.layoutMask == 0 ||
        av_channel_layout_from_mask(&cc->ch_layout, wanted.layoutMask) < 0 ||
        cc->ch_layout.nb_channels != wanted.channels) {
        av_channel_layout_uninit(&cc->ch_layout);
        av_channel_layout_default(&cc->ch_layout, wanted.channels);
    }
    if (codec->ch_layouts) {
        // An encoder that lists its layouts (ALAC, AC-3) refuses others; a
        // layout it does not list is replaced by the listed one of the same
        // count nearest to it by position; the caller reads the layout back
        // from the context and places the channels into it.
        bool listed = false;
        std::vector<uint64_t> sameCount;
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels != 0; ++l) {
            if (av_channel_layout_compare(l, &cc->ch_layout) == 0) listed = true;
            if (l->nb_channels == wanted.channels && l->order == AV_CHANNEL_ORDER_NATIVE)
                sameCount.push_back(l->u.mask);
        }
        const uint64_t asked =
            cc->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? cc->ch_layout.u.mask : 0;
        const uint64_t nearest = ClosestLayout(asked, wanted.channels, sameCount.data(),
                                               static_cast<int>(sameCount.size()));
        if (!listed && nearest) {
            av_channel_layout_uninit(&cc->ch_layout);
            if (av_channel_layout_from_mask(&cc->ch_layout, nearest) < 0) return nullptr;
        }
    }
    if (wanted.bitsPerRawSample > 0) cc->bits_per_raw_sample = wanted.bitsPerRawSample;
    cc->time_base = AVRational{1, wanted.sampleRate};
    cc->sample_fmt = wanted.sampleFormat;
    cc->bit_rate = wanted.bitRate;
    cc->strict_std_compliance = wanted.strictness;
    if (wanted.globalHeader) cc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : wanted.options)
        if (av_dict_set(&options, key.c_str(), value.c_str(), 0) < 0) {
            av_dict_free(&options);
            return nullptr;
        }
    const int opened = libav::Av().avcodec_open2(cc.get(), codec, &options);
    // An option the encoder does not know is left in the dictionary: the
    // encoder would not be the one we meant to configure.
    const bool allTaken = av_dict_count(options) == 0;
    av_dict_free(&options);
    if (opened < 0 || !allTaken) return nullptr;
    return cc;
}

bool CEncodeSession::CreateMuxer(const AVOutputFormat* format, bool interleaved) {
    AVFormatContext* ctx = nullptr;
    if (!format || libav::Av().avformat_alloc_output_context2(&ctx, format, nullptr, nullptr) < 0 ||
        !ctx)
        return false;
    // Bit-exact muxing: no "encoder=Lavf…" tag of the library's own in the
    // output (its tags are the source's, or none), and no random stream
    // serials or times, so the same conversion writes the same bytes.
    ctx->flags |= AVFMT_FLAG_BITEXACT;
    format_.reset(ctx);
    interleaved_ = interleaved;
    packet_.reset(libav::Av().av_packet_alloc());
    stream_ = libav::Av().avformat_new_stream(ctx, nullptr);
    if (!packet_ || !stream_) return false;
    stream_->id = 0;
    return true;
}

bool CEncodeSession::AttachEncoder(CodecContextPtr codec, int chunkFrames, int inputRate,
                                   AVSampleFormat inputFormat) {
    if (!codec || !stream_) return false;
    if (inputFormat != AV_SAMPLE_FMT_S16 && inputFormat != AV_SAMPLE_FMT_S32 &&
        inputFormat != AV_SAMPLE_FMT_FLT)
        return false;
    inputFormat_ = inputFormat;
    codec_ = std::move(codec);
    AVCodecContext* cc = codec_.get();
    const bool variable =
        cc->frame_size <= 1 || (cc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    frameSize_ = variable ? 0 : cc->frame_size;
    capacity_ = variable ? chunkFrames : cc->frame_size;
    smallLastFrame_ = (cc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    leastFrames_ = 1;
    trailingFrames_ = 0;
    for (const StreamFloor& floor : kStreamFloors) {
        if (floor.codec != cc->codec_id) continue;
        leastFrames_ = floor.leastFrames;
        trailingFrames_ = floor.trailingFrames;
    }

    frame_.reset(av_frame_alloc());
    if (!frame_) return false;
    frame_->format = cc->sample_fmt;
    frame_->sample_rate = cc->sample_rate;
    frame_->nb_samples = capacity_;
    if (av_channel_layout_copy(&frame_->ch_layout, &cc->ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0)
        return false;

    const int channels = cc->ch_layout.nb_channels;
    fifo_.reset(av_audio_fifo_alloc(cc->sample_fmt, channels, capacity_ * 2));
    if (!fifo_) return false;
    converted_.resize(static_cast<size_t>(channels));
    const bool direct = inputRate == cc->sample_rate &&
                        av_get_packed_sample_fmt(cc->sample_fmt) == inputFormat;
    if (!direct) {
        // Input already in the encoder's channels: only the rate and the
        // sample format change.
        SwrContext* swr = nullptr;
        if (swr_alloc_set_opts2(&swr, &cc->ch_layout, cc->sample_fmt, cc->sample_rate,
                                &cc->ch_layout, inputFormat, inputRate, 0, nullptr) < 0)
            return false;
        swr_.reset(swr);
        if (swr_init(swr) < 0) return false;
    }
    if (libav::Av().avcodec_parameters_from_context(stream_->codecpar, cc) < 0) return false;
    stream_->time_base = cc->time_base;
    return true;
}

bool CEncodeSession::OpenFile(const std::string& path) {
    AVFormatContext* fmt = format_.get();
    if (!fmt) return false;
    std::error_code ec;
    const bool existed = std::filesystem::exists(path, ec);
    if (!(fmt->oformat->flags & AVFMT_NOFILE)) {
        if (libav::Av().avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return false;
    }
    if (libav::Av().avformat_write_header(fmt, nullptr) < 0) {
        format_.reset();
        stream_ = nullptr;
        if (!existed) std::filesystem::remove(path, ec);
        return false;
    }
    headerWritten_ = true;
    return true;
}

bool CEncodeSession::NoteFailure(int code) {
    if (writeError_.empty()) writeError_ = ErrorText(code);
    return false;
}

bool CEncodeSession::WritePacket(AVPacket* packet) {
    const int r = interleaved_ ? libav::Av().av_interleaved_write_frame(format_.get(), packet)
                               : libav::Av().av_write_frame(format_.get(), packet);
    return r < 0 ? NoteFailure(r) : true;
}

// Hands every packet the encoder has ready to the muxer.
bool CEncodeSession::Drain() {
    AVCodecContext* cc = codec_.get();
    AVPacket* packet = packet_.get();
    bool ok = true;
    for (;;) {
        const int r = libav::Av().avcodec_receive_packet(cc, packet);
        if (r < 0) {
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return ok;
            return NoteFailure(r);
        }
        packet->stream_index = stream_->index;
        libav::Av().av_packet_rescale_ts(packet, cc->time_base, stream_->time_base);
        if (!WritePacket(packet)) ok = false;
        libav::Av().av_packet_unref(packet);
    }
}

// Encodes `frames` staged frames as one frame; with `pad`, the frame is
// completed with silence to the full frame size.
bool CEncodeSession::EncodeStaged(int frames, bool pad) {
    AVFrame* frame = frame_.get();
    // Should the encoder still hold the buffer, a fresh one of full size is
    // made.
    frame->nb_samples = capacity_;
    if (av_frame_make_writable(frame) < 0) return false;
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->extended_data), frames) !=
        frames)
        return false;
    const int size = pad ? capacity_ : frames;
    if (size > frames)
        av_samples_set_silence(frame->extended_data, frames, size - frames,
                               frame->ch_layout.nb_channels,
                               static_cast<AVSampleFormat>(frame->format));
    frame->nb_samples = size;
    frame->pts = nextPts_;
    nextPts_ += size;
    const int r = libav::Av().avcodec_send_frame(codec_.get(), frame);
    if (r < 0) return NoteFailure(r);
    return Drain();
}

bool CEncodeSession::EncodeReady(bool all, LastFrame last) {
    bool ok = true;
    for (;;) {
        const int have = av_audio_fifo_size(fifo_.get());
        if (have <= 0) return ok;
        if (frameSize_ == 0) {
            if (!EncodeStaged(std::min(have, capacity_), false)) ok = false;
        } else if (have >= frameSize_) {
            if (!EncodeStaged(frameSize_, false)) ok = false;
        } else {
            if (!all) return ok;
            const bool pad = last == LastFrame::PadToFrameSize || !smallLastFrame_;
            return EncodeStaged(have, pad) && ok;
        }
    }
}

bool CEncodeSession::Push(const int16_t* interleaved, int frames) {
    if (inputFormat_ != AV_SAMPLE_FMT_S16) return false;
    return PushSamples(interleaved, frames);
}

bool CEncodeSession::Push(const int32_t* interleaved, int frames) {
    if (inputFormat_ != AV_SAMPLE_FMT_S32) return false;
    return PushSamples(interleaved, frames);
}

bool CEncodeSession::Push(const float* interleaved, int frames) {
    if (inputFormat_ != AV_SAMPLE_FMT_FLT) return false;
    return PushSamples(interleaved, frames);
}

template <typename Sample>
bool CEncodeSession::PushSamples(const Sample* interleaved, int frames) {
    AVCodecContext* cc = codec_.get();
    if (!cc) return false;
    const int channels = cc->ch_layout.nb_channels;
    if (!swr_) {
        if (!interleaved || frames <= 0) return true;
        if (!av_sample_fmt_is_planar(cc->sample_fmt)) {
            void* data[1] = {const_cast<Sample*>(interleaved)};
            if (av_audio_fifo_write(fifo_.get(), data, frames) != frames) return false;
        } else {  // planar, the input's width
            std::vector<void*> data(static_cast<size_t>(channels));
            for (int c = 0; c < channels; ++c) {
                auto& plane = converted_[static_cast<size_t>(c)];
                plane.resize(static_cast<size_t>(frames) * sizeof(Sample));
                auto* out = reinterpret_cast<Sample*>(plane.data());
                for (int i = 0; i < frames; ++i) out[i] = interleaved[i * channels + c];
                data[static_cast<size_t>(c)] = plane.data();
            }
            if (av_audio_fifo_write(fifo_.get(), data.data(), frames) != frames) return false;
        }
        return EncodeReady(false, LastFrame::PadToFrameSize);
    }

    const int room = swr_get_out_samples(swr_.get(), interleaved ? frames : 0);
    if (room < 0) return false;
    if (room == 0) return true;
    const bool planar = av_sample_fmt_is_planar(cc->sample_fmt) != 0;
    const int planes = planar ? channels : 1;
    const int bytes = av_samples_get_buffer_size(nullptr, channels, room, cc->sample_fmt, 1);
    if (bytes < 0) return false;
    std::vector<uint8_t*> out(static_cast<size_t>(planes));
    for (int c = 0; c < planes; ++c) {
        auto& plane = converted_[static_cast<size_t>(c)];
        plane.resize(static_cast<size_t>(bytes / planes));
        out[static_cast<size_t>(c)] = plane.data();
    }
    const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(interleaved)};
    const int n = swr_convert(swr_.get(), out.data(), room, interleaved ? src : nullptr,
                              interleaved ? frames : 0);
    if (n < 0) return false;
    if (n > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out.data()), n) != n)
        return false;
    return EncodeReady(false, LastFrame::PadToFrameSize);
}

bool CEncodeSession::AppendSilence(int frames) {
    if (frames <= 0) return true;
    AVCodecContext* cc = codec_.get();
    const int channels = cc->ch_layout.nb_channels;
    uint8_t** data = nullptr;
    if (av_samples_alloc_array_and_samples(&data, nullptr, channels, frames, cc->sample_fmt, 0) < 0)
        return false;
    av_samples_set_silence(data, 0, frames, channels, cc->sample_fmt);
    const bool ok = av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(data), frames) == frames;
    av_freep(&data[0]);
    av_freep(&data);
    return ok;
}

bool CEncodeSession::Finish(LastFrame last) {
    if (!headerWritten_) return false;
    bool ok = true;
    if (codec_) {
        if (swr_ && !PushSamples(static_cast<const int16_t*>(nullptr), 0)) ok = false;
        // Encoders that prime their output (initial padding) may lose a
        // stream shorter than one frame in the trimming: it is completed to
        // a whole frame. A stream that received nothing stays empty.
        const int64_t sent = nextPts_ + av_audio_fifo_size(fifo_.get());
        int64_t least = 0;
        if (frameSize_ > 0 && sent > 0) {
            if (codec_->initial_padding > 0) least = frameSize_;
            if (leastFrames_ > 1) least = std::max(least, int64_t{frameSize_} * leastFrames_);
            if (trailingFrames_ > 0)
                least = std::max(least, sent + int64_t{frameSize_} * trailingFrames_);
        }
        if (sent < least &&
            !AppendSilence(static_cast<int>(
                std::min<int64_t>(least - sent, std::numeric_limits<int>::max()))))
            ok = false;
        if (!EncodeReady(true, last)) ok = false;
        const int r = libav::Av().avcodec_send_frame(codec_.get(), nullptr);
        if (r < 0 ? !NoteFailure(r) : !Drain()) ok = false;
    }
    AVFormatContext* fmt = format_.get();
    const int trailer = libav::Av().av_write_trailer(fmt);
    if (trailer < 0) ok = NoteFailure(trailer);
    if (fmt->pb && !(fmt->oformat->flags & AVFMT_NOFILE)) {
        libav::Av().avio_flush(fmt->pb);
        if (fmt->pb->error < 0) ok = NoteFailure(fmt->pb->error);
        const int closed = libav::Av().avio_closep(&fmt->pb);
        if (closed < 0) ok = NoteFailure(closed);
    }
    headerWritten_ = false;
    return ok;
}

}  // namespace quelvox::libav
