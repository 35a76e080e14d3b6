// quelvox-cli against a corpus of hostile files (tests/hostile/make-corpus):
// truncated and empty files, files of the wrong format, headers that lie
// about sizes, channels, rates and bit depths, non-audio content, a folder
// named like a file, a named pipe, a link to a device and a file without
// read permission. Whatever the input,
// the converter must report every file, end normally within a memory
// ceiling and a time limit, leave the sources untouched and leave nothing
// half-written behind.
//
// The memory ceiling is an address-space limit of 1 GiB (RLIMIT_AS) on the
// converter: a run over the corpus with two files at once stays below
// 512 MiB of address space, so anything that allocates by a lying header
// size runs into the ceiling. Sanitizer builds reserve terabytes of shadow
// memory, so there the ceiling is left off (the sanitizer reports what
// goes wrong instead) and the time limit is longer. QUELVOX_HOSTILE_SMALL=1
// asks for the smaller corpus (make-corpus --small), for slow machines.
//
// The tests run as root, for whom the file without read permission is
// readable: it is then converted like any other file.
#include "engine/ConversionRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testsupport::Quote;
using testsupport::TempDir;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

const std::string kCli = QUELVOX_BINARY_DIR "/quelvox-cli";
const std::string kMakeCorpus = QUELVOX_SOURCE_DIR "/tests/hostile/make-corpus";
constexpr rlim_t kAddressSpaceCeiling = rlim_t(1) << 30;
const std::chrono::seconds kTimeLimit(kSanitized ? 900 : 300);

bool SmallCorpus() {
    const char* small = std::getenv("QUELVOX_HOSTILE_SMALL");
    return small && *small && std::string(small) != "0";
}

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Every entry below `root` by relative path: its kind, permission bits,
// size and a hash of its contents.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        const auto perms = static_cast<unsigned>(e.symlink_status().permissions());
        std::ostringstream desc;
        desc << std::oct << perms << std::dec << ' ';
        if (e.is_symlink()) {
            desc << "link to " << fs::read_symlink(e.path()).string();
        } else if (e.is_directory()) {
            desc << "dir";
        } else if (!e.is_regular_file()) {
            desc << "special";  // a named pipe: opening it would block
        } else {
            std::ifstream f(e.path(), std::ios::binary);
            const std::string bytes(std::istreambuf_iterator<char>(f), {});
            desc << (f ? "file " : "unreadable ") << e.file_size() << ' '
                 << std::hash<std::string>{}(bytes);
        }
        entries[rel] = desc.str();
    }
    return entries;
}

// Paths below `root` whose names contain `part`.
std::vector<std::string> NamesContaining(const fs::path& root, const std::string& part) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().filename().string().find(part) != std::string::npos)
            found.push_back(e.path().string());
    return found;
}

struct Outcome {
    bool exited = false;  // ended by itself, not by a signal
    int status = -1;      // exit status, or the signal
    bool timedOut = false;
    std::string out, err;
};

// Runs quelvox-cli with `args` under the memory ceiling and the time limit,
// with its configuration, home and temporary folders in `home`.
Outcome RunCli(const std::vector<std::string>& args, const TempDir& home) {
    const std::string outFile = home.file("stdout.txt"), errFile = home.file("stderr.txt");
    // In sanitizer builds a finding must not pass for the ordinary status 1
    // of a run with failed files: the sanitizers end the program with 86.
    auto sanitizerOptions = [](const char* name) {
        const char* old = std::getenv(name);
        return std::string(name) + "=" + (old && *old ? std::string(old) + ":" : "") +
               "exitcode=86";
    };
    std::vector<std::string> vars = {"XDG_CONFIG_HOME=" + home.file("config"),
                                     "HOME=" + home.path().string(), "TMPDIR=" + home.file("tmp"),
                                     sanitizerOptions("ASAN_OPTIONS"),
                                     sanitizerOptions("UBSAN_OPTIONS")};
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        const std::string name = var.substr(0, var.find('='));
        if (name != "XDG_CONFIG_HOME" && name != "HOME" && name != "TMPDIR" &&
            name != "ASAN_OPTIONS" && name != "UBSAN_OPTIONS")
            env.push_back(*e);
    }
    for (std::string& v : vars) env.push_back(v.data());
    env.push_back(nullptr);
    // The rows and messages are read as the Chinese texts.
    std::string langOption = "--lang", chinese = "zh";
    std::vector<char*> argv{const_cast<char*>(kCli.c_str()), langOption.data(), chinese.data()};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    Outcome r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!kSanitized) {
            const rlimit limit{kAddressSpaceCeiling, kAddressSpaceCeiling};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(kCli.c_str(), argv.data(), env.data());
        ::_exit(127);
    }
    if (pid < 0) return r;
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.exited = WIFEXITED(status);
    r.status = r.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    r.out = Slurp(outFile);
    r.err = Slurp(errFile);
    return r;
}

