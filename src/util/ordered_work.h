// Work done on a pool of threads and recorded on one thread in the order it
// was handed in.
//
// The thread that walks the sources decides each file and submits it here
// with the work its data needs (copy, times, digests, read-back). Workers do
// that work in any order, at the same time; the record stage (console lines,
// log lines, counters) is called back on the submitting thread, one item at
// a time, strictly in submission order, as soon as an item and every item
// before it are finished. What a run prints and logs is therefore the same
// byte for byte whatever the number of threads.
//
//     OrderedWork<FileJob> pool(threads, 64, 256 << 20, record, platform::interrupt_requested);
//     for (...) {
//         pool.submit(std::move(job), job_buffer_bytes, [&engine](FileJob& j) { engine.work(j); });
//     }
//     pool.drain();
//
// Bounds: at most `max_in_flight` items are between submission and record,
// and the byte costs they declared add up to at most `byte_budget`; submit()
// blocks (recording what finishes meanwhile) until the new item fits. An
// item that costs more than the whole budget still runs, alone. Memory
// therefore does not grow with the number of files.
//
// Ends:
// - A stop request (the `stop` predicate turning true, as the interrupt
//   handler makes it) keeps workers from starting items not begun yet; those
//   are recorded in their turn with `worked == false`. Items already running
//   are expected to look at the same request themselves. While the
//   submitting thread waits for workers, it calls `idle` every tenth of a
//   second (to read an abort key, which may then request the stop).
// - An exception thrown by an item's work is carried to the submitting
//   thread and rethrown from submit() or drain() at that item's turn, after
//   every item before it was recorded. From the moment it is thrown no
//   worker starts another item; the items after it are never recorded. Any
//   exception that leaves submit() or drain() (the record stage may throw
//   too) closes the pool first: its workers are joined and the items not
//   recorded are dropped. A closed pool skips whatever is submitted later.
//
// With one thread nothing is started: submit() does the work inline and
// records the item before it returns, as a run without the pool would
// (groupable items excepted, below). No more workers are started than items
// may be in flight.
//
// Groups: given a group work and the most items a group may hold
// (set_group_work(), before the first submit), an item submitted as
// groupable may be worked together with other groupable items by one call
// of the group work instead of its own. Groupable items are let go to the
// workers a run at a time (once a full group for every worker is there, an
// item of another kind comes, or the submitting thread waits for the
// workers); a worker that takes a groupable item also takes the groupable
// items let go right after it, up to that many in all and no more than its
// share of what was let go (so that the workers share a run rather than one
// working it while the others wait). Inline,
// groupable items are held and worked as one group when that many are held,
// when the next item is not groupable (the held ones go first), when the
// held ones would exceed the byte budget, and in drain(); a stop request
// before then records them with `worked == false`. Held items count as in
// flight. Either way every item is recorded on its own, in its turn; a group
// whose work throws fails each of its items with that exception (the first
// rethrows in its turn, the rest are never recorded), and a group is started
// whole or not at all.
//
// Items are moved, never copied, and live in a ring of `max_in_flight`
// slots that is reused: beyond what an item holds itself, and the work
// callable when its captures do not fit in std::function's own storage (a
// pointer or two do), nothing is allocated per item.
//
// The work may keep state for its thread through platform::ThreadOwned
// (buffers reused from one item to the next): each worker releases it as
// the last thing it does.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/thread_owned.h"

namespace veldro::util {

template <class Item>
class OrderedWork {
public:
    // The work of one item; runs on a worker (on the submitting thread with
    // one thread) and may throw to end the run.
    using Work = std::function<void(Item&)>;
    // The record stage; runs on the submitting thread, in submission order.
    // `worked` is false for an item skipped after a stop request.
    using Record = std::function<void(Item& item, bool worked)>;
    // True once the run was asked to stop. Polled by the workers, with the
    // pool's lock held: it must be cheap and must not throw.
    using StopRequested = std::function<bool()>;
    // Called on the submitting thread while it waits for workers.
    using Idle = std::function<void()>;
    // The work of several groupable items at once (`count` of them, in
    // submission order); runs where a single item's work would.
    using GroupWork = std::function<void(Item* const* items, std::size_t count)>;
    static constexpr std::chrono::milliseconds idle_interval{100};

