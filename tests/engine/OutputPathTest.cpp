#include "engine/OutputPath.h"

#include "common/FileEntry.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

namespace quelvox {
namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

CSettings NextToSource(int targetExists = 11) {
    CSettings s{std::string_view{}};
    s.DestOutputFolderOpt = 199;
    s.DestSpecifiedFolder.clear();
    s.CreateDirs = 0;
    s.TargetExistsOpt = targetExists;
    s.OutputFiles2MyDocuments = 0;
    return s;
}

// A kept tree here is the source's whole path, as these tests were
// written for; the tree from the added folder has its own tests.
CSettings InFolder(const std::string& folder, bool keepTree = false) {
    CSettings s = NextToSource();
    s.DestOutputFolderOpt = 399;
    s.DestSpecifiedFolder = folder;
    s.CreateDirs = keepTree ? 1 : 0;
    s.CreateDirsFrom = kTreeFromWholePath;
    return s;
}

CSettings TreeFromAdded(const std::string& folder) {
    CSettings s = InFolder(folder, true);
    s.CreateDirsFrom = kTreeFromAddedFolder;
    return s;
}

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

struct Outcome {
    bool ok;
    std::string path;
    quelvox::Text message;
};

Outcome Resolve(const CSettings& s, const std::string& source, const std::string& ext,
                const std::string& addedRoot = std::string()) {
    FileEntry e;
    e.Path = source;
    e.AddedRoot = addedRoot;
    Outcome o;
    o.ok = ResolveOutputPath(s, e, ext, o.message);
    o.path = e.OutputPath;
    return o;
}

// Points HOME (and the XDG user-dirs lookup) at a scratch folder for the
// life of the object, so that the documents folder is HOME/Documents.
class ScopedHome {
public:
    explicit ScopedHome(const fs::path& home) {
        Save("HOME");
        Save("XDG_CONFIG_HOME");
        Save("XDG_DOCUMENTS_DIR");
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        ::unsetenv("XDG_DOCUMENTS_DIR");
    }
    ~ScopedHome() {
        for (auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    void Save(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ResolveOutputPathNaming, NextToTheSource) {
    TempDir dir;
    const std::string src = dir.file("song.wav");
    WriteFile(src, "RIFF");
    Outcome o = Resolve(NextToSource(), src, "mp3");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.path, dir.file("song.mp3"));
    EXPECT_FALSE(fs::exists(o.path));  // the creation test leaves nothing

    EXPECT_EQ(Resolve(NextToSource(), dir.file("track"), "wav").path, dir.file("track.wav"));
    EXPECT_EQ(Resolve(NextToSource(), dir.file("a.b.c.flac"), "mp3").path, dir.file("a.b.c.mp3"));
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"song.wav"});
}

TEST(ResolveOutputPathNaming, SpecifiedFolderIsCreatedLevelByLevel) {
    TempDir dir;
    const std::string out = dir.file("out/a/b");
    Outcome o = Resolve(InFolder(out), "/music/song.flac", "ogg");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.path, out + "/song.ogg");
    EXPECT_TRUE(fs::is_directory(out));
    // A trailing slash is not doubled.
    EXPECT_EQ(Resolve(InFolder(out + "/"), "/music/song.flac", "ogg").path, out + "/song.ogg");
}

TEST(ResolveOutputPathNaming, KeptTreePutsTheSourceFolderBelowTheChosenOne) {
    TempDir dir;
    const std::string out = dir.file("out");
    Outcome o = Resolve(InFolder(out, true), "/home/u/Music/Pop/a.mp3", "wav");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.path, out + "/home/u/Music/Pop/a.wav");
    EXPECT_TRUE(fs::is_directory(out + "/home/u/Music/Pop"));

    // Doubled slashes and dot-dot levels are reduced; nothing lands outside
    // the chosen folder.
    EXPECT_EQ(Resolve(InFolder(out, true), "//srv//share/x.mp3", "wav").path,
              out + "/srv/share/x.wav");
    EXPECT_EQ(Resolve(InFolder(out, true), "/../../etc/y.mp3", "wav").path, out + "/etc/y.wav");

    // A relative source path is taken from the current folder.
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    Outcome rel = Resolve(InFolder(out, true), "sub/z.mp3", "wav");
    fs::current_path(cwd);
    ASSERT_TRUE(rel.ok) << rel.message;
    const std::string absDir = fs::weakly_canonical(dir.path()).string();
    EXPECT_EQ(rel.path, out + absDir + "/sub/z.wav");
}

