// The loudness mode on signals whose peaks stand in the way of the target,
// checked on the decoded outputs by ffmpeg's own EBU R128 meter: with the
// limiter every MP3 and FLAC output reaches the target under the ceiling;
// without it the files held short are said. And the loudness values in the
// tags describe the file as written.
#include "engine/ConversionRun.h"

#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// The cells and notes a run writes.
class CCells : public IRowCells {
public:
    void SetVolumeCell(int row, const std::string& text) override { volume[row] = text; }
    void SetOutputCell(int row, const Text& text) override { output[row] = text.Source(); }
    void NoteFile(const Text& note) override { notes.push_back(note); }
    void NoteVolume(int row, const Text& note) override { volumeTips[row] = note; }
    std::map<int, std::string> volume, output;
    std::map<int, Text> volumeTips;
    std::vector<Text> notes;
};

// Integrated loudness (LUFS) and true peak (dBTP) as ffmpeg's ebur128
// filter reads a file.
struct Reading {
    double lufs = NAN, peak = NAN;
};
Reading ReadWithFfmpeg(const std::string& path) {
    std::string out;
    Run("ffmpeg -nostdin -hide_banner -nostats -i " + Quote(path) +
            " -af ebur128=peak=true -f null - 2>&1",
        &out);
    Reading r;
    // The summary comes last; its values follow "I:" and "Peak:".
    const size_t summary = out.rfind("Summary:");
    if (summary == std::string::npos) return r;
    const size_t i = out.find("I:", summary);
    const size_t p = out.find("Peak:", summary);
    if (i != std::string::npos) r.lufs = std::atof(out.c_str() + i + 2);
    if (p != std::string::npos) r.peak = std::atof(out.c_str() + p + 5);
    return r;
}

// The test set: each signal troubles the target in its own way.
struct Signal {
    const char* name;
    const char* source;  // ffmpeg input options
    bool heldWithoutLimiter;  // short of the target without the limiter
};
const Signal kSignals[] = {
    // Struck notes that decay fast: a peak-to-loudness ratio of about 20 dB,
    // more than the 15 dB between -16 LUFS and -1 dBTP.
    {"piano.wav",
     "-f lavfi -i \"aevalsrc=0.95*exp(-20*mod(t\\,0.5))*(0.7*sin(2*PI*(220+55*floor(t/0.5))*t)"
     "+0.3*sin(4*PI*(220+55*floor(t/0.5))*t)):s=44100:d=6\"",
     true},
    // Crests between samples: at a quarter of the rate, samples at 0.707 of
    // them; near half the rate (0.476 of 22050 Hz), where four times
    // oversampling under-reads.
    {"quarter.wav", "-f lavfi -i \"aevalsrc=0.5*sin(PI/2*n+PI/4):s=44100:d=5\"", false},
    {"nearhalf.wav", "-f lavfi -i \"aevalsrc=0.6*sin(2*PI*10500*t):s=22050:d=5\"", false},
    // Syllables of peaky noise with pauses.
    {"speech.wav",
     "-f lavfi -i \"aevalsrc=0.9*pow(2*random(0)-1\\,5)*pow(sin(PI*4*t)\\,2)*lt(mod(t\\,1.5)\\,0.9)"
     ":s=44100:d=6\" -af lowpass=4000",
     false},
    // A master clipped flat at full scale.
    {"clipped.wav",
     "-f lavfi -i \"aevalsrc=clip(2.5*(sin(2*PI*997*t)+0.5*sin(2*PI*6001*t))\\,-0.999\\,0.999)"
     ":s=44100:d=5\"",
     false},
};

class LoudnessTargetTest : public ::testing::Test {
protected:
    TempDir dir;
    CSettings settings{""};
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    CCodecRuntime runtime;
    WmaFormatList wmaFormats;
    RunState state;
    CCells cells;
    std::unique_ptr<CRunReaderServices> readers;

    void SetUp() override {
        runtime.Start(ExecutableFolder());
        readers = std::make_unique<CRunReaderServices>(runtime, wmaFormats, nullptr);
        settings.DestOutputFolderOpt = 399;
        settings.DestSpecifiedFolder = dir.file("out");
        settings.TargetExistsOpt = 0;
        fs::create_directory(dir.file("out"));
        settings.VolumeType = kVolumeLoudness;
        settings.LoudnessTarget = -16;
        settings.TruePeakCeiling = -10;
        // MP3 as the bench converts it: 128 kbit/s stereo at 44.1 kHz.
        OutputFormatEntry& mp3 = *FindFormat(catalogue, kFormatMp3);
        mp3.AutoEncParam = 0;
        mp3.BitRate = 128000;
        mp3.SampleRate = 44100;
        mp3.Channels = 2;
    }

    FileEntry Source(const std::string& name, const std::string& args) {
        const std::string path = dir.file(name);
        EXPECT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y " + args + " " + Quote(path)), 0);
        FileEntry e;
        e.Path = path;
        e.InputType = InputTypeOf(path);
        return e;
    }

    // Converts `entry` to `code`; the outcome, its output in entry.OutputPath.
    FileOutcome Convert(FileEntry& entry, int code) {
        entry.OutputPath.clear();
        RunEnvironment env{settings, runtime, *readers, wmaFormats, state};
        CRecordingProgress progress;
        return ConvertListedFile(env, progress, cells, entry, 0, 1, 1, *FindFormat(catalogue, code));
    }
};

