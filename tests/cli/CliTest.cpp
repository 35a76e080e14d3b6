// End-to-end tests of quelvox-cli: the built program is run as a user runs
// it, with its configuration and home folders in a scratch folder, on real
// files made by ffmpeg, sox and oggenc; outputs are checked with ffprobe.
#include "common/FormatCatalogue.h"
#include "common/TextCodec.h"
#include "encoders/TagWriter.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "settings/SettingDecl.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace quelvox;
using ::testing::HasSubstr;
using testsupport::Probe;
using testsupport::ProbeTag;
using testsupport::Quote;
using testsupport::TempDir;

const std::string kCli = QUELVOX_BINARY_DIR "/quelvox-cli";

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// Shared inputs: one folder of mixed files, made once. The program runs
// in Chinese (--lang zh) unless a test says otherwise.
class CliTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // An English translator in this process gives the English of the
        // texts the program shows.
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "test_cli";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
            UseLanguage(app, Language::English);
        }
        inputs_ = new TempDir;
        const TempDir& d = *inputs_;
        const std::string in = d.file("in");
        fs::create_directory(in);
        // 2 s stereo 16-bit WAV at 44.1 kHz, written directly.
        testsupport::WriteWav(in + "/a.wav", 44100, 2, testsupport::Sine(88200, 2, 44100, 440));
        // 1 s mono FLAC at 48 kHz (ffmpeg), sharing the stem of a.wav.
        ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -f lavfi -i sine=f=330:d=1 -ar 48000 "
                                   "-ac 1 " +
                                   Quote(in + "/a.flac")),
                  0);
        // 3 s mono Ogg Vorbis at 22.05 kHz (sox, then oggenc).
        ASSERT_EQ(testsupport::Run("sox -n -r 22050 -c 1 -b 16 " + Quote(d.file("b.wav")) +
                                   " synth 3 sine 500 vol 0.5"),
                  0);
        ASSERT_EQ(
            testsupport::Run("oggenc -Q -o " + Quote(in + "/b.ogg") + " " + Quote(d.file("b.wav"))),
            0);
        // 1 s Sun AU at 8 kHz (sox); its output name is taken already.
        ASSERT_EQ(testsupport::Run("sox -n -r 8000 -c 1 -b 16 " + Quote(in + "/c.au") +
                                   " synth 1 sine 700 vol 0.5"),
                  0);
        // A video without any audio track.
        ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -f lavfi -i testsrc=d=1:s=64x48 -an " +
                                   Quote(in + "/video.mp4")),
                  0);
        // Garbage with an audio extension.
        std::string junk(6000, '\0');
        for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7919u) >> 3);
        testsupport::WriteFile(in + "/junk.mp3", junk);
    }
    static void TearDownTestSuite() {
        delete inputs_;
        inputs_ = nullptr;
    }

    std::string In(const std::string& name = "") const {
        return inputs_->file("in") + (name.empty() ? "" : "/" + name);
    }
    std::string Config() const { return home_.file("config"); }
    std::string SettingsFile() const { return Config() + "/Quelvox/Quelvox 4.ini"; }

    // Runs quelvox-cli with `args` (already quoted where needed), with the
    // environment assignments `env` ("NAME=value ...") added.
    CliResult Cli(const std::string& args, const std::string& env = "") const {
        CliResult r;
        const std::string err = home_.file("stderr.txt");
        const std::string command = env + " XDG_CONFIG_HOME=" + Quote(Config()) +
                                    " HOME=" + Quote(home_.path().string()) + " " + Quote(kCli) +
                                    " " + LangOption() + args + " 2>" + Quote(err) + " </dev/null";
        r.status = testsupport::Run(command, &r.out);
        r.err = Slurp(err);
        return r;
    }

    // "--lang <language> " for the program's command line, or nothing.
    std::string LangOption() const { return lang_.empty() ? "" : "--lang " + lang_ + " "; }
    // A whole text of the engine's or the format catalogue's, as the
    // program shows it in the run's language.
    std::string T(const std::string& text) const {
        if (lang_ != "en") return text;
        const std::string engine = TranslateText(kEngineTextContext, text.c_str());
        return engine != text ? engine : TranslateText(kFormatCatalogueTextContext, text.c_str());
    }

    static TempDir* inputs_;
    TempDir home_;
    TempDir work_;
    std::string lang_ = "zh";
};

// The tests whose rows and messages hold texts, run in both languages.
class CliLanguageTest : public CliTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { lang_ = GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Languages, CliLanguageTest, ::testing::Values("zh", "en"));

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

TempDir* CliTest::inputs_ = nullptr;

// Column cells that do not depend on how the engine measures bit rates.
void ExpectRow(const std::string& line, const std::string& name, const std::string& duration,
               const std::string& rate, const std::string& channels, const std::string& volume,
               const std::string& output) {
    const std::regex row("([^\t]*)\t([^\t]*)\t([^\t]*)\t([^\t]*)\t([^\t]*)\t([^\t]*)\t([^\t]*)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, row)) << line;
    EXPECT_EQ(m[1], name);
    EXPECT_EQ(m[2], duration);
    EXPECT_TRUE(std::regex_match(m[3].str(), std::regex("[0-9]+ kbps"))) << line;
    EXPECT_EQ(m[4], rate);
    EXPECT_EQ(m[5], channels);
    EXPECT_EQ(m[6], volume);
    EXPECT_EQ(m[7], output);
}

TEST_P(CliLanguageTest, ConvertsAFolderAndReportsEveryFile) {
    const std::string out = work_.file("out");
    fs::create_directory(out);
    testsupport::WriteFile(out + "/c.mp3", std::string("keep me"));

    CliResult r = Cli("-f mp3 -o " + Quote(out) + " " + Quote(In()));

    // junk.mp3 could not be added; video.mp4 has no audio, so it is not
    // listed either.
    EXPECT_EQ(r.status, 1);
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 4u) << r.out;
    ExpectRow(lines[0], "a.flac", "00:01", "48000 Hz", T("单声"), "100.00%", "a.mp3");
    ExpectRow(lines[1], "a.wav", "00:02", "44100 Hz", T("立体声"), "100.00%", "a_1.mp3");
    EXPECT_THAT(lines[1], HasSubstr("\t1411 kbps\t"));
    ExpectRow(lines[2], "b.ogg", "00:03", "22050 Hz", T("单声"), "100.00%", "b.mp3");
    ExpectRow(lines[3], "c.au", "00:01", "8000 Hz", T("单声"), "100.00%", "c_1.mp3");
    EXPECT_THAT(r.err, HasSubstr(T("无法载入以下文件.") + "\n\n" + In("junk.mp3") + "\n"));
    EXPECT_THAT(r.err, HasSubstr(In("video.mp4") + "\n\n" + T("在文件中无音频")));
    EXPECT_THAT(r.err, HasSubstr("video.mp4: not added: no audio found in it"));
    // In English nothing Chinese is left (the file names are ASCII).
    if (lang_ == "en") {
        EXPECT_TRUE(IsAscii(r.out)) << r.out;
        EXPECT_TRUE(IsAscii(r.err)) << r.err;
    }

    for (const char* name : {"a.mp3", "a_1.mp3", "b.mp3", "c_1.mp3"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Probe(out + "/" + name, "codec_name"), "mp3");
    }
    EXPECT_EQ(Probe(out + "/a_1.mp3", "channels"), "2");
    EXPECT_EQ(Probe(out + "/a.mp3", "channels"), "1");
    EXPECT_NEAR(std::stod(Probe(out + "/b.mp3", "duration", true)), 3.0, 0.1);
    EXPECT_EQ(Slurp(out + "/c.mp3"), "keep me");
    EXPECT_FALSE(fs::exists(In("video.mp3")));
    EXPECT_FALSE(fs::exists(out + "/video.mp3"));
    // Nothing but the outputs: no temporary files, and no stored settings.
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 5);
    EXPECT_FALSE(fs::exists(SettingsFile()));
}

TEST_F(CliTest, SeveralAtOnceGivesTheSameOutputsAndRowsAsOneAfterAnother) {
    const std::string one = work_.file("one"), two = work_.file("two");
    const std::string common = "-q -f mp3 --set ID3TagType=1 --set TrackNumType=1 " + Quote(In());
    CliResult sequential = Cli("-j 1 -o " + Quote(one) + " " + common);
    CliResult parallel = Cli("-j 2 -o " + Quote(two) + " " + common);

    EXPECT_EQ(sequential.status, 1);
    EXPECT_EQ(parallel.status, 1);
    EXPECT_EQ(parallel.out, sequential.out);
    // The messages match too (libraries may print notes of their own first).
    EXPECT_EQ(parallel.err.substr(parallel.err.find("quelvox-cli: ")),
              sequential.err.substr(sequential.err.find("quelvox-cli: ")));
    ASSERT_EQ(sequential.Lines().size(), 4u);
    // Track numbers are list positions, titles the source names.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"a.mp3", "1"}, {"a_1.mp3", "2"}, {"b.mp3", "3"}, {"c.mp3", "4"}};
    for (const auto& [name, track] : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ProbeTag(two + "/" + name, "track"), track);
        EXPECT_EQ(ProbeTag(one + "/" + name, "track"), track);
        EXPECT_EQ(testsupport::ReadFile(one + "/" + name), testsupport::ReadFile(two + "/" + name));
    }
    EXPECT_EQ(ProbeTag(two + "/a_1.mp3", "title"), "a");
}

