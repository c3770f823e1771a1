// What the console thread shows: the run's output in its order, holds that
// delay only what follows them on the screen, and a status line kept below
// the last line written. Pure logic over bytes and a clock, so that it is
// tested without a terminal; platform/<system>/console_thread.cpp feeds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veldro::platform {

// The bytes that stand for a hold of `seconds` in the run's output: what is
// written after them is shown no sooner than that many seconds after what
// was written before them. Escape characters never come from a name (names
// are escaped in every output), so nothing else can look like one.
std::string console_hold_marker(int seconds);

class ConsoleScreen {
public:
    // Bytes the run wrote, in order, holds included.
    void take(std::string_view bytes);

    // Appends to `out` what the terminal is to receive at `now_ms`: queued
    // text up to the first hold not yet over, the status line erased before
    // it and drawn again below it, and `status` itself when it changed.
    // `finish` shows everything still queued (holds are cut short) and
    // leaves no status line behind. An empty `status` draws none.
    void render(std::int64_t now_ms, int width, std::string_view status, bool finish, std::string& out);

    // The moment the queued text may be shown, when it waits on a hold.
    [[nodiscard]] bool held(std::int64_t now_ms) const { return !queue_.empty() && now_ms < hold_until_; }
    [[nodiscard]] std::int64_t hold_until() const { return hold_until_; }
    [[nodiscard]] std::size_t queued() const { return queue_.size(); }
    // Ends the hold under way (the queue grew too large to keep back).
    void release_hold() { hold_until_ = 0; }

private:
    void track(std::string_view text);
    void erase_status(std::string& out);
    void draw_status(int width, std::string_view status, std::string& out);

    std::string queue_;   // taken and not yet shown
    std::string status_;  // the status line as drawn
    std::string erase_;   // how to take it away again
    std::int64_t hold_until_ = 0;
    long long column_ = 0;    // of the cursor on the line being written
    bool plain_line_ = true;  // that line holds only printable ASCII
    int escape_ = 0;          // inside an escape sequence: 1 after ESC, 2 inside CSI
};

}  // namespace veldro::platform
