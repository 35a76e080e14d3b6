#include "engine/Session.h"

#include "engine/ConversionRun.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"

#include <filesystem>
#include <system_error>

namespace quelvox {

// A run's events on their way to the front end, with the session's rules
// applied at the end.
class CSession::CRunRules : public IRunEvents {
public:
    CRunRules(ISessionRunEvents& inner, bool merged) : inner_(inner), merged_(merged) {}

    void SetVolumeCell(int row, const std::string& text) override { inner_.SetVolumeCell(row, text); }
    void SetOutputCell(int row, const Text& text) override { inner_.SetOutputCell(row, text); }
    void ScrollToRow(int row) override { inner_.ScrollToRow(row); }
    void WidenOutputColumn() override { inner_.WidenOutputColumn(); }
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds) override {
        inner_.NoteShortSource(row, claimedSeconds, heldSeconds);
    }
    void NoteDocumentsFallback(int row, const std::string& path, const Text& reason) override {
        inner_.NoteDocumentsFallback(row, path, reason);
    }
    void NoteDroppedTags(const DroppedTagNotes& notes) override { inner_.NoteDroppedTags(notes); }
    void NoteFile(const Text& note) override { inner_.NoteFile(note); }
    void NoteVolume(int row, const Text& note) override { inner_.NoteVolume(row, note); }
    void Progress(const RunProgress& progress) override { inner_.Progress(progress); }
    void RowsFinished(int end) override { inner_.RowsFinished(end); }
    bool ShowsProgress() const override { return inner_.ShowsProgress(); }
    void Finished(const RunOutcome& outcome) override {
        if (merged_ && outcome.started && !outcome.mergedKept) {
            // The rows appended to a merged file that was not kept must not
            // name it: they say why it is not there, in the run's own row
            // texts. A failed write has already put its cause in them.
            for (int row : outcome.appendedRows) inner_.ForgetRowNotes(row);
            if (outcome.cancelled || outcome.mergedMoveFailed) {
                const Text why = outcome.mergedMoveFailed
                                     ? EngineText(kMergedCreateFailed, outcome.mergedPath)
                                     : EngineText(kCancelledRow);
                for (int row : outcome.appendedRows) {
                    inner_.SetVolumeCell(row, "");
                    inner_.SetOutputCell(row, why);
                }
            }
        }
        inner_.Finished(outcome);
    }

private:
    ISessionRunEvents& inner_;
    const bool merged_;
};

CSession::CSession(CCodecRuntime& runtime, const SettingsLocation& location,
                   std::atomic<bool>* interrupt)
    : runtime_(runtime),
      location_(location),
      interrupt_(interrupt),
      catalogue_(BuildFormatCatalogue()) {
    // The MIDI soundfont is not loaded here: a run loads it when it
    // converts a MIDI file, and listing one needs no font.
    // A file converting alone may decode ahead on a second processor.
    state_.processors = DefaultSimultaneousFiles();
    LoadSettings(settings_, catalogue_, location_);
}

CSession::~CSession() {
    Cancel();
    addJob_.reset();
    runJob_.reset();
}

bool CSession::WmaRuntimeReady() {
    if (!runtime_.LoadWmaRuntime()) return false;
    if (wmaFormats_.empty()) BuildWmaFormatList(wmaFormats_);
    return true;
}

void CSession::BeginAdding(AddRequest request, IAddEvents& events) {
    // CUE sheets are read when they are added, in the tag code page the
    // settings choose now.
    runtime_.Bass().SetTagCodePage(settings_.TagCodePage);
    addServices_ = std::make_unique<CRunReaderServices>(runtime_, wmaFormats_, nullptr);
    addJob_ = std::make_unique<CAddJob>(settings_, *addServices_, pathMap_, std::move(request),
                                        events, interrupt_);
}

AddOutcome CSession::EndAdding(AddOutcome outcome, IPlanHost& host) {
    addJob_.reset();
    addServices_.reset();
    // Nothing is asked while a job runs: a missing runtime is offered now.
    if (outcome.wmaRuntimeMissing) CRunReaderServices(runtime_, wmaFormats_, &host).OfferWmaRuntime();
    return outcome;
}

