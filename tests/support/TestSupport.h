// Helpers shared by the test binaries: scratch folders, file I/O, running
// the independent tools (ffmpeg, ffprobe, sox) that check our output.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Sets (or, with a null value, unsets) an environment variable for the
// life of the object, then restores what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A fresh folder below the system temp folder, removed with its contents
// when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// Runs a shell command; returns its exit status and fills `output` with
// what it printed on standard output.
int Run(const std::string& command, std::string* output = nullptr);
// Quotes a string for the shell.
std::string Quote(const std::string& s);

// Decodes any file with ffmpeg to interleaved signed 16-bit samples at the
// file's own rate and channel count. Empty when ffmpeg fails.
std::vector<int16_t> DecodeWithFfmpeg(const std::string& path);
// Asks ffprobe for one field of the first audio stream (e.g. "codec_name",
// "sample_rate", "channels") or of the format ("format_name", "duration"
// with format=true).
std::string Probe(const std::string& path, const std::string& field, bool format = false);
// Asks ffprobe for one tag of the container or first audio stream.
std::string ProbeTag(const std::string& path, const std::string& tag);

// A 16-bit PCM WAV file holding interleaved `samples`.
std::vector<uint8_t> WavBytes(int rate, int channels, const std::vector<int16_t>& samples);
void WriteWav(const std::string& path, int rate, int channels, const std::vector<int16_t>& samples);

// Runs ffmpeg with `args` (inputs and options) writing `name` in `dir`;
// returns the new file's path.
std::string MakeWithFfmpeg(const TempDir& dir, const std::string& name, const std::string& args);

// Runs a shell command (its output discarded) and asserts that it succeeded.
void Shell(const std::string& cmd);
// A number ffprobe reports (see Probe); 0 when it reports nothing.
double ProbeNumber(const std::string& path, const std::string& field, bool format = false);

// A RIFF WAVE file of any format tag around raw sample bytes.
std::vector<uint8_t> WavFileBytes(int formatTag, int channels, int rate, int bits,
                                  const std::vector<uint8_t>& data);

// Amplitude of the tone of `hz` in one second of `x` starting at `from`.
double ToneLevel(const std::vector<int16_t>& x, size_t from, int rate, double hz);
// Largest absolute difference between a[i] and b[i * stride + offset], over
// the samples both have.
int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t stride = 1,
                  size_t offset = 0);
// Signal-to-difference ratio in dB of b against a, over the common length;
// 200 when they agree exactly, minus infinity when there is no signal.
double SnrDb(const std::vector<int16_t>& a, const std::vector<int16_t>& b);

// Largest absolute sample value in [begin, end), or of `s`.
int Peak(const int16_t* begin, const int16_t* end);
int Peak(const std::vector<int16_t>& s);

// A voiced, speech-like mono signal: the harmonics (up to `harmonics`, and
// below 200 Hz short of half the rate) of a pitch gliding by
// ±`glideDepthHz` around `pitchHz`, `glideRateHz` times a second.
std::vector<int16_t> Voice(int samples, int rate, double pitchHz, double glideDepthHz,
                           double glideRateHz, int harmonics, double amplitude);

// Sine wave test signal, interleaved 16-bit.
std::vector<int16_t> Sine(int frames, int channels, int rate, double hz,
                          double amplitude = 12000.0);

// Little- and big-endian byte writers for building test files by hand.
void PutBe16(std::vector<uint8_t>& v, uint16_t x);
void PutBe32(std::vector<uint8_t>& v, uint32_t x);
void PutLe16(std::vector<uint8_t>& v, uint16_t x);
void PutLe32(std::vector<uint8_t>& v, uint32_t x);

}  // namespace testsupport