struct Row {
    std::string file;    // source file name
    std::string result;  // output file name or failure text
};

std::vector<Row> Rows(const std::string& out) {
    std::vector<Row> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '\t');) cells.push_back(cell);
        EXPECT_EQ(cells.size(), 7u) << line;
        if (cells.size() == 7) rows.push_back({cells[0], cells[6]});
    }
    return rows;
}

bool IsFailureText(const std::string& text) {
    return text.starts_with(quelvox::kFailedRow) || text == quelvox::kNoAudioRow ||
           text == quelvox::kSoundfontMissingRow;
}

// Outputs named in the rows that are not failure texts.
std::multiset<std::string> OutputNames(const std::vector<Row>& rows) {
    std::multiset<std::string> names;
    for (const Row& row : rows) {
        if (IsFailureText(row.result)) continue;
        // A count of clipped samples may follow the name.
        names.insert(row.result.substr(0, row.result.find(" (削波: ")));
    }
    return names;
}

// The paths among `files` that ffprobe cannot read as audio (two at a
// time, in one shell).
std::string UnreadableByFfprobe(const std::vector<std::string>& files, const TempDir& scratch) {
    const std::string list = scratch.file("probe-list");
    std::string joined;
    for (const std::string& f : files) joined += f + '\0';
    testsupport::WriteFile(list, joined);
    std::string bad;
    testsupport::Run(
        "xargs -0 -r -P 2 -n 1 sh -c 'ffprobe -v error -select_streams a "
        "-show_entries stream=codec_type -of csv=p=0 \"$0\" 2>/dev/null "
        "| grep -q audio || echo \"$0\"' < " +
            Quote(list),
        &bad);
    return bad;
}

class HostileCorpusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        corpusDir_ = new TempDir;
        const std::string small = SmallCorpus() ? " --small" : "";
        ASSERT_EQ(testsupport::Run("python3 " + Quote(kMakeCorpus) + " " + Quote(Corpus()) + small),
                  0);
        before_ = new std::map<std::string, std::string>(Snapshot(Corpus()));
        // A folder search lists regular files only (pipes and devices are
        // passed over).
        for (const auto& e : fs::recursive_directory_iterator(Corpus()))
            if (e.is_regular_file()) ++inputs_;
    }
    static void TearDownTestSuite() {
        delete before_;
        delete corpusDir_;
    }
    void SetUp() override {
        fs::create_directory(home_.file("config"));
        fs::create_directory(home_.file("tmp"));
    }

    static std::string Corpus() { return corpusDir_->file("corpus"); }

    // The checks every run shares: a normal end, a row or an adding failure
    // for every input, failure texts from the known set, nothing temporary
    // left. Returns the rows.
    std::vector<Row> ExpectSoundRun(const Outcome& r, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(r.timedOut);
        EXPECT_TRUE(r.exited) << "ended by signal " << r.status << "\n" << r.err;
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("runtime error:"), std::string::npos) << r.err;
        // No library writes to standard error by itself (libmpg123's resync
        // notes, for one, also from the handles other libraries make).
        for (const char* own : {"Note: ", "Warning: ", "[src/"})
            EXPECT_EQ(r.err.find(own), std::string::npos) << r.err;
        const std::vector<Row> rows = Rows(r.out);

        // Files that could not be added are listed once, at most the first
        // few by path, the rest as "<more files>...".
        const std::string heading = "无法载入以下文件.\n\n";
        const size_t at = r.err.find(heading);
        std::set<std::string> listed;
        bool more = false;
        if (at != std::string::npos) {
            std::istringstream in(r.err.substr(at + heading.size()));
            for (std::string line; std::getline(in, line) && !line.empty();) {
                if (line == "<more files>...") {
                    more = true;
                    continue;
                }
                EXPECT_TRUE(line.starts_with(Corpus() + "/")) << line;
                listed.insert(fs::path(line).filename().string());
            }
        }
        std::multiset<std::string> rowFiles;
        std::map<std::string, std::string> results;
        for (const Row& row : rows) {
            rowFiles.insert(row.file);
            results[row.file] = row.result;
            EXPECT_FALSE(row.result.empty()) << row.file;
            EXPECT_NE(row.result, quelvox::kCancelledRow) << row.file;
            EXPECT_EQ(listed.count(row.file), 0u) << row.file << " has a row and an adding failure";
        }
        EXPECT_LE(rows.size() + listed.size(), inputs_);
        if (!more) {
            EXPECT_EQ(rows.size() + listed.size(), inputs_);
        }
        // Well-formed files of every kind are converted.
        for (const char* name : {"real.wav", "real.mp3", "real.flac", "real.ogg", "real.au",
                                 "real.aiff", "real.m4a", "real.wv", "real.voc"})
            EXPECT_TRUE(rowFiles.count(name) == 1 && !IsFailureText(results[name])) << name;
        if (::geteuid() == 0) {
            EXPECT_TRUE(rowFiles.count("unreadable.wav") == 1 &&
                        !IsFailureText(results["unreadable.wav"]));
        }

        // Nothing temporary anywhere.
        EXPECT_TRUE(fs::is_empty(home_.file("tmp")));
        EXPECT_EQ(NamesContaining(Corpus(), ".part-"), std::vector<std::string>{});
        EXPECT_EQ(NamesContaining(home_.path(), ".part-"), std::vector<std::string>{});
        return rows;
    }

    // Every output of `rows` in `folder` is non-empty and readable by
    // ffprobe, and the folder holds nothing else.
    void ExpectOutputsIn(const std::string& folder, const std::vector<Row>& rows) {
        std::multiset<std::string> present;
        std::vector<std::string> paths;
        for (const auto& e : fs::directory_iterator(folder)) {
            present.insert(e.path().filename().string());
            paths.push_back(e.path().string());
            EXPECT_GT(fs::file_size(e.path()), 0u) << e.path();
        }
        EXPECT_EQ(present, OutputNames(rows));
        EXPECT_EQ(UnreadableByFfprobe(paths, home_), "");
    }

    static TempDir* corpusDir_;
    static std::map<std::string, std::string>* before_;
    static size_t inputs_;
    TempDir home_;
};

TempDir* HostileCorpusTest::corpusDir_ = nullptr;
std::map<std::string, std::string>* HostileCorpusTest::before_ = nullptr;
size_t HostileCorpusTest::inputs_ = 0;

TEST_F(HostileCorpusTest, CorpusCoversEveryInputTypeAndStaysSmall) {
    uintmax_t bytes = 0;
    std::set<std::string> extensions;
    for (const auto& e : fs::recursive_directory_iterator(Corpus())) {
        if (!e.is_regular_file()) continue;
        bytes += e.file_size();
        extensions.insert(e.path().extension().string());
    }
    EXPECT_LT(bytes, 20u << 20);
    for (const char* ext :
         {".mp3",  ".wav", ".ogg", ".flac", ".wv",  ".aac", ".m4a", ".mp4", ".adx", ".aif", ".aiff",
          ".aifc", ".au",  ".snd", ".amr",  ".awb", ".wma", ".wmv", ".asf", ".mid", ".mod", ".xm",
          ".it",   ".s3m", ".cda", ".dts",  ".mkv", ".ac3", ".voc", ".xyz", ""})
        EXPECT_EQ(extensions.count(ext), 1u) << ext;
    EXPECT_TRUE(fs::is_directory(Corpus() + "/dir.wav"));
    EXPECT_EQ(fs::status(Corpus() + "/unreadable.wav").permissions(), fs::perms::none);
    EXPECT_TRUE(fs::is_fifo(Corpus() + "/fifo.mp3"));
    EXPECT_TRUE(fs::is_character_file(Corpus() + "/zero.wav"));
}

