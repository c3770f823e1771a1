// Files in flight between the thread that decides them and the thread
// that records them: a ring of slots, each holding one file from its
// decision to its record, over a pool that does the files' work on
// workers and hands each back, in the order given, for its record.
//
// The deciding thread fills next(), hands it over with submit(), and
// settles (records every file in flight) before it asks a question or looks
// at something an earlier file's work may still change. A line that
// belongs to no file goes in a slot that holds only events (events()),
// recorded in its turn like a file handed over without work. Records call
// back on that thread; a settle asked for from inside a record, or from
// inside a settle, does nothing: the record under way is already in its
// place.
//
// The end of a run met by a file's work (an interrupt, memory exhausted, a
// fatal error) is handed to the deciding thread: no worker begins another
// file, every file in flight is finished and recorded in its turn (a file
// whose work was not begun is not recorded; one whose work the end cut
// short goes to `cut`), and then submit() or settle() throws the end. So
// every copy made before the end is in the records.
//
// Files handed over as groupable may be worked several at once by the group
// work (set_group_work()), on one worker or inline; each is still recorded
// on its own in its turn. An end met by a group's work is met by every file
// of the group: each goes to `cut`.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "util/ordered_work.h"
#include "util/run_end.h"

namespace veldro::engine {

// Files in flight per worker: enough to keep every worker busy while the
// deciding thread decides and records, and for it to record small files in
// batches rather than waking for each.
inline constexpr std::size_t files_in_flight_per_worker = 8;

template <class File>
class FlowRing {
public:
    // The work of a file; runs on a worker (inline with one thread).
    using Work = std::function<void(File& file)>;
    // The work of `count` groupable files at once, in the order handed over.
    using GroupWork = std::function<void(File* const* files, std::size_t count)>;
    // Its record, on the deciding thread, in order. `worked` is false only
    // for a file handed over without work that the end of the run met.
    using Record = std::function<void(File& file, bool worked)>;
    // A file whose work the end of the run cut short, on the deciding
    // thread in its turn: what it made must not stay unrecorded.
    using Cut = std::function<void(File& file)>;

    // At most `files_per_worker` files per thread are in flight, so that
    // memory does not grow with the files. `idle` runs on the deciding
    // thread while it waits for workers.
    FlowRing(unsigned threads, std::size_t files_per_worker, Work work, Record record, Cut cut,
             std::function<void()> idle = {})
        : slots_(std::max(threads, 1U) * files_per_worker + 1),
          work_(std::move(work)),
          record_(std::move(record)),
          cut_(std::move(cut)),
          files_per_worker_(std::max<std::size_t>(files_per_worker, 1)),
          threads_(threads) {
        pool_ = std::make_unique<util::OrderedWork<Slot*>>(
            threads, slots_.size() - 1, std::size_t{1} << 30,
            [this](Slot*& slot, bool worked) { record_slot(*slot, worked); },
            [this] { return ending_.load(std::memory_order_relaxed) != 0 || platform::interrupt_requested(); },
            std::move(idle));
    }

    // Lets files handed over as groupable be worked up to `most` at a time
    // by `work`; before the first submit. With one thread the files wait
    // in their slots until worked, so no more than `files_per_worker` are
    // held: the slot decided next is never one of them.
    void set_group_work(GroupWork work, std::size_t most) {
        if (threads_ <= 1) {
            most = std::min(most, files_per_worker_);
        }
        group_work_ = std::move(work);
        // A group is slots in a row of the ring: its files are listed from
        // the place of its first slot on, in twice the ring so that a group
        // wrapping round stays in a row. Groups at work at once hold
        // different slots, hence different places.
        group_files_.assign(2 * slots_.size(), nullptr);
        pool_->set_group_work([this](Slot** const* slots, std::size_t count) { work_group(slots, count); }, most);
    }

    // The slot the next file is decided in. The ring has one slot more
    // than the pool lets be in flight: this one is free once the previous
    // submit() has returned. An event-only slot still open is handed over
    // first.
    File& next() {
        if (events_open_) {
            events_open_ = false;
            submit(false);
        }
        return slots_[next_ % slots_.size()].file;
    }

    // The event-only slot the lines met since the last file go in: next(),
    // kept open until the next file or a settle hands it over, so that
    // lines in a row share a slot. `opened`: it was not open, and holds
    // what it held last.
    File& events(bool& opened) {
        opened = !events_open_;
        events_open_ = true;
        return slots_[next_ % slots_.size()].file;
    }

