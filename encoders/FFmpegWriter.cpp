#include "encoders/FFmpegWriter.h"

#include "encoders/AmrNbPacketEncoder.h"
#include "encoders/LibraryCodecIds.h"
#include "common/TextCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace quelvox {

namespace {

// Frames per encoder call for codecs that take any number of samples.
constexpr int kChunkFrames = 4096;

// Muxers whose output never carries text tags.
constexpr const char* kTaglessContainers[] = {"wav", "aiff", "au",  "voc",
                                              "mmf", "flv",  "swf"};

// Bit rates the MPEG audio layer II encoder accepts, by MPEG version.
constexpr int kMp2RatesMpeg1[] = {32000,  48000,  56000,  64000,  80000,
                                  96000,  112000, 128000, 160000, 192000,
                                  224000, 256000, 320000, 384000};
constexpr int kMp2RatesMpeg2[] = {8000,  16000, 24000,  32000,  40000,
                                  48000, 56000, 64000,  80000,  96000,
                                  112000, 128000, 144000, 160000};

// Bit rates tried, nearest first, when libvorbis refuses the one asked for.
constexpr int kVorbisLadder[] = {8000,   16000,  24000,  32000,  40000,  48000,  56000,
                                 64000,  80000,  96000,  112000, 128000, 144000, 160000,
                                 192000, 224000, 256000, 320000, 400000, 480000};

template <size_t N>
int Nearest(const int (&list)[N], int value) {
    int best = list[0];
    for (int v : list)
        if (std::llabs(static_cast<long long>(v) - value) <
            std::llabs(static_cast<long long>(best) - value))
            best = v;
    return best;
}

// The encoder's sample format that our 16-bit samples reach with the least
// conversion: 16-bit first, then wider integers, then floating point.
AVSampleFormat ChooseSampleFormat(const AVCodec* codec) {
    if (!codec->sample_fmts) return AV_SAMPLE_FMT_S16;
    static constexpr AVSampleFormat kPreference[] = {
        AV_SAMPLE_FMT_S16,  AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S32,
        AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_FLT,  AV_SAMPLE_FMT_FLTP,
        AV_SAMPLE_FMT_DBL,  AV_SAMPLE_FMT_DBLP, AV_SAMPLE_FMT_S64,
        AV_SAMPLE_FMT_S64P, AV_SAMPLE_FMT_U8,   AV_SAMPLE_FMT_U8P};
    for (AVSampleFormat want : kPreference)
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == want) return want;
    return codec->sample_fmts[0];
}

bool IsPcmOrAdpcm(int persisted) {
    switch (persisted) {
    case kCodecPcmS16Le: case kCodecPcmS16Be: case kCodecPcmS8:
    case kCodecPcmU8: case kCodecPcmMulaw: case kCodecPcmAlaw:
    case kCodecPcmS32Le: case kCodecPcmS32Be: case kCodecPcmS24Le:
    case kCodecPcmS24Be: case kCodecPcmF32Be: case kCodecPcmF32Le:
    case kCodecPcmF64Be: case kCodecPcmF64Le: case kCodecAdpcmImaQt:
    case kCodecAdpcmImaWav: case kCodecAdpcmMs: case kCodecAdpcmYamaha:
        return true;
    default:
        return false;
    }
}

}  // namespace

// Everything that exists only while a file is open.
struct CFFmpegWriter::Session {
    AVFormatContext* format = nullptr;
    AVStream* stream = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    CAmrNbPacketEncoder amr;

    bool fileOpen = false;     // the output file is open
    bool headerWritten = false;

    // Interleaved 16-bit samples waiting for the encoder.
    std::vector<int16_t> staging;
    int stagedFrames = 0;
    int capacity = 0;          // frames per encoder call
    int frameSize = 0;         // fixed encoder frame size; 0 = any size
    bool smallLastFrame = false;
    int channels = 0;
    int64_t nextPts = 0;       // in the encoder's time base (1 / rate)
    uint8_t amrFrame[CAmrNbPacketEncoder::kMaxFrameBytes];

