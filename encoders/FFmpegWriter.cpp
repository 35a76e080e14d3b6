#include "encoders/FFmpegWriter.h"

#include "encoders/AmrNbPacketEncoder.h"
#include "encoders/LibraryCodecIds.h"
#include "common/ChannelMix.h"
#include "common/FormatCatalogue.h"
#include "common/TextCodec.h"
#include "platform/libav/EncodeSession.h"
#include "platform/libav/EntryPoints.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <span>
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

// Bit rates the MPEG audio layer II encoder accepts, by MPEG version.
constexpr int kMp2RatesMpeg1[] = {32000,  48000,  56000,  64000,  80000,  96000,  112000,
                                  128000, 160000, 192000, 224000, 256000, 320000, 384000};
constexpr int kMp2RatesMpeg2[] = {8000,  16000, 24000, 32000,  40000,  48000,  56000,
                                  64000, 80000, 96000, 112000, 128000, 144000, 160000};

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

// The encoder's sample format that our samples reach with the least
// conversion: for 16-bit samples 16-bit first, then wider integers, then
// floating point; for wider samples 32-bit integers first; for float input
// float first.
AVSampleFormat ChooseSampleFormat(const AVCodec* codec, bool wide, bool floats) {
    if (floats) {
        static constexpr AVSampleFormat kFloatPreference[] = {
            AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_DBLP, AV_SAMPLE_FMT_DBL,
            AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S16};
        if (!codec->sample_fmts) return AV_SAMPLE_FMT_FLT;
        for (AVSampleFormat want : kFloatPreference)
            for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
                if (*f == want) return want;
        return codec->sample_fmts[0];
    }
    if (!codec->sample_fmts) return wide ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
    static constexpr AVSampleFormat kPreference[] = {
        AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P,
        AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP,
        AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P, AV_SAMPLE_FMT_U8,  AV_SAMPLE_FMT_U8P};
    static constexpr AVSampleFormat kWidePreference[] = {
        AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP,
        AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP, AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P,
        AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_U8,  AV_SAMPLE_FMT_U8P};
    for (AVSampleFormat want : wide ? std::span<const AVSampleFormat>(kWidePreference)
                                    : std::span<const AVSampleFormat>(kPreference))
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == want) return want;
    return codec->sample_fmts[0];
}

bool IsPcmOrAdpcm(int persisted) {
    switch (persisted) {
        case kCodecPcmS16Le:
        case kCodecPcmS16Be:
        case kCodecPcmS8:
        case kCodecPcmU8:
        case kCodecPcmMulaw:
        case kCodecPcmAlaw:
        case kCodecPcmS32Le:
        case kCodecPcmS32Be:
        case kCodecPcmS24Le:
        case kCodecPcmS24Be:
        case kCodecPcmF32Be:
        case kCodecPcmF32Le:
        case kCodecPcmF64Be:
        case kCodecPcmF64Le:
        case kCodecAdpcmImaQt:
        case kCodecAdpcmImaWav:
        case kCodecAdpcmMs:
        case kCodecAdpcmYamaha: return true;
        default: return false;
    }
}

}  // namespace

// Everything that exists only while a file is open.
struct CFFmpegWriter::Session {
    libav::CEncodeSession encode;
    const AVOutputFormat* muxer = nullptr;
    AVCodecID libId = AV_CODEC_ID_NONE;
    int channels = 0;

    // AMR narrow-band through opencore: 160-sample frames staged here and
    // handed to the muxer as packets.
    CAmrNbPacketEncoder amr;
    std::vector<int16_t> amrStaging;
    int amrStaged = 0;
    int64_t amrPts = 0;  // in samples at 8000 Hz
    uint8_t amrFrame[CAmrNbPacketEncoder::kMaxFrameBytes];

