// Decoding ahead on a second thread: the same outputs, read errors, cancels
// and ends as reading on the converting thread.
#include "engine/BlockSource.h"

#include "common/FileEntry.h"
#include "common/FormatCatalogue.h"
#include "common/InputType.h"
#include "engine/ConvertFile.h"
#include "engine/Normalise.h"
#include "engine/ProcessingChain.h"
#include "settings/Settings.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <set>
#include <thread>

using namespace quelvox;
using namespace testsupport;

namespace {

// A mono source of `blocks` full blocks whose samples count up; with
// `failAt` >= 0 the reading of that block fails as a read error does (0
// while the position is short of the total). Notes any ReadBlock that
// overlaps another or comes from a second thread at the same time, and
// every thread that read.
class CCountingReader : public CAudioReader {
public:
    CCountingReader(int blocks, int failAt) : blocks_(blocks), failAt_(failAt) {
        sampleRate = 8000;
        channels = outputChannels = 1;
        total = static_cast<uint64_t>(blocks) * kBlockFrames;
    }
    void Close() override {}
    int Open(const std::string&, int) override { return 1; }
    int ReadBlock(AudioBlock& block) override {
        if (inRead_.exchange(true)) overlapped = true;
        threads.insert(std::this_thread::get_id());  // reads never overlap
        const int frames = planes_.Decode(block, false, [this](int16_t* left, int16_t*) {
            if (read_ >= blocks_ || read_ == failAt_) return 0;
            for (int i = 0; i < kBlockFrames; ++i)
                left[i] = static_cast<int16_t>(read_ * kBlockFrames + i);
            ++read_;
            position += kBlockFrames;
            return kBlockFrames;
        });
        inRead_ = false;
        return frames;
    }
    std::atomic<bool> overlapped{false};
    std::set<std::thread::id> threads;

private:
    CInt16Planes planes_;
    int blocks_, failAt_, read_ = 0;
    std::atomic<bool> inRead_{false};
};

class CCollectingWriter : public CAudioWriter {
public:
    void SetFileName(const std::string&) override {}
    int Open() override { return 1; }
    void Close() override {}
    int WriteBlock(const AudioBlock& block) override {
        RoundToInt16(block, planes_);
        samples.insert(samples.end(), planes_.Left(), planes_.Left() + block.frames);
        return 1;
    }
    std::vector<int16_t> samples;

private:
    CInt16Planes planes_;
};

struct LoopOutcome {
    BlockLoopResult result;
    std::vector<int16_t> written;
    bool overlapped = false;
    std::set<std::thread::id> threads;
};

}  // namespace

class DecodeAheadTest : public ::testing::Test {
protected:
    TempDir dir;
    CSettings settings{""};
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    RunState state;
    CRecordingProgress progress;
    CTestReaderServices services;
    ConversionContext ctx{settings, state, progress, services, &services.wmaFormats};
    FileEntry entry;
    FileMeasure measure;
    float appliedGain = 1.0f;  // by the last conversion

    LoopOutcome RunLoop(int processors, int blocks, int failAt, int cancelAfterPumps) {
        state.processors = processors;
        progress = CRecordingProgress{};
        progress.cancelAfterPumps = cancelAfterPumps;
        CCountingReader reader(blocks, failAt);
        CProcessingChain chain;
        ChainSetup setup;
        setup.sourceRate = setup.targetRate = 8000;
        setup.sourceChannels = setup.targetChannels = 1;
        EXPECT_TRUE(chain.Setup(settings, setup));
        CCollectingWriter writer;
        entry.Path = "counting.wav";
        entry.InputType = kInputWav;
        LoopOutcome out;
        out.result = RunBlockLoop(ctx, entry, reader, chain, writer);
        out.written = std::move(writer.samples);
        out.overlapped = reader.overlapped;
        out.threads = reader.threads;
        return out;
    }

    // Converts `path` to `format` once on one thread and once decoding
    // ahead; returns both outputs.
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>> BothWays(const std::string& path,
                                                                   int format,
                                                                   const std::string& ext) {
        std::vector<uint8_t> outputs[2];
        for (int processors : {1, 2}) {
            state.processors = processors;
            entry = FileEntry{};
            entry.Path = path;
            entry.InputType = InputTypeOf(path);
            entry.OutputPath = dir.file("out" + std::to_string(processors) + "." + ext);
            ctx.currentEntry = &entry;
            ctx.currentIndex = 1;
            const FileResult result = ConvertFile(ctx, entry, *FindFormat(catalogue, format), measure);
            EXPECT_TRUE(result.ok);
            appliedGain = result.findings.appliedGain;
            outputs[processors - 1] = ReadFile(entry.OutputPath);
        }
        return {outputs[0], outputs[1]};
    }
};

