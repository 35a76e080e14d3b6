#include "engine/AddJob.h"

#include <chrono>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace quelvox {

namespace fs = std::filesystem;

namespace {

// Progress texts more often than this show nothing new and cost the front
// end drawing.
constexpr auto kProgressInterval = std::chrono::milliseconds(15);

// The batch step's progress and list, turned into the job's events.
class CAddReporter : public IProgress, public IFileList {
public:
    CAddReporter(IAddEvents& events, std::function<bool()> cancelled)
        : events_(events), cancelled_(std::move(cancelled)) {}

    // The batch step sets the text, then the bar, for each path.
    void SetFileText(const Text& text) override { text_ = text; }
    void SetFileProgress(uint64_t position, uint64_t total) override {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < kProgressInterval) return;
        last_ = now;
        events_.AddProgress(text_, position, total);
    }
    void SetRunText(const Text&) override {}
    void SetRunProgress(int, int) override {}
    bool IsCancelled() const override { return cancelled_(); }

    int AppendRow(const FileEntry& entry) override {
        events_.RowsAdded({&entry});
        return 0;
    }
    void AppendRows(const std::vector<const FileEntry*>& entries) override {
        events_.RowsAdded(entries);
    }

private:
    IAddEvents& events_;
    std::function<bool()> cancelled_;
    Text text_;
    std::chrono::steady_clock::time_point last_{};
};

// Reader services for the job: nothing is asked from it. A missing WMA
// runtime is remembered, for the front end to offer once the job is over.
class CJobReaderServices : public IReaderServices {
public:
    explicit CJobReaderServices(IReaderServices& inner) : inner_(inner) {}
    const bass::CBassRuntime& BassRuntime() const override { return inner_.BassRuntime(); }
    bool LoadWmaRuntime() override { return inner_.LoadWmaRuntime(); }
    void OfferWmaRuntime() override { offerWanted = true; }
    bool offerWanted = false;

private:
    IReaderServices& inner_;
};

}  // namespace

CAddJob::CAddJob(const CSettings& settings, IReaderServices& services,
                 std::map<std::string, FileEntry>& pathMap, AddRequest request,
                 IAddEvents& events, std::atomic<bool>* interrupt)
    : settings_(settings),
      services_(services),
      pathMap_(pathMap),
      request_(std::move(request)),
      events_(events),
      interrupt_(interrupt) {}

CAddJob::~CAddJob() {
    Cancel();
    if (thread_.joinable()) thread_.join();
}

void CAddJob::Start() {
    try {
        thread_ = std::thread([this] { outcome_ = Run(); });
    } catch (const std::system_error&) {
        outcome_ = Run();
    }
}

AddOutcome CAddJob::Wait() {
    if (thread_.joinable()) thread_.join();
    return outcome_;
}

AddOutcome CAddJob::Run() {
    AddOutcome outcome;
    CAddReporter reporter(events_, [this] { return Cancelled(); });
    std::vector<std::string> paths;
    // The folder each file was found in, for a tree kept from there.
    std::vector<std::string> roots;
    bool searched = true;
    switch (request_.mode) {
        case AddMode::Chosen: paths = request_.items; break;
        case AddMode::Dropped:
            searched = CollectDroppedPaths(request_.items, settings_, paths, &reporter, &roots,
                                           &outcome.linkLoops);
            break;
        case AddMode::Arguments:
            for (const std::string& item : request_.items) {
                std::error_code ec;
                if (fs::is_directory(item, ec)) {
                    searched = SearchFolder(item, settings_, paths, &reporter,
                                            &outcome.unreadableFolders, &roots, &outcome.linkLoops);
                    if (!searched) break;
                } else {
                    paths.push_back(item);
                    roots.resize(paths.size());
                }
            }
            break;
    }
    // A search cut short by Cancel adds nothing.
    if (searched && !paths.empty()) {
        CJobReaderServices services(services_);
        outcome.result =
            AddPathList(services, pathMap_, reporter, paths, &reporter,
                        request_.mode == AddMode::Chosen ? nullptr : &roots);
        outcome.wmaRuntimeMissing = services.offerWanted;
    }
    outcome.stopped = !searched || outcome.result.cancelled;
    events_.AddFinished(outcome);
    return outcome;
}

}  // namespace quelvox
