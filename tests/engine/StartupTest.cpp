// Start-up of the codec runtimes: add-ons, the soundfont, the WMA runtime.
#include "engine/CodecRuntime.h"
#include "platform/wma/WmaLayer.h"

#include "engine/RunState.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace quelvox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

const std::vector<std::string> kAllAddOns = {"bassflac.dll", "basscd.dll",   "basswv.dll",
                                             "bass_aac.dll", "bass_adx.dll", "bass_alac.dll"};

// One note, format 0, 96 ticks per quarter at 120 bpm: half a second.
std::vector<uint8_t> TinyMidi() {
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd'};
    PutBe32(f, 6);
    PutBe16(f, 0);
    PutBe16(f, 1);
    PutBe16(f, 96);
    std::vector<uint8_t> body = {0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00};
    f.insert(f.end(), {'M', 'T', 'r', 'k'});
    PutBe32(f, uint32_t(body.size()));
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

TEST(Startup, VersionCheckWantsTwoPointFour) {
    EXPECT_TRUE(IsSupportedVersion(0x02040000));
    EXPECT_TRUE(IsSupportedVersion(0x0204110F));
    EXPECT_FALSE(IsSupportedVersion(0x02030000));
    EXPECT_FALSE(IsSupportedVersion(0x03040000));
    EXPECT_TRUE(IsSupportedVersion(bass::CBassRuntime::GetVersion()));
}

TEST(Startup, LoadsTheSixAddOnsInOrder) {
    TempDir dir;
    CCodecRuntime rt;
    ASSERT_EQ(rt.Start(dir.path().string()), StartResult::Started);
    EXPECT_TRUE(rt.IsStarted());
    EXPECT_TRUE(rt.Bass().IsInitialised());
    EXPECT_EQ(rt.LoadedAddOns(), kAllAddOns);
    for (int a = 0; a < bass::kAddOnCount; ++a)
        EXPECT_TRUE(rt.Bass().IsEnabled(bass::AddOn(a))) << a;
    // FFmpeg reports errors only.
    EXPECT_EQ(av_log_get_level(), AV_LOG_ERROR);

    // Starting again does not load anything twice.
    ASSERT_EQ(rt.Start(dir.path().string()), StartResult::Started);
    EXPECT_EQ(rt.LoadedAddOns(), kAllAddOns);

    rt.Stop();
    EXPECT_FALSE(rt.IsStarted());
    EXPECT_FALSE(rt.Bass().IsInitialised());
    for (int a = 0; a < bass::kAddOnCount; ++a)
        EXPECT_FALSE(rt.Bass().IsEnabled(bass::AddOn(a))) << a;
    rt.Stop();  // harmless twice
}

TEST(Startup, AMissingAddOnIsSkippedAndStaysDisabled) {
    TempDir dir;
    CCodecRuntime rt;
    ASSERT_EQ(rt.Start(dir.path().string(), {"BassWV.dll"}), StartResult::Started);
    EXPECT_EQ(rt.LoadedAddOns(),
              (std::vector<std::string>{"bassflac.dll", "basscd.dll", "bass_aac.dll",
                                        "bass_adx.dll", "bass_alac.dll"}));
    EXPECT_FALSE(rt.Bass().IsEnabled(bass::AddOn::WavPack));
    EXPECT_TRUE(rt.Bass().IsEnabled(bass::AddOn::Flac));
    EXPECT_TRUE(rt.Bass().IsEnabled(bass::AddOn::Alac));
}

TEST(Startup, WithoutAProgramFolderNoAddOnIsLoaded) {
    CCodecRuntime rt;
    ASSERT_EQ(rt.Start(""), StartResult::Started);
    EXPECT_TRUE(rt.LoadedAddOns().empty());
    for (int a = 0; a < bass::kAddOnCount; ++a)
        EXPECT_FALSE(rt.Bass().IsEnabled(bass::AddOn(a))) << a;
}

TEST(Startup, InitFailureText) { EXPECT_STREQ(kInitFailedMessage, "初始化软件失败 (0x0002020)."); }

TEST(Startup, WmaRuntimeLoadsOnceFromTheLinkedLibraries) {
    CCodecRuntime rt;
    ASSERT_EQ(rt.Start(""), StartResult::Started);
    // This build's FFmpeg has the ASF muxer and demuxer and the WMA codecs.
    ASSERT_TRUE(wma::WmaRuntimeAvailable());
    EXPECT_TRUE(rt.LoadWmaRuntime());
    EXPECT_TRUE(rt.LoadWmaRuntime());  // the second call finds it loaded
}

TEST(Startup, ExecutableFolderIsWhereTheTestRuns) {
    std::error_code ec;
    EXPECT_TRUE(fs::equivalent(ExecutableFolder(), fs::path(QUELVOX_BINARY_DIR) / "tests", ec));
    EXPECT_FALSE(ec);
}

class StartupSoundfont : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kFont)) GTEST_SKIP() << "no soundfont installed";
    }
};

