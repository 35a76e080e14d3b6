#include "ui/WorkerRun.h"

#include "engine/ParallelRun.h"
#include "settings/Settings.h"
#include "common/FormatCatalogue.h"
#include "engine/Texts.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

namespace quelvox::ui {

namespace {

// How often the window shows the run's progress and looks at Cancel.
constexpr int kRefreshMs = 30;

// What the runner last reported, kept for the window thread to show.
class CRunView : public IParallelRunView {
public:
    void RowsFinished(int) override {}
    void Tick(int done, int count, const std::vector<const CSharedProgress*>& inFlight) override {
        Shown now;
        now.done = done;
        now.count = count;
        double sum = 0.0;
        for (const CSharedProgress* sink : inFlight) {
            const CSharedProgress::Snapshot s = sink->Read();
            sum += static_cast<double>(s.position) /
                   static_cast<double>(std::max<uint64_t>(s.total, 1));
            // The most recently started file is the last in list order.
            now.fileText = s.fileText;
            now.runText = s.runText;
        }
        now.fileShare = inFlight.empty() ? 0.0 : sum / static_cast<double>(inFlight.size());
        now.inFlightShare = sum;
        std::lock_guard lock(mutex_);
        shown_ = now;
    }

    struct Shown {
        int done = 0;
        int count = 0;
        double fileShare = 0.0;
        // The converting files' shares added up: with `done`, the files of
        // the run that are behind us.
        double inFlightShare = 0.0;
        std::string fileText;
        std::string runText;
    };
    Shown Read() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    mutable std::mutex mutex_;
    Shown shown_;
};

// The run's bar measures files finished plus the share of the files in
// hand, the same in a run of separate files and in a merged run.
void ShowRunShare(IProgress& progress, double filesBehind, int count) {
    constexpr int kSteps = 1000;
    if (count <= 0) return;
    const double share = std::clamp(filesBehind / static_cast<double>(count), 0.0, 1.0);
    progress.SetRunProgress(static_cast<int>(share * kSteps), kSteps);
}

}  // namespace

CWindowThreadHost::CWindowThreadHost(IRunHost& window, QObject& context,
                                     const std::vector<int>& rows, IProgress* progress)
    : window_(window), context_(context), rows_(rows), progress_(progress) {}

IProgress& CWindowThreadHost::OpenProgress() {
    if (!progress_) return silent_;
    Wait([&] { windowProgress_ = &window_.OpenProgress(); });
    return *progress_;
}

void CWindowThreadHost::CloseProgress() {
    if (!progress_) return;
    Wait([&] {
        windowProgress_ = nullptr;
        window_.CloseProgress();
    });
}

std::string CWindowThreadHost::ChooseMergedFile(const OutputFormatEntry& format) {
    if (!progress_) return {};
    std::string chosen;
    Wait([&] { chosen = window_.ChooseMergedFile(format); });
    return chosen;
}

int CWindowThreadHost::Row(int index) const { return rows_.at(static_cast<size_t>(index)); }

void CWindowThreadHost::Queue(std::function<void()> work) {
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

void CWindowThreadHost::Wait(const std::function<void()>& work) {
    if (QThread::currentThread() == context_.thread())
        work();
    else
        QMetaObject::invokeMethod(&context_, work, Qt::BlockingQueuedConnection);
}

void CWindowThreadHost::SetVolumeCell(int index, const std::string& text) {
    Queue([this, row = Row(index), text] { window_.SetVolumeCell(row, text); });
}
void CWindowThreadHost::SetOutputCell(int index, const std::string& text) {
    Queue([this, row = Row(index), text] { window_.SetOutputCell(row, text); });
}
void CWindowThreadHost::ScrollToRow(int index) {
    Queue([this, row = Row(index)] { window_.ScrollToRow(row); });
}
void CWindowThreadHost::WidenOutputColumn() {
    Queue([this] { window_.WidenOutputColumn(); });
}
void CWindowThreadHost::NoteShortSource(int index, double claimedSeconds, double heldSeconds) {
    Queue([this, row = Row(index), claimedSeconds, heldSeconds] {
        window_.NoteShortSource(row, claimedSeconds, heldSeconds);
    });
}
bool CWindowThreadHost::AskQuestion(const std::string& text) {
    bool answer = false;
    Wait([&] { answer = window_.AskQuestion(text); });
    return answer;
}
void CWindowThreadHost::ShowWarning(const std::string& text) {
    Wait([&] { window_.ShowWarning(text); });
}
void CWindowThreadHost::OpenInBrowser(const std::string& address) {
    Wait([&] { window_.OpenInBrowser(address); });
}
void CWindowThreadHost::OpenFolder(const std::string& folder) {
    Wait([&] { window_.OpenFolder(folder); });
}
void CWindowThreadHost::ShowInFileManager(const std::string& path) {
    Wait([&] { window_.ShowInFileManager(path); });
}

RunOutcome ConvertOnWorkers(RunEnvironment& env, IRunHost& window, QObject& context,
                            const std::vector<FileEntry*>& entries, const std::vector<int>& rows,
                            const OutputFormatEntry& format, int jobs) {
    RunOutcome outcome;
    if (entries.empty() || entries.size() != rows.size()) return outcome;
    if (!PrepareRunRuntimes(env, window, entries, format)) return outcome;
    outcome.started = true;
    jobs = std::clamp(jobs, 1, static_cast<int>(entries.size()));

    IProgress& progress = window.OpenProgress();
    const int count = static_cast<int>(entries.size());
    progress.SetRunProgress(0, count);
    // Until the runner first reports (about every 100 ms): the run's start,
    // in the engine's texts (the progress window shows them translated).
    progress.SetRunText(FillText(kRunText, 1, count, FormatDescription(format).c_str()));
    progress.SetFileText(FillText(
        kFileStartText, std::filesystem::path(entries.front()->Path).filename().string().c_str()));

    CWindowThreadHost host(window, context, rows);
    // The workers' reader services ask their questions through the
    // window thread.
    CRunReaderServices readers(env.runtime, env.wmaFormats, &host);
    RunEnvironment workerEnv{env.settings, env.runtime, readers, env.wmaFormats, env.state};
    CRunView view;
    std::atomic<bool> cancel{false};

    QEventLoop loop;
    QTimer refresh;
    refresh.setInterval(kRefreshMs);
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        if (progress.IsCancelled()) cancel = true;
        const CRunView::Shown now = view.Read();
        if (now.count == 0) return;
        ShowRunShare(progress, static_cast<double>(now.done) + now.inFlightShare, now.count);
        if (!now.runText.empty()) progress.SetRunText(now.runText);
        if (!now.fileText.empty()) progress.SetFileText(now.fileText);
        progress.SetFileProgress(static_cast<uint64_t>(now.fileShare * 1000.0), 1000);
    });
    refresh.start();