TEST(ResolveOutputPathNaming, TreeFromTheAddedFolderStartsWithThatFoldersName) {
    TempDir dir;
    const std::string out = dir.file("phone");
    const CSettings s = TreeFromAdded(out);
    Outcome o = Resolve(s, "/home/u/Music/Artist/Album/x.mp3", "ogg", "/home/u/Music");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.path, out + "/Music/Artist/Album/x.ogg");
    EXPECT_TRUE(fs::is_directory(out + "/Music/Artist/Album"));
    // A file right in the added folder, a root given with a trailing slash.
    EXPECT_EQ(Resolve(s, "/home/u/Music/y.mp3", "ogg", "/home/u/Music/").path,
              out + "/Music/y.ogg");
    // The whole file system added: no name of its own, just the folders.
    EXPECT_EQ(Resolve(s, "/srv/a/z.mp3", "ogg", "/").path, out + "/srv/a/z.ogg");

    // A relative root and source are both taken from the current folder.
    fs::create_directories(dir.file("lib/Pop"));
    const fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    Outcome rel = Resolve(s, "lib/Pop/r.mp3", "ogg", "lib");
    Outcome dot = Resolve(s, "./Pop/r.mp3", "ogg", ".");
    fs::current_path(cwd);
    EXPECT_EQ(rel.path, out + "/lib/Pop/r.ogg");
    EXPECT_EQ(dot.path, out + "/" + dir.path().filename().string() + "/Pop/r.ogg");

    // The whole path stays selectable.
    CSettings whole = TreeFromAdded(out);
    whole.CreateDirsFrom = kTreeFromWholePath;
    EXPECT_EQ(Resolve(whole, "/home/u/Music/Artist/x.mp3", "ogg", "/home/u/Music").path,
              out + "/home/u/Music/Artist/x.ogg");
    // Without the box ticked there is no tree either way.
    CSettings flat = TreeFromAdded(out);
    flat.CreateDirs = 0;
    EXPECT_EQ(Resolve(flat, "/home/u/Music/Artist/x.mp3", "ogg", "/home/u/Music").path,
              out + "/x.ogg");
}

TEST(ResolveOutputPathNaming, WithoutAnAddedFolderAboveItAFileGoesStraightIntoTheOutputFolder) {
    TempDir dir;
    const std::string out = dir.file("out");
    const CSettings s = TreeFromAdded(out);
    // Named directly: no added folder.
    EXPECT_EQ(Resolve(s, "/home/u/Music/Pop/a.mp3", "wav").path, out + "/a.wav");
    // Not below its added folder (a shortcut's target elsewhere), or below
    // a folder that only shares the start of its name: never "../" levels.
    EXPECT_EQ(Resolve(s, "/etc/b.mp3", "wav", "/home/u/Music").path, out + "/b.wav");
    EXPECT_EQ(Resolve(s, "/home/u/Music2/c.mp3", "wav", "/home/u/Music").path, out + "/c.wav");
    EXPECT_EQ(Resolve(s, "/home/u/Music/../d.mp3", "wav", "/home/u/Music").path, out + "/d.wav");
    // Dot-dot levels inside the root or the source are reduced first.
    EXPECT_EQ(Resolve(s, "/home/u/Music/x/../Pop/e.mp3", "wav", "/home/u/other/../Music").path,
              out + "/Music/Pop/e.wav");
    // Only the one tree was made, and nothing beside the output folder.
    EXPECT_EQ(Listing(out), std::set<std::string>{"Music"});
    EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"out"});
}

TEST(ResolveOutputPathExisting, NumberedNames) {
    TempDir dir;
    const std::string src = dir.file("song.mp3");
    WriteFile(src, "ID3");
    Outcome o = Resolve(NextToSource(11), src, "mp3");
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.path, dir.file("song_1.mp3"));
    WriteFile(dir.file("song_1.mp3"), "x");
    EXPECT_EQ(Resolve(NextToSource(11), src, "mp3").path, dir.file("song_2.mp3"));
    // Any value other than 22 and 33 numbers too.
    EXPECT_EQ(Resolve(NextToSource(5), src, "mp3").path, dir.file("song_2.mp3"));
}

