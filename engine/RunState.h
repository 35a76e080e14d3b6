// A conversion run's configuration, settled by the front end (main window
// or command line) before its files convert and only read while they do,
// and what the processing of one file finds, returned with that file's
// result. Two runs on two threads each own their RunState, and every file
// its own findings, so they never share mutable state.
#pragma once

#include "common/Text.h"
#include "engine/LoudnessMeter.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quelvox {

struct FileEntry;
class CLeftoverSweep;

// Tag fields an output could not hold: a short note naming the output,
// then one note per field left out (for a verbose front end).
struct DroppedTagNotes {
    Text summary;
    std::vector<Text> fields;
    bool empty() const { return summary.empty(); }
};

struct RunState {
    // Whether the MIDI soundfont is loaded.
    bool soundfontReady = false;
    // Measured before the files convert, when one gain serves them all:
    // the loudness of them all together, and the file's own (its measuring
    // pass is then not repeated). Not valid otherwise.
    LoudnessResult albumLoudness;
    LoudnessResult measuredTrack;
    // The normalisation gain that same pass found (-1 = none).
    float measuredNormalisationGain = -1.0f;
    // Processors the run may use, and how many of its files are converting
    // at this moment (null: one file at a time). While fewer files convert
    // than there are processors, a conversion decodes ahead on a second
    // thread.
    int processors = 1;
    const std::atomic<int>* filesConverting = nullptr;
    // The output folders the run has cleared of leftover temporary files
    // (null: every output clears its folder).
    CLeftoverSweep* leftovers = nullptr;
};

// What the reader chain tells the pass that asked it for a reader.
struct PassNotes {
    // Set when a primary reader was built, cleared when the fallback was;
    // a pass that fails with it set is repeated once.
    bool retry = false;
    // Why the last attempt failed, appended to the failure text of a row.
    Text errorDetail;
    // Notes on what was added (a sheet cut short).
    std::vector<Text> notes;
};

// What the passes before a conversion measured of a file.
struct FileMeasure {
    // Gain of the normalisation pass (-1 = none measured).
    float normalisationGain = -1.0f;
    // Gain that brings the file to the target loudness (-1 = none), and
    // the loudness its measuring pass found (not valid when none ran).
    float loudnessGain = -1.0f;
    LoudnessResult trackLoudness;
    // Without the limiter: the loudness the ceiling held the output at,
    // short of the target (NaN: it reaches the target).
    double heldLufs = std::numeric_limits<double>::quiet_NaN();
    // How far below the ceiling this encoding keeps the true peak (dB): 0,
    // or, when the decoded output of a lossy encoding went over the
    // ceiling, that overshoot and a little more, for the encoding that
    // replaces it.
    double headroomDb = 0.0;
    // How many encodings before this one were replaced because their
    // decoded output missed the ceiling or the target (at most two are).
    int repeats = 0;
};

// What the processing of one file found.
struct FileFindings {
    FileMeasure measured;
    // The gain applied to its samples.
    float appliedGain = 1.0f;
    // Name its output actually took (empty: none was committed).
    std::string outputUsed;
    // A source that held clearly less audio than its header claimed: both
    // lengths in seconds (heldSeconds < 0: nothing to say).
    double claimedSeconds = 0.0;
    double heldSeconds = -1.0;
    // Tag fields its output could not hold.
    DroppedTagNotes droppedTags;
    // Other notes on it (channels left out, samples clipped), reported once
    // its output is committed.
    std::vector<Text> notes;
    // Samples that its integer output clipped.
    uint64_t clippedSamples = 0;
    // The smallest gain the limiter applied (1: it never acted).
    float limiterGain = 1.0f;
    // Loudness and true peak of the output as written, measured on its
    // decoded audio (a lossy output) or on what the writer received (not
    // valid where neither was measured).
    LoudnessResult written;
    // Why it failed, appended to the failure text of its row.
    Text errorDetail;
    // An unfinished output that could not be removed (its folder became
    // read-only): the front end names it.
    std::string partFileLeft;
};

// The result of one conversion pass over a file: success, whether the
// source held audio at all, and what was found on the way.
struct FileResult {
    bool ok = false;
    bool audioFound = true;
    FileFindings findings;
};

}  // namespace quelvox