TEST_F(DecodeAheadTest, OutputsAreByteIdenticalToOneThread) {
    std::vector<int16_t> music(static_cast<size_t>(44100) * 2 * 4);
    for (size_t i = 0; i < music.size(); ++i)
        music[i] = static_cast<int16_t>(12000 * std::sin(static_cast<double>(i) * 0.013));
    WriteWav(dir.file("music.wav"), 44100, 2, music);
    const std::string flac =
        MakeWithFfmpeg(dir, "music.flac", "-i " + Quote(dir.file("music.wav")));

    auto [flacOne, flacAhead] = BothWays(flac, kFormatFlac, "flac");
    EXPECT_GT(flacOne.size(), 1000u);
    EXPECT_EQ(flacOne, flacAhead);

    // Resampled to 22050 Hz MP3, and cut by the skip and length limits.
    OutputFormatEntry& mp3 = *FindFormat(catalogue, kFormatMp3);
    mp3.AutoEncParam = 0;
    mp3.SampleRate = 22050;
    mp3.BitRate = 64000;
    mp3.Channels = 2;
    settings.EnableSkipLength = settings.EnableConvertLength = 1;
    settings.SkipLength = 300;
    settings.ConvertLength = 2500;
    auto [mp3One, mp3Ahead] = BothWays(flac, kFormatMp3, "mp3");
    EXPECT_GT(mp3One.size(), 1000u);
    EXPECT_EQ(mp3One, mp3Ahead);
    settings.EnableSkipLength = settings.EnableConvertLength = 0;

    // Normalised: the gain the peak pass found applies either way.
    settings.VolumeType = kVolumeNormalise;
    entry.Path = dir.file("music.wav");
    entry.InputType = kInputWav;
    ctx.currentEntry = &entry;
    int audioFound = 1;
    float lo = 0, hi = 0;
    ASSERT_TRUE(MeasurePeaks(ctx, entry, *FindFormat(catalogue, kFormatWav), audioFound, lo, hi));
    measure.normalisationGain = NormalisationGain(lo, hi);
    auto [wavOne, wavAhead] = BothWays(dir.file("music.wav"), kFormatWav, "wav");
    EXPECT_NE(appliedGain, 1.0f);
    EXPECT_EQ(wavOne, wavAhead);
}

TEST_F(DecodeAheadTest, ReadErrorEndAndCancelAreThoseOfOneThread) {
    for (const auto& [failAt, cancelAfter] : {std::pair{-1, -1}, {37, -1}, {-1, 20}}) {
        const LoopOutcome one = RunLoop(1, 60, failAt, cancelAfter);
        const LoopOutcome ahead = RunLoop(2, 60, failAt, cancelAfter);
        SCOPED_TRACE(testing::Message() << "fail at " << failAt << ", cancel " << cancelAfter);
        EXPECT_EQ(ahead.result.sourceEnded, one.result.sourceEnded);
        EXPECT_EQ(ahead.result.cancelled, one.result.cancelled);
        EXPECT_EQ(ahead.result.framesRead, one.result.framesRead);
        EXPECT_EQ(ahead.written, one.written);
        EXPECT_FALSE(ahead.overlapped);
    }
    // What the cases above compare: a read error ends the stream at its
    // block, and a cancel stops the writing.
    EXPECT_EQ(RunLoop(2, 60, 37, -1).written.size(), 37u * kBlockFrames);
    const LoopOutcome cancelled = RunLoop(2, 60, -1, 20);
    EXPECT_TRUE(cancelled.result.cancelled);
    EXPECT_LT(cancelled.written.size(), 60u * kBlockFrames);
}

TEST_F(DecodeAheadTest, OnlyASourceLongerThanItsFirstSecondsDecodesAhead) {
    // The whole blocks (8000 Hz) that hold less than the first seconds: a
    // source of one block more is read ahead from there on, its end too.
    const int firstBlocks = static_cast<int>(kSecondsBeforeDecodingAhead * 8000 / kBlockFrames);
    const struct {
        int processors;
        int blocks;
        bool ahead;
    } cases[] = {
        {2, 1, false}, {2, firstBlocks, false}, {2, firstBlocks + 1, true},
        {2, 60, true}, {1, 60, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.blocks << " blocks, " << c.processors << " processors");
        const LoopOutcome out = RunLoop(c.processors, c.blocks, -1, -1);
        EXPECT_EQ(out.written.size(), static_cast<size_t>(c.blocks) * kBlockFrames);
        EXPECT_EQ(out.threads.size(), c.ahead ? 2u : 1u);
        EXPECT_EQ(out.threads.count(std::this_thread::get_id()), 1u);
    }
}

TEST_F(DecodeAheadTest, ABatchDecodesAheadOnlyWithAProcessorToSpare) {
    std::atomic<int> converting{1};
    state.processors = 2;
    state.filesConverting = &converting;
    EXPECT_TRUE(SpareProcessor(state));
    converting = 2;
    EXPECT_FALSE(SpareProcessor(state));
    state.filesConverting = nullptr;
    EXPECT_TRUE(SpareProcessor(state));
    state.processors = 1;
    EXPECT_FALSE(SpareProcessor(state));

    // Starting and stopping mid-stream loses and repeats no block.
    CCountingReader reader(50, -1);
    AudioBlock block;
    block.Shape(1, kBlockFrames);
    std::vector<int16_t> all;
    CBlockSource blocks(reader, block, false, reader.GetTotal());
    for (int i = 0;; ++i) {
        if (i % 7 == 3) blocks.DecodeAhead();
        if (i % 7 == 5) blocks.Stop();
        const SourceBlock b = blocks.Next();
        if (b.frames <= 0) break;
        EXPECT_EQ(b.position, all.size() + kBlockFrames);
        for (int k = 0; k < b.frames; ++k) all.push_back(FloatToInt16(block.Channel(0)[k]));
    }
    ASSERT_EQ(all.size(), 50u * kBlockFrames);
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<int16_t>(i));
    EXPECT_FALSE(reader.overlapped);
}
