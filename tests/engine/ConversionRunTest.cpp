// Conversion runs over several files, one output each or one merged output:
// row texts, cancel, the file manager, and the runtime questions.
#include "engine/ConversionJob.h"
#include "engine/ConversionRun.h"
#include "engine/RunPlan.h"

#include "common/InputType.h"
#include "common/FormatCatalogue.h"
#include "engine/Normalise.h"
#include "engine/CodecRuntime.h"
#include "platform/DataFolders.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// The front end of a run as the tests see it: the plan's questions and the
// run's events, with rows shown as the list rows 10, 11, …; cancels the
// job once the file `cancelAtFile` (1-based) starts converting, through
// Cancel or, given `outside`, by setting that flag (as Ctrl+C does).
class CFakeHost : public IRunEvents, public IPlanHost {
public:
    void SetVolumeCell(int row, const std::string& text) override { volume[row + 10] = text; }
    void SetOutputCell(int row, const Text& text) override {
        output[row + 10] = text.Source();
        history[row + 10].push_back(text.Source());
        if (!text.Is(kConvertingRow)) return;
        convertingThreads.insert(std::this_thread::get_id());
        if (row + 1 != cancelAtFile) return;
        if (outside)
            outside->store(true);
        else if (job)
            job->Cancel();
    }
    void WidenOutputColumn() override { ++widened; }
    void NoteFile(const Text& note) override { notes.push_back(note.Source()); }
    void Progress(const RunProgress& p) override {
        ++progressEvents;
        if (!p.runText.empty()) runTexts.push_back(p.runText.Source());
    }
    bool ShowsProgress() const override { return showsProgress; }
    void Finished(const RunOutcome& outcome) override {
        if (outcome.started) ++progressOpened;
        if (!outcome.warning.empty()) warnings.push_back(outcome.warning.Source());
        if (!outcome.browsePath.empty()) shown.push_back(outcome.browsePath);
    }
    bool AskQuestion(const Text& text) override {
        questions.push_back(text.Source());
        return answerYes;
    }
    void OpenInBrowser(const std::string& address) override { browsed.push_back(address); }
    void OpenFolder(const std::string& folder) override { folders.push_back(folder); }

    CConversionJob* job = nullptr;
    int cancelAtFile = -1;
    std::atomic<bool>* outside = nullptr;
    bool showsProgress = true;
    int progressEvents = 0;
    std::set<std::thread::id> convertingThreads;
    std::map<int, std::string> volume, output;
    std::map<int, std::vector<std::string>> history;  // every output text of a row
    std::vector<std::string> questions, warnings, browsed, folders, shown, runTexts, notes;
    std::string mergedPath;
    bool answerYes = false;
    int progressOpened = 0, widened = 0;
};

}  // namespace

class ConversionRunTest : public ::testing::Test {
protected:
    TempDir dir;
    CSettings settings{""};
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    CCodecRuntime runtime;
    WmaFormatList wmaFormats;
    RunState state;
    CFakeHost host;
    std::unique_ptr<CRunReaderServices> readers;
    std::vector<FileEntry> entries;

    void SetUp() override {
        runtime.Start(ExecutableFolder());
        readers = std::make_unique<CRunReaderServices>(runtime, wmaFormats, &host);
        settings.DestOutputFolderOpt = 399;
        settings.DestSpecifiedFolder = dir.file("out");
        fs::create_directory(dir.file("out"));
    }

    RunEnvironment Env() { return RunEnvironment{settings, runtime, *readers, wmaFormats, state}; }

