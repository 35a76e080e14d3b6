#include "engine/BlockSource.h"

#include "engine/RunState.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <utility>

namespace quelvox {

bool SpareProcessor(const RunState& state) {
    const int converting =
        state.filesConverting ? state.filesConverting->load(std::memory_order_relaxed) : 1;
    return converting < state.processors;
}

namespace {

// The second thread waits while the queue is full and resumes once it is
// down to this many blocks, so that it is woken once per several blocks.
constexpr int kResumeAt = CBlockSource::kQueueBlocks / 2;
// Likewise the converting thread, once it has taken every block, waits
// until this many are ready (or the stream ended): woken for each block, a
// cheap decoder and a cheap encoder spend more on waking each other than
// either spends on a block.
constexpr int kWakeConsumerAt = CBlockSource::kQueueBlocks / 4;

}  // namespace

CBlockSource::CBlockSource(CAudioReader& reader, AudioBlock& block, bool stopAtTotal,
                           uint64_t total)
    : reader_(reader), wide_(block), stopAtTotal_(stopAtTotal), total_(total) {}

int CBlockSource::ReadInto(Slot* slot) { return reader_.ReadBlock(slot ? slot->wide : wide_); }

CBlockSource::~CBlockSource() { Stop(); }

void CBlockSource::DecodeAhead() {
    if (thread_.joinable() || finished_) return;
    if (slots_.empty()) {
        slots_.resize(kQueueBlocks);
        for (Slot& s : slots_)
            s.wide.Shape(wide_.Channels(), kBlockFrames, wide_.Layout(), wide_.SourceBits());
    }
    stop_ = false;
    try {
        thread_ = std::thread([this] { Produce(); });
    } catch (const std::system_error&) {
        // No second thread to be had (a process limit): Next reads on the
        // calling thread, as without decoding ahead.
    }
}

void CBlockSource::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    spaceFree_.notify_one();
    thread_.join();
}

void CBlockSource::Produce() {
    int tail;
    {
        std::lock_guard lock(mutex_);
        tail = (head_ + count_) % kQueueBlocks;
    }
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (count_ == kQueueBlocks && !stop_) {
                producerWaits_ = true;
                spaceFree_.wait(lock, [this] { return stop_ || count_ <= kResumeAt; });
                producerWaits_ = false;
            }
            if (stop_) return;
        }
        // The slot at the tail is not the consumer's until counted below.
        Slot& slot = slots_[static_cast<size_t>(tail)];
        SourceBlock block;
        bool last = false;
        try {
            block.frames = ReadInto(&slot);
            if (block.frames > 0) block.position = reader_.GetPosition();
            last = block.frames <= 0 || (stopAtTotal_ && block.position >= total_);
        } catch (...) {
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
            finished_ = true;
            if (consumerWaits_) blockReady_.notify_one();
            return;
        }
        slot.block = block;
        tail = (tail + 1) % kQueueBlocks;
        std::lock_guard lock(mutex_);
        ++count_;
        if (last) finished_ = true;
        if (consumerWaits_ && (last || count_ >= kWakeConsumerAt)) blockReady_.notify_one();
        if (last) return;
    }
}

SourceBlock CBlockSource::Next() {
    std::unique_lock lock(mutex_);
    if (count_ == 0) {
        if (thread_.joinable() && !finished_) {
            consumerWaits_ = true;
            blockReady_.wait(lock, [this] { return count_ >= kWakeConsumerAt || finished_; });
            consumerWaits_ = false;
        }
        if (count_ == 0) {
            if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
            if (finished_) return SourceBlock{};
            // Not decoding ahead: read here.
            lock.unlock();
            SourceBlock block;
            block.frames = ReadInto(nullptr);
            if (block.frames > 0) block.position = reader_.GetPosition();
            return block;
        }
    }
    Slot& slot = slots_[static_cast<size_t>(head_)];
    lock.unlock();
    const SourceBlock block = slot.block;
    // The caller's block and the slot's trade their storage: the slot is
    // refilled into the caller's old one.
    if (block.frames > 0) std::swap(wide_, slot.wide);
    lock.lock();
    head_ = (head_ + 1) % kQueueBlocks;
    --count_;
    if (producerWaits_ && count_ == kResumeAt) spaceFree_.notify_one();
    return block;
}

}  // namespace quelvox