    bool finished = false;
    std::thread runner([&] {
        finished = ConvertAtOnce(workerEnv, host, view, entries, format, jobs, cancel);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    runner.join();
    refresh.stop();
    // The last cells the workers queued.
    QCoreApplication::sendPostedEvents(&context);

    window.CloseProgress();
    outcome.cancelled = !finished;
    if (finished && env.settings.BrowseOutputFolder) {
        for (const FileEntry* e : entries) {
            std::error_code ec;
            if (!e->OutputPath.empty() && std::filesystem::is_regular_file(e->OutputPath, ec)) {
                window.ShowInFileManager(e->OutputPath);
                break;
            }
        }
    }
    return outcome;
}

RunOutcome ConvertMergedOffThread(RunEnvironment& env, IRunHost& window, QObject& context,
                                  const std::vector<FileEntry*>& entries,
                                  const std::vector<int>& rows, const OutputFormatEntry& format) {
    std::atomic<bool> cancel{false};
    CSharedProgress shared(cancel);
    std::vector<int> indices(rows.size());
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<int>(i);
    CWindowThreadHost host(window, context, rows, &shared);
    CRunReaderServices readers(env.runtime, env.wmaFormats, &host);
    RunEnvironment threadEnv{env.settings, env.runtime, readers, env.wmaFormats, env.state};

    QEventLoop loop;
    QTimer refresh;
    refresh.setInterval(kRefreshMs);
    QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
        IProgress* shown = host.WindowProgress();
        if (!shown) return;
        if (shown->IsCancelled()) cancel = true;
        const CSharedProgress::Snapshot now = shared.Read();
        // `done` counts the files begun; the one in hand counts by its share.
        const double behind =
            now.done > 0 ? static_cast<double>(now.done - 1) +
                               static_cast<double>(std::min(now.position, now.total)) /
                                   static_cast<double>(std::max<uint64_t>(now.total, 1))
                         : 0.0;
        ShowRunShare(*shown, behind, now.count);
        shown->SetRunText(now.runText);
        shown->SetFileText(now.fileText);
        shown->SetFileProgress(now.position, now.total);
    });
    refresh.start();

    RunOutcome outcome;
    std::thread runner([&] {
        outcome = ConvertAllToOne(threadEnv, host, entries, indices, format);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    runner.join();
    refresh.stop();
    QCoreApplication::sendPostedEvents(&context);
    for (int& row : outcome.appendedRows) row = rows.at(static_cast<size_t>(row));
    return outcome;
}

}  // namespace quelvox::ui
