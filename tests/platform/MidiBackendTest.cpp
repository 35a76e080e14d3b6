// MIDI streams through the decoding layer's FluidSynth backend, and the
// default soundfont of the runtime.
#include "platform/bass/Backends.h"

#include "support/ChannelSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace quelvox::bass;
using namespace testsupport;

namespace {

const std::string kFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
// Rendering continues this long after the last event.
constexpr double kTailSeconds = 1.0;

void PutVarLen(std::vector<uint8_t>& v, uint32_t x) {
    uint8_t bytes[4];
    int n = 0;
    do {
        bytes[n++] = uint8_t(x & 0x7F);
        x >>= 7;
    } while (x);
    while (n > 1) v.push_back(uint8_t(bytes[--n] | 0x80));
    v.push_back(bytes[0]);
}

struct Event {
    uint32_t delta;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> RawTrack(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> t = {'M', 'T', 'r', 'k'};
    PutBe32(t, uint32_t(body.size()));
    t.insert(t.end(), body.begin(), body.end());
    return t;
}

std::vector<uint8_t> Track(const std::vector<Event>& events) {
    std::vector<uint8_t> body;
    for (const Event& e : events) {
        PutVarLen(body, e.delta);
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    return RawTrack(body);
}

std::vector<uint8_t> Smf(uint16_t format, uint16_t division,
                         const std::vector<std::vector<uint8_t>>& tracks) {
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd'};
    PutBe32(f, 6);
    PutBe16(f, format);
    PutBe16(f, uint16_t(tracks.size()));
    PutBe16(f, division);
    for (const auto& t : tracks) f.insert(f.end(), t.begin(), t.end());
    return f;
}

std::vector<uint8_t> Tempo(uint32_t us) {
    return {0xFF, 0x51, 0x03, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)};
}
const std::vector<uint8_t> kEndOfTrack = {0xFF, 0x2F, 0x00};

// Format 1, 480 ticks per quarter. Tempo 120 bpm, then 240 bpm from tick
// 960 (placed in the note track, which is legal), then 60 bpm from tick
// 1920 in the tempo track. Organ (a sustained sound) notes until tick 2400:
//   0..480     C4         at 0.5 s per quarter  = 0.0 .. 0.5 s
//   960..2400  E4 and G4  from 1.0 s:
//     960..1920  at 0.25 s per quarter = 0.5 s
//     1920..2400 at 1.0 s per quarter  = 0.5 s  → released at 2.5 s
constexpr double kSongSeconds = 2.5;
std::vector<uint8_t> Song() {
    auto conductor = Track({{0, Tempo(500000)}, {1920, Tempo(1000000)}, {0, kEndOfTrack}});
    auto notes = Track({{0, {0xC0, 16}},        // drawbar organ
                        {0, {0x90, 60, 100}},   // C4 on
                        {480, {0x80, 60, 0}},   // off
                        {480, Tempo(250000)},   // tick 960
                        {0, {0x90, 64, 100}},   // E4 on
                        {0, {67, 100}},         // running status: G4 on
                        {1440, {0x80, 64, 0}},  // tick 2400
                        {0, {0x80, 67, 0}},
                        {0, kEndOfTrack}});
    return Smf(1, 480, {conductor, notes});
}

uint64_t ExpectedBytes(double seconds, int rate) {
    return (uint64_t(std::llround(seconds * rate)) + uint64_t(std::llround(kTailSeconds * rate))) *
           4;
}

class MidiBackend : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kFont)) GTEST_SKIP() << "no General MIDI soundfont installed";
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& b) {
        std::string p = dir_.file(name);
        WriteFile(p, b);
        return p;
    }
    TempDir dir_;
};

