#include "decoders/BassReader.h"

#include "common/SampleHelpers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quelvox {

namespace {

// Largest number of samples per frame that take part in a mix.
constexpr int kMixChannels = 8;

bool IsMidiPath(const std::string& path) {
    size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".midi" || ext == ".mid" || ext == ".rmi" || ext == ".kar";
}

}  // namespace

CBassReader::CBassReader(const bass::CBassRuntime& runtime) : runtime_(runtime) { ResetInfo(); }

CBassReader::~CBassReader() { Close(); }

void CBassReader::Close() {
    channel_.reset();
    buffer_.clear();
    buffer_.shrink_to_fit();
    dataBits_ = 16;
    wideBits_ = 0;
    blockChannels_ = 0;
    blockLayout_ = 0;
    wideBuffer_.clear();
    wideBuffer_.shrink_to_fit();
    wide16_.clear();
    wide16_.shrink_to_fit();
    ResetInfo();
}

int CBassReader::Open(const std::string& path, int renderRate) {
    Close();

    if (IsMidiPath(path)) {
        channel_ = bass::MidiStreamCreateFile(runtime_, path, renderRate);
    } else {
        channel_ =
            bass::StreamCreateFile(runtime_, path, knownLength.frames > 0 ? &knownLength : nullptr);
        if (!channel_) channel_ = bass::MusicLoad(runtime_, path, renderRate);
    }
    if (!channel_) return 0;

    total = channel_->GetLength();
    if (total == 0) {
        Close();
        return 0;
    }
    const double seconds = channel_->Bytes2Seconds(total);
    durationSeconds = static_cast<int32_t>(ClampToInt(seconds, 0, INT32_MAX));

    const bass::ChannelInfo info = channel_->GetInfo();
    if (info.freq <= 0 || info.chans <= 0) {
        Close();
        return 0;
    }
    sampleRate = info.freq;
    channels = info.chans;
    outputChannels = channels < 2 ? 1 : 2;
    dataBits_ = (info.flags & bass::kSample8Bits) ? 8 : 16;
    const int dataBytes = dataBits_ / 8;
    bitsPerSample = 16;
    bytesPerSample = 2;

    const int64_t encoded = channel_->GetFilePositionEnd();
    if (seconds > 0 && encoded != -1) {
        bitrateKbps = static_cast<int32_t>(
            ClampToInt(static_cast<double>(encoded) / (seconds * 125.0) + 0.5, 0, INT32_MAX));
    } else {
        const uint64_t bps = static_cast<uint64_t>(dataBits_) * static_cast<uint64_t>(sampleRate) *
                             static_cast<uint64_t>(channels) / 1000u;
        bitrateKbps = static_cast<int32_t>(std::min<uint64_t>(bps, INT32_MAX));
    }

    // One block of output; never smaller than one source frame, so that a
    // source with very many channels still delivers whole frames.
    size_t size = static_cast<size_t>(outputChannels) * dataBytes * kBlockFrames;
    size = std::max(size, static_cast<size_t>(channels) * dataBytes);
    buffer_.assign(size, 0);
    DescribeWide();
    return 1;
}

void CBassReader::DescribeWide() {
    wideBits_ = channel_->SourceBits();
    if (wideBits_ <= 0) {
        wideBits_ = 0;
        return;
    }
    blockChannels_ = std::min(channels, kMaxChannels);
    // Positions the file names, once each, else the default order.
    std::vector<uint64_t> positions = channel_->ChannelPositions();
    positions.resize(static_cast<size_t>(blockChannels_), 0);
    blockLayout_ = OrderByPosition(positions.data(), blockChannels_, order_);
    if (wideBits_ > 16 || dataBits_ != 16)
        wideBuffer_.assign(static_cast<size_t>(channels) * kBlockFrames, 0.0f);
}

