// AAC (ADTS), MP4/M4A with AAC or ALAC, ADX and Ogg FLAC through libavformat
// and libavcodec, delivered as interleaved signed 16-bit samples in the
// decoder's channel order (for 5.1: L R C LFE BL BR, as in WAV).
//
// Wide delivery: every channel with the stream's positions. Lossless
// streams deeper than 16 bits (ALAC, Ogg FLAC) give their samples at full
// depth through GetFloatFrames; all others, lossy AAC and ADX included,
// count as 16-bit and give GetData's samples.
//
// The length is found before decoding by walking the packets once: the sum
// of their durations, less the samples the container asks the decoder to
// drop at the start (encoder delay) and at the end (padding).
#include "platform/bass/Backends.h"

#include "common/AudioBlock.h"
#include "common/SampleHelpers.h"
#include "common/TagSpans.h"
#include "platform/libav/DecodeLoop.h"
#include "platform/libav/EntryPoints.h"
#include "platform/libav/OpenInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace quelvox::bass {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* f) const { libav::Av().avformat_close_input(&f); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { libav::Av().avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { libav::Av().av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using Format = std::unique_ptr<AVFormatContext, FormatCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;

// A decoder that keeps failing without delivering anything is given up
// after this many packets in a row.
constexpr int kErrorLimit = 64;

struct Flags {
    bool aac, alac, adx, flac;
};

// Opens the container and finds its audio stream, accepting only the
// container and codec pairs whose add-on is enabled. Returns the stream
// index, or -1.
int OpenContainer(const std::string& path, const Flags& flags, Format& fmt) {
    if (!libav::LoadCodecLibraries()) return -1;
    AVFormatContext* raw = nullptr;
    if (libav::OpenInput(&raw, path) < 0) return -1;
    fmt.reset(raw);
    if (libav::Av().avformat_find_stream_info(fmt.get(), nullptr) < 0) return -1;
    int index = libav::Av().av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return -1;
    const std::string container = fmt->iformat->name;
    const AVCodecID id = fmt->streams[index]->codecpar->codec_id;
    const bool mp4 = container.find("mp4") != std::string::npos;
    const bool ok = (id == AV_CODEC_ID_AAC && flags.aac && (container == "aac" || mp4)) ||
                    (id == AV_CODEC_ID_ALAC && flags.alac && mp4) ||
                    (id == AV_CODEC_ID_ADPCM_ADX && flags.adx && container == "adx") ||
                    (id == AV_CODEC_ID_FLAC && flags.flac && container == "ogg");
    return ok ? index : -1;
}

// Frames of the stream, counted from the packets alone: their durations
// (converted from the stream's time base to `rate`) less the samples the
// container asks the decoder to drop at the start and the end. -1 when a
// packet does not tell its duration.
int64_t CountFrames(AVFormatContext* fmt, int index, int rate) {
    const AVRational tb = fmt->streams[index]->time_base;
    Packet pkt(libav::Av().av_packet_alloc());
    if (!pkt) return -1;
    int64_t duration = 0;  // in time-base units
    int64_t dropped = 0;   // in samples
    bool known = true;
    while (libav::Av().av_read_frame(fmt, pkt.get()) >= 0) {
        if (pkt->stream_index == index && !(pkt->flags & AV_PKT_FLAG_DISCARD)) {
            if (pkt->duration > 0)
                duration += pkt->duration;
            else
                known = false;
            size_t size = 0;
            const uint8_t* skip =
                libav::Av().av_packet_get_side_data(pkt.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 8) dropped += int64_t(AV_RL32(skip)) + int64_t(AV_RL32(skip + 4));
        }
        libav::Av().av_packet_unref(pkt.get());
    }
    if (!known) return -1;
    int64_t frames = av_rescale_q(duration, tb, AVRational{1, rate}) - dropped;
    return std::max<int64_t>(frames, 0);
}

