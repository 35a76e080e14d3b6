#include "engine/ConversionJob.h"

#include "common/FormatCatalogue.h"
#include "engine/ProcessingChain.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace quelvox {

namespace {

// How often a run reports its progress.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// Hands the run's events on one at a time, whichever thread they come from.
class CSerialEvents : public IRunEvents {
public:
    explicit CSerialEvents(IRunEvents& inner) : inner_(inner) {}

    void SetVolumeCell(int row, const std::string& text) override {
        std::lock_guard lock(mutex_);
        inner_.SetVolumeCell(row, text);
    }
    void SetOutputCell(int row, const Text& text) override {
        std::lock_guard lock(mutex_);
        inner_.SetOutputCell(row, text);
    }
    void ScrollToRow(int row) override {
        std::lock_guard lock(mutex_);
        inner_.ScrollToRow(row);
    }
    void WidenOutputColumn() override {
        std::lock_guard lock(mutex_);
        inner_.WidenOutputColumn();
    }
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds) override {
        std::lock_guard lock(mutex_);
        inner_.NoteShortSource(row, claimedSeconds, heldSeconds);
    }
    void NoteDocumentsFallback(int row, const std::string& path, const Text& reason) override {
        std::lock_guard lock(mutex_);
        inner_.NoteDocumentsFallback(row, path, reason);
    }
    void NoteDroppedTags(const DroppedTagNotes& notes) override {
        std::lock_guard lock(mutex_);
        inner_.NoteDroppedTags(notes);
    }
    void NoteFile(const Text& note) override {
        std::lock_guard lock(mutex_);
        inner_.NoteFile(note);
    }
    void Progress(const RunProgress& progress) override {
        std::lock_guard lock(mutex_);
        inner_.Progress(progress);
    }
    void RowsFinished(int end) override {
        std::lock_guard lock(mutex_);
        inner_.RowsFinished(end);
    }
    void Finished(const RunOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        inner_.Finished(outcome);
    }
    bool ShowsProgress() const override { return inner_.ShowsProgress(); }

private:
    IRunEvents& inner_;
    std::mutex mutex_;
};

}  // namespace

CConversionJob::CConversionJob(const CSettings& settings, CCodecRuntime& runtime,
                               WmaFormatList& wmaFormats, const RunState& state, RunPlan plan,
                               IRunEvents& events, const std::atomic<bool>* cancelSource)
    : settings_(settings),
      runtime_(runtime),
      wmaFormats_(wmaFormats),
      plan_(std::move(plan)),
      events_(events),
      cancelSource_(cancelSource) {
    state_.soundfontReady = state.soundfontReady;
    state_.processors = state.processors;
}

CConversionJob::~CConversionJob() {
    if (thread_.joinable()) {
        Cancel();
        thread_.join();
    }
}

void CConversionJob::Start() {
    try {
        thread_ = std::thread([this] { outcome_ = Run(); });
    } catch (const std::system_error&) {
        outcome_ = Run();
    }
}

RunOutcome CConversionJob::Wait() {
    if (thread_.joinable()) thread_.join();
    return outcome_;
}

RunOutcome CConversionJob::Run() {
    RunOutcome outcome;
    if (!plan_.entries.empty() && plan_.format) {
        // The run's start, before any file reports.
        RunProgress start;
        start.count = static_cast<int>(plan_.entries.size());
        start.runText =
            EngineText(kRunText, 1, start.count,
                       plan_.merged ? Text(FileNameOf(plan_.target.path)) : FormatName(*plan_.format));
        start.fileText = EngineText(kFileStartText, FileNameOf(plan_.entries.front()->Path));
        CSerialEvents(events_).Progress(start);
        outcome = plan_.merged ? RunMerged() : RunEach();
    }
    CSerialEvents(events_).Finished(outcome);
    return outcome;
}

RunOutcome CConversionJob::RunEach() {
    RunOutcome outcome;
    outcome.started = true;
    CSerialEvents events(events_);
    // Nothing asks while the files convert: the plan asked.
    CRunReaderServices readers(runtime_, wmaFormats_, nullptr);
    RunEnvironment env{settings_, runtime_, readers, wmaFormats_, state_};
    const bool finished =
        ConvertAtOnce(env, events, plan_.entries, *plan_.format, plan_.jobs, Flags());
    outcome.cancelled = !finished;
    if (finished) outcome.browsePath = FirstOutputToShow(settings_, plan_.entries);
    return outcome;
}

RunOutcome CConversionJob::RunMerged() {
    CSerialEvents events(events_);
    CRunReaderServices readers(runtime_, wmaFormats_, nullptr);
    RunEnvironment env{settings_, runtime_, readers, wmaFormats_, state_};
    CSharedProgress progress(Flags());
    // The merge converts on this thread; its progress is reported from the
    // block loop, at most every interval.
    auto last = std::chrono::steady_clock::now() - kProgressInterval;
    // Nobody looks: no texts, no reports.
    progress.SetShowsText(events.ShowsProgress());
    if (events.ShowsProgress()) {
        progress.SetPumpHandler([&] {
            const auto now = std::chrono::steady_clock::now();
            if (now - last < kProgressInterval) return;
            last = now;
            // `done` counts the files begun; the one in hand by its share.
            const CSharedProgress::Snapshot s = progress.Read();
            ReportRunProgress(events, std::max(s.done - 1, 0), s.count, {&progress});
        });
    }
    std::vector<int> rows(plan_.entries.size());
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<int>(i);
    RunOutcome outcome =
        ConvertAllToOne(env, progress, events, plan_.entries, rows, *plan_.format, plan_.target);
    events.RowsFinished(static_cast<int>(rows.size()));
    return outcome;
}

}  // namespace quelvox
