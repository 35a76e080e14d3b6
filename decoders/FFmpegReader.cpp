#include "decoders/FFmpegReader.h"

#include "common/TagSpans.h"

#include "common/TagInfo.h"
#include "platform/libav/DecodeLoop.h"
#include "platform/libav/EncodeSession.h"

#include "common/SampleHelpers.h"
#include "common/TextCodec.h"
#include "platform/libav/EntryPoints.h"
#include "platform/libav/OpenInput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>

namespace quelvox {

namespace {

// Codecs whose every frame decodes on its own, without delay or priming,
// so that after a seek the first frame's timestamp is its first sample.
constexpr AVCodecID kExactSeekCodecs[] = {
    AV_CODEC_ID_APE,       AV_CODEC_ID_TTA,       AV_CODEC_ID_WAVPACK,   AV_CODEC_ID_FLAC,
    AV_CODEC_ID_ALAC,      AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S16BE, AV_CODEC_ID_PCM_S24LE,
    AV_CODEC_ID_PCM_S24BE, AV_CODEC_ID_PCM_S32LE, AV_CODEC_ID_PCM_F32LE, AV_CODEC_ID_PCM_U8,
};


// After the end-of-stream packet was sent, a decoder that keeps answering
// with errors instead of delivering its last frames or the end is given up
// after this many answers.
constexpr int kFlushErrorLimit = 32;

int DurationSeconds(const AVFormatContext* format) {
    if (format->duration == AV_NOPTS_VALUE || format->duration <= 0) return 0;
    return static_cast<int>(
        std::min<int64_t>(format->duration / AV_TIME_BASE, std::numeric_limits<int>::max()));
}

// Bit rate for display: the stream's own, else (lossless codecs such as
// FLAC leave the stream's empty) the audio's bytes over the duration, the
// tags around the audio (covers, lyrics) not counted; the container's
// overall rate when neither is known.
int BitrateKbps(AVFormatContext* format, int64_t streamBitrate) {
    int64_t bps = streamBitrate > 0 ? streamBitrate : format->bit_rate;
    const int64_t size = format->pb ? libav::Av().avio_size(format->pb) : -1;
    if (streamBitrate <= 0 && format->duration > 0 && format->duration != AV_NOPTS_VALUE &&
        size > 0 && format->url) {
        const int64_t audio = AudioDataBytes(format->url, size);
        const double seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
        if (audio > 0)
            bps = static_cast<int64_t>(std::min(static_cast<double>(audio) * 8.0 / seconds, 9.0e18));
    }
    if (bps <= 0) return 0;
    return static_cast<int>(std::min<int64_t>(bps / 1000, std::numeric_limits<int>::max()));
}

// One sample of a decoded frame as a staged float: with `full` at the
// decoder's own depth, otherwise as the 16-bit sample it always gave (the
// top 16 bits of wider integers, float times 32768 truncated and clamped).
inline float StagedValue(const AVFrame* frame, AVSampleFormat packed, bool planar, int bytes,
                         int channels, int index, int channel, bool full) {
    const uint8_t* p;
    if (planar) {
        p = frame->extended_data[channel] + static_cast<size_t>(index) * static_cast<size_t>(bytes);
    } else {
        p = frame->extended_data[0] + (static_cast<size_t>(index) * static_cast<size_t>(channels) +
                                       static_cast<size_t>(channel)) *
                                          static_cast<size_t>(bytes);
    }
    switch (packed) {
        case AV_SAMPLE_FMT_U8:
            return Int16ToFloat(static_cast<int16_t>((static_cast<int>(*p) - 128) * 256));
        case AV_SAMPLE_FMT_S16: {
            int16_t v;
            std::memcpy(&v, p, sizeof v);
            return Int16ToFloat(v);
        }
        case AV_SAMPLE_FMT_S32: {
            int32_t v;
            std::memcpy(&v, p, sizeof v);
            if (full) return static_cast<float>(std::ldexp(static_cast<double>(v), -31));
            return Int16ToFloat(static_cast<int16_t>(v >> 16));
        }
        case AV_SAMPLE_FMT_S64: {
            int64_t v;
            std::memcpy(&v, p, sizeof v);
            if (full) return static_cast<float>(std::ldexp(static_cast<double>(v), -63));
            return Int16ToFloat(static_cast<int16_t>(v >> 48));
        }
        case AV_SAMPLE_FMT_FLT: {
            float v;
            std::memcpy(&v, p, sizeof v);
            if (full) return SaneFloatSample(v);
            return Int16ToFloat(
                ClipSample(ClampToInt(static_cast<double>(SaneFloatSample(v)) * 32768.0, -32768, 32767)));
        }
        case AV_SAMPLE_FMT_DBL: {
            double v;
            std::memcpy(&v, p, sizeof v);
            if (full) return SaneFloatSample(v);
            return Int16ToFloat(ClipSample(
                ClampToInt(static_cast<double>(SaneFloatSample(v)) * 32768.0, -32768, 32767)));
        }
        default: return 0.0f;
    }
}

// Stored orders of six-channel streams whose layout names no positions, by
// the rule ChooseSixChannelMix picks.
struct SixOrder {
    SixChannelMix mix;
    uint64_t positions[6];
};
constexpr SixOrder kSixOrders[] = {
    {SixChannelMix::Generic,
     {channel::kFrontLeft, channel::kFrontRight, channel::kFrontCenter, channel::kLowFrequency,
      channel::kBackLeft, channel::kBackRight}},
    {SixChannelMix::Aac,
     {channel::kFrontCenter, channel::kFrontLeft, channel::kFrontRight, channel::kBackLeft,
      channel::kBackRight, channel::kLowFrequency}},
    {SixChannelMix::Mp4Mpeg,
     {channel::kFrontLeft, channel::kFrontRight, channel::kBackLeft, channel::kBackRight,
      channel::kFrontCenter, channel::kLowFrequency}},
    {SixChannelMix::Vorbis,
     {channel::kFrontLeft, channel::kFrontCenter, channel::kFrontRight, channel::kBackLeft,
      channel::kBackRight, channel::kLowFrequency}},
};

// Surround channels on the side and at the back take the same place in
// every six-channel rule.
AVChannel Normalised(AVChannel c) {
    if (c == AV_CHAN_SIDE_LEFT) return AV_CHAN_BACK_LEFT;
    if (c == AV_CHAN_SIDE_RIGHT) return AV_CHAN_BACK_RIGHT;
    return c;
}

bool IsMpegAudio(int codecId) {
    return codecId == AV_CODEC_ID_MP1 || codecId == AV_CODEC_ID_MP2 || codecId == AV_CODEC_ID_MP3 ||
           codecId == AV_CODEC_ID_MP3ON4;
}

}  // namespace

SixChannelMix ChooseSixChannelMix(const AVChannelLayout* layout, int codecId,
                                  const std::string& containerName) {
    if (layout && layout->nb_channels == 6 &&
        (layout->order == AV_CHANNEL_ORDER_NATIVE || layout->order == AV_CHANNEL_ORDER_CUSTOM)) {
        AVChannel c[6];
        for (unsigned i = 0; i < 6; ++i)
            c[i] = Normalised(av_channel_layout_channel_from_index(layout, i));
        struct Rule {
            SixChannelMix mix;
            AVChannel order[6];
        };
        static constexpr Rule kRules[] = {
            {SixChannelMix::Generic,
             {AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_FRONT_CENTER, AV_CHAN_LOW_FREQUENCY,
              AV_CHAN_BACK_LEFT, AV_CHAN_BACK_RIGHT}},
            {SixChannelMix::Aac,
             {AV_CHAN_FRONT_CENTER, AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_BACK_LEFT,
              AV_CHAN_BACK_RIGHT, AV_CHAN_LOW_FREQUENCY}},
            {SixChannelMix::Mp4Mpeg,
             {AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT, AV_CHAN_BACK_LEFT, AV_CHAN_BACK_RIGHT,
              AV_CHAN_FRONT_CENTER, AV_CHAN_LOW_FREQUENCY}},
            {SixChannelMix::Vorbis,
             {AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_CENTER, AV_CHAN_FRONT_RIGHT, AV_CHAN_BACK_LEFT,
              AV_CHAN_BACK_RIGHT, AV_CHAN_LOW_FREQUENCY}},
        };
        for (const Rule& rule : kRules) {
            if (std::equal(c, c + 6, rule.order)) return rule.mix;
        }
    }
    // The order the library's decoder delivers when it names no positions.
    // Its AAC decoder already reorders the bitstream's C L R BL BR LFE to
    // L R C LFE BL BR, so AAC takes the generic rule.
    if (codecId == AV_CODEC_ID_AAC) return SixChannelMix::Generic;
    if (codecId == AV_CODEC_ID_MP3ON4) return SixChannelMix::Mp4Mpeg;
    if (IsMpegAudio(codecId) && (containerName.find("mp4") != std::string::npos ||
                                 containerName.find("mov") != std::string::npos))
        return SixChannelMix::Mp4Mpeg;
    return SixChannelMix::Generic;
}

// ---------------------------------------------------------------------------

CFFmpegReader::CFFmpegReader() { ResetInfo(); }

CFFmpegReader::~CFFmpegReader() { Close(); }

void CFFmpegReader::Close() {
    if (packet_) libav::Av().av_packet_free(&packet_);
    if (frame_) av_frame_free(&frame_);
    if (codec_) libav::Av().avcodec_free_context(&codec_);
    if (format_) libav::Av().avformat_close_input(&format_);
    streamIndex_ = -1;
    flushed_ = false;
    finished_ = false;
    codecId_ = 0;
    containerName_.clear();
    stage_.clear();
    stage_.shrink_to_fit();
    stageRead_ = 0;
    stageChannels_ = 1;
    blockChannels_ = 1;
    blockLayout_ = 0;
    sourceBits_ = 16;
    sourceFloat_ = false;
    ResetInfo();
}

int CFFmpegReader::Open(const std::string& path, int renderRate) {
    (void)renderRate;
    Close();
    openError_.clear();
    if (!libav::LoadCodecLibraries()) return 0;

    int rc = libav::OpenInput(&format_, path);
    if (rc < 0) {
        openError_ = libav::ErrorText(rc);
        format_ = nullptr;
        return 0;
    }
    rc = libav::Av().avformat_find_stream_info(format_, nullptr);
    if (rc < 0) {
        openError_ = libav::ErrorText(rc);
        Close();
        return 0;
    }

    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVCodecParameters* par = format_->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id != AV_CODEC_ID_NONE) {
            streamIndex_ = static_cast<int>(i);
            break;
        }
    }
    if (streamIndex_ < 0) {
        Close();
        return 0;
    }

    // From here on a failure still leaves HasAudio answering 1: the file
    // has audio that cannot be decoded, which is not "no audio".
    auto fail = [this](int error) {
        openError_ = libav::ErrorText(error);
        int index = streamIndex_;
        Close();
        streamIndex_ = index;
        return 0;
    };

    AVStream* stream = format_->streams[streamIndex_];
    const AVCodec* decoder = libav::Av().avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) return fail(AVERROR_DECODER_NOT_FOUND);
    codec_ = libav::Av().avcodec_alloc_context3(decoder);
    if (!codec_) return fail(AVERROR(ENOMEM));
    rc = libav::Av().avcodec_parameters_to_context(codec_, stream->codecpar);
    if (rc < 0) return fail(rc);
    codec_->pkt_timebase = stream->time_base;
    rc = libav::Av().avcodec_open2(codec_, decoder, nullptr);
    if (rc < 0) return fail(rc);
    packet_ = libav::Av().av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!packet_ || !frame_) return fail(AVERROR(ENOMEM));

    codecId_ = static_cast<int>(stream->codecpar->codec_id);
    if (format_->iformat && format_->iformat->name) containerName_ = format_->iformat->name;

    int64_t size = format_->pb ? libav::Av().avio_size(format_->pb) : 0;
    total = size > 0 ? static_cast<uint64_t>(size) : 0;
    UpdatePosition();
    sampleRate = codec_->sample_rate;
    channels = codec_->ch_layout.nb_channels;
    bitrateKbps = BitrateKbps(format_, codec_->bit_rate);
    outputChannels = channels < 2 ? 1 : 2;
    durationSeconds = DurationSeconds(format_);
    bitsPerSample = 16;
    bytesPerSample = 2;
    DescribeBlocks();
    return 1;
}