class CFFmpegChannel : public CChannel {
public:
    CFFmpegChannel(Format fmt, Codec codec, int index, int rate, int channels, uint64_t frames,
                   int64_t fileSize, std::string path)
        : fmt_(std::move(fmt)),
          codec_(std::move(codec)),
          index_(index),
          rate_(rate),
          channels_(channels),
          frames_(frames),
          fileSize_(fileSize),
          path_(std::move(path)),
          pkt_(libav::Av().av_packet_alloc()),
          frame_(av_frame_alloc()) {
        const AVCodecID id = codec_->codec_id;
        if (id == AV_CODEC_ID_ALAC || id == AV_CODEC_ID_FLAC) {
            const int raw = codec_->bits_per_raw_sample > 0
                                ? codec_->bits_per_raw_sample
                                : fmt_->streams[index_]->codecpar->bits_per_raw_sample;
            if (raw > 16) deepBits_ = raw <= 24 ? 24 : 32;
        }
    }

    bool Valid() const { return pkt_ && frame_; }

    int SourceBits() const override { return deepBits_ ? deepBits_ : 16; }

    // The decoder's layout: a native one stores its channels in the order
    // of its mask bits; a custom one names each channel's position.
    std::vector<uint64_t> ChannelPositions() const override {
        const AVChannelLayout& layout = codec_->ch_layout;
        if (layout.nb_channels != channels_) return {};
        std::vector<uint64_t> positions;
        if (layout.order == AV_CHANNEL_ORDER_NATIVE) {
            for (uint64_t m = layout.u.mask; m != 0; m &= m - 1) positions.push_back(m & (~m + 1));
            if (static_cast<int>(positions.size()) != channels_) return {};
        } else if (layout.order == AV_CHANNEL_ORDER_CUSTOM && layout.u.map) {
            for (int c = 0; c < channels_; ++c) {
                const int id = layout.u.map[c].id;
                if (id < 0 || id >= 64) return {};
                positions.push_back(uint64_t{1} << id);
            }
        }
        return positions;
    }

    int GetFloatFrames(float* buffer, int frames) override {
        if (!deepBits_ || frames <= 0) return -1;
        const uint64_t total = frames_ * static_cast<uint64_t>(channels_);
        const uint64_t left = total - std::min(delivered_, total);
        const size_t want = static_cast<size_t>(std::min<uint64_t>(
            static_cast<uint64_t>(frames) * static_cast<uint64_t>(channels_), left));
        if (want == 0) return -1;
        while (pending_.size() - offset_ < want && Decode()) {
        }
        // Whole frames only, as GetData gives them.
        const size_t ch = static_cast<size_t>(channels_);
        const size_t n = std::min(want, pending_.size() - offset_) / ch * ch;
        if (n == 0) return -1;
        std::memcpy(buffer, pendingWide_.data() + offset_, n * sizeof(float));
        offset_ += n;
        delivered_ += n;
        return static_cast<int>(n / ch);
    }

    uint64_t GetLength() const override { return frames_ * FrameBytes(); }
    ChannelInfo GetInfo() const override { return {rate_, channels_, 0}; }
    int64_t GetFilePositionEnd() const override { return fileSize_; }
    uint64_t GetPosition() const override { return delivered_ * 2; }
    TagInfo ReadTags() const override { return ReadFileTags(path_, TagCodePage()); }

    int GetData(void* buffer, uint32_t bytes) override {
        const size_t wantSamples = static_cast<size_t>(bytes / FrameBytes()) * channels_;
        // The container's length is the true end: the decoder's last frame
        // may run on into the encoder's padding.
        const uint64_t left = frames_ * channels_ - std::min(delivered_, frames_ * channels_);
        const size_t want = static_cast<size_t>(std::min<uint64_t>(wantSamples, left));
        if (want == 0) return -1;
        while (pending_.size() - offset_ < want && Decode()) {
        }
        const size_t n = std::min(want, pending_.size() - offset_);
        if (n == 0) return -1;
        std::memcpy(buffer, pending_.data() + offset_, n * 2);
        offset_ += n;
        delivered_ += n;
        return static_cast<int>(n * 2);
    }

private:
    uint64_t FrameBytes() const { return static_cast<uint64_t>(channels_) * 2; }

