// Reader selection: the chain of primary reader, second attempt and FFmpeg
// fallback, the retry flag, and adding files to the list.
#include "engine/ReaderFactory.h"

#include "decoders/BassReader.h"
#include "decoders/FFmpegReader.h"
#include "common/InputType.h"
#include "decoders/OggVorbisReader.h"
#include "decoders/WmaReader.h"
#include "engine/CodecRuntime.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

class FakeServices : public IReaderServices {
public:
    FakeServices() { runtime.Start(ExecutableFolder()); }
    const bass::CBassRuntime& BassRuntime() const override { return runtime.Bass(); }
    bool LoadWmaRuntime() override { return wmaAvailable; }
    void OfferWmaRuntime() override { ++offers; }

    CCodecRuntime runtime;
    bool wmaAvailable = true;
    int offers = 0;
};

class FakeList : public IFileList {
public:
    int AppendRow(const FileEntry& e) override {
        rows.push_back(&e);
        return static_cast<int>(rows.size());
    }
    std::vector<const FileEntry*> rows;
};

const char kSine[] = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1";

}  // namespace

class ReaderChain : public ::testing::Test {
protected:
    TempDir dir;
    FakeServices services;
    PassNotes state;
    int audioFound = 1;

    std::unique_ptr<CAudioReader> Create(const std::string& path, bool conversion = true,
                                         int renderRate = 44100) {
        audioFound = 1;
        return CreateReader(services, state, path, InputTypeOf(path), renderRate, conversion,
                            audioFound);
    }
};

TEST_F(ReaderChain, PrimaryReaderFirstThenTheFallbackWhileTheRetryFlagIsSet) {
    std::string wav = MakeWithFfmpeg(dir, "a.wav", kSine);
    auto first = Create(wav);
    ASSERT_TRUE(first);
    EXPECT_NE(dynamic_cast<CBassReader*>(first.get()), nullptr);
    EXPECT_TRUE(state.retry);
    EXPECT_EQ(first->GetSampleRate(), 44100);

    // Without clearing the flag, the next call goes straight to FFmpeg.
    auto second = Create(wav);
    ASSERT_TRUE(second);
    EXPECT_NE(dynamic_cast<CFFmpegReader*>(second.get()), nullptr);
    EXPECT_FALSE(state.retry);
    EXPECT_EQ(second->GetSampleRate(), 44100);
}

TEST_F(ReaderChain, MislabelledFileRejectedByItsPrimaryReaderOpensWithTheFallback) {
    // WAV data in a file named .au: the AU reader refuses the magic.
    std::string path = dir.file("really-wav.au");
    MakeWithFfmpeg(dir, "src.wav", kSine);
    std::filesystem::copy_file(dir.file("src.wav"), path);
    auto r = Create(path);
    ASSERT_TRUE(r);
    EXPECT_NE(dynamic_cast<CFFmpegReader*>(r.get()), nullptr);
    EXPECT_FALSE(state.retry);
    AudioBlock block;
    EXPECT_GT(r->ReadBlock(block), 0);
}

TEST_F(ReaderChain, OggAndAiffGetASecondAttemptWithTheDecodingLayer) {
    // Ogg FLAC: vorbisfile refuses it, the decoding layer opens it.
    std::string oggFlac = MakeWithFfmpeg(dir, "flac.ogg", std::string(kSine) + " -c:a flac -f ogg");
    auto r = Create(oggFlac);
    ASSERT_TRUE(r);
    EXPECT_NE(dynamic_cast<CBassReader*>(r.get()), nullptr);
    EXPECT_TRUE(state.retry);  // the second attempt counts as a primary reader

    // A .flac the decoding layer cannot open goes straight to the fallback.
    state.retry = false;
    std::string mkv = MakeWithFfmpeg(dir, "inmkv.mka", std::string(kSine) + " -c:a flac");
    std::filesystem::copy_file(mkv, dir.file("mkv.flac"));
    auto f = Create(dir.file("mkv.flac"));
    ASSERT_TRUE(f);
    EXPECT_NE(dynamic_cast<CFFmpegReader*>(f.get()), nullptr);
}

TEST_F(ReaderChain, FallbackOnlyTypesAndTheProbeReaderWhenListing) {
    std::string dts =
        MakeWithFfmpeg(dir, "a.dts", std::string(kSine) + " -ac 2 -c:a dca -strict -2");
    auto probe = Create(dts, /*conversion=*/false, 0);
    ASSERT_TRUE(probe);
    EXPECT_NE(dynamic_cast<CFFmpegProbeReader*>(probe.get()), nullptr);
    EXPECT_FALSE(state.retry);

    std::string mkv = MakeWithFfmpeg(dir, "a.mkv", kSine);
    auto full = Create(mkv, /*conversion=*/true);
    ASSERT_TRUE(full);
    EXPECT_NE(dynamic_cast<CFFmpegReader*>(full.get()), nullptr);
}