    void Add(const std::string& name, const std::string& ffmpegArgs) {
        std::string path = dir.file(name);
        ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y " + ffmpegArgs + " " + Quote(path)),
                  0);
        FileEntry e;
        e.Path = path;
        e.InputType = InputTypeOf(path);
        // Properties as the list would have probed them.
        e.SampleRate = std::atoi(Probe(path, "sample_rate").c_str());
        e.Channels = std::atoi(Probe(path, "channels").c_str());
        entries.push_back(e);
    }

    std::vector<FileEntry*> Pointers() {
        std::vector<FileEntry*> v;
        for (auto& e : entries) v.push_back(&e);
        return v;
    }
    // Plans as a front end does (the runtimes' questions, the merged
    // target), then runs the job on this thread with `jobs` workers.
    void RunPlanned(RunEnvironment env, int code, bool merged, int jobs = 1) {
        const OutputFormatEntry& format = *FindFormat(catalogue, code);
        RunPlan plan;
        plan.entries = Pointers();
        plan.format = &format;
        plan.jobs = jobs;
        plan.merged = merged;
        if (!SettleRunRuntimes(env, host, plan.entries, format)) return;
        if (merged) {
            plan.target = SettleMergedTarget(host.mergedPath, format, plan.entries,
                                             settings.TargetExistsOpt, true);
            ASSERT_FALSE(plan.target.path.empty());
        }
        CConversionJob job(settings, env.runtime, wmaFormats, env.state, std::move(plan), host,
                           host.outside);
        host.job = &job;
        job.Run();
        host.job = nullptr;
    }
    void Each(int code) { RunPlanned(Env(), code, false); }
    void Merge(int code) { RunPlanned(Env(), code, true); }
};

TEST_F(ConversionRunTest, SecondFileWithoutAudioFailsAloneAndTheFirstOutputIsShown) {
    Add("one.wav", "-f lavfi -i sine=duration=1");
    Add("two.mkv", "-f lavfi -i testsrc=size=32x32:rate=5:duration=1 -c:v mpeg4");
    Add("three.ogg", "-f lavfi -i sine=duration=1 -c:a libvorbis");
    Each(kFormatMp3);
    EXPECT_EQ(host.output[10], "one.mp3");
    EXPECT_EQ(host.output[11], "在文件中无音频");
    EXPECT_EQ(host.output[12], "three.mp3");
    EXPECT_EQ(host.volume[10], "100.00%");
    EXPECT_EQ(Probe(dir.file("out/three.mp3"), "codec_name"), "mp3");
    EXPECT_TRUE(entries[1].OutputPath.empty());
    ASSERT_EQ(host.shown.size(), 1u);
    EXPECT_EQ(host.shown[0], dir.file("out/one.mp3"));
    EXPECT_EQ(host.progressOpened, 1);
    EXPECT_EQ(host.runTexts.front(), "转换 1 of 3 文件到 MP3...");
}

// The number after "削波: " in a text.
static std::string ClipCount(const std::string& text) {
    const std::string mark = "削波: ";
    const size_t at = text.find(mark);
    if (at == std::string::npos) return {};
    const size_t from = at + mark.size();
    return text.substr(from, text.find(' ', from) - from);
}

// An integer output that clipped a float source says how many samples in
// its row and in a note, for one output per file and for a merged one.
TEST_F(ConversionRunTest, ClippedSamplesAreCountedInTheRowAndANote) {
    Add("loud.wav", "-f lavfi -i \"aevalsrc=1.6*sin(2*PI*441*t):s=44100:d=1\" -c:a pcm_f32le");
    for (const bool merged : {false, true}) {
        SCOPED_TRACE(merged);
        host = CFakeHost{};
        host.mergedPath = dir.file("out/all.flac");
        RunPlanned(Env(), kFormatFlac, merged);
        const std::string name = merged ? "all.flac" : "loud.flac";
        EXPECT_EQ(host.output[10].rfind(name + " (削波: ", 0), 0u) << host.output[10];
        ASSERT_EQ(host.notes.size(), 1u);
        EXPECT_EQ(host.notes[0].rfind("loud.wav: 削波: ", 0), 0u) << host.notes[0];
        // The same count in both.
        EXPECT_GT(std::atoi(ClipCount(host.notes[0]).c_str()), 20000);
        EXPECT_EQ(ClipCount(host.output[10]), ClipCount(host.notes[0]));
    }
}

