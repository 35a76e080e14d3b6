// The blocks of one pass over a reader, read on the converting thread or,
// once asked, decoded ahead on a second thread into a small bounded queue,
// so that decoding and the rest of the chain run on two processors. Either
// way the blocks, their positions and the end of the stream are exactly
// those the reader's own ReadBlock calls give, in order; the reader is used by
// one thread at a time (only the second one while it runs).
#pragma once

#include "common/AudioStream.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace quelvox {

struct RunState;

// Whether the conversion of `state`'s current file may take a second
// processor: fewer files of the run convert at this moment than the run
// has processors.
bool SpareProcessor(const RunState& state);

// Seconds of a source read on the converting thread before it may decode
// ahead: a shorter source ends before a second thread would have paid for
// its start and the hand-over of every block.
inline constexpr uint64_t kSecondsBeforeDecodingAhead = 2;

struct SourceBlock {
    int frames = 0;         // <= 0: the stream ended
    uint64_t position = 0;  // the reader's position after the block
};

class CBlockSource {
public:
    // Blocks come through the reader's ReadBlock into `block`. With
    // `stopAtTotal` (a synthesising reader that may go on for ever) no
    // block is read after one whose position reached `total`.
    CBlockSource(CAudioReader& reader, AudioBlock& block, bool stopAtTotal, uint64_t total);
    // Stops the second thread, if any, and waits for it; blocks read ahead
    // and not taken are dropped.
    ~CBlockSource();
    CBlockSource(const CBlockSource&) = delete;
    CBlockSource& operator=(const CBlockSource&) = delete;

    // Starts decoding ahead; from here until Stop only the second thread
    // uses the reader. When the system refuses the thread, blocks go on
    // being read on the calling thread.
    void DecodeAhead();
    bool DecodingAhead() const { return thread_.joinable(); }
    // The next block, in the block given at construction. An exception the reader threw on the second thread is thrown here, in
    // its place in the stream.
    SourceBlock Next();
    // Ends decoding ahead: the second thread finishes the block it reads and
    // stops, and the reader is the caller's again. Blocks already read
    // ahead still come first from Next.
    void Stop();

    // Blocks held between the threads; memory stays at this many blocks.
    static constexpr int kQueueBlocks = 16;

private:
    struct Slot {
        AudioBlock wide;
        SourceBlock block;
    };

    void Produce();
    // One ReadBlock into the slot's block, or the caller's when `slot` is
    // null.
    int ReadInto(Slot* slot);

    CAudioReader& reader_;
    AudioBlock& wide_;
    const bool stopAtTotal_;
    const uint64_t total_;

    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable blockReady_;
    std::condition_variable spaceFree_;
    int head_ = 0;   // next slot to hand out
    int count_ = 0;  // filled slots from head_ on (ring order)
    bool stop_ = false;
    bool finished_ = false;  // the producer read its last block
    bool consumerWaits_ = false;
    bool producerWaits_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace quelvox
