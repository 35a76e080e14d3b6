// Tracker modules through the decoding layer's module backend: hand-built
// ProTracker and Scream Tracker 3 files rendered at two rates.
#include "platform/bass/Backends.h"

#include "support/ChannelSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

using namespace quelvox::bass;
using namespace testsupport;

namespace {

// Both test songs play 16 rows at speed 6 and tempo 125 (a tick lasts
// 2.5 / 125 s), then a pattern break ends the one-order song.
constexpr double kSongSeconds = 16 * 6 * 2.5 / 125;  // 1.92 s

void PutText(std::vector<uint8_t>& v, const std::string& s, size_t width) {
    for (size_t i = 0; i < width; ++i) v.push_back(i < s.size() ? uint8_t(s[i]) : 0);
}

// A looped square wave of 32 signed 8-bit samples.
std::vector<uint8_t> SquareWave(bool signedSamples) {
    std::vector<uint8_t> s;
    for (int i = 0; i < 32; ++i) {
        int v = i < 16 ? 100 : -100;
        s.push_back(signedSamples ? uint8_t(int8_t(v)) : uint8_t(v + 128));
    }
    return s;
}

// ProTracker "M.K.": one sample, one pattern, notes on rows 0, 4, 8 and 12,
// a pattern break on row 15.
std::vector<uint8_t> BuildMod(const std::string& title) {
    std::vector<uint8_t> m;
    PutText(m, title, 20);
    std::vector<uint8_t> wave = SquareWave(true);
    for (int s = 0; s < 31; ++s) {
        PutText(m, s == 0 ? "square" : "", 22);
        PutBe16(m, s == 0 ? uint16_t(wave.size() / 2) : 0);  // length, words
        m.push_back(0);                                      // finetune
        m.push_back(s == 0 ? 64 : 0);                        // volume
        PutBe16(m, 0);                                       // loop start
        PutBe16(m, s == 0 ? uint16_t(wave.size() / 2) : 1);  // loop length
    }
    m.push_back(1);    // song length: one order
    m.push_back(127);  // restart
    for (int i = 0; i < 128; ++i) m.push_back(0);
    PutText(m, "M.K.", 4);
    EXPECT_EQ(m.size(), 1084u);
    const uint16_t periods[4] = {428, 381, 339, 320};  // C D E F
    for (int row = 0; row < 64; ++row) {
        for (int ch = 0; ch < 4; ++ch) {
            uint8_t cell[4] = {0, 0, 0, 0};
            if (ch == 0 && row % 4 == 0 && row < 16) {
                uint16_t p = periods[row / 4];
                cell[0] = uint8_t(p >> 8);  // sample 1: high nibble 0
                cell[1] = uint8_t(p & 0xFF);
                cell[2] = 0x10;  // sample 1, no effect
            }
            if (ch == 1 && row == 15) {
                cell[2] = 0x0D;  // pattern break
                cell[3] = 0x00;
            }
            m.insert(m.end(), cell, cell + 4);
        }
    }
    m.insert(m.end(), wave.begin(), wave.end());
    return m;
}

// Scream Tracker 3: one instrument, one pattern, the same notes.
std::vector<uint8_t> BuildS3m(const std::string& title) {
    std::vector<uint8_t> m;
    PutText(m, title, 28);
    m.push_back(0x1A);
    m.push_back(16);  // module type
    PutLe16(m, 0);
    PutLe16(m, 2);       // orders (even)
    PutLe16(m, 1);       // instruments
    PutLe16(m, 1);       // patterns
    PutLe16(m, 0);       // flags
    PutLe16(m, 0x1320);  // created with
    PutLe16(m, 2);       // unsigned samples
    PutText(m, "SCRM", 4);
    m.push_back(64);    // global volume
    m.push_back(6);     // speed
    m.push_back(125);   // tempo
    m.push_back(0xB0);  // stereo, master volume 48
    m.push_back(0);     // ultra click
    m.push_back(0);     // no default panning table
    for (int i = 0; i < 8; ++i) m.push_back(0);
    PutLe16(m, 0);  // special
    for (int ch = 0; ch < 32; ++ch) m.push_back(ch < 4 ? uint8_t(ch) : 255);
    m.push_back(0);    // order 0: pattern 0
    m.push_back(255);  // end of song
    // Parapointers (in 16-byte units): instrument at 112, pattern at 192,
    // sample data at 16 * 40 = 640.
    PutLe16(m, 112 / 16);
    PutLe16(m, 192 / 16);
    m.resize(112, 0);

    std::vector<uint8_t> wave = SquareWave(false);
    m.push_back(1);  // sample instrument
    PutText(m, "SQUARE.SMP", 12);
    m.push_back(0);  // sample data parapointer, high byte
    PutLe16(m, 40);  // low word
    PutLe32(m, uint32_t(wave.size()));
    PutLe32(m, 0);                      // loop begin
    PutLe32(m, uint32_t(wave.size()));  // loop end
    m.push_back(64);                    // volume
    m.push_back(0);
    m.push_back(0);  // not packed
    m.push_back(1);  // looped
    PutLe32(m, 8363);
    for (int i = 0; i < 12; ++i) m.push_back(0);
    PutText(m, "square", 28);
    PutText(m, "SCRS", 4);
    EXPECT_EQ(m.size(), 192u);

    std::vector<uint8_t> pattern;
    const uint8_t notes[4] = {0x40, 0x42, 0x44, 0x45};  // C-4 D-4 E-4 F-4
    for (int row = 0; row < 64; ++row) {
        if (row % 4 == 0 && row < 16) {
            pattern.push_back(0x20 | 0);  // channel 0: note and instrument
            pattern.push_back(notes[row / 4]);
            pattern.push_back(1);
        }
        if (row == 15) {
            pattern.push_back(0x80 | 1);  // channel 1: command
            pattern.push_back(3);         // C: pattern break
            pattern.push_back(0);
        }
        pattern.push_back(0);  // end of row
    }
    PutLe16(m, uint16_t(pattern.size() + 2));
    m.insert(m.end(), pattern.begin(), pattern.end());
    m.resize(640, 0);
    m.insert(m.end(), wave.begin(), wave.end());
    return m;
}

struct ModuleCase {
    const char* name;
    const char* extension;
    std::vector<uint8_t> (*build)(const std::string&);
};

class ModuleBackendTest : public ::testing::TestWithParam<ModuleCase> {};

TEST_P(ModuleBackendTest, RendersAtTheRequestedRateForTheScannedLength) {
    TempDir dir;
    std::string path = dir.file(std::string("tune") + GetParam().extension);
    WriteFile(path, GetParam().build("Quelvox Test Tune"));

    for (int rate : {44100, 22050}) {
        SCOPED_TRACE(rate);
        auto ch = OpenModule(path, rate);
        ASSERT_NE(ch, nullptr);
        EXPECT_EQ(ch->Kind(), ChannelKind::Music);
        ChannelInfo info = ch->GetInfo();
        EXPECT_EQ(info.freq, rate);
        EXPECT_EQ(info.chans, 2);
        EXPECT_EQ(info.flags & kSample8Bits, 0u);
        uint64_t frames = uint64_t(std::llround(kSongSeconds * rate));
        EXPECT_EQ(ch->GetLength(), frames * 4);

        Rendered r = RenderAll(*ch, true);
        EXPECT_EQ(r.bytes, ch->GetLength());
        EXPECT_EQ(ch->GetData(r.samples.data(), 4608), -1);
        EXPECT_GT(Peak(r.samples), 2000);
        // The last note plays to the end: the length is the song's, not
        // padding after it.
        size_t tail = size_t(rate / 5) * 2;
        ASSERT_GT(r.samples.size(), tail);
        EXPECT_GT(Peak(std::vector<int16_t>(r.samples.end() - tail, r.samples.end())), 2000);
    }
}

TEST_P(ModuleBackendTest, ReportsNoEncodedSizeSoTheBitRateIsThatOfThePcm) {
    TempDir dir;
    std::string path = dir.file(std::string("tune") + GetParam().extension);
    WriteFile(path, GetParam().build("x"));
    auto ch = OpenModule(path, 0);  // probing: the default rate
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ch->GetFilePositionEnd(), -1);
    ChannelInfo info = ch->GetInfo();
    EXPECT_EQ(info.freq, 44100);
    // bits × rate × channels ÷ 1000 for 16-bit stereo at 44100 Hz.
    EXPECT_EQ(16u * unsigned(info.freq) * unsigned(info.chans) / 1000u, 1411u);
}