TEST_F(CliTest, NamesOfOneRunNeverClashWhateverThePolicy) {
    // a.wav and a.flac both want a.mp3, where an a.mp3 lay before the run.
    // The policy decides about that old file only: a name the run wrote is
    // never written again, the later source is numbered instead.
    struct Case {
        int policy;
        bool oldBefore;                 // an a.mp3 lay there before the run
        std::vector<std::string> rows;  // output cell of a.wav, a.flac
        std::string oldFile;            // what a.mp3 holds afterwards ("" = a new output)
    };
    const std::string skipped = "\t\t" + T(kTargetExistsSkipped);
    const std::vector<Case> cases = {
        {kTargetRename, true, {"\ta_1.mp3", "\ta_2.mp3"}, "old"},
        {kTargetOverwrite, true, {"\ta.mp3", "\ta_1.mp3"}, ""},
        {kTargetSkip, true, {skipped, skipped}, "old"},
        {kTargetSkip, false, {"\ta.mp3", "\ta_1.mp3"}, ""},
    };
    for (const Case& c : cases) {
        for (const char* jobs : {"1", "2"}) {
            const std::string name =
                std::to_string(c.policy) + (c.oldBefore ? "-old-j" : "-j") + jobs;
            SCOPED_TRACE(name);
            const std::string out = work_.file("out" + name);
            fs::create_directory(out);
            if (c.oldBefore) testsupport::WriteFile(out + "/a.mp3", std::string("old"));
            CliResult r = Cli("-q -j " + std::string(jobs) + " -f mp3 --set TargetExistsOpt=" +
                              std::to_string(c.policy) + " -o " + Quote(out) + " " +
                              Quote(In("a.wav")) + " " + Quote(In("a.flac")));
            EXPECT_EQ(r.status, 0) << r.err;
            const auto lines = r.Lines();
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_THAT(lines[0], ::testing::EndsWith(c.rows[0]));
            EXPECT_THAT(lines[1], ::testing::EndsWith(c.rows[1]));
            if (c.oldFile.empty())
                EXPECT_EQ(Probe(out + "/a.mp3", "channels"), "2");  // from a.wav, the first
            else
                EXPECT_EQ(Slurp(out + "/a.mp3"), c.oldFile);
            if (c.rows[1] != skipped) {
                const std::string later =
                    out + "/" + c.rows[1].substr(c.rows[1].find_last_of('\t') + 1);
                EXPECT_EQ(Probe(later, "channels"), "1");  // from a.flac
            }
        }
    }
}

TEST_F(CliTest, ASkippedExistingTargetFailsTheRunOnlyWithAnotherFailure) {
    const std::string out = work_.file("out");
    fs::create_directory(out);
    testsupport::WriteFile(out + "/a.wav", std::string("old"));
    const std::string skip = "-q -f wav --set TargetExistsOpt=33 -o " + Quote(out) + " ";

    // a.wav is skipped, b.ogg converted: nothing failed.
    CliResult r = Cli(skip + Quote(In("a.wav")) + " " + Quote(In("b.ogg")));
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.Lines().size(), 2u);
    EXPECT_THAT(r.Lines()[0], ::testing::EndsWith("\t\t" + T(kTargetExistsSkipped)));
    EXPECT_THAT(r.Lines()[1], ::testing::EndsWith("\tb.wav"));
    EXPECT_EQ(Slurp(out + "/a.wav"), "old");

    // Every file skipped: still no failure.
    r = Cli(skip + Quote(In("a.wav")));
    EXPECT_EQ(r.status, 0) << r.err;

    // The skip beside a file that could not be added: that one fails the run.
    r = Cli(skip + Quote(In("a.wav")) + " " + Quote(In("junk.mp3")));
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.Lines().size(), 1u);
    EXPECT_THAT(r.Lines()[0], ::testing::EndsWith("\t\t" + T(kTargetExistsSkipped)));
}

TEST_F(CliTest, KeepTreeStartsAtTheAddedFolderOrTakesTheWholePath) {
    const std::string music = work_.file("lib/Music");
    fs::create_directories(music + "/Artist/Album");
    fs::copy_file(In("a.wav"), music + "/Artist/Album/x.wav");
    fs::copy_file(In("c.au"), music + "/top.au");
    const std::string phone = work_.file("phone");
    const std::string to = "-q -f wav -o " + Quote(phone) + " ";

    // By default the tree starts with the added folder's own name; a file
    // named directly goes straight into the output folder.
    CliResult r = Cli(to + "--keep-tree " + Quote(music) + " " + Quote(In("b.ogg")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(phone + "/Music/Artist/Album/x.wav", "codec_name"), "pcm_s16le");
    EXPECT_TRUE(fs::is_regular_file(phone + "/Music/top.wav"));
    EXPECT_TRUE(fs::is_regular_file(phone + "/b.wav"));
    EXPECT_FALSE(fs::exists(phone + "/lib"));

    // A relative folder argument: the tree starts at its name all the same.
    const std::string rel = work_.file("rel");
    r = Cli("-q -f wav -o " + Quote(rel) + " --keep-tree=added lib/Music",
            "cd " + Quote(work_.path().string()) + " &&");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(rel + "/Music/Artist/Album/x.wav")) << r.err;

    // The whole path: chosen here, or stored and followed by a bare
    // --keep-tree; --keep-tree=added overrides the stored choice.
    const std::string abs = fs::weakly_canonical(music).relative_path().string();
    const std::string full = work_.file("full");
    r = Cli("-q -f wav -o " + Quote(full) + " --keep-tree=full " + Quote(music));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(full + "/" + abs + "/Artist/Album/x.wav"));
    const std::string stored = work_.file("stored");
    r = Cli("-q -f wav --set CreateDirsFrom=1 -o " + Quote(stored) + " --keep-tree " +
            Quote(music + "/Artist"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(stored + "/" + abs + "/Artist/Album/x.wav"));
    const std::string back = work_.file("back");
    r = Cli("-q -f wav --set CreateDirsFrom=1 -o " + Quote(back) + " --keep-tree=added " +
            Quote(music + "/Artist"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(back + "/Artist/Album/x.wav"));
}

TEST_F(CliTest, MergesInListOrderIntoOneFile) {
    const std::string merged = work_.file("joined");  // the extension is added
    CliResult r = Cli("-q -f wav --merge " + Quote(merged) + " " + Quote(In("b.ogg")) + " " +
                      Quote(In("a.wav")) + " " + Quote(In("c.au")));
    EXPECT_EQ(r.status, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string& line : lines) EXPECT_THAT(line, ::testing::EndsWith("\tjoined.wav"));
    EXPECT_THAT(lines[0], ::testing::StartsWith("b.ogg\t"));
    const std::string file = merged + ".wav";
    EXPECT_EQ(Probe(file, "codec_name"), "pcm_s16le");
    EXPECT_EQ(Probe(file, "sample_rate"), "44100");
    EXPECT_EQ(Probe(file, "channels"), "2");
    EXPECT_NEAR(std::stod(Probe(file, "duration", true)), 6.0, 0.1);
    // The first three seconds come from the Ogg file (500 Hz, half scale),
    // the next two from the WAV file.
    const std::vector<int16_t> pcm = testsupport::DecodeWithFfmpeg(file);
    ASSERT_GT(pcm.size(), 2u * 44100 * 4);
    int16_t peakOgg = 0, peakWav = 0;
    for (size_t i = 2 * 44100; i < 2 * 44100 * 2; ++i) peakOgg = std::max(peakOgg, pcm[i]);
    for (size_t i = 2 * 44100 * 4; i < 2 * 44100 * 4 + 20000; ++i)
        peakWav = std::max(peakWav, pcm[i]);
    EXPECT_NEAR(peakOgg, 16384, 1500);
    EXPECT_NEAR(peakWav, 12000, 300);
}

TEST_F(CliTest, FormatByCodeOrExtensionAndSettingsForThisRunOnly) {
    // Stored settings: WAV output into a stored folder.
    const std::string stored = work_.file("stored");
    fs::create_directories(Config() + "/Quelvox");
    const std::string ini =
        "[Options]\nOutputFormat=2000\nDestOutputFolderOpt=399\n"
        "DestSpecifiedFolder=" +
        stored + "\n";
    testsupport::WriteFile(SettingsFile(), ini);

    CliResult r = Cli("-q " + Quote(In("a.wav")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(stored + "/a.wav", "codec_name"), "pcm_s16le");

    // A code picks exactly that entry; values set for the run apply.
    const std::string out = work_.file("out");
    r = Cli("-q -f 2000 -o " + Quote(out) +
            " --set WAVAutoEncParam=0 --set WAVSampleRate=22050 --set WAVChannels=1 " +
            Quote(In("a.wav")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out + "/a.wav", "sample_rate"), "22050");
    EXPECT_EQ(Probe(out + "/a.wav", "channels"), "1");

    // An extension shared by several entries picks the first in catalogue
    // order (m4a: AAC, not ALAC); letter case and a dot do not matter.
    r = Cli("-q -f .M4A -o " + Quote(out) + " " + Quote(In("c.au")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out + "/c.m4a", "codec_name"), "aac");
    r = Cli("-q -f ogg -o " + Quote(out) + " --set VolumeType=0 " + Quote(In("b.ogg")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out + "/b.ogg", "codec_name"), "vorbis");
    // Normalised: the volume cell shows the applied gain, not 100.00%.
    ASSERT_EQ(r.Lines().size(), 1u);
    EXPECT_THAT(r.Lines()[0], ::testing::Not(HasSubstr("\t100.00%\t")));

    // The store itself is never written.
    EXPECT_EQ(Slurp(SettingsFile()), ini);
}

// Opus decodes at 48 kHz: a 44.1 kHz source is resampled to exactly its
// length at 48 kHz, a 48 kHz source keeps its exact sample count.
TEST_F(CliTest, OpusOutputHasTheSourcesLength) {
    const std::string out = work_.file("opus");
    CliResult r =
        Cli("-q -f opus -o " + Quote(out) + " " + Quote(In("a.wav")) + " " + Quote(In("a.flac")));
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.Lines().size(), 2u);
    EXPECT_THAT(r.Lines()[0], ::testing::EndsWith("\ta.opus"));
    EXPECT_THAT(r.Lines()[1], ::testing::EndsWith("\ta_1.opus"));
    EXPECT_EQ(Probe(out + "/a.opus", "codec_name"), "opus");
    EXPECT_EQ(Probe(out + "/a.opus", "channels"), "2");
    EXPECT_EQ(Probe(out + "/a_1.opus", "channels"), "1");
    EXPECT_EQ(testsupport::DecodeWithFfmpeg(out + "/a.opus").size(), 2u * 96000);  // 2 s
    EXPECT_EQ(testsupport::DecodeWithFfmpeg(out + "/a_1.opus").size(), 48000u);    // 1 s

    // Values stored under the row's prefix apply: mono at 32 kbit/s.
    r = Cli("-q -f 4100 -o " + Quote(out + "/mono") +
            " --set OPUSAutoEncParam=0 --set OPUSChannels=1 --set OPUSBitRate=32000 " +
            Quote(In("a.wav")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(out + "/mono/a.opus", "channels"), "1");
    EXPECT_EQ(testsupport::DecodeWithFfmpeg(out + "/mono/a.opus").size(), 96000u);
    EXPECT_LT(fs::file_size(out + "/mono/a.opus"), fs::file_size(out + "/a.opus"));
}

TEST_P(CliLanguageTest, ProbeListsRowsAndConvertsNothing) {
    CliResult r = Cli("--probe " + Quote(In("a.wav")) + " " + Quote(In("c.au")));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a.wav\t00:02\t1411 kbps\t44100 Hz\t" + T("立体声") +
                         "\n"
                         "c.au\t00:01\t128 kbps\t8000 Hz\t" +
                         T("单声") + "\n");
    EXPECT_FALSE(fs::exists(In("a.mp3")));
    r = Cli("--probe " + Quote(In("junk.mp3")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, TheLanguageComesFromTheOptionTheSettingOrTheLocale) {
    lang_.clear();  // no --lang unless given below
    const std::string file = " " + Quote(In("c.au"));
    // The channels cell of the probe row says which language was chosen.
    auto channels = [&](const std::string& args, const std::string& locale) {
        CliResult r = Cli(args + file, "env -u LC_ALL -u LC_MESSAGES -u LANGUAGE " + locale);
        EXPECT_EQ(r.status, 0) << args << " " << locale << r.err;
        return r.out.substr(r.out.rfind('\t') + 1);
    };
    const std::string mono = "单声\n", englishMono = TranslateText(kEngineTextContext, "单声") + "\n";
    EXPECT_NE(mono, englishMono);
    EXPECT_EQ(channels("--probe", "LANG=zh_CN.UTF-8"), mono);
    EXPECT_EQ(channels("--probe", "LANG=en_US.UTF-8"), englishMono);
    EXPECT_EQ(channels("--probe", "LANG=C"), englishMono);
    EXPECT_EQ(channels("--probe", "LANG=en_US.UTF-8 LANGUAGE=zh_TW:en"), mono);
    EXPECT_EQ(channels("--probe", "LANG=zh_CN.UTF-8 LC_MESSAGES=en_GB.UTF-8"), englishMono);
    // The setting for this run, then the option, beat the locale.
    EXPECT_EQ(channels("--probe --set Language=2", "LANG=zh_CN.UTF-8"), englishMono);
    EXPECT_EQ(channels("--probe --set Language=1", "LANG=en_US.UTF-8"), mono);
    EXPECT_EQ(channels("--probe --lang zh --set Language=2", "LANG=en_US.UTF-8"), mono);
    // The stored setting, which the run never writes.
    fs::create_directories(Config() + "/Quelvox");
    testsupport::WriteFile(SettingsFile(), std::string("[Options]\nLanguage=2\n"));
    EXPECT_EQ(channels("--probe", "LANG=zh_CN.UTF-8"), englishMono);
    EXPECT_EQ(channels("--probe --lang chinese", "LANG=en_US.UTF-8"), mono);
    EXPECT_EQ(Slurp(SettingsFile()), "[Options]\nLanguage=2\n");
}

TEST_P(CliLanguageTest, ListsTheCatalogue) {
    CliResult r = Cli("--list-formats");
    EXPECT_EQ(r.status, 0);
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 31u);
    EXPECT_EQ(lines[0], "8300\t3g2\t" + T("3G2 (仅音频)"));
    // In list order, by extension: after Ogg, before SWF.
    EXPECT_EQ(lines[25], "4100\topus\tOPUS");
    EXPECT_THAT(lines[24], ::testing::StartsWith("4000\togg\t"));
    EXPECT_THAT(r.out, HasSubstr("\n1000\tmp3\tMP3\n"));
    EXPECT_THAT(r.out, HasSubstr("\n6200\tm4a\t" + T("ALAC (Apple 无损) (*.m4a)") + "\n"));
}

TEST_P(CliLanguageTest, WrongUsageExitsWithTwo) {
    const std::string file = Quote(In("a.wav"));
    for (const std::string& args : std::vector<std::string>{
             "", "--bogus " + file, "--set NoSuchName=1 " + file, "--set MP3BitRate=fast " + file,
             "--set novalue " + file, "-f xyz " + file, "-f 1234 " + file, "-j 0 " + file, "-o",
             "--merge", "--lang fr " + file, "--keep-tree=sideways " + file,
             "--keep-tree= " + file}) {
        SCOPED_TRACE(args);
        CliResult r = Cli(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr("quelvox-cli: "));
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(In("a.mp3")));
    CliResult help = Cli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Usage: quelvox-cli"));
    EXPECT_THAT(help.out, HasSubstr("Ctrl+C show " + T(kCancelledRow) + ".\n"));
}

// A one-note format-0 MIDI file lasting one second at 120 bpm.
std::string MidiFile(int note) {
    const std::string events = {0x00,       char(0x90), char(note), 0x64, char(0x83),
                                0x60,       char(0x80), char(note), 0x40, 0x00,
                                char(0xFF), 0x2F,       0x00};
    std::string file = std::string("MThd\0\0\0\6\0\0\0\1\x01\xE0", 14) + "MTrk";
    file += std::string("\0\0\0", 3) + char(events.size()) + events;
    return file;
}

TEST_P(CliLanguageTest, ConvertsMidiWithTheSoundfontBesideTheProgram) {
    if (!fs::exists(QUELVOX_BINARY_DIR "/ct4mgm.sf2")) GTEST_SKIP() << "no soundfont installed";
    const std::string in = work_.file("midi"), out = work_.file("out");
    fs::create_directory(in);
    testsupport::WriteFile(in + "/c.mid", MidiFile(60));
    testsupport::WriteFile(in + "/e.mid", MidiFile(64));
    CliResult r = Cli("-q -j 2 -f wav -o " + Quote(out) + " " + Quote(in));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "c.mid\t00:01\t1411 kbps\t44100 Hz\t" + T("立体声") +
                         "\t100.00%\tc.wav\n"
                         "e.mid\t00:01\t1411 kbps\t44100 Hz\t" +
                         T("立体声") + "\t100.00%\te.wav\n");
    EXPECT_EQ(Probe(out + "/e.wav", "sample_rate"), "44100");
    EXPECT_GT(testsupport::DecodeWithFfmpeg(out + "/c.wav").size(), 44100u);

    // The font is loaded when the run meets its first MIDI file, and the
    // two workers above shared it: one after another renders the same.
    const std::string one = work_.file("one");
    r = Cli("-q -j 1 -f wav -o " + Quote(one) + " " + Quote(in));
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* name : {"c.wav", "e.wav"})
        EXPECT_EQ(Slurp(one + "/" + name), Slurp(out + "/" + name)) << name;
}

