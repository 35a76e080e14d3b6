#include "engine/CueTracks.h"
#include "engine/Texts.h"

#include "common/InputType.h"
#include "decoders/CueSheet.h"
#include "platform/bass/BassRuntime.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace quelvox {

namespace fs = std::filesystem;

namespace {

// Extensions tried for an image that is not where the sheet says: rippers
// often rename or re-encode the image (the sheet names a .wav, a .flac lies
// beside it) without editing the sheet.
constexpr const char* kImageExtensions[] = {".flac", ".wav", ".ape", ".wv",  ".tta",
                                            ".m4a",  ".ogg", ".mp3", ".aiff", ".aif"};

// The English words of each sheet note, for front ends that list reasons.
struct CueReason {
    const char* note;
    const char* english;
};
constexpr CueReason kCueReasons[] = {
    {kCueUnparsableNote, "the CUE sheet does not parse"},
    {kCueTooLargeNote, "the CUE sheet is too large"},
    {kCueNoTrackNote, "the CUE sheet lists no audio track"},
    {kCueImageMissingNote, "the audio file the CUE sheet names is missing"},
    {kCueImageUnreadableNote, "the audio file the CUE sheet names cannot be decoded"},
    {kCueBeyondImageNote, "the CUE sheet's indexes lie beyond the end of its audio file"},
};

bool IsFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

// The image a sheet's FILE line names, looked for beside the sheet; empty
// when none is found.
std::string FindImage(const std::string& sheetPath, std::string named) {
    std::replace(named.begin(), named.end(), '\\', '/');
    const fs::path folder = fs::path(sheetPath).parent_path();
    const fs::path given(named);
    if (given.is_relative() && IsFile(folder / given)) return (folder / given).string();
    const fs::path beside = folder / given.filename();
    if (IsFile(beside)) return beside.string();
    for (const char* ext : kImageExtensions) {
        fs::path other = beside;
        other.replace_extension(ext);
        if (IsFile(other)) return other.string();
    }
    return {};
}

// What adding needs to know of an image, probed once per sheet.
struct ImageFacts {
    std::string path;
    int inputType = 0;
    int duration = 0;  // seconds
    int sampleRate = 0;
    int channels = 0;
    int bitrate = 0;
    KnownLength scanned;
};

bool ReadSheet(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // One byte more than the limit tells an oversized sheet.
    text.resize(kMaxCueSheetBytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return true;
}

std::string TrackName(const CueSheetTrack& track) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", track.number);
    return track.tags.title.empty() ? std::string(number)
                                    : std::string(number) + " - " + track.tags.title;
}

}  // namespace

CCueTrackReader::CCueTrackReader(std::unique_ptr<CAudioReader> image, uint64_t first,
                                 uint64_t end, const TagInfo& sheetTags)
    : image_(std::move(image)), first_(first), end_(end), sheetTags_(sheetTags) {
    sampleRate = image_->GetSampleRate();
    channels = image_->GetChannels();
    outputChannels = image_->GetOutputChannels();
    bitsPerSample = image_->GetBitsPerSample();
    bytesPerSample = bitsPerSample / 8;
    bitrateKbps = image_->GetBitrate();
    uint64_t last = end_;
    if (last == 0 && sampleRate > 0)
        last = static_cast<uint64_t>(image_->GetDuration()) * static_cast<uint64_t>(sampleRate);
    total = last > first_ ? last - first_ : 0;
    durationSeconds = sampleRate > 0 ? static_cast<int32_t>(total / static_cast<uint64_t>(sampleRate))
                                     : 0;
}

bool CCueTrackReader::Start() {
    // A reader that can seek goes (near) the first frame at once; the rest
    // of the way is decoded and dropped, as all of it is for one that
    // cannot.
    uint64_t landed = 0;
    if (first_ > 0 && image_->SeekFrame(first_, landed) && landed <= first_) imageFrame_ = landed;
    AudioBlock block;
    while (imageFrame_ <= first_) {
        const int n = image_->ReadBlock(block);
        if (n <= 0) return false;
        const uint64_t blockEnd = imageFrame_ + static_cast<uint64_t>(n);
        if (blockEnd > first_) {
            const auto skip = static_cast<std::ptrdiff_t>(first_ - imageFrame_);
            pendingBlock_.Shape(block.Channels(), std::max(kBlockFrames, n), block.Layout(),
                                block.SourceBits());
            for (int c = 0; c < block.Channels(); ++c)
                std::copy(block.Channel(c) + skip, block.Channel(c) + n, pendingBlock_.Channel(c));
            pendingBlock_.frames = n - static_cast<int>(skip);
            imageFrame_ = blockEnd;
            return true;
        }
        imageFrame_ = blockEnd;
    }
    return true;
}

void CCueTrackReader::Close() {
    if (image_) image_->Close();
    pendingBlock_.frames = 0;
}

