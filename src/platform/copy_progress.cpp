#include "platform/copy_progress.h"

namespace veldro::platform {

namespace {

std::atomic<std::uint64_t> g_copied{0};
thread_local std::atomic<std::uint64_t>* t_followed = nullptr;

}  // namespace

void count_copied_bytes(std::uint64_t bytes) {
    g_copied.fetch_add(bytes, std::memory_order_relaxed);
    if (t_followed != nullptr) {
        t_followed->fetch_add(bytes, std::memory_order_relaxed);
    }
}

std::uint64_t copied_bytes() {
    return g_copied.load(std::memory_order_relaxed);
}

void follow_copied_bytes(std::atomic<std::uint64_t>* counter) {
    t_followed = counter;
}

}  // namespace veldro::platform
