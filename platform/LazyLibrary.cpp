#include "platform/LazyLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace quelvox {

CLazyLibrary::CLazyLibrary(std::vector<std::string> sonames) : sonames_(std::move(sonames)) {}

bool CLazyLibrary::Open() {
    for (const std::string& soname : sonames_) {
        // Local: the libraries' symbols serve our lookups only and cannot
        // stand in for those of anything loaded later. Lazy: functions we
        // never call are never bound.
        void* handle = dlopen(soname.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            error_ = why ? why : soname + ": cannot be opened";
            return false;
        }
        handles_.push_back(handle);
    }
    return true;
}

void* CLazyLibrary::Symbol(const char* name) {
    for (void* handle : handles_) {
        if (void* address = dlsym(handle, name)) return address;
    }
    error_ = std::string(name) + ": not found in " +
             (sonames_.empty() ? std::string("(none)") : sonames_.back());
    return nullptr;
}

void CLazyLibrary::ExpectLoaded() const {
    if (loaded_) return;
    std::fprintf(stderr, "quelvox: %s used before it was opened\n",
                 sonames_.empty() ? "a library" : sonames_.front().c_str());
    std::abort();
}

}  // namespace quelvox
