#include "platform/wma/WmaLayer.h"

#include "platform/libav/EncodeSession.h"
#include "platform/libav/DecodeLoop.h"
#include "platform/libav/EntryPoints.h"
#include "platform/libav/OpenInput.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace quelvox::wma {

namespace {

constexpr AVRational kTimeBase100ns{1, static_cast<int>(kTimeUnitsPerSecond)};

// The container: ASF for .wma, .wmv and .asf alike.
constexpr const char* kContainer = "asf";

constexpr AVCodecID kDecoders[] = {AV_CODEC_ID_WMAV1, AV_CODEC_ID_WMAV2, AV_CODEC_ID_WMAPRO,
                                   AV_CODEC_ID_WMALOSSLESS, AV_CODEC_ID_WMAVOICE};

// The formats the layer offers: rate, channels and bit rates in kbit/s.
// FFmpeg's WMA 2 encoder needs at least 24 kbit/s; above that the steps
// follow what users know from Windows Media audio, sized so that each rate
// and channel count gets rates from lean to transparent.
struct FormatRow {
    int rate;
    int channels;
    int kbps[10];  // ascending, 0 ends the row
};
constexpr FormatRow kFormatTable[] = {
    {8000, 1, {24, 32}},
    {8000, 2, {24, 32}},
    {11025, 1, {24, 32}},
    {11025, 2, {24, 32, 40}},
    {16000, 1, {24, 32, 40}},
    {16000, 2, {24, 32, 40, 48}},
    {22050, 1, {24, 32, 40, 48}},
    {22050, 2, {24, 32, 40, 48, 64}},
    {32000, 1, {24, 32, 48, 64}},
    {32000, 2, {32, 40, 48, 64, 80, 96, 128}},
    {44100, 1, {32, 48, 64, 80, 96, 128}},
    {44100, 2, {48, 64, 80, 96, 128, 160, 192, 256, 320}},
    {48000, 1, {48, 64, 96, 128}},
    {48000, 2, {64, 96, 128, 160, 192, 256, 320}},
};

// Longest gap between written samples that the writer fills with silence;
// a larger jump in the times is taken as a discontinuity.
constexpr int64_t kMaxGapUnits = 10 * kTimeUnitsPerSecond;

// Input frames converted per step while writing.
constexpr int kChunkFrames = 4096;

// Opens a WMA 2 encoder context for the format; null when refused.
libav::CodecContextPtr OpenWmaEncoder(int rate, int channels, int64_t bitrate) {
    const AVCodec* codec = libav::Av().avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec || !codec->sample_fmts) return nullptr;
    libav::EncoderSpec wanted;
    wanted.sampleRate = rate;
    wanted.channels = channels;
    wanted.sampleFormat = codec->sample_fmts[0];
    wanted.bitRate = bitrate;
    return libav::OpenEncoder(codec, wanted);
}

// A channel layout that names its channels: the given one, or the default
// order for its count when it has none.
void NamedLayout(const AVChannelLayout& in, AVChannelLayout& out) {
    if (in.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&in) == 0)
        av_channel_layout_default(&out, in.nb_channels);
    else
        av_channel_layout_copy(&out, &in);
}

// Windows Media attribute names and the keys under which FFmpeg's ASF
// demuxer files the same values.
struct AttributeAlias {
    const char* name;
    const char* keys[2];
};
constexpr AttributeAlias kAliases[] = {
    {"Title", {"title", nullptr}},
    {"Author", {"artist", "author"}},
    {"Description", {"comment", "description"}},
    {"Copyright", {"copyright", nullptr}},
    {"WM/AlbumTitle", {"album", nullptr}},
    {"WM/AlbumArtist", {"album_artist", nullptr}},
    {"WM/Genre", {"genre", nullptr}},
    {"WM/TrackNumber", {"track", nullptr}},
    {"WM/Year", {"date", "year"}},
    {"WM/Composer", {"composer", nullptr}},
};

