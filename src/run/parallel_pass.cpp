#include "run/parallel_pass.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace psd {

namespace {

// Samples a batch of sections holds at least: a transform handed to another thread is then worth
// the hand-over even for sections of 4 points.
constexpr std::size_t batch_samples = std::size_t{1} << 14;

// The batches together hold no more than this, beyond the two any pass needs: at N = 2^20 one
// section of both records takes 16 MiB.
constexpr std::size_t batches_bytes = std::size_t{40} << 20;

// Sections of both records, widened to double, some of them whole.
struct Batch {
    enum class State { free, filling, queued, transforming, transformed };
    std::unique_ptr<double[]> voltage, current;
    std::size_t capacity = 0;  // samples of each record there is room for
    std::size_t target = 0;    // samples at which it is handed over: whole sections
    // Samples it holds. Only filling changes them (commit clears them once it is done), so from
    // the hand-over on they are the samples the transform and the commit take.
    std::size_t filled = 0;
    State state = State::free;
};

// The samples waiting to go into sections: lines 1 and 2, then the used lines of a chunk.
struct Pending {
    const float* voltage = nullptr;
    const float* current = nullptr;
    std::uint32_t count = 0;
    std::uint32_t taken = 0;
    bool from_chunk = false;
};

class ParallelPass {
  public:
    ParallelPass(SampleStream& stream, std::uint64_t used_lines, Window window, std::uint32_t n,
                 unsigned threads, std::optional<Estimator>& estimator, const PassLayout& layout);

    // What each thread does until the pass is over. Rethrows nothing: an exception ends the pass
    // and is kept for rethrow().
    void work();
    void rethrow() const {
        if (error_) std::rethrow_exception(error_);
    }
    PassResult result() const;

  private:
    bool can_claim() const;
    void read_chunk(std::unique_lock<std::mutex>& lock);
    void transform_batch(std::unique_lock<std::mutex>& lock);
    void ordered_work(std::unique_lock<std::mutex>& lock);
    bool ordered_step(std::unique_lock<std::mutex>& lock);
    bool take_chunk(std::unique_lock<std::mutex>& lock);
    bool fill_batch(std::unique_lock<std::mutex>& lock);
    void end_of_samples();
    bool find_batch();
    bool append();
    bool make_room(Batch& batch);
    bool make_estimator();
    void stop_sections();
    void hand_over(std::size_t index);
    void commit(Batch& batch);

    // Set up before the threads start, then read only.
    std::uint32_t n_;
    Window window_;
    std::size_t batch_target_;  // samples of a full batch: whole sections
    ChunkSource source_;
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::vector<Batch> batches_;
    float first_voltage_[2], first_current_[2];

    // Shared, under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<char> ready_;         // per chunk slot: read and converted or counted
    std::uint64_t next_claim_ = 0;    // the next chunk to read
    std::uint64_t next_take_ = 0;     // the next chunk to take back in order
    std::uint64_t end_ = UINT64_MAX;  // past the file's last chunk, once read
    bool converting_ = true;          // what the sequencer did when last asked
    bool sequenced_ = false;          // every chunk taken back, the last batch handed over
    std::vector<std::size_t> to_transform_, to_commit_;  // batches, in section order
    bool ordering_ = false;                              // a thread does the ordered work
    bool finished_ = false;
    std::exception_ptr error_;

