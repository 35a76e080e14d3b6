// The product's own facts, kept in one place: its name, version and build,
// and the addresses the program sends users to.
#pragma once

namespace quelvox {

inline constexpr const char* kProductName = "Quelvox";
inline constexpr const char* kProductVersion = "4.3";
inline constexpr int kProductBuild = 1287;
// "4.3 build 1287", as the about box and `quelvox-cli --version` show it.
inline constexpr const char* kProductVersionText = "4.3 build 1287";

inline constexpr const char* kWebAddress = "https://quelvox.org/";
inline constexpr const char* kSupportAddress = "support@quelvox.org";
inline constexpr const char* kUpdateAddress = "https://quelvox.org/download/";
// WMA work stands on FFmpeg's WMA codecs and ASF container: our help page
// on installing an FFmpeg that has them.
inline constexpr const char* kWmaRuntimeAddress = "https://quelvox.org/help/ffmpeg-wma/";
inline constexpr const char* kSoundfontAddress = "https://quelvox.org/download/ct4mgm.sf2";
// Page of the companion program for video files, offered when the user
// picks the video item of the format list.
inline constexpr const char* kVideoConverterAddress = "https://quelvox.org/video/";

}  // namespace quelvox
