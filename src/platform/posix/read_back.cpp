#include "platform/posix/read_back.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "platform/fs.h"
#include "platform/thread_owned.h"

namespace veldro::platform {

struct CopyReadBack::Partner {
public:
    Partner() : thread_([this] { serve(); }) {}
    Partner(const Partner&) = delete;
    Partner& operator=(const Partner&) = delete;
    Partner(Partner&&) = delete;
    Partner& operator=(Partner&&) = delete;
    ~Partner() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            quitting_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    void start(int fd, void (*take)(void*, const unsigned char*, std::size_t), void* context) {
        const std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
        take_ = take;
        context_ = context;
        ready_ = 0;
        hashed_ = 0;
        end_ = no_end;
        failed_ = false;
        abandoned_ = false;
        busy_ = true;
        changed_.notify_all();
    }

    void advance(std::uint64_t upto) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ready_ = std::max(ready_, upto);
        }
        changed_.notify_all();
    }

    bool finish(std::uint64_t size) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_ = std::max(ready_, size);
        end_ = size;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !busy_; });
        return !failed_ && hashed_ == size;
    }

    void abandon() {
        std::unique_lock<std::mutex> lock(mutex_);
        abandoned_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !busy_; });
    }

    // Waits until the piece handed over before is hashed, then hands over
    // the next: the source's piece and, unless null, the same piece read
    // back from the copy.
    void hash(const CopyFeed& feed, const unsigned char* source, const unsigned char* copy, std::size_t size) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !piece_waiting_; });
        piece_ = Piece{&feed, source, copy, size};
        piece_waiting_ = true;
        changed_.notify_all();
    }

    // The same for the pieces of several streams at once (see TakeMany):
    // the arrays and what they point to stay untouched until hashed().
    void hash_many(TakeMany take, void* const* contexts, const unsigned char* const* data, const std::size_t* sizes,
                   std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !piece_waiting_; });
        piece_ = Piece{};
        piece_.many = take;
        piece_.contexts = contexts;
        piece_.data = data;
        piece_.sizes = sizes;
        piece_.count = count;
        piece_waiting_ = true;
        changed_.notify_all();
    }

    // Waits until every piece handed over is hashed.
    void hashed() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !piece_waiting_; });
    }

private:
    static constexpr std::uint64_t no_end = ~std::uint64_t{0};

    // The partner's loop: waits for a file, then reads it piece by piece as
    // the copy declares the pieces final, until its end, a failure or an
    // abandon.
    void serve() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quitting_ || busy_ || piece_waiting_; });
            if (quitting_) {
                release_thread_owned();  // the read buffer
                return;
            }
            if (piece_waiting_) {
                hash_piece(lock);
                continue;
            }
            read_file(lock);
            busy_ = false;
            changed_.notify_all();
        }
    }

    void read_file(std::unique_lock<std::mutex>& lock) {
        unsigned char* buffer = copy_buffer();
        if (buffer == nullptr) {
            failed_ = true;
            changed_.wait(lock, [this] { return abandoned_ || end_ != no_end; });
            return;
        }
        for (;;) {
            // A copy cut short where its source shrank may end before what
            // was already read: finish then tells that it was not all.
            changed_.wait(lock, [this] { return abandoned_ || quitting_ || ready_ > hashed_ || hashed_ >= end_; });
            if (abandoned_ || quitting_ || hashed_ >= end_) {
                return;
            }
            const std::uint64_t at = hashed_;
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(ready_ - at, copy_buffer_bytes));
            const int fd = fd_;
            lock.unlock();
            ssize_t got = -1;
            do {
                got = ::pread(fd, buffer, want, static_cast<off_t>(at));
            } while (got < 0 && errno == EINTR);
            if (got > 0) {
                take_(context_, buffer, static_cast<std::size_t>(got));
            }
            lock.lock();
            if (got <= 0) {
                // A piece declared final that cannot be read: the copy is
                // read again after it is made, the ordinary way.
                failed_ = true;
                changed_.wait(lock, [this] { return abandoned_ || quitting_ || end_ != no_end; });
                return;
            }
            hashed_ = at + static_cast<std::uint64_t>(got);
        }
    }

    // Hashes the piece handed over, outside the lock: the copying thread
    // touches neither its buffers nor the feed's digests until it is done.
    void hash_piece(std::unique_lock<std::mutex>& lock) {
        const Piece piece = piece_;
        lock.unlock();
        if (piece.many != nullptr) {
            piece.many(piece.contexts, piece.data, piece.sizes, piece.count);
            lock.lock();
            piece_waiting_ = false;
            changed_.notify_all();
            return;
        }
        const CopyFeed& feed = *piece.feed;
        if (piece.copy != nullptr) {
            feed.take_both(feed.context, piece.source, feed.copy_context, piece.copy, piece.size);
        } else {
            feed.take(feed.context, piece.source, piece.size);
        }
        lock.lock();
        piece_waiting_ = false;
        changed_.notify_all();
    }

    struct Piece {
        const CopyFeed* feed = nullptr;
        const unsigned char* source = nullptr;
        const unsigned char* copy = nullptr;
        std::size_t size = 0;
        // Or the pieces of several streams at once.
        TakeMany many = nullptr;
        void* const* contexts = nullptr;
        const unsigned char* const* data = nullptr;
        const std::size_t* sizes = nullptr;
        std::size_t count = 0;
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    Piece piece_;
    bool piece_waiting_ = false;
    int fd_ = -1;
    void (*take_)(void*, const unsigned char*, std::size_t) = nullptr;
    void* context_ = nullptr;
    std::uint64_t ready_ = 0;
    std::uint64_t hashed_ = 0;
    std::uint64_t end_ = no_end;
    bool failed_ = false;
    bool abandoned_ = false;
    bool busy_ = false;
    bool quitting_ = false;
    std::thread thread_;  // last: it starts on members already made
};

CopyReadBack::CopyReadBack() = default;
CopyReadBack::~CopyReadBack() = default;

namespace posix {

ReadBack* read_back_partner(CopyReadBack& owner) {
    if (!owner.partner) {
        try {
            owner.partner = std::make_unique<ReadBack>();
        } catch (const std::exception&) {
            // No thread to be had: the copy is read after it is made.
        }
    }
    return owner.partner.get();
}

void read_back_start(ReadBack& partner, int fd, void (*take)(void*, const unsigned char*, std::size_t), void* context) {
    partner.start(fd, take, context);
}

void read_back_advance(ReadBack& partner, std::uint64_t upto) {
    partner.advance(upto);
}

bool read_back_finish(ReadBack& partner, std::uint64_t size) {
    return partner.finish(size);
}

void read_back_abandon(ReadBack& partner) {
    partner.abandon();
}

void hash_on_partner(ReadBack& partner, const CopyFeed& feed, const unsigned char* source, const unsigned char* copy,
                     std::size_t size) {
    partner.hash(feed, source, copy, size);
}

void hash_many_on_partner(ReadBack& partner, TakeMany take, void* const* contexts, const unsigned char* const* data,
                          const std::size_t* sizes, std::size_t count) {
    partner.hash_many(take, contexts, data, sizes, count);
}

void partner_hashed(ReadBack& partner) {
    partner.hashed();
}

}  // namespace posix
}  // namespace veldro::platform