TEST_F(MidiBackend, LengthFollowsTheTempoMapAndRenderingEndsThere) {
    std::string path = Write("song.mid", Song());
    for (int rate : {44100, 22050}) {
        SCOPED_TRACE(rate);
        auto ch = OpenMidi(path, rate, kFont);
        ASSERT_NE(ch, nullptr);
        EXPECT_EQ(ch->Kind(), ChannelKind::Midi);
        ChannelInfo info = ch->GetInfo();
        EXPECT_EQ(info.freq, rate);
        EXPECT_EQ(info.chans, 2);
        EXPECT_EQ(info.flags & kSample8Bits, 0u);
        EXPECT_EQ(ch->GetLength(), ExpectedBytes(kSongSeconds, rate));
        EXPECT_EQ(JoinedTags(ch->ReadTags()), "");

        Rendered r = RenderAll(*ch);
        EXPECT_EQ(r.bytes, ch->GetLength());
        EXPECT_EQ(ch->GetPosition(), r.bytes);
        EXPECT_EQ(ch->GetData(r.samples.data(), 4608), -1);
        // The synthesiser plays to the same tempo map: the organ sounds
        // while its notes are held and falls silent soon after each release.
        auto peak = [&](double from, double to) {
            const int16_t* s = r.samples.data();
            return Peak(s + 2 * size_t(from * rate), s + 2 * size_t(to * rate));
        };
        int held = peak(0.05, 0.45);
        EXPECT_GT(held, 500);
        EXPECT_LT(peak(0.7, 0.95), held / 10);  // C4 released at 0.5 s
        for (double t = 1.05; t < 2.4; t += 0.1)
            EXPECT_GT(peak(t, t + 0.1), 500) << "chord held at " << t << " s";
        EXPECT_LT(peak(2.7, 3.5), held / 10);  // chord released at 2.5 s
    }
}

TEST_F(MidiBackend, RenderRateZeroMeans44100) {
    auto ch = OpenMidi(Write("song.mid", Song()), 0, kFont);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ch->GetInfo().freq, 44100);
    EXPECT_EQ(ch->GetLength(), ExpectedBytes(kSongSeconds, 44100));
}

TEST_F(MidiBackend, SmpteDivisionAndFormatZero) {
    // 25 frames per second, 40 ticks per frame: 1000 ticks a second;
    // tempo events do not change the tick length.
    auto track =
        Track({{0, Tempo(250000)}, {0, {0x90, 60, 100}}, {1500, {0x80, 60, 0}}, {0, kEndOfTrack}});
    uint16_t division = uint16_t((uint8_t(-25) << 8) | 40);
    auto ch = OpenMidi(Write("smpte.mid", Smf(0, division, {track})), 22050, kFont);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ch->GetLength(), ExpectedBytes(1.5, 22050));
}

TEST_F(MidiBackend, RiffWrappedMidiIsUnwrapped) {
    std::vector<uint8_t> smf = Song();
    std::vector<uint8_t> rmi = {'R', 'I', 'F', 'F'};
    PutLe32(rmi, uint32_t(4 + 8 + smf.size()));
    rmi.insert(rmi.end(), {'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'});
    PutLe32(rmi, uint32_t(smf.size()));
    rmi.insert(rmi.end(), smf.begin(), smf.end());
    auto ch = OpenMidi(Write("song.rmi", rmi), 44100, kFont);
    ASSERT_NE(ch, nullptr);
    EXPECT_EQ(ch->GetLength(), ExpectedBytes(kSongSeconds, 44100));
}

TEST_F(MidiBackend, FailsWithoutAUsableSoundfont) {
    std::string path = Write("song.mid", Song());
    EXPECT_EQ(OpenMidi(path, 44100, ""), nullptr);
    EXPECT_EQ(OpenMidi(path, 44100, dir_.file("missing.sf2")), nullptr);
    std::string bogus = Write("bogus.sf2", std::vector<uint8_t>(4096, 7));
    EXPECT_EQ(OpenMidi(path, 44100, bogus), nullptr);
}