int CCueTrackReader::Open(const std::string& path, int renderRate) {
    (void)path;
    (void)renderRate;
    return 0;
}

int CCueTrackReader::ReadBlock(AudioBlock& block) {
    int frames = 0;
    if (pendingBlock_.frames > 0) {
        frames = pendingBlock_.frames;
        block.Shape(pendingBlock_.Channels(), std::max(kBlockFrames, frames),
                    pendingBlock_.Layout(), pendingBlock_.SourceBits());
        for (int c = 0; c < pendingBlock_.Channels(); ++c)
            std::copy(pendingBlock_.Channel(c), pendingBlock_.Channel(c) + frames,
                      block.Channel(c));
        pendingBlock_.frames = 0;
    } else {
        if (end_ != 0 && imageFrame_ >= end_) {
            block.frames = 0;
            return 0;
        }
        frames = image_->ReadBlock(block);
        if (frames <= 0) return frames;
        imageFrame_ += static_cast<uint64_t>(frames);
    }
    frames = CutAtEnd(frames);
    block.frames = frames;
    return frames;
}

int CCueTrackReader::CutAtEnd(int frames) {
    if (end_ != 0 && imageFrame_ > end_) {
        const uint64_t over = imageFrame_ - end_;
        frames = over >= static_cast<uint64_t>(frames) ? 0 : frames - static_cast<int>(over);
        imageFrame_ = end_;
    }
    position += static_cast<uint64_t>(frames);
    if (position > total) total = position;
    return frames;
}

int CCueTrackReader::ReadTags(TagInfo& tags) {
    const int found = image_->ReadTags(tags);
    // The fields a sheet can give.
    static constexpr std::string TagInfo::*kSheetFields[] = {
        &TagInfo::title, &TagInfo::artist, &TagInfo::album,
        &TagInfo::year,  &TagInfo::genre,  &TagInfo::track};
    for (std::string TagInfo::*field : kSheetFields)
        if (!(sheetTags_.*field).empty()) tags.*field = sheetTags_.*field;
    if (!sheetTags_.albumArtist.empty()) tags.albumArtist = sheetTags_.albumArtist;
    // The track's number and total are the sheet's; so is the disc where
    // the sheet names one.
    if (!sheetTags_.track.empty()) tags.trackTotal = sheetTags_.trackTotal;
    if (sheetTags_.discNumber > 0) {
        tags.discNumber = sheetTags_.discNumber;
        tags.discTotal = sheetTags_.discTotal;
    }
    return found || !sheetTags_.IsEmpty() ? 1 : 0;
}

std::unique_ptr<CAudioReader> CreateEntryReader(IReaderServices& services, PassNotes& pass,
                                                const FileEntry& entry, int renderRate,
                                                bool conversion, int& audioFound) {
    if (entry.ImagePath.empty())
        return CreateReader(services, pass, entry.Path, entry.InputType, renderRate, conversion,
                            audioFound, entry.ScannedLength);
    auto image = CreateReader(services, pass, entry.ImagePath, entry.ImageInputType, renderRate,
                              conversion, audioFound, entry.ScannedLength);
    if (!image) return nullptr;
    const int rate = image->GetSampleRate();
    if (rate < 1) return image;  // the caller tells a source without audio
    const uint64_t first = CueFrameToSample(entry.TrackStart, rate);
    const uint64_t end = entry.TrackEnd < 0 ? 0 : CueFrameToSample(entry.TrackEnd, rate);
    auto track = std::make_unique<CCueTrackReader>(std::move(image), first, end, entry.TrackTags);
    if (!track->Start()) {
        track->Close();
        if (conversion) pass.errorDetail = EngineText(kCueBeyondImageNote);
        return nullptr;
    }
    return track;
}