TEST_F(StartupSoundfont, AFontCopiedLaterIsFoundWithoutARestart) {
    TempDir dir;
    CCodecRuntime rt;
    ASSERT_EQ(rt.Start(dir.path().string()), StartResult::Started);
    std::string midi = dir.file("tune.mid");
    WriteFile(midi, TinyMidi());

    RunState state;
    rt.LoadSoundfont(state);
    EXPECT_FALSE(state.soundfontReady);
    EXPECT_FALSE(rt.IsSoundfontLoaded());
    EXPECT_EQ(bass::MidiStreamCreateFile(rt.Bass(), midi, 44100), nullptr);

    // A file that is no soundfont does not count.
    WriteFile(dir.file(kSoundfontFileName), std::string(1000, 'x'));
    rt.LoadSoundfont(state);
    EXPECT_FALSE(state.soundfontReady);

    fs::copy_file(kFont, dir.file(kSoundfontFileName), fs::copy_options::overwrite_existing);
    rt.LoadSoundfont(state);
    EXPECT_TRUE(state.soundfontReady);
    EXPECT_TRUE(rt.IsSoundfontLoaded());
    EXPECT_EQ(rt.Bass().DefaultSoundfont(), dir.file(kSoundfontFileName));
    EXPECT_NE(bass::MidiStreamCreateFile(rt.Bass(), midi, 44100), nullptr);

    // The next run's state learns it from the runtime.
    RunState next;
    rt.LoadSoundfont(next);
    EXPECT_TRUE(next.soundfontReady);
}

TEST_F(StartupSoundfont, TheBuildFolderHoldsTheFont) {
    if (!fs::exists(fs::path(QUELVOX_BINARY_DIR) / kSoundfontFileName))
        GTEST_SKIP() << "the build linked no soundfont";
    CCodecRuntime rt;
    ASSERT_EQ(rt.Start(QUELVOX_BINARY_DIR), StartResult::Started);
    RunState state;
    rt.LoadSoundfont(state);
    EXPECT_TRUE(state.soundfontReady);
}

}  // namespace

namespace {

// Points the user's data folder at `folder` and the system's data folders
// at `folder`/system, so that no installed soundfont is found.
class DataHome {
public:
    explicit DataHome(const std::string& folder)
        : home_("XDG_DATA_HOME", folder.c_str()),
          dirs_("XDG_DATA_DIRS", (folder + "/system").c_str()) {}

private:
    testsupport::ScopedEnv home_, dirs_;
};

}  // namespace

TEST_F(StartupSoundfont, MidiIsMeasuredWithoutAFontAndTheUserFolderIsSearched) {
    TempDir program, data;
    DataHome home(data.path().string());
    CCodecRuntime rt;
    ASSERT_EQ(rt.Start(program.path().string()), StartResult::Started);
    const std::string midi = program.file("tune.mid");
    WriteFile(midi, TinyMidi());

    // No font anywhere: the file can be listed with its length, not rendered.
    RunState state;
    rt.LoadSoundfont(state);
    ASSERT_FALSE(state.soundfontReady);
    auto probe = bass::MidiStreamCreateFile(rt.Bass(), midi, 0);
    ASSERT_NE(probe, nullptr);
    EXPECT_GT(probe->GetLength(), 0u);
    EXPECT_EQ(bass::MidiStreamCreateFile(rt.Bass(), midi, 44100), nullptr);

    // A font put into $XDG_DATA_HOME/quelvox is found on the next look.
    EXPECT_EQ(UserDataFolder(), (data.path() / "quelvox").string());
    fs::create_directories(data.path() / "quelvox");
    const std::string font = (data.path() / "quelvox" / kSoundfontFileName).string();
    fs::copy_file(kFont, font);
    rt.LoadSoundfont(state);
    EXPECT_TRUE(state.soundfontReady);
    EXPECT_EQ(rt.Bass().DefaultSoundfont(), font);
}
