// Writer of the WMA, WMV and ASF output formats: one Windows Media audio
// stream in an ASF file, through the writer of the WMA layer.
//
// The writer receives 16-bit PCM in the source's rate and channel count and
// a format chosen from the WMA format list (SelectWmaFormat); the layer
// converts the PCM to that format, encodes and muxes it. The tags become
// the file's attributes "Title", "Author", "WM/AlbumArtist", "Description",
// "WM/AlbumTitle", "WM/Genre", "WM/TrackNumber", "WM/Year", "WM/Composer"
// and "Copyright".
//
// Calling order: SetSampleRate, SetChannels, SetBitrate, SetCodecParams,
// optionally SetTags, SetFileName, Open, WriteBlock..., Close.
#pragma once

#include "common/AudioStream.h"
#include "platform/wma/WmaLayer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quelvox {

class CWmaWriter : public CAudioWriter {
public:
    CWmaWriter();
    // Finishes an open file (as Close) and releases everything.
    ~CWmaWriter() override;

    // Stores copies of the texts and the track; empty texts and a track that
    // reads as 0 or less are left out of the file.
    void SetTags(const TagInfo& tags) override;
    void SetFileName(const std::string& path) override;
    // Rate of the blocks WriteBlock receives; bits per sample become 16.
    void SetSampleRate(int hz) override;
    // Channels (1 or 2) of the PCM the writer stores.
    void SetChannels(int count) override;
    // The chosen format's bit rate (bit/s); 0 takes the format's own.
    void SetBitrate(int bitsPerSecond) override;
    // The media type of the chosen format (as SelectWmaFormat returns it in
    // WmaFormatItem::mediaType). The writer keeps a copy.
    void SetCodecParams(const wma::WmaMediaType& mediaType);

    // Builds the one-stream profile, adds the ten attributes, creates the
    // file and begins writing. 1, or 0 with everything released and no file
    // left behind.
    int Open() override;
    // Rounds the block to 16 bits (CInt16Planes::Round) and interleaves
    // its frames (a mono block stands for both channels of a stereo
    // output) into one sample for the audio input at the current sample
    // time. The sample time then advances by the frames' duration,
    // whatever the result. 1 when the sample was accepted.
    int WriteBlock(const AudioBlock& block) override;
    // Ends writing and releases everything. Harmless when not open.
    void Close() override;

    // Time of the next sample in 100 ns units: the frames written so far at
    // the input rate, truncated.
    int64_t GetSampleTime() const { return sampleTime_; }
    // Why the last Open failed (plain English, for diagnostics).
    const std::string& GetLastError() const { return lastError_; }

private:
    void Reset();
    // WriteBlock on 16-bit planes; a null `right` repeats `left`.
    int WriteInt16(const int16_t* left, const int16_t* right, int frames);

    std::string title_, album_, artist_, genre_, year_, comment_;
    int track_ = 0;
    std::string composer_, copyright_;
    std::string path_;
    int sampleRate_ = 0;
    int bitsPerSample_ = 0;
    int channels_ = 0;
    bool hasMediaType_ = false;
    wma::WmaMediaType mediaType_;
    int bitrate_ = 0;
    std::unique_ptr<wma::CWmaFileWriter> writer_;
    int64_t framesWritten_ = 0;
    int64_t sampleTime_ = 0;
    std::vector<int16_t> interleaved_;
    CInt16Planes pcm16_;
    std::string lastError_;
};

}  // namespace quelvox
