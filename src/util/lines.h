// Reading list files line by line, as a user wrote them: a line ends only at
// a line feed, whatever bytes it holds.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

namespace veldro::util {

// One line without its line feed, NUL bytes and all; a last line without a
// line feed keeps every byte. False at the end of the file.
bool read_raw_line(std::FILE* file, std::string& line);

// The note on line `number` of `what` left out, on standard error.
void write_line_left_out(int number, const std::string& what);

// The lines of one list file (file list, directory list, type patterns,
// bypass and exclusion lists, INI file). A line holding a NUL byte cannot
// name anything a user meant: it is named with its number on standard
// error ("Line 3 of the file list holds a NUL byte and is left out") and
// skipped, and the lines around it are read as they are.
class ListReader {
public:
    // `what` names the list in the message; `strip_cr` also removes a
    // carriage return before the line feed.
    ListReader(std::FILE* file, std::string what, bool strip_cr = true, bool quiet = false);

    // The next line without a NUL byte; false at the end of the file.
    bool next(std::string& line);

    // Tells the note on a line left out (its number and `what`) in the
    // caller's way, in place of writing it at once.
    void on_note(std::function<void(int number, const std::string& what)> note) { note_ = std::move(note); }

    // The number of the line last read (1 for the first).
    [[nodiscard]] int line_number() const { return number_; }

private:
    std::FILE* file_;
    std::string what_;
    bool strip_cr_;
    bool quiet_;
    int number_ = 0;
    std::function<void(int, const std::string&)> note_;
};

}  // namespace veldro::util