void CFFmpegReader::DescribeBlocks() {
    stageChannels_ = std::clamp(channels, 1, kMaxChannels);
    blockChannels_ = stageChannels_;
    const SixChannelMix sixMix =
        channels == 6 ? ChooseSixChannelMix(&codec_->ch_layout, codecId_, containerName_)
                      : SixChannelMix::Generic;

    // Positions of the stored channels: the layout's own where it names
    // them all, once each; else the order the six-channel rule expects;
    // else the default order of the count.
    uint64_t positions[kMaxChannels] = {};
    uint64_t mask = 0;
    bool named = codec_->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ||
                 codec_->ch_layout.order == AV_CHANNEL_ORDER_CUSTOM;
    for (int i = 0; named && i < stageChannels_; ++i) {
        const int c = av_channel_layout_channel_from_index(&codec_->ch_layout,
                                                           static_cast<unsigned>(i));
        if (c < 0 || c >= 64 || (mask & (uint64_t{1} << c))) {
            named = false;
            break;
        }
        positions[i] = uint64_t{1} << c;
        mask |= positions[i];
    }
    if (!named) {
        mask = DefaultLayout(stageChannels_);
        for (int i = 0; i < stageChannels_; ++i) positions[i] = ChannelAt(mask, i);
        if (stageChannels_ == 6)
            for (const SixOrder& o : kSixOrders)
                if (o.mix == sixMix) std::copy(o.positions, o.positions + 6, positions);
    }
    blockLayout_ = OrderByPosition(positions, blockChannels_, order_);

    const auto packed = av_get_packed_sample_fmt(codec_->sample_fmt);
    const bool isFloat = packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL;
    if (isFloat) {
        const bool lossless = codec_->codec_descriptor &&
                              (codec_->codec_descriptor->props & AV_CODEC_PROP_LOSSLESS);
        sourceBits_ = lossless || keepLossyFloat_ ? 32 : 16;
        sourceFloat_ = lossless || keepLossyFloat_;
    } else {
        const int width = std::min(av_get_bytes_per_sample(packed) * 8, 32);
        const int raw = codec_->bits_per_raw_sample;
        sourceBits_ = raw > 0 && raw <= width ? raw : width;
        sourceBits_ = std::clamp(sourceBits_, 8, 32);
    }
}