bool NameIs(std::string_view a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

bool WmaRuntimeAvailable() {
    if (!libav::LoadCodecLibraries()) return false;
    if (!libav::Av().av_find_input_format(kContainer)) return false;
    if (!libav::Av().av_guess_format(kContainer, nullptr, nullptr)) return false;
    if (!libav::Av().avcodec_find_encoder(AV_CODEC_ID_WMAV2)) return false;
    for (AVCodecID id : kDecoders)
        if (!libav::Av().avcodec_find_decoder(id)) return false;
    return true;
}

std::vector<WmaCodecFormat> GetAudioCodecFormats() {
    std::vector<WmaCodecFormat> formats;
    if (!WmaRuntimeAvailable()) return formats;
    for (const FormatRow& row : kFormatTable) {
        for (int kbps : row.kbps) {
            if (kbps == 0) break;
            const int bitrate = kbps * 1000;
            libav::CodecContextPtr cc = OpenWmaEncoder(row.rate, row.channels, bitrate);
            if (!cc) continue;
            WmaCodecFormat f;
            char text[96];
            std::snprintf(text, sizeof text, "%d kbps, %d kHz, %s CBR", kbps, row.rate / 1000,
                          row.channels == 1 ? "mono" : "stereo");
            f.description = text;
            f.bitrate = bitrate;
            f.mediaType.formatTag = kFormatTagWma2;
            f.mediaType.channels = row.channels;
            f.mediaType.samplesPerSec = row.rate;
            f.mediaType.avgBytesPerSec = bitrate / 8;
            f.mediaType.blockAlign = cc->block_align;
            f.mediaType.bitsPerSample = 16;
            formats.push_back(std::move(f));
        }
    }
    return formats;
}

// ===========================================================================
// Reader

struct CWmaSyncReader::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwrContext* swr = nullptr;
    int streamIndex = -1;
    int outRate = 0;
    int outChannels = 0;
    // Input side the converter is set up for.
    int swrRate = 0;
    int swrFormat = AV_SAMPLE_FMT_NONE;
    int swrOutFormat = AV_SAMPLE_FMT_NONE;
    AVChannelLayout swrLayout{};
    // The layout of the delivered channels, fixed when the stream is
    // selected, and the bits of its own samples.
    AVChannelLayout outLayout{};
    int sourceBits = 16;
    bool flushed = false;   // the end-of-stream packet was sent
    bool finished = false;  // no more samples
    std::vector<int16_t> pcm;
    std::vector<float> pcmWide;
    int64_t nextTime = 0;  // time of the samples after the last piece

    ~State() {
        swr_free(&swr);
        av_channel_layout_uninit(&swrLayout);
        av_channel_layout_uninit(&outLayout);
        av_frame_free(&frame);
        libav::Av().av_packet_free(&packet);
        libav::Av().avcodec_free_context(&codec);
        libav::Av().avformat_close_input(&format);
    }

    // Converts the decoded frame to interleaved 16-bit samples in `pcm`,
    // or with `wide` to float samples in `pcmWide`; returns the frame
    // count, 0 when the frame gives nothing, -1 on error.
    int Convert(bool wide) {
        const AVFrame* f = frame;
        if (f->nb_samples <= 0 || f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0) return 0;
        const AVSampleFormat outFormat = wide ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16;
        if (!swr || swrRate != f->sample_rate || swrFormat != f->format ||
            swrOutFormat != outFormat ||
            av_channel_layout_compare(&swrLayout, &f->ch_layout) != 0) {
            swr_free(&swr);
            av_channel_layout_uninit(&swrLayout);
            AVChannelLayout in{}, out{};
            NamedLayout(f->ch_layout, in);
            // The frame's channels are delivered as they come when their
            // count is the stream's, in the stream's layout.
            if (in.nb_channels == outChannels && outLayout.nb_channels == outChannels)
                av_channel_layout_copy(&out, &outLayout);
            else if (in.nb_channels == outChannels)
                av_channel_layout_copy(&out, &in);
            else
                av_channel_layout_default(&out, outChannels);
            int r = swr_alloc_set_opts2(&swr, &out, outFormat, outRate, &in,
                                        static_cast<AVSampleFormat>(f->format), f->sample_rate, 0,
                                        nullptr);
            av_channel_layout_uninit(&in);
            av_channel_layout_uninit(&out);
            if (r < 0 || swr_init(swr) < 0) {
                swr_free(&swr);
                return -1;
            }
            swrRate = f->sample_rate;
            swrFormat = f->format;
            swrOutFormat = outFormat;
            av_channel_layout_copy(&swrLayout, &f->ch_layout);
        }
        const int room = swr_get_out_samples(swr, f->nb_samples);
        if (room <= 0) return 0;
        const size_t samples = static_cast<size_t>(room) * static_cast<size_t>(outChannels);
        uint8_t* out[1] = {nullptr};
        if (wide) {
            pcmWide.resize(samples);
            out[0] = reinterpret_cast<uint8_t*>(pcmWide.data());
        } else {
            pcm.resize(samples);
            out[0] = reinterpret_cast<uint8_t*>(pcm.data());
        }
        const int n = swr_convert(swr, out, room, const_cast<const uint8_t**>(f->extended_data),
                                  f->nb_samples);
        return n < 0 ? -1 : n;
    }
};

