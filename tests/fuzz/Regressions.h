// The stored inputs of tests/fuzz/regressions/<name>/: inputs that crashed
// or hung a fuzz target once, and hand-made hostile inputs of the same
// parsers. The regression tests feed every one of them through the public
// interface.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// Paths of the inputs for `name` (e.g. "au"), sorted; empty when the folder
// is missing, which the tests treat as a failure.
inline std::vector<std::string> FuzzRegressionInputs(const std::string& name) {
    std::vector<std::string> paths;
    std::filesystem::path dir =
        std::filesystem::path(QUELVOX_SOURCE_DIR) / "tests/fuzz/regressions" / name;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.is_regular_file()) paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace testsupport