    ~Session() {
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (format) {
            if (fileOpen && !(format->oformat->flags & AVFMT_NOFILE))
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    // Hands every packet the encoder has ready to the muxer.
    bool Drain() {
        bool ok = true;
        for (;;) {
            int r = avcodec_receive_packet(codec, packet);
            if (r < 0) return ok && (r == AVERROR(EAGAIN) || r == AVERROR_EOF);
            packet->stream_index = stream->index;
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            if (av_write_frame(format, packet) < 0) ok = false;
            av_packet_unref(packet);
        }
    }

    // Encodes the staged samples as one frame of `frames` sample frames
    // (which may exceed the staged count; the rest is silence).
    // The staging buffer is empty afterwards, also when encoding failed.
    bool EncodeStaged(int frames) {
        const int staged = stagedFrames;
        stagedFrames = 0;
        std::fill(staging.begin() + static_cast<ptrdiff_t>(staged) * channels,
                  staging.begin() + static_cast<ptrdiff_t>(frames) * channels, 0);
        // Should the encoder still hold the buffer, a fresh one of full size
        // is made.
        frame->nb_samples = capacity;
        if (av_frame_make_writable(frame) < 0) return false;
        frame->nb_samples = frames;
        const int16_t* in = staging.data();
        switch (codec->sample_fmt) {
        case AV_SAMPLE_FMT_S16:
            std::memcpy(frame->data[0], in, sizeof(int16_t) * frames * channels);
            break;
        case AV_SAMPLE_FMT_S16P:
            for (int c = 0; c < channels; ++c) {
                auto* out = reinterpret_cast<int16_t*>(frame->data[c]);
                for (int i = 0; i < frames; ++i) out[i] = in[i * channels + c];
            }
            break;
        default: {
            const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(in)};
            if (swr_convert(swr, frame->data, frames, src, frames) != frames)
                return false;
        }
        }
        frame->pts = nextPts;
        nextPts += frames;
        if (avcodec_send_frame(codec, frame) < 0) return false;
        return Drain();
    }

    bool EncodeAmrStaged() {
        std::fill(staging.begin() + stagedFrames, staging.end(), 0);
        stagedFrames = 0;
        int n = amr.Encode(staging.data(), amrFrame);
        if (n <= 0) return false;
        packet->data = amrFrame;
        packet->size = n;
        packet->stream_index = stream->index;
        packet->flags |= AV_PKT_FLAG_KEY;
        const AVRational amrTimeBase{1, 8000};
        packet->pts = packet->dts = av_rescale_q(nextPts, amrTimeBase, stream->time_base);
        packet->duration = av_rescale_q(CAmrNbPacketEncoder::kFrameSamples, amrTimeBase,
                                        stream->time_base);
        nextPts += CAmrNbPacketEncoder::kFrameSamples;
        bool ok = av_write_frame(format, packet) >= 0;
        packet->data = nullptr;
        packet->size = 0;
        av_packet_unref(packet);
        return ok;
    }

    bool EncodeFull() {
        return amr.IsOpen() ? EncodeAmrStaged() : EncodeStaged(capacity);
    }
};

CFFmpegWriter::CFFmpegWriter() = default;

CFFmpegWriter::~CFFmpegWriter() { Release(); }

void CFFmpegWriter::SetTags(const TagInfo& tags) {
    title_ = tags.title;
    artist_ = tags.artist;
    album_ = tags.album;
    genre_ = tags.genre;
    year_ = tags.year;
    comment_ = tags.comment;
    composer_ = tags.composer;
    copyright_ = tags.copyright;
    const int track = ParseDecimal(tags.track);
    track_ = track > 0 ? std::to_string(track) : std::string();
}

void CFFmpegWriter::SetFileName(const std::string& path) { path_ = path; }
void CFFmpegWriter::SetSampleRate(int hz) { sampleRate_ = hz; }
void CFFmpegWriter::SetChannels(int count) { channels_ = count; }
void CFFmpegWriter::SetBitrate(int bitsPerSecond) { bitrate_ = bitsPerSecond; }

void CFFmpegWriter::SetCodecParams(const void* record) {
    if (!record) {
        container_.clear();
        codecId_ = 0;
        return;
    }
    const auto* p = static_cast<const FFmpegCodecParams*>(record);
    container_ = p->container;
    codecId_ = p->codecId;
}

bool CFFmpegWriter::ContainerCarriesTags(const std::string& container) {
    for (const char* c : kTaglessContainers)
        if (container == c) return false;
    return true;
}

int CFFmpegWriter::GetFrameSize() const {
    return session_ ? session_->frameSize : 0;
}

int CFFmpegWriter::GetCodecBitrate() const {
    if (!session_ || !session_->stream) return 0;
    return static_cast<int>(session_->stream->codecpar->bit_rate);
}

int CFFmpegWriter::Fail(const std::string& reason) {
    lastError_ = reason;
    Release();
    return 0;
}

void CFFmpegWriter::Release() {
    session_.reset();
    container_.clear();
    codecId_ = 0;
    path_.clear();
    sampleRate_ = bitrate_ = channels_ = 0;
    for (std::string* s : {&title_, &artist_, &album_, &genre_, &year_,
                           &comment_, &composer_, &copyright_, &track_})
        s->clear();
}

int CFFmpegWriter::Open() {
    session_.reset();
    lastError_.clear();

    if (path_.empty()) return Fail("no output file name");
    if (sampleRate_ <= 0) return Fail("invalid sample rate");
    if (channels_ != 1 && channels_ != 2) return Fail("invalid channel count");

    const AVOutputFormat* ofmt =
        container_.empty() ? nullptr
                           : av_guess_format(container_.c_str(), nullptr, nullptr);
    if (!ofmt) return Fail("unknown container \"" + container_ + "\"");
    const auto libId = static_cast<AVCodecID>(ToLibraryCodecId(codecId_));
    if (libId == AV_CODEC_ID_NONE) return Fail("unknown codec id");

    auto s = std::make_unique<Session>();
    s->channels = channels_;
    if (avformat_alloc_output_context2(&s->format, ofmt, nullptr, nullptr) < 0 ||
        !s->format)
        return Fail("cannot allocate the container");
    s->packet = av_packet_alloc();
    if (!s->packet) return Fail("out of memory");
    s->stream = avformat_new_stream(s->format, nullptr);
    if (!s->stream) return Fail("cannot create the stream");
    s->stream->id = 0;

    const AVCodec* codec = avcodec_find_encoder(libId);
    if (!codec && libId == AV_CODEC_ID_AMR_NB) {
        // Speech frames come from opencore-amrnb and go to the muxer as
        // packets: 8000 Hz mono, 160 samples per frame.
        if (sampleRate_ != 8000 || channels_ != 1)
            return Fail("AMR narrow-band needs 8000 Hz mono");
        if (!s->amr.Open(bitrate_)) return Fail("cannot set up the AMR encoder");
        AVCodecParameters* par = s->stream->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_AMR_NB;
        par->sample_rate = 8000;
        av_channel_layout_default(&par->ch_layout, 1);
        par->frame_size = CAmrNbPacketEncoder::kFrameSamples;
        par->bit_rate = CAmrNbPacketEncoder::BitrateOfMode(s->amr.Mode());
        s->stream->time_base = AVRational{1, 8000};
        s->capacity = s->frameSize = CAmrNbPacketEncoder::kFrameSamples;
    } else {
        if (!codec) return Fail("no encoder for this codec");
        int64_t bitRate = 0;
        if (IsPcmOrAdpcm(codecId_)) {
            bitRate = static_cast<int64_t>(av_get_bits_per_sample(libId)) * channels_ *
                      sampleRate_;
        } else if (codecId_ == kCodecAdpcmG726) {
            // The stored "bit rate" counts bits per sample.
            if (bitrate_ < 2 || bitrate_ > 5) bitrate_ = 4;
            bitRate = static_cast<int64_t>(bitrate_) * sampleRate_;
        } else if (codecId_ == kCodecFlac) {
            // library default
        } else if (codecId_ == kCodecGsm || codecId_ == kCodecGsmMs) {
            bitRate = 13000;
        } else if (codecId_ == kCodecMp2) {
            // Layer II knows a fixed set of bit rates per MPEG version;
            // move any other value to the nearest one it accepts.
            bitRate = bitrate_ <= 0 ? 0
                      : sampleRate_ >= 32000 ? Nearest(kMp2RatesMpeg1, bitrate_)
                                             : Nearest(kMp2RatesMpeg2, bitrate_);
        } else {
            bitRate = bitrate_ > 0 ? bitrate_ : 0;
        }

        // A configured and opened encoder context, or null when the encoder
        // refuses the parameters.
        auto openEncoder = [&](int64_t rate) -> AVCodecContext* {
            AVCodecContext* cc = avcodec_alloc_context3(codec);
            if (!cc) return nullptr;
            cc->codec_type = AVMEDIA_TYPE_AUDIO;
            cc->sample_rate = sampleRate_;
            av_channel_layout_default(&cc->ch_layout, channels_);
            cc->time_base = AVRational{1, sampleRate_};
            cc->sample_fmt = ChooseSampleFormat(codec);
            cc->bit_rate = rate;
            // The G.726 encoder accepts rates other than 8000 Hz only below
            // the strict compliance level; the catalogue offers every PCM rate.
            if (codecId_ == kCodecAdpcmG726)
                cc->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
            if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
                cc->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
            if (ofmt->flags & AVFMT_GLOBALHEADER)
                cc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (avcodec_open2(cc, codec, nullptr) < 0) avcodec_free_context(&cc);
            return cc;
        };
        s->codec = openEncoder(bitRate);
        if (!s->codec && codecId_ == kCodecVorbis && bitRate > 0) {
            // libvorbis manages only a band of bit rates for each rate and
            // channel count, narrower than the choices offered; take the
            // nearest rate it manages rather than failing the conversion.
            std::vector<int> ladder(std::begin(kVorbisLadder), std::end(kVorbisLadder));
            const double want = std::log(static_cast<double>(bitRate));
            std::stable_sort(ladder.begin(), ladder.end(), [&](int a, int b) {
                return std::fabs(std::log(static_cast<double>(a)) - want) <
                       std::fabs(std::log(static_cast<double>(b)) - want);
            });
            for (int candidate : ladder)
                if ((s->codec = openEncoder(candidate))) break;
        }
        if (!s->codec) return Fail("the encoder refused the parameters");
        AVCodecContext* cc = s->codec;

        // Framing: a fixed frame size unless the encoder takes any size.
        const bool variable =
            cc->frame_size <= 1 || (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        s->frameSize = variable ? 0 : cc->frame_size;
        s->capacity = variable ? kChunkFrames : cc->frame_size;
        s->smallLastFrame = (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;

        s->frame = av_frame_alloc();
        if (!s->frame) return Fail("out of memory");
        s->frame->format = cc->sample_fmt;
        s->frame->sample_rate = cc->sample_rate;
        s->frame->nb_samples = s->capacity;
        if (av_channel_layout_copy(&s->frame->ch_layout, &cc->ch_layout) < 0 ||
            av_frame_get_buffer(s->frame, 0) < 0)
            return Fail("out of memory");

        if (cc->sample_fmt != AV_SAMPLE_FMT_S16 && cc->sample_fmt != AV_SAMPLE_FMT_S16P) {
            // Sample-format conversion only: the rate is the same on both
            // sides, so nothing is resampled.
            if (swr_alloc_set_opts2(&s->swr, &cc->ch_layout, cc->sample_fmt,
                                    cc->sample_rate, &cc->ch_layout,
                                    AV_SAMPLE_FMT_S16, cc->sample_rate, 0,
                                    nullptr) < 0 ||
                swr_init(s->swr) < 0)
                return Fail("cannot set up the sample format conversion");
        }

        if (avcodec_parameters_from_context(s->stream->codecpar, cc) < 0)
            return Fail("out of memory");
        // The AIFF muxer needs a sample size even for codecs that have none
        // of their own (GSM).
        if (s->stream->codecpar->bits_per_coded_sample == 0 &&
            av_get_bits_per_sample(libId) == 0 && container_ == "aiff")
            s->stream->codecpar->bits_per_coded_sample = 16;
        if (codecId_ == kCodecAdpcmG726) {
            // WAV stores the byte rate; round it up so that a reader that
            // divides it back by the sample rate finds the full bit count.
            const int64_t bits = static_cast<int64_t>(bitrate_) * sampleRate_;
            s->stream->codecpar->bit_rate = (bits + 7) / 8 * 8;
        }
        s->stream->time_base = cc->time_base;
    }
    s->staging.assign(static_cast<size_t>(s->capacity) * channels_, 0);

    // Tags, always as UTF-8, for containers that carry them.
    if (ContainerCarriesTags(container_)) {
        const std::pair<const char*, const std::string*> tags[] = {
            {"title", &title_},       {"artist", &artist_},
            {"author", &artist_},     {"album", &album_},
            {"genre", &genre_},       {"date", &year_},
            {"comment", &comment_},   {"track", &track_},
            {"composer", &composer_}, {"copyright", &copyright_}};
        for (const auto& [key, value] : tags) {
            if (value->empty()) continue;
            // ID3 has no author frame: the MP3 muxer would store the artist
            // a second time in a user-defined frame.
            if (container_ == "mp3" && std::strcmp(key, "author") == 0) continue;
            std::string utf8 = SanitizeUtf8(*value);
            if (av_dict_set(&s->format->metadata, key, utf8.c_str(), 0) < 0)
                return Fail("out of memory");
        }
    }

    // Create the file last, so that a refused setup leaves nothing behind.
    std::error_code ec;
    const bool existed = std::filesystem::exists(path_, ec);
    if (!(ofmt->flags & AVFMT_NOFILE)) {
        if (avio_open(&s->format->pb, path_.c_str(), AVIO_FLAG_WRITE) < 0)
            return Fail("cannot create the output file");
        s->fileOpen = true;
    }
    if (avformat_write_header(s->format, nullptr) < 0) {
        std::string path = path_;
        session_ = std::move(s);
        Fail("the container refused the stream");
        if (!existed) std::filesystem::remove(path, ec);
        return 0;
    }
    s->headerWritten = true;
    session_ = std::move(s);
    return 1;
}

int CFFmpegWriter::Write(const int16_t* left, const int16_t* right, int frames) {
    Session* s = session_.get();
    if (!s || !s->headerWritten || !left) return 0;
    if (frames <= 0) return 1;
    if (!right) right = left;
    const int ch = s->channels;
    bool ok = true;
    int done = 0;
    while (done < frames) {
        int n = std::min(frames - done, s->capacity - s->stagedFrames);
        int16_t* dst = s->staging.data() + static_cast<ptrdiff_t>(s->stagedFrames) * ch;
        if (ch == 1) {
            std::memcpy(dst, left + done, sizeof(int16_t) * n);
        } else {
            for (int i = 0; i < n; ++i) {
                dst[2 * i] = left[done + i];
                dst[2 * i + 1] = right[done + i];
            }
        }
        s->stagedFrames += n;
        done += n;
        if (s->stagedFrames == s->capacity && !s->EncodeFull()) ok = false;
    }
    // Codecs without a fixed frame size keep nothing staged between calls.
    if (s->frameSize == 0 && s->stagedFrames > 0 && !s->EncodeStaged(s->stagedFrames))
        ok = false;
    return ok ? 1 : 0;
}

void CFFmpegWriter::Close() {
    Session* s = session_.get();
    if (s && s->headerWritten) {
        if (s->amr.IsOpen()) {
            if (s->stagedFrames > 0) s->EncodeAmrStaged();
        } else {
            if (s->stagedFrames > 0) {
                // A short last frame where the encoder allows one, else the
                // frame is completed with silence.
                int n = s->frameSize == 0 || s->smallLastFrame ? s->stagedFrames
                                                                : s->frameSize;
                s->EncodeStaged(n);
            }
            if (avcodec_send_frame(s->codec, nullptr) >= 0) s->Drain();
        }
        av_write_trailer(s->format);
    }
    Release();
}

}  // namespace quelvox