TEST_F(CliTest, OpensTheLargeCodecLibrariesOnlyForJobsThatUseThem) {
    // glibc's loader names every library it opens on standard error.
    const std::string out = work_.file("out");
    CliResult amr = Cli("-q -f amr -o " + Quote(out) + " " + Quote(In("a.wav")), "LD_DEBUG=files");
    EXPECT_EQ(amr.status, 0) << amr.err;
    EXPECT_TRUE(fs::exists(out + "/a.amr"));
    EXPECT_EQ(amr.err.find("libavcodec"), std::string::npos);
    EXPECT_EQ(amr.err.find("libavformat"), std::string::npos);
    EXPECT_EQ(amr.err.find("libfluidsynth"), std::string::npos);

    CliResult mp3 = Cli("-q -f mp3 -o " + Quote(out) + " " + Quote(In("a.wav")), "LD_DEBUG=files");
    EXPECT_EQ(mp3.status, 0) << mp3.err;
    EXPECT_EQ(Probe(out + "/a.mp3", "codec_name"), "mp3");
    EXPECT_NE(mp3.err.find("libavformat"), std::string::npos);
    EXPECT_EQ(mp3.err.find("libfluidsynth"), std::string::npos);
}

TEST_F(CliTest, ARunIntoAGivenFolderCreatesNoDocumentsFolder) {
    const std::string out = work_.file("out");
    CliResult r = Cli("-q -j 2 -f wav -o " + Quote(out) + " " + Quote(In("a.wav")) + " " +
                      Quote(In("b.ogg")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(out + "/b.wav"));
    EXPECT_FALSE(fs::exists(home_.file("Documents")));
}

// Starts quelvox-cli with `args`, its rows going to `rowsFile`; returns its
// process id.
// Starts the program with standard output into `rowsFile`, or into the
// descriptor `outFd` when that is given, and standard error into `errFile`
// (default: nowhere). Every signal has its default action, as in a shell.
pid_t SpawnCli(const std::string& lang, const std::vector<std::string>& args,
               const std::string& config, const std::string& home, const std::string& rowsFile,
               int outFd = -1, const std::string& errFile = "/dev/null") {
    const std::string configVar = "XDG_CONFIG_HOME=" + config;
    const std::string homeVar = "HOME=" + home;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) && std::strncmp(*e, "HOME=", 5))
            env.push_back(*e);
    env.push_back(const_cast<char*>(configVar.c_str()));
    env.push_back(const_cast<char*>(homeVar.c_str()));
    env.push_back(nullptr);
    std::string langOption = "--lang";
    std::vector<char*> argv{const_cast<char*>(kCli.c_str()), langOption.data(),
                            const_cast<char*>(lang.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, rowsFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    if (posix_spawn(&pid, kCli.c_str(), &actions, &attributes, argv.data(), env.data()) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Whether `folder` holds `count` files whose names start with `prefix`;
// waits up to ten seconds for them.
bool WaitForFiles(const std::string& folder, const std::string& prefix, int count) {
    for (int i = 0; i < 400; ++i) {
        int found = 0;
        for (const auto& e : fs::directory_iterator(folder))
            found += e.path().filename().string().starts_with(prefix);
        if (found >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

TEST_P(CliLanguageTest, InterruptCancelsAndLeavesNoPartialOutput) {
    const std::string one = work_.file("one"), two = work_.file("two");
    fs::create_directory(one);
    fs::create_directory(two);
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(one + "/long.flac") +
                               " synth 300 sine 440 vol 0.5"),
              0);
    fs::copy_file(one + "/long.flac", two + "/long.flac");
    fs::copy_file(one + "/long.flac", two + "/other.flac");

    for (const std::string& jobs : {std::string("1"), std::string("2")}) {
        SCOPED_TRACE("-j " + jobs);
        const std::string in = jobs == "1" ? one : two;
        const std::string out = work_.file("out" + jobs);
        fs::create_directory(out);
        const std::string rows = work_.file("rows" + jobs + ".txt");
        const pid_t pid =
            SpawnCli(lang_, {"-j", jobs, "-f", "mp3", "-o", out, in}, Config(), home_.path(), rows);
        ASSERT_GT(pid, 0);
        // Interrupt once the conversions write their (hidden, temporary)
        // outputs.
        EXPECT_TRUE(WaitForFiles(out, ".", jobs == "1" ? 1 : 2));
        ::kill(pid, SIGINT);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 0);
        const std::string printed = Slurp(rows);
        EXPECT_THAT(printed, ::testing::StartsWith("long.flac\t"));
        EXPECT_THAT(printed, ::testing::EndsWith("\t\t" + T(kCancelledRow) + "\n"));
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), jobs == "1" ? 1 : 2);
    }
}

TEST_F(CliTest, OpensTheOutputFolderOnlyWhenAsked) {
    // A stand-in for the desktop's opener records what it was asked.
    const std::string bin = work_.file("bin");
    fs::create_directory(bin);
    const std::string log = work_.file("opened.txt");
    testsupport::WriteFile(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" >> " + Quote(log) + "\n");
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    const std::string out = work_.file("out");
    const std::string path = "PATH=" + Quote(bin) + ":\"$PATH\"";

    CliResult r = Cli("-q -f wav -o " + Quote(out) + " " + Quote(In("c.au")), path);
    EXPECT_EQ(r.status, 0) << r.err;
    r = Cli("-q --browse -f mp3 -o " + Quote(out) + " " + Quote(In("c.au")), path);
    EXPECT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 200 && !fs::exists(log); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Slurp(log), out + "\n");  // once, for the second run only
}