    OrderedWork(unsigned threads, std::size_t max_in_flight, std::size_t byte_budget, Record record,
                StopRequested stop = {}, Idle idle = {})
        : record_(std::move(record)),
          stop_(std::move(stop)),
          idle_(std::move(idle)),
          byte_budget_(byte_budget),
          max_in_flight_(std::max<std::size_t>(max_in_flight, 1)) {
        if (threads <= 1) {
            return;
        }
        // No more workers than items that may be in flight: the limit is
        // the caller's bound on memory, and more workers would stay idle.
        slots_.resize(max_in_flight_);
        const std::size_t count = std::min<std::size_t>(threads, slots_.size());
        workers_.reserve(count);
        // A system that refuses a thread leaves the run with the workers it
        // has; with none, the work runs inline.
        try {
            for (std::size_t i = 0; i < count; ++i) {
                workers_.emplace_back([this] {
                    work_loop();
                    // What the work kept for this thread goes with it.
                    platform::release_thread_owned();
                });
            }
        } catch (const std::system_error&) {
            // Go on with the workers started.
        }
    }

    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;
    OrderedWork(OrderedWork&&) = delete;
    OrderedWork& operator=(OrderedWork&&) = delete;

    // Items not recorded yet are dropped: items not begun are not worked,
    // running ones are waited for.
    ~OrderedWork() { close(); }

    // Lets groupable items be worked `most` (at least 1) at a time by
    // `work`. Called before the first submit; without it, items are worked
    // one by one whatever they are submitted as. Inline, no more are held
    // than may be in flight.
    void set_group_work(GroupWork work, std::size_t most) {
        most = std::max<std::size_t>(most, 1);
        if (workers_.empty()) {
            most = std::min(most, max_in_flight_);
            held_.reserve(most);
            held_items_.reserve(most);
        }
        const std::lock_guard lock(mutex_);
        group_work_ = std::move(work);
        most_in_group_ = most;
    }

    // Hands in the next item with its work and the bytes it will hold while
    // in flight (its buffers). Records every item that is ready, waiting
    // for room when the pool is full. A groupable item may be worked by the
    // group work instead of `work`.
    void submit(Item item, std::size_t bytes, Work work, bool groupable = false) {
        // Only this thread sets closing_, so it reads it without the lock.
        if (closing_) {
            record_(item, false);
            return;
        }
        groupable = groupable && group_work_;
        if (workers_.empty()) {
            guarded([&] {
                if (!groupable) {
                    run_held();
                    run_inline(item, work);
                    return;
                }
                if (!held_.empty() && (bytes > byte_budget_ || held_bytes_ > byte_budget_ - bytes)) {
                    run_held();
                }
                held_.push_back(std::move(item));
                held_bytes_ += bytes;
                if (held_.size() >= most_in_group_) {
                    run_held();
                }
            });
            return;
        }
        guarded([&] {
            record_ready();
            while (!has_room(bytes)) {
                wait_for_head(batch());
                record_ready();
            }
            std::uint64_t opened = 0;
            {
                const std::lock_guard lock(mutex_);
                Slot& slot = slots_[next_seq_ % slots_.size()];
                slot.item.emplace(std::move(item));
                slot.work = std::move(work);
                slot.bytes = bytes;
                slot.groupable = groupable;
                slot.state = State::queued;
                ++next_seq_;
                bytes_in_flight_ += bytes;
                // Groupable items wait until a run of them is complete (a
                // full group for every worker, an item of another kind, or
                // a wait for the workers), so that the workers share it.
                if (!groupable || next_seq_ - next_open_ >= most_in_group_ * workers_.size()) {
                    opened = open_queued();
                }
            }
            if (opened == 1) {
                work_ready_.notify_one();
            } else if (opened > 1) {
                work_ready_.notify_all();
            }
        });
    }

    // Waits for every item submitted and records them.
    void drain() {
        if (workers_.empty()) {
            guarded([&] { run_held(); });
            return;
        }
        guarded([&] {
            record_ready();
            while (in_flight() != 0) {
                wait_for_head(1);
                record_ready();
            }
        });
    }

private:
    enum class State : std::uint8_t { free, queued, running, done, skipped, failed };

    struct Slot {
        std::optional<Item> item;
        Work work;
        std::exception_ptr error;
        std::size_t bytes = 0;
        State state = State::free;
        bool groupable = false;
        std::size_t share = 1;  // most items a group from here takes: a worker's part of what was let go with it
    };

    static bool finished(State state) {
        return state == State::done || state == State::skipped || state == State::failed;
    }

    bool stop_requested() const { return stop_ && stop_(); }

