#include "engine/Preprocess.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace quelvox {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

TEST(MakeTempFileName, ReservesDistinctPrivateNames) {
    TempDir dir;
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        std::string name;
        ASSERT_EQ(MakeTempFileName(dir.path().string(), "pre", ".dts", name), 1);
        EXPECT_EQ(fs::path(name).parent_path(), dir.path());
        EXPECT_EQ(fs::path(name).filename().string().rfind("pre", 0), 0u);
        EXPECT_EQ(fs::path(name).extension(), ".dts");
        // The name is taken at once, empty and readable by the owner only.
        struct stat st {};
        ASSERT_EQ(::stat(name.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 50u);
}

TEST(MakeTempFileName, DefaultsToTheSystemTemporaryFolder) {
    TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    std::string name;
    const int ok = MakeTempFileName("", "", ".dts", name);
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(fs::path(name).parent_path(), dir.path());
}

TEST(MakeTempFileName, FailsWhereNothingCanBeCreated) {
    TempDir dir;
    testsupport::WriteFile(dir.file("plain"), "x");
    std::string name = "unchanged";
    EXPECT_EQ(MakeTempFileName(dir.file("plain"), "", ".dts", name), 0);
    EXPECT_EQ(MakeTempFileName(dir.file("missing"), "", ".dts", name), 0);
    EXPECT_EQ(name, "unchanged");
}

}  // namespace
}  // namespace quelvox