    // Decodes the next frame into the pending samples; false at the end.
    bool Decode() {
        if (offset_ > 0) {
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(offset_));
            if (deepBits_)
                pendingWide_.erase(pendingWide_.begin(),
                                   pendingWide_.begin() + static_cast<std::ptrdiff_t>(offset_));
            offset_ = 0;
        }
        int errors = 0;
        while (!finished_) {
            int rc = libav::Av().avcodec_receive_frame(codec_.get(), frame_.get());
            if (rc == 0) {
                Append(frame_.get());
                av_frame_unref(frame_.get());
                return true;
            }
            if (rc == AVERROR_EOF) {
                finished_ = true;
                break;
            }
            if (rc != AVERROR(EAGAIN)) {
                // A damaged frame: skip it and go on with the next packet.
                if (++errors > kErrorLimit) finished_ = true;
            }
            if (draining_) {
                if (rc == AVERROR(EAGAIN)) finished_ = true;
                continue;
            }
            if (!Feed() && ++errors > kErrorLimit) finished_ = true;
        }
        return false;
    }

    // Sends the next packet of our stream, or the end of stream; false
    // when the decoder rejected the packet.
    bool Feed() {
        switch (libav::FeedNextPacket(fmt_.get(), codec_.get(), pkt_.get(), index_)) {
            case libav::FeedResult::Flushed: draining_ = true; return true;
            case libav::FeedResult::Sent: return true;
            case libav::FeedResult::Rejected: break;
        }
        return false;
    }

    void Append(const AVFrame* f) {
        const int fch = f->ch_layout.nb_channels;
        const auto fmt = static_cast<AVSampleFormat>(f->format);
        const bool planar = av_sample_fmt_is_planar(fmt) != 0;
        const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
        const int bytes = av_get_bytes_per_sample(fmt);
        if (fch <= 0 || bytes <= 0 || f->nb_samples <= 0) return;
        const size_t base = pending_.size();
        pending_.resize(base + static_cast<size_t>(f->nb_samples) * channels_, 0);
        int16_t* out = pending_.data() + base;
        if (deepBits_) pendingWide_.resize(pending_.size(), 0.0f);
        float* wide = deepBits_ ? pendingWide_.data() + base : nullptr;
        const int shared = std::min(fch, channels_);
        for (int i = 0; i < f->nb_samples; ++i) {
            for (int c = 0; c < shared; ++c) {
                const uint8_t* p =
                    planar ? f->extended_data[c] + static_cast<size_t>(i) * bytes
                           : f->extended_data[0] + (static_cast<size_t>(i) * fch + c) * bytes;
                const size_t at = static_cast<size_t>(i) * channels_ + c;
                out[at] = Sample(p, packed);
                if (wide) wide[at] = WideSample(p, packed);
            }
        }
    }

    // A sample as float at full depth: integers as s / 2^(bits-1) of the
    // width the decoder gives them in (FFmpeg left-justifies deeper
    // samples in 32 bits), floats unchanged, NaN as 0.
    static float WideSample(const uint8_t* p, AVSampleFormat packed) {
        switch (packed) {
            case AV_SAMPLE_FMT_S32: {
                int32_t v;
                std::memcpy(&v, p, 4);
                return IntToFloat(v, 32);
            }
            case AV_SAMPLE_FMT_FLT: {
                float v;
                std::memcpy(&v, p, 4);
                return SaneFloatSample(v);
            }
            case AV_SAMPLE_FMT_DBL: {
                double v;
                std::memcpy(&v, p, 8);
                return SaneFloatSample(v);
            }
            default: return Int16ToFloat(Sample(p, packed));
        }
    }

    static int16_t Sample(const uint8_t* p, AVSampleFormat packed) {
        switch (packed) {
            case AV_SAMPLE_FMT_U8: return static_cast<int16_t>((int(*p) - 128) * 256);
            case AV_SAMPLE_FMT_S16: {
                int16_t v;
                std::memcpy(&v, p, 2);
                return v;
            }
            case AV_SAMPLE_FMT_S32: {
                int32_t v;
                std::memcpy(&v, p, 4);
                return static_cast<int16_t>(v >> 16);
            }
            case AV_SAMPLE_FMT_S64: {
                int64_t v;
                std::memcpy(&v, p, 8);
                return static_cast<int16_t>(v >> 48);
            }
            case AV_SAMPLE_FMT_FLT: {
                float v;
                std::memcpy(&v, p, 4);
                return FloatToSample16(v);
            }
            case AV_SAMPLE_FMT_DBL: {
                double v;
                std::memcpy(&v, p, 8);
                return FloatToSample16(v);
            }
            default: return 0;
        }
    }

    Format fmt_;
    Codec codec_;
    int index_;
    int rate_;
    int channels_;
    uint64_t frames_;
    int64_t fileSize_;
    std::string path_;
    Packet pkt_;
    Frame frame_;
    std::vector<int16_t> pending_;
    // The same samples as float, for a deep stream's wide delivery.
    std::vector<float> pendingWide_;
    int deepBits_ = 0;  // 24 or 32 for a deep lossless stream, else 0
    size_t offset_ = 0;
    uint64_t delivered_ = 0;  // samples
    bool draining_ = false;
    bool finished_ = false;
};

}  // namespace