    void run_inline(Item& item, Work& work) {
        const bool worked = !stop_requested();
        if (worked) {
            work(item);
        }
        record_(item, worked);
    }

    // Inline: works the held items as one group and records them in order.
    // An exception on the way leaves them to close().
    void run_held() {
        if (held_.empty()) {
            return;
        }
        const bool worked = !stop_requested();
        if (worked) {
            held_items_.clear();
            for (Item& item : held_) {
                held_items_.push_back(&item);
            }
            group_work_(held_items_.data(), held_items_.size());
        }
        for (Item& item : held_) {
            record_(item, worked);
        }
        held_.clear();
        held_bytes_ = 0;
    }

    // Runs `body`; an exception that leaves it closes the pool on its way.
    template <class Body>
    void guarded(Body&& body) {
        try {
            body();
        } catch (...) {
            close();
            throw;
        }
    }

    std::size_t in_flight() {
        const std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(next_seq_ - head_);
    }

    // Room for one more item costing `bytes`: a free slot, and the budget
    // not exceeded unless the pool is empty.
    bool has_room(std::size_t bytes) {
        const std::lock_guard lock(mutex_);
        const auto count = static_cast<std::size_t>(next_seq_ - head_);
        if (count == 0) {
            return true;
        }
        return count < slots_.size() && bytes <= byte_budget_ && bytes_in_flight_ <= byte_budget_ - bytes;
    }

    // How many finished items a full pool waits for before it records: the
    // recording thread and a worker do not wake each other for every item.
    std::size_t batch() const { return std::max<std::size_t>(slots_.size() / 2, 1); }

    // Lets the workers take every item queued, the lock held; the number
    // let go. The workers share what is let go at once: a group takes no
    // more than a worker's part of it.
    std::uint64_t open_queued() {
        const std::uint64_t opened = next_seq_ - next_open_;
        const auto share = static_cast<std::size_t>((opened + workers_.size() - 1) / workers_.size());
        for (; next_open_ != next_seq_; ++next_open_) {
            slot_of(next_open_).share = share;
        }
        return opened;
    }

    // Items finished in a row from the oldest in flight, the lock held.
    std::size_t finished_at_head() const {
        std::size_t count = 0;
        while (head_ + count != next_seq_ && finished(slots_[(head_ + count) % slots_.size()].state)) {
            ++count;
        }
        return count;
    }

    // Blocks until `count` items in a row from the oldest in flight have
    // finished, or every item in flight has (or nothing is in flight).
    void wait_for_head(std::size_t count) {
        std::unique_lock lock(mutex_);
        wanted_at_head_ = count;
        // Whatever waits for a worker gets every worker while this thread
        // is idle; groupable items kept back are let go first.
        open_queued();
        if (next_start_ != next_open_) {
            work_ready_.notify_all();
        }
        const auto over = [this] { return head_waits_over(); };
        if (!idle_) {
            head_finished_.wait(lock, over);
            return;
        }
        while (!head_finished_.wait_for(lock, idle_interval, over)) {
            lock.unlock();
            idle_();
            lock.lock();
        }
    }

    // The lock held.
    bool head_waits_over() const {
        const auto flying = static_cast<std::size_t>(next_seq_ - head_);
        return finished_at_head() >= std::min(wanted_at_head_, flying);
    }

    // Records, in order, the finished items at the head of the ring: all
    // that are ready at once, with one look under the lock before and one
    // after.
    void record_ready() {
        for (;;) {
            std::size_t ready = 0;
            {
                const std::lock_guard lock(mutex_);
                ready = finished_at_head();
            }
            if (ready == 0) {
                return;
            }
            // Finished slots belong to this thread until they are released;
            // only this thread moves head_. An exception on the way leaves
            // the rest to close().
            for (std::size_t i = 0; i < ready; ++i) {
                Slot& slot = slots_[(head_ + i) % slots_.size()];
                if (slot.state == State::failed) {
                    std::rethrow_exception(slot.error);
                }
                record_(*slot.item, slot.state == State::done);
            }
            const std::lock_guard lock(mutex_);
            for (std::size_t i = 0; i < ready; ++i) {
                Slot& slot = slots_[(head_ + i) % slots_.size()];
                bytes_in_flight_ -= slot.bytes;
                release(slot);
            }
            head_ += ready;
        }
    }

    static void release(Slot& slot) {
        slot.item.reset();
        slot.work = nullptr;
        slot.error = nullptr;
        slot.bytes = 0;
        slot.state = State::free;
        slot.groupable = false;
        slot.share = 1;
    }

