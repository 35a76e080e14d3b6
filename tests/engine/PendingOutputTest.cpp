// The final move of a finished output: how each commit mode treats a file
// that took the target's name after it was chosen, and short temporary
// names for long targets, and the removal of leftover temporary files.
#include "engine/PendingOutput.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PendingOutput, ANameTakenMeanwhileIsKeptOrNumberedUnlessOverwriting) {
    struct Case {
        CommitMode mode;
        bool ok;
        const char* finalName;   // where the new content ends up
        const char* takenAfter;  // content of x.mp3 afterwards
    };
    const Case cases[] = {
        {CommitMode::Replace, true, "x.mp3", "new"},
        {CommitMode::KeepExisting, false, nullptr, "other"},
        {CommitMode::NextFreeName, true, "x_2.mp3", "other"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        CPendingOutput out;
        const std::string temp = out.Begin(dir.file("x.mp3"));
        ASSERT_FALSE(temp.empty());
        WriteFile(temp, std::string("new"));
        // Another run finishes first, under the name and the next number.
        WriteFile(dir.file("x.mp3"), std::string("other"));
        WriteFile(dir.file("x_1.mp3"), std::string("other 1"));
        EXPECT_EQ(out.Commit(c.mode), c.ok);
        const auto taken = ReadFile(dir.file("x.mp3"));
        EXPECT_EQ(std::string(taken.begin(), taken.end()), c.takenAfter);
        const auto one = ReadFile(dir.file("x_1.mp3"));
        EXPECT_EQ(std::string(one.begin(), one.end()), "other 1");
        if (c.ok) {
            EXPECT_EQ(out.Target(), dir.file(c.finalName));
            const auto moved = ReadFile(out.Target());
            EXPECT_EQ(std::string(moved.begin(), moved.end()), "new");
        } else {
            EXPECT_EQ(out.Error(), "目标存在并跳过");
        }
        // No temporary file stays behind either way.
        for (const std::string& name : Names(dir))
            EXPECT_EQ(name.find(".part-"), std::string::npos);
    }
}

// The folder becomes read-only while the output is written: neither
// abandoning nor a failed commit can remove the temporary file, and both
// name it. The folder is made read-only by a read-only bind mount over it,
// in a mount namespace of a child process.
TEST(PendingOutput, ATemporaryFileThatCannotBeRemovedIsNamed) {
    if (testsupport::Run("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "no mount namespaces here";
    for (const bool commit : {false, true}) {
        SCOPED_TRACE(commit ? "commit" : "abandon");
        TempDir dir;
        const std::string folder = dir.path().string();
        EXPECT_EXIT(
            {
                if (::unshare(CLONE_NEWNS) != 0 ||
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                    std::_Exit(9);
                CPendingOutput output;
                const std::string temp = output.Begin(dir.file("x.mp3"));
                WriteFile(temp, std::string("finished audio"));
                if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                    ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                            nullptr) != 0)
                    std::_Exit(9);
                if (commit ? output.Commit() : (output.Abandon(), false)) std::_Exit(2);
                std::_Exit(output.Unremoved() == temp && fs::exists(temp) ? 0 : 3);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

TEST(PendingOutput, TemporaryNamesStayShortForTheLongestTargetNames) {
    TempDir dir;
    const std::string name(251, 'n');
    CPendingOutput out;
    const std::string temp = out.Begin(dir.file(name + ".wav"));
    ASSERT_FALSE(temp.empty());
    EXPECT_LT(fs::path(temp).filename().string().size(), 40u);
    WriteFile(temp, std::string("pcm"));
    ASSERT_TRUE(out.Commit(CommitMode::NextFreeName));
    EXPECT_TRUE(fs::exists(dir.file(name + ".wav")));
    EXPECT_EQ(Names(dir).size(), 1u);
}

TEST(PendingOutput, LeftoversNobodyHoldsAreRemovedAndHeldOnesKept) {
    TempDir dir;
    const std::string stale = ".quelvox.part-00000000000000aa";
    WriteFile(dir.file(stale), std::string("killed run"));
    // Held by someone else (a lock of its own open file).
    const std::string held = ".quelvox.part-00000000000000bb";
    WriteFile(dir.file(held), std::string("running elsewhere"));
    const int fd = ::open(dir.file(held).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    // Not temporary files of ours.
    WriteFile(dir.file(".hidden"), std::string("keep"));
    fs::create_directory(dir.file(".quelvox.part-folder"));

    // A conversion in progress in the folder, and a second one starting.
    CPendingOutput running;
    const std::string runningTemp = running.Begin(dir.file("a.mp3"));
    ASSERT_FALSE(runningTemp.empty());
    CLeftoverSweep sweep;
    CPendingOutput starting;
    const std::string startingTemp = starting.Begin(dir.file("b.mp3"), &sweep);
    ASSERT_FALSE(startingTemp.empty());
    std::vector<std::string> expected{".hidden", ".quelvox.part-folder", held,
                                      fs::path(runningTemp).filename(),
                                      fs::path(startingTemp).filename()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir), expected);

    // Once the lock is gone the file is a leftover too; a run's sweep
    // clears a folder once, a sweep on its own every time.
    ::close(fd);
    CPendingOutput later;
    ASSERT_FALSE(later.Begin(dir.file("c.mp3"), &sweep).empty());
    EXPECT_TRUE(fs::exists(dir.file(held)));
    EXPECT_EQ(RemoveLeftoverTemporaries(dir.path().string()), 1);
    EXPECT_FALSE(fs::exists(dir.file(held)));
    EXPECT_TRUE(fs::exists(runningTemp));
    EXPECT_TRUE(fs::exists(startingTemp));
    running.Abandon();
    EXPECT_EQ(RemoveLeftoverTemporaries(dir.path().string()), 0);
}

// The end of a process is for good, so it is tried in a child process; the
// child's exit code tells the first step that went wrong.
TEST(PendingOutput, AnAbruptExitRemovesWhatIsBeingWrittenAndStartsNothingNew) {
    TempDir dir;
    EXPECT_EXIT(
        {
            CPendingOutput committed;
            if (committed.Begin(dir.file("done.mp3")).empty() ||
                !committed.Commit(CommitMode::NextFreeName))
                std::_Exit(2);
            CPendingOutput writing;
            const std::string temp = writing.Begin(dir.file("half.mp3"));
            if (temp.empty()) std::_Exit(3);
            WriteFile(temp, std::string("half of it"));
            if (RemoveUnfinishedTemporaries() != 1) std::_Exit(4);
            // The conversion that was cut off cannot commit a file that is
            // gone, and a conversion starting now makes no file at all.
            if (writing.Commit(CommitMode::NextFreeName)) std::_Exit(5);
            CPendingOutput late;
            if (!late.Begin(dir.file("late.mp3")).empty() || late.Error().empty()) std::_Exit(6);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(Names(dir), std::vector<std::string>({"done.mp3"}));
}

}  // namespace