TEST_F(ConversionRunTest, OneAndTwoWorkersReportTheSameRows) {
    Add("a.wav", "-f lavfi -i sine=duration=1");
    Add("b.wav", "-f lavfi -i sine=duration=2");
    Add("b.flac", "-f lavfi -i sine=duration=1");  // the same output name as b.wav
    settings.VolumeType = kVolumeNormalise;                         // a normalising pass as well
    std::map<int, std::vector<std::string>> histories[2];
    std::map<int, std::string> volumes[2];
    std::vector<std::string> shown[2];
    for (int jobs : {1, 2}) {
        fs::remove_all(dir.file("out"));
        fs::create_directory(dir.file("out"));
        host = CFakeHost{};
        RunPlanned(Env(), kFormatMp3, false, jobs);
        histories[jobs - 1] = host.history;
        volumes[jobs - 1] = host.volume;
        shown[jobs - 1] = host.shown;
    }
    EXPECT_EQ(histories[0], histories[1]);
    EXPECT_EQ(volumes[0], volumes[1]);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(histories[1][12].back(), "b_1.mp3");
}

TEST_F(ConversionRunTest, CancelDuringTheSecondFileEndsTheRunCleanly) {
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) Add(name, "-f lavfi -i sine=duration=4");
    // Through the job's Cancel, and through a flag of the front end's own.
    for (const bool byOutsideFlag : {false, true}) {
        SCOPED_TRACE(byOutsideFlag);
        fs::remove_all(dir.file("out"));
        fs::create_directory(dir.file("out"));
        std::atomic<bool> flag{false};
        host = CFakeHost{};
        host.cancelAtFile = 2;
        if (byOutsideFlag) host.outside = &flag;
        Each(kFormatMp3);
        EXPECT_EQ(host.output[10], "a.mp3");
        EXPECT_EQ(host.output[11], "已取消");
        EXPECT_EQ(host.output.count(12), 0u);  // untouched
        EXPECT_TRUE(fs::exists(dir.file("out/a.mp3")));
        // Nothing else in the output folder: no partial b.mp3, no temporary
        // file.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("out")), fs::directory_iterator{}),
                  1);
        EXPECT_TRUE(host.shown.empty());
    }
}

TEST_F(ConversionRunTest, OneJobConvertsOnTheCallingThreadAndQuietRunsSendNoTicks) {
    Add("a.wav", "-f lavfi -i sine=duration=1");
    Add("b.wav", "-f lavfi -i sine=duration=1");
    Add("c.wav", "-f lavfi -i sine=duration=1");
    const auto all = entries;
    struct Case {
        int files;
        int jobs;
        bool merged;
        bool showsProgress;
        bool onCallingThread;  // every file converts on the thread of Run
    };
    const Case cases[] = {
        {1, 1, false, true, true},  {1, 4, false, true, true},   {3, 1, false, true, true},
        {3, 2, false, true, false}, {3, 2, false, false, false}, {1, 1, false, false, true},
        {3, 1, true, false, true},
    };
    std::map<int, std::vector<std::string>> reference;  // rows of the first three files
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.files << " files, -j " << c.jobs << ", merged "
                                        << c.merged << ", progress " << c.showsProgress);
        fs::remove_all(dir.file("out"));
        fs::create_directory(dir.file("out"));
        entries.assign(all.begin(), all.begin() + c.files);
        host = CFakeHost{};
        host.showsProgress = c.showsProgress;
        host.mergedPath = dir.file("out/all.mp3");
        RunPlanned(Env(), kFormatMp3, c.merged, c.jobs);
        ASSERT_EQ(host.output.size(), static_cast<size_t>(c.files));
        EXPECT_TRUE(fs::exists(dir.file(c.merged ? "out/all.mp3" : "out/a.mp3")));
        ASSERT_FALSE(host.convertingThreads.empty());
        const bool here = host.convertingThreads.size() == 1 &&
                          *host.convertingThreads.begin() == std::this_thread::get_id();
        EXPECT_EQ(here, c.onCallingThread);
        // A front end that shows no progress gets the run's start only.
        if (!c.showsProgress) {
            EXPECT_EQ(host.progressEvents, 1);
        }
        // Where and how the files convert changes no row.
        if (c.files == 3 && !c.merged && reference.empty()) reference = host.history;
        if (c.files == 3 && !c.merged) {
            EXPECT_EQ(host.history, reference);
        }
    }
}

