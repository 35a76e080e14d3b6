#include "engine/Preprocess.h"

#include "engine/ReaderFactory.h"
#include "engine/ConversionContext.h"
#include "common/FileEntry.h"
#include "platform/bass/BassRuntime.h"
#include "settings/Settings.h"
#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <vector>

namespace quelvox {
namespace {

using testsupport::PassFixture;
using testsupport::WavBytes;

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

// ---- Pre-processing pass over real files ----

// Points TMPDIR at a scratch folder for the life of the object.
class ScopedTmpDir {
public:
    explicit ScopedTmpDir(const fs::path& dir) {
        const char* old = std::getenv("TMPDIR");
        if (old) saved_ = old;
        had_ = old != nullptr;
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~ScopedTmpDir() {
        if (had_)
            ::setenv("TMPDIR", saved_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    std::string saved_;
    bool had_ = false;
};

size_t CountFiles(const fs::path& dir) {
    size_t n = 0;
    for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
    return n;
}

TEST(PreprocessDts, CopiesTheSamplesUnchangedIntoATemporaryFile) {
    TempDir src, tmp;
    ScopedTmpDir scoped(tmp.path());
    PassFixture f;
    // Stereo samples standing for a bit stream: every value must survive.
    std::vector<int16_t> samples(2 * 3000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(i * 7919 % 65536 - 32768);
    const std::vector<uint8_t> wav = WavBytes(44100, 2, samples);
    f.entry.Path = src.file("music.dts");
    f.entry.InputType = 2000;
    f.entry.OutputPath = "/out/music.mp3";
    testsupport::WriteFile(f.entry.Path, wav);
    f.ctx.currentEntry = &f.entry;
    FileEntry record = f.entry;
    int audioFound = 1;
    ASSERT_EQ(PreprocessDts(f.ctx, record, audioFound), 1);
    EXPECT_EQ(fs::path(record.OutputPath).parent_path(), tmp.path());
    EXPECT_EQ(fs::path(record.OutputPath).extension(), ".dts");
    const std::vector<uint8_t> raw = testsupport::ReadFile(record.OutputPath);
    EXPECT_EQ(raw, std::vector<uint8_t>(wav.begin() + 44, wav.end()));
    EXPECT_EQ(f.progress.fileTexts.front(), "[0%] 正在预处理 music.dts...");
    EXPECT_EQ(f.progress.fileTexts.back(), "[100%] 正在预处理 music.dts...");
    EXPECT_EQ(f.progress.pumps, 3);  // every block
    fs::remove(record.OutputPath);
}

TEST(PreprocessDts, FailuresAndCancelLeaveNoTemporaryFile) {
    TempDir src, tmp;
    ScopedTmpDir scoped(tmp.path());
    const std::string path = src.file("music.dts");
    testsupport::WriteFile(path, WavBytes(44100, 1, std::vector<int16_t>(5000, 123)));
    {
        PassFixture f;
        f.progress.cancelAfterPumps = 1;
        FileEntry record;
        record.Path = path;
        record.InputType = 2000;
        record.OutputPath = "kept";
        int audioFound = 1;
        EXPECT_EQ(PreprocessDts(f.ctx, record, audioFound), 0);
        EXPECT_TRUE(f.progress.IsCancelled());
        EXPECT_EQ(record.OutputPath, "kept");
    }
    {
        // No samples at all.
        PassFixture f;
        const std::string empty = src.file("empty.dts");
        testsupport::WriteFile(empty, WavBytes(44100, 2, {}));
        FileEntry record;
        record.Path = empty;
        record.InputType = 2000;
        int audioFound = 1;
        EXPECT_EQ(PreprocessDts(f.ctx, record, audioFound), 0);
        EXPECT_TRUE(record.OutputPath.empty());
    }
    {
        PassFixture f;
        FileEntry record;
        record.Path = src.file("missing.dts");
        record.InputType = 2000;
        int audioFound = 1;
        EXPECT_EQ(PreprocessDts(f.ctx, record, audioFound), 0);
    }
    EXPECT_EQ(CountFiles(tmp.path()), 0u);
    EXPECT_EQ(testsupport::ReadFile(path).size(), 44u + 10000u);  // source untouched
}

}  // namespace
}  // namespace quelvox
