// Sources that change after they were listed: cut short while they are
// read, cut to their header, deleted, or replaced by a folder. Each is
// converted with what it holds and says so, or fails with what happened.
#include "engine/ConvertFile.h"

#include "engine/Texts.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A progress sink that, once pumped `at` times (once per block read),
// changes the source: the conversion is then in the middle of reading it.
class CChangingProgress : public CRecordingProgress {
public:
    void Pump() override {
        CRecordingProgress::Pump();
        if (pumps == at && change) change();
    }
    int at = -1;
    std::function<void()> change;
};

struct ChangingFixture : ConversionFixture {
    CChangingProgress changing;
    ConversionContext changingCtx{settings, state, changing, services, &services.wmaFormats};

    FileResult Convert(const std::string& path, const std::string& out) {
        entry = FileEntry{};
        entry.Path = path;
        entry.InputType = InputTypeOf(path);
        entry.OutputPath = out;
        changingCtx.currentEntry = &entry;
        changingCtx.currentIndex = 1;
        changingCtx.pass = PassNotes{};
        return ConvertFile(changingCtx, entry, Format(kFormatWav), measure);
    }
};

class ChangedSourceTest : public ::testing::Test, protected ChangingFixture {
protected:
    TempDir dir;
};

}  // namespace

TEST_F(ChangedSourceTest, ConvertsWhatIsLeftWithANoteOrFailsSayingWhatHappened) {
    enum class Change { CutWhileRead, CutToHeader, Delete, Folder };
    struct Case {
        const char* source;
        Change change;
        bool ok;
        const char* detail;  // the failure's reason
    };
    const Case cases[] = {
        {"cut.flac", Change::CutWhileRead, true, nullptr},
        {"cut.wav", Change::CutWhileRead, true, nullptr},
        {"header.wav", Change::CutToHeader, false, kNothingDecodedDetail},
        {"gone.flac", Change::Delete, false, kSourceNotFoundDetail},
        {"folder.wav", Change::Folder, false, kSourceIsFolderDetail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const std::string path = dir.file(c.source);
        const std::string out = dir.file(std::string(c.source) + ".out.wav");
        // 20 s: far longer than what any reader holds in its buffers.
        Shell("sox -n -r 44100 -c 2 -b 16 " + Quote(path) + " synth 20 sine 440 vol 0.5");
        changing.pumps = 0;
        changing.at = -1;
        changing.change = nullptr;
        switch (c.change) {
            case Change::CutWhileRead:
                changing.at = 20;
                changing.change = [&path] { fs::resize_file(path, 1000); };
                break;
            case Change::CutToHeader: fs::resize_file(path, 44); break;
            case Change::Delete: fs::remove(path); break;
            case Change::Folder:
                fs::remove(path);
                fs::create_directory(path);
                break;
        }
        const FileResult r = Convert(path, out);
        EXPECT_EQ(r.ok, c.ok) << r.findings.errorDetail.Source();
        EXPECT_TRUE(r.audioFound);
        if (c.ok) {
            // The source's header claimed 20 s; far less was there.
            EXPECT_EQ(r.findings.claimedSeconds, 20.0);
            EXPECT_GE(r.findings.heldSeconds, 0.0);
            EXPECT_LT(r.findings.heldSeconds, 10.0);
            EXPECT_NEAR(ProbeNumber(out, "duration", true), r.findings.heldSeconds, 0.05);
        } else {
            EXPECT_TRUE(r.findings.errorDetail.Is(c.detail)) << r.findings.errorDetail.Source();
            EXPECT_FALSE(fs::exists(out));
        }
    }
}
