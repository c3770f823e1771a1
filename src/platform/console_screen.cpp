#include "platform/console_screen.h"

#include <algorithm>
#include <charconv>

namespace veldro::platform {

namespace {

constexpr std::string_view marker_start = "\x1b_VH";
constexpr std::string_view marker_end = "\x1b\\";

// How many bytes at the end of `text` could begin a marker that the next
// bytes complete.
std::size_t partial_marker(std::string_view text) {
    for (std::size_t n = std::min(text.size(), marker_start.size() - 1); n > 0; --n) {
        if (marker_start.starts_with(text.substr(text.size() - n))) {
            return n;
        }
    }
    return 0;
}

}  // namespace

std::string console_hold_marker(int seconds) {
    std::string marker(marker_start);
    marker += std::to_string(std::max(seconds, 0));
    marker += marker_end;
    return marker;
}

void ConsoleScreen::take(std::string_view bytes) {
    queue_.append(bytes);
}

void ConsoleScreen::track(std::string_view text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (escape_ == 1) {
            escape_ = c == '[' ? 2 : 0;
            continue;
        }
        if (escape_ == 2) {
            escape_ = c >= 0x40 && c <= 0x7e ? 0 : 2;
            continue;
        }
        if (c == '\n') {
            column_ = 0;
            plain_line_ = true;
        } else if (c == '\r') {
            column_ = 0;
        } else if (c == '\b') {
            column_ = std::max(column_ - 1, 0LL);
        } else if (c == 0x1b) {
            escape_ = 1;
        } else if (c < 0x20 || c >= 0x7f) {
            // A tab, another control or a character whose width on the
            // screen is not known: the cursor's column is not known either.
            plain_line_ = false;
        } else {
            ++column_;
        }
    }
}

void ConsoleScreen::erase_status(std::string& out) {
    if (!status_.empty()) {
        out += erase_;
        status_.clear();
    }
}

void ConsoleScreen::draw_status(int width, std::string_view status, std::string& out) {
    const long long columns = std::max(width, 2);
    // Drawn only where the cursor can be put back exactly: at the start of
    // a line, or after a plain line that does not fill the screen's width.
    if (escape_ != 0 || (column_ != 0 && (!plain_line_ || column_ % columns == 0))) {
        return;
    }
    const std::string_view shown = status.substr(0, static_cast<std::size_t>(columns - 1));
    if (column_ == 0) {
        out += shown;
        erase_ = "\r\x1b[K";
    } else {
        out += '\n';
        out += shown;
        erase_ = "\r\x1b[K\x1b[A\x1b[";
        erase_ += std::to_string(column_ % columns + 1);
        erase_ += 'G';
    }
    status_.assign(status);
}

void ConsoleScreen::render(std::int64_t now_ms, int width, std::string_view status, bool finish, std::string& out) {
    std::size_t at = 0;
    bool erased = false;
    const auto show = [&](std::size_t end) {
        if (end > at) {
            if (!erased) {
                erase_status(out);
                erased = true;
            }
            const std::string_view text = std::string_view(queue_).substr(at, end - at);
            out += text;
            track(text);
        }
        at = end;
    };
    while (at < queue_.size() && (finish || now_ms >= hold_until_)) {
        const std::size_t marker = queue_.find(marker_start, at);
        if (marker == std::string::npos) {
            show(queue_.size() - partial_marker(std::string_view(queue_).substr(at)));
            break;
        }
        const std::size_t close = queue_.find(marker_end, marker + marker_start.size());
        if (close == std::string::npos) {
            show(marker);
            break;
        }
        show(marker);
        int seconds = 0;
        std::from_chars(queue_.data() + marker + marker_start.size(), queue_.data() + close, seconds);
        hold_until_ = now_ms + static_cast<std::int64_t>(seconds) * 1000;
        at = close + marker_end.size();
    }
    if (finish) {
        show(queue_.size());
    }
    queue_.erase(0, at);
    if (finish || status.empty()) {
        erase_status(out);
    } else if (erased || status != status_) {
        erase_status(out);
        draw_status(width, status, out);
    }
}

}  // namespace veldro::platform
