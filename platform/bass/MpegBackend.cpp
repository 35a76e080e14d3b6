// MPEG audio layers 1-3 through libmpg123.
//
// The decoder output is fixed at open to signed 16-bit at the stream's own
// rate and channel count. Gapless decoding removes the encoder delay and
// padding that a LAME/Xing header announces, and a scan of all frames makes
// the length exact before the first sample is delivered.
#include "platform/bass/Backends.h"

#include <mpg123.h>

#include <filesystem>

namespace quelvox::bass {

namespace {

struct HandleDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using Handle = std::unique_ptr<mpg123_handle, HandleDeleter>;

class CMpegChannel : public CChannel {
public:
    CMpegChannel(Handle h, int rate, int channels, uint64_t frames, int64_t fileSize,
                 std::string path)
        : h_(std::move(h)),
          rate_(rate),
          channels_(channels),
          length_(frames * static_cast<uint64_t>(channels) * 2),
          fileSize_(fileSize),
          path_(std::move(path)) {}

    uint64_t GetLength() const override { return length_; }
    ChannelInfo GetInfo() const override { return {rate_, channels_, 0}; }
    int64_t GetFilePositionEnd() const override { return fileSize_; }
    uint64_t GetPosition() const override { return position_; }
    TagInfo ReadTags() const override { return ReadFileTags(path_, TagCodePage()); }

    int GetData(void* buffer, uint32_t bytes) override {
        const uint32_t frameBytes = static_cast<uint32_t>(channels_) * 2;
        bytes -= bytes % frameBytes;
        if (ended_ || bytes == 0) return -1;
        auto* out = static_cast<unsigned char*>(buffer);
        size_t filled = 0;
        int idle = 0;  // calls in a row that delivered nothing
        while (filled < bytes) {
            size_t done = 0;
            int rc = mpg123_read(h_.get(), out + filled, bytes - filled, &done);
            filled += done;
            if (rc == MPG123_OK || rc == MPG123_NEW_FORMAT) {
                idle = done == 0 ? idle + 1 : 0;
                if (idle > 4) break;
                continue;
            }
            // End of stream, or a damaged stream that cannot go on.
            ended_ = true;
            break;
        }
        filled -= filled % frameBytes;
        if (filled == 0) {
            ended_ = true;
            return -1;
        }
        position_ += filled;
        return static_cast<int>(filled);
    }

private:
    Handle h_;
    int rate_;
    int channels_;
    uint64_t length_;
    int64_t fileSize_;
    std::string path_;
    uint64_t position_ = 0;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<CChannel> OpenMpegStream(const std::string& path) {
    int err = MPG123_OK;
    Handle h(mpg123_new(nullptr, &err));
    if (!h) return nullptr;
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    if (mpg123_open_fixed(h.get(), path.c_str(), MPG123_MONO | MPG123_STEREO,
                          MPG123_ENC_SIGNED_16) != MPG123_OK)
        return nullptr;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels < 1 || channels > 2 || encoding != MPG123_ENC_SIGNED_16)
        return nullptr;
    if (mpg123_scan(h.get()) != MPG123_OK) return nullptr;
    off_t frames = mpg123_length(h.get());
    if (frames <= 0) return nullptr;

    std::error_code ec;
    uintmax_t size = std::filesystem::file_size(path, ec);
    int64_t fileSize = ec ? -1 : static_cast<int64_t>(size);
    return std::make_unique<CMpegChannel>(std::move(h), static_cast<int>(rate), channels,
                                          static_cast<uint64_t>(frames), fileSize, path);
}

}  // namespace quelvox::bass