namespace {

// Frames value that leaves the output uncapped (while counting).
constexpr uint64_t kUncapped = UINT64_MAX / 64;

std::unique_ptr<CFFmpegChannel> MakeChannel(const std::string& path, const Flags& flags,
                                            uint64_t frames) {
    Format fmt;
    const int index = OpenContainer(path, flags, fmt);
    if (index < 0) return nullptr;
    const AVCodecParameters* par = fmt->streams[index]->codecpar;
    const int rate = par->sample_rate;
    const int channels = par->ch_layout.nb_channels;
    if (rate <= 0 || channels <= 0) return nullptr;
    const AVCodec* decoder = libav::Av().avcodec_find_decoder(par->codec_id);
    if (!decoder) return nullptr;
    Codec codec(libav::Av().avcodec_alloc_context3(decoder));
    if (!codec || libav::Av().avcodec_parameters_to_context(codec.get(), par) < 0) return nullptr;
    codec->pkt_timebase = fmt->streams[index]->time_base;
    if (libav::Av().avcodec_open2(codec.get(), decoder, nullptr) < 0) return nullptr;

    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    int64_t audioBytes = AudioDataBytes(path, ec ? -1 : static_cast<int64_t>(size));
    // A stream that states its bit rate (AAC in MP4, whose covers sit among
    // the boxes) gives the audio's bytes from it.
    const double seconds = static_cast<double>(frames) / rate;
    if (par->bit_rate > 0 && frames > 0 && frames < kUncapped)
        audioBytes = static_cast<int64_t>(
            std::min(static_cast<double>(par->bit_rate) / 8.0 * seconds, 9.0e18));
    auto channel = std::make_unique<CFFmpegChannel>(std::move(fmt), std::move(codec), index, rate,
                                                    channels, frames, audioBytes, path);
    if (!channel->Valid()) return nullptr;
    return channel;
}

}  // namespace

std::unique_ptr<CChannel> OpenFFmpegStream(const std::string& path, bool allowAac, bool allowAlac,
                                           bool allowAdx, bool allowFlac) {
    const Flags flags{allowAac, allowAlac, allowAdx, allowFlac};
    if (!flags.aac && !flags.alac && !flags.adx && !flags.flac) return nullptr;

    // First pass: the length, from the packets when they tell it, else by
    // decoding the whole stream once.
    int64_t frames = -1;
    {
        Format probe;
        const int index = OpenContainer(path, flags, probe);
        if (index < 0) return nullptr;
        const int rate = probe->streams[index]->codecpar->sample_rate;
        if (rate <= 0) return nullptr;
        frames = CountFrames(probe.get(), index, rate);
    }
    if (frames < 0) {
        auto counter = MakeChannel(path, flags, kUncapped);
        if (!counter) return nullptr;
        const uint64_t frameBytes = static_cast<uint64_t>(counter->GetInfo().chans) * 2;
        std::vector<uint8_t> scratch(64 * 1024);
        uint64_t bytes = 0;
        for (int got;
             (got = counter->GetData(scratch.data(), static_cast<uint32_t>(scratch.size()))) > 0;)
            bytes += static_cast<uint64_t>(got);
        frames = static_cast<int64_t>(bytes / frameBytes);
    }

    // Second pass: the decoder, from the start.
    return MakeChannel(path, flags, static_cast<uint64_t>(frames));
}

}  // namespace quelvox::bass