TEST_F(ConversionRunTest, FailureTextsCarryTheirDetailAndNoFileManagerWhenAllFail) {
    Add("short.wav", "-f lavfi -i sine=duration=1");
    settings.EnableSkipLength = 1;
    settings.SkipLength = 5000;
    WriteFile(dir.file("junk.mp3"), std::string(3000, '\x42'));
    FileEntry junk;
    junk.Path = dir.file("junk.mp3");
    junk.InputType = kInputMp3;
    entries.push_back(junk);
    Each(kFormatWav);
    EXPECT_EQ(host.output[10], "转换失败 (文件长度短于选项 ->常规设置的跳过长度)");
    // A file the FFmpeg fallback cannot open at all reports no audio stream.
    EXPECT_EQ(host.output[11], "在文件中无音频");
    EXPECT_GE(host.widened, 1);
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ConversionRunTest, NormalisationAndDtsPreprocessingRunPerFile) {
    std::string tmp = dir.file("tmp");
    fs::create_directory(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    Add("quiet.wav", "-f lavfi -i sine=frequency=500:duration=1,volume=0.25");
    std::string raw = dir.file("stream.raw");
    ASSERT_EQ(testsupport::Run(
                  "ffmpeg -v error -nostdin -y -f lavfi -i sine=sample_rate=48000:duration=1 "
                  "-ac 2 -c:a dca -strict -2 -f dts " +
                  Quote(raw)),
              0);
    Add("film.dts", "-f s16le -ar 44100 -ac 2 -i " + Quote(raw) + " -c:a pcm_s16le -f wav");
    settings.VolumeType = kVolumeNormalise;
    Each(kFormatFlac);
    unsetenv("TMPDIR");
    EXPECT_EQ(host.output[10], "quiet.flac");
    EXPECT_EQ(host.output[11], "film.flac");
    // A quarter-scale sine is raised to full scale (about 400%).
    double gain = std::atof(host.volume[10].c_str());
    EXPECT_GT(gain, 350.0);
    EXPECT_EQ(Probe(dir.file("out/film.flac"), "sample_rate"), "48000");
    EXPECT_TRUE(fs::is_empty(tmp));  // the pre-processing file is gone
}

TEST_F(ConversionRunTest, MissingSoundfontIsOfferedOrMidiRowsFail) {
    CCodecRuntime bare;  // started from a folder without the soundfont
    fs::create_directory(dir.file("prog"));
    bare.Start(dir.file("prog"));
    CRunReaderServices bareReaders(bare, wmaFormats, &host);
    RunEnvironment env{settings, bare, bareReaders, wmaFormats, state};
    Add("tone.wav", "-f lavfi -i sine=duration=1");
    FileEntry midi;
    midi.Path = dir.file("song.mid");
    midi.InputType = kInputMidi;
    entries.push_back(midi);

    host.answerYes = false;
    RunPlanned(env, kFormatMp3, false);
    ASSERT_EQ(host.questions.size(), 1u);
    // The folder named is the user's own data folder, where a copied font
    // is found (the program's folder may not be writable).
    EXPECT_NE(host.questions[0].find("\"" + UserDataFolder() + "/\""), std::string::npos);
    EXPECT_EQ(host.output[10], "tone.mp3");
    EXPECT_EQ(host.output[11], "失败. 需要文件 \"ct4mgm.sf2\".");

    host = CFakeHost{};
    host.answerYes = true;
    RunPlanned(env, kFormatMp3, false);
    EXPECT_EQ(host.progressOpened, 0);  // the run ends after the answer
    ASSERT_EQ(host.browsed.size(), 1u);
    EXPECT_EQ(host.browsed[0], kSoundfontAddress);
    ASSERT_EQ(host.folders.size(), 1u);
}

TEST_F(ConversionRunTest, TheSoundfontIsLoadedOnlyByARunThatConvertsMidi) {
    if (!fs::exists(fs::path(QUELVOX_BINARY_DIR) / kSoundfontFileName))
        GTEST_SKIP() << "the build linked no soundfont";
    CCodecRuntime beside;  // started from the folder that holds the font
    ASSERT_EQ(beside.Start(QUELVOX_BINARY_DIR), StartResult::Started);
    CRunReaderServices besideReaders(beside, wmaFormats, &host);
    RunEnvironment env{settings, beside, besideReaders, wmaFormats, state};
    Add("tone.wav", "-f lavfi -i sine=duration=1");
    RunPlanned(env, kFormatWav, false);
    EXPECT_EQ(host.output[10], "tone.wav");
    EXPECT_FALSE(beside.IsSoundfontLoaded());
    EXPECT_FALSE(state.soundfontReady);

    // One second of one note, format 0.
    const std::string events = {0x00, char(0x90), 0x3C, 0x64,       char(0x83), 0x60, char(0x80),
                                0x3C, 0x40,       0x00, char(0xFF), 0x2F,       0x00};
    WriteFile(dir.file("song.mid"), std::string("MThd\0\0\0\6\0\0\0\1\x01\xE0MTrk\0\0\0", 21) +
                                        char(events.size()) + events);
    FileEntry midi;
    midi.Path = dir.file("song.mid");
    midi.InputType = kInputMidi;
    entries.push_back(midi);
    host = CFakeHost{};
    RunPlanned(env, kFormatWav, false);
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(host.output[11], "song.wav");
    EXPECT_TRUE(beside.IsSoundfontLoaded());
    EXPECT_TRUE(state.soundfontReady);
}

TEST_F(ConversionRunTest, TheWmaRuntimeIsOfferedOncePerBatchOrRun) {
    // Every WMA file of a batch that finds the runtime missing asks for it;
    // the user hears the question once.
    host.answerYes = true;
    for (int i = 0; i < 3; ++i) readers->OfferWmaRuntime();
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.browsed, std::vector<std::string>{kWmaRuntimeAddress});
    CRunReaderServices nextBatch(runtime, wmaFormats, &host);
    nextBatch.OfferWmaRuntime();
    EXPECT_EQ(host.questions.size(), 2u);
}