    Slot& slot_of(std::uint64_t seq) { return slots_[seq % slots_.size()]; }

    // Sets the state of the `count` items from `first`, the lock held.
    void mark(std::uint64_t first, std::size_t count, State state) {
        for (std::size_t i = 0; i < count; ++i) {
            slot_of(first + i).state = state;
        }
    }

    // Works the `count` items from `first`, which this worker took: a
    // groupable one with those after it by one call of the group work.
    void work_taken(std::uint64_t first, std::size_t count, std::vector<Item*>& group) {
        Slot& slot = slot_of(first);
        if (!slot.groupable) {
            slot.work(*slot.item);
            return;
        }
        // Reserved once per worker: what a group may hold is known by now.
        group.reserve(most_in_group_);
        group.clear();
        for (std::size_t i = 0; i < count; ++i) {
            group.push_back(&*slot_of(first + i).item);
        }
        group_work_(group.data(), group.size());
    }

    void work_loop() {
        std::vector<Item*> group;
        std::unique_lock lock(mutex_);
        for (;;) {
            work_ready_.wait(lock, [this] { return closing_ || next_start_ != next_open_; });
            if (closing_) {
                return;
            }
            // A groupable item takes the groupable ones queued right after
            // it; what is not queued yet is not waited for. The workers
            // share such a run: each takes its part, so that none stays idle
            // while one works the run alone.
            const std::uint64_t first = next_start_++;
            std::size_t count = 1;
            if (slot_of(first).groupable) {
                const std::size_t most = std::min(most_in_group_, slot_of(first).share);
                while (count < most && first + count != next_open_ && slot_of(first + count).groupable) {
                    ++count;
                }
                next_start_ = first + count;
            }
            if (failed_ || stop_requested()) {
                mark(first, count, State::skipped);
            } else {
                mark(first, count, State::running);
                lock.unlock();
                std::exception_ptr error;
                try {
                    work_taken(first, count, group);
                } catch (...) {
                    error = std::current_exception();
                }
                lock.lock();
                if (error) {
                    for (std::size_t i = 0; i < count; ++i) {
                        slot_of(first + i).error = error;
                    }
                    mark(first, count, State::failed);
                    failed_ = true;
                } else {
                    mark(first, count, State::done);
                }
            }
            // Only items at or near the head can let the recording thread
            // go on.
            if (first < head_ + wanted_at_head_ && head_waits_over()) {
                head_finished_.notify_one();
            }
        }
    }

    // Stops the workers (items not begun are never begun), joins them and
    // drops every item not recorded. Later submissions are skipped.
    void close() noexcept {
        {
            const std::lock_guard lock(mutex_);
            if (closing_) {
                return;
            }
            closing_ = true;
        }
        work_ready_.notify_all();
        for (std::thread& worker : workers_) {
            worker.join();
        }
        for (Slot& slot : slots_) {
            release(slot);
        }
        head_ = next_seq_;
        bytes_in_flight_ = 0;
        held_.clear();
        held_bytes_ = 0;
    }

    Record record_;
    StopRequested stop_;
    Idle idle_;
    std::size_t byte_budget_;
    std::size_t max_in_flight_;
    GroupWork group_work_;
    std::size_t most_in_group_ = 1;  // items a group may hold

    // Inline: groupable items held until worked together, and the list
    // handed to the group work; both reserved once.
    std::vector<Item> held_;
    std::vector<Item*> held_items_;
    std::size_t held_bytes_ = 0;

    std::mutex mutex_;
    std::condition_variable work_ready_;     // an item was queued, or the pool closes
    std::condition_variable head_finished_;  // the oldest item in flight finished
    std::vector<Slot> slots_;                // ring: item `seq` lives in slots_[seq % size]
    std::uint64_t head_ = 0;                 // oldest item not recorded
    std::uint64_t next_start_ = 0;           // next item a worker takes
    std::uint64_t next_seq_ = 0;             // next item submitted
    std::uint64_t next_open_ = 0;            // items below it may be taken (groupable ones wait for their run)
    std::size_t bytes_in_flight_ = 0;
    std::size_t wanted_at_head_ = 1;  // finished items the recording thread waits for
    bool failed_ = false;             // an item's work threw: start nothing more
    bool closing_ = false;            // guarded by mutex_ while workers run
    std::vector<std::thread> workers_;
};

}  // namespace veldro::util
