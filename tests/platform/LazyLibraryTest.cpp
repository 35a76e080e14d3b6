#include "platform/LazyLibrary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace quelvox {
namespace {

TEST(LazyLibrary, OpensOnceAndBindsTheLibrarysOwnFunctions) {
    CLazyLibrary library({"libm.so.6"});
    EXPECT_FALSE(library.Loaded());
    double (*cosine)(double) = nullptr;
    int calls = 0;
    auto resolve = [&](CLazyLibrary& lib) {
        ++calls;
        return lib.Bind("cos", cosine);
    };
    // Several threads asking at once share the one opening.
    std::vector<std::thread> threads;
    std::vector<char> ok(4, 0);
    for (size_t i = 0; i < ok.size(); ++i)
        threads.emplace_back([&, i] { ok[i] = library.Load(resolve, nullptr); });
    for (std::thread& t : threads) t.join();
    for (char each : ok) EXPECT_TRUE(each);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(library.Loaded());
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.5), std::cos(0.5));
}

TEST(LazyLibrary, AMissingLibraryOrFunctionFailsWithTheLoadersReason) {
    CLazyLibrary missing({"libm.so.6", "libquelvox-missing.so.7"});
    std::string error;
    bool resolved = false;
    EXPECT_FALSE(missing.Load(
        [&](CLazyLibrary&) {
            resolved = true;
            return true;
        },
        &error));
    EXPECT_FALSE(resolved);
    EXPECT_FALSE(missing.Loaded());
    EXPECT_NE(error.find("libquelvox-missing.so.7"), std::string::npos) << error;

    CLazyLibrary lacking({"libm.so.6"});
    void (*none)() = nullptr;
    error.clear();
    EXPECT_FALSE(
        lacking.Load([&](CLazyLibrary& lib) { return lib.Bind("quelvox_no_such", none); }, &error));
    EXPECT_NE(error.find("quelvox_no_such"), std::string::npos) << error;
    // The outcome stays: a second call does not try again.
    error.clear();
    EXPECT_FALSE(lacking.Load([](CLazyLibrary&) { return true; }, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace quelvox
