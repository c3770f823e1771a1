#include "config/memo.h"

#include <cstring>
#include <ctime>
#include <string>

#include "platform/system.h"
#include "util/run_end.h"

namespace veldro::config {
namespace {

constexpr int line_buffer_size = 5000;
// The prompt promises 2,000 characters; collection stops once this many
// have been gathered (after the line that reached it).
constexpr std::size_t memo_limit = 5001;
constexpr char bell = 7;

// Drops the line end; a line longer than the buffer is cut and the rest
// of it read away, so that it does not come back as a line of its own.
void finish_line(char* line, std::FILE* input) {
    std::size_t length = std::strlen(line);
    const bool complete = length > 0 && line[length - 1] == '\n';
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
        line[--length] = '\0';
    }
    if (!complete) {
        int c = 0;
        while ((c = std::fgetc(input)) != EOF && c != '\n') {
        }
    }
}

std::string local_time_text() {
    const std::time_t now = static_cast<std::time_t>(platform::now_seconds());
    char text[64] = "";
    if (const std::tm* local = std::localtime(&now)) {
        std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", local);
    }
    return text;
}

}  // namespace

void collect_memo(LogOptions& logs, std::FILE* input) {
    std::string& memo = logs.memo_text;
    char line[line_buffer_size];
    int blank_lines = 0;
    while (std::fgets(line, sizeof line, input) != nullptr) {
        finish_line(line, input);
        if (std::strlen(line) > 1) {
            memo += line;
            memo += '\n';
            if (memo.size() >= memo_limit) {
                break;
            }
            blank_lines = 0;
            continue;
        }
        // A line of one character or none counts as blank: the first in a
        // row is kept as an empty memo line, the second ends the memo.
        if (++blank_lines == 2) {
            break;
        }
        memo += '\n';
    }
}

void take_memo(LogOptions& logs, std::FILE* memo_file) {
    std::fputs("\n\n\nInput up to 2000 characters of your memo information now.\n", stdout);
    std::fprintf(stdout, "End with two blank lines (carriage returns)%c\n\n\n", bell);
    std::fflush(stdout);
    collect_memo(logs, stdin);
    // Ctrl-C while the memo is typed ends the run like anywhere else.
    check_interrupt();
    if (memo_file != nullptr && !logs.memo_text.empty()) {
        std::fprintf(memo_file, "\n******** MEMO %s\n%s******** END MEMO\n", local_time_text().c_str(),
                     logs.memo_text.c_str());
        std::fflush(memo_file);
    }
}

void write_memo_to_logs(const LogOptions& logs, OpenFiles& files) {
    if (logs.memo_text.empty()) {
        return;
    }
    std::FILE* log = files.default_log;
    const bool reopened = log == nullptr && !logs.default_log_path.empty();
    if (reopened) {
        log = platform::open_stream(logs.default_log_path, "a+");
    }
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "\n MEMO:\n%s END MEMO\n", logs.memo_text.c_str());
    if (reopened) {
        std::fclose(log);
    } else {
        std::fflush(log);
    }
}

}  // namespace veldro::config
