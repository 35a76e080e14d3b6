// WAV, AIFF, FLAC and the other PCM containers through libsndfile.
//
// Integer sources wider than 16 bits keep their top 16 bits; float sources
// are converted with clamping, so values beyond full scale saturate instead
// of wrapping. 8-bit sources are delivered as unsigned 8-bit samples, as
// they are stored in WAV. Wide delivery (GetFloatFrames) keeps every
// channel at the source's depth.
#include "platform/bass/Backends.h"

#include "common/AudioBlock.h"
#include "common/SampleHelpers.h"
#include "common/TagSpans.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <filesystem>
#include <vector>

namespace quelvox::bass {

namespace {

struct FileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndHandle = std::unique_ptr<SNDFILE, FileCloser>;

enum class Delivery { Pcm16, Float, Unsigned8 };

// libsndfile's channel names as channel mask bits.
struct MapPosition {
    int map;
    uint64_t position;
};
constexpr MapPosition kMapPositions[] = {
    {SF_CHANNEL_MAP_MONO, channel::kFrontCenter},
    {SF_CHANNEL_MAP_LEFT, channel::kFrontLeft},
    {SF_CHANNEL_MAP_RIGHT, channel::kFrontRight},
    {SF_CHANNEL_MAP_CENTER, channel::kFrontCenter},
    {SF_CHANNEL_MAP_FRONT_LEFT, channel::kFrontLeft},
    {SF_CHANNEL_MAP_FRONT_RIGHT, channel::kFrontRight},
    {SF_CHANNEL_MAP_FRONT_CENTER, channel::kFrontCenter},
    {SF_CHANNEL_MAP_REAR_CENTER, channel::kBackCenter},
    {SF_CHANNEL_MAP_REAR_LEFT, channel::kBackLeft},
    {SF_CHANNEL_MAP_REAR_RIGHT, channel::kBackRight},
    {SF_CHANNEL_MAP_LFE, channel::kLowFrequency},
    {SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, channel::kFrontLeftOfCenter},
    {SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, channel::kFrontRightOfCenter},
    {SF_CHANNEL_MAP_SIDE_LEFT, channel::kSideLeft},
    {SF_CHANNEL_MAP_SIDE_RIGHT, channel::kSideRight},
};

// FLAC's fixed channel assignment by count.
using channel::kBackCenter, channel::kBackLeft, channel::kBackRight, channel::kFrontCenter,
    channel::kFrontLeft, channel::kFrontRight, channel::kLowFrequency, channel::kSideLeft,
    channel::kSideRight;
constexpr uint64_t kFlacOrders[kMaxChannels][kMaxChannels] = {
    {kFrontCenter},
    {kFrontLeft, kFrontRight},
    {kFrontLeft, kFrontRight, kFrontCenter},
    {kFrontLeft, kFrontRight, kBackLeft, kBackRight},
    {kFrontLeft, kFrontRight, kFrontCenter, kBackLeft, kBackRight},
    {kFrontLeft, kFrontRight, kFrontCenter, kLowFrequency, kBackLeft, kBackRight},
    {kFrontLeft, kFrontRight, kFrontCenter, kLowFrequency, kBackCenter, kSideLeft, kSideRight},
    {kFrontLeft, kFrontRight, kFrontCenter, kLowFrequency, kBackLeft, kBackRight, kSideLeft,
     kSideRight},
};

// Bits of the stored samples by libsndfile subtype; 16 for everything
// that decodes to at most 16 bits (ADPCM, G.711, GSM and the like).
int SubtypeBits(int minor) {
    switch (minor) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return 8;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE: return 32;
        default: return 16;
    }
}

class CSndfileChannel : public CChannel {
public:
    CSndfileChannel(SndHandle f, const SF_INFO& info, Delivery delivery, int64_t fileSize,
                    std::string path, uint64_t claimedFrames)
        : f_(std::move(f)),
          rate_(info.samplerate),
          channels_(info.channels),
          frames_(static_cast<uint64_t>(info.frames)),
          claimedFrames_(std::max(claimedFrames, frames_)),
          delivery_(delivery),
          fileSize_(fileSize),
          path_(std::move(path)),
          bits_(SubtypeBits(info.format & SF_FORMAT_SUBMASK)),
          float_((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT ||
                 (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE),
          flac_((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) {}

    int SourceBits() const override { return bits_; }
    bool SourceFloat() const override { return float_; }

    std::vector<uint64_t> ChannelPositions() const override {
        std::vector<int> map(static_cast<size_t>(channels_));
        std::vector<uint64_t> positions;
        if (sf_command(f_.get(), SFC_GET_CHANNEL_MAP_INFO, map.data(),
                       static_cast<int>(map.size() * sizeof(int))) == SF_TRUE) {
            for (int m : map) {
                uint64_t found = 0;
                for (const MapPosition& p : kMapPositions)
                    if (p.map == m) found = p.position;
                if (found == 0) return {};
                positions.push_back(found);
            }
            return positions;
        }
        if (flac_ && channels_ <= kMaxChannels) {
            const uint64_t* order = kFlacOrders[channels_ - 1];
            return {order, order + channels_};
        }
        return {};
    }

    int GetFloatFrames(float* buffer, int frames) override {
        if (frames <= 0) return -1;
        const auto want = static_cast<sf_count_t>(frames);
        const size_t samples = static_cast<size_t>(frames) * static_cast<size_t>(channels_);
        sf_count_t got = 0;
        if (bits_ <= 16) {
            // Exactly GetData's samples: 8-bit ones widened by a shift of 8.
            scratchShort_.resize(samples);
            got = sf_readf_short(f_.get(), scratchShort_.data(), want);
            for (size_t i = 0; i < static_cast<size_t>(std::max<sf_count_t>(got, 0)) * channels_;
                 ++i)
                buffer[i] = Int16ToFloat(scratchShort_[i]);
        } else {
            // Integers come as s / 2^31 of their 32-bit alignment, which
            // float holds exactly up to 24 bits.
            got = sf_readf_float(f_.get(), buffer, want);
            if (delivery_ == Delivery::Float)
                for (size_t i = 0;
                     i < static_cast<size_t>(std::max<sf_count_t>(got, 0)) * channels_; ++i)
                    buffer[i] = SaneFloatSample(buffer[i]);
        }
        if (got <= 0) return -1;
        delivered_ += static_cast<uint64_t>(got);
        return static_cast<int>(got);
    }

    // The length the header claims: a file cut short reads to its end
    // before that, and the reader's caller tells the difference.
    uint64_t GetLength() const override { return claimedFrames_ * FrameBytes(); }
    ChannelInfo GetInfo() const override {
        return {rate_, channels_, delivery_ == Delivery::Unsigned8 ? kSample8Bits : 0u};
    }
    int64_t GetFilePositionEnd() const override { return fileSize_; }
    uint64_t GetPosition() const override { return delivered_ * FrameBytes(); }
    TagInfo ReadTags() const override { return ReadFileTags(path_, TagCodePage()); }
    // libsndfile seeks to the exact frame in PCM files and in FLAC.
    bool SeekFrame(uint64_t frame, uint64_t& landed) override {
        if (frame > frames_) return false;
        if (sf_seek(f_.get(), static_cast<sf_count_t>(frame), SEEK_SET) < 0) return false;
        delivered_ = frame;
        landed = frame;
        return true;
    }

    int GetData(void* buffer, uint32_t bytes) override {
        const sf_count_t want = bytes / FrameBytes();
        if (want <= 0) return -1;
        const size_t samples = static_cast<size_t>(want) * channels_;
        sf_count_t got = 0;
        switch (delivery_) {
            case Delivery::Pcm16:
                got = sf_readf_short(f_.get(), static_cast<short*>(buffer), want);
                break;
            case Delivery::Float: {
                scratchDouble_.resize(samples);
                got = sf_readf_double(f_.get(), scratchDouble_.data(), want);
                auto* out = static_cast<int16_t*>(buffer);
                for (size_t i = 0; i < static_cast<size_t>(got) * channels_; ++i)
                    out[i] = FloatToSample16(scratchDouble_[i]);
                break;
            }
            case Delivery::Unsigned8: {
                scratchShort_.resize(samples);
                got = sf_readf_short(f_.get(), scratchShort_.data(), want);
                auto* out = static_cast<uint8_t*>(buffer);
                // libsndfile widens 8-bit data by a shift of 8, so this is exact.
                for (size_t i = 0; i < static_cast<size_t>(got) * channels_; ++i)
                    out[i] = static_cast<uint8_t>((scratchShort_[i] >> 8) + 128);
                break;
            }
        }
        if (got <= 0) return -1;
        delivered_ += static_cast<uint64_t>(got);
        return static_cast<int>(static_cast<uint64_t>(got) * FrameBytes());
    }

private:
    uint64_t FrameBytes() const {
        return static_cast<uint64_t>(channels_) * (delivery_ == Delivery::Unsigned8 ? 1 : 2);
    }

    SndHandle f_;
    int rate_;
    int channels_;
    uint64_t frames_;  // what the file holds
    uint64_t claimedFrames_;
    Delivery delivery_;
    int64_t fileSize_;
    std::string path_;
    int bits_;
    bool float_;
    bool flac_;
    uint64_t delivered_ = 0;
    std::vector<double> scratchDouble_;
    std::vector<short> scratchShort_;
};

// Frames the header of the RIFF WAVE file at `path` claims its PCM data
// holds: the data chunk's size over the block size of its fmt chunk. 0 when
// the header says nothing usable (no such chunks, a compressed format whose
// blocks hold many frames, or a size left open by a streaming writer).
// libsndfile counts only the frames the file holds, so a file cut short
// would otherwise never be known for one.
uint64_t WavClaimedFrames(const std::string& path) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"),
                                                          &std::fclose);
    if (!file) return 0;
    std::FILE* f = file.get();
    uint8_t head[12];
    if (std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return 0;
    const auto le16 = [](const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); };
    const auto le32 = [&le16](const uint8_t* p) { return le16(p) | le16(p + 2) << 16; };
    uint32_t blockAlign = 0;
    int formatTag = 0;
    // Chunks up to the data chunk; a header of more is none of ours.
    for (int chunk = 0; chunk < 64; ++chunk) {
        uint8_t c[8];
        if (std::fread(c, 1, 8, f) != 8) return 0;
        const uint32_t size = le32(c + 4);
        if (std::memcmp(c, "fmt ", 4) == 0 && size >= 16) {
            uint8_t fmt[16];
            if (std::fread(fmt, 1, 16, f) != 16) return 0;
            formatTag = static_cast<int>(le16(fmt));
            blockAlign = le16(fmt + 12);
            if (formatTag == 0xFFFE && size >= 40) {  // extensible: the sub-format's tag
                uint8_t ext[10];
                if (std::fread(ext, 1, 10, f) != 10) return 0;
                formatTag = static_cast<int>(le16(ext + 8));
                if (fseeko(f, static_cast<off_t>(size - 26 + (size & 1)), SEEK_CUR) != 0) return 0;
            } else if (fseeko(f, static_cast<off_t>(size - 16 + (size & 1)), SEEK_CUR) != 0) {
                return 0;
            }
        } else if (std::memcmp(c, "data", 4) == 0) {
            // PCM (1) and IEEE float (3): one frame per block.
            const bool plain = formatTag == 1 || formatTag == 3;
            if (!plain || blockAlign == 0 || size == 0 || size == 0xFFFFFFFFu) return 0;
            return size / blockAlign;
        } else if (fseeko(f, static_cast<off_t>(size) + (size & 1), SEEK_CUR) != 0) {
            return 0;
        }
    }
    return 0;
}

}  // namespace

// Whether libsndfile, given this name, takes a file whose content it does
// not recognise for MPEG audio (it does so for ".mp3", in any case).
bool NameSaysMpeg(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".mp3";
}

std::unique_ptr<CChannel> OpenSndfileStream(const std::string& path, bool allowFlac) {
    SF_INFO info{};
    SndHandle f;
    if (NameSaysMpeg(path)) {
        // Opened by descriptor, libsndfile has no name to guess from: an
        // unrecognised file is refused instead of being handed to its own
        // MPEG decoder, whose libmpg123 handle writes its complaints about
        // the stream to standard error.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        // libsndfile closes the descriptor with the stream, and also when
        // the open fails.
        f.reset(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
    } else {
        f.reset(sf_open(path.c_str(), SFM_READ, &info));
    }
    if (!f) return nullptr;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int minor = info.format & SF_FORMAT_SUBMASK;

    // Compressed formats other than FLAC belong to other decoders (MPEG
    // audio to libmpg123, Vorbis and Opus to the Ogg reader, ALAC to its
    // add-on).
    if (major == SF_FORMAT_MPEG || major == SF_FORMAT_OGG) return nullptr;
    switch (minor) {
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
        case SF_FORMAT_ALAC_16:
        case SF_FORMAT_ALAC_20:
        case SF_FORMAT_ALAC_24:
        case SF_FORMAT_ALAC_32:
        case SF_FORMAT_MPEG_LAYER_I:
        case SF_FORMAT_MPEG_LAYER_II:
        case SF_FORMAT_MPEG_LAYER_III: return nullptr;
        default: break;
    }
    if (major == SF_FORMAT_FLAC && !allowFlac) return nullptr;
    if (info.samplerate <= 0 || info.channels <= 0 || info.frames < 0) return nullptr;
    if (info.frames == SF_COUNT_MAX) {
        // The header does not tell the length (a FLAC stream written without
        // its sample count): count the frames once, then start over.
        std::vector<short> scratch(4096 * static_cast<size_t>(info.channels));
        sf_count_t frames = 0;
        for (sf_count_t got; (got = sf_readf_short(f.get(), scratch.data(), 4096)) > 0;)
            frames += got;
        if (sf_seek(f.get(), 0, SEEK_SET) != 0) return nullptr;
        info.frames = frames;
    }

    Delivery delivery = Delivery::Pcm16;
    if (minor == SF_FORMAT_PCM_U8 || minor == SF_FORMAT_PCM_S8)
        delivery = Delivery::Unsigned8;
    else if (minor == SF_FORMAT_FLOAT || minor == SF_FORMAT_DOUBLE)
        delivery = Delivery::Float;

    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    int64_t fileSize = ec ? -1 : static_cast<int64_t>(size);
    const uint64_t claimed = major == SF_FORMAT_WAV ? WavClaimedFrames(path) : 0;
    return std::make_unique<CSndfileChannel>(std::move(f), info, delivery,
                                             AudioDataBytes(path, fileSize), path, claimed);
}

}  // namespace quelvox::bass
