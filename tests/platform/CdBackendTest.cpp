// CD tracks through the decoding layer's CD backend, read from a CUE/BIN
// image that QUELVOX_CD_DEVICE names.
#include "platform/bass/Backends.h"

#include "support/ChannelSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace quelvox::bass;
using namespace testsupport;

namespace {

constexpr int kSectorBytes = 2352;
constexpr int kTrack1Sectors = 150;  // 2 s
constexpr int kTrack2Sectors = 100;

// The sample at index i of the image: every value, both signs, both bytes
// differing, so that a byte-order mistake cannot pass.
int16_t ImageSample(size_t i) { return int16_t(uint16_t((i * 7919u + 12345u) & 0xFFFF)); }

struct CdaFields {
    uint16_t version = 1;
    uint16_t track = 1;
    uint32_t serial = 0x12345678;
    uint32_t start = 0;
    uint32_t sectors = 0;
};

std::vector<uint8_t> Descriptor(const CdaFields& f) {
    std::vector<uint8_t> d = {'R', 'I', 'F', 'F'};
    PutLe32(d, 36);
    d.insert(d.end(), {'C', 'D', 'D', 'A', 'f', 'm', 't', ' '});
    PutLe32(d, 24);
    PutLe16(d, f.version);
    PutLe16(d, f.track);
    PutLe32(d, f.serial);
    PutLe32(d, f.start);
    PutLe32(d, f.sectors);
    auto msf = [&](uint32_t frames) {
        d.push_back(uint8_t(frames % 75));
        d.push_back(uint8_t(frames / 75 % 60));
        d.push_back(uint8_t(frames / 75 / 60));
        d.push_back(0);
    };
    msf(f.start + 150);
    msf(f.sectors);
    return d;
}

class CdBackend : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bin;
        size_t samples = size_t(kTrack1Sectors + kTrack2Sectors) * kSectorBytes / 2;
        for (size_t i = 0; i < samples; ++i) PutLe16(bin, uint16_t(ImageSample(i)));
        WriteFile(dir_.file("disc.bin"), bin);
        WriteFile(dir_.file("disc.cue"),
                  "FILE \"disc.bin\" BINARY\n"
                  "  TRACK 01 AUDIO\n"
                  "    INDEX 01 00:00:00\n"
                  "  TRACK 02 AUDIO\n"
                  "    INDEX 01 00:02:00\n");
        const char* old = std::getenv("QUELVOX_CD_DEVICE");
        if (old) saved_ = old, hadSaved_ = true;
        setenv("QUELVOX_CD_DEVICE", dir_.file("disc.cue").c_str(), 1);
    }
    void TearDown() override {
        if (hadSaved_)
            setenv("QUELVOX_CD_DEVICE", saved_.c_str(), 1);
        else
            unsetenv("QUELVOX_CD_DEVICE");
    }
    std::string Cda(const std::string& name, const std::vector<uint8_t>& b) {
        std::string p = dir_.file(name);
        WriteFile(p, b);
        return p;
    }
    // Reads the whole track and checks it against the image from `first`.
    void ExpectTrack(CChannel& ch, size_t firstSample, size_t sectors) {
        std::vector<int16_t> all;
        std::vector<int16_t> block(1152 * 2);
        for (;;) {
            int n = ch.GetData(block.data(), uint32_t(block.size() * 2));
            if (n < 0) break;
            ASSERT_EQ(n % 4, 0);
            all.insert(all.end(), block.begin(), block.begin() + n / 2);
            ASSERT_EQ(ch.GetPosition(), all.size() * 2);
        }
        ASSERT_EQ(all.size(), sectors * kSectorBytes / 2);
        for (size_t i = 0; i < all.size(); ++i)
            ASSERT_EQ(all[i], ImageSample(firstSample + i)) << "sample " << i;
    }

    TempDir dir_;
    std::string saved_;
    bool hadSaved_ = false;
};

