#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
                     ("quelvox-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
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
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
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
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
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
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(out[2 * i]) |
                                          (static_cast<uint8_t>(out[2 * i + 1]) << 8));
    }
    return samples;
}

static std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string Probe(const std::string& path, const std::string& field, bool format) {
    std::string out;
    std::string cmd = "ffprobe -v error ";
    if (format)
        cmd += "-show_entries format=" + field;
    else
        cmd += "-select_streams a:0 -show_entries stream=" + field;
    cmd += " -of default=nw=1:nk=1 " + Quote(path) + " 2>/dev/null";
    Run(cmd, &out);
    // Some containers print a field once per program; keep the first line.
    out = Trim(out);
    auto nl = out.find('\n');
    return nl == std::string::npos ? out : out.substr(0, nl);
}

std::string ProbeTag(const std::string& path, const std::string& tag) {
    std::string out;
    Run("ffprobe -v error -show_entries format_tags=" + tag + " -of default=nw=1:nk=1 " +
            Quote(path) + " 2>/dev/null",
        &out);
    out = Trim(out);
    if (out.empty()) {
        Run("ffprobe -v error -select_streams a:0 -show_entries stream_tags=" + tag +
                " -of default=nw=1:nk=1 " + Quote(path) + " 2>/dev/null",
            &out);
        out = Trim(out);
    }
    return out;
}

std::vector<int16_t> Sine(int frames, int channels, int rate, double hz, double amplitude) {
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

std::vector<uint8_t> WavFileBytes(int formatTag, int channels, int rate, int bits,
                                  const std::vector<uint8_t>& data) {
    std::vector<uint8_t> v;
    auto tag = [&v](const char* t) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(t[i]));
    };
    tag("RIFF");
    PutLe32(v, static_cast<uint32_t>(36 + data.size()));
    tag("WAVE");
    tag("fmt ");
    PutLe32(v, 16);
    PutLe16(v, static_cast<uint16_t>(formatTag));
    PutLe16(v, static_cast<uint16_t>(channels));
    PutLe32(v, static_cast<uint32_t>(rate));
    PutLe32(v, static_cast<uint32_t>(rate * channels * bits / 8));
    PutLe16(v, static_cast<uint16_t>(channels * bits / 8));
    PutLe16(v, static_cast<uint16_t>(bits));
    tag("data");
    PutLe32(v, static_cast<uint32_t>(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

std::vector<uint8_t> WavBytes(int rate, int channels, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> data;
    data.reserve(samples.size() * 2);
    for (int16_t s : samples) PutLe16(data, static_cast<uint16_t>(s));
    return WavFileBytes(1, channels, rate, 16, data);
}

void WriteWav(const std::string& path, int rate, int channels,
              const std::vector<int16_t>& samples) {
    WriteFile(path, WavBytes(rate, channels, samples));
}

std::string MakeWithFfmpeg(const TempDir& dir, const std::string& name, const std::string& args) {
    std::string path = dir.file(name);
    int rc = Run("ffmpeg -v error -nostdin -y " + args + " " + Quote(path) + " 2>&1");
    if (rc != 0) throw std::runtime_error("ffmpeg could not make " + name + " from: " + args);
    return path;
}

void Shell(const std::string& cmd) {
    std::string out;
    ASSERT_EQ(Run(cmd + " 2>&1", &out), 0) << cmd << "\n" << out;
}

double ProbeNumber(const std::string& path, const std::string& field, bool format) {
    return std::atof(Probe(path, field, format).c_str());
}

double ToneLevel(const std::vector<int16_t>& x, size_t from, int rate, double hz) {
    double s = 0, c = 0;
    for (int n = 0; n < rate && from + n < x.size(); ++n) {
        double w = 2 * M_PI * hz * n / rate;
        s += x[from + n] * std::sin(w);
        c += x[from + n] * std::cos(w);
    }
    return 2 * std::sqrt(s * s + c * c) / rate;
}

int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t stride,
                  size_t offset) {
    int worst = 0;
    for (size_t i = 0; i < a.size() && i * stride + offset < b.size(); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i * stride + offset]));
    return worst;
}

double SnrDb(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    size_t n = std::min(a.size(), b.size());
    double sig = 0, err = 0;
    for (size_t i = 0; i < n; ++i) {
        sig += double(a[i]) * a[i];
        err += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    // Identical decodes rate 200 dB; two empty or silent ones are no match.
    if (err == 0) return sig > 0 ? 200.0 : -HUGE_VAL;
    return 10 * std::log10(sig / err);
}

int Peak(const int16_t* begin, const int16_t* end) {
    int peak = 0;
    for (const int16_t* p = begin; p < end; ++p) peak = std::max(peak, std::abs(int(*p)));
    return peak;
}

int Peak(const std::vector<int16_t>& s) { return Peak(s.data(), s.data() + s.size()); }

std::vector<int16_t> Voice(int samples, int rate, double pitchHz, double glideDepthHz,
                           double glideRateHz, int harmonics, double amplitude) {
    std::vector<int16_t> v(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        double t = static_cast<double>(i) / rate;
        double f0 = pitchHz + glideDepthHz * std::sin(2 * M_PI * glideRateHz * t);
        double s = 0;
        for (int h = 1; h <= harmonics && f0 * h < rate / 2 - 200; ++h)
            s += std::sin(2 * M_PI * f0 * h * t) / h;
        v[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(amplitude * s));
    }
    return v;
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