int CBassReader::ReadBlock(AudioBlock& block) {
    if (!wideBits_)
        return pcm16_.Decode(block, outputChannels == 2, [this](int16_t* left, int16_t* right) {
            return DecodeInt16(left, right);
        });
    if (!channel_) return 0;
    block.Shape(blockChannels_, kBlockFrames, blockLayout_, wideBits_);
    const auto stride = static_cast<size_t>(channels);
    int n = 0;
    if (wideBits_ <= 16 && dataBits_ == 16) {
        // GetData's own 16-bit samples, placed and widened in one pass.
        const size_t samples = stride * kBlockFrames;
        if (wide16_.size() < samples) wide16_.resize(samples);
        const int got =
            channel_->GetData(wide16_.data(), static_cast<uint32_t>(samples * sizeof(int16_t)));
        n = got <= 0 ? 0 : std::min(static_cast<int>(static_cast<size_t>(got) / (2 * stride)),
                                    kBlockFrames);
        if (blockChannels_ == 2 && stride == 2 && order_[0] == 0) {
            StereoInt16sToFloats(wide16_.data(), n, block.Channel(0), block.Channel(1));
        } else {
            for (int k = 0; k < blockChannels_; ++k)
                Int16sToFloats(wide16_.data() + order_[k], stride, n, block.Channel(k));
        }
    } else {
        const int got = channel_->GetFloatFrames(wideBuffer_.data(), kBlockFrames);
        n = got <= 0 ? 0 : std::min(got, kBlockFrames);
        for (int k = 0; k < blockChannels_; ++k) {
            float* out = block.Channel(k);
            const float* in = wideBuffer_.data() + order_[k];
            for (int i = 0; i < n; ++i) out[i] = in[static_cast<size_t>(i) * stride];
        }
    }
    block.frames = n;
    return n;
}

int CBassReader::DecodeInt16(int16_t* left, int16_t* right) {
    if (!channel_ || !left) return 0;
    if (outputChannels == 2 && !right) return 0;

    if (dataBits_ == 8) {
        const int got = channel_->GetData(buffer_.data(), static_cast<uint32_t>(buffer_.size()));
        if (got <= 0) return 0;
        const uint8_t* b = buffer_.data();
        auto widen = [](uint8_t v) {
            return static_cast<int16_t>((static_cast<int>(v) - 128) * 256);
        };
        if (channels < 2) {
            const int n = std::min(got, kBlockFrames);
            for (int i = 0; i < n; ++i) left[i] = widen(b[i]);
            return n;
        }
        if (channels == 2) {
            const int n = std::min(got / 2, kBlockFrames);
            for (int i = 0; i < n; ++i) {
                left[i] = widen(b[2 * i]);
                right[i] = widen(b[2 * i + 1]);
            }
            return n;
        }
        const int n = std::min(got / channels, kBlockFrames);
        const int used = std::min(channels, kMixChannels);
        int16_t frame[kMixChannels];
        for (int i = 0; i < n; ++i) {
            const uint8_t* f = b + static_cast<size_t>(i) * channels;
            for (int c = 0; c < used; ++c) frame[c] = widen(f[c]);
            DownmixToStereo(channels, frame, &left[i], &right[i]);
        }
        return n;
    }

    if (channels < 2) {
        // Mono goes straight into the caller's buffer.
        const int got = channel_->GetData(left, kBlockBytes);
        if (got <= 0) return 0;
        return std::min(got / 2, kBlockFrames);
    }
    const int got = channel_->GetData(buffer_.data(), static_cast<uint32_t>(buffer_.size()));
    if (got <= 0) return 0;
    const int samples = got / 2;
    // The buffer holds 16-bit samples; copy out to stay clear of aliasing
    // and alignment concerns.
    auto sample = [this](size_t i) {
        int16_t v;
        std::memcpy(&v, buffer_.data() + 2 * i, 2);
        return v;
    };
    if (channels == 2) {
        const int n = std::min(samples / 2, kBlockFrames);
        for (int i = 0; i < n; ++i) {
            left[i] = sample(2 * static_cast<size_t>(i));
            right[i] = sample(2 * static_cast<size_t>(i) + 1);
        }
        return n;
    }
    const int n = std::min(samples / channels, kBlockFrames);
    const int used = std::min(channels, kMixChannels);
    int16_t frame[kMixChannels];
    for (int i = 0; i < n; ++i) {
        const size_t base = static_cast<size_t>(i) * channels;
        for (int c = 0; c < used; ++c) frame[c] = sample(base + c);
        DownmixToStereo(channels, frame, &left[i], &right[i]);
    }
    return n;
}

uint64_t CBassReader::GetPosition() { return channel_ ? channel_->GetPosition() : position; }

int CBassReader::ReadTags(TagInfo& tags) {
    if (!channel_) return 0;
    TagInfo found = channel_->ReadTags();
    if (found.IsEmpty()) return 0;
    tags = std::move(found);
    return 1;
}

int CBassReader::ReadTagsFromFile(const bass::CBassRuntime& runtime, const std::string& path,
                                  TagInfo& tags) {
    CBassReader reader(runtime);
    if (!reader.Open(path, 0)) return 0;
    int result = reader.ReadTags(tags);
    reader.Close();
    return result;
}

}  // namespace quelvox