    // Encodes the staged AMR samples, completed with silence, as one packet.
    bool EncodeAmrStaged() {
        std::fill(amrStaging.begin() + amrStaged, amrStaging.end(), 0);
        amrStaged = 0;
        int n = amr.Encode(amrStaging.data(), amrFrame);
        if (n <= 0) return false;
        AVPacket* packet = encode.Packet();
        AVStream* stream = encode.Stream();
        packet->data = amrFrame;
        packet->size = n;
        packet->stream_index = stream->index;
        packet->flags |= AV_PKT_FLAG_KEY;
        const AVRational amrTimeBase{1, 8000};
        packet->pts = packet->dts = av_rescale_q(amrPts, amrTimeBase, stream->time_base);
        packet->duration =
            av_rescale_q(CAmrNbPacketEncoder::kFrameSamples, amrTimeBase, stream->time_base);
        amrPts += CAmrNbPacketEncoder::kFrameSamples;
        bool ok = encode.WritePacket(packet);
        packet->data = nullptr;
        packet->size = 0;
        libav::Av().av_packet_unref(packet);
        return ok;
    }

    bool WriteAmr(const int16_t* left, int frames) {
        bool ok = true;
        for (int done = 0; done < frames;) {
            const int n = std::min(frames - done, CAmrNbPacketEncoder::kFrameSamples - amrStaged);
            std::memcpy(amrStaging.data() + amrStaged, left + done, sizeof(int16_t) * n);
            amrStaged += n;
            done += n;
            if (amrStaged == CAmrNbPacketEncoder::kFrameSamples && !EncodeAmrStaged()) ok = false;
        }
        return ok;
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

void CFFmpegWriter::SetCodecParams(const FFmpegCodecParams& params) {
    container_ = params.container;
    codecId_ = params.codecId;
}

bool CFFmpegWriter::ContainerCarriesTags(const std::string& container) {
    return quelvox::ContainerCarriesTags(container);
}

int CFFmpegWriter::GetFrameSize() const {
    if (!session_) return 0;
    return session_->amr.IsOpen() ? CAmrNbPacketEncoder::kFrameSamples
                                  : session_->encode.FrameSize();
}

int CFFmpegWriter::GetCodecBitrate() const {
    if (!session_ || !session_->encode.Stream()) return 0;
    return static_cast<int>(session_->encode.Stream()->codecpar->bit_rate);
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
    layout_ = storedLayout_ = 0;
    sampleBits_ = 16;
    floatInput_ = false;
    for (std::string* s :
         {&title_, &artist_, &album_, &genre_, &year_, &comment_, &composer_, &copyright_, &track_})
        s->clear();
}

int CFFmpegWriter::SetUpAmrNb(Session& s) {
    // Speech frames come from opencore-amrnb and go to the muxer as
    // packets: 8000 Hz mono, 160 samples per frame.
    if (sampleRate_ != 8000 || channels_ != 1) return Fail("AMR narrow-band needs 8000 Hz mono");
    if (!s.amr.Open(bitrate_)) return Fail("cannot set up the AMR encoder");
    AVStream* stream = s.encode.Stream();
    AVCodecParameters* par = stream->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_AMR_NB;
    par->sample_rate = 8000;
    av_channel_layout_default(&par->ch_layout, 1);
    par->frame_size = CAmrNbPacketEncoder::kFrameSamples;
    par->bit_rate = CAmrNbPacketEncoder::BitrateOfMode(s.amr.Mode());
    stream->time_base = AVRational{1, 8000};
    s.amrStaging.assign(CAmrNbPacketEncoder::kFrameSamples, 0);
    return 1;
}

int64_t CFFmpegWriter::EncoderBitRate(int libId) {
    if (IsPcmOrAdpcm(codecId_))
        return static_cast<int64_t>(
                   libav::Av().av_get_bits_per_sample(static_cast<AVCodecID>(libId))) *
               channels_ * sampleRate_;
    if (codecId_ == kCodecAdpcmG726) {
        // The stored "bit rate" counts bits per sample.
        if (bitrate_ < 2 || bitrate_ > 5) bitrate_ = 4;
        return static_cast<int64_t>(bitrate_) * sampleRate_;
    }
    if (codecId_ == kCodecFlac) return 0;  // library default
    if (codecId_ == kCodecGsm || codecId_ == kCodecGsmMs) return 13000;
    if (codecId_ == kCodecMp2) {
        // Layer II knows a fixed set of bit rates per MPEG version; move any
        // other value to the nearest one it accepts.
        return bitrate_ <= 0          ? 0
               : sampleRate_ >= 32000 ? Nearest(kMp2RatesMpeg1, bitrate_)
                                      : Nearest(kMp2RatesMpeg2, bitrate_);
    }
    return bitrate_ > 0 ? bitrate_ : 0;
}

int CFFmpegWriter::SetUpEncoder(Session& s, const AVCodec* codec) {
    libav::EncoderSpec wanted;
    wanted.sampleRate = sampleRate_;
    wanted.channels = channels_;
    wanted.layoutMask = LayoutChannels(layout_) == channels_ ? layout_ : DefaultLayout(channels_);
    // An encoder that stores only some layouts gets the one nearest to the
    // positions asked for; the blocks are then placed into it.
    const EncoderChoice choice = ChooseEncoder(codecId_);
    if (const uint64_t stored = ClosestLayout(wanted.layoutMask, channels_, choice.layouts.data(),
                                              static_cast<int>(choice.layouts.size())))
        wanted.layoutMask = stored;
    const bool wide = sampleBits_ > 16;
    wanted.sampleFormat = ChooseSampleFormat(codec, wide, floatInput_);
    const AVSampleFormat packed = av_get_packed_sample_fmt(wanted.sampleFormat);
    encoderIntegerBits_ = packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL
                              ? 0
                              : std::min(av_get_bytes_per_sample(packed) * 8, 32);
    // Where a float sample is clipped, settled once for the whole file.
    floatLimit_ = IsPcmOrAdpcm(codecId_) ? std::numeric_limits<float>::max()
                                         : ReceivedSampleLimit(codecId_, true);
    if (wide && !floatInput_ && sampleBits_ < 32) wanted.bitsPerRawSample = sampleBits_;
    wanted.bitRate = EncoderBitRate(s.libId);
    // The G.726 encoder accepts rates other than 8000 Hz only below the
    // strict compliance level; the catalogue offers every PCM rate.
    if (codecId_ == kCodecAdpcmG726) wanted.strictness = FF_COMPLIANCE_UNOFFICIAL;
    if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
        wanted.strictness = FF_COMPLIANCE_EXPERIMENTAL;
    wanted.globalHeader = (s.muxer->flags & AVFMT_GLOBALHEADER) != 0;
    for (const EncoderOption& option : choice.options)
        wanted.options.emplace_back(option.key, option.value);

    libav::CodecContextPtr cc = libav::OpenEncoder(codec, wanted);
    if (!cc && codecId_ == kCodecVorbis && wanted.bitRate > 0) {
        // libvorbis manages only a band of bit rates for each rate and
        // channel count, narrower than the choices offered; take the
        // nearest rate it manages rather than failing the conversion.
        std::vector<int> ladder(std::begin(kVorbisLadder), std::end(kVorbisLadder));
        const double want = std::log(static_cast<double>(wanted.bitRate));
        std::stable_sort(ladder.begin(), ladder.end(), [&](int a, int b) {
            return std::fabs(std::log(static_cast<double>(a)) - want) <
                   std::fabs(std::log(static_cast<double>(b)) - want);
        });
        for (int candidate : ladder) {
            wanted.bitRate = candidate;
            if ((cc = libav::OpenEncoder(codec, wanted))) break;
        }
    }
    if (!cc) return Fail("the encoder refused the parameters");
    const AVSampleFormat input = floatInput_ ? AV_SAMPLE_FMT_FLT
                                 : wide      ? AV_SAMPLE_FMT_S32
                                             : AV_SAMPLE_FMT_S16;
    storedLayout_ = cc->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? cc->ch_layout.u.mask : 0;
    if (!s.encode.AttachEncoder(std::move(cc), kChunkFrames, sampleRate_, input))
        return Fail("cannot set up the encoder's input");

    AVCodecParameters* par = s.encode.Stream()->codecpar;
    // The AIFF muxer needs a sample size even for codecs that have none of
    // their own (GSM).
    if (par->bits_per_coded_sample == 0 && libav::Av().av_get_bits_per_sample(s.libId) == 0 &&
        container_ == "aiff")
        par->bits_per_coded_sample = 16;
    if (codecId_ == kCodecAdpcmG726) {
        // WAV stores the byte rate; round it up so that a reader that
        // divides it back by the sample rate finds the full bit count.
        const int64_t bits = static_cast<int64_t>(bitrate_) * sampleRate_;
        par->bit_rate = (bits + 7) / 8 * 8;
    }
    return 1;
}

int CFFmpegWriter::AddTags(Session& s) {
    // Always as UTF-8, for containers that carry them.
    if (!ContainerCarriesTags(container_)) return 1;
    const std::pair<const char*, const std::string*> tags[] = {
        {"title", &title_},        {"artist", &artist_}, {"author", &artist_},
        {"album", &album_},        {"genre", &genre_},   {"date", &year_},
        {"comment", &comment_},    {"track", &track_},   {"composer", &composer_},
        {"copyright", &copyright_}};
    for (const auto& [key, value] : tags) {
        if (value->empty()) continue;
        // ID3 has no author frame: the MP3 muxer would store the artist
        // a second time in a user-defined frame.
        if (container_ == "mp3" && std::strcmp(key, "author") == 0) continue;
        std::string utf8 = SanitizeUtf8(*value);
        if (av_dict_set(&s.encode.Format()->metadata, key, utf8.c_str(), 0) < 0)
            return Fail("out of memory");
    }
    return 1;
}

int CFFmpegWriter::Open() {
    session_.reset();
    storedLayout_ = 0;
    lastError_.clear();

    if (path_.empty()) return Fail("no output file name");
    if (sampleRate_ <= 0) return Fail("invalid sample rate");
    if (channels_ < 1 || channels_ > kMaxChannels) return Fail("invalid channel count");
    if (sampleBits_ != 16 && sampleBits_ != 24 && sampleBits_ != 32)
        return Fail("invalid sample depth");
    std::string unavailable;
    if (!libav::LoadCodecLibraries(&unavailable)) return Fail(unavailable);

    auto s = std::make_unique<Session>();
    s->channels = channels_;
    s->muxer = container_.empty()
                   ? nullptr
                   : libav::Av().av_guess_format(container_.c_str(), nullptr, nullptr);
    if (!s->muxer) return Fail("unknown container \"" + container_ + "\"");
    s->libId = static_cast<AVCodecID>(ToLibraryCodecId(codecId_));
    if (s->libId == AV_CODEC_ID_NONE) return Fail("unknown codec id");
    if (!s->encode.CreateMuxer(s->muxer, false)) return Fail("cannot allocate the container");

    const EncoderChoice choice = ChooseEncoder(codecId_);
    const AVCodec* codec = choice.name ? libav::Av().avcodec_find_encoder_by_name(choice.name)
                                       : libav::Av().avcodec_find_encoder(s->libId);
    if (!codec && choice.name)
        return Fail(std::string("the encoder \"") + choice.name + "\" is not available");
    if (!codec && s->libId == AV_CODEC_ID_AMR_NB) {
        if (!SetUpAmrNb(*s)) return 0;
    } else {
        if (!codec) return Fail("no encoder for this codec");
        if (!SetUpEncoder(*s, codec)) return 0;
    }
    if (!AddTags(*s)) return 0;

    // The file is created last, so that a refused setup leaves nothing
    // behind.
    if (!s->encode.OpenFile(path_)) {
        const bool headerRefused = s->encode.Format() == nullptr;
        return Fail(headerRefused ? "the container refused the stream"
                                  : "cannot create the output file");
    }
    session_ = std::move(s);
    return 1;
}

int CFFmpegWriter::WriteInt16(const int16_t* left, const int16_t* right, int frames) {
    Session* s = session_.get();
    if (!s || !s->encode.HeaderWritten() || !left) return 0;
    // 16-bit mono and stereo only; wider and float outputs take WriteBlock.
    if (sampleBits_ > 16 || s->channels > 2 || floatInput_) return 0;
    if (frames <= 0) return 1;
    bool ok;
    if (s->amr.IsOpen()) {
        ok = s->WriteAmr(left, frames);
    } else if (s->channels == 1) {
        ok = s->encode.Push(left, frames);
    } else {
        if (!right) right = left;
        interleaved_.resize(static_cast<size_t>(frames) * 2);
        for (int i = 0; i < frames; ++i) {
            interleaved_[2 * static_cast<size_t>(i)] = left[i];
            interleaved_[2 * static_cast<size_t>(i) + 1] = right[i];
        }
        ok = s->encode.Push(interleaved_.data(), frames);
    }
    if (!ok) NoteWriteError(s->encode.WriteError());
    return ok ? 1 : 0;
}

int CFFmpegWriter::WriteBlock(const AudioBlock& block) {
    Session* s = session_.get();
    if (!s || !s->encode.HeaderWritten()) return 0;
    // AMR takes 16-bit samples; a block wider than a mono or stereo output
    // is folded and rounded to them too.
    if (s->amr.IsOpen() || (block.Channels() > s->channels && s->channels <= 2)) {
        RoundToInt16(block, pcm16_);
        return WriteInt16(pcm16_.Left(), pcm16_.Right(), block.frames);
    }
    const int frames = block.frames;
    if (frames <= 0) return 1;
    // Channels the block lacks are silent; a mono block fills every one.
    const int width = s->channels;
    const float* from[kMaxChannels] = {};
    for (int c = 0; c < width; ++c)
        from[c] = block.Channels() == 1 ? block.Channel(0)
                  : c < block.Channels() ? block.Channel(c)
                                         : nullptr;
    const auto count = static_cast<size_t>(frames) * static_cast<size_t>(width);
    bool ok;
    if (floatInput_) {
        // Float samples keep their headroom: float PCM every finite value,
        // a lossy encoder what it encodes faithfully (the catalogue's
        // ReceivedSampleLimit), clipped and counted beyond. An infinite
        // value counts as full scale, NaN as silence. An encoder that takes
        // integers clips in the conversion to its format.
        const float limit = floatLimit_;
        uint64_t beyond = 0;
        floats_.resize(count);
        float* out = floats_.data();
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < width; ++c) {
                float v = from[c] ? from[c][i] : 0.0f;
                if (std::isnan(v)) v = 0.0f;
                if (std::isinf(v)) v = std::clamp(v, -1.0f, 1.0f);
                if (std::fabs(v) > limit) {
                    v = std::clamp(v, -limit, limit);
                    ++beyond;
                }
                *out++ = v;
            }
        if (encoderIntegerBits_ > 0)
            CountClipped(floats_.data(), static_cast<int>(count), encoderIntegerBits_);
        else
            AddClipped(beyond);
        ok = s->encode.Push(floats_.data(), frames);
        if (!ok) NoteWriteError(s->encode.WriteError());
        return ok ? 1 : 0;
    }
    for (int c = 0; c < width; ++c)
        if (from[c]) CountClipped(from[c], frames, sampleBits_);
    // Frame by frame, so that dither noise follows the stream's order.
    const bool dither = DithersTo(block, sampleBits_);
    CTpdfDither& noise = Dither();
    auto round = [&](const float* channel, int i) {
        if (!channel) return 0;
        return dither ? FloatToIntDithered(channel[i], sampleBits_, noise)
                      : FloatToInt(channel[i], sampleBits_);
    };
    if (sampleBits_ > 16) {
        const int shift = 32 - sampleBits_;
        wide_.resize(count);
        int32_t* out = wide_.data();
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < width; ++c)
                *out++ = static_cast<int32_t>(static_cast<uint32_t>(round(from[c], i)) << shift);
        ok = s->encode.Push(wide_.data(), frames);
    } else {
        interleaved_.resize(count);
        int16_t* out = interleaved_.data();
        if (dither) {
            for (int i = 0; i < frames; ++i)
                for (int c = 0; c < width; ++c) *out++ = static_cast<int16_t>(round(from[c], i));
        } else if (width == 2 && from[0] && from[1]) {
            FloatsToStereoInt16s(from[0], from[1], frames, out);
        } else {
            for (int c = 0; c < width; ++c) {
                if (from[c]) {
                    FloatsToInt16s(from[c], frames, out + c, static_cast<size_t>(width));
                } else {
                    for (int i = 0; i < frames; ++i) out[static_cast<size_t>(i) * width + c] = 0;
                }
            }
        }
        ok = s->encode.Push(interleaved_.data(), frames);
    }
    if (!ok) NoteWriteError(s->encode.WriteError());
    return ok ? 1 : 0;
}

void CFFmpegWriter::Close() {
    Session* s = session_.get();
    if (s && s->encode.HeaderWritten()) {
        bool ok = !(s->amr.IsOpen() && s->amrStaged > 0) || s->EncodeAmrStaged();
        // A short last frame where the encoder allows one, else the frame is
        // completed with silence.
        if (!s->encode.Finish(libav::LastFrame::ShortWhereAllowed)) ok = false;
        if (!ok) NoteWriteError(s->encode.WriteError());
    }
    Release();
}

}  // namespace quelvox
