// Adding files and folders: folder search order, the hidden-file rule, the
// extension filter and shortcuts, and the batch step with its closing
// message, cancel and counts.
#include "engine/AddFiles.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A shell link whose local path is `target`, as a link made for this
// program holds it.
std::vector<uint8_t> LinkTo(const std::string& target) {
    static const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    std::vector<uint8_t> v;
    PutLe32(v, 0x4C);
    v.insert(v.end(), clsid, clsid + 16);
    PutLe32(v, 0x02);  // HasLinkInfo
    v.resize(0x4C, 0);
    const uint32_t base = 0x1C + 0x11;
    const uint32_t suffix = base + static_cast<uint32_t>(target.size()) + 1;
    PutLe32(v, suffix + 1);  // LinkInfoSize
    PutLe32(v, 0x1C);
    PutLe32(v, 0x01);
    PutLe32(v, 0x1C);  // VolumeID
    PutLe32(v, base);
    PutLe32(v, 0);
    PutLe32(v, suffix);
    PutLe32(v, 0x11);
    PutLe32(v, 3);
    PutLe32(v, 0);
    PutLe32(v, 0x10);
    v.push_back(0);
    v.insert(v.end(), target.begin(), target.end());
    v.push_back(0);
    v.push_back(0);
    PutLe32(v, 0);
    return v;
}

// A short mono 16-bit PCM WAV file.
void MakeWav(const std::string& path) { WriteWav(path, 8000, 1, Sine(8000, 1, 8000, 440.0)); }

void MakeDirs(const std::string& path) { fs::create_directories(path); }

class FakeList : public IFileList {
public:
    int AppendRow(const FileEntry& e) override {
        paths.push_back(e.Path);
        return static_cast<int>(paths.size());
    }
    std::vector<std::string> paths;
};

}  // namespace

// ---------------------------------------------------------------------------
// Folder search

class FolderSearch : public ::testing::Test {
protected:
    TempDir dir;
    CSettings settings{std::string_view{}};
    std::vector<std::string> found;
    std::string Root() const { return dir.file("root"); }
};

TEST_F(FolderSearch, OuterFolderFirstThenEachSubfolderDepthFirstByName) {
    const std::string r = Root();
    for (const char* d : {"/sub2", "/sub1/deeper", "/.hidden"}) MakeDirs(r + d);
    for (const char* f :
         {"/z.wav", "/a.wav", "/sub2/e.wav", "/sub1/deeper/d.wav", "/sub1/c.wav", "/.hidden/h.wav"})
        WriteFile(r + f, "x");

    EXPECT_EQ(BuildFolderList(r), (std::vector<std::string>{r, r + "/.hidden", r + "/sub1",
                                                            r + "/sub1/deeper", r + "/sub2"}));
    SearchFolder(r, settings, found);
    EXPECT_EQ(found, (std::vector<std::string>{r + "/a.wav", r + "/z.wav", r + "/.hidden/h.wav",
                                               r + "/sub1/c.wav", r + "/sub1/deeper/d.wav",
                                               r + "/sub2/e.wav"}));

    // A folder given with a trailing slash yields the same paths.
    std::vector<std::string> again;
    SearchFolder(r + "/", settings, again);
    EXPECT_EQ(again, found);
}

TEST_F(FolderSearch, LinkCyclesEndSpecialFilesAndUnreadableFoldersAreSkipped) {
    const std::string r = Root();
    MakeDirs(r + "/a/b");
    MakeDirs(dir.file("outside"));
    WriteFile(r + "/a/b/deep.wav", "x");
    WriteFile(dir.file("outside/o.wav"), "x");
    ASSERT_EQ(symlink(r.c_str(), (r + "/a/b/loop").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("outside").c_str(), (r + "/a/out").c_str()), 0);
    ASSERT_EQ(mkfifo((r + "/a/pipe.wav").c_str(), 0600), 0);
    MakeDirs(r + "/closed");
    WriteFile(r + "/closed/secret.wav", "x");
    WriteFile(r + "/z.wav", "x");
    chmod((r + "/closed").c_str(), 0);

    SearchFolder(r, settings, found);
    chmod((r + "/closed").c_str(), 0700);

    std::vector<std::string> expected{r + "/z.wav", r + "/a/b/deep.wav", r + "/a/out/o.wav"};
    if (geteuid() == 0)  // permissions do not stop the superuser
        expected.push_back(r + "/closed/secret.wav");
    EXPECT_EQ(found, expected);

    // A folder that is gone by the time it is searched yields nothing.
    found.clear();
    SearchFolder(dir.file("vanished"), settings, found);
    EXPECT_TRUE(found.empty());
}