namespace {

// Lists the tracks of the sheet at `path` (a .cue file, or a FLAC file
// carrying its own sheet: tracks without a file name are cut from it).
int AddTracks(IReaderServices& services, PassNotes& pass,
              std::map<std::string, FileEntry>& pathMap, IFileList& list,
              const std::string& path, const std::string& addedRoot,
              const std::vector<CueSheetTrack>& tracks) {

    // Every image is found and probed, and every index checked against
    // it, before any track is listed: a sheet is added whole or not at all.
    std::map<std::string, ImageFacts> images;  // by the name in the sheet
    for (const CueSheetTrack& track : tracks) {
        if (images.count(track.file)) continue;
        ImageFacts facts;
        facts.path = track.file.empty() ? path : FindImage(path, track.file);
        if (facts.path.empty()) {
            pass.errorDetail = EngineText(kCueImageMissingNote);
            return -1;
        }
        facts.inputType = InputTypeOf(facts.path);
        pass.retry = false;
        int audioFound = 1;
        auto reader =
            CreateReader(services, pass, facts.path, facts.inputType, 0, false, audioFound);
        if (!reader || !reader->HasAudio() || reader->GetSampleRate() <= 0) {
            if (reader) reader->Close();
            pass.errorDetail = EngineText(kCueImageUnreadableNote);
            return -1;
        }
        facts.duration = reader->GetDuration();
        facts.sampleRate = reader->GetSampleRate();
        facts.channels = reader->GetChannels();
        facts.bitrate = reader->GetBitrate();
        facts.scanned = reader->LearnedLength();
        reader->Close();
        images.emplace(track.file, std::move(facts));
    }
    for (const CueSheetTrack& track : tracks) {
        const ImageFacts& image = images.at(track.file);
        // The probe's length is in whole seconds: a second of slack keeps
        // a last index within the final second.
        const int64_t limit = (static_cast<int64_t>(image.duration) + 1) * kCueFramesPerSecond;
        if (track.start >= limit || track.end > limit) {
            pass.errorDetail = EngineText(kCueBeyondImageNote);
            return -1;
        }
    }

    const std::string sheetKey = PathMapKey(path);
    int lastRow = 0;
    for (const CueSheetTrack& track : tracks) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "#%02d", track.number);
        const std::string key = sheetKey + suffix;
        if (pathMap.count(key)) continue;
        const ImageFacts& image = images.at(track.file);
        FileEntry entry;
        entry.Path = path;
        entry.InputType = kInputCueSheet;
        entry.AddedRoot = addedRoot;
        entry.SampleRate = image.sampleRate;
        entry.Channels = image.channels;
        entry.Bitrate = image.bitrate;
        entry.ScannedLength = image.scanned;
        entry.ImagePath = image.path;
        entry.ImageInputType = image.inputType;
        entry.TrackStart = track.start;
        entry.TrackEnd = track.end;
        entry.TrackName = TrackName(track);
        entry.TrackTags = track.tags;
        const int64_t endFrame =
            track.end >= 0 ? track.end
                           : std::max<int64_t>(track.start, static_cast<int64_t>(image.duration) *
                                                                kCueFramesPerSecond);
        entry.Duration = static_cast<int>((endFrame - track.start + kCueFramesPerSecond / 2) /
                                          kCueFramesPerSecond);
        auto [it, inserted] = pathMap.emplace(key, std::move(entry));
        (void)inserted;
        lastRow = list.AppendRow(it->second);
    }
    return lastRow;
}

}  // namespace

int AddCueSheet(IReaderServices& services, PassNotes& pass,
                std::map<std::string, FileEntry>& pathMap, IFileList& list,
                const std::string& path, const std::string& addedRoot) {
    std::string text;
    if (!ReadSheet(path, text)) return -1;
    CueProblem problem = CueProblem::kNone;
    int sheetTracks = 0;
    // Sheets in a legacy charset are read as tag texts are: in the code
    // page the settings name, or the one detected over the whole sheet.
    const std::vector<CueSheetTrack> tracks =
        ParseCueSheet(text, problem, services.BassRuntime().TagCodePage(), &sheetTracks);
    if (tracks.empty()) {
        pass.errorDetail = EngineText(problem == CueProblem::kTooLarge       ? kCueTooLargeNote
                                       : problem == CueProblem::kNoAudioTrack ? kCueNoTrackNote
                                                                              : kCueUnparsableNote);
        return -1;
    }
    const int row = AddTracks(services, pass, pathMap, list, path, addedRoot, tracks);
    if (row >= 0 && sheetTracks > kMaxCueTracks)
        pass.notes.push_back(EngineText(kCueTracksCutNote, path, sheetTracks, kMaxCueTracks));
    return row;
}

int AddEmbeddedCueSheet(IReaderServices& services, PassNotes& pass,
                        std::map<std::string, FileEntry>& pathMap, IFileList& list,
                        const std::string& path, const std::string& addedRoot) {
    const std::vector<CueSheetTrack> tracks = ReadEmbeddedCueSheet(path);
    if (tracks.empty()) return -1;
    const Text detail = pass.errorDetail;
    const int row = AddTracks(services, pass, pathMap, list, path, addedRoot, tracks);
    if (row < 0) pass.errorDetail = detail;
    return row;
}

std::vector<std::string> CueSheetImages(IReaderServices& services, const std::string& path) {
    std::vector<std::string> images;
    std::string text;
    if (!ReadSheet(path, text)) return images;
    CueProblem problem = CueProblem::kNone;
    for (const CueSheetTrack& track :
         ParseCueSheet(text, problem, services.BassRuntime().TagCodePage())) {
        const std::string image = track.file.empty() ? std::string() : FindImage(path, track.file);
        if (!image.empty() && std::find(images.begin(), images.end(), image) == images.end())
            images.push_back(image);
    }
    return images;
}

std::string CueReasonInEnglish(const Text& note) {
    for (const CueReason& reason : kCueReasons)
        if (note.Is(reason.note)) return reason.english;
    return {};
}

}  // namespace quelvox
