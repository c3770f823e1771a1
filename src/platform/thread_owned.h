// State a thread keeps for its whole life (buffers and digest state
// reused from one file to the next), released by the thread itself.
//
//     std::vector<unsigned char>& buffer() {
//         thread_local platform::ThreadOwned<std::vector<unsigned char>> owned;
//         return owned.get();
//     }
//
// The thread_local object is trivially destructible: the runtime never runs
// a destructor for it. Its value lives on the heap, made on first use, and
// is freed by release_thread_owned(), which every worker thread calls as
// the last thing it does. A thread that never calls it (the main thread)
// keeps its values until the process ends.
//
// Thread-local objects with destructors are not used for such state: the
// Windows runtime (winpthreads with emulated thread-local storage) frees a
// thread's thread-local storage before it runs the destructors of the
// thread-local objects that lived in it, which then free pointers read from
// freed memory.
#pragma once

#include <new>
#include <type_traits>

namespace veldro::platform {

// One value owned by the thread; links the thread's values for release.
class ThreadOwnedLink {
public:
    constexpr explicit ThreadOwnedLink(void (*drop)(ThreadOwnedLink&) noexcept) : drop_(drop) {}

protected:
    // Puts this value on the thread's list of values to release.
    void enlist() noexcept;

private:
    friend void release_thread_owned() noexcept;

    void (*drop_)(ThreadOwnedLink&) noexcept;
    ThreadOwnedLink* next_ = nullptr;
};

// Frees every value the calling thread owns through ThreadOwned; a later
// get() on this thread makes a new one.
void release_thread_owned() noexcept;

template <class T>
class ThreadOwned : public ThreadOwnedLink {
public:
    constexpr ThreadOwned() : ThreadOwnedLink(&drop) {}

    // The thread's value, made on first use (value-initialised, zeroed as a
    // thread-local object is, except a type with nothing to construct, such
    // as a buffer of bytes: its pages are not all touched before they are
    // used); throws std::bad_alloc, or what T's constructor throws, holding
    // nothing.
    T& get() {
        if (value_ == nullptr) {
            if constexpr (std::is_trivially_default_constructible_v<T>) {
                value_ = new T;
            } else {
                value_ = new T();
            }
            enlist();
        }
        return *value_;
    }

    // As get(), but null when there is no memory for the value.
    T* try_get() noexcept {
        try {
            return &get();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

private:
    static void drop(ThreadOwnedLink& link) noexcept {
        auto& self = static_cast<ThreadOwned&>(link);
        delete self.value_;
        self.value_ = nullptr;
    }

    T* value_ = nullptr;
};

static_assert(std::is_trivially_destructible_v<ThreadOwned<int>>);

}  // namespace veldro::platform
