// Stored fuzzing inputs and hostile files for the platform parsers: ".cda"
// descriptors, shell links, MIDI files and tracker modules.
#include "fuzz/Regressions.h"
#include "platform/ShellLink.h"
#include "platform/bass/Backends.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace quelvox;

namespace {

std::vector<uint8_t> Bytes(const std::string& path) { return testsupport::ReadFile(path); }

}  // namespace

TEST(FuzzRegression, CdaInputsAreRefused) {
    const auto inputs = testsupport::FuzzRegressionInputs("cda");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        const auto b = Bytes(path);
        bass::CdaDescriptor cda;
        EXPECT_FALSE(bass::ParseCdaDescriptor(b.data(), b.size(), cda)) << path;
        EXPECT_EQ(cda.track, 0);
        // Refused before any drive is looked for.
        EXPECT_EQ(bass::OpenCdTrack(path), nullptr) << path;
    }
}

TEST(FuzzRegression, ShellLinkInputsAreRefusedOrBounded) {
    const auto inputs = testsupport::FuzzRegressionInputs("lnk");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const auto b = Bytes(path);
        ShellLinkTarget target;
        const bool ok = ParseShellLink(b.data(), b.size(), target);
        if (!ok) {
            EXPECT_TRUE(target.localPath.empty() && target.relativePath.empty());
        }
        EXPECT_LE(target.localPath.size() + target.relativePath.size(), 3 * b.size());
        ShellLinkTarget fromFile;
        EXPECT_EQ(ReadShellLink(path, fromFile), ok);
        std::string resolved;
        ResolveShortcut(path, resolved);
    }
}

TEST(FuzzRegression, ShellLinkUnpairedSurrogatesBecomeReplacementCharacters) {
    const auto b = Bytes(std::string(QUELVOX_SOURCE_DIR) +
                         "/tests/fuzz/regressions/lnk/unpaired-surrogates.lnk");
    ShellLinkTarget target;
    ASSERT_TRUE(ParseShellLink(b.data(), b.size(), target));
    // High surrogate + low surrogate pair, a lone low surrogate, 'A'.
    EXPECT_EQ(target.relativePath,
              "\xF0\x90\x80\x80\xEF\xBF\xBD"
              "A");
}

TEST(FuzzRegression, MidiInputsAreRefusedOrGiveAFiniteLength) {
    const auto inputs = testsupport::FuzzRegressionInputs("midi");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const double seconds = bass::MidiFileSeconds(Bytes(path));
        EXPECT_FALSE(std::isnan(seconds));
        if (seconds >= 0) {
            EXPECT_TRUE(std::isfinite(seconds));
        }
    }
    const std::string dir = std::string(QUELVOX_SOURCE_DIR) + "/tests/fuzz/regressions/midi/";
    for (const char* name : {"header-length-huge.mid", "smpte-bad-fps.mid", "tracks-missing.mid",
                             "rmid-data-huge.rmi", "varlen-too-long.mid"})
        EXPECT_LT(bass::MidiFileSeconds(Bytes(dir + name)), 0) << name;
}

TEST(FuzzRegression, ModuleInputsAreRefusedOrRender) {
    const auto inputs = testsupport::FuzzRegressionInputs("module");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        auto channel = bass::OpenModule(path, 8000);
        if (!channel) continue;
        std::vector<char> buffer(16384);
        for (int i = 0; i < 8; ++i) {
            const int got = channel->GetData(buffer.data(), uint32_t(buffer.size()));
            if (got < 0) break;
            EXPECT_LE(size_t(got), buffer.size());
        }
    }
}