void CFFmpegReader::UpdatePosition() {
    if (!format_ || !format_->pb) return;
    // avio_tell, which the header defines as this call.
    int64_t pos = libav::Av().avio_seek(format_->pb, 0, SEEK_CUR);
    position = pos > 0 ? static_cast<uint64_t>(pos) : 0;
}

template <typename Put>
int CFFmpegReader::Deliver(Put&& put) {
    const auto width = static_cast<size_t>(stageChannels_);
    int n = 0;
    while (n < kBlockFrames) {
        const size_t avail = (stage_.size() - stageRead_) / width;
        if (avail == 0) {
            // Everything staged was delivered: reuse the buffer from the
            // start (clear keeps its capacity, so nothing is allocated).
            stage_.clear();
            stageRead_ = 0;
            if (!DecodeMore()) break;
            continue;
        }
        const size_t take = std::min(avail, static_cast<size_t>(kBlockFrames - n));
        const float* src = stage_.data() + stageRead_;
        for (size_t i = 0; i < take; ++i) put(n + static_cast<int>(i), src + i * width);
        stageRead_ += take * width;
        n += static_cast<int>(take);
    }
    UpdatePosition();
    return n;
}

int CFFmpegReader::ReadBlock(AudioBlock& block) {
    if (!codec_) return 0;
    block.Shape(blockChannels_, kBlockFrames, blockLayout_, sourceBits_);
    float* out[kMaxChannels] = {};
    for (int k = 0; k < blockChannels_; ++k) out[k] = block.Channel(k);
    const int n = Deliver([&](int i, const float* f) {
        for (int k = 0; k < blockChannels_; ++k) out[k][i] = f[order_[k]];
    });
    block.frames = n;
    return n;
}