bool CSession::StartAdding(AddRequest request, IAddEvents& events) {
    if (addJob_ || runJob_) return false;
    BeginAdding(std::move(request), events);
    addJob_->Start();
    return true;
}

AddOutcome CSession::AddNow(AddRequest request, IAddEvents& events, IPlanHost& host) {
    if (addJob_ || runJob_) return {};
    BeginAdding(std::move(request), events);
    return EndAdding(addJob_->Run(), host);
}

AddOutcome CSession::FinishAdding(IPlanHost& host) {
    if (!addJob_) return {};
    return EndAdding(addJob_->Wait(), host);
}

void CSession::RemoveEntries(const std::vector<const FileEntry*>& entries) {
    RemoveFileEntries(pathMap_, entries);
}

bool CSession::IsListedSource(const std::string& path) const {
    // Writing a merged file over one of its sources (by any name that leads
    // to the same file) would destroy that source.
    const std::string key = PathMapKey(path);
    for (const auto& [listed, entry] : pathMap_) {
        std::error_code ec;
        if (listed == key || std::filesystem::equivalent(path, entry.Path, ec)) return true;
        // A CUE track's audio is its image.
        if (!entry.ImagePath.empty() && std::filesystem::equivalent(path, entry.ImagePath, ec))
            return true;
    }
    return false;
}

bool CSession::PlanRun(const RunRequest& request, IPlanHost& host, IRowCells& cells,
                       const std::function<std::string()>& chooseName, RunPlan& plan,
                       Text* refusal, std::vector<Text>* notes) {
    if (addJob_ || runJob_ || !request.format || request.entries.empty()) return false;
    plan = RunPlan{};
    plan.entries = request.entries;
    plan.format = request.format;
    plan.jobs = request.merged ? 1 : request.jobs;
    plan.merged = request.merged;
    {
        CRunReaderServices readers(runtime_, wmaFormats_, &host);
        RunEnvironment env{settings_, runtime_, readers, wmaFormats_, state_};
        if (!SettleRunRuntimes(env, host, plan.entries, *plan.format)) return false;
    }
    // A run begins with its rows' volume and output cells empty: what an
    // earlier run wrote there (an output since deleted) no longer holds.
    const auto begin = [&] {
        for (size_t row = 0; row < plan.entries.size(); ++row) {
            cells.SetVolumeCell(static_cast<int>(row), "");
            cells.SetOutputCell(static_cast<int>(row), Text());
        }
        return true;
    };
    if (!request.merged) return begin();
    const std::string chosen = chooseName ? chooseName() : std::string();
    if (chosen.empty()) return false;
    plan.target = SettleMergedTarget(chosen, *plan.format, plan.entries, settings_.TargetExistsOpt,
                                     request.mergedFromDialog);
    if (notes) *notes = plan.target.notes;
    if (!plan.target.path.empty()) return begin();
    // A merge that never starts gives every row its reason.
    for (size_t row = 0; row < plan.entries.size(); ++row)
        cells.SetOutputCell(static_cast<int>(row), plan.target.refusal);
    if (refusal) *refusal = plan.target.refusal;
    return false;
}

void CSession::BeginRun(RunPlan plan, ISessionRunEvents& events) {
    runRules_ = std::make_unique<CRunRules>(events, plan.merged);
    runJob_ = std::make_unique<CConversionJob>(settings_, runtime_, wmaFormats_, state_,
                                               std::move(plan), *runRules_, interrupt_);
}

RunOutcome CSession::EndRun(RunOutcome outcome) {
    runJob_.reset();
    runRules_.reset();
    return outcome;
}

bool CSession::StartRun(RunPlan plan, ISessionRunEvents& events) {
    if (addJob_ || runJob_) return false;
    BeginRun(std::move(plan), events);
    runJob_->Start();
    return true;
}

RunOutcome CSession::RunNow(RunPlan plan, ISessionRunEvents& events) {
    if (addJob_ || runJob_) return {};
    BeginRun(std::move(plan), events);
    return EndRun(runJob_->Run());
}

RunOutcome CSession::FinishRun() {
    if (!runJob_) return {};
    return EndRun(runJob_->Wait());
}

void CSession::Cancel() {
    if (addJob_) addJob_->Cancel();
    if (runJob_) runJob_->Cancel();
}

}  // namespace quelvox
