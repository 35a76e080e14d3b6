// Stand-ins for the front end's services in engine tests: a started codec
// runtime behind the reader chain, and a progress sink that records texts
// and cancels on request.
#pragma once

#include "engine/ReaderFactory.h"
#include "encoders/WmaFormats.h"
#include "engine/ConversionContext.h"
#include "engine/ConvertFile.h"
#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "common/FileEntry.h"
#include "engine/HostInterfaces.h"
#include "engine/RunState.h"
#include "settings/Settings.h"
#include "engine/CodecRuntime.h"

#include <string>
#include <vector>

namespace testsupport {

class CTestReaderServices : public quelvox::IReaderServices {
public:
    CTestReaderServices() { runtime.Start(quelvox::ExecutableFolder()); }
    const quelvox::bass::CBassRuntime& BassRuntime() const override { return runtime.Bass(); }
    bool LoadWmaRuntime() override {
        if (!wmaAvailable) return false;
        if (wmaFormats.empty()) quelvox::BuildWmaFormatList(wmaFormats);
        return true;
    }
    void OfferWmaRuntime() override { ++wmaOffers; }

    quelvox::CCodecRuntime runtime;
    quelvox::WmaFormatList wmaFormats;
    bool wmaAvailable = true;
    int wmaOffers = 0;
};

// Records the texts it is given; cancels once it has been pumped more than
// `cancelAfterPumps` times (never when negative).
class CRecordingProgress : public quelvox::IProgress {
public:
    void SetFileText(const quelvox::Text& text) override { fileTexts.push_back(text.Source()); }
    void SetFileProgress(uint64_t position, uint64_t total) override {
        lastPosition = position;
        lastTotal = total;
    }
    void SetRunText(const quelvox::Text& text) override { runTexts.push_back(text.Source()); }
    void SetRunProgress(int done, int count) override {
        runDone = done;
        runCount = count;
    }
    void Pump() override { ++pumps; }
    // Cancelled after so many pumps, so many looks at the flag, or once so
    // many file texts were shown (-1: never).
    bool IsCancelled() const override {
        ++checks;
        return (cancelAfterPumps >= 0 && pumps > cancelAfterPumps) ||
               (cancelAfterChecks >= 0 && checks > cancelAfterChecks) ||
               (cancelAfterTexts >= 0 && fileTexts.size() >= static_cast<size_t>(cancelAfterTexts));
    }

    std::vector<std::string> fileTexts, runTexts;
    uint64_t lastPosition = 0, lastTotal = 0;
    int runDone = 0, runCount = 0;
    int pumps = 0;
    mutable int checks = 0;
    int cancelAfterPumps = -1;
    int cancelAfterChecks = -1;
    int cancelAfterTexts = -1;
};

// What one pass over a file needs: default settings, the run state, a
// recording progress sink and the reader services, tied into a context.
struct PassFixture {
    quelvox::CSettings settings{std::string_view{}};
    quelvox::RunState state;
    CRecordingProgress progress;
    CTestReaderServices services;
    quelvox::ConversionContext ctx{settings, state, progress, services};
    quelvox::FileEntry entry;
};

// What converting single files needs: default settings, the catalogue,
// the run state, a recording progress sink and the reader services.
struct ConversionFixture {
    quelvox::CSettings settings{std::string_view{}};
    std::vector<quelvox::OutputFormatEntry> catalogue = quelvox::BuildFormatCatalogue();
    quelvox::RunState state;
    CRecordingProgress progress;
    CTestReaderServices services;
    quelvox::ConversionContext ctx{settings, state, progress, services, &services.wmaFormats};
    quelvox::FileEntry entry;
    int audioFound = 1;
    // The gains the next conversion applies, and what the last one found.
    quelvox::FileMeasure measure;
    quelvox::FileFindings found;

    quelvox::OutputFormatEntry& Format(int code) { return *quelvox::FindFormat(catalogue, code); }

    // Converts `path` to `out` as the run driver would for its first file.
    int Convert(const std::string& path, const std::string& out, int code) {
        entry = quelvox::FileEntry{};
        entry.Path = path;
        entry.InputType = quelvox::InputTypeOf(path);
        entry.OutputPath = out;
        ctx.currentEntry = &entry;
        ctx.currentIndex = ctx.currentIndex ? ctx.currentIndex : 1;
        ctx.pass = quelvox::PassNotes{};
        return Take(quelvox::ConvertFile(ctx, entry, Format(code), measure));
    }

    // Keeps what a conversion found; returns whether it succeeded.
    int Take(const quelvox::FileResult& result) {
        found = result.findings;
        audioFound = result.audioFound ? 1 : 0;
        return result.ok ? 1 : 0;
    }
};

}  // namespace testsupport