TEST_F(FolderSearch, HiddenFilesAreSkippedButAHiddenShortcutAddsItsTarget) {
    const std::string r = Root();
    MakeDirs(r);
    MakeDirs(dir.file("music"));
    WriteFile(dir.file("music/song.wav"), "x");
    WriteFile(r + "/.secret.wav", "x");
    WriteFile(r + "/.x.lnk", LinkTo(dir.file("music/song.wav")));
    WriteFile(r + "/plain.wav", "x");

    settings.DoNotLoadHiddenFiles = 1;
    SearchFolder(r, settings, found);
    EXPECT_EQ(found, (std::vector<std::string>{dir.file("music/song.wav"), r + "/plain.wav"}));

    // With the rule off, hidden files and the shortcut itself are listed.
    settings.DoNotLoadHiddenFiles = 0;
    found.clear();
    SearchFolder(r, settings, found);
    EXPECT_EQ(found,
              (std::vector<std::string>{r + "/.secret.wav", r + "/.x.lnk", r + "/plain.wav"}));
}

TEST_F(FolderSearch, ExtensionFilterFollowsShortcutsItWouldDrop) {
    const std::string r = Root();
    MakeDirs(r);
    MakeDirs(dir.file("elsewhere"));
    WriteFile(dir.file("elsewhere/y.wav"), "x");
    for (const char* f : {"/song.MP3", "/notes.txt", "/readme", "/clip.Wav"}) WriteFile(r + f, "x");
    WriteFile(r + "/x.lnk", LinkTo(dir.file("elsewhere/y.wav")));
    WriteFile(r + "/dead.lnk", LinkTo(dir.file("elsewhere/none.wav")));
    WriteFile(r + "/broken.lnk", "not a link");

    settings.EnableExtFilter = 1;
    settings.FilterExts = "wav, mp3";
    RebuildFilterList(settings);
    SearchFolder(r, settings, found);
    EXPECT_EQ(found, (std::vector<std::string>{r + "/clip.Wav", r + "/song.MP3",
                                               dir.file("elsewhere/y.wav")}));

    EXPECT_TRUE(PassesExtensionFilter(settings, "/m/a.WAV"));
    EXPECT_FALSE(PassesExtensionFilter(settings, "/m.wav/noext"));
    EXPECT_FALSE(PassesExtensionFilter(settings, "/m/a.wav.txt"));
    EXPECT_FALSE(PassesExtensionFilter(settings, "/m/a."));
    settings.EnableExtFilter = 0;
    EXPECT_TRUE(PassesExtensionFilter(settings, "/m/readme"));
}

TEST_F(FolderSearch, ShortcutChainsAreBoundedAndCyclesEnd) {
    const std::string r = Root();
    MakeDirs(r);
    WriteFile(r + "/target.wav", "x");
    settings.EnableExtFilter = 1;
    settings.FilterExts = "wav";
    RebuildFilterList(settings);

    // A chain of three shortcuts reaches its file.
    WriteFile(r + "/c3.lnk", LinkTo(r + "/target.wav"));
    WriteFile(r + "/c2.lnk", LinkTo(r + "/c3.lnk"));
    WriteFile(r + "/c1.lnk", LinkTo(r + "/c2.lnk"));
    EXPECT_TRUE(AcceptPath(settings, r + "/c1.lnk", found));

    // Two shortcuts pointing at each other are dropped.
    WriteFile(r + "/p.lnk", LinkTo(r + "/q.lnk"));
    WriteFile(r + "/q.lnk", LinkTo(r + "/p.lnk"));
    EXPECT_FALSE(AcceptPath(settings, r + "/p.lnk", found));

    // Longer chains than the limit are dropped.
    std::string next = r + "/target.wav";
    for (int i = 0; i <= kMaxShortcutChain; ++i) {
        std::string link = r + "/long" + std::to_string(i) + ".lnk";
        WriteFile(link, LinkTo(next));
        next = link;
    }
    EXPECT_FALSE(AcceptPath(settings, next, found));
    EXPECT_EQ(found, (std::vector<std::string>{r + "/target.wav"}));
}