bool CFFmpegReader::DecodeMore() {
    int flushErrors = 0;
    while (!finished_) {
        int got = DrainDecoder();
        if (got > 0) return true;
        if (got < 0) {
            finished_ = true;
            break;
        }
        if (flushed_) {
            // The decoder neither delivers nor ends after the flush.
            if (++flushErrors >= kFlushErrorLimit) finished_ = true;
            continue;
        }
        // Next packet of the audio stream. End of file or a read error ends
        // the stream, and the decoder gives out the frames it still holds;
        // a packet the decoder rejects (corrupt data) is dropped and
        // decoding goes on with the next one.
        if (libav::FeedNextPacket(format_, codec_, packet_, streamIndex_) ==
            libav::FeedResult::Flushed)
            flushed_ = true;
    }
    return false;
}

int CFFmpegReader::DrainDecoder() {
    int count = 0;
    for (;;) {
        int r = libav::Av().avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            if (stage_.size() == stageRead_)
                stagedPts_ = frame_->pts != AV_NOPTS_VALUE ? frame_->pts : INT64_MIN;
            StageFrame(frame_);
            av_frame_unref(frame_);
            ++count;
            continue;
        }
        if (r == AVERROR_EOF) return count > 0 ? count : -1;
        // AVERROR(EAGAIN): the decoder wants input. Any other error
        // concerns the packet just sent, which the decoder has dropped.
        return count;
    }
}

