// Several files of a run converted at once, each on a worker thread with
// its own run state, with exactly the outputs, names, track numbers and row
// texts of a run of one file after another: names are chosen in list order
// on the calling thread, and a file whose output could meet an unfinished
// earlier file's waits for it.
#pragma once

#include "engine/ConversionRun.h"
#include "engine/HostInterfaces.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quelvox {

class IRunEvents;

// A run's request to stop: its own flag (a Cancel button) or one set from
// outside the run (Ctrl+C's signal handler), whichever is set. Both flags
// outlive every reader of this.
class CCancelFlags {
public:
    // Only `own` (implicit, so that a flag stands wherever these are asked).
    CCancelFlags(const std::atomic<bool>& own) : own_(&own) {}
    CCancelFlags(const std::atomic<bool>& own, const std::atomic<bool>* outside)
        : own_(&own), outside_(outside) {}
    bool IsSet() const { return own_->load() || (outside_ && outside_->load()); }

private:
    const std::atomic<bool>* own_;
    const std::atomic<bool>* outside_ = nullptr;
};

// A progress sink whose texts and bars anyone may read while the engine
// writes them (one conversion at a time per sink). Cancellation comes from
// shared flags (a Cancel button, Ctrl+C). Pump calls `onPump`, if set, on
// the converting thread.
class CSharedProgress : public IProgress {
public:
    explicit CSharedProgress(CCancelFlags cancel) : cancel_(cancel) {}

    void SetFileText(const Text& text) override;
    void SetFileProgress(uint64_t position, uint64_t total) override;
    void SetRunText(const Text& text) override;
    void SetRunProgress(int done, int count) override;
    void Pump() override;
    bool IsCancelled() const override { return cancel_.IsSet(); }
    bool ShowsText() const override { return showsText_; }

    // Whether anyone reads the texts (default true); set before use.
    void SetShowsText(bool shows) { showsText_ = shows; }
    void SetPumpHandler(std::function<void()> onPump) { onPump_ = std::move(onPump); }

    struct Snapshot {
        Text fileText;
        Text runText;
        uint64_t position = 0;
        uint64_t total = 1;
        int done = 0;
        int count = 0;
    };
    Snapshot Read() const;

private:
    const CCancelFlags cancel_;
    mutable std::mutex mutex_;
    Snapshot now_;
    std::function<void()> onPump_;
    bool showsText_ = true;
};

// Reader services that several conversions may share: loading the WMA
// runtime (and building its format list) and the offer to fetch it are
// done under a lock. The decoding layer's runtime itself is only read
// while conversions run.
class CSharedReaderServices : public IReaderServices {
public:
    explicit CSharedReaderServices(IReaderServices& inner) : inner_(inner) {}
    const bass::CBassRuntime& BassRuntime() const override { return inner_.BassRuntime(); }
    bool LoadWmaRuntime() override;
    void OfferWmaRuntime() override;

private:
    IReaderServices& inner_;
    std::mutex mutex_;
};

// Converts `entries` (row i is entry i) on `jobs` worker threads, though
// never more than there are files or four per processor. One file, or
// one job, converts on the calling thread, which then reports its progress from
// the conversion's block loop; so does a run whose threads the system
// refuses (a thread it refuses is done without). The runtime checks
// (PrepareRunRuntimes) are the caller's, before this call.
// `events` are called from the workers and must be safe for that; while
// its ShowsProgress is false, no progress is built or reported. Files not
// begun when `cancel` is set keep no output name. Returns false when the
// run was cancelled.
bool ConvertAtOnce(RunEnvironment& env, IRunEvents& events,
                   const std::vector<FileEntry*>& entries, const OutputFormatEntry& format,
                   int jobs, CCancelFlags cancel);

}  // namespace quelvox
