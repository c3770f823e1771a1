// Work done on a pool and recorded on the submitting thread in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <latch>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/flow_ring.h"
#include "platform/thread_owned.h"
#include "util/ordered_work.h"
#include "util/run_end.h"

namespace veldro::util {
namespace {

// Move-only, so that a copy anywhere in the pool fails to compile.
struct Job {
    int index = 0;
    std::size_t bytes = 0;
    std::unique_ptr<int> payload;
};

Job job(int index, std::size_t bytes = 1) {
    return Job{index, bytes, std::make_unique<int>(index)};
}

std::vector<int> iota(int n) {
    std::vector<int> all(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        all[static_cast<std::size_t>(i)] = i;
    }
    return all;
}

TEST(OrderedWork, RecordsInSubmissionOrderWithinTheBounds) {
    struct Case {
        unsigned threads;
        std::size_t max_in_flight;
    };
    constexpr std::size_t budget = 100;
    constexpr int items = 300;
    for (const Case c : {Case{1, 1}, Case{2, 4}, Case{4, 16}, Case{8, 3}, Case{8, 64}}) {
        SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.max_in_flight << " in flight");
        const auto caller = std::this_thread::get_id();
        std::vector<int> recorded;
        std::size_t bytes_recorded = 0;
        std::atomic<int> running{0};
        std::atomic<int> most_running{0};
        OrderedWork<Job> pool(c.threads, c.max_in_flight, budget, [&](Job& done, bool worked) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            EXPECT_TRUE(worked);
            EXPECT_EQ(*done.payload, done.index);
            recorded.push_back(done.index);
            bytes_recorded += done.bytes;
        });

        std::mt19937 random(c.threads);
        std::size_t bytes_submitted = 0;
        for (int i = 0; i < items; ++i) {
            // Every 37th item needs more than the whole budget.
            const std::size_t bytes = i % 37 == 5 ? budget * 3 : 1 + random() % 40;
            const auto pause = std::chrono::microseconds(random() % 300);
            pool.submit(job(i, bytes), bytes, [&running, &most_running, pause](Job& j) {
                const int now = ++running;
                int most = most_running.load();
                while (now > most && !most_running.compare_exchange_weak(most, now)) {
                }
                std::this_thread::sleep_for(pause);
                *j.payload = j.index;
                --running;
            });
            bytes_submitted += bytes;
            const auto in_flight = static_cast<std::size_t>(i + 1) - recorded.size();
            ASSERT_LE(in_flight, c.max_in_flight);
            ASSERT_TRUE(bytes_submitted - bytes_recorded <= budget || in_flight == 1)
                << "item " << i << ": " << in_flight << " items, " << bytes_submitted - bytes_recorded << " bytes";
        }
        pool.drain();
        EXPECT_EQ(recorded, iota(items));
        EXPECT_LE(most_running.load(), static_cast<int>(std::min<std::size_t>(c.threads, c.max_in_flight)));
    }
}

TEST(OrderedWork, OneThreadWorksAndRecordsInsideSubmit) {
    std::atomic<bool> stop{false};
    std::vector<std::pair<int, bool>> recorded;
    OrderedWork<Job> pool(
        1, 8, 100, [&](Job& done, bool worked) { recorded.emplace_back(done.index, worked); },
        [&stop] { return stop.load(); });
    const auto caller = std::this_thread::get_id();
    std::vector<int> worked_on;
    const auto work = [&](Job& j) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        worked_on.push_back(j.index);
    };
    pool.submit(job(0), 1, work);
    ASSERT_EQ(recorded.size(), 1U);
    stop = true;
    pool.submit(job(1), 1, work);
    pool.drain();
    EXPECT_EQ(worked_on, std::vector<int>{0});
    EXPECT_EQ(recorded, (std::vector<std::pair<int, bool>>{{0, true}, {1, false}}));
}