    // The ordered work's own, touched by the thread doing it only.
    ChunkSequencer sequencer_;
    std::optional<Estimator>& estimator_;
    Pending pending_;
    std::size_t filling_ = SIZE_MAX;  // the batch samples go into
    std::uint64_t assembled_ = 0;     // samples gone into sections so far
    bool assembling_ = true;
    bool memory_short_ = false;
};

// The chunks in flight: enough that a thread the system sets aside for a while (the machine is
// shared) does not leave the others idle as soon as they reach the chunk it holds.
std::size_t chunk_slots(unsigned threads) {
    return 4 * std::size_t{threads} + 4;
}

// Every buffer of the chunks in flight, allocated before anything is read.
std::vector<std::unique_ptr<Chunk>> make_chunks(std::size_t count, std::size_t size) {
    std::vector<std::unique_ptr<Chunk>> chunks;
    for (std::size_t j = 0; j < count; ++j)
        chunks.push_back(std::make_unique<Chunk>(size));
    return chunks;
}

std::size_t batch_count(std::size_t batch_target, unsigned threads) {
    // One batch filling while every thread transforms one; two at least, and at a large N no more
    // than the memory allowance holds.
    const std::size_t bytes = 2 * sizeof(double) * batch_target;
    const std::size_t allowed = std::max<std::size_t>(2, batches_bytes / bytes);
    return std::min<std::size_t>(std::size_t{threads} + 1, std::max<std::size_t>(2, allowed));
}

ParallelPass::ParallelPass(SampleStream& stream, std::uint64_t used_lines, Window window,
                           std::uint32_t n, unsigned threads, std::optional<Estimator>& estimator,
                           const PassLayout& layout)
    : n_(std::max<std::uint32_t>(n, 1)),  // any length when nothing is converted
      window_(window),
      batch_target_(std::max<std::size_t>(1, batch_samples / n_) * n_),
      source_(stream, layout.chunk_size, layout.positional),
      chunks_(make_chunks(chunk_slots(threads), layout.chunk_size)),
      batches_(batch_count(batch_target_, threads)),
      ready_(chunk_slots(threads), 0),
      sequencer_(stream, used_lines, layout.chunk_size),
      estimator_(estimator) {
    converting_ = sequencer_.converting();
    assembling_ = used_lines != 0;
    if (assembling_) {
        // Lines 1 and 2 are the first samples of the first section.
        for (int j = 0; j < 2; ++j) {
            first_voltage_[j] = stream.first_two[j].voltage;
            first_current_[j] = stream.first_two[j].current;
        }
        pending_ = {first_voltage_, first_current_, 2, 0, false};
    }
}

void ParallelPass::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    try {
        while (!finished_) {
            if (!to_transform_.empty()) {
                transform_batch(lock);
            } else if (can_claim()) {
                read_chunk(lock);
            } else {
                wake_.wait(lock);
            }
        }
    } catch (...) {
        if (!lock.owns_lock()) lock.lock();
        if (!error_) error_ = std::current_exception();
        finished_ = true;
        wake_.notify_all();
    }
}

bool ParallelPass::can_claim() const {
    return !sequenced_ && next_claim_ < end_ && next_claim_ < next_take_ + chunks_.size();
}

void ParallelPass::read_chunk(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t k = next_claim_++;
    const std::size_t slot = k % chunks_.size();
    Chunk& chunk = *chunks_[slot];
    // Once the sequencer only counts, so do the chunks after; before, every chunk is converted
    // in case its lines are used.
    const bool convert = converting_;
    lock.unlock();
    source_.read(k, chunk);
    if (!chunk.read_error) {
        if (convert) {
            convert_chunk(chunk);
        } else {
            count_chunk(chunk);
        }
    }
    lock.lock();
    ready_[slot] = 1;
    if (chunk.last) end_ = std::min(end_, k + 1);
    ordered_work(lock);
}

void ParallelPass::transform_batch(std::unique_lock<std::mutex>& lock) {
    const std::size_t index = to_transform_.front();
    to_transform_.erase(to_transform_.begin());
    Batch& batch = batches_[index];
    batch.state = Batch::State::transforming;
    lock.unlock();
    for (std::size_t j = 0; j < batch.filled; j += n_)
        estimator_->transform_section(batch.voltage.get() + j, batch.current.get() + j);
    lock.lock();
    batch.state = Batch::State::transformed;
    ordered_work(lock);
}