// ---- No data lost: full disks, merge targets, racing runs, long names ----

// Runs `script` with sh in a private mount namespace (as an unprivileged
// user's root) and returns its status; -1 when the machine allows none.
int RunInPrivateMounts(const std::string& script, std::string* out) {
    if (testsupport::Run("unshare -rm true 2>/dev/null") != 0) return -1;
    return testsupport::Run("unshare -rm sh -c " + Quote(script), out);
}

TEST_P(CliLanguageTest, AFullDiskFailsTheFileAndLeavesTheTargetAsItWas) {
    const std::string source = work_.file("noise.wav");
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(source) +
                               " synth 6 pinknoise vol 0.5"),
              0);
    const std::string disk = work_.file("disk");
    fs::create_directory(disk);
    const std::string keep = work_.file("keep.bin");
    std::string old(12000, '\0');
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 31);
    testsupport::WriteFile(keep, old);
    for (const std::string ext : {"flac", "mp3", "m4a", "wav", "wma"}) {
        // A 64 KiB file system holding a good file of the output's name,
        // which the run is told to overwrite.
        const std::string target = disk + "/noise." + ext;
        const std::string script =
            "mount -t tmpfs -o size=64k tmpfs " + Quote(disk) + " || exit 99; cp " + Quote(keep) +
            " " + Quote(target) + "; XDG_CONFIG_HOME=" + Quote(Config()) +
            " HOME=" + Quote(home_.path().string()) + " " + Quote(kCli) + " " + LangOption() +
            "-q -f " + ext + " --set TargetExistsOpt=22 -o " + Quote(disk) + " " + Quote(source) +
            " 2>/dev/null </dev/null; echo \"status=$?\"; cmp -s " + Quote(keep) + " " +
            Quote(target) + " && echo kept; ls -A " + Quote(disk);
        std::string out;
        const int status = RunInPrivateMounts(script, &out);
        if (status == -1 || status == 99 << 8 || status == 99) GTEST_SKIP() << "no tmpfs here";
        EXPECT_THAT(out, HasSubstr(T(kFailedRow) + " (")) << ext;
        EXPECT_THAT(out, HasSubstr("No space left on device")) << ext;
        EXPECT_THAT(out, HasSubstr("status=1\nkept\nnoise." + ext + "\n")) << ext << "\n" << out;
    }
}

// The disk fills while the tags and a large cover are written, after the
// audio fitted: every tagged container fails the file with the disk's
// reason and leaves nothing under a final name, the old target kept.
TEST_P(CliLanguageTest, ADiskThatFillsWhileTagsAreWrittenFailsTheFile) {
    const std::string source = work_.file("cover.flac");
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 1 -b 16 " + Quote(source) +
                               " synth 3 sine 440 vol 0.5"),
              0);
    TagInfo tags;
    tags.title = "With a cover";
    TagPicture cover;
    cover.mimeType = "image/jpeg";
    cover.data = "\xFF\xD8\xFF\xE0";
    for (size_t i = cover.data.size(); i < 1200 * 1024; ++i)
        cover.data += static_cast<char>((i * 2654435761u) >> 24);
    tags.pictures.push_back(cover);
    ASSERT_TRUE(WriteTagFile(source, TagFileKind::Flac, tags).saved);
    const std::string disk = work_.file("disk");
    fs::create_directory(disk);
    for (const std::string ext : {"mp3", "flac", "ogg", "opus", "m4a", "wma"}) {
        // Room for the audio, not for the cover.
        const std::string target = disk + "/cover." + ext;
        const std::string script =
            "mount -t tmpfs -o size=600k tmpfs " + Quote(disk) + " || exit 99; echo old > " +
            Quote(target) + "; XDG_CONFIG_HOME=" + Quote(Config()) +
            " HOME=" + Quote(home_.path().string()) + " " + Quote(kCli) + " " + LangOption() +
            "-q -f " + ext + " --set TargetExistsOpt=22 -o " + Quote(disk) + " " + Quote(source) +
            " 2>/dev/null </dev/null; echo \"status=$?\"; grep -qx old " + Quote(target) +
            " && echo kept; ls -A " + Quote(disk);
        std::string out;
        const int status = RunInPrivateMounts(script, &out);
        if (status == -1 || status == 99 << 8 || status == 99) GTEST_SKIP() << "no tmpfs here";
        EXPECT_THAT(out, HasSubstr(T(kFailedRow) + " (")) << ext;
        EXPECT_THAT(out, HasSubstr(std::strerror(ENOSPC))) << ext;
        EXPECT_THAT(out, HasSubstr("status=1\nkept\ncover." + ext + "\n")) << ext;
    }
}

// Standard output is a pipe whose reader is gone (`| head -1`): the run
// is not killed, says so, and leaves every output whole.
TEST_F(CliTest, AReaderThatWentAwayFailsTheRunAndLeavesNoPartFile) {
    const std::string in = work_.file("several");
    fs::create_directory(in);
    for (const char* name : {"a", "b", "c", "d"})
        ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(in + "/" + name + ".wav") +
                                   " synth 0.5 sine 440"),
                  0);
    const std::string out = work_.file("out");
    const std::string err = work_.file("err.txt");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const pid_t pid = SpawnCli("en", {"-q", "-j", "2", "-f", "mp3", "-o", out, in}, Config(),
                               home_.path(), "", fds[1], err);
    ::close(fds[1]);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_THAT(Slurp(err), HasSubstr("cannot write to standard output"));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
}

// A link that leads back to itself is skipped with a note, not failed.
TEST_P(CliLanguageTest, ALoopingLinkInAFolderIsSkippedWithANote) {
    const std::string in = work_.file("looping");
    fs::create_directory(in);
    fs::copy_file(In("c.au"), in + "/c.au");
    fs::create_symlink("self", in + "/self");
    fs::create_symlink("b.wav", in + "/a.wav");
    fs::create_symlink("a.wav", in + "/b.wav");
    const CliResult r = Cli("--probe " + Quote(in));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Lines().size(), 1u) << r.out;
    for (const char* link : {"/self", "/a.wav", "/b.wav"}) {
        std::string note = T(kLinkLoopSkippedNote);
        note.replace(note.find("%s"), 2, in + link);
        EXPECT_THAT(r.err, HasSubstr(note));
    }
}

TEST_P(CliLanguageTest, MergeNeverReplacesOneOfItsSources) {
    const std::string a = work_.file("a.wav");
    fs::copy_file(In("a.wav"), a);
    const auto before = testsupport::ReadFile(a);
    fs::create_symlink(a, work_.file("link.wav"));
    fs::create_hard_link(a, work_.file("hard.wav"));
    for (const std::string target : {"a.wav", "link.wav", "hard.wav"}) {
        CliResult r = Cli("-q -f wav --merge " + Quote(work_.file(target)) + " " + Quote(a) + " " +
                          Quote(In("c.au")));
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_THAT(r.err, HasSubstr(": " + T(kSameAsSourceMessage) + "\n")) << target;
        // Every row says why nothing was merged.
        EXPECT_THAT(r.out, HasSubstr("\t\t" + T(kSameAsSourceMessage) + "\nc.au\t")) << target;
        EXPECT_EQ(testsupport::ReadFile(a), before) << target;
    }
}

TEST_P(CliLanguageTest, AnExistingMergeTargetFollowsTheTargetPolicy) {
    const std::string all = work_.file("all.wav");
    const std::string sources = " " + Quote(In("a.wav")) + " " + Quote(In("c.au"));
    struct Case {
        int option;
        int status;
        const char* shown;  // output cell of the rows; empty: skipped
        bool oldKept;
    };
    for (const Case& c :
         {Case{11, 0, "all_1.wav", true}, Case{22, 0, "all.wav", false}, Case{33, 0, "", true}}) {
        fs::remove(work_.file("all_1.wav"));
        testsupport::WriteFile(all, std::string("old"));
        CliResult r = Cli("-q -f wav --set TargetExistsOpt=" + std::to_string(c.option) +
                          " --merge " + Quote(all) + sources);
        EXPECT_EQ(r.status, c.status) << c.option << r.err;
        EXPECT_EQ(testsupport::ReadFile(all).size() == 3, c.oldKept) << c.option;
        if (*c.shown) {
            ASSERT_EQ(r.Lines().size(), 2u);
            for (const std::string& line : r.Lines())
                EXPECT_THAT(line, ::testing::EndsWith(std::string("\t") + c.shown));
            EXPECT_EQ(Probe(work_.file(c.shown), "codec_name"), "pcm_s16le");
        } else {
            EXPECT_THAT(r.err, HasSubstr(all + ": " + T(kTargetExistsSkipped) + "\n"));
            EXPECT_THAT(r.out, ::testing::EndsWith("\t\t" + T(kTargetExistsSkipped) + "\n"));
            EXPECT_FALSE(fs::exists(work_.file("all_1.wav")));
        }
    }
    // A name with another format's extension gets the format's own.
    CliResult r = Cli("-q -f mp3 --merge " + Quote(work_.file("out.wav")) + sources);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("out.wav.mp3"));
    EXPECT_FALSE(fs::exists(work_.file("out.wav")));
    EXPECT_EQ(Probe(work_.file("out.wav.mp3"), "codec_name"), "mp3");
}