TEST_F(CdBackend, ReadsEachTrackOfTheImageExactly) {
    auto t2 =
        OpenCdTrack(Cda("Track02.cda", Descriptor({1, 2, 0, kTrack1Sectors, kTrack2Sectors})));
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(t2->Kind(), ChannelKind::Stream);
    ChannelInfo info = t2->GetInfo();
    EXPECT_EQ(info.freq, 44100);
    EXPECT_EQ(info.chans, 2);
    EXPECT_EQ(info.flags & kSample8Bits, 0u);
    EXPECT_EQ(t2->GetLength(), uint64_t(kTrack2Sectors) * kSectorBytes);
    // The "file size" is the track's byte count: 1411 kbit/s.
    EXPECT_EQ(t2->GetFilePositionEnd(), int64_t(t2->GetLength()));
    EXPECT_EQ(JoinedTags(t2->ReadTags()), "");
    ExpectTrack(*t2, size_t(kTrack1Sectors) * kSectorBytes / 2, kTrack2Sectors);

    auto t1 = OpenCdTrack(Cda("Track01.cda", Descriptor({1, 1, 0, 0, kTrack1Sectors})));
    ASSERT_NE(t1, nullptr);
    EXPECT_EQ(t1->GetLength(), uint64_t(kTrack1Sectors) * kSectorBytes);
    ExpectTrack(*t1, 0, kTrack1Sectors);
}

TEST_F(CdBackend, OddSizedRequestsDeliverWholeFrames) {
    auto ch =
        OpenCdTrack(Cda("Track02.cda", Descriptor({1, 2, 0, kTrack1Sectors, kTrack2Sectors})));
    ASSERT_NE(ch, nullptr);
    std::vector<int16_t> buf(8);
    EXPECT_EQ(ch->GetData(buf.data(), 7), 4);
    EXPECT_EQ(buf[0], ImageSample(size_t(kTrack1Sectors) * kSectorBytes / 2));
    EXPECT_EQ(buf[1], ImageSample(size_t(kTrack1Sectors) * kSectorBytes / 2 + 1));
}

TEST_F(CdBackend, LengthNeverReachesBeyondTheTrackOnTheDisc) {
    auto ch = OpenCdTrack(Cda("Track02.cda", Descriptor({1, 2, 0, kTrack1Sectors, 5000})));
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ch->GetLength(), uint64_t(kTrack2Sectors) * kSectorBytes);
    ExpectTrack(*ch, size_t(kTrack1Sectors) * kSectorBytes / 2, kTrack2Sectors);
}

TEST_F(CdBackend, MalformedOrForeignDescriptorsFail) {
    const auto good = Descriptor({1, 2, 0, kTrack1Sectors, kTrack2Sectors});
    ASSERT_NE(OpenCdTrack(Cda("good.cda", good)), nullptr);

    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"short", {good.begin(), good.end() - 1}});
    {
        auto d = good;
        d.push_back(0);
        cases.push_back({"long", d});
    }
    {
        auto d = good;
        d[8] = 'X';
        cases.push_back({"not CDDA", d});
    }
    {
        auto d = good;
        d[4] = 200;
        cases.push_back({"riff size", d});
    }
    {
        auto d = good;
        d[16] = 100;
        cases.push_back({"chunk size", d});
    }
    cases.push_back({"track 0", Descriptor({1, 0, 0, 0, kTrack1Sectors})});
    cases.push_back({"track 3", Descriptor({1, 3, 0, 250, 10})});
    cases.push_back({"track 200", Descriptor({1, 200, 0, 0, 10})});
    cases.push_back({"no sectors", Descriptor({1, 2, 0, kTrack1Sectors, 0})});
    cases.push_back({"another disc", Descriptor({1, 2, 0, 160, kTrack2Sectors})});
    cases.push_back({"huge", Descriptor({1, 2, 0, 0xFFFFFF00u, 0x1000})});
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(OpenCdTrack(Cda("bad.cda", bytes)), nullptr);
    }
    EXPECT_EQ(OpenCdTrack(dir_.file("missing.cda")), nullptr);
}

TEST_F(CdBackend, FailsWhenTheSourceCannotBeOpened) {
    const auto good = Descriptor({1, 2, 0, kTrack1Sectors, kTrack2Sectors});
    std::string cda = Cda("Track02.cda", good);
    setenv("QUELVOX_CD_DEVICE", dir_.file("nothing.cue").c_str(), 1);
    EXPECT_EQ(OpenCdTrack(cda), nullptr);
    // A cue sheet whose data file is gone.
    WriteFile(dir_.file("lost.cue"),
              "FILE \"lost.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    setenv("QUELVOX_CD_DEVICE", dir_.file("lost.cue").c_str(), 1);
    EXPECT_EQ(OpenCdTrack(cda), nullptr);
}

}  // namespace