TEST(OrderedWork, StopRequestSkipsItemsNotBegun) {
    std::atomic<bool> stop{false};
    std::vector<std::pair<int, bool>> recorded;
    OrderedWork<Job> pool(
        2, 16, 100, [&](Job& done, bool worked) { recorded.emplace_back(done.index, worked); },
        [&stop] { return stop.load(); });
    std::latch both_running(2);
    std::latch gate(1);
    std::atomic<int> worked{0};
    for (int i = 0; i < 2; ++i) {
        pool.submit(job(i), 1, [&](Job&) {
            ++worked;
            both_running.count_down();
            gate.wait();
        });
    }
    both_running.wait();
    for (int i = 2; i < 10; ++i) {
        pool.submit(job(i), 1, [&worked](Job&) { ++worked; });
    }
    stop = true;
    gate.count_down();
    pool.drain();
    EXPECT_EQ(worked.load(), 2);
    ASSERT_EQ(recorded.size(), 10U);
    for (const auto& [index, was_worked] : recorded) {
        EXPECT_EQ(was_worked, index < 2) << index;
    }
}

// A running item that only a stop ends (a long copy) is stopped from the
// waiting thread's idle calls: the one place an abort key is read then.
TEST(OrderedWork, IdleCallsWhileWaitingCanStopRunningWork) {
    std::atomic<bool> stop{false};
    int idle_calls = 0;
    OrderedWork<Job> pool(
        2, 4, 100, [](Job&, bool) {}, [&stop] { return stop.load(); },
        [&] {
            if (++idle_calls == 2) {
                stop = true;
            }
        });
    pool.submit(job(0), 1, [&stop](Job&) {
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    pool.drain();
    EXPECT_GE(idle_calls, 2);
}

TEST(OrderedWork, DestroyedWithoutDrainWaitsForRunningItemsAndStartsNoOther) {
    std::atomic<int> worked{0};
    std::atomic<int> recorded{0};
    {
        OrderedWork<Job> pool(2, 16, 100, [&recorded](Job&, bool) { ++recorded; });
        std::latch both_running(2);
        for (int i = 0; i < 10; ++i) {
            pool.submit(job(i), 1, [&worked, &both_running, i](Job&) {
                if (i < 2) {
                    both_running.count_down();
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                ++worked;
            });
        }
        both_running.wait();
    }
    // The two running items finished; the queued ones were dropped (unless
    // this thread was held off for the whole pause of the running ones).
    EXPECT_GE(worked.load(), 2);
    EXPECT_LT(worked.load(), 10);
    EXPECT_EQ(recorded.load(), 0);
}

TEST(OrderedWork, ThrowIsRaisedAtItsTurnAndClosesThePool) {
    struct Case {
        unsigned threads;
        bool from_record;  // the record stage throws instead of the work
    };
    constexpr int fails = 20;
    for (const Case c : {Case{1, false}, Case{2, false}, Case{4, false}, Case{8, false}, Case{4, true}}) {
        SCOPED_TRACE(testing::Message() << c.threads << " threads, from record " << c.from_record);
        std::vector<std::pair<int, bool>> recorded;
        OrderedWork<Job> pool(c.threads, 8, 1000, [&](Job& done, bool worked) {
            if (c.from_record && done.index == fails) {
                throw RunEnd{WRITE_ERROR};
            }
            recorded.emplace_back(done.index, worked);
        });
        int reason = NORMAL_EXIT;
        try {
            for (int i = 0; i < 60; ++i) {
                pool.submit(job(i), 1, [&c](Job& j) {
                    // Items before the failing one finish late, so that it is
                    // done first and must wait for its turn.
                    std::this_thread::sleep_for(std::chrono::microseconds(j.index < fails ? 200 : 0));
                    if (!c.from_record && j.index == fails) {
                        throw RunEnd{READ_ERROR};
                    }
                });
            }
            pool.drain();
        } catch (const RunEnd& end) {
            reason = end.reason;
        }
        EXPECT_EQ(reason, c.from_record ? WRITE_ERROR : READ_ERROR);
        ASSERT_EQ(recorded.size(), static_cast<std::size_t>(fails));
        for (int i = 0; i < fails; ++i) {
            EXPECT_EQ(recorded[static_cast<std::size_t>(i)], std::make_pair(i, true));
        }
        // A closed pool works on nothing more.
        bool ran = false;
        pool.submit(job(99), 1, [&ran](Job&) { ran = true; });
        pool.drain();
        EXPECT_FALSE(ran);
        EXPECT_EQ(recorded.back(), std::make_pair(99, false));
    }
}

// Groupable items ('g'): recorded in order, worked in groups of items in a row
// of at most `most` (workers find them queued); inline, exactly the runs held,
// cut at `most`, at an item not groupable, at drain. A throwing group ends the
// run at its first item (-2); held items a stop meets are recorded unworked.
TEST(OrderedWork, GroupsAreRunsOfGroupableItemsAndRecordsKeepTheirOrder) {
    const std::string kinds = "gggnggnggggggngg";
    const std::vector<int> held_inline{0, 0, 0, -1, 4, 4, -1, 7, 7, 7, 10, 10, 10, -1, 14, 14};  // each group's first
    const int n = static_cast<int>(kinds.size());
    constexpr int most = 3;
    for (const auto& [threads, throws_at, stops] :
         {std::tuple{1U, -1, false}, {3U, -1, false}, {1U, 9, false}, {3U, 9, false}, {1U, -1, true}}) {
        SCOPED_TRACE(testing::Message() << threads << " threads, throws at " << throws_at << ", stops " << stops);
        std::latch all_in(threads == 1 ? 0 : 1);
        std::vector<int> group_of(kinds.size(), -1), recorded;
        OrderedWork<Job> pool(
            threads, 64, 1000, [&](Job& j, bool worked) { recorded.push_back(worked ? j.index : -1); },
            [stops = stops] { return stops; });
        pool.set_group_work(
            [&, throws_at = throws_at](Job* const* items, std::size_t count) {
                all_in.wait();
                std::for_each(items, items + count, [&](const Job* j) { group_of[j->index] = items[0]->index; });
                if (items[0]->index <= throws_at && throws_at <= items[count - 1]->index) {
                    throw RunEnd{READ_ERROR};
                }
            },
            most);
        try {
            for (int i = 0; i < n; ++i) {
                pool.submit(
                    job(i), 1, [](Job&) {}, kinds[i] == 'g');
            }
            all_in.count_down(threads == 1 ? 0 : 1);
            pool.drain();
        } catch (const RunEnd&) {
            recorded.push_back(-2);
        }
        std::vector<int> expected = stops ? std::vector<int>(n, -1) : iota(throws_at >= 0 ? group_of[throws_at] : n);
        expected.insert(expected.end(), throws_at >= 0 ? 1 : 0, -2);
        EXPECT_EQ(recorded, expected);
        for (int i = 0; i < n; ++i) {
            const int first = group_of[i];
            EXPECT_TRUE(first < 0 ? kinds[i] == 'n' || stops || throws_at >= 0
                                  : (threads > 1 || first == held_inline[i]) && i - first < most &&
                                        (first == i || group_of[i - 1] == first) &&
                                        kinds.find('n', first) > static_cast<std::size_t>(i))
                << i << " in the group from " << first;
        }
        EXPECT_NE(std::ranges::adjacent_find(group_of), group_of.end());  // a group larger than one
    }
}

// Counts the values alive, and which threads made them.
struct Kept {
    static inline std::atomic<int> alive{0};
    std::thread::id owner = std::this_thread::get_id();
    Kept() { ++alive; }
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
    Kept(Kept&&) = delete;
    Kept& operator=(Kept&&) = delete;
    ~Kept() { --alive; }
};

Kept& kept() {
    thread_local platform::ThreadOwned<Kept> value;
    return value.get();
}

TEST(OrderedWork, WorkersReleaseWhatTheirThreadKept) {
    {
        OrderedWork<Job> pool(4, 8, 64, [](Job&, bool) {});
        for (int i = 0; i < 200; ++i) {
            pool.submit(job(i), 1, [](Job&) { EXPECT_EQ(kept().owner, std::this_thread::get_id()); });
        }
        pool.drain();
        EXPECT_GE(Kept::alive.load(), 1);
        EXPECT_LE(Kept::alive.load(), 4);
    }
    EXPECT_EQ(Kept::alive.load(), 0);

    // On a thread that goes on, a value released is made again on next use.
    kept();
    EXPECT_EQ(Kept::alive.load(), 1);
    platform::release_thread_owned();
    EXPECT_EQ(Kept::alive.load(), 0);
    kept();
    platform::release_thread_owned();
    EXPECT_EQ(Kept::alive.load(), 0);
}

// The ring over the pool: files recorded in order; a settle asked for from
// inside a record does nothing; the files in flight are those handed over
// with work and not recorded yet, never the one being decided.
TEST(FlowRing, RecordsInOrderAndKnowsWhatIsInFlight) {
    for (const unsigned threads : {1U, 4U}) {
        SCOPED_TRACE(threads);
        std::vector<int> recorded;
        std::atomic<int> worked{0};
        engine::FlowRing<int>* ring_seen = nullptr;
        engine::FlowRing<int> ring(
            threads, 2,
            [&worked](int& file) {
                std::this_thread::sleep_for(std::chrono::microseconds(file % 3 == 0 ? 300 : 0));
                worked += file;
            },
            [&](int& file, bool done) {
                EXPECT_TRUE(done);
                EXPECT_FALSE(ring_seen->settle());
                recorded.push_back(file);
            },
            [](int&) { ADD_FAILURE() << "no work was cut short"; });
        ring_seen = &ring;
        int expected_work = 0;
        for (int i = 0; i < 40; ++i) {
            ring.next() = i;
            // The file being decided is not in flight, whatever it holds.
            EXPECT_FALSE(ring.any_in_flight([i](int file) { return file == i; }));
            const bool works = i % 5 != 4;
            expected_work += works ? i : 0;
            ring.submit(works);
            if (i == 20) {
                EXPECT_EQ(ring.any_in_flight([](int file) { return file == 20; }), threads > 1);
                EXPECT_FALSE(ring.any_in_flight([](int file) { return file == 19; }));  // no work: never in flight
                EXPECT_TRUE(ring.settle());
                EXPECT_EQ(recorded, iota(21));
                EXPECT_FALSE(ring.any_in_flight([](int) { return true; }));
            }
        }
        EXPECT_TRUE(ring.settle());
        EXPECT_EQ(recorded, iota(40));
        EXPECT_EQ(worked.load(), expected_work);
    }
}

// An end of the run met by one file's work, on a worker or inline: every
// file worked is recorded (what the end cut short goes to `cut`), nothing is
// begun once the end is known, and the deciding thread throws the end.
TEST(FlowRing, AnEndMetByAWorkerComesToTheDecidingThreadAfterEveryWorkedFileIsRecorded) {
    for (const unsigned threads : {1U, 4U}) {
        for (const auto& [ending, most] : {std::pair{-1, 0}, {9, 0}, {25, 0}, {-1, 3}, {9, 3}, {25, 3}}) {
            SCOPED_TRACE(testing::Message() << threads << " threads, end at " << ending << ", groups of " << most);
            std::vector<int> recorded;
            std::vector<int> cut;
            std::vector<char> worked(40);  // one byte per file: each written by one thread
            std::vector<int> cut_expected(ending < 0 || most > 0 ? 0 : 1, ending);  // the group cut, when grouped
            engine::FlowRing<int> ring(
                threads, 2,
                [&, ending = ending](int& file) {
                    worked[static_cast<std::size_t>(file)] = 1;
                    std::this_thread::sleep_for(std::chrono::microseconds(file % 4 == 0 ? 400 : 20));
                    if (file == ending) {
                        throw RunEnd{MEMORY_ERROR};
                    }
                },
                [&](int& file, bool) { recorded.push_back(file); }, [&](int& file) { cut.push_back(file); });
            ring.set_group_work(
                [&, ending = ending](int* const* files, std::size_t count) {
                    std::vector<int> group;
                    std::for_each(files, files + count,
                                  [&](const int* file) { worked[*file] = 1, group.push_back(*file); });
                    if (std::ranges::count(group, ending) != 0) {
                        cut_expected = group;
                        throw RunEnd{MEMORY_ERROR};
                    }
                },
                most);
            int reason = 0;
            try {
                for (int i = 0; i < 40; ++i) {
                    ring.next() = i;
                    ring.submit(true, most > 0);
                }
                ring.settle();
            } catch (const RunEnd& end) {
                reason = end.reason;
            }
            EXPECT_EQ(recorded.size() + cut.size(), static_cast<std::size_t>(std::ranges::count(worked, 1)));
            EXPECT_TRUE(std::ranges::is_sorted(recorded));
            EXPECT_EQ(reason, ending < 0 ? 0 : int{MEMORY_ERROR});
            EXPECT_EQ(cut, cut_expected);
            EXPECT_LT(recorded.size(), static_cast<std::size_t>(ending < 0 ? 41 : ending + 2 * threads + 2));
        }
    }
}

// Lines that belong to no file ride in event-only slots (lines in a row
// share one), recorded in their turn among the files; after an end met by
// a worker, every line handed over before the cut file is recorded, and an
// event-only slot still open goes out with the last settle.
TEST(FlowRing, EventOnlySlotsAreRecordedInTheirTurnAlsoWhenTheRunEnds) {
    for (const unsigned threads : {1U, 4U}) {
        for (const int ending : {-1, 12}) {
            SCOPED_TRACE(testing::Message() << threads << " threads, end at " << ending);
            std::vector<int> recorded;
            std::vector<int> expected;
            engine::FlowRing<std::vector<int>> ring(
                threads, 2,
                [ending](std::vector<int>& file) {
                    std::this_thread::sleep_for(std::chrono::microseconds(file[0] % 4 == 0 ? 300 : 10));
                    if (file[0] == ending) {
                        throw RunEnd{USER_ABORTED};
                    }
                },
                [&](std::vector<int>& slot, bool) { recorded.insert(recorded.end(), slot.begin(), slot.end()); },
                [&](std::vector<int>& file) { recorded.push_back(-file[0]); });
            const auto line = [&](int event) {
                bool opened = false;
                std::vector<int>& slot = ring.events(opened);
                slot.resize(opened ? 0 : slot.size());
                slot.push_back(event);
                expected.push_back(event);
            };
            try {
                for (int i = 0; i < 30; ++i) {
                    for (const int event : i % 3 == 0 ? std::vector<int>{1000 + i, 2000 + i} : std::vector<int>{}) {
                        line(event);
                    }
                    ring.next() = {i};
                    expected.push_back(i == ending ? -i : i);
                    ring.submit(i % 2 == 0);
                }
            } catch (const RunEnd&) {
            }
            line(9999);
            if (ending < 0) {
                ring.settle();
            } else {
                EXPECT_THROW(ring.settle(), RunEnd);
            }
            auto at = expected.begin();
            for (const int n : recorded) {
                at = std::find(at, expected.end(), n);
                EXPECT_NE(at, expected.end()) << n;
            }
            for (auto it = expected.begin(); it != expected.end() && *it != -ending; ++it) {
                EXPECT_TRUE((ending >= 0 && *it < 1000) || std::ranges::find(recorded, *it) != recorded.end()) << *it;
            }
            EXPECT_EQ(recorded.back(), 9999);
        }
    }
}

}  // namespace
}  // namespace veldro::util