TEST_F(CliTest, TwoRunsWritingOneNameIntoOneFolderKeepBothOutputs) {
    const std::string out = work_.file("out");
    fs::create_directories(work_.file("a"));
    fs::create_directories(work_.file("b"));
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(work_.file("a/x.wav")) +
                               " synth 40 pinknoise vol 0.5"),
              0);
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 1 -b 16 " + Quote(work_.file("b/x.wav")) +
                               " synth 20 sine 440 vol 0.5"),
              0);
    const std::string env =
        "XDG_CONFIG_HOME=" + Quote(Config()) + " HOME=" + Quote(home_.path().string()) + " ";
    auto run = [&](const char* folder, const char* rows) {
        return env + Quote(kCli) + " " + LangOption() + "-q -f flac -o " + Quote(out) + " " +
               Quote(work_.file(std::string(folder) + "/x.wav")) + " >" + Quote(work_.file(rows)) +
               " 2>/dev/null </dev/null";
    };
    // Both choose x.flac at the start; the shorter one finishes first.
    const std::string script =
        "(" + run("a", "rows-a") + "; echo a=$?) & (" + run("b", "rows-b") + "; echo b=$?) & wait";
    std::string status;
    ASSERT_EQ(testsupport::Run("sh -c " + Quote(script), &status), 0);
    EXPECT_THAT(status, HasSubstr("a=0"));
    EXPECT_THAT(status, HasSubstr("b=0"));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"x.flac", "x_1.flac"}));
    const std::string rowA = Slurp(work_.file("rows-a")), rowB = Slurp(work_.file("rows-b"));
    const std::string nameA =
        rowA.substr(rowA.rfind('\t') + 1, rowA.find('\n') - rowA.rfind('\t') - 1);
    const std::string nameB =
        rowB.substr(rowB.rfind('\t') + 1, rowB.find('\n') - rowB.rfind('\t') - 1);
    EXPECT_NE(nameA, nameB);
    // Each row names its own file: the long stereo noise and the short tone.
    EXPECT_EQ(Probe(out + "/" + nameA, "channels"), "2");
    EXPECT_EQ(Probe(out + "/" + nameB, "channels"), "1");
}

TEST_F(CliTest, TheLongestLegalSourceNamesConvert) {
    std::string chinese;
    for (int i = 0; i < 82; ++i) chinese += "音";
    for (const std::string& stem : {std::string(246, 'l'), chinese}) {
        const std::string source = work_.file(stem + ".wav");  // 250 bytes
        fs::copy_file(In("a.wav"), source);
        CliResult r = Cli("-q -f mp3 -o " + Quote(work_.file("out")) + " " + Quote(source));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(Probe(work_.file("out/" + stem + ".mp3"), "codec_name"), "mp3");
    }
}

TEST_F(CliTest, WarnsWhenAFileHoldsLessThanItsHeaderClaims) {
    // Each cut to its header and about 0.05 s of samples.
    for (const auto& [ext, header] : {std::pair{"aiff", 54}, std::pair{"wav", 44}}) {
        SCOPED_TRACE(ext);
        const std::string full = work_.file(std::string("full.") + ext);
        ASSERT_EQ(testsupport::Run("sox -n -r 8000 -c 1 -b 16 " + Quote(full) +
                                   " synth 6 sine 440 vol 0.5"),
                  0);
        const auto bytes = testsupport::ReadFile(full);
        const std::string cut = work_.file(std::string("cut.") + ext);
        testsupport::WriteFile(cut,
                               std::vector<uint8_t>(bytes.begin(), bytes.begin() + header + 800));
        // Listed with the length its header claims.
        CliResult listed = Cli("--probe " + Quote(cut));
        EXPECT_THAT(listed.out, HasSubstr("00:06")) << listed.out;
        CliResult r = Cli("-q -f mp3 -o " + Quote(work_.file("out")) + " " + Quote(cut));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_THAT(r.err, HasSubstr(std::string("cut.") + ext +
                                     " is shorter than its header claims (header: 6.00 s, "
                                     "audio: 0.05 s)"));
        EXPECT_TRUE(fs::exists(work_.file("out/cut.mp3")));
        fs::remove(work_.file("out/cut.mp3"));
    }
}

}  // namespace

TEST_P(CliLanguageTest, DamagedFilesAreReportedQuietlyOneLineEach) {
    const std::string in = work_.file("damaged");
    fs::create_directory(in);
    // Real streams with their middles overwritten, and plain garbage.
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -f lavfi -i sine=d=2 -c:a aac " +
                               Quote(in + "/broken.aac")),
              0);
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -f lavfi -i sine=d=2 -ac 6 -c:a dca "
                               "-strict -2 " +
                               Quote(in + "/broken.dts")),
              0);
    for (const char* name : {"/broken.aac", "/broken.dts"}) {
        std::string bytes = Slurp(in + name);
        for (size_t i = bytes.size() / 4; i < bytes.size() * 3 / 4; ++i)
            bytes[i] = static_cast<char>(i * 31);
        testsupport::WriteFile(in + name, bytes);
    }
    testsupport::WriteFile(in + "/noise.wav", std::string(3000, '\x55'));
    // MPEG audio that breaks off into zeros, and random bytes named .mp3.
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -f lavfi -i sine=d=2 -c:a libmp3lame " +
                               Quote(work_.file("whole.mp3"))),
              0);
    const std::string whole = Slurp(work_.file("whole.mp3"));
    testsupport::WriteFile(in + "/cut.mp3",
                           whole.substr(0, whole.size() / 3) + std::string(500, '\0'));
    std::string noise(6000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    testsupport::WriteFile(in + "/noise.mp3", noise);
    const std::string missing = work_.file("missing.flac");
    const std::string out = work_.file("out");
    fs::create_directory(out);

    CliResult r = Cli("-q -f wav -o " + Quote(out) + " " + Quote(in) + " " + Quote(missing));
    EXPECT_EQ(r.status, 1);
    // No library's own log line, but every file that was not added, named
    // with its reason.
    EXPECT_EQ(r.err.find(" @ 0x"), std::string::npos) << r.err;
    for (const char* own : {"Note: ", "Warning: ", "[src/"})
        EXPECT_EQ(r.err.find(own), std::string::npos) << r.err;
    EXPECT_THAT(r.err, HasSubstr(missing + ": not added: not found\n"));
    EXPECT_THAT(r.err, HasSubstr(in + "/noise.wav: not added: no decoder accepts it\n"));
    // Every failure row says what failed.
    for (const std::string& line : r.Lines()) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(line.ends_with("\t" + T(kFailedRow)));
    }
}

TEST_F(CliTest, RowsEscapeTabsLineBreaksAndBackslashes) {
    const std::string in = work_.file("odd");
    fs::create_directory(in);
    const std::string name = "a\tb\\c\nd.au";
    fs::copy_file(In("c.au"), in + "/" + name);
    CliResult r = Cli("--probe " + Quote(in + "/" + name));
    ASSERT_EQ(r.Lines().size(), 1u) << r.out;
    EXPECT_THAT(r.Lines()[0], ::testing::StartsWith("a\\tb\\\\c\\nd.au\t00:01\t"));
}

TEST_P(CliLanguageTest, FilesNeverStartedAfterInterruptAreMarkedCancelled) {
    const std::string in = work_.file("two");
    fs::create_directory(in);
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(in + "/a.flac") +
                               " synth 300 sine 440 vol 0.5"),
              0);
    fs::copy_file(in + "/a.flac", in + "/b.flac");
    const std::string out = work_.file("out");
    fs::create_directory(out);
    const std::string rows = work_.file("rows.txt");
    const pid_t pid =
        SpawnCli(lang_, {"-j", "1", "-f", "mp3", "-o", out, in}, Config(), home_.path(), rows);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitForFiles(out, ".", 1));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    // The file in hand and the one never started: both cancelled.
    const std::string printed = Slurp(rows);
    EXPECT_THAT(printed, ::testing::StartsWith("a.flac\t"));
    EXPECT_THAT(printed, HasSubstr("\t\t" + T(kCancelledRow) + "\nb.flac\t05:00\t"));
    EXPECT_THAT(printed, ::testing::EndsWith("\t\t" + T(kCancelledRow) + "\n"));
}

TEST_F(CliTest, AnOutputInTheDocumentsFolderIsShownWithItsPathAndReason) {
    // A file stands where the output folder should be.
    const std::string blocked = work_.file("blocked");
    testsupport::WriteFile(blocked, std::string("not a folder"));
    CliResult r = Cli("-q -f wav -o " + Quote(blocked) + " " + Quote(In("c.au")));
    const std::string docs = home_.file("Documents") + "/c.wav";
    ASSERT_EQ(r.Lines().size(), 1u) << r.out;
    EXPECT_THAT(r.Lines()[0], ::testing::EndsWith("\t" + docs));
    EXPECT_THAT(r.err, HasSubstr(docs + ": written to the documents folder instead ("));
    EXPECT_TRUE(fs::exists(docs));
}

// ---- Signals, leftovers, unwritable rows, process limits ----