bool CFFmpegReader::SeekFrame(uint64_t frame, uint64_t& landed) {
    if (!format_ || !codec_ || streamIndex_ < 0 || sampleRate <= 0) return false;
    if (std::find(std::begin(kExactSeekCodecs), std::end(kExactSeekCodecs),
                  static_cast<AVCodecID>(codecId_)) == std::end(kExactSeekCodecs))
        return false;
    const AVStream* stream = format_->streams[streamIndex_];
    if (stream->time_base.num <= 0 || stream->time_base.den <= 0) return false;
    if (frame > (uint64_t{1} << 40)) return false;
    const AVRational perSample{1, sampleRate};
    const int64_t origin = StreamOrigin();
    const int64_t target = origin + av_rescale_q(static_cast<int64_t>(frame), perSample,
                                                 stream->time_base);
    if (!SeekStream(target)) return false;
    // The first frame decoded after the seek tells where it landed.
    if (DecodeMore() && stagedPts_ != INT64_MIN && stagedPts_ >= origin) {
        const int64_t at = av_rescale_q(stagedPts_ - origin, stream->time_base, perSample);
        if (at >= 0 && static_cast<uint64_t>(at) <= frame) {
            landed = static_cast<uint64_t>(at);
            return true;
        }
    }
    // Somewhere unknown: back to the start, as if nothing had moved.
    Rewind();
    return false;
}

int64_t CFFmpegReader::StreamOrigin() const {
    const AVStream* stream = format_->streams[streamIndex_];
    return stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
}

