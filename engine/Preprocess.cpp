#include "engine/Preprocess.h"
#include "engine/Texts.h"

#include "decoders/BassReader.h"
#include "common/InputType.h"

#include "engine/ReaderFactory.h"
#include "encoders/RawPcmWriter.h"
#include "engine/ConversionContext.h"
#include "common/FileEntry.h"
#include "engine/ProcessingChain.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace quelvox {

namespace fs = std::filesystem;

int MakeTempFileName(const std::string& folder, const std::string& prefix,
                     const std::string& extension, std::string& name) {
    std::string dir = folder;
    if (dir.empty()) {
        std::error_code ec;
        dir = fs::temp_directory_path(ec).string();
        if (ec || dir.empty()) return 0;
    }
    if (dir.back() != '/') dir += '/';

    // The generator belongs to this call: two conversions never share it.
    std::random_device device;
    std::mt19937 random(device());
    const std::string pid = std::to_string(static_cast<long>(::getpid()));
    const std::string thread =
        std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()) % 1000000007u);

    // Creating the file exclusively both tests the name (file, folder or
    // link) and reserves it.
    for (unsigned counter = 1; counter <= 100000; ++counter) {
        const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        std::string candidate =
            dir + prefix + pid + thread + std::to_string(static_cast<unsigned long long>(ticks)) +
            std::to_string(random() % 32768u) + std::to_string(counter) + extension;
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            name = std::move(candidate);
            return 1;
        }
        if (errno != EEXIST) return 0;
    }
    return 0;
}

namespace {

bool SamePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return a == b;
}

void RemoveUnlessSource(const std::string& path, const std::string& source) {
    if (path.empty() || SamePath(path, source)) return;
    std::error_code ec;
    fs::remove(path, ec);
}

}  // namespace

int PreprocessDts(ConversionContext& ctx, FileEntry& record, int& audioFound) {
    std::unique_ptr<CAudioReader> reader;
    if (record.InputType == kInputDts) {
        // A RIFF file whose samples carry a DTS stream. FFmpeg's WAV demuxer
        // recognises such streams and would hand out decoded audio, so the
        // stored samples are read through the decoding layer, which copies
        // them as they are. When it cannot, the pass fails and the driver
        // converts the file itself.
        auto raw = std::make_unique<CBassReader>(ctx.readers.BassRuntime());
        if (!raw->Open(record.Path, 44100)) return 0;
        reader = std::move(raw);
    } else {
        reader = CreateReader(ctx.readers, ctx.pass, record.Path, record.InputType, 44100, true,
                              audioFound);
    }
    if (!reader) return 0;
    if (reader->GetSampleRate() < 1) {
        audioFound = 0;
        reader->Close();
        return 0;
    }

    const int channels = reader->GetOutputChannels() == 2 ? 2 : 1;
    auto writer = std::make_unique<CRawPcmWriter>();
    writer->SetChannels(channels);

    std::string temp;
    if (!MakeTempFileName({}, {}, ".dts", temp)) {
        reader->Close();
        return 0;
    }
    writer->SetFileName(temp);
    if (!writer->Open()) {
        reader->Close();
        writer.reset();
        RemoveUnlessSource(temp, record.Path);
        return 0;
    }

    // The pass copies 16-bit samples as they are: a deeper source is
    // rounded, never dithered.
    writer->SetDither(false);
    AudioBlock block;
    const FileEntry& shown = ctx.currentEntry ? *ctx.currentEntry : record;
    CPassProgress progress(ctx.progress, kPreprocessingPass, FileNameOf(shown.Path),
                           reader->GetTotal());

    bool anyBlock = false;
    bool cancelled = false;
    bool writeFailed = false;
    for (;;) {
        const int frames = reader->ReadBlock(block);
        if (frames <= 0) {
            progress.Complete();
            break;
        }
        block.frames = std::min(frames, kBlockFrames);
        anyBlock = true;
        progress.Update(reader->GetPosition());
        ctx.progress.Pump();
        if (ctx.progress.IsCancelled()) {
            cancelled = true;
            break;
        }
        // A short write would leave a truncated stream that still decodes:
        // treat it as a failed pass.
        if (!writer->WriteBlock(block)) {
            writeFailed = true;
            break;
        }
    }
    reader->Close();
    reader.reset();
    writer->Close();
    if (!writer->WriteError().empty()) writeFailed = true;
    writer.reset();

    if (anyBlock && !cancelled && !writeFailed) {
        std::error_code ec;
        const auto size = fs::file_size(temp, ec);
        if (!ec && size > 0) {
            record.OutputPath = temp;
            return 1;
        }
    }
    RemoveUnlessSource(temp, record.Path);
    return 0;
}

}  // namespace quelvox
