#include "support/TestSupport.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = fs::temp_directory_path() /
                     ("quelvox-test-" + std::to_string(::getpid()) + "-" +
                      std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Restore permissions a test may have removed, so the folder can go.
    for (auto it = fs::recursive_directory_iterator(
             path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all,
                        fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    WriteFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

int Run(const std::string& command, std::string* output) {
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = ::pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

std::vector<int16_t> DecodeWithFfmpeg(const std::string& path) {
    std::string out;
    int rc = Run("ffmpeg -v error -nostdin -i " + Quote(path) +
                     " -map 0:a:0 -f s16le -acodec pcm_s16le - 2>/dev/null",
                 &out);
    if (rc != 0) return {};
    std::vector<int16_t> samples(out.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(
            static_cast<uint8_t>(out[2 * i]) |
            (static_cast<uint8_t>(out[2 * i + 1]) << 8));
    }
    return samples;
}

static std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string Probe(const std::string& path, const std::string& field,
                  bool format) {
    std::string out;
    std::string cmd = "ffprobe -v error ";
    if (format) cmd += "-show_entries format=" + field;
    else cmd += "-select_streams a:0 -show_entries stream=" + field;
    cmd += " -of default=nw=1:nk=1 " + Quote(path) + " 2>/dev/null";
    Run(cmd, &out);
    // Some containers print a field once per program; keep the first line.
    out = Trim(out);
    auto nl = out.find('\n');
    return nl == std::string::npos ? out : out.substr(0, nl);
}

std::string ProbeTag(const std::string& path, const std::string& tag) {
    std::string out;
    Run("ffprobe -v error -show_entries format_tags=" + tag +
            " -of default=nw=1:nk=1 " + Quote(path) + " 2>/dev/null",
        &out);
    out = Trim(out);
    if (out.empty()) {
        Run("ffprobe -v error -select_streams a:0 -show_entries stream_tags=" +
                tag + " -of default=nw=1:nk=1 " + Quote(path) + " 2>/dev/null",
            &out);
        out = Trim(out);
    }
    return out;
}

std::vector<int16_t> Sine(int frames, int channels, int rate, double hz,
                          double amplitude) {
    std::vector<int16_t> v(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i) {
        double s = amplitude * std::sin(2.0 * M_PI * hz * i / rate);
        for (int c = 0; c < channels; ++c) {
            // Each channel gets its own phase so channel swaps show.
            double sc = c == 0 ? s : amplitude * std::sin(2.0 * M_PI * hz * 1.5 * i / rate);
            v[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(std::lround(sc));
        }
    }
    return v;
}

std::vector<uint8_t> WavBytes(int rate, int channels, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> v;
    auto tag = [&v](const char* t) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(t[i]));
    };
    const uint32_t data = static_cast<uint32_t>(samples.size() * 2);
    tag("RIFF");
    PutLe32(v, 36 + data);
    tag("WAVE");
    tag("fmt ");
    PutLe32(v, 16);
    PutLe16(v, 1);
    PutLe16(v, static_cast<uint16_t>(channels));
    PutLe32(v, static_cast<uint32_t>(rate));
    PutLe32(v, static_cast<uint32_t>(rate * channels * 2));
    PutLe16(v, static_cast<uint16_t>(channels * 2));
    PutLe16(v, 16);
    tag("data");
    PutLe32(v, data);
    for (int16_t s : samples) PutLe16(v, static_cast<uint16_t>(s));
    return v;
}

void WriteWav(const std::string& path, int rate, int channels,
              const std::vector<int16_t>& samples) {
    WriteFile(path, WavBytes(rate, channels, samples));
}

std::string MakeWithFfmpeg(const TempDir& dir, const std::string& name,
                           const std::string& args) {
    std::string path = dir.file(name);
    int rc = Run("ffmpeg -v error -nostdin -y " + args + " " + Quote(path) + " 2>&1");
    if (rc != 0) throw std::runtime_error("ffmpeg could not make " + name + " from: " + args);
    return path;
}

void PutBe16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
void PutBe32(std::vector<uint8_t>& v, uint32_t x) {
    PutBe16(v, static_cast<uint16_t>(x >> 16));
    PutBe16(v, static_cast<uint16_t>(x));
}
void PutLe16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void PutLe32(std::vector<uint8_t>& v, uint32_t x) {
    PutLe16(v, static_cast<uint16_t>(x));
    PutLe16(v, static_cast<uint16_t>(x >> 16));
}

}  // namespace testsupport
