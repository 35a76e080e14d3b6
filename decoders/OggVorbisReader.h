// Reader of Ogg Vorbis files through vorbisfile, with the Vorbis comments of
// the first logical stream as tags.
#pragma once

#include "common/AudioStream.h"

#include <memory>
#include <string>
#include <vector>

struct OggVorbis_File;

namespace quelvox {

class COggVorbisReader : public CAudioReader {
public:
    // Consecutive failed ov_read calls (holes or damaged pages that yield
    // no audio) after which the stream counts as ended.
    static constexpr int kMaxReadFailures = 100;
    // Comments longer than this many bytes are not kept.
    static constexpr size_t kMaxCommentBytes = 1000;

    COggVorbisReader();
    ~COggVorbisReader() override;

    void Close() override;
    // Opens the file as Ogg Vorbis; the render rate is not used. Nonzero on
    // success; 0 for anything vorbisfile does not accept (e.g. Ogg FLAC).
    int Open(const std::string& path, int renderRate) override;
    // Three or more channels: every channel up to kMaxChannels with the
    // positions of the Vorbis channel order, as the 16-bit samples
    // vorbisfile gives; a logical stream of another channel count fills
    // the positions it shares with the first and leaves the others silent.
    // One or two channels: DecodeInt16's samples. 0 at the end of the
    // stream.
    int ReadBlock(AudioBlock& block) override;
    int GetBlockChannels() override;
    uint64_t GetChannelLayout() override;
    // The compressed byte position in the file.
    uint64_t GetPosition() override;
    // Fills the nine texts from the comments TITLE, ARTIST, ALBUM, DATE,
    // GENRE, COMMENT, TRACKNUMBER, COMPOSER, COPYRIGHT (names compared
    // without regard to case; the last matching comment wins). Always 1.
    int ReadTags(TagInfo& tags) override;

private:
    // The blocks of a mono or stereo source. Mono: at most kBlockFrames
    // frames per call, decoded straight into `left`. Stereo: at most 1024
    // frames per call, a logical stream of more channels mixed to stereo.
    int DecodeInt16(int16_t* left, int16_t* right);
    // ov_read with the bounded retry over failures; bytes read, 0 at end.
    long ReadPcm(char* buffer, int bytes, int* link);
    // Channel count of the logical stream `link` (the opened count when
    // vorbisfile cannot tell).
    int LinkChannels(int link);

    std::unique_ptr<OggVorbis_File> file_;  // decoder state, null when closed
    bool ended_ = false;                    // reading gave up after repeated failures
    // Bytes asked of ov_read for sources with two or more channels: the
    // whole PCM buffer, or one block's worth when a logical stream of the
    // file is mono (so no call yields more than kBlockFrames frames).
    int pcmRequest_ = 0;
    std::vector<std::string> comments_;  // UTF-8, in file order
    uint64_t blockLayout_ = 0;           // positions of ReadBlock's channels
    int fewestChannels_ = 0;             // fewest channels of any logical stream
    std::vector<int16_t> widePcm_;       // interleaved PCM for ReadBlock
    CInt16Planes pcm16_;                 // mono and stereo blocks
    // Interleaved PCM of sources with two or more channels.
    alignas(int16_t) char pcm_[4096];
};

}  // namespace quelvox
