// Bytes the data copies have moved so far, for the live status line: all
// threads together, and the file a thread follows. Atomics only: the copy
// loops count every buffer without a lock or an allocation.
#pragma once

#include <atomic>
#include <cstdint>

namespace veldro::platform {

// Called by the copy loops with each piece written.
void count_copied_bytes(std::uint64_t bytes);
// Everything counted so far.
std::uint64_t copied_bytes();
// While set, the bytes this thread's copies move are also added to
// `counter`; nullptr stops it.
void follow_copied_bytes(std::atomic<std::uint64_t>* counter);

}  // namespace veldro::platform