TEST_F(FolderSearch, DroppedItemsInOrderFoldersSearched) {
    MakeDirs(dir.file("f"));
    WriteFile(dir.file("f/in.wav"), "x");
    WriteFile(dir.file("single.mp3"), "x");
    CollectDroppedPaths({dir.file("single.mp3"), dir.file("f")}, settings, found);
    EXPECT_EQ(found, (std::vector<std::string>{dir.file("single.mp3"), dir.file("f/in.wav")}));
}

TEST_F(FolderSearch, EachCollectedPathRemembersTheFolderItWasAddedThrough) {
    MakeDirs(dir.file("f/sub"));
    MakeDirs(dir.file("g"));
    WriteFile(dir.file("f/sub/in.wav"), "x");
    WriteFile(dir.file("f/top.wav"), "x");
    WriteFile(dir.file("g/other.wav"), "x");
    WriteFile(dir.file("single.mp3"), "x");
    std::vector<std::string> roots;
    ASSERT_TRUE(CollectDroppedPaths({dir.file("f"), dir.file("single.mp3"), dir.file("g")},
                                    settings, found, nullptr, &roots));
    EXPECT_EQ(found, (std::vector<std::string>{dir.file("f/top.wav"), dir.file("f/sub/in.wav"),
                                               dir.file("single.mp3"), dir.file("g/other.wav")}));
    // A file named directly has none.
    EXPECT_EQ(roots,
              (std::vector<std::string>{dir.file("f"), dir.file("f"), "", dir.file("g")}));

    // Paths already collected without roots get empty ones; a search that
    // is cancelled still gives what it appended its folder.
    std::vector<std::string> more{"earlier.wav"};
    std::vector<std::string> moreRoots;
    CRecordingProgress cancelAtOnce;
    cancelAtOnce.cancelAfterChecks = 2;
    EXPECT_FALSE(
        SearchFolder(dir.file("f"), settings, more, &cancelAtOnce, nullptr, &moreRoots));
    ASSERT_EQ(moreRoots.size(), more.size());
    EXPECT_EQ(moreRoots[0], "");
    for (size_t i = 1; i < more.size(); ++i) EXPECT_EQ(moreRoots[i], dir.file("f"));
}

// ---------------------------------------------------------------------------
// The batch step

class AddBatch : public ::testing::Test {
protected:
    TempDir dir;
    CTestReaderServices services;
    std::map<std::string, FileEntry> pathMap;
    FakeList list;
    CRecordingProgress progress;

    AddPathListResult Add(const std::vector<std::string>& paths) {
        return AddPathList(services, pathMap, list, paths, &progress);
    }
};

TEST_F(AddBatch, AddsEachReadableFileOnceWithProgressTexts) {
    std::vector<std::string> paths{dir.file("a.wav"), dir.file("what?.wav"), dir.file("c.wav")};
    for (const auto& p : paths) MakeWav(p);

    AddPathListResult r = Add(paths);
    EXPECT_EQ(r.added, 3);
    EXPECT_EQ(r.failed, 0);
    EXPECT_EQ(r.processed, 3);
    EXPECT_FALSE(r.cancelled);
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(list.paths, paths);
    ASSERT_EQ(pathMap.size(), 3u);
    for (const auto& [key, entry] : pathMap) {
        EXPECT_EQ(entry.SampleRate, 8000);
        EXPECT_EQ(entry.Channels, 1);
        EXPECT_EQ(entry.Duration, 1);
    }
    EXPECT_EQ(progress.fileTexts, (std::vector<std::string>{"[1/3] 正在添加文件 a.wav..",
                                                            "[2/3] 正在添加文件 what?.wav..",
                                                            "[3/3] 正在添加文件 c.wav.."}));
    EXPECT_EQ(progress.lastPosition, 3u);
    EXPECT_EQ(progress.lastTotal, 3u);

    // Listed paths are ignored silently; a null progress window is fine.
    r = AddPathList(services, pathMap, list, {paths[1], paths[0]}, nullptr);
    EXPECT_EQ(r.added, 0);
    EXPECT_EQ(r.listed, 2);
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(list.paths.size(), 3u);
}