namespace {

// Waits for `pid` and returns its exit status (-1 when a signal ended it).
int ExitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST_F(CliTest, AHangUpLeavesNoPartialFileAndLaterRunsClearAKilledRunsLeftovers) {
    const std::string in = work_.file("in");
    fs::create_directory(in);
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(in + "/long.flac") +
                               " synth 300 sine 440 vol 0.5"),
              0);
    const std::string out = work_.file("out");
    fs::create_directory(out);
    const std::vector<std::string> args{"-j", "1", "-f", "mp3", "-o", out, in};

    // The terminal goes away: the run stops like on Ctrl+C.
    pid_t pid = SpawnCli(lang_, args, Config(), home_.path(), work_.file("rows1"));
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForFiles(out, ".quelvox.part-", 1));
    ::kill(pid, SIGHUP);
    EXPECT_EQ(ExitStatus(pid), 1);
    EXPECT_EQ(Names(out), std::vector<std::string>{});
    EXPECT_THAT(Slurp(work_.file("rows1")), ::testing::EndsWith("\t\t" + T(kCancelledRow) + "\n"));

    // A killed run cannot clean up; the next run into the folder does,
    // while a temporary file that a running conversion holds stays.
    pid = SpawnCli(lang_, args, Config(), home_.path(), work_.file("rows2"));
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForFiles(out, ".quelvox.part-", 1));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(ExitStatus(pid), -1);
    const std::vector<std::string> leftover = Names(out);
    ASSERT_EQ(leftover.size(), 1u);
    pid = SpawnCli(lang_, args, Config(), home_.path(), work_.file("rows3"));
    ASSERT_GT(pid, 0);
    // The run removes the leftover and writes its own temporary file.
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        names = Names(out);
        if (names.size() == 1 && names[0] != leftover[0]) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(names.size(), 1u);
    EXPECT_NE(names[0], leftover[0]);
    // Another run into the folder leaves that one, which is held, alone.
    CliResult r = Cli("-q -f mp3 -o " + Quote(out) + " " + Quote(In("c.au")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Names(out), (std::vector<std::string>{names[0], "c.mp3"}));
    ::kill(pid, SIGINT);
    EXPECT_EQ(ExitStatus(pid), 1);
    EXPECT_EQ(Names(out), std::vector<std::string>{"c.mp3"});
}

TEST_P(CliLanguageTest, RowsThatCannotBeWrittenFailTheRun) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string err = work_.file("err.txt");
    const std::string env =
        "XDG_CONFIG_HOME=" + Quote(Config()) + " HOME=" + Quote(home_.path().string()) + " ";
    for (const std::string& args :
         {"--probe " + Quote(In()),
          "-q -f wav -o " + Quote(work_.file("out")) + " " + Quote(In("c.au")),
          std::string("--list-formats"), std::string("--help")}) {
        SCOPED_TRACE(args);
        const int status = testsupport::Run(env + Quote(kCli) + " " + LangOption() + args +
                                            " >/dev/full 2>" + Quote(err) + " </dev/null");
        EXPECT_EQ(status, 1);
        EXPECT_THAT(Slurp(err), HasSubstr("quelvox-cli: cannot write to standard output: " +
                                          std::string(std::strerror(ENOSPC)) + "\n"));
    }
}

TEST_P(CliLanguageTest, MergeRowsOfAMergeThatWasNotKeptClaimNoOutput) {
    // Cancelled: the existing target keeps its content, and no row claims
    // to have been written into it.
    const std::string in = work_.file("long");
    fs::create_directory(in);
    ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(in + "/a.flac") +
                               " synth 300 sine 440 vol 0.5"),
              0);
    fs::copy_file(in + "/a.flac", in + "/b.flac");
    const std::string folder = work_.file("merged");
    fs::create_directory(folder);
    const std::string target = folder + "/all.wav";
    testsupport::WriteFile(target, std::string("old"));
    const pid_t pid =
        SpawnCli(lang_, {"-f", "wav", "--set", "TargetExistsOpt=22", "--merge", target, in},
                 Config(), home_.path(), work_.file("rows.txt"));
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForFiles(folder, ".quelvox.part-", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(pid, SIGINT);
    EXPECT_EQ(ExitStatus(pid), 1);
    EXPECT_EQ(Slurp(target), "old");
    EXPECT_EQ(Names(folder), std::vector<std::string>{"all.wav"});
    const std::string rows = Slurp(work_.file("rows.txt"));
    EXPECT_THAT(rows, ::testing::StartsWith("a.flac\t"));
    EXPECT_THAT(rows, HasSubstr("\t\t" + T(kCancelledRow) + "\nb.flac\t"));
    EXPECT_THAT(rows, ::testing::EndsWith("\t\t" + T(kCancelledRow) + "\n"));

    // A merge that fails on a full disk: every row says so, none shows a
    // volume.
    const std::string disk = work_.file("disk");
    fs::create_directory(disk);
    const std::string script = "mount -t tmpfs -o size=64k tmpfs " + Quote(disk) +
                               " || exit 99; XDG_CONFIG_HOME=" + Quote(Config()) +
                               " HOME=" + Quote(home_.path().string()) + " " + Quote(kCli) + " " +
                               LangOption() + "-q -f wav --merge " + Quote(disk + "/all.wav") +
                               " " + Quote(In("a.wav")) + " " + Quote(In("b.ogg")) +
                               " 2>/dev/null </dev/null; ls -A " + Quote(disk);
    std::string out;
    const int status = RunInPrivateMounts(script, &out);
    if (status == -1 || status == 99) GTEST_SKIP() << "no tmpfs here";
    // Two rows, both failed, and no file left.
    const std::regex failed("a\\.wav\t[^\n]*\t\t" + T(kFailedRow) +
                            " \\([^\n]*\nb\\.ogg\t[^\n]*\t\t" + T(kFailedRow) + " \\([^\n]*\n");
    EXPECT_TRUE(std::regex_match(out, failed)) << out;
}