TEST_F(ReaderChain, NoReaderGivesTheSupportTextAndTheAudioFoundAnswer) {
    std::string junk = dir.file("junk.mp3");
    WriteFile(junk, std::string(5000, '\x5A'));
    auto r = Create(junk, /*conversion=*/true);
    EXPECT_FALSE(r);
    EXPECT_EQ(state.errorDetail, SupportMessage());
    // The fallback found no audio stream in a file it cannot open at all,
    // and reports it as such.
    EXPECT_EQ(audioFound, 0);

    // A video without audio: the fallback tells that there is no audio.
    state.errorDetail.clear();
    std::string video = MakeWithFfmpeg(
        dir, "silent.mkv", "-f lavfi -i testsrc=size=64x48:rate=5:duration=1 -c:v mpeg4");
    auto v = Create(video, /*conversion=*/false, 0);
    if (v) {
        EXPECT_LT(v->GetSampleRate(), 1);  // opened, but without audio
    } else {
        EXPECT_EQ(audioFound, 0);
        EXPECT_TRUE(state.errorDetail.empty());  // no support text when listing
    }
}

TEST_F(ReaderChain, AudioThatCannotBeDecodedGivesTheLibrarysCause) {
    // Matroska with Vorbis whose codec headers are overwritten: the
    // container and its audio stream are read, the decoder refuses them.
    std::string mkv = MakeWithFfmpeg(dir, "damaged.mkv", std::string(kSine) + " -c:a libvorbis");
    std::vector<uint8_t> bytes = ReadFile(mkv);
    ASSERT_GT(bytes.size(), 1200u);
    for (size_t i = 1000; i < 1200; ++i) bytes[i] = static_cast<uint8_t>(i * 31);
    WriteFile(mkv, bytes);
    EXPECT_FALSE(Create(mkv, /*conversion=*/true));
    EXPECT_EQ(audioFound, 1);
    EXPECT_EQ(state.errorDetail, "Invalid data found when processing input");
}

TEST_F(ReaderChain, MissingWmaRuntimeIsOfferedThenTheFallbackTries) {
    std::string wma = MakeWithFfmpeg(dir, "a.wma", std::string(kSine) + " -c:a wmav2");
    services.wmaAvailable = false;
    auto r = Create(wma);
    ASSERT_TRUE(r);
    EXPECT_EQ(services.offers, 1);
    EXPECT_NE(dynamic_cast<CFFmpegReader*>(r.get()), nullptr);

    services.wmaAvailable = true;
    state.retry = false;
    auto w = Create(wma);
    ASSERT_TRUE(w);
    EXPECT_NE(dynamic_cast<CWmaReader*>(w.get()), nullptr);
    EXPECT_EQ(services.offers, 1);
}

TEST_F(ReaderChain, AddFileEntryProbesOnceAndListsAPathOnlyOnce) {
    std::map<std::string, FileEntry> pathMap;
    FakeList list;
    std::string wav = MakeWithFfmpeg(dir, "Song.wav", std::string(kSine) + " -ac 2");
    EXPECT_EQ(AddFileEntry(services, state, pathMap, list, wav), 1);
    ASSERT_EQ(list.rows.size(), 1u);
    const FileEntry& e = *list.rows[0];
    EXPECT_EQ(e.Path, wav);
    EXPECT_EQ(e.InputType, kInputWav);
    EXPECT_EQ(e.SampleRate, 44100);
    EXPECT_EQ(e.Channels, 2);
    EXPECT_EQ(e.Duration, 1);
    // Encoded size (header included) over the duration, rounded.
    EXPECT_EQ(e.Bitrate, 1412);
    EXPECT_TRUE(e.OutputPath.empty());

    // The same file by another spelling of its path is not added again.
    std::string other = (dir.path() / "." / "sub" / ".." / "Song.wav").string();
    std::filesystem::create_directory(dir.path() / "sub");
    EXPECT_EQ(AddFileEntry(services, state, pathMap, list, other), 0);
    EXPECT_EQ(list.rows.size(), 1u);
    // A different letter case is a different file here.
    std::filesystem::copy_file(wav, dir.file("song.wav"));
    EXPECT_EQ(AddFileEntry(services, state, pathMap, list, dir.file("song.wav")), 2);
}

