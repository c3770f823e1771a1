#include "platform/live_status.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>

#include "platform/copy_progress.h"

namespace veldro::platform {

namespace {

struct Published {
    std::atomic<std::int64_t> files_total{0};
    std::atomic<std::int64_t> bytes_total{0};
    std::atomic<std::int64_t> files_done{0};
    std::atomic<std::int64_t> bytes_done{0};
    // The bytes copied when bytes_done was set: what was copied since then
    // belongs to files not yet recorded.
    std::atomic<std::uint64_t> copied_at_done{0};
    std::atomic<bool> showing{false};
};
Published g_published;

// The large file named on the line.
struct NamedFile {
    std::mutex lock;
    std::array<char, 256> name{};
    std::uint64_t size = 0;
    const std::atomic<std::uint64_t>* copied = nullptr;
    const FollowedFile* owner = nullptr;
};
NamedFile g_named;

// The rate over the last five seconds of samples (four a second), taken
// by the one caller of live_status_line.
struct Sample {
    std::int64_t ms = 0;
    std::uint64_t copied = 0;
};
struct RateSamples {
    std::array<Sample, 20> samples{};
    std::size_t taken = 0;
};
RateSamples g_rate;

// A number with thousands separators into `out`.
std::string_view grouped(std::int64_t value, std::array<char, 32>& out) {
    std::array<char, 24> digits{};
    std::size_t n = 0;
    auto rest = static_cast<std::uint64_t>(std::max<std::int64_t>(value, 0));
    do {
        digits.at(n++) = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    std::size_t at = 0;
    for (std::size_t i = n; i > 0; --i) {
        out.at(at++) = digits.at(i - 1);
        if (i > 1 && (i - 1) % 3 == 0) {
            out.at(at++) = ',';
        }
    }
    return {out.data(), at};
}

// Appends pieces of the line to a fixed buffer, cutting what does not fit.
class LineWriter {
public:
    LineWriter(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
    void add(std::string_view text) {
        for (const char c : text) {
            if (at_ + 1 >= capacity_) {
                return;
            }
            out_[at_++] = c;  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        }
    }
    void add_number(std::int64_t value, int at_least_digits = 1) {
        std::array<char, 24> digits{};
        int n = 0;
        auto rest = static_cast<std::uint64_t>(std::max<std::int64_t>(value, 0));
        do {
            digits.at(static_cast<std::size_t>(n++)) = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest != 0 || n < at_least_digits);
        while (n > 0) {
            add(std::string_view(&digits.at(static_cast<std::size_t>(--n)), 1));
        }
    }
    void add_grouped(std::int64_t value) {
        std::array<char, 32> text{};
        add(grouped(value, text));
    }
    [[nodiscard]] std::size_t size() const { return at_; }

private:
    char* out_;
    std::size_t capacity_;
    std::size_t at_ = 0;
};

int percent(std::uint64_t done, std::uint64_t total) {
    return total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done, total) * 100 / total);
}

}  // namespace

void publish_totals(std::int64_t files, std::int64_t bytes) {
    g_published.files_total.store(files, std::memory_order_relaxed);
    g_published.bytes_total.store(bytes, std::memory_order_relaxed);
}

void publish_done(std::int64_t files, std::int64_t bytes) {
    g_published.files_done.store(files, std::memory_order_relaxed);
    g_published.bytes_done.store(bytes, std::memory_order_relaxed);
    g_published.copied_at_done.store(copied_bytes(), std::memory_order_relaxed);
}

void show_status_line(bool on) {
    g_published.showing.store(on, std::memory_order_relaxed);
}

FollowedFile::FollowedFile(std::string_view shown_name, std::uint64_t size) {
    if (size < large_file_bytes) {
        return;
    }
    follow_copied_bytes(&copied_);
    const std::lock_guard<std::mutex> hold(g_named.lock);
    // The end of the name says most; a character the line cannot show
    // exactly is a '?'.
    const std::string_view tail =
        shown_name.substr(shown_name.size() - std::min(shown_name.size(), g_named.name.size() - 1));
    std::size_t at = 0;
    for (const char c : tail) {
        const auto u = static_cast<unsigned char>(c);
        g_named.name.at(at++) = u >= 0x20 && u < 0x7f ? c : '?';
    }
    g_named.name.at(at) = '\0';
    g_named.size = size;
    g_named.copied = &copied_;
    g_named.owner = this;
    named_ = true;
}

FollowedFile::~FollowedFile() {
    if (!named_) {
        return;
    }
    follow_copied_bytes(nullptr);
    const std::lock_guard<std::mutex> hold(g_named.lock);
    if (g_named.owner == this) {
        g_named.owner = nullptr;
        g_named.copied = nullptr;
    }
}

std::size_t format_status_line(const StatusFigures& f, char* out, std::size_t capacity, int width) {
    const std::size_t columns = static_cast<std::size_t>(std::max(width, 2));
    LineWriter line(out, std::min(capacity, columns));
    line.add(" ");
    line.add_grouped(f.files_done);
    if (f.files_total > 0) {
        line.add(" of ");
        line.add_grouped(f.files_total);
    }
    line.add(" files | ");
    line.add_grouped(f.bytes_done / 1000000);
    if (f.bytes_total > 0) {
        line.add(" of ");
        line.add_grouped(f.bytes_total / 1000000);
        line.add(" MB (");
        line.add_number(percent(static_cast<std::uint64_t>(f.bytes_done), static_cast<std::uint64_t>(f.bytes_total)));
        line.add("%)");
    } else {
        line.add(" MB");
    }
    if (f.bytes_per_second > 0) {
        const auto tenths = static_cast<std::int64_t>(f.bytes_per_second / 1e5);
        line.add(" | ");
        line.add_grouped(tenths / 10);
        line.add(".");
        line.add_number(tenths % 10);
        line.add(" MB/s");
        if (f.bytes_total > f.bytes_done) {
            const auto left =
                static_cast<std::int64_t>(static_cast<double>(f.bytes_total - f.bytes_done) / f.bytes_per_second);
            line.add(" | ");
            line.add_number(left / 3600);
            line.add(":");
            line.add_number(left % 3600 / 60, 2);
            line.add(":");
            line.add_number(left % 60, 2);
            line.add(" left");
        }
    }
    if (!f.file.empty() && f.file_size > 0) {
        // The file's own percentage stays whole; its name gives way, from
        // the left, to the room that is left.
        const int share = percent(f.file_done, f.file_size);
        const std::size_t share_length = share == 100 ? 5 : share >= 10 ? 4 : 3;  // " 42%"
        const std::size_t used = line.size() + 3 + share_length;
        if (columns > used + 4) {
            const std::size_t room = columns - 1 - used;
            line.add(" | ");
            std::string_view name = f.file;
            if (name.size() > room) {
                name = name.substr(name.size() - (room - 3));
                line.add("...");
            }
            line.add(name);
            line.add(" ");
            line.add_number(share);
            line.add("%");
        }
    }
    return line.size();
}

std::size_t live_status_line(char* out, std::size_t capacity, int width) {
    if (!g_published.showing.load(std::memory_order_relaxed)) {
        return 0;
    }
    StatusFigures f;
    f.files_done = g_published.files_done.load(std::memory_order_relaxed);
    f.files_total = g_published.files_total.load(std::memory_order_relaxed);
    f.bytes_total = g_published.bytes_total.load(std::memory_order_relaxed);
    const std::uint64_t copied = copied_bytes();
    const std::uint64_t at_done = g_published.copied_at_done.load(std::memory_order_relaxed);
    f.bytes_done = g_published.bytes_done.load(std::memory_order_relaxed) +
                   static_cast<std::int64_t>(copied > at_done ? copied - at_done : 0);
    if (f.bytes_total > 0) {
        f.bytes_done = std::min(f.bytes_done, f.bytes_total);
    }

    std::array<Sample, 20>& samples = g_rate.samples;
    std::size_t& taken = g_rate.taken;
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    const Sample oldest = taken < samples.size() ? samples.at(0) : samples.at(taken % samples.size());
    samples.at(taken % samples.size()) = Sample{now, copied};
    ++taken;
    if (taken > 1 && now > oldest.ms) {
        f.bytes_per_second =
            static_cast<double>(copied - oldest.copied) * 1000.0 / static_cast<double>(now - oldest.ms);
    }

    std::array<char, 256> name{};
    {
        const std::lock_guard<std::mutex> hold(g_named.lock);
        if (g_named.copied != nullptr) {
            name = g_named.name;
            f.file_size = g_named.size;
            f.file_done = g_named.copied->load(std::memory_order_relaxed);
        }
    }
    f.file = std::string_view(name.data());
    return format_status_line(f, out, capacity, width);
}

}  // namespace veldro::platform
