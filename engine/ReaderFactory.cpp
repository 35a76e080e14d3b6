#include "engine/ReaderFactory.h"
#include "engine/CueTracks.h"
#include "engine/Texts.h"
#include "common/Product.h"

#include "decoders/AiffReader.h"
#include "decoders/AmrReader.h"
#include "decoders/AuReader.h"
#include "decoders/BassReader.h"
#include "decoders/FFmpegReader.h"
#include "common/InputType.h"
#include "decoders/OggVorbisReader.h"
#include "decoders/WmaReader.h"

#include <filesystem>
#include <unordered_set>

namespace quelvox {

namespace {

// The reader that opens a type first, or null for types decoded by the
// fallback only.
std::unique_ptr<CAudioReader> MakePrimaryReader(IReaderServices& services, int inputType) {
    const InputTypeRow* type = FindInputType(inputType);
    switch (type ? type->reader : InputReader::kNone) {
        case InputReader::kBass: return std::make_unique<CBassReader>(services.BassRuntime());
        case InputReader::kOggVorbis: return std::make_unique<COggVorbisReader>();
        case InputReader::kAu: return std::make_unique<CAuReader>();
        case InputReader::kAiff: return std::make_unique<CAiffReader>();
        case InputReader::kAmr: return std::make_unique<CAmrReader>();
        case InputReader::kWma: return std::make_unique<CWmaReader>();
        case InputReader::kNone: break;
    }
    return nullptr;
}

std::unique_ptr<CAudioReader> MakeFallbackReader(bool conversion) {
    if (conversion) return std::make_unique<CFFmpegReader>();
    return std::make_unique<CFFmpegProbeReader>();
}

}  // namespace

Text SupportMessage() {
    return EngineText(kReaderSupportNote, kSupportAddress);
}

std::unique_ptr<CAudioReader> CreateReader(IReaderServices& services, PassNotes& pass,
                                           const std::string& path, int inputType, int renderRate,
                                           bool conversion, int& audioFound,
                                           const KnownLength& known) {
    // A file that is gone since it was listed, or was replaced by a folder,
    // is no reader's business: say what happened instead of "no audio".
    std::error_code statError;
    const std::filesystem::file_status status = std::filesystem::status(path, statError);
    if (status.type() == std::filesystem::file_type::not_found ||
        status.type() == std::filesystem::file_type::directory) {
        pass.retry = false;
        pass.errorDetail = EngineText(status.type() == std::filesystem::file_type::directory
                                          ? kSourceIsFolderDetail
                                          : kSourceNotFoundDetail);
        return nullptr;
    }

    std::unique_ptr<CAudioReader> reader;
    bool primary = false;

    if (!pass.retry) {
        bool runtimeMissing = false;
        if (inputType == kInputWma && !services.LoadWmaRuntime()) {
            services.OfferWmaRuntime();
            // The offer may have made it available.
            runtimeMissing = !services.LoadWmaRuntime();
        }
        if (!runtimeMissing) reader = MakePrimaryReader(services, inputType);
        primary = reader != nullptr;
    }

    if (primary) {
        pass.retry = true;
        reader->SetKnownLength(known);
        if (reader->Open(path, renderRate)) return reader;
        audioFound = reader->HasAudio();
        reader->Close();
        reader.reset();

        // Some types (Ogg, AIFF) get a second attempt with the decoding
        // layer.
        const InputTypeRow* type = FindInputType(inputType);
        if (type && type->bassSecondAttempt) {
            auto second = std::make_unique<CBassReader>(services.BassRuntime());
            second->SetKnownLength(known);
            if (second->Open(path, renderRate)) return second;
            second->Close();
        }
    }

    reader = MakeFallbackReader(conversion);
    pass.retry = false;
    if (reader->Open(path, renderRate)) return reader;
    audioFound = reader->HasAudio();
    // Audio that cannot be decoded (a damaged stream): the library's cause
    // tells more than the support note.
    const std::string cause = audioFound ? reader->OpenError() : std::string();
    reader->Close();
    reader.reset();

    if (conversion) pass.errorDetail = cause.empty() ? SupportMessage() : Text(cause);
    return nullptr;
}

std::string PathMapKey(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) p = fs::absolute(path, ec).lexically_normal();
    return p.string();
}

int AddFileEntry(IReaderServices& services, PassNotes& pass,
                 std::map<std::string, FileEntry>& pathMap, IFileList& list,
                 const std::string& path, const std::string& addedRoot) {
    std::string key = PathMapKey(path);
    if (pathMap.count(key)) return 0;

    // Only regular files (after links) are read: opening a named pipe
    // blocks until a writer comes, which may be never, and a device such
    // as /dev/zero never ends. Both fail like any unreadable file.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return -1;

    int inputType = InputTypeOf(path);
    // A sheet lists its tracks; no reader decodes the sheet itself.
    if (inputType == kInputCueSheet)
        return AddCueSheet(services, pass, pathMap, list, path, addedRoot);
    // A FLAC file with a sheet of its own is listed by track.
    if (inputType == kInputFlac) {
        const int row = AddEmbeddedCueSheet(services, pass, pathMap, list, path, addedRoot);
        if (row >= 0) return row;
    }
    pass.retry = false;
    int audioFound = 1;
    auto reader = CreateReader(services, pass, path, inputType, 0, false, audioFound);
    if (!reader) {
        std::string ext = ExtensionOf(path);
        if (inputType == kInputCdTrack) {
            pass.errorDetail = EngineText(kCdaOnDiskNote);
        } else if (ext == ".swf" || ext == ".flv") {
            pass.errorDetail = EngineText(kBrokenSwfFlvNote);
        }
        return -1;
    }

    // A file that opens but holds no audio stream, or one whose format no
    // decoder could learn (a text file with an audio extension, a video
    // without sound), would only fail when converted: it is not listed,
    // and the adding message says why.
    if (!reader->HasAudio() || reader->GetSampleRate() <= 0) {
        reader->Close();
        pass.errorDetail = EngineText(kNoAudioRow);
        return -1;
    }

    FileEntry entry;
    entry.InputType = inputType;
    entry.Path = path;
    entry.AddedRoot = addedRoot;
    entry.Duration = reader->GetDuration();
    entry.SampleRate = reader->GetSampleRate();
    entry.Bitrate = reader->GetBitrate();
    entry.Channels = reader->GetChannels();
    // Handed to the readers of the file's conversion (MPEG audio: they
    // skip the scan of all frames this one made).
    entry.ScannedLength = reader->LearnedLength();
    reader->Close();
    reader.reset();

    auto [it, inserted] = pathMap.emplace(key, std::move(entry));
    (void)inserted;
    return list.AppendRow(it->second);
}

int RemoveFileEntries(std::map<std::string, FileEntry>& pathMap,
                      const std::vector<const FileEntry*>& entries) {
    const std::unordered_set<const FileEntry*> doomed(entries.begin(), entries.end());
    int removed = 0;
    for (auto it = pathMap.begin(); it != pathMap.end();) {
        if (doomed.count(&it->second)) {
            it = pathMap.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

}  // namespace quelvox