// Whoever finds ordered work does it, one thread at a time; the others go on with theirs. The
// mutex is let go during the work itself, and taken again before looking for more, so that work
// made ready meanwhile is never left behind.
void ParallelPass::ordered_work(std::unique_lock<std::mutex>& lock) {
    if (ordering_) return;
    ordering_ = true;
    while (ordered_step(lock)) {
    }
    ordering_ = false;
    if (sequenced_ && to_commit_.empty()) finished_ = true;
    wake_.notify_all();
}

bool ParallelPass::ordered_step(std::unique_lock<std::mutex>& lock) {
    if (!to_commit_.empty() && batches_[to_commit_.front()].state == Batch::State::transformed) {
        Batch& batch = batches_[to_commit_.front()];
        to_commit_.erase(to_commit_.begin());
        lock.unlock();
        commit(batch);
        lock.lock();
        batch.state = Batch::State::free;
        return true;
    }
    if (sequenced_) return false;
    if (pending_.taken < pending_.count) return fill_batch(lock);
    if (pending_.from_chunk) {
        // The chunk's used samples are in sections: its slot takes the next chunk.
        ready_[next_take_ % chunks_.size()] = 0;
        ++next_take_;
        pending_ = Pending{};
    }
    if (sequencer_.done()) {
        end_of_samples();
        return true;
    }
    return take_chunk(lock);
}

bool ParallelPass::take_chunk(std::unique_lock<std::mutex>& lock) {
    const std::size_t slot = next_take_ % chunks_.size();
    if (!ready_[slot]) return false;
    const Chunk& chunk = *chunks_[slot];
    lock.unlock();
    const std::uint32_t used = sequencer_.take(chunk);
    lock.lock();
    converting_ = sequencer_.converting();
    pending_ = {chunk.voltage.get(), chunk.current.get(), assembling_ ? used : 0, 0, true};
    return true;
}

bool ParallelPass::fill_batch(std::unique_lock<std::mutex>& lock) {
    if (filling_ == SIZE_MAX && !find_batch()) return false;
    lock.unlock();
    const bool full = append();
    lock.lock();
    if (!assembling_) {
        converting_ = false;
        if (filling_ != SIZE_MAX) batches_[filling_].state = Batch::State::free;
        filling_ = SIZE_MAX;
    } else if (full) {
        hand_over(filling_);
    }
    return true;
}

// The pass has ended: the whole sections of the batch being filled go on; the samples of a
// section the file did not complete are no section.
void ParallelPass::end_of_samples() {
    if (filling_ != SIZE_MAX) {
        Batch& batch = batches_[filling_];
        batch.filled = batch.filled / n_ * n_;
        if (batch.filled != 0) {
            hand_over(filling_);
        } else {
            batch.state = Batch::State::free;
            filling_ = SIZE_MAX;
        }
    }
    sequenced_ = true;
}

// A free batch to fill, allocated the first time it is needed. The first grows with its samples
// as the one-thread pass's buffers do; the others come whole, and one that cannot be had leaves
// fewer batches to share.
bool ParallelPass::find_batch() {
    for (std::size_t j = 0; j < batches_.size(); ++j) {
        Batch& batch = batches_[j];
        if (batch.state != Batch::State::free) continue;
        if (batch.capacity == 0 && j != 0) {
            batch.voltage.reset(new (std::nothrow) double[batch_target_]);
            batch.current.reset(new (std::nothrow) double[batch_target_]);
            if (!batch.voltage || !batch.current) continue;
            batch.capacity = batch_target_;
        }
        batch.state = Batch::State::filling;
        batch.filled = 0;
        if (batch.target == 0) batch.target = batch_target_;
        filling_ = j;
        return true;
    }
    return false;
}

void ParallelPass::hand_over(std::size_t index) {
    Batch& batch = batches_[index];
    batch.state = Batch::State::queued;
    to_transform_.push_back(index);
    to_commit_.push_back(index);
    filling_ = SIZE_MAX;
}