TEST_F(LoudnessTargetTest, EveryOutputReachesTheTargetUnderTheCeilingWithTheLimiter) {
    settings.LoudnessLimiter = 1;
    for (const Signal& s : kSignals) {
        FileEntry entry = Source(s.name, s.source);
        for (int code : {kFormatMp3, kFormatFlac}) {
            SCOPED_TRACE(std::string(s.name) + " to " + std::to_string(code));
            const FileOutcome outcome = Convert(entry, code);
            ASSERT_TRUE(outcome.success) << outcome.message.Source();
            const Reading r = ReadWithFfmpeg(entry.OutputPath);
            EXPECT_NEAR(r.lufs, -16.0, 0.5);
            EXPECT_LE(r.peak, -1.0 + 0.1);
            EXPECT_TRUE(std::isnan(outcome.findings.measured.heldLufs));
        }
    }
    EXPECT_TRUE(cells.notes.empty());
    EXPECT_TRUE(cells.volumeTips.empty());
}

// Without the limiter a file short of the target is exactly one that is
// said to be held, where the file measures (the piano-like one is).
TEST_F(LoudnessTargetTest, WithoutTheLimiterTheFilesHeldShortAreSaid) {
    settings.LoudnessLimiter = 0;
    for (const Signal& s : kSignals) {
        SCOPED_TRACE(s.name);
        FileEntry entry = Source(s.name, s.source);
        cells = CCells{};
        const FileOutcome outcome = Convert(entry, kFormatFlac);
        ASSERT_TRUE(outcome.success) << outcome.message.Source();
        const Reading r = ReadWithFfmpeg(entry.OutputPath);
        EXPECT_LE(r.peak, -1.0 + 0.1);
        const double held = outcome.findings.measured.heldLufs;
        if (s.heldWithoutLimiter) {
            EXPECT_LT(r.lufs, -16.5);
        }
        if (r.lufs > -16.5) {
            EXPECT_NEAR(r.lufs, -16.0, 0.5);
            EXPECT_TRUE(std::isnan(held));
            EXPECT_TRUE(cells.notes.empty());
            EXPECT_TRUE(cells.volumeTips.empty());
            continue;
        }
        ASSERT_FALSE(std::isnan(held));
        EXPECT_NEAR(r.lufs, held, 0.3);
        ASSERT_EQ(cells.notes.size(), 1u);
        EXPECT_TRUE(cells.notes[0].Is(kHeldByCeilingNote));
        ASSERT_EQ(cells.volumeTips.count(0), 1u);
        EXPECT_TRUE(cells.volumeTips[0].Is(kHeldByCeilingTip));
    }
}

// The gain value a tag holds ("-2.50 dB"), or NaN.
double GainOf(const std::string& text) { return text.empty() ? NAN : std::atof(text.c_str()); }

// ReplayGain values of lossy outputs describe their decoded audio; an Opus
// output carries R128 gains instead, and its header's output gain is 0.
TEST_F(LoudnessTargetTest, LoudnessTagsDescribeTheFileAsWritten) {
    settings.WriteReplayGain = 1;
    readers->LoadWmaRuntime();
    // Notes whose decoded peaks stay under full scale, where our readers
    // deliver lossy audio (on the 16-bit grid) clamped.
    std::string notes = kSignals[0].source;
    notes.replace(notes.find("0.95*"), 5, "0.4*");
    FileEntry entry = Source("music.wav", notes);
    struct Case {
        int code;
        const char* gainTag;
    };
    for (const Case c : {Case{kFormatMp3, "REPLAYGAIN_TRACK_GAIN"},
                         Case{kFormatM4a, "REPLAYGAIN_TRACK_GAIN"},
                         Case{kFormatWma, "REPLAYGAIN_TRACK_GAIN"},
                         Case{kFormatOgg, "REPLAYGAIN_TRACK_GAIN"},
                         Case{kFormatOpus, "R128_TRACK_GAIN"}}) {
        SCOPED_TRACE(c.code);
        const FileOutcome outcome = Convert(entry, c.code);
        ASSERT_TRUE(outcome.success) << outcome.message.Source();
        const Reading r = ReadWithFfmpeg(entry.OutputPath);
        const std::string gain = ProbeTag(entry.OutputPath, c.gainTag);
        ASSERT_FALSE(gain.empty());
        if (c.code == kFormatOpus) {
            // 1/256 dB to -23 LUFS.
            EXPECT_NEAR(std::atoi(gain.c_str()) / 256.0, -23.0 - r.lufs, 0.1);
            EXPECT_EQ(ProbeTag(entry.OutputPath, "REPLAYGAIN_TRACK_GAIN"), "");
            EXPECT_EQ(ProbeTag(entry.OutputPath, "REPLAYGAIN_TRACK_PEAK"), "");
            std::ifstream in(entry.OutputPath, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            const size_t head = bytes.find("OpusHead");
            ASSERT_NE(head, std::string::npos);
            EXPECT_EQ(bytes.at(head + 16), '\0');
            EXPECT_EQ(bytes.at(head + 17), '\0');
        } else {
            EXPECT_NEAR(GainOf(gain), -18.0 - r.lufs, 0.1);
            const double peak = std::atof(
                ProbeTag(entry.OutputPath, "REPLAYGAIN_TRACK_PEAK").c_str());
            // Our peak reads eight times oversampled, ffmpeg's four times.
            EXPECT_NEAR(20 * std::log10(peak), r.peak, 0.2);
        }
    }
}

}  // namespace
