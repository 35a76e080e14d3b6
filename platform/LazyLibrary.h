// Shared libraries opened when a job first needs them rather than at start.
//
// Debian's libavcodec and libavformat bring some 130 further libraries with
// them (video codecs, network, subtitle and font libraries), and FluidSynth
// some 60 (sound servers, GLib): mapping and relocating them took about
// 70 ms of every start, more than a short WAV or AMR job takes to convert.
// The programs therefore link neither; the layer that uses one opens it
// through a CLazyLibrary the first time a stream needs it, once per process.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace quelvox {

class CLazyLibrary {
public:
    // `sonames`: the libraries to open, in order (a later one may use an
    // earlier one). Symbols are looked up in all of them.
    explicit CLazyLibrary(std::vector<std::string> sonames);
    CLazyLibrary(const CLazyLibrary&) = delete;
    CLazyLibrary& operator=(const CLazyLibrary&) = delete;

    // Opens the libraries and runs `resolve` (which looks its symbols up
    // with Symbol) the first time it is called; later calls, from any
    // thread, return the first call's outcome. On failure `error` gets the
    // loader's text ("libx.so.1: cannot open shared object file ...").
    template <typename Resolve>
    bool Load(Resolve&& resolve, std::string* error) {
        std::call_once(once_, [&] { loaded_ = Open() && resolve(*this); });
        if (!loaded_ && error) *error = error_;
        return loaded_;
    }

    // The address of `name`, or null (and the reason kept for Load's
    // caller) when no opened library has it.
    void* Symbol(const char* name);

    // Sets a function pointer from Symbol; false when the symbol is missing.
    template <typename Fn>
    bool Bind(const char* name, Fn& slot) {
        void* address = Symbol(name);
        slot = reinterpret_cast<Fn>(address);
        return address != nullptr;
    }

    // True once a Load has succeeded (from any thread).
    bool Loaded() const { return loaded_; }
    // Stops the program with a message naming the library when no Load has
    // succeeded: calling into it then is a programming error.
    void ExpectLoaded() const;

private:
    bool Open();

    std::vector<std::string> sonames_;
    std::vector<void*> handles_;
    std::once_flag once_;
    std::atomic<bool> loaded_ = false;
    std::string error_;
};

}  // namespace quelvox
