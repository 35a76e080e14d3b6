// The libraries' own log lines (FFmpeg, FluidSynth, libcdio, libcue) pass through
// one handler of ours: dropped unless the front end asks to see them. The
// libraries keep their log settings for the whole process, so this is a
// process-wide choice too, made by the front end before it starts work.
//
// libmpg123 has no such handler: it writes to standard error unless a
// handle is made quiet. Ours are (MPG123_QUIET), libopenmpt makes its own
// quiet, and libsndfile, whose MPEG decoder's handle is not, is never
// given MPEG audio (bass/BassRuntime.cpp, bass/SndfileBackend.cpp).
#pragma once

#include <string>

namespace quelvox {

// Receives one complete log line, without its line break.
using LibraryLogSink = void (*)(const std::string& line);

// Points every library's log at our handler (again, when called twice).
// Until a sink is set, every line is dropped.
void RouteLibraryLogs();

// Where the lines go from now on; null drops them.
void SetLibraryLogSink(LibraryLogSink sink);

// Hands one line of a library without a log handler of its own (libcue
// writes to standard error; its lines are caught and passed on here) to
// the sink; dropped when none is set.
void LogLibraryLine(const std::string& line);

}  // namespace quelvox
