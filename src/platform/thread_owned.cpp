#include "platform/thread_owned.h"

namespace veldro::platform {

namespace {

// The calling thread's values, the latest first. A plain pointer: nothing
// here has a destructor for the runtime to run at thread exit.
thread_local ThreadOwnedLink* t_owned = nullptr;

}  // namespace

void ThreadOwnedLink::enlist() noexcept {
    next_ = t_owned;
    t_owned = this;
}

void release_thread_owned() noexcept {
    // Taken off the list before it is dropped: a value whose destructor
    // uses another one enlists that one again, and it is released in turn.
    while (t_owned != nullptr) {
        ThreadOwnedLink* link = t_owned;
        t_owned = link->next_;
        link->next_ = nullptr;
        link->drop_(*link);
    }
}

}  // namespace veldro::platform
