// State of one conversion run, owned by the front end (main window or
// command line) and handed to the engine. Two runs on two threads each own
// their RunState, so they never share mutable state.
#pragma once

#include "common/Text.h"
#include "engine/Loudness.h"

#include <atomic>
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
    // Entry being converted; its Path names the file in every progress
    // text, even while a temporary file is read instead.
    const FileEntry* currentEntry = nullptr;
    // 1-based position of the file within the run; also the track number
    // when tracks are numbered by list position.
    int currentIndex = 0;
    // Set by the reader factory when it built a primary reader, cleared when
    // it built the fallback; a pass that fails with it set is repeated once.
    bool retry = false;
    // Reason of the last failure, appended to the failure text of a row.
    Text errorDetail;
    // Whether the MIDI soundfont is loaded.
    bool soundfontReady = false;
    // Gain found by the normalisation pass (-1 = none measured) and the gain
    // actually applied to the current file.
    float normalisationGain = -1.0f;
    float appliedGain = 1.0f;
    // Gain that brings the current file to the target loudness (-1 = none
    // measured), and the loudness its measuring pass found (not valid when
    // none ran).
    float loudnessGain = -1.0f;
    LoudnessResult trackLoudness;
    // Measured before the files convert, when one gain serves them all:
    // the loudness of them all together, and the current file's own (its
    // measuring pass is then not repeated). Not valid otherwise.
    LoudnessResult albumLoudness;
    LoudnessResult measuredTrack;
    // The normalisation gain that same pass found (-1 = none).
    float measuredNormalisationGain = -1.0f;
    // Whether the current file's target existed when its name was chosen
    // (1, 0; -1 unknown: the conversion looks when it starts). Only such a
    // target is replaced; one that appears later belongs to someone else.
    int targetExisted = -1;
    // Name the last successful conversion's output actually took.
    std::string outputUsed;
    // A converted source that held clearly less audio than its header
    // claimed: both lengths in seconds (heldSeconds < 0: nothing to say).
    double claimedSeconds = 0.0;
    double heldSeconds = -1.0;
    // Tag fields the last committed output could not hold.
    DroppedTagNotes droppedTags;
    // Other notes on the current file (channels left out), reported once
    // its output is committed.
    std::vector<Text> notes;
    // Samples of the current file that its integer output clipped.
    uint64_t clippedSamples = 0;
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

}  // namespace quelvox