CWmaSyncReader::CWmaSyncReader() = default;
CWmaSyncReader::~CWmaSyncReader() = default;

void CWmaSyncReader::Close() { s_.reset(); }

bool CWmaSyncReader::IsOpen() const { return s_ && s_->format; }

bool CWmaSyncReader::Open(const std::string& path) {
    Close();
    if (!libav::LoadCodecLibraries()) return false;
    const AVInputFormat* asf = libav::Av().av_find_input_format(kContainer);
    if (!asf) return false;
    auto s = std::make_unique<State>();
    if (libav::OpenInput(&s->format, path, asf) < 0) {
        s->format = nullptr;
        return false;
    }
    if (libav::Av().avformat_find_stream_info(s->format, nullptr) < 0) return false;
    s_ = std::move(s);
    return true;
}

int CWmaSyncReader::GetStreamCount() const {
    return IsOpen() ? static_cast<int>(s_->format->nb_streams) : 0;
}

WmaStreamType CWmaSyncReader::GetStreamType(int index) const {
    if (index < 0 || index >= GetStreamCount()) return WmaStreamType::Other;
    switch (s_->format->streams[index]->codecpar->codec_type) {
        case AVMEDIA_TYPE_AUDIO: return WmaStreamType::Audio;
        case AVMEDIA_TYPE_VIDEO: return WmaStreamType::Video;
        default: return WmaStreamType::Other;
    }
}

int CWmaSyncReader::GetStreamNumber(int index) const {
    if (index < 0 || index >= GetStreamCount()) return 0;
    const int id = s_->format->streams[index]->id;
    return id >= 1 && id <= 127 ? id : index + 1;
}

bool CWmaSyncReader::SelectAudioStream(int streamNumber) {
    if (!IsOpen()) return false;
    State& s = *s_;
    int index = -1;
    for (int i = 0; i < GetStreamCount(); ++i)
        if (GetStreamNumber(i) == streamNumber && GetStreamType(i) == WmaStreamType::Audio) {
            index = i;
            break;
        }
    if (index < 0) return false;

    swr_free(&s.swr);
    av_frame_free(&s.frame);
    libav::Av().av_packet_free(&s.packet);
    libav::Av().avcodec_free_context(&s.codec);
    s.streamIndex = -1;

    const AVCodecParameters* par = s.format->streams[index]->codecpar;
    const AVCodec* dec = libav::Av().avcodec_find_decoder(par->codec_id);
    if (!dec) return false;
    s.codec = libav::Av().avcodec_alloc_context3(dec);
    s.packet = libav::Av().av_packet_alloc();
    s.frame = av_frame_alloc();
    if (!s.codec || !s.packet || !s.frame ||
        libav::Av().avcodec_parameters_to_context(s.codec, par) < 0 ||
        libav::Av().avcodec_open2(s.codec, dec, nullptr) < 0) {
        libav::Av().avcodec_free_context(&s.codec);
        return false;
    }
    s.outRate = s.codec->sample_rate > 0 ? s.codec->sample_rate : par->sample_rate;
    s.outChannels = s.codec->ch_layout.nb_channels > 0 ? s.codec->ch_layout.nb_channels
                                                       : par->ch_layout.nb_channels;
    if (s.outRate <= 0 || s.outChannels <= 0) {
        libav::Av().avcodec_free_context(&s.codec);
        return false;
    }
    av_channel_layout_uninit(&s.outLayout);
    if (s.codec->ch_layout.nb_channels == s.outChannels)
        NamedLayout(s.codec->ch_layout, s.outLayout);
    else
        av_channel_layout_default(&s.outLayout, s.outChannels);
    // Lossless streams keep their depth: WMA Lossless and PCM.
    const AVCodecID id = par->codec_id;
    s.sourceBits = 16;
    if (id == AV_CODEC_ID_WMALOSSLESS ||
        (id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT)) {
        const int bits = std::max(
            {s.codec->bits_per_raw_sample, par->bits_per_raw_sample, par->bits_per_coded_sample});
        if (bits > 16) s.sourceBits = bits <= 24 ? 24 : 32;
    }
    // Only the selected stream's packets reach the decoder.
    for (unsigned i = 0; i < s.format->nb_streams; ++i)
        s.format->streams[i]->discard =
            static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    s.streamIndex = index;
    s.flushed = s.finished = false;
    s.nextTime = 0;
    return true;
}

