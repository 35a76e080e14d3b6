// Tracker modules (.mod .xm .it .s3m .mtm .umx .mo3 and whatever else
// libopenmpt loads), rendered as interleaved 16-bit stereo.
//
// The length is known at load from libopenmpt's song-length scan and the
// stream ends exactly there: the song plays once, without repeat or
// fade-out, and a render that stops a little early is padded with silence
// so that the byte count promised by GetLength is the byte count delivered.
#include "platform/bass/Backends.h"

#include <libopenmpt/libopenmpt.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <streambuf>

namespace quelvox::bass {
namespace {

// Anything longer is a damaged file or an endless loop the scan gave up on.
constexpr double kMaxSeconds = 24.0 * 3600.0;
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
// Volume ramping strength: on, with short ramps that remove the clicks of
// abrupt volume changes without softening attacks.
constexpr int kVolumeRamping = 1;

// libopenmpt writes load warnings to a log stream; we have no use for them.
class CNullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The title as one line of text, so it fits the line-feed separated tags.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

class CModuleChannel final : public CChannel {
public:
    explicit CModuleChannel(int rate) : rate_(rate), log_(&nullBuffer_) {}

    bool Load(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        if (!file) return false;
        // Play once and stop at the song end (no fade-out); no dither, so
        // that the same module always renders to the same samples.
        const std::map<std::string, std::string> ctls = {{"play.at_end", "stop"}, {"dither", "0"}};
        try {
            module_ = std::make_unique<openmpt::module>(file, log_, ctls);
            module_->set_repeat_count(0);
            module_->set_render_param(openmpt::module::RENDER_VOLUMERAMPING_STRENGTH,
                                      kVolumeRamping);
            double seconds = module_->get_duration_seconds();
            if (!(seconds > 0) || seconds > kMaxSeconds) return false;
            frames_ = uint64_t(std::llround(seconds * rate_));
            title_ = OneLine(module_->get_metadata("title"));
        } catch (...) {
            return false;
        }
        return frames_ > 0;
    }

    ChannelKind Kind() const override { return ChannelKind::Music; }
    uint64_t GetLength() const override { return frames_ * 4; }
    ChannelInfo GetInfo() const override { return {rate_, 2, 0}; }
    int64_t GetFilePositionEnd() const override { return -1; }

    int GetData(void* buffer, uint32_t bytes) override {
        uint64_t left = frames_ - done_;
        if (left == 0) return -1;
        size_t want = size_t(std::min<uint64_t>(bytes / 4, left));
        want = std::min<size_t>(want, size_t(1) << 28);
        if (want == 0) return 0;
        int16_t* out = static_cast<int16_t*>(buffer);
        size_t got = 0;
        try {
            while (got < want && !ended_) {
                size_t n = module_->read_interleaved_stereo(rate_, want - got, out + 2 * got);
                if (n == 0) ended_ = true;
                got += n;
            }
        } catch (...) {
            ended_ = true;
        }
        // The song may end a few frames before the scanned length.
        std::memset(out + 2 * got, 0, (want - got) * 4);
        done_ += want;
        return int(want * 4);
    }

    uint64_t GetPosition() const override { return done_ * 4; }

    TagInfo ReadTags() const override {
        TagInfo tags;
        tags.title = title_;
        return tags;
    }

private:
    int rate_;
    CNullBuffer nullBuffer_;
    std::ostream log_;  // must outlive module_
    std::unique_ptr<openmpt::module> module_;
    uint64_t frames_ = 0;
    uint64_t done_ = 0;
    bool ended_ = false;
    std::string title_;
};

}  // namespace

std::unique_ptr<CChannel> OpenModule(const std::string& path, int rate) {
    if (rate == 0) rate = 44100;
    if (rate < kMinRate || rate > kMaxRate) return nullptr;
    auto channel = std::make_unique<CModuleChannel>(rate);
    if (!channel->Load(path)) return nullptr;
    return channel;
}

}  // namespace quelvox::bass
