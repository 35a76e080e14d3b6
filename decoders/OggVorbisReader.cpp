#include "decoders/OggVorbisReader.h"

#include "common/AudioBlock.h"
#include "common/SampleHelpers.h"
#include "common/TextCodec.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <limits>

namespace quelvox {

namespace {

// ov_read delivers samples in the machine's byte order.
constexpr int kBigEndian = std::endian::native == std::endian::big ? 1 : 0;

// Bytes of one mono block.
constexpr int kMonoRequest = kBlockBytes;

// Positions of the channels of a Vorbis stream of 1 … 8 channels, in
// stored order: the channel order Vorbis I defines for each count.
constexpr uint64_t kFL = channel::kFrontLeft, kFR = channel::kFrontRight,
                   kFC = channel::kFrontCenter, kLFE = channel::kLowFrequency,
                   kBL = channel::kBackLeft, kBR = channel::kBackRight, kBC = channel::kBackCenter,
                   kSL = channel::kSideLeft, kSR = channel::kSideRight;
constexpr uint64_t kVorbisOrder[8][8] = {
    {kFC},
    {kFL, kFR},
    {kFL, kFC, kFR},
    {kFL, kFR, kBL, kBR},
    {kFL, kFC, kFR, kBL, kBR},
    {kFL, kFC, kFR, kBL, kBR, kLFE},
    {kFL, kFC, kFR, kSL, kSR, kBC, kLFE},
    {kFL, kFC, kFR, kSL, kSR, kBL, kBR, kLFE},
};

// The position of channel `index` of a stream of `count` channels; beyond
// eight channels the order is the application's, so the first eight take
// the default layout of eight.
uint64_t VorbisPosition(int count, int index) {
    if (count <= kMaxChannels) return kVorbisOrder[count - 1][index];
    return ChannelAt(DefaultLayout(kMaxChannels), index);
}

// Case-insensitive test whether `text` begins with `name` (ASCII names).
bool StartsWithName(const std::string& text, const char* name) {
    size_t n = std::strlen(name);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = text[i], b = name[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

}  // namespace

COggVorbisReader::COggVorbisReader() { ResetInfo(); }

COggVorbisReader::~COggVorbisReader() { Close(); }

void COggVorbisReader::Close() {
    if (file_) {
        ov_clear(file_.get());
        file_.reset();
    }
    ended_ = false;
    pcmRequest_ = 0;
    comments_.clear();
    blockLayout_ = 0;
    fewestChannels_ = 0;
    ResetInfo();
}

int COggVorbisReader::Open(const std::string& path, int renderRate) {
    (void)renderRate;
    Close();

    auto file = std::make_unique<OggVorbis_File>();
    std::memset(file.get(), 0, sizeof(OggVorbis_File));
    // On failure vorbisfile closes the file and clears its state itself.
    if (ov_fopen(path.c_str(), file.get()) < 0) return 0;
    file_ = std::move(file);

    // vorbisfile leaves a chained file positioned at its second logical
    // stream after opening it, so the first stream would never be played;
    // start explicitly from the first sample.
    if (ov_seekable(file_.get()) && ov_streams(file_.get()) > 1 &&
        ov_pcm_seek(file_.get(), 0) != 0) {
        Close();
        return 0;
    }

    const vorbis_info* info = ov_info(file_.get(), -1);
    if (!info || info->channels < 1 || info->rate < 1) {
        Close();
        return 0;
    }

    // Comments of the first logical stream, in file order. Vorbis comments
    // are UTF-8, the program's own text encoding; damaged sequences are
    // repaired rather than passed on.
    if (const vorbis_comment* vc = ov_comment(file_.get(), 0)) {
        for (int i = 0; i < vc->comments; ++i) {
            if (!vc->user_comments || !vc->user_comments[i]) continue;
            int len = vc->comment_lengths ? vc->comment_lengths[i] : 0;
            if (len < 0 || static_cast<size_t>(len) > kMaxCommentBytes) continue;
            comments_.push_back(
                SanitizeUtf8(std::string_view(vc->user_comments[i], static_cast<size_t>(len))));
        }
    }

    sampleRate =
        static_cast<int32_t>(std::min<long>(info->rate, std::numeric_limits<int32_t>::max()));
    channels = info->channels;
    outputChannels = channels <= 2 ? channels : 2;
    long bps = info->bitrate_nominal;
    if (bps <= 0) bps = ov_bitrate(file_.get(), -1);  // average of the file
    bitrateKbps = bps > 0 ? static_cast<int32_t>(bps / 1000) : 0;
    bitsPerSample = 16;
    bytesPerSample = 2;

    double seconds = ov_time_total(file_.get(), -1);
    durationSeconds =
        seconds > 0
            ? static_cast<int32_t>(ClampToInt(seconds, 0, std::numeric_limits<int32_t>::max()))
            : 0;
    // Progress runs up to the compressed byte position at the end, which
    // is the file's size; vorbisfile's total leaves out the headers of the
    // first stream, so take whichever is larger.
    ogg_int64_t raw = ov_raw_total(file_.get(), -1);
    total = raw > 0 ? static_cast<uint64_t>(raw) : 0;
    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    if (!ec && size > total) total = size;
    position = 0;

    pcmRequest_ = static_cast<int>(sizeof pcm_);
    fewestChannels_ = channels;
    long links = ov_streams(file_.get());
    for (long i = 0; i < links; ++i) {
        const int lc = LinkChannels(static_cast<int>(i));
        if (lc == 1) pcmRequest_ = kMonoRequest;
        fewestChannels_ = std::min(fewestChannels_, lc);
    }
    blockLayout_ = 0;
    for (int k = 0; k < std::min(channels, kMaxChannels); ++k)
        blockLayout_ |= VorbisPosition(channels, k);
    return 1;
}

int COggVorbisReader::LinkChannels(int link) {
    const vorbis_info* info = ov_info(file_.get(), link);
    return info && info->channels > 0 ? info->channels : channels;
}

long COggVorbisReader::ReadPcm(char* buffer, int bytes, int* link) {
    if (ended_) return 0;
    for (int failures = 0; failures < kMaxReadFailures; ++failures) {
        long r = ov_read(file_.get(), buffer, bytes, kBigEndian, 2, 1, link);
        if (r >= 0) return r;
        // A hole or a damaged page: ask again.
    }
    ended_ = true;
    return 0;
}

int COggVorbisReader::DecodeInt16(int16_t* left, int16_t* right) {
    if (!file_ || !left) return 0;
    int link = 0;

    if (outputChannels == 1) {
        long bytes = ReadPcm(reinterpret_cast<char*>(left), kMonoRequest, &link);
        if (bytes <= 0) return 0;
        int lc = LinkChannels(link);
        int frames = static_cast<int>(bytes / 2 / lc);
        // A later logical stream with more channels: keep the first channel
        // of each frame (in place; the reads stay ahead of the writes).
        if (lc > 1) {
            for (int i = 0; i < frames; ++i) left[i] = left[i * lc];
        }
        return frames;
    }

    if (!right) return 0;
    long bytes = ReadPcm(pcm_, pcmRequest_, &link);
    if (bytes <= 0) return 0;
    const int lc = LinkChannels(link);
    const int16_t* s = reinterpret_cast<const int16_t*>(pcm_);
    const int frames = std::min(static_cast<int>(bytes / 2 / lc), kBlockFrames);
    if (lc == 1) {
        for (int i = 0; i < frames; ++i) left[i] = right[i] = s[i];
    } else if (lc == 2) {
        for (int i = 0; i < frames; ++i) {
            left[i] = s[2 * i];
            right[i] = s[2 * i + 1];
        }
    } else if (lc == 6) {
        for (int i = 0; i < frames; ++i) DownmixVorbis51(s + 6 * i, &left[i], &right[i]);
    } else {
        for (int i = 0; i < frames; ++i)
            DownmixToStereo(lc, s + static_cast<size_t>(lc) * i, &left[i], &right[i]);
    }
    return frames;
}

int COggVorbisReader::GetBlockChannels() {
    return file_ ? LayoutChannels(blockLayout_) : CAudioReader::GetBlockChannels();
}

uint64_t COggVorbisReader::GetChannelLayout() {
    return file_ ? blockLayout_ : CAudioReader::GetChannelLayout();
}

int COggVorbisReader::ReadBlock(AudioBlock& block) {
    const int width = GetBlockChannels();
    if (!file_ || width <= 2)
        return pcm16_.Decode(block, outputChannels == 2, [this](int16_t* left, int16_t* right) {
            return DecodeInt16(left, right);
        });
    block.Shape(width, kBlockFrames, blockLayout_, 16);
    block.frames = 0;
    // At most one block of frames even from the logical stream with the
    // fewest channels.
    const size_t request = static_cast<size_t>(kBlockFrames) * static_cast<size_t>(fewestChannels_);
    if (widePcm_.size() < request) widePcm_.resize(request);
    int link = 0;
    const long bytes = ReadPcm(reinterpret_cast<char*>(widePcm_.data()),
                               static_cast<int>(request * sizeof(int16_t)), &link);
    if (bytes <= 0) return 0;
    const int lc = LinkChannels(link);
    const int frames = std::min(static_cast<int>(bytes / 2 / lc), kBlockFrames);
    // Each channel of the stream to the block channel of its position.
    bool filled[kMaxChannels] = {};
    for (int k = 0; k < std::min(lc, kMaxChannels); ++k) {
        const uint64_t place = VorbisPosition(lc, k);
        if (!(blockLayout_ & place)) continue;
        const int c = LayoutChannels(blockLayout_ & (place - 1));
        Int16sToFloats(widePcm_.data() + k, static_cast<size_t>(lc), frames, block.Channel(c));
        filled[c] = true;
    }
    for (int c = 0; c < width; ++c)
        if (!filled[c]) std::fill(block.Channel(c), block.Channel(c) + frames, 0.0f);
    block.frames = frames;
    return frames;
}

uint64_t COggVorbisReader::GetPosition() {
    if (!file_) return 0;
    ogg_int64_t pos = ov_raw_tell(file_.get());
    return pos > 0 ? static_cast<uint64_t>(pos) : 0;
}

int COggVorbisReader::ReadTags(TagInfo& tags) {
    struct Field {
        std::string* text;
        const char* name;
    };
    const Field fields[] = {
        {&tags.title, "TITLE="},         {&tags.artist, "ARTIST="},
        {&tags.album, "ALBUM="},         {&tags.year, "DATE="},
        {&tags.genre, "GENRE="},         {&tags.comment, "COMMENT="},
        {&tags.track, "TRACKNUMBER="},   {&tags.composer, "COMPOSER="},
        {&tags.copyright, "COPYRIGHT="},
    };
    for (const Field& f : fields) {
        f.text->clear();
        size_t n = std::strlen(f.name);
        for (const std::string& c : comments_) {
            if (StartsWithName(c, f.name)) *f.text = c.substr(n);
        }
    }
    return 1;
}

}  // namespace quelvox