bool CFFmpegReader::SeekStream(int64_t timestamp) {
    if (libav::Av().av_seek_frame(format_, streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    libav::Av().avcodec_flush_buffers(codec_);
    stage_.clear();
    stageRead_ = 0;
    flushed_ = false;
    finished_ = false;
    stagedPts_ = INT64_MIN;
    return true;
}

bool CFFmpegReader::Rewind() {
    if (SeekStream(StreamOrigin())) return true;
    // Nothing more can be read correctly.
    finished_ = true;
    stage_.clear();
    stageRead_ = 0;
    return false;
}

void CFFmpegReader::StageFrame(const AVFrame* frame) {
    const int ch = frame->ch_layout.nb_channels;
    const int samples = frame->nb_samples;
    if (ch <= 0 || samples <= 0 || !frame->extended_data || !frame->extended_data[0]) return;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int bytes = av_get_bytes_per_sample(format);
    if (bytes <= 0) return;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    // Should a later frame carry another channel count, the staged width
    // stays: missing channels are silent, extra ones are left out.
    const int width = stageChannels_;
    const int used = std::min(ch, width);
    const bool full = sourceBits_ > 16;

    const size_t at = stage_.size();
    stage_.resize(at + static_cast<size_t>(samples) * static_cast<size_t>(width), 0.0f);
    float* out = stage_.data() + at;
    for (int i = 0; i < samples; ++i, out += width)
        for (int c = 0; c < used; ++c)
            out[c] = StagedValue(frame, packed, planar, bytes, ch, i, c, full);
}

int CFFmpegReader::ReadTags(TagInfo& tags) {
    if (!format_) return 0;
    const AVDictionary* dicts[2] = {format_->metadata, nullptr};
    if (streamIndex_ >= 0 && static_cast<unsigned>(streamIndex_) < format_->nb_streams)
        dicts[1] = format_->streams[streamIndex_]->metadata;

    // The first non-empty value under any of the keys, the container's
    // metadata before the stream's. FFmpeg hands out UTF-8, the program's
    // own text encoding; broken sequences are repaired, not passed on.
    auto get = [&](std::initializer_list<const char*> keys) -> std::string {
        for (const AVDictionary* dict : dicts) {
            if (!dict) continue;
            for (const char* key : keys) {
                const AVDictionaryEntry* e = av_dict_get(dict, key, nullptr, 0);
                if (e && e->value && e->value[0]) return SanitizeUtf8(e->value);
            }
        }
        return {};
    };

    std::string t = get({"title"});
    std::string a = get({"artist", "author"});
    std::string al = get({"album"});
    std::string g = get({"genre"});
    std::string c = get({"comment"});
    std::string cr = get({"copyright"});
    long long y = ParseDecimal(get({"date", "year"}));
    long long tr = ParseDecimal(get({"track"}));
    if (t.empty() && a.empty() && al.empty() && g.empty() && c.empty() && cr.empty() && y <= 0 &&
        tr <= 0)
        return 0;

    tags.title = std::move(t);
    tags.artist = std::move(a);
    tags.album = std::move(al);
    tags.genre = std::move(g);
    tags.comment = std::move(c);
    tags.copyright = std::move(cr);
    tags.year = y > 0 ? std::to_string(y) : std::string();
    tags.track = tr > 0 ? std::to_string(tr) : std::string();
    tags.composer.clear();
    return 1;
}

// ---------------------------------------------------------------------------

CFFmpegProbeReader::~CFFmpegProbeReader() { Close(); }

void CFFmpegProbeReader::Close() {
    if (format_) libav::Av().avformat_close_input(&format_);
    streamIndex_ = -1;
    ResetInfo();
}

int CFFmpegProbeReader::Open(const std::string& path, int renderRate) {
    (void)renderRate;
    Close();
    if (!libav::LoadCodecLibraries()) return 0;
    if (libav::OpenInput(&format_, path) < 0) {
        format_ = nullptr;
        return 0;
    }
    if (libav::Av().avformat_find_stream_info(format_, nullptr) < 0) {
        Close();
        return 0;
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            streamIndex_ = static_cast<int>(i);
            break;
        }
    }
    if (streamIndex_ >= 0) {
        const AVCodecParameters* par = format_->streams[streamIndex_]->codecpar;
        sampleRate = par->sample_rate;
        channels = par->ch_layout.nb_channels;
        bitrateKbps = BitrateKbps(format_, par->bit_rate);
        outputChannels = channels < 2 ? 1 : 2;
    }
    bitsPerSample = 16;
    bytesPerSample = 2;
    durationSeconds = DurationSeconds(format_);
    return 1;
}

}  // namespace quelvox
