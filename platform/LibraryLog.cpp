#include "platform/LibraryLog.h"

#include "platform/bass/FluidSynthEntryPoints.h"

extern "C" {
#include <libavutil/log.h>
}
#include <cdio/logging.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace quelvox {

namespace {

std::atomic<LibraryLogSink> g_sink{nullptr};

void Emit(const std::string& line) {
    LibraryLogSink sink = g_sink.load();
    if (!sink || line.empty()) return;
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty()) sink(text);
}

extern "C" void FromFfmpeg(void* object, int level, const char* format, va_list args) {
    if (level > av_log_get_level() || !g_sink.load()) return;
    char line[1024];
    int prefix = 1;
    av_log_format_line2(object, level, format, args, line, sizeof line, &prefix);
    Emit(line);
}

extern "C" void FromFluidSynth(int level, const char* message, void* data) {
    (void)level;
    (void)data;
    if (message) Emit(std::string("fluidsynth: ") + message);
}

extern "C" void FromCdio(cdio_log_level_t level, const char* message) {
    (void)level;
    if (message) Emit(std::string("libcdio: ") + message);
}

}  // namespace

void RouteLibraryLogs() {
    av_log_set_callback(FromFfmpeg);
    // FluidSynth is opened only for MIDI files; its log is routed then.
    bass::RouteFluidSynthLogs(FromFluidSynth);
    cdio_log_set_handler(FromCdio);
}

void SetLibraryLogSink(LibraryLogSink sink) { g_sink.store(sink); }

void LogLibraryLine(const std::string& line) { Emit(line); }

}  // namespace quelvox