TEST_P(CliLanguageTest, APathLongerThanTheSystemTakesIsSaidToBeTooLong) {
    // About 5000 bytes of folders, made one level at a time (relative to
    // the one before: the whole path is too long for the system).
    const std::string level(200, 'd');
    std::string path = work_.path().string();
    int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < 25 && folder >= 0; ++i) {
        ASSERT_EQ(::mkdirat(folder, level.c_str(), 0755), 0);
        const int inner = ::openat(folder, level.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = inner;
        path += "/" + level;
    }
    ASSERT_GE(folder, 0);
    const std::string bytes = Slurp(In("c.au"));
    const int file = ::openat(folder, "c.au", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ::close(folder);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(file);
    path += "/c.au";
    ASSERT_GT(path.size(), 4096u);
    CliResult r = Cli("--probe " + Quote(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(path + ": not added: " + T(kPathTooLongReason) + "\n"));
}

TEST_F(CliTest, ManyJobsUnderAProcessLimitStillConvertEveryFile) {
    // The limit counts the threads of one user and does not bind root: run
    // as nobody then, in folders nobody may use.
    const bool root = ::geteuid() == 0;
    if (root && testsupport::Run("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
        GTEST_SKIP() << "cannot run as another user here";
    const std::string shared = work_.file("shared");
    fs::create_directories(shared + "/in");
    fs::create_directories(shared + "/config");
    for (int i = 0; i < 12; ++i)
        fs::copy_file(In("c.au"), shared + "/in/" + std::to_string(i) + ".au");
    testsupport::Run("chmod -R a+rwX " + Quote(work_.path().string()));
    const std::string as = root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    // One process and no thread at all, then a few threads. Under the
    // sanitizers the leak check is left out: it needs a thread of its own
    // at exit, which the limit refuses.
    for (const int limit : {1, 3}) {
        SCOPED_TRACE(limit);
        const std::string out = shared + "/out" + std::to_string(limit);
        const std::string command = as + "prlimit --nproc=" + std::to_string(limit) +
                                    " env ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                                    "detect_leaks=0\" XDG_CONFIG_HOME=" +
                                    Quote(shared + "/config") +
                                    " HOME=" + Quote(shared) + " " + Quote(kCli) +
                                    " -q -j 9999 -f wav -o " + Quote(out) + " " +
                                    Quote(shared + "/in") + " 2>&1 </dev/null";
        std::string printed;
        EXPECT_EQ(testsupport::Run(command, &printed), 0) << printed;
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 12) << printed;
        EXPECT_EQ(Names(out).size(), 12u);
    }
}

TEST_F(CliTest, TheHelpsSettingExampleTakesEffect) {
    const CliResult help = Cli("--help");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(help.out, m, std::regex("e\\.g\\. (--set [^ ]+ --set [^:)]+)")))
        << help.out;
    const std::string example = m[1];
    ASSERT_THAT(example, HasSubstr("MP3BitRate=192000"));
    CliResult r =
        Cli("-q -f mp3 " + example + " -o " + Quote(work_.file("out")) + " " + Quote(In("a.wav")));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(work_.file("out/a.mp3"), "bit_rate"), "192000");
}

TEST_P(CliLanguageTest, ACueSheetConvertsTrackByTrackAndABrokenOneSaysWhy) {
    const std::string folder = work_.file("album");
    fs::create_directories(folder);
    fs::copy_file(In("a.wav"), folder + "/image.wav");
    testsupport::WriteFile(folder + "/album.cue",
                           std::string("TITLE \"Two\"\nFILE \"image.wav\" WAVE\n"
                                       "  TRACK 01 AUDIO\n    TITLE \"Left/Right\"\n"
                                       "    INDEX 01 00:00:00\n"
                                       "  TRACK 02 AUDIO\n    TITLE \"Rest\"\n"
                                       "    INDEX 01 00:01:00\n"));
    testsupport::WriteFile(folder + "/broken.cue", std::string("TRACK ((\n"));
    const std::string out = work_.file("out");
    CliResult r = Cli("-q -f wav -o " + Quote(out) + " " + Quote(folder));
    EXPECT_EQ(r.status, 1);  // the broken sheet was not added
    EXPECT_NE(r.err.find("broken.cue: not added: the CUE sheet does not parse"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(T("CUE 表单无法解析.")), std::string::npos) << r.err;
    // Two rows named after the tracks, one output each; the image the
    // sheet names is not listed once more as a whole.
    EXPECT_EQ(r.Lines().size(), 2u) << r.out;
    EXPECT_FALSE(fs::exists(out + "/image.wav"));
    EXPECT_NE(r.out.find("01 - Left/Right\t00:01"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("02 - Rest\t00:01"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(out + "/01 - Left_Right.wav"));
    EXPECT_TRUE(fs::exists(out + "/02 - Rest.wav"));
    EXPECT_EQ(testsupport::DecodeWithFfmpeg(out + "/01 - Left_Right.wav").size() +
                  testsupport::DecodeWithFfmpeg(out + "/02 - Rest.wav").size(),
              testsupport::DecodeWithFfmpeg(folder + "/image.wav").size());
}

TEST_P(CliLanguageTest, ALegacySheetIsReadWhenAddedAndItsParserSpeaksOnlyWithVerbose) {
    const std::string folder = work_.file("sheets");
    fs::create_directories(folder);
    fs::copy_file(In("a.wav"), folder + "/image.wav");
    std::string gbk;
    ASSERT_EQ(Utf8ToCharset("TITLE \"叶惠美\"\nFILE \"image.wav\" WAVE\n"
                            "  TRACK 01 AUDIO\n    TITLE \"以父之名\"\n    INDEX 01 00:00:00\n"
                            "  TRACK 02 AUDIO\n    TITLE \"晴天\"\n    INDEX 01 00:01:00\n",
                            "GBK", gbk),
              0);
    testsupport::WriteFile(folder + "/gbk.cue", gbk);
    // In either locale, detected or named: the same titles.
    for (const char* locale : {"LANG=zh_CN.UTF-8", "LANG=en_US.UTF-8"})
        for (const char* set : {"", "--set TagCodePage=GBK "}) {
            SCOPED_TRACE(std::string(locale) + " " + set);
            const CliResult r = Cli(std::string("--probe ") + set + Quote(folder + "/gbk.cue"),
                                    std::string("LC_ALL= ") + locale);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_THAT(r.out, HasSubstr("01 - 以父之名\t")) << r.out;
            EXPECT_THAT(r.out, HasSubstr("02 - 晴天\t")) << r.out;
        }

    // A sheet of 150 tracks is listed with its first 99, and says so.
    std::string text = "FILE \"image.wav\" WAVE\n";
    for (int i = 0; i < 150; ++i) {
        char track[80];
        std::snprintf(track, sizeof track, "  TRACK %02d AUDIO\n    INDEX 01 00:%02d:%02d\n", i + 1,
                      i / 75, i % 75);
        text += track;
    }
    testsupport::WriteFile(folder + "/long.cue", text);
    CliResult r = Cli("--probe " + Quote(folder + "/long.cue"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Lines().size(), 99u);
    EXPECT_THAT(r.err, HasSubstr(lang_ == "en" ? "only the first 99 tracks are listed"
                                               : "只列出了前 99 个音轨"));
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("too many tracks")));

    // A broken and a binary sheet: refused with their reason; what the
    // parser says of them only with -v.
    testsupport::WriteFile(folder + "/broken.cue", std::string("TRACK ((\n"));
    std::string binary(2000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(1 + (i * 7) % 250);
    testsupport::WriteFile(folder + "/binary.cue", binary);
    const std::string sheets = Quote(folder + "/broken.cue") + " " + Quote(folder + "/binary.cue");
    r = Cli("--probe " + sheets);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("broken.cue: not added: the CUE sheet does not parse"));
    for (const char* library : {"libcue: ", "syntax error", "bad character", "\x01"})
        EXPECT_THAT(r.err, ::testing::Not(HasSubstr(library))) << r.err;
    r = Cli("-v --probe " + sheets);
    EXPECT_THAT(r.err, HasSubstr("libcue: "));
    EXPECT_THAT(r.err, ::testing::Not(HasSubstr("\x01")));
}

// Sources of one sample and of 13 ms: every lossy output holds audio of
// about their length (the codec's frames round it up).
TEST_F(CliTest, TinySourcesGiveAudioInEveryLossyFormat) {
    const std::string in = work_.file("tiny");
    fs::create_directories(in);
    const struct {
        const char* name;
        int frames;
    } sources[] = {{"one", 1}, {"ms13", 573}};
    for (const auto& source : sources)
        testsupport::WriteWav(in + "/" + source.name + ".wav", 44100, 2,
                              testsupport::Sine(source.frames, 2, 44100, 440));
    for (const char* format : {"mp3", "m4a", "ogg", "opus", "ac3", "mp2", "wma", "amr"}) {
        const std::string out = work_.file(std::string("tiny-") + format);
        const CliResult r = Cli("-q -f " + std::string(format) + " -o " + Quote(out) + " " +
                                Quote(in));
        EXPECT_EQ(r.status, 0) << format << r.err;
        for (const auto& source : sources) {
            const std::string file = out + "/" + source.name + "." + format;
            SCOPED_TRACE(file);
            EXPECT_EQ(Probe(file, "codec_type"), "audio");
            const double rate = testsupport::ProbeNumber(file, "sample_rate");
            const double channels = testsupport::ProbeNumber(file, "channels");
            ASSERT_GT(rate * channels, 0.0);
            const double seconds =
                static_cast<double>(testsupport::DecodeWithFfmpeg(file).size()) / channels / rate;
            EXPECT_GT(seconds, 0.0);
            EXPECT_LT(seconds, source.frames / 44100.0 + 0.1);
        }
    }
}

namespace {

// Integrated loudness (LUFS) and true peak (dBTP) of a file, as ffmpeg's
// EBU R128 meter reports them in its summary.
struct R128 {
    double loudness = 0.0;
    double peak = 0.0;
};
R128 MeasureR128(const std::string& path) {
    std::string log;
    testsupport::Run("ffmpeg -nostdin -nostats -i " + Quote(path) +
                         " -af ebur128=peak=true -f null - 2>&1",
                     &log);
    // The summary comes last, after a line per 100 ms that also holds "I:".
    auto last = [&log](const char* pattern) {
        const std::regex re(pattern);
        std::string value;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), re);
             it != std::sregex_iterator(); ++it)
            value = (*it)[1];
        EXPECT_FALSE(value.empty()) << pattern << "\n" << log;
        return value.empty() ? 0.0 : std::stod(value);
    };
    R128 m;
    m.loudness = last(R"(I:\s+(-?[0-9.]+) LUFS)");
    m.peak = last(R"(Peak:\s+(-?[0-9.]+) dBFS)");
    return m;
}

// A ReplayGain tag's number: "-2.00 dB" gives -2.
double TagNumber(const std::string& path, const std::string& tag) {
    const std::string text = ProbeTag(path, tag);
    EXPECT_FALSE(text.empty()) << path << " lacks " << tag;
    return text.empty() ? 0.0 : std::stod(text);
}

// Inputs of the loudness tests: a 1 kHz tone at -20 dBFS (about -20 LUFS)
// and one at -30, 16-bit, and pink noise at about -36 LUFS with peaks some
// 10 dB above its loudness, 24-bit FLAC at 48 kHz.
class CliLoudnessTest : public CliTest {
protected:
    void SetUp() override {
        tone_ = work_.file("tone.wav");
        quiet_ = work_.file("quiet.wav");
        pink_ = work_.file("pink.flac");
        ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(tone_) +
                                   " synth 5 sine 1000 vol 0.1"),
                  0);
        ASSERT_EQ(testsupport::Run("sox -n -r 44100 -c 2 -b 16 " + Quote(quiet_) +
                                   " synth 5 sine 1000 vol 0.0316"),
                  0);
        ASSERT_EQ(testsupport::Run("sox -R -n -r 48000 -c 2 -b 24 " + Quote(pink_) +
                                   " synth 5 pinknoise vol 0.05"),
                  0);
    }
    std::string tone_, quiet_, pink_;
};

// MP3 at 320 kbit/s: at low bit rates the encoder itself lowers the level
// (some 0.4 dB at 128 kbit/s, as ffmpeg's own encoding does).
const char* const kMp3AtFullRate =
    "-f mp3 --set MP3AutoEncParam=0 --set MP3BitRate=320000 --set MP3SampleRate=44100 "
    "--set MP3Channels=2 ";

TEST_F(CliLoudnessTest, ToneAndNoiseReachTheTargetWithTheirPeaksUnderTheCeiling) {
    const std::string out = work_.file("out");
    CliResult r = Cli("-q " + std::string(kMp3AtFullRate) + "-o " + Quote(out) +
                      " --loudness -16 " + Quote(tone_) + " " + Quote(pink_));
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"tone.mp3", "pink.mp3"}) {
        const R128 m = MeasureR128(out + "/" + name);
        EXPECT_NEAR(m.loudness, -16.0, 0.5) << name;
        EXPECT_LE(m.peak, -1.0 + 0.2) << name;
    }
    // A ceiling the target would pass: the limiter holds the noise's peaks
    // at -9 dBTP and it still reaches the target; without the limiter the
    // gain stops there, and standard error says where.
    struct Case {
        const char* option;
        bool held;
    };
    for (const Case c : {Case{"", false}, Case{"--no-limiter ", true}}) {
        SCOPED_TRACE(c.option);
        r = Cli(std::string(c.option) + "-f mp3 -o " + Quote(work_.file("ceiling")) +
                " --loudness -14 --set TruePeakCeiling=-90 --set TargetExistsOpt=22 " +
                Quote(pink_));
        ASSERT_EQ(r.status, 0) << r.err;
        const R128 limited = MeasureR128(work_.file("ceiling") + "/pink.mp3");
        EXPECT_LE(limited.peak, -9.0 + 0.2);
        if (c.held) {
            EXPECT_LT(limited.loudness, -15.0);
            std::smatch m;
            ASSERT_TRUE(std::regex_search(
                r.err, m, std::regex("pink\\.flac: 受真峰值上限所限, 响度停在 (-[0-9]+\\.[0-9]) LUFS")))
                << r.err;
            EXPECT_NEAR(std::stod(m[1].str()), limited.loudness, 0.5);
        } else {
            // Noise with 5 dB between its loudness and the ceiling keeps the
            // limiter at work throughout; it comes within 2 LU.
            EXPECT_NEAR(limited.loudness, -14.0, 2.0);
            EXPECT_EQ(r.err.find("LUFS"), std::string::npos) << r.err;
        }
    }
}

TEST_F(CliLoudnessTest, AnAlbumGetsOneGainAndKeepsItsLevelDifferences) {
    const std::string out = work_.file("album");
    CliResult r = Cli("-q -f mp3 -o " + Quote(out) + " --album --loudness -16 " + Quote(tone_) +
                      " " + Quote(quiet_));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 2u);
    // The volume cells: one gain for both.
    auto volume = [](const std::string& line) {
        std::smatch m;
        std::regex_search(line, m, std::regex("\t([0-9.]+%)\t"));
        return m.empty() ? std::string() : m[1].str();
    };
    EXPECT_EQ(volume(lines[0]), volume(lines[1]));
    EXPECT_NE(volume(lines[0]), "100.00%");
    const R128 loud = MeasureR128(out + "/tone.mp3");
    const R128 soft = MeasureR128(out + "/quiet.mp3");
    EXPECT_NEAR(loud.loudness - soft.loudness, 10.0, 0.3);
    EXPECT_LE(loud.peak, -1.0 + 0.2);
}

