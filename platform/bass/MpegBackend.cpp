// MPEG audio layers 1-3 through libmpg123.
//
// The decoder output is fixed at open to signed 16-bit at the stream's own
// rate and channel count. Gapless decoding removes the encoder delay and
// padding that a LAME/Xing header announces, and a scan of all frames makes
// the length exact before the first sample is delivered. The scan reads the
// whole file, so its result is offered (LearnedLength) to later openings of
// the same unchanged file, which then skip it: the file list scans a file
// when it is added, and its conversion need not scan it again.
#include "platform/bass/Backends.h"

#include "common/TagSpans.h"

#include <mpg123.h>

#include <sys/stat.h>

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
                 std::string path, KnownLength learned)
        : h_(std::move(h)),
          rate_(rate),
          channels_(channels),
          length_(frames * static_cast<uint64_t>(channels) * 2),
          fileSize_(fileSize),
          path_(std::move(path)),
          learned_(learned) {}

    uint64_t GetLength() const override { return length_; }
    ChannelInfo GetInfo() const override { return {rate_, channels_, 0}; }
    int64_t GetFilePositionEnd() const override { return fileSize_; }
    uint64_t GetPosition() const override { return position_; }
    TagInfo ReadTags() const override { return ReadFileTags(path_, TagCodePage()); }
    KnownLength LearnedLength() const override { return learned_; }

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
    KnownLength learned_;
    uint64_t position_ = 0;
    bool ended_ = false;
};

// The file's size and modification time, taken before it is read: a file
// changed while it is read then no longer matches what was learned.
KnownLength Identity(const std::string& path) {
    KnownLength id;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return id;
    id.fileSize = static_cast<int64_t>(st.st_size);
    id.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                  static_cast<int64_t>(st.st_mtim.tv_nsec);
    return id;
}

}  // namespace

std::unique_ptr<CChannel> OpenMpegStream(const std::string& path, const KnownLength* known) {
    const KnownLength identity = Identity(path);
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
    off_t frames = 0;
    KnownLength learned;
    if (known && known->frames > 0 && identity.fileSize >= 0 &&
        known->fileSize == identity.fileSize && known->modified == identity.modified) {
        frames = static_cast<off_t>(known->frames);
    } else {
        // Besides the length, the scan can change the decoding itself: when
        // the Info tag promises more frames than the file holds, it turns
        // gapless trimming off. Its result is offered for reuse only when
        // that cannot have happened: no encoder delay known from an Info
        // tag, or the tag's frame count confirmed by the scan.
        const off_t promised = mpg123_framelength(h.get());
        long delay = -1;
        double unused = 0.0;
        if (mpg123_getstate(h.get(), MPG123_ENC_DELAY, &delay, &unused) != MPG123_OK) delay = 0;
        if (mpg123_scan(h.get()) != MPG123_OK) return nullptr;
        frames = mpg123_length(h.get());
        if (frames <= 0) return nullptr;
        if (identity.fileSize >= 0 && (delay < 0 || promised == mpg123_framelength(h.get()))) {
            learned = identity;
            learned.frames = static_cast<uint64_t>(frames);
        }
    }

    return std::make_unique<CMpegChannel>(std::move(h), static_cast<int>(rate), channels,
                                          static_cast<uint64_t>(frames),
                                          AudioDataBytes(path, identity.fileSize), path,
                                          learned);
}

}  // namespace quelvox::bass
