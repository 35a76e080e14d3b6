// Tracker modules through the module backend (libopenmpt), a bounded
// stretch of rendering.
#include "fuzz/FuzzSupport.h"
#include "platform/bass/Backends.h"

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::Scratch().Write(data, size, ".mod");
    auto channel = bass::OpenModule(path, 8000);
    if (!channel) return 0;
    channel->GetInfo();
    channel->ReadTags();
    // Modules may loop for hours; a few seconds of output walk the pattern
    // and sample data that matter here.
    static char buffer[16384];
    for (int i = 0; i < 8; ++i)
        if (channel->GetData(buffer, sizeof buffer) < 0) break;
    return 0;
}
