// Stored fuzzing inputs and hostile texts for the extension filter. Each
// input is a switch byte (low bit: filter on), the filter text, a line feed
// and the path to judge.
#include "engine/AddFiles.h"
#include "fuzz/Regressions.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quelvox;

namespace {

bool Judge(const std::vector<uint8_t>& input) {
    std::string text(input.begin() + 1, input.end());
    const size_t split = text.find('\n');
    CSettings settings;
    settings.EnableExtFilter = input[0] & 1;
    settings.FilterExts = text.substr(0, split);
    RebuildFilterList(settings);
    return PassesExtensionFilter(settings,
                                 split == std::string::npos ? "" : text.substr(split + 1));
}

std::vector<uint8_t> Input(const char* name) {
    return testsupport::ReadFile(std::string(QUELVOX_SOURCE_DIR) +
                                 "/tests/fuzz/regressions/extfilter/" + name);
}

}  // namespace

TEST(FuzzRegression, ExtensionFilterInputs) {
    const auto inputs = testsupport::FuzzRegressionInputs("extfilter");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        const auto b = testsupport::ReadFile(path);
        ASSERT_FALSE(b.empty()) << path;
        Judge(b);
    }
    // A filter of separators only lets nothing through; a name ending in a
    // dot or without a dot has no extension.
    EXPECT_FALSE(Judge(Input("separators-only")));
    EXPECT_FALSE(Judge(Input("dot-at-end")));
    // A bare ".mp3" is a hidden name without an extension, or an mp3; either
    // reading must not crash, and a NUL inside an extension is compared as
    // a byte like any other.
    Judge(Input("no-slash"));
    EXPECT_TRUE(Judge(Input("nul-and-high-bytes")));
}