WmaResult CWmaSyncReader::GetAttributeByName(std::string_view name, WmaAttribute& value) const {
    if (!IsOpen()) return WmaResult::Failed;
    const AVFormatContext* fmt = s_->format;
    value = WmaAttribute{};

    if (NameIs(name, "Duration")) {
        // Only a play duration stated in the header counts; the demuxer's
        // estimate from the bit rate does not.
        if (fmt->duration == AV_NOPTS_VALUE || fmt->duration <= 0 ||
            fmt->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
            return WmaResult::NotFound;
        value.type = WmaAttrType::Qword;
        value.number =
            static_cast<uint64_t>(av_rescale_q(fmt->duration, AV_TIME_BASE_Q, kTimeBase100ns));
        return WmaResult::Ok;
    }
    if (NameIs(name, "Bitrate")) {
        // The streams' rates when the header states each of them; else the
        // container's overall rate (file size over duration), which also
        // counts a video stream of unstated rate.
        int64_t sum = 0;
        bool allKnown = true;
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            const int64_t b = fmt->streams[i]->codecpar->bit_rate;
            if (b > 0)
                sum += b;
            else
                allKnown = false;
        }
        if (!allKnown && fmt->bit_rate > 0) sum = fmt->bit_rate;
        if (sum <= 0) return WmaResult::NotFound;
        value.type = WmaAttrType::Dword;
        value.number =
            static_cast<uint64_t>(std::min<int64_t>(sum, std::numeric_limits<uint32_t>::max()));
        return WmaResult::Ok;
    }

    const std::string key(name);
    const AVDictionaryEntry* e =
        key.empty() ? nullptr : av_dict_get(fmt->metadata, key.c_str(), nullptr, 0);
    for (const AttributeAlias& a : kAliases) {
        if (e || !NameIs(name, a.name)) continue;
        for (const char* k : a.keys)
            if (k && !e) e = av_dict_get(fmt->metadata, k, nullptr, 0);
    }
    if (!e) return WmaResult::NotFound;
    value.type = WmaAttrType::String;
    value.text = e->value ? e->value : "";
    return WmaResult::Ok;
}

bool CWmaSyncReader::GetOutputFormat(int& sampleRate, int& channels) const {
    if (!IsOpen() || s_->streamIndex < 0) return false;
    sampleRate = s_->outRate;
    channels = s_->outChannels;
    return true;
}

bool CWmaSyncReader::GetNextSample(const int16_t*& data, size_t& bytes, int64_t& time) {
    const int n = NextPiece(false, time);
    if (n <= 0) return false;
    data = s_->pcm.data();
    bytes = static_cast<size_t>(n) * static_cast<size_t>(s_->outChannels) * 2;
    return true;
}

bool CWmaSyncReader::GetNextFloatSample(const float*& data, size_t& frames, int64_t& time) {
    const int n = NextPiece(true, time);
    if (n <= 0) return false;
    data = s_->pcmWide.data();
    frames = static_cast<size_t>(n);
    return true;
}