    // Hands the file in next() over; `works` false: it is only recorded.
    // A groupable file with work may be worked in a group. Throws the end
    // of the run once every file in flight is recorded, when a file's work
    // met it.
    void submit(bool works, bool groupable = false) {
        hand_over(works, groupable);
        if (end_) {
            settle();
        }
    }

    // Records every file in flight, then throws the end of the run a
    // file's work met. False when nothing was done because the call came
    // from inside a record or a settle.
    bool settle() {
        if (settling_ || recording_) {
            return false;
        }
        settling_ = true;
        try {
            if (events_open_) {
                events_open_ = false;
                hand_over(false);
            }
            pool_->drain();
        } catch (...) {
            settling_ = false;
            throw;
        }
        settling_ = false;
        if (end_) {
            throw util::RunEnd{*end_};
        }
        return true;
    }

    // Whether `taken` holds for a file whose work is not recorded yet. The
    // file being decided in next() is never one of them.
    template <class Taken>
    bool any_in_flight(Taken taken) const {
        const File* deciding = &slots_[next_ % slots_.size()].file;
        for (const Slot& slot : slots_) {
            if (slot.in_flight && &slot.file != deciding && taken(slot.file)) {
                return true;
            }
        }
        return false;
    }

private:
    void hand_over(bool works, bool groupable = false) {
        Slot& slot = slots_[next_++ % slots_.size()];
        slot.works = works;
        slot.in_flight = works;
        slot.end.reset();
        pool_->submit(
            &slot, 0,
            [this](Slot*& item) {
                if (item->works) {
                    work_slot(*item);
                }
            },
            works && groupable);
    }

    struct Slot {
        File file;
        bool works = false;      // handed over with work
        bool in_flight = false;  // handed over with work, not recorded yet
        std::optional<int> end;  // the end of the run its work met
    };

    // On a worker: an end of the run stops the workers from beginning
    // another file and waits for the deciding thread.
    void work_slot(Slot& slot) {
        try {
            work_(slot.file);
        } catch (const util::RunEnd& end) {
            slot.end = end.reason;
            int none = 0;
            ending_.compare_exchange_strong(none, end.reason, std::memory_order_relaxed);
        }
    }

    // On a worker (inline with one thread): the files of groupable slots in
    // a row, worked at once; an end of the run met there cuts them all.
    void work_group(Slot** const* slots, std::size_t count) {
        const auto first = static_cast<std::size_t>(*slots[0] - slots_.data());
        File** files = group_files_.data() + first;
        for (std::size_t i = 0; i < count; ++i) {
            files[i] = &(*slots[i])->file;
        }
        try {
            group_work_(files, count);
        } catch (const util::RunEnd& end) {
            for (std::size_t i = 0; i < count; ++i) {
                (*slots[i])->end = end.reason;
            }
            int none = 0;
            ending_.compare_exchange_strong(none, end.reason, std::memory_order_relaxed);
        }
    }

    void record_slot(Slot& slot, bool worked) {
        slot.in_flight = false;
        if (slot.works && (!worked || slot.end)) {
            // Not begun after the end (nothing of it to record), or cut
            // short by it: the run ends once the files in flight are
            // recorded.
            if (!end_) {
                const int ending = ending_.load(std::memory_order_relaxed);
                end_ = slot.end ? *slot.end : ending != 0 ? ending : static_cast<int>(USER_ABORTED);
            }
            if (!worked) {
                return;
            }
        }
        recording_ = true;
        try {
            if (slot.end) {
                cut_(slot.file);
            } else {
                record_(slot.file, worked);
            }
        } catch (...) {
            recording_ = false;
            throw;
        }
        recording_ = false;
    }

    std::vector<Slot> slots_;
    std::uint64_t next_ = 0;
    Work work_;
    Record record_;
    Cut cut_;
    std::size_t files_per_worker_;
    unsigned threads_;
    GroupWork group_work_;
    std::vector<File*> group_files_;  // the files of the groups at work, each at the place of its first slot
    std::optional<int> end_;          // the end met, on the deciding thread
    std::atomic<int> ending_ = 0;     // the first end a worker met: workers begin no more files
    bool settling_ = false;
    bool recording_ = false;
    bool events_open_ = false;  // next() is an event-only slot not handed over yet
    std::unique_ptr<util::OrderedWork<Slot*>> pool_;
};

}  // namespace veldro::engine
