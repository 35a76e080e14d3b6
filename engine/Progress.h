// The progress window as the engine sees it: two texts, two bars, a way to
// keep the front end alive, and the cancel flag. The GUI implements it with
// its progress dialog; the command line with a terminal bar.
#pragma once

#include <cstdint>
#include <string>

namespace quelvox {

class IProgress {
public:
    virtual ~IProgress() = default;
    // Text line of the current file ("开始转换 %s..." and the percentages).
    virtual void SetFileText(const std::string& text) = 0;
    // Bar of the current file; total 0 is counted as 1.
    virtual void SetFileProgress(uint64_t position, uint64_t total) = 0;
    // Text line of the run ("转换 %d of %d 文件到 %s...").
    virtual void SetRunText(const std::string& text) = 0;
    // Bar of the run: files begun out of files in the run.
    virtual void SetRunProgress(int done, int count) = 0;
    // Lets the front end process pending events (called once per block).
    virtual void Pump() = 0;
    // True once the user asked to cancel.
    virtual bool IsCancelled() const = 0;
};

// A progress sink that shows nothing and is cancelled only on request.
class CSilentProgress : public IProgress {
public:
    void SetFileText(const std::string&) override {}
    void SetFileProgress(uint64_t, uint64_t) override {}
    void SetRunText(const std::string&) override {}
    void SetRunProgress(int, int) override {}
    void Pump() override {}
    bool IsCancelled() const override { return cancelled; }
    void Cancel() { cancelled = true; }

private:
    bool cancelled = false;
};

}  // namespace quelvox