// Moves pending samples into the batch being filled, widened to double, as far as there is room;
// returns whether the batch is full. The estimator comes with the first whole section, as in the
// one-thread pass, so that a record too short for one never asks for its memory.
bool ParallelPass::append() {
    Batch& batch = batches_[filling_];
    while (pending_.taken < pending_.count) {
        if (batch.filled == batch.target) return true;
        if (batch.filled == batch.capacity && !make_room(batch)) return assembling_;
        const std::size_t section_left = n_ - batch.filled % n_;
        const std::size_t count = std::min({std::size_t{pending_.count - pending_.taken},
                                            batch.capacity - batch.filled, section_left});
        const float* const voltage = pending_.voltage + pending_.taken;
        const float* const current = pending_.current + pending_.taken;
        double* const to_voltage = batch.voltage.get() + batch.filled;
        double* const to_current = batch.current.get() + batch.filled;
        for (std::size_t j = 0; j < count; ++j) {
            to_voltage[j] = static_cast<double>(voltage[j]);
            to_current[j] = static_cast<double>(current[j]);
        }
        batch.filled += count;
        pending_.taken += static_cast<std::uint32_t>(count);
        assembled_ += count;
        if (batch.filled % n_ == 0 && !estimator_ && !make_estimator()) return false;
    }
    return batch.filled == batch.target;
}

// Grows the first batch as the one-thread pass grows its section buffers: to the first section's
// length in steps, then to a whole batch. Without memory before a whole section, conversion stops
// there as it would in one thread; after one, the batch goes on as it is.
bool ParallelPass::make_room(Batch& batch) {
    const std::size_t wanted =
        batch.capacity < n_ ? next_section_capacity(batch.capacity, n_) : batch.target;
    std::unique_ptr<double[]> voltage(new (std::nothrow) double[wanted]);
    std::unique_ptr<double[]> current(new (std::nothrow) double[wanted]);
    if (!voltage || !current) {
        if (batch.capacity >= n_) {
            batch.target = batch.capacity;
        } else {
            memory_short_ = true;
            stop_sections();
        }
        return false;
    }
    std::copy(batch.voltage.get(), batch.voltage.get() + batch.filled, voltage.get());
    std::copy(batch.current.get(), batch.current.get() + batch.filled, current.get());
    batch.voltage = std::move(voltage);
    batch.current = std::move(current);
    batch.capacity = wanted;
    return true;
}

bool ParallelPass::make_estimator() {
    try {
        estimator_.emplace(window_, n_);
    } catch (const std::bad_alloc&) {
        memory_short_ = true;
        stop_sections();
        return false;
    }
    return true;
}

// No more sections: the lines after those already in are only counted.
void ParallelPass::stop_sections() {
    assembling_ = false;
    sequencer_.stop_converting(assembled_);
    pending_.taken = pending_.count;
}

// The float sums take the sections in record order, one at a time, as in one thread.
void ParallelPass::commit(Batch& batch) {
    for (std::size_t j = 0; j < batch.filled; j += n_)
        estimator_->add_transformed(batch.voltage.get() + j, batch.current.get() + j);
    batch.filled = 0;
}

PassResult ParallelPass::result() const {
    PassResult pass;
    pass.status = sequencer_.status();
    pass.sections = estimator_ ? estimator_->sections() : 0;
    pass.memory_short = memory_short_;
    return pass;
}

}  // namespace

std::optional<PassResult> run_parallel_pass(SampleStream& stream, std::uint64_t used_lines,
                                            Window window, std::uint32_t n, unsigned threads,
                                            std::optional<Estimator>& estimator,
                                            const PassLayout& layout) {
    std::unique_ptr<ParallelPass> pass;
    try {
        pass = std::make_unique<ParallelPass>(stream, used_lines, window, n, threads, estimator,
                                              layout);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    // A thread the system will not start leaves the work to fewer; the calling thread is one.
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < threads; ++t)
            helpers.emplace_back([&pass] { pass->work(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    pass->work();
    for (std::thread& helper : helpers)
        helper.join();
    pass->rethrow();
    return pass->result();
}

}  // namespace psd