TEST_F(ConversionRunTest, MergedMp3FromThreeRatesTakesTheHighest) {
    Add("a.wav", "-f lavfi -i sine=sample_rate=44100:duration=1");
    Add("b.wav", "-f lavfi -i sine=sample_rate=22050:duration=1");
    Add("c.wav", "-f lavfi -i sine=sample_rate=48000:duration=1");
    host.mergedPath = dir.file("out/all.mp3");
    Merge(kFormatMp3);
    EXPECT_EQ(Probe(host.mergedPath, "sample_rate"), "48000");
    EXPECT_NEAR(std::stod(Probe(host.mergedPath, "duration", true)), 3.0, 0.1);
    for (int row : {10, 11, 12}) EXPECT_EQ(host.output[row], "all.mp3");
    EXPECT_EQ(entries[2].OutputPath, host.mergedPath);
    ASSERT_EQ(host.shown.size(), 1u);
}

TEST_F(ConversionRunTest, MergedMonoAndStereoIsStereoAndMergedAmrIsNarrowBand) {
    Add("mono.wav", "-f lavfi -i sine=duration=1 -ac 1");
    Add("stereo.wav", "-f lavfi -i sine=duration=1 -ac 2");
    host.mergedPath = dir.file("out/both.flac");
    Merge(kFormatFlac);
    EXPECT_EQ(Probe(host.mergedPath, "channels"), "2");
    auto s = DecodeWithFfmpeg(host.mergedPath);
    ASSERT_GT(s.size(), 2000u);
    for (size_t i = 1000; i < 1100; ++i) EXPECT_EQ(s[2 * i], s[2 * i + 1]);  // mono copied

    host.mergedPath = dir.file("out/both.amr");
    Merge(kFormatAmr);
    EXPECT_EQ(Probe(host.mergedPath, "codec_name"), "amr_nb");
    EXPECT_EQ(Probe(host.mergedPath, "sample_rate"), "8000");
    EXPECT_EQ(Probe(host.mergedPath, "channels"), "1");
    EXPECT_NEAR(std::stod(Probe(host.mergedPath, "duration", true)), 2.0, 0.1);
}