TEST_F(ReaderChain, AddFileEntryFailureNotesForCdTracksAndFlashFiles) {
    std::map<std::string, FileEntry> pathMap;
    FakeList list;
    for (const char* name : {"Track01.cda", "movie.swf", "clip.FLV", "other.xyz"}) {
        WriteFile(dir.file(name), std::string(300, '\x01'));
    }
    state.errorDetail = Text("before");
    EXPECT_EQ(AddFileEntry(services, state, pathMap, list, dir.file("other.xyz")), -1);
    EXPECT_EQ(state.errorDetail, "before");
    EXPECT_EQ(AddFileEntry(services, state, pathMap, list, dir.file("Track01.cda")), -1);
    EXPECT_EQ(state.errorDetail, "重要: 请不要添加硬盘中的 CDA 文件, 只能添加CD 驱动器的CDA 文件.");
    EXPECT_EQ(AddFileEntry(services, state, pathMap, list, dir.file("movie.swf")), -1);
    EXPECT_EQ(state.errorDetail.Source().rfind("注意: 要转换损坏的SWF和FLV文件,您可以使用", 0), 0u);
    state.errorDetail.clear();
    EXPECT_EQ(AddFileEntry(services, state, pathMap, list, dir.file("clip.FLV")), -1);
    EXPECT_EQ(state.errorDetail.Source().rfind("注意: 要转换损坏的SWF和FLV文件,您可以使用", 0), 0u);
    EXPECT_TRUE(list.rows.empty());
    EXPECT_TRUE(pathMap.empty());
}

TEST_F(ReaderChain, RemovingEntriesFindsThemEvenWhenTheirPathNowLeadsElsewhere) {
    std::map<std::string, FileEntry> pathMap;
    FakeList list;
    WriteWav(dir.file("a.wav"), 8000, 1, std::vector<int16_t>(8000, 100));
    WriteWav(dir.file("b.wav"), 8000, 1, std::vector<int16_t>(8000, 200));
    const std::string link = dir.file("current.wav");
    std::filesystem::create_symlink(dir.file("a.wav"), link);
    ASSERT_EQ(AddFileEntry(services, state, pathMap, list, link), 1);
    ASSERT_EQ(AddFileEntry(services, state, pathMap, list, dir.file("b.wav")), 2);

    // The link now names the other listed file: its key today belongs to
    // b.wav's entry, yet removing the link's row removes the link's entry.
    std::filesystem::remove(link);
    std::filesystem::create_symlink(dir.file("b.wav"), link);
    EXPECT_EQ(RemoveFileEntries(pathMap, {list.rows[0]}), 1);
    ASSERT_EQ(pathMap.size(), 1u);
    EXPECT_EQ(pathMap.begin()->second.Path, dir.file("b.wav"));

    // Unknown addresses are ignored.
    FileEntry stranger;
    EXPECT_EQ(RemoveFileEntries(pathMap, {&stranger}), 0);
    EXPECT_EQ(pathMap.size(), 1u);
}

// The bit rate column counts the audio, not the cover and tags around it.
TEST_F(ReaderChain, BitRateOfATaggedFileLeavesItsCoverOut) {
    const std::string cover = dir.file("cover.png");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -f lavfi -i "
                               "'nullsrc=s=400x400,geq=random(1)*255:128:128' -frames:v 1 " +
                               Quote(cover)),
              0);
    ASSERT_GT(std::filesystem::file_size(cover), 200000u);
    const std::string tone = std::string(kSine) + ":duration=4 -ac 2";
    struct Case {
        const char* name;
        const char* codec;
        int kbps;  // 0: as the same file without the cover
    };
    const Case cases[] = {
        {"a.mp3", "-c:a libmp3lame -b:a 192k", 192},
        {"a.m4a", "-c:a aac -b:a 128k", 128},
        {"a.flac", "-c:a flac", 0},
    };
    std::map<std::string, FileEntry> pathMap;
    FakeList list;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string plain =
            MakeWithFfmpeg(dir, std::string("plain-") + c.name, tone + " " + c.codec);
        const std::string covered = dir.file(std::string("cover-") + c.name);
        ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -i " + Quote(plain) + " -i " +
                                   Quote(cover) + " -map 0 -map 1 -c copy -disposition:v "
                                   "attached_pic -metadata title=x " + Quote(covered)),
                  0);
        ASSERT_GT(std::filesystem::file_size(covered), std::filesystem::file_size(plain) + 200000);
        ASSERT_GT(AddFileEntry(services, state, pathMap, list, plain), 0);
        ASSERT_GT(AddFileEntry(services, state, pathMap, list, covered), 0);
        const int without = list.rows[list.rows.size() - 2]->Bitrate;
        const int with = list.rows.back()->Bitrate;
        EXPECT_NEAR(with, c.kbps ? c.kbps : without, (c.kbps ? c.kbps : without) / 10) << with;
    }
}