// Names longer than a file system takes are cut at a character boundary,
// keeping the track number in front and the number and extension behind.
TEST(ResolveOutputPathNaming, LongNamesAreCutToFitTheFileSystem) {
    TempDir dir;
    const std::string out = dir.file("out");
    const std::string cjk = "\xE6\xAD\x8C";  // one three-byte character
    struct Case {
        std::string trackName;  // empty: named after the source file
        std::string sourceStem;
        std::string prefix;     // the name must start with this
    };
    std::string longCjk;
    for (int i = 0; i < 100; ++i) longCjk += cjk;
    const Case cases[] = {
        {"01 - " + std::string(300, 't'), "image", "01 - ttt"},
        {"07 - " + longCjk, "image", "07 - " + cjk},
        {"", std::string(250, 's'), "sss"},
        {"", longCjk.substr(0, 249), cjk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        FileEntry e;
        e.Path = "/music/" + c.sourceStem + ".wv";
        e.TrackName = c.trackName;
        Text message;
        for (int run = 0; run < 2; ++run) {
            ASSERT_TRUE(ResolveOutputPath(InFolder(out), e, "flac", message)) << message;
            const std::string name = fs::path(e.OutputPath).filename().string();
            EXPECT_LE(name.size(), 255u);
            EXPECT_EQ(name.rfind(c.prefix, 0), 0u);
            EXPECT_TRUE(name.ends_with(".flac"));
            // Whole characters only: the cut never splits a UTF-8 sequence.
            std::string stem = name.substr(0, name.find_last_of('.'));
            stem.erase(stem.find_last_not_of("_0123456789") + 1);
            size_t lead = stem.size() - 1;
            while (lead > 0 && (static_cast<unsigned char>(stem[lead]) & 0xC0) == 0x80) --lead;
            const auto first = static_cast<unsigned char>(stem[lead]);
            const size_t length = first < 0x80 ? 1 : first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
            EXPECT_EQ(stem.size() - lead, length);
            // The name is usable: a second output of the same name is numbered.
            WriteFile(e.OutputPath, "x");
        }
        EXPECT_TRUE(fs::path(e.OutputPath).filename().string().ends_with("_1.flac"));
    }
}

TEST(ResolveOutputPathExisting, AnotherRunCheckingTheSameNameNeverSendsOursElsewhere) {
    // A second run naming "x.flac" in the same folder creates and removes
    // that name while it checks it. Ours must still be named in the folder
    // (x.flac or x_1.flac), never be refused there.
    TempDir dir;
    const std::string src = dir.file("x.wav");
    WriteFile(src, "RIFF");
    const std::string theirs = dir.file("x.flac");
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop) {
            const int fd = ::open(theirs.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd >= 0) {
                ::close(fd);
                ::unlink(theirs.c_str());
            }
            // Far more often than real runs would, yet not a solid wall.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    for (int targetExists : {11, 22}) {
        int refused = 0;
        for (int i = 0; i < 3000; ++i) {
            const Outcome o = Resolve(NextToSource(targetExists), src, "flac");
            if (!o.ok) {
                if (++refused < 3) ADD_FAILURE() << o.message;
                continue;
            }
            EXPECT_TRUE(o.path == theirs || o.path == dir.file("x_1.flac")) << o.path;
        }
        EXPECT_EQ(refused, 0) << "TargetExistsOpt " << targetExists;
    }
    stop = true;
    other.join();
}

TEST(ResolveOutputPathExisting, AFolderOfTheNameCountsAsExisting) {
    TempDir dir;
    fs::create_directory(dir.file("song.mp3"));
    EXPECT_EQ(Resolve(NextToSource(11), dir.file("song.wav"), "mp3").path, dir.file("song_1.mp3"));
    Outcome skip = Resolve(NextToSource(33), dir.file("song.wav"), "mp3");
    EXPECT_FALSE(skip.ok);
    EXPECT_EQ(skip.message, "目标存在并跳过");
    // Overwriting a folder is impossible: the creation test fails.
    Outcome over = Resolve(NextToSource(22), dir.file("song.wav"), "mp3");
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.message, "无法创建文件 \"" + dir.file("song.mp3") + "\"");
}

TEST(ResolveOutputPathExisting, SkipNeverFallsBack) {
    TempDir dir;
    ScopedHome home(dir.path() / "home");
    WriteFile(dir.file("song.mp3"), "old");
    CSettings s = NextToSource(33);
    s.OutputFiles2MyDocuments = 1;
    Outcome o = Resolve(s, dir.file("song.wav"), "mp3");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.message, "目标存在并跳过");
    EXPECT_FALSE(fs::exists(dir.path() / "home" / "Documents" / "song.mp3"));
}

TEST(ResolveOutputPathExisting, OverwriteKeepsTheOldTargetUntilReplaced) {
    TempDir dir;
    WriteFile(dir.file("song.wav"), "RIFF");
    WriteFile(dir.file("song.mp3"), "old contents");
    Outcome o = Resolve(NextToSource(22), dir.file("song.wav"), "mp3");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.path, dir.file("song.mp3"));
    const std::vector<uint8_t> kept = ReadFile(dir.file("song.mp3"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old contents");
    // No probe file is left behind.
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"song.mp3", "song.wav"}));
}

