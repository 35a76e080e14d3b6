// The session under both front ends: adding as a job whose rows arrive in
// list order from the job's thread and which stops on a cancel call, and
// the rules a merged run's rows follow whichever front end renders them.
#include "engine/Session.h"

#include "common/FormatCatalogue.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Records an add job's events; cancels the session once `cancelAtRows`
// rows have arrived.
class CAddRecorder : public IAddEvents {
public:
    void RowsAdded(const std::vector<const FileEntry*>& entries) override {
        std::lock_guard lock(mutex);
        if (std::this_thread::get_id() == caller) ++onCaller;
        for (const FileEntry* e : entries) rows.push_back(fs::path(e->Path).filename().string());
        if (session && cancelAtRows > 0 && static_cast<int>(rows.size()) >= cancelAtRows)
            session->Cancel();
    }
    void AddFinished(const AddOutcome&) override {
        std::lock_guard lock(mutex);
        ++finished;
        ended.notify_all();
    }
    void AwaitFinished() {
        std::unique_lock lock(mutex);
        ended.wait(lock, [&] { return finished > 0; });
    }

    std::thread::id caller = std::this_thread::get_id();
    CSession* session = nullptr;
    int cancelAtRows = -1;
    std::mutex mutex;
    std::condition_variable ended;
    std::vector<std::string> rows;
    int finished = 0, onCaller = 0;
};

// The plan's host (questions answered No) and a run's rows.
class CRunRecorder : public ISessionRunEvents, public IPlanHost {
public:
    void SetVolumeCell(int row, const std::string& text) override { volume[row] = text; }
    void SetOutputCell(int row, const Text& text) override {
        output[row] = text.Source();
        if (session && row == cancelAtRow) session->Cancel();
    }
    void ForgetRowNotes(int row) override { forgotten.push_back(row); }
    bool AskQuestion(const Text&) override { return false; }
    void OpenInBrowser(const std::string&) override {}
    void OpenFolder(const std::string&) override {}
    CSession* session = nullptr;
    int cancelAtRow = -1;
    std::map<int, std::string> volume, output;
    std::vector<int> forgotten;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime.Start(ExecutableFolder());
        session = std::make_unique<CSession>(runtime, SettingsLocation{dir.file("settings.ini")});
    }
    void MakeWav(const std::string& name, int frames = 800) {
        fs::create_directories(fs::path(dir.file(name)).parent_path());
        WriteWav(dir.file(name), 8000, 1, Sine(frames, 1, 8000, 440.0));
    }
    // Lists a.wav and b.wav (one second each) and gives their entries.
    std::vector<FileEntry*> ListTwo(CAddRecorder& added, CRunRecorder& host) {
        MakeWav("a.wav", 8000);
        MakeWav("b.wav", 8000);
        session->AddNow({{dir.file("a.wav"), dir.file("b.wav")}, AddMode::Chosen}, added, host);
        std::vector<FileEntry*> entries;
        for (auto& [key, entry] : session->PathMap()) entries.push_back(&entry);
        return entries;
    }

    TempDir dir;
    CCodecRuntime runtime;
    std::unique_ptr<CSession> session;
};

TEST_F(SessionTest, AddingRunsOnItsOwnThreadAndListsInFolderOrder) {
    MakeWav("in/b.wav");
    MakeWav("in/a.wav");
    MakeWav("in/sub/c.wav");
    MakeWav("in/.hidden.wav");
    session->Settings().DoNotLoadHiddenFiles = 1;
    CAddRecorder events;
    ASSERT_TRUE(session->StartAdding({{dir.file("in")}, AddMode::Dropped}, events));
    EXPECT_TRUE(session->IsAdding());
    // One job at a time.
    EXPECT_FALSE(session->StartAdding({{dir.file("in")}, AddMode::Dropped}, events));
    events.AwaitFinished();
    CRunRecorder host;
    const AddOutcome outcome = session->FinishAdding(host);
    EXPECT_FALSE(session->IsAdding());
    EXPECT_EQ(events.finished, 1);
    EXPECT_EQ(events.onCaller, 0);
    // The drop rules apply: the hidden file is left out.
    EXPECT_EQ(events.rows, (std::vector<std::string>{"a.wav", "b.wav", "c.wav"}));
    EXPECT_EQ(outcome.result.added, 3);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(session->PathMap().size(), 3u);
}

