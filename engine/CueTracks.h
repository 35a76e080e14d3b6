// The tracks of CUE sheets: adding a sheet lists one row per track, and
// converting a track reads its part of the image the sheet names.
#pragma once

#include "common/AudioStream.h"
#include "common/FileEntry.h"
#include "engine/ReaderFactory.h"
#include "engine/RunState.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quelvox {

// Reads one track out of an opened reader of its image: the frames from
// `first` (inclusive) to `end` (exclusive; 0 = to the image's end), in
// frames (samples per channel) of the image. Tags are the image's, with
// every text the sheet gives put over them.
class CCueTrackReader : public CAudioReader {
public:
    CCueTrackReader(std::unique_ptr<CAudioReader> image, uint64_t first, uint64_t end,
                    const TagInfo& sheetTags);

    // Moves the image to the track's first frame, decoding and dropping
    // what comes before it. False when the image ends before it.
    bool Start();

    void Close() override;
    // A track is opened through its image reader and Start; a path alone
    // does not name one.
    int Open(const std::string& path, int renderRate) override;
    // The image's blocks, cut to the track.
    int ReadBlock(AudioBlock& block) override;
    int GetBlockChannels() override { return image_->GetBlockChannels(); }
    uint64_t GetChannelLayout() override { return image_->GetChannelLayout(); }
    int GetSourceBits() override { return image_->GetSourceBits(); }
    bool GetSourceFloat() override { return image_->GetSourceFloat(); }
    int ReadTags(TagInfo& tags) override;

private:
    // Cuts a block of `frames` frames that ends at imageFrame_ at the
    // track's end; returns the frames that remain and counts them.
    int CutAtEnd(int frames);

    std::unique_ptr<CAudioReader> image_;
    uint64_t first_;
    uint64_t end_;
    uint64_t imageFrame_ = 0;  // image frames consumed so far
    TagInfo sheetTags_;
    // The part of the block that held the first frame, handed out by the
    // first ReadBlock.
    AudioBlock pendingBlock_;
};

// The opened reader of a list entry: CreateReader on its file, or for a
// CUE track a CCueTrackReader on its image. Same arguments and notes
// handling as CreateReader.
std::unique_ptr<CAudioReader> CreateEntryReader(IReaderServices& services, PassNotes& pass,
                                                const FileEntry& entry, int renderRate,
                                                bool conversion, int& audioFound);

// Adds the tracks of the CUE sheet at `path` under the keys
// PathMapKey(path) + "#NN". Returns like AddFileEntry: the index of the last
// new row, 0 when every track is listed already, -1 when the sheet is not
// added; then pass.errorDetail holds one of the kCue...Note texts. A sheet
// of more than kMaxCueTracks tracks is added with its first ones, and
// kCueTracksCutNote is appended to pass.notes.
int AddCueSheet(IReaderServices& services, PassNotes& pass,
                std::map<std::string, FileEntry>& pathMap, IFileList& list,
                const std::string& path, const std::string& addedRoot);

// Adds the tracks of the sheet a FLAC file carries (a CUESHEET comment or
// block), cut from the file itself, under the keys PathMapKey(path) +
// "#NN". Returns like AddCueSheet, but -1 (with pass.errorDetail as it
// was) also when the file has no usable sheet: it is then added whole.
int AddEmbeddedCueSheet(IReaderServices& services, PassNotes& pass,
                        std::map<std::string, FileEntry>& pathMap, IFileList& list,
                        const std::string& path, const std::string& addedRoot);

// The images the CUE sheet at `path` names, as found beside it; empty when
// the sheet gives no tracks.
std::vector<std::string> CueSheetImages(IReaderServices& services, const std::string& path);

// The English reason for a kCue...Note text; empty for any other text.
std::string CueReasonInEnglish(const Text& note);

}  // namespace quelvox