std::vector<uint64_t> CWmaSyncReader::GetChannelPositions() const {
    if (!IsOpen() || s_->streamIndex < 0) return {};
    const AVChannelLayout& layout = s_->outLayout;
    std::vector<uint64_t> positions;
    for (int c = 0; c < layout.nb_channels; ++c) {
        const int id = static_cast<int>(
            av_channel_layout_channel_from_index(&layout, static_cast<unsigned>(c)));
        positions.push_back(id >= 0 && id < 64 ? uint64_t{1} << id : 0);
    }
    return positions;
}

int CWmaSyncReader::GetSourceBits() const {
    return IsOpen() && s_->streamIndex >= 0 ? s_->sourceBits : 16;
}

int CWmaSyncReader::NextPiece(bool wide, int64_t& time) {
    if (!IsOpen() || s_->streamIndex < 0) return 0;
    State& s = *s_;
    const AVRational tb = s.format->streams[s.streamIndex]->time_base;
    while (!s.finished) {
        int r = libav::Av().avcodec_receive_frame(s.codec, s.frame);
        if (r == 0) {
            const int64_t ts = s.frame->best_effort_timestamp;
            const int n = s.Convert(wide);
            av_frame_unref(s.frame);
            if (n <= 0) continue;
            time = ts != AV_NOPTS_VALUE && tb.num > 0 && tb.den > 0
                       ? av_rescale_q(ts, tb, kTimeBase100ns)
                       : s.nextTime;
            s.nextTime = time + av_rescale(n, kTimeUnitsPerSecond, s.outRate);
            return n;
        }
        if (r == AVERROR_EOF || s.flushed) {
            // Once flushing, any answer but a frame ends the stream.
            s.finished = true;
            continue;
        }
        // The decoder wants more input (or rejected the last packet, which
        // is skipped); a damaged packet is skipped too.
        if (libav::FeedNextPacket(s.format, s.codec, s.packet, s.streamIndex) ==
            libav::FeedResult::Flushed)
            s.flushed = true;
    }
    return 0;
}

// ===========================================================================
// Writer

struct CWmaFileWriter::Session {
    libav::CEncodeSession encode;
    std::string path;
    int inRate = 0;
    int inChannels = 0;
    int outChannels = 0;
    int64_t inFrames = 0;         // input frames taken so far (silence included)
    std::vector<int16_t> mapped;  // input in the output's channels

    // Takes input frames (null: silence), matches their channel count to
    // the output's, converts and encodes what fills whole frames.
    bool Feed(const int16_t* in, int64_t frames) {
        bool ok = true;
        while (frames > 0) {
            const int n = static_cast<int>(std::min<int64_t>(frames, kChunkFrames));
            mapped.assign(static_cast<size_t>(n) * outChannels, 0);
            if (in) {
                for (int i = 0; i < n; ++i) {
                    const int16_t* f = in + static_cast<ptrdiff_t>(i) * inChannels;
                    if (outChannels == inChannels) {
                        for (int c = 0; c < inChannels; ++c) mapped[i * outChannels + c] = f[c];
                    } else if (outChannels == 2) {  // mono to both sides
                        mapped[2 * i] = mapped[2 * i + 1] = f[0];
                    } else {  // stereo to mono: the mean, truncated toward zero
                        mapped[i] = static_cast<int16_t>((f[0] + f[1]) / 2);
                    }
                }
                in += static_cast<ptrdiff_t>(n) * inChannels;
            }
            if (!encode.Push(mapped.data(), n)) ok = false;
            frames -= n;
            inFrames += n;
        }
        return ok;
    }
};

CWmaFileWriter::CWmaFileWriter() = default;