TEST_F(SessionTest, ACancelledAddingKeepsWholeRowsOnly) {
    for (int i = 0; i < 300; ++i) MakeWav("in/f" + std::to_string(1000 + i) + ".wav", 80);
    CAddRecorder events;
    events.session = session.get();
    events.cancelAtRows = 1;
    CRunRecorder host;
    const AddOutcome outcome =
        session->AddNow({{dir.file("in")}, AddMode::Arguments}, events, host);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_LT(outcome.result.added, 300);
    EXPECT_EQ(static_cast<size_t>(outcome.result.added), events.rows.size());
    EXPECT_EQ(session->PathMap().size(), events.rows.size());
    for (const auto& [key, entry] : session->PathMap()) EXPECT_EQ(entry.AddedRoot, dir.file("in"));
}

TEST_F(SessionTest, AMergedFileNotKeptTakesBackItsRowsForEveryFrontEnd) {
    CAddRecorder added;
    CRunRecorder host;
    std::vector<FileEntry*> entries = ListTwo(added, host);
    ASSERT_EQ(entries.size(), 2u);

    // A target refused before the run: every row says why.
    RunRequest request{entries, FindFormat(session->Catalogue(), kFormatWav), 1, true, false};
    RunPlan plan;
    Text refusal;
    EXPECT_FALSE(session->PlanRun(request, host, host, [&] { return dir.file("a.wav"); }, plan,
                                  &refusal));
    EXPECT_FALSE(refusal.empty());
    EXPECT_EQ(host.output[0], refusal.Source());
    EXPECT_EQ(host.output[1], refusal.Source());

    // A merge cancelled once its second file begins keeps nothing: the
    // rows appended to it forget their notes and say it was cancelled.
    ASSERT_TRUE(session->PlanRun(request, host, host, [&] { return dir.file("all.wav"); }, plan));
    host.output.clear();
    host.cancelAtRow = 1;
    host.session = session.get();
    const RunOutcome outcome = session->RunNow(std::move(plan), host);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.mergedKept);
    EXPECT_FALSE(fs::exists(dir.file("all.wav")));
    ASSERT_FALSE(outcome.appendedRows.empty());
    EXPECT_EQ(host.forgotten, outcome.appendedRows);
    for (int row : outcome.appendedRows) {
        EXPECT_EQ(host.output[row], EngineText(kCancelledRow).Source());
        EXPECT_EQ(host.volume[row], "");
    }
}

TEST_F(SessionTest, ARunThatCanStartEmptiesItsRowsCellsAndARefusedOneExplains) {
    CAddRecorder added;
    CRunRecorder host;
    std::vector<FileEntry*> entries = ListTwo(added, host);
    ASSERT_EQ(entries.size(), 2u);
    const OutputFormatEntry* wav = FindFormat(session->Catalogue(), kFormatWav);

    // Each row starts with what an earlier run left; the merged target is
    // one of the sources (refused) or a new file.
    struct Case {
        bool merged;
        const char* target;
        bool starts;
    };
    const Case cases[] = {{false, "", true}, {true, "all.wav", true}, {true, "a.wav", false}};
    for (const Case& c : cases) {
        for (int row : {0, 1}) {
            host.volume[row] = "95.50%";
            host.output[row] = "earlier.mp3";
        }
        RunRequest request{entries, wav, 1, c.merged, false};
        RunPlan plan;
        EXPECT_EQ(session->PlanRun(
                      request, host, host, [&] { return dir.file(c.target); }, plan),
                  c.starts)
            << c.target;
        for (int row : {0, 1}) {
            if (c.starts) {
                EXPECT_EQ(host.volume[row], "") << c.target;
                EXPECT_EQ(host.output[row], "") << c.target;
            } else {
                EXPECT_NE(host.output[row], "earlier.mp3") << c.target;
                EXPECT_NE(host.output[row], "") << c.target;
            }
        }
    }
}

}  // namespace