TEST(ResolveOutputPathExisting, OverwriteRefusesTheSourceItself) {
    TempDir dir;
    const std::string src = dir.file("song.mp3");
    WriteFile(src, "source");
    const std::string refusal = "目标文件名与源文件相同, 文件不能被覆盖. 请输出文件到自定义文件夹.";
    CSettings s = NextToSource(22);
    s.OutputFiles2MyDocuments = 1;  // the refusal does not fall back
    Outcome o = Resolve(s, src, "mp3");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.message, refusal);

    // The same file reached through a linked folder is still the source.
    fs::create_directory_symlink(dir.path(), dir.file("link"));
    CSettings viaLink = InFolder(dir.file("link"));
    viaLink.TargetExistsOpt = 22;
    Outcome l = Resolve(viaLink, src, "mp3");
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.message, refusal);

    // Names differing in letter case are different files here.
    WriteFile(dir.file("Song.mp3"), "other");
    Outcome c = Resolve(NextToSource(22), dir.file("Song.wav"), "mp3");
    EXPECT_TRUE(c.ok) << c.message;
    const std::vector<uint8_t> data = ReadFile(src);
    EXPECT_EQ(std::string(data.begin(), data.end()), "source");
}

TEST(ResolveOutputPathFailures, FolderBelowARegularFileCannotBeCreated) {
    // Tests run as root, so permissions cannot make a folder unwritable; a
    // path whose parent is a regular file can never become a folder.
    TempDir dir;
    WriteFile(dir.file("plain"), "x");
    const std::string folder = dir.file("plain/out");
    Outcome o = Resolve(InFolder(folder), "/music/a.mp3", "wav");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.message, "无法创建文件夹 \"" + folder + "\"");

    // The kept tree fails the same way when one of its levels is a file.
    const std::string out = dir.file("out");
    fs::create_directories(out + "/music");
    WriteFile(out + "/music/rock", "x");
    Outcome t = Resolve(InFolder(out, true), "/music/rock/a.mp3", "wav");
    EXPECT_FALSE(t.ok);
    EXPECT_EQ(t.message, "无法创建文件夹 \"" + out + "/music/rock/\"");
}

TEST(ResolveOutputPathFailures, UncreatableFileFallsBackToDocuments) {
    // Nobody, root included, creates a file in /proc: without the fallback
    // that is the failure reported; with it, the documents folder is used.
    TempDir dir;
    ScopedHome home(dir.path() / "home");
    const std::string source = "/proc/quelvox-test-source.wav";
    Outcome o = Resolve(NextToSource(), source, "flac");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.message, "无法创建文件 \"/proc/quelvox-test-source.flac\"");

    CSettings s = NextToSource();
    s.OutputFiles2MyDocuments = 1;
    Outcome f = Resolve(s, source, "flac");
    EXPECT_TRUE(f.ok) << f.message;
    EXPECT_EQ(f.path, (dir.path() / "home/Documents/quelvox-test-source.flac").string());
}

TEST(ResolveOutputPathFailures, EmptyFolderFallsBackToDocuments) {
    TempDir dir;
    ScopedHome home(dir.path() / "home");
    const std::string docs = (dir.path() / "home" / "Documents").string();

    CSettings s = InFolder("");
    Outcome none = Resolve(s, "/music/Pop/a.mp3", "wav");
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.message, "无法创建文件夹 \"\"");

    s.OutputFiles2MyDocuments = 1;
    Outcome o = Resolve(s, "/music/Pop/a.mp3", "wav");
    ASSERT_TRUE(o.ok) << o.message;
    EXPECT_EQ(o.path, docs + "/a.wav");

    // The kept tree follows into the documents folder.
    s.CreateDirs = 1;
    s.CreateDirsFrom = kTreeFromWholePath;
    Outcome t = Resolve(s, "/music/Pop/a.mp3", "wav");
    ASSERT_TRUE(t.ok) << t.message;
    EXPECT_EQ(t.path, docs + "/music/Pop/a.wav");
}

TEST(EnsureFolder, CreatesMissingLevelsAndRefusesFiles) {
    TempDir dir;
    EXPECT_TRUE(EnsureFolder(dir.file("a/b/c")));
    EXPECT_TRUE(fs::is_directory(dir.file("a/b/c")));
    EXPECT_TRUE(EnsureFolder(dir.file("a/b/c/")));
    EXPECT_TRUE(EnsureFolder(dir.path().string()));
    WriteFile(dir.file("f"), "x");
    EXPECT_FALSE(EnsureFolder(dir.file("f")));
    EXPECT_FALSE(EnsureFolder(dir.file("f/g")));
    EXPECT_FALSE(EnsureFolder(""));
}

}  // namespace
}  // namespace quelvox