TEST_F(ConversionRunTest, MergedLosslessTakesTheWidestSourceAndPadsTheOthers) {
    Add("six.flac",
        "-f lavfi -i \"aevalsrc=0.1*sin(2*PI*300*t)|0.1|0.1|0.1|0.1|0.1:c=5.1:s=44100:d=1\" "
        "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24");
    Add("stereo.wav", "-f lavfi -i sine=duration=1 -ac 2");
    host.mergedPath = dir.file("out/both.wav");
    Merge(kFormatWav);
    EXPECT_EQ(Probe(host.mergedPath, "channels"), "6");
    EXPECT_EQ(Probe(host.mergedPath, "channel_layout"), "5.1");
    EXPECT_EQ(Probe(host.mergedPath, "codec_name"), "pcm_s24le");
    const auto s = DecodeWithFfmpeg(host.mergedPath);
    ASSERT_EQ(s.size(), 6u * 88200);
    // The 5.1 file as it was; the stereo one on the front pair only.
    EXPECT_NEAR(s[6 * 1000 + 5], 3277, 1);
    for (size_t i = 44100 + 100; i < 44100 + 200; ++i) {
        EXPECT_EQ(s[6 * i], s[6 * i + 1]);
        for (size_t c = 2; c < 6; ++c) ASSERT_EQ(s[6 * i + c], 0) << i;
    }
    EXPECT_NE(s[6 * (44100 + 150)], 0);
}

TEST_F(ConversionRunTest, ASourceOfMoreThanEightChannelsKeepsEightWithANote) {
    Add("many.wav", "-f lavfi -i anullsrc=cl=hexadecagonal:r=8000 -t 0.5");
    Add("two.wav", "-f lavfi -i sine=duration=0.5 -ac 2");
    Each(kFormatWav);
    EXPECT_EQ(Probe(dir.file("out/many.wav"), "channels"), "8");
    EXPECT_EQ(Probe(dir.file("out/two.wav"), "channels"), "2");
    EXPECT_EQ(host.notes, std::vector<std::string>{"many.wav: 源文件有 16 个声道, 只保留了前 8 个"});
}

TEST_F(ConversionRunTest, CancelledMergeLeavesNoFileAndKeepsAnOldOne) {
    for (const char* name : {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"})
        Add(name, "-f lavfi -i sine=duration=3");
    host.mergedPath = dir.file("out/merged.mp3");
    WriteFile(host.mergedPath, std::string("an older file"));
    host.cancelAtFile = 3;
    Merge(kFormatMp3);
    EXPECT_EQ(host.output[10], "merged.mp3");
    EXPECT_EQ(host.output[11], "merged.mp3");
    EXPECT_EQ(host.output[12], "已取消");
    EXPECT_EQ(host.output.count(13), 0u);
    EXPECT_EQ(ReadFile(host.mergedPath).size(), std::string("an older file").size());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("out")), fs::directory_iterator{}), 1);
    EXPECT_TRUE(host.shown.empty());
}