TEST_F(MidiBackend, MalformedFilesFailWithoutCrashing) {
    const std::vector<uint8_t> good = Song();
    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
    cases.push_back({"empty", {}});
    cases.push_back({"not midi", std::vector<uint8_t>(200, 'x')});
    {
        auto f = good;  // header length beyond the file
        f[4] = f[5] = f[6] = f[7] = 0xFF;
        cases.push_back({"huge header", f});
    }
    {
        auto f = good;  // first track length beyond the file
        f[18] = f[19] = f[20] = f[21] = 0xFF;
        cases.push_back({"huge track", f});
    }
    {
        auto f = good;  // header promises a third track
        f[11] = 3;
        cases.push_back({"missing track", f});
    }
    {
        auto f = good;  // format 2 (independent sequences)
        f[9] = 2;
        cases.push_back({"format 2", f});
    }
    {
        auto f = good;  // division 0
        f[12] = f[13] = 0;
        cases.push_back({"no division", f});
    }
    cases.push_back(
        {"data before status", Smf(0, 96, {Track({{0, {60, 100}}, {0, kEndOfTrack}})})});
    cases.push_back(
        {"tempo length", Smf(0, 96, {Track({{0, {0xFF, 0x51, 0x02, 1, 2}}, {0, kEndOfTrack}})})});
    cases.push_back({"zero tempo", Smf(0, 96, {Track({{0, Tempo(0)}, {0, kEndOfTrack}})})});
    // A delta time of five bytes.
    cases.push_back(
        {"long quantity",
         Smf(0, 96, {RawTrack({0x00, 0x90, 60, 100, 0x81, 0x80, 0x80, 0x80, 0x00, 0x80, 60, 0})})});
    cases.push_back({"meta past track", Smf(0, 96, {Track({{0, {0xFF, 0x01, 0x7F, 'a'}}})})});
    cases.push_back(
        {"sysex past track", Smf(0, 96, {Track({{0, {0xF0, 0x8F, 0xFF, 0xFF, 0x7F}}})})});
    cases.push_back({"bad smpte rate",
                     Smf(0, uint16_t((uint8_t(-26) << 8) | 40), {Track({{0, kEndOfTrack}})})});
    // The largest delta time at the slowest tempo: decades, not music.
    cases.push_back(
        {"endless", Smf(0, 1, {Track({{0, Tempo(0xFFFFFF)}, {0x0FFFFFFF, kEndOfTrack}})})});
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(OpenMidi(Write("bad.mid", bytes), 22050, kFont), nullptr);
    }
    EXPECT_EQ(OpenMidi(dir_.file("missing.mid"), 22050, kFont), nullptr);
}

TEST_F(MidiBackend, EveryTruncationOfAValidFileFails) {
    const std::vector<uint8_t> good = Song();
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        EXPECT_EQ(OpenMidi(Write("cut.mid", cut), 22050, kFont), nullptr) << "cut at " << n;
    }
}

TEST_F(MidiBackend, DamagedFilesNeverCrash) {
    const std::vector<uint8_t> good = Song();
    uint32_t seed = 2024;
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> damaged = good;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1664525u + 1013904223u;
            damaged[(seed >> 8) % damaged.size()] = uint8_t(seed >> 24);
        }
        auto ch = OpenMidi(Write("damaged.mid", damaged), 8000, kFont);
        if (!ch) continue;
        // Whatever opens has at least the release tail and a sane length.
        EXPECT_GE(ch->GetLength(), ExpectedBytes(0, 8000));
        EXPECT_LE(ch->GetLength(), ExpectedBytes(24 * 3600, 8000));
    }
}

TEST_F(MidiBackend, RejectsRatesTheSynthesiserCannotRender) {
    std::string path = Write("song.mid", Song());
    EXPECT_EQ(OpenMidi(path, 4000, kFont), nullptr);
    EXPECT_EQ(OpenMidi(path, 400000, kFont), nullptr);
}

// The runtime's default soundfont.
TEST_F(MidiBackend, DefaultSoundfontAcceptsOnlyLoadableFonts) {
    CBassRuntime rt;
    EXPECT_EQ(rt.SetDefaultSoundfont(dir_.file("missing.sf2")), 0);
    EXPECT_EQ(rt.SetDefaultSoundfont(""), 0);
    EXPECT_EQ(rt.SetDefaultSoundfont(dir_.path().string()), 0);  // a folder
    // A RIFF "sfbk" header over garbage.
    std::vector<uint8_t> fake = {'R', 'I', 'F', 'F'};
    PutLe32(fake, 4 + 4000);
    fake.insert(fake.end(), {'s', 'f', 'b', 'k'});
    fake.resize(fake.size() + 4000, 0x55);
    EXPECT_EQ(rt.SetDefaultSoundfont(Write("fake.sf2", fake)), 0);
    EXPECT_EQ(rt.DefaultSoundfont(), "");

    std::string link = dir_.file("ct4mgm.sf2");
    std::filesystem::create_symlink(kFont, link);
    EXPECT_NE(rt.SetDefaultSoundfont(link), 0);
    EXPECT_EQ(rt.DefaultSoundfont(), link);
    // A later failure keeps the font that works.
    EXPECT_EQ(rt.SetDefaultSoundfont(dir_.file("missing.sf2")), 0);
    EXPECT_EQ(rt.DefaultSoundfont(), link);
}

}  // namespace
