// Stored fuzzing inputs and hostile texts for the RIFF INFO reader and the
// decimal reading of tag texts.
#include "fuzz/Regressions.h"
#include "support/TestSupport.h"
#include "decoders/RiffInfo.h"
#include "common/TagInfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

using namespace quelvox;

TEST(FuzzRegression, RiffInfoInputsGiveBoundedTexts) {
    const auto inputs = testsupport::FuzzRegressionInputs("riffinfo");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const uint64_t bytes = std::filesystem::file_size(path);
        TagInfo tags;
        ReadRiffInfoTags(path, tags);
        for (const std::string* t : {&tags.title, &tags.artist, &tags.album, &tags.genre,
                                     &tags.comment, &tags.track, &tags.copyright})
            EXPECT_LE(t->size(), 4 * bytes + 64);
        EXPECT_LE(tags.year.size(), 16u);
        EXPECT_TRUE(tags.composer.empty());
    }
}

TEST(FuzzRegression, RiffInfoGenreNumbersOutsideTheListNameNoGenre) {
    const std::string path =
        std::string(QUELVOX_SOURCE_DIR) + "/tests/fuzz/regressions/riffinfo/genre-numbers.wav";
    TagInfo tags;
    ReadRiffInfoTags(path, tags);
    // IGRE 0xFFFFFFFF and IGNR "(99999999999999)": neither is an index of the
    // list, so the genre is the text as written or nothing, never a name.
    bool isName = false;
    for (int i = 0; i < kGenreCount; ++i) isName = isName || tags.genre == GenreName(i);
    EXPECT_FALSE(isName && !tags.genre.empty()) << tags.genre;
}

TEST(FuzzRegression, DecimalInputsClampAndStop) {
    const auto inputs = testsupport::FuzzRegressionInputs("decimal");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& path : inputs) {
        const auto bytes = testsupport::ReadFile(path);
        ParseDecimal(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    const std::string dir = std::string(QUELVOX_SOURCE_DIR) + "/tests/fuzz/regressions/decimal/";
    auto parse = [&](const char* name) {
        const auto b = testsupport::ReadFile(dir + name);
        return ParseDecimal(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
    };
    EXPECT_EQ(parse("int-min"), INT_MIN);
    EXPECT_EQ(parse("beyond-min"), INT_MIN);
    EXPECT_EQ(parse("sign-only"), 0);
    EXPECT_EQ(parse("nul-inside"), 12);
}