TEST_F(AddBatch, NewEntriesTakeTheirAddedRootAListedOneKeepsItsOwn) {
    MakeDirs(dir.file("m/a"));
    const std::vector<std::string> paths{dir.file("m/a/one.wav"), dir.file("two.wav")};
    for (const auto& p : paths) MakeWav(p);
    const std::vector<std::string> roots{dir.file("m"), ""};
    AddPathListResult r = AddPathList(services, pathMap, list, paths, nullptr, &roots);
    EXPECT_EQ(r.added, 2);
    ASSERT_EQ(pathMap.size(), 2u);
    EXPECT_EQ(pathMap.at(PathMapKey(paths[0])).AddedRoot, dir.file("m"));
    EXPECT_EQ(pathMap.at(PathMapKey(paths[1])).AddedRoot, "");

    // Added again through another folder: the first entry stays as it was.
    const std::vector<std::string> again{dir.file("m/a")};
    r = AddPathList(services, pathMap, list, {paths[0]}, nullptr, &again);
    EXPECT_EQ(r.listed, 1);
    EXPECT_EQ(pathMap.at(PathMapKey(paths[0])).AddedRoot, dir.file("m"));
}

TEST_F(AddBatch, ManyFailuresListThirtyPathsThenMoreFiles) {
    std::vector<std::string> paths;
    for (int i = 0; i < 35; ++i) {
        paths.push_back(dir.file("bad" + std::to_string(i) + ".xyz"));
        WriteFile(paths.back(), "no audio here");
    }
    AddPathListResult r = Add(paths);
    EXPECT_EQ(r.failed, 35);
    EXPECT_EQ(r.added, 0);
    std::string expected = "无法载入以下文件.\n\n";
    for (int i = 0; i < 30; ++i) expected += paths[static_cast<size_t>(i)] + "\n";
    expected += "<more files>...\n";
    expected += "\n要获取帮助, 请发送失败文件到 <support@quelvox.org>.";
    EXPECT_EQ(r.message.Source(), expected);
}

TEST_F(AddBatch, CancelStopsAfterTheFileInHand) {
    std::vector<std::string> paths;
    for (int i = 0; i < 10; ++i) {
        paths.push_back(dir.file("f" + std::to_string(i) + ".wav"));
        MakeWav(paths.back());
    }
    // The request arrives while the fifth file is being added.
    progress.cancelAfterTexts = 5;
    AddPathListResult r = Add(paths);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.processed, 5);
    EXPECT_EQ(r.added, 5);
    EXPECT_EQ(list.paths, std::vector<std::string>(paths.begin(), paths.begin() + 5));
    EXPECT_EQ(progress.fileTexts.size(), 5u);
}