TEST_F(ConversionRunTest, MergedWriterThatCannotBeCreatedIsReported) {
    Add("a.wav", "-f lavfi -i sine=duration=1");
    host.mergedPath = dir.file("no/such/folder/x.mp3");
    Merge(kFormatMp3);
    ASSERT_EQ(host.warnings.size(), 1u);
    EXPECT_EQ(host.warnings[0], "无法创建文件 \"" + host.mergedPath + "\".");
    EXPECT_EQ(host.progressOpened, 0);
}

// What each file's processing found comes back with its result: its own
// measured loudness, and the loudness gain applied to it (its own per
// track, one for all in an album or a merged output).
TEST_F(ConversionRunTest, EachFileFindingsComeBackWithItsResult) {
    Add("quiet.wav", "-f lavfi -i sine=frequency=1000:duration=2 -af volume=-30dB");
    Add("loud.wav", "-f lavfi -i sine=frequency=1000:duration=2 -af volume=-20dB");
    settings.VolumeType = kVolumeLoudness;
    settings.LoudnessTarget = -16;
    const OutputFormatEntry& format = *FindFormat(catalogue, kFormatWav);
    struct Case {
        const char* name;
        bool album, merged;
    };
    for (const Case c : {Case{"track", false, false}, Case{"album", true, false},
                         Case{"merged", false, true}}) {
        SCOPED_TRACE(c.name);
        settings.LoudnessAlbum = c.album ? 1 : 0;
        std::vector<FileFindings> found;
        if (c.merged) {
            RunEnvironment env = Env();
            CRecordingProgress progress;
            MergedTarget target;
            target.path = dir.file(std::string("out/") + c.name + ".wav");
            const RunOutcome outcome =
                ConvertAllToOne(env, progress, host, Pointers(), {0, 1}, format, target);
            found = outcome.appendedFindings;
        } else {
            // As a run does: an album is measured as a whole before its
            // files convert.
            RunState run;
            CRecordingProgress progress;
            std::vector<LoudnessResult> tracks(entries.size());
            if (c.album) {
                ConversionContext ctx{settings, run, progress, *readers, &wmaFormats};
                ASSERT_TRUE(
                    MeasureLoudnessOfAll(ctx, Pointers(), format, tracks, run.albumLoudness));
            }
            for (size_t i = 0; i < entries.size(); ++i) {
                run.measuredTrack = tracks[i];
                RunEnvironment env{settings, runtime, *readers, wmaFormats, run};
                entries[i].OutputPath.clear();
                const int index = static_cast<int>(i) + 1;
                const FileOutcome outcome = ConvertListedFile(env, progress, host, entries[i],
                                                              index - 1, index, 2, format);
                ASSERT_TRUE(outcome.success) << outcome.message;
                found.push_back(outcome.findings);
            }
        }
        ASSERT_EQ(found.size(), 2u);
        for (const FileFindings& f : found) {
            ASSERT_TRUE(f.measured.trackLoudness.valid);
            EXPECT_GT(f.measured.loudnessGain, 1.0f);
            EXPECT_EQ(f.appliedGain, f.measured.loudnessGain);
        }
        // Each file's own loudness, 10 LU apart.
        EXPECT_NEAR(found[1].measured.trackLoudness.loudness -
                        found[0].measured.trackLoudness.loudness,
                    10.0, 0.5);
        const double gainDb[2] = {20.0 * std::log10(found[0].appliedGain),
                                  20.0 * std::log10(found[1].appliedGain)};
        if (c.album || c.merged) {
            EXPECT_EQ(found[0].appliedGain, found[1].appliedGain);
        } else {
            for (size_t i = 0; i < 2; ++i)
                EXPECT_NEAR(found[i].measured.trackLoudness.loudness + gainDb[i], -16.0, 0.5);
        }
    }
}
