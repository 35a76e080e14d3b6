#include "engine/PendingOutput.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

namespace quelvox {

namespace fs = std::filesystem;

CPendingOutput::~CPendingOutput() { Abandon(); }

const std::string& CPendingOutput::Begin(const std::string& target) {
    Abandon();
    target_ = target;
    fs::path t(target);
    fs::path folder = t.parent_path();
    std::string name = t.filename().string();
    std::string ext = t.extension().string();
    std::string stem = name.substr(0, name.size() - ext.size());
    // A per-call generator: no shared state between conversions.
    std::random_device rd;
    std::mt19937_64 rng(rd() ^ static_cast<uint64_t>(
                                     std::chrono::steady_clock::now().time_since_epoch().count()));
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "%d-%08llx", static_cast<int>(::getpid()),
                      static_cast<unsigned long long>(rng() & 0xFFFFFFFFull));
        fs::path candidate = folder / ("." + stem + ".part-" + tag + ext);
        if (!fs::exists(fs::symlink_status(candidate, ec))) {
            temp_ = candidate.string();
            return temp_;
        }
    }
    temp_.clear();
    return temp_;
}

long long CPendingOutput::TempSize() const {
    if (temp_.empty()) return -1;
    std::error_code ec;
    auto size = fs::file_size(temp_, ec);
    return ec ? -1 : static_cast<long long>(size);
}

bool CPendingOutput::Commit() {
    if (temp_.empty()) return false;
    std::error_code ec;
    fs::rename(temp_, target_, ec);
    if (ec) {
        Abandon();
        return false;
    }
    temp_.clear();
    return true;
}

void CPendingOutput::Abandon() {
    if (temp_.empty()) return;
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
}

}  // namespace quelvox