TEST_P(ModuleBackendTest, TitleComesBackInTheTitlePosition) {
    TempDir dir;
    std::string path = dir.file(std::string("tune") + GetParam().extension);
    WriteFile(path, GetParam().build("Quelvox Test Tune"));
    auto ch = OpenModule(path, 44100);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(JoinedTags(ch->ReadTags()), "\nQuelvox Test Tune\n\n\n\n\n\n\n");

    std::string untitled = dir.file(std::string("untitled") + GetParam().extension);
    WriteFile(untitled, GetParam().build(""));
    auto ch2 = OpenModule(untitled, 44100);
    ASSERT_NE(ch2, nullptr);
    EXPECT_EQ(JoinedTags(ch2->ReadTags()), "");
}

TEST_P(ModuleBackendTest, SameModuleRendersTheSameSamplesTwice) {
    TempDir dir;
    std::string path = dir.file(std::string("tune") + GetParam().extension);
    WriteFile(path, GetParam().build("t"));
    auto a = OpenModule(path, 44100);
    auto b = OpenModule(path, 44100);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(RenderAll(*a, true).samples, RenderAll(*b, true).samples);
}

INSTANTIATE_TEST_SUITE_P(Formats, ModuleBackendTest,
                         ::testing::Values(ModuleCase{"ProTracker", ".mod", &BuildMod},
                                           ModuleCase{"ScreamTracker3", ".s3m", &BuildS3m}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ModuleBackend, DurationAgreesWithFfprobe) {
    TempDir dir;
    std::string path = dir.file("tune.mod");
    WriteFile(path, BuildMod("t"));
    std::string probed = Probe(path, "duration", true);
    if (probed.empty()) GTEST_SKIP() << "ffprobe cannot open tracker modules";
    auto ch = OpenModule(path, 44100);
    ASSERT_NE(ch, nullptr);
    EXPECT_NEAR(double(ch->GetLength()) / (4 * 44100.0), std::stod(probed), 0.05);
}

TEST(ModuleBackend, RejectsWhatIsNotAModule) {
    TempDir dir;
    EXPECT_EQ(OpenModule(dir.file("missing.mod"), 44100), nullptr);
    std::string empty = dir.file("empty.xm");
    WriteFile(empty, std::string());
    EXPECT_EQ(OpenModule(empty, 44100), nullptr);
    std::string text = dir.file("text.it");
    WriteFile(text, std::string(5000, 'a'));
    EXPECT_EQ(OpenModule(text, 44100), nullptr);
    // A module cut short inside its header.
    std::vector<uint8_t> mod = BuildS3m("cut");
    mod.resize(60);
    std::string cut = dir.file("cut.s3m");
    WriteFile(cut, mod);
    EXPECT_EQ(OpenModule(cut, 44100), nullptr);
    // Rates outside what the mixer renders.
    std::string good = dir.file("good.mod");
    WriteFile(good, BuildMod("g"));
    EXPECT_EQ(OpenModule(good, -1), nullptr);
    EXPECT_EQ(OpenModule(good, 1000000), nullptr);
}

TEST(ModuleBackend, DamagedModulesNeverCrash) {
    TempDir dir;
    std::vector<uint8_t> mod = BuildMod("fuzz");
    uint32_t seed = 12345;
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> damaged = mod;
        for (int k = 0; k < 20; ++k) {
            seed = seed * 1664525u + 1013904223u;
            damaged[(seed >> 8) % damaged.size()] = uint8_t(seed >> 24);
        }
        std::string path = dir.file("fuzz.mod");
        WriteFile(path, damaged);
        auto ch = OpenModule(path, 22050);
        if (!ch) continue;
        // Damage may stretch the song; render only the short ones.
        if (ch->GetLength() > uint64_t(60) * 22050 * 4) continue;
        Rendered r = RenderAll(*ch, true);
        EXPECT_EQ(r.bytes, ch->GetLength());
    }
}

}  // namespace