TEST_F(AddBatch, ClosingNoteNamesTheCauseWhereKnown) {
    MakeWav(dir.file("good.wav"));
    WriteFile(dir.file("Track01.cda"), "RIFF....CDDAfmt ");
    AddPathListResult r = Add({dir.file("Track01.cda"), dir.file("good.wav")});
    EXPECT_EQ(r.added, 1);
    EXPECT_EQ(r.message.Source(), "无法载入以下文件.\n\n" + dir.file("Track01.cda") +
                             "\n\n重要: 请不要添加硬盘中的 CDA 文件, 只能添加CD 驱动器的CDA 文件.");

    // A name that is not valid UTF-8 is not opened, and the note asks for
    // the name to be changed; a real file under that name stays untouched.
    const std::string odd = dir.file("bad\xFF\xFEname.wav");
    MakeWav(odd);
    r = Add({odd, dir.file("Track01.cda")});
    EXPECT_EQ(r.failed, 2);
    EXPECT_EQ(progress.fileTexts.at(2), "[1/2] 正在添加文件 bad\xEF\xBF\xBD\xEF\xBF\xBDname.wav..");
    // Each note stands after the files it concerns: the CD track keeps its
    // own cause instead of being blamed on the odd name.
    EXPECT_EQ(r.message.Source(),
              "无法载入以下文件.\n\n" + dir.file("bad\xEF\xBF\xBD\xEF\xBF\xBDname.wav") +
                  "\n\n有些文件的文件名含有非英文字符. 请删除文件名的这些字符然后再次尝试." +
                  "\n\n" + dir.file("Track01.cda") +
                  "\n\n重要: 请不要添加硬盘中的 CDA 文件, 只能添加CD 驱动器的CDA 文件.");
    EXPECT_EQ(list.paths.size(), 1u);
}

TEST_F(AddBatch, FailuresAreGroupedUnderTheCauseThatConcernsThem) {
    WriteFile(dir.file("one.xyz"), "no audio here");
    WriteFile(dir.file("two.xyz"), "no audio here");
    WriteFile(dir.file("Track01.cda"), "RIFF....CDDAfmt ");
    AddPathListResult r = Add({dir.file("one.xyz"), dir.file("Track01.cda"), dir.file("two.xyz")});
    EXPECT_EQ(r.failed, 3);
    EXPECT_EQ(r.message.Source(), "无法载入以下文件.\n\n" + dir.file("one.xyz") + "\n" +
                             dir.file("two.xyz") + "\n\n" + AddFailureSupportNote() + "\n\n" +
                             dir.file("Track01.cda") +
                             "\n\n重要: 请不要添加硬盘中的 CDA 文件, 只能添加CD 驱动器的CDA 文件.");
}

// Records, at every file's text, how many rows the list had; the rows
// arrive in groups (AppendRows) while the batch goes on.
class CountingProgress : public CRecordingProgress {
public:
    explicit CountingProgress(const FakeList& list) : list_(list) {}
    void SetFileText(const quelvox::Text& text) override {
        CRecordingProgress::SetFileText(text);
        rowsAtPump.push_back(list_.paths.size());
    }
    std::vector<size_t> rowsAtPump;

private:
    const FakeList& list_;
};

TEST_F(AddBatch, ManyFilesAreListedInOrderWhileTheBatchGoesOnAndACancelKeepsThemWhole) {
    std::vector<std::string> paths;
    for (int i = 0; i < 1200; ++i) {
        // Names out of order: the list keeps the order it was given.
        paths.push_back(dir.file("f" + std::to_string((i * 7) % 1200) + ".wav"));
        MakeWav(paths.back());
    }
    CountingProgress counting(list);
    AddPathListResult r = AddPathList(services, pathMap, list, paths, &counting);
    EXPECT_EQ(r.added, 1200);
    EXPECT_EQ(list.paths, paths);
    EXPECT_TRUE(std::any_of(counting.rowsAtPump.begin(), counting.rowsAtPump.end(),
                            [](size_t rows) { return rows > 0 && rows < 1200; }));

    // Cancelled after 700 files, on two workers: exactly those are listed,
    // each with its entry.
    pathMap.clear();
    list.paths.clear();
    CRecordingProgress stopping;
    stopping.cancelAfterTexts = 700;
    r = AddPathList(services, pathMap, list, paths, &stopping, nullptr, 2);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.added, 700);
    EXPECT_EQ(list.paths, std::vector<std::string>(paths.begin(), paths.begin() + 700));
    EXPECT_EQ(pathMap.size(), 700u);
    for (const std::string& path : list.paths) EXPECT_EQ(pathMap.count(PathMapKey(path)), 1u);
}