TEST_F(HostileCorpusTest, PipesAndDevicesNamedDirectlyFailToBeAdded) {
    const std::string out = home_.file("out");
    const std::string fifo = Corpus() + "/fifo.mp3", zero = Corpus() + "/zero.wav";
    const Outcome r =
        RunCli({"-q", "-f", "wav", "-o", out, fifo, zero, Corpus() + "/real.wav"}, home_);
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1);
    const std::vector<Row> rows = Rows(r.out);
    ASSERT_EQ(rows.size(), 1u) << r.out;
    EXPECT_EQ(rows[0].file, "real.wav");
    EXPECT_EQ(rows[0].result, "real.wav");
    EXPECT_NE(r.err.find("无法载入以下文件.\n\n" + fifo + "\n" + zero + "\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(Snapshot(Corpus()), *before_);
    EXPECT_TRUE(fs::is_empty(home_.file("tmp")));
}

TEST_F(HostileCorpusTest, OneByOneAndTwoAtOnceIntoAFolder) {
    const std::string one = home_.file("one"), two = home_.file("two");
    const Outcome sequential = RunCli({"-q", "-j", "1", "-f", "wav", "-o", one, Corpus()}, home_);
    const std::vector<Row> rows = ExpectSoundRun(sequential, "-j 1");
    EXPECT_EQ(Snapshot(Corpus()), *before_);
    ExpectOutputsIn(one, rows);
    EXPECT_GT(OutputNames(rows).size(), 20u);

    const Outcome parallel = RunCli({"-q", "-j", "2", "-f", "wav", "-o", two, Corpus()}, home_);
    ExpectSoundRun(parallel, "-j 2");
    EXPECT_EQ(Snapshot(Corpus()), *before_);
    // The same rows and the same outputs, byte for byte.
    EXPECT_EQ(parallel.out, sequential.out);
    EXPECT_EQ(Snapshot(two), Snapshot(one));
}

TEST_F(HostileCorpusTest, OutputsBesideTheSources) {
    const Outcome r =
        RunCli({"-q", "-j", "2", "-f", "mp3", "--set", "DestOutputFolderOpt=199", Corpus()}, home_);
    const std::vector<Row> rows = ExpectSoundRun(r, "beside the sources");

    // The sources are as they were; the only new files are the outputs.
    std::map<std::string, std::string> after = Snapshot(Corpus());
    std::multiset<std::string> added;
    std::vector<std::string> paths;
    for (auto it = after.begin(); it != after.end();) {
        const auto old = before_->find(it->first);
        if (old != before_->end()) {
            EXPECT_EQ(it->second, old->second) << it->first;
            ++it;
            continue;
        }
        const std::string path = Corpus() + "/" + it->first;
        added.insert(fs::path(it->first).filename().string());
        paths.push_back(path);
        EXPECT_GT(fs::file_size(path), 0u) << path;
        it = after.erase(it);
    }
    EXPECT_EQ(after.size(), before_->size());
    EXPECT_EQ(added, OutputNames(rows));
    EXPECT_EQ(UnreadableByFfprobe(paths, home_), "");
    // Leave the corpus as it was for the other tests.
    for (const std::string& path : paths) fs::remove(path);
}

TEST_F(HostileCorpusTest, MergedIntoOneFile) {
    const std::string folder = home_.file("merged");
    fs::create_directory(folder);
    const Outcome r = RunCli({"-q", "-f", "mp3", "--merge", folder + "/all", Corpus()}, home_);
    const std::vector<Row> rows = ExpectSoundRun(r, "merged");
    EXPECT_EQ(Snapshot(Corpus()), *before_);
    // Every file that went in names the merged file; the folder holds it
    // alone.
    const std::multiset<std::string> outputs = OutputNames(rows);
    EXPECT_GT(outputs.size(), 20u);
    EXPECT_EQ(outputs.count("all.mp3"), outputs.size());
    ExpectOutputsIn(folder, {{"", "all.mp3"}});
}

}  // namespace
