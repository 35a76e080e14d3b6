// A progress sink for work that shows no progress window.
#pragma once

#include "engine/HostInterfaces.h"

namespace quelvox {

// A progress sink that shows nothing and is cancelled only on request.
class CSilentProgress : public IProgress {
public:
    void SetFileText(const Text&) override {}
    void SetFileProgress(uint64_t, uint64_t) override {}
    void SetRunText(const Text&) override {}
    void SetRunProgress(int, int) override {}
    void Pump() override {}
    bool IsCancelled() const override { return cancelled; }
    bool ShowsText() const override { return false; }
    void Cancel() { cancelled = true; }

private:
    bool cancelled = false;
};

}  // namespace quelvox