TEST_F(CliLoudnessTest, ReplayGainTagsDescribeEachOutputInEveryContainer) {
    // The level kept: the tags say how far the tone is from -18 LUFS.
    for (const char* format : {"mp3", "flac", "ogg", "m4a"}) {
        const std::string out = work_.file(std::string("rg-") + format);
        CliResult r = Cli("-q -f " + std::string(format) + " -o " + Quote(out) +
                          " --replaygain --set VolumeType=2 " + Quote(tone_));
        ASSERT_EQ(r.status, 0) << format << r.err;
        const std::string file = out + "/tone." + format;
        // As the file decodes (a lossy encoder changes the level a little).
        const R128 decoded = MeasureR128(file);
        EXPECT_NEAR(TagNumber(file, "REPLAYGAIN_TRACK_GAIN"), -18.0 - decoded.loudness, 0.1)
            << format;
        EXPECT_NEAR(20 * std::log10(TagNumber(file, "REPLAYGAIN_TRACK_PEAK")), decoded.peak, 0.2)
            << format;
        EXPECT_EQ(ProbeTag(file, "REPLAYGAIN_ALBUM_GAIN"), "") << format;
        // The audio itself is untouched.
        EXPECT_NEAR(MeasureR128(file).loudness, -20.0, 0.6) << format;
    }
    // Brought to -16 LUFS, as one album with the quiet tone: the tags
    // describe the output, the album values both files together.
    const std::string out = work_.file("rg-album");
    CliResult r = Cli("-q -f mp3 -o " + Quote(out) + " --album --replaygain --loudness -16 " +
                      Quote(tone_) + " " + Quote(quiet_));
    ASSERT_EQ(r.status, 0) << r.err;
    // The album is at -16 LUFS (2 dB over the reference), its files 10 dB
    // apart as before.
    const double album = TagNumber(out + "/tone.mp3", "REPLAYGAIN_ALBUM_GAIN");
    EXPECT_NEAR(album, -2.0, 0.1);
    EXPECT_EQ(album, TagNumber(out + "/quiet.mp3", "REPLAYGAIN_ALBUM_GAIN"));
    const double loud = TagNumber(out + "/tone.mp3", "REPLAYGAIN_TRACK_GAIN");
    EXPECT_NEAR(TagNumber(out + "/quiet.mp3", "REPLAYGAIN_TRACK_GAIN") - loud, 10.0, 0.1);
    EXPECT_LT(loud, album);
    EXPECT_NEAR(MeasureR128(out + "/tone.mp3").loudness, -18.0 - loud, 0.6);
}

// A float source holding NaN, infinities and values of 1e30 among a quiet
// tone: every written value is finite, the ceiling holds, and the
// ReplayGain tags describe what the outputs received.
TEST_F(CliLoudnessTest, HostileFloatSamplesLeaveFiniteOutputsUnderTheCeiling) {
    std::vector<float> samples(44100 * 2 * 3);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.1f * static_cast<float>(std::sin(static_cast<double>(i / 2) * 0.1425));
    const float hostile[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), 1e30f, -1e30f};
    for (size_t i = 0; i < samples.size(); i += 97) samples[i] = hostile[(i / 97) % 5];
    std::vector<uint8_t> data(samples.size() * 4);
    std::memcpy(data.data(), samples.data(), data.size());
    const std::string source = work_.file("hostile.wav");
    testsupport::WriteFile(source, testsupport::WavFileBytes(3, 2, 44100, 32, data));

    // What a target may exceed the ceiling by: a lossy encoder rings
    // around the clicks it is given.
    const struct {
        const char* name;
        std::string options;
        bool tags;
        double overshootDb;
    } targets[] = {
        {"mp3", kMp3AtFullRate, true, 0.5},
        {"flac", "-f flac ", true, 0.1},
        {"wav", "-f wav ", false, 0.1},
        {"float wav", "-f wav --set WAVAutoEncParam=0 --set WAVCodecID=65557 ", false, 0.1},
    };
    for (const auto& target : targets) {
        SCOPED_TRACE(target.name);
        const std::string out = work_.file(std::string("hostile-") + target.name);
        const CliResult r =
            Cli("-q " + target.options + "-o " + Quote(out) + " --loudness -16 --replaygain " +
                Quote(source));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string file = out + "/hostile." + (target.tags ? target.name : "wav");
        // Every written value finite, the peaks under -1 dBTP.
        std::string floats;
        testsupport::Run("ffmpeg -v error -nostdin -i " + Quote(file) + " -f f32le -", &floats);
        ASSERT_FALSE(floats.empty());
        float peak = 0.0f;
        for (size_t at = 0; at + 4 <= floats.size(); at += 4) {
            float v;
            std::memcpy(&v, floats.data() + at, 4);
            ASSERT_TRUE(std::isfinite(v)) << at;
            peak = std::max(peak, std::fabs(v));
        }
        EXPECT_LE(peak, std::pow(10.0, (-1.0 + target.overshootDb) / 20.0));
        const R128 m = MeasureR128(file);
        EXPECT_LE(m.peak, -1.0 + target.overshootDb);
        // The clicks the huge values leave (at the largest value a sample
        // keeps) are what the ceiling holds down, so the level stays below
        // the target; the tags describe the output as it is.
        EXPECT_LT(m.loudness, -16.0 + 0.5);
        if (target.tags) {
            EXPECT_NEAR(TagNumber(file, "REPLAYGAIN_TRACK_GAIN"), -18.0 - m.loudness, 1.0);
            EXPECT_LE(TagNumber(file, "REPLAYGAIN_TRACK_PEAK"), 1.0);
        }
    }
}

// A float tone at +12 dBFS, its level kept: a target that clips at full
// scale receives it clipped, and the ReplayGain tags describe that.
TEST_F(CliLoudnessTest, ReplayGainOfAnOverloudFloatSourceDescribesTheClippedOutput) {
    std::vector<float> samples(44100 * 2 * 3);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 1.6f * static_cast<float>(std::sin(static_cast<double>(i / 2) * 0.1425));
    std::vector<uint8_t> data(samples.size() * 4);
    std::memcpy(data.data(), samples.data(), data.size());
    const std::string source = work_.file("loud.wav");
    testsupport::WriteFile(source, testsupport::WavFileBytes(3, 2, 44100, 32, data));
    // FLAC receives the wave clipped at full scale; the lossy outputs are
    // described as they decode (AAC rings above the clipped wave).
    const std::pair<const char*, bool> targets[] = {{"flac", false}, {"m4a", true}, {"mp3", true}};
    for (const auto& [format, lossy] : targets) {
        SCOPED_TRACE(format);
        const std::string out = work_.file(std::string("loud-") + format);
        const CliResult r = Cli("-q -f " + std::string(format) + " -o " + Quote(out) +
                                " --replaygain --set VolumeType=2 " + Quote(source));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string file = out + "/loud." + format;
        const R128 decoded = MeasureR128(file);
        EXPECT_NEAR(TagNumber(file, "REPLAYGAIN_TRACK_GAIN"), -18.0 - decoded.loudness,
                    lossy ? 0.1 : 1.0);
        if (lossy)
            EXPECT_NEAR(20 * std::log10(TagNumber(file, "REPLAYGAIN_TRACK_PEAK")), decoded.peak, 0.2);
        else
            EXPECT_NEAR(TagNumber(file, "REPLAYGAIN_TRACK_PEAK"), 1.0, 0.01);
    }
}

TEST_F(CliLoudnessTest, TheOptionsAreTheSettingsAndBadValuesAreRefused) {
    // Anything but a whole number within -31..-14 is wrong usage.
    CliResult r;
    for (const char* bad : {"loud", "0", "5", "-13", "-32", "1e9", "-16.5", "-0"}) {
        r = Cli("-q --loudness " + std::string(bad) + " " + Quote(tone_));
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_THAT(r.err, HasSubstr("--loudness")) << bad;
    }
    // A target beyond the accepted range is taken as its nearest end.
    const std::string out = work_.file("clamped");
    r = Cli("-q -f wav -o " + Quote(out) + " --set VolumeType=3 --set LoudnessTarget=-40 " +
            Quote(tone_));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(MeasureR128(out + "/tone.wav").loudness, -31.0, 0.2);
    EXPECT_THAT(Cli("--help").out, HasSubstr("--replaygain"));
}

// The option's range is the stored setting's, as declared: both ends are
// taken, one beyond either end is wrong usage, and the help names them.
TEST_F(CliLoudnessTest, TheOptionTakesTheSettingsDeclaredRange) {
    const SettingDecl& target = setting::LoudnessTarget;
    const std::pair<int, int> cases[] = {{target.minimum, 0},
                                         {target.maximum, 0},
                                         {target.minimum - 1, 2},
                                         {target.maximum + 1, 2}};
    for (const auto& [lufs, status] : cases)
        EXPECT_EQ(Cli("-q --probe --loudness " + std::to_string(lufs) + " " + Quote(tone_)).status,
                  status)
            << lufs;
    EXPECT_THAT(Cli("--help").out, HasSubstr("R128, " + std::to_string(target.minimum) + " to " +
                                             std::to_string(target.maximum) + ")"));
}

}  // namespace

namespace {

TEST_F(CliLoudnessTest, MeasuringForReplayGainLeavesTheOldModesOutputsAsTheyWere) {
    for (const char* mode : {"0", "1 --set Volume=150"}) {
        const std::string plain = work_.file(std::string("plain") + mode[0]);
        const std::string measured = work_.file(std::string("measured") + mode[0]);
        const std::string files = " " + Quote(tone_) + " " + Quote(pink_);
        CliResult r = Cli("-q -f wav -o " + Quote(plain) + " --set VolumeType=" + mode + files);
        ASSERT_EQ(r.status, 0) << r.err;
        r = Cli("-q -f wav -o " + Quote(measured) + " --album --replaygain --set VolumeType=" +
                mode + files);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const char* name : {"/tone.wav", "/pink.wav"})
            EXPECT_EQ(Slurp(plain + name), Slurp(measured + name)) << mode << name;
    }
}

}  // namespace