CWmaFileWriter::~CWmaFileWriter() {
    if (session_ && session_->encode.HeaderWritten()) {
        std::string path = session_->path;
        session_.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

void CWmaFileWriter::SetProfile(const WmaMediaType& format, int bitrate) {
    format_ = format;
    bitrate_ = bitrate;
}

void CWmaFileWriter::SetInputFormat(int sampleRate, int channels) {
    inRate_ = sampleRate;
    inChannels_ = channels;
}

void CWmaFileWriter::AddAttribute(const std::string& name, const std::string& value) {
    if (name.empty() || value.empty()) return;
    attributes_.emplace_back(name, value);
}

void CWmaFileWriter::AddAttribute(const std::string& name, uint32_t value) {
    AddAttribute(name, std::to_string(value));
}

bool CWmaFileWriter::IsWriting() const { return session_ && session_->encode.HeaderWritten(); }

bool CWmaFileWriter::Fail(const std::string& reason) {
    lastError_ = reason;
    if (session_ && session_->encode.HeaderWritten()) {
        std::string path = session_->path;
        session_.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    session_.reset();
    return false;
}

bool CWmaFileWriter::BeginWriting(const std::string& path) {
    if (session_) return Fail("already writing");
    lastError_.clear();
    if (!WmaRuntimeAvailable()) return Fail("the Windows Media codecs are not available");
    if (path.empty()) return Fail("no output file name");
    if (format_.formatTag != kFormatTagWma2) return Fail("not a Windows Media Audio format");
    const int outRate = format_.samplesPerSec;
    const int outChannels = format_.channels;
    if (outRate <= 0 || (outChannels != 1 && outChannels != 2))
        return Fail("invalid output format");
    if (inRate_ <= 0 || (inChannels_ != 1 && inChannels_ != 2)) return Fail("invalid input format");
    const int64_t bitrate =
        bitrate_ > 0 ? bitrate_ : static_cast<int64_t>(format_.avgBytesPerSec) * 8;
    if (bitrate <= 0) return Fail("no bit rate");

    auto s = std::make_unique<Session>();
    s->path = path;
    s->inRate = inRate_;
    s->inChannels = inChannels_;
    s->outChannels = outChannels;
    libav::CodecContextPtr cc = OpenWmaEncoder(outRate, outChannels, bitrate);
    if (!cc) return Fail("the encoder refused the format");
    session_ = std::move(s);
    Session& ss = *session_;

    if (!ss.encode.CreateMuxer(libav::Av().av_guess_format(kContainer, nullptr, nullptr), true))
        return Fail("cannot allocate the container");
    // The encoder's own frame size; 2048 should it state none.
    if (!ss.encode.AttachEncoder(std::move(cc), 2048, inRate_))
        return Fail("cannot set up the sample conversion");

    for (const auto& [name, value] : attributes_)
        if (av_dict_set(&ss.encode.Format()->metadata, name.c_str(), value.c_str(), 0) < 0)
            return Fail("out of memory");

    if (!ss.encode.OpenFile(path)) {
        const bool headerRefused = ss.encode.Format() == nullptr;
        if (headerRefused) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
        return Fail(headerRefused ? "the container refused the stream"
                                  : "cannot create the output file");
    }
    return true;
}

bool CWmaFileWriter::WriteSample(int64_t time, const int16_t* interleaved, int frames) {
    if (!IsWriting() || frames < 0 || (frames > 0 && !interleaved)) return false;
    Session& s = *session_;
    bool ok = true;
    const int64_t end = av_rescale(s.inFrames, kTimeUnitsPerSecond, s.inRate);
    if (time > end && time - end <= kMaxGapUnits) {
        const int64_t gap = av_rescale(time - end, s.inRate, kTimeUnitsPerSecond);
        if (gap > 0 && !s.Feed(nullptr, gap)) ok = false;
    }
    if (frames > 0 && !s.Feed(interleaved, frames)) ok = false;
    if (!ok)
        lastError_ = s.encode.WriteError().empty() ? "the sample could not be written"
                                                   : s.encode.WriteError();
    return ok;
}

bool CWmaFileWriter::EndWriting() {
    if (!IsWriting()) {
        session_.reset();
        return false;
    }
    const bool ok = session_->encode.Finish(libav::LastFrame::PadToFrameSize);
    const std::string cause = session_->encode.WriteError();
    session_.reset();
    if (!ok) lastError_ = cause.empty() ? "the file could not be finished" : cause;
    return ok;
}

}  // namespace quelvox::wma
