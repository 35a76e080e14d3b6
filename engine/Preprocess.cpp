#include "engine/Preprocess.h"

#include "decoders/ReaderFactory.h"
#include "encoders/RawPcmWriter.h"
#include "engine/ConversionContext.h"
#include "engine/FileEntry.h"
#include "engine/ProcessingChain.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace quelvox {

namespace fs = std::filesystem;

int MakeTempFileName(const std::string& folder, const std::string& prefix,
                     const std::string& extension, std::string& name) {
    std::string dir = folder;
    if (dir.empty()) {
        std::error_code ec;
        dir = fs::temp_directory_path(ec).string();
        if (ec || dir.empty()) return 0;
    }
    if (dir.back() != '/') dir += '/';

    // The generator belongs to this call: two conversions never share it.
    std::random_device device;
    std::mt19937 random(device());
    const std::string pid = std::to_string(static_cast<long>(::getpid()));
    const std::string thread =
        std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()) % 1000000007u);

    // Creating the file exclusively both tests the name (file, folder or
    // link) and reserves it.
    for (unsigned counter = 1; counter <= 100000; ++counter) {
        const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
        std::string candidate = dir + prefix + pid + thread +
                                std::to_string(static_cast<unsigned long long>(ticks)) +
                                std::to_string(random() % 32768u) + std::to_string(counter) +
                                extension;
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            name = std::move(candidate);
            return 1;
        }
        if (errno != EEXIST) return 0;
    }
    return 0;
}

}  // namespace quelvox
