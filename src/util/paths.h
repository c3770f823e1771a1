// Path helpers used everywhere: the internal (long) form, the form shown
// to the user, joining and splitting. Nobody concatenates separators by
// hand. Both path styles are always compiled so that tests can check each;
// the program uses the native one.
#pragma once

#include <string>
#include <string_view>

namespace veldro::paths {

enum class Style : unsigned char { posix, windows };

#ifdef _WIN32
inline constexpr Style native_style = Style::windows;
#else
inline constexpr Style native_style = Style::posix;
#endif

constexpr char separator(Style style = native_style) {
    return style == Style::windows ? '\\' : '/';
}
bool is_separator(char c, Style style = native_style);

// The long-path prefix of the Windows form.
inline constexpr std::string_view long_prefix = "\\\\?\\";

// True when the path starts with the long-path prefix (first character a
// backslash and third a question mark, as the program has always tested).
bool has_long_prefix(std::string_view path);

// Puts the long-path prefix before an absolute Windows path unless it
// begins with a backslash (UNC, or prefixed already) or has '?' third.
// Posix paths are returned unchanged.
std::string add_long_prefix(std::string_view path, Style style = native_style);

// The form of an internal Windows path that the system's file calls are
// given. A drive root keeps its backslash ("\\?\E:\", since "\\?\E:"
// names the volume device), a UNC path takes the long form
// "\\?\UNC\server\share\..." and an unprefixed absolute drive path
// takes the prefix, so that no length limit applies and names ending in a
// dot or blank stay as they are. A path holding '/' or a "." or ".."
// component (the prefix turns off the system's own normalising) and every
// other path pass unchanged.
std::string call_form(std::string_view path);

// The path as shown to the user: without its long-path prefix.
std::string_view display_path(std::string_view path);
// The display form as written to the console and the logs: on Linux with
// every character that could break or forge a line escaped (see
// util::shown_name).
std::string shown_path(std::string_view path);

// Resolves a path as typed against the working directory, normalises it
// lexically (no '.', no '..', single separators; links are not followed)
// and gives the internal form.
std::string make_long_path(std::string_view input);

// Lexical normalisation of an absolute path: '.' and '..' removed, runs
// of separators folded, no trailing separator except at the root.
// `..` never climbs above the root (or, on Windows, above the drive).
std::string normalize(std::string_view absolute, Style style = native_style);

// dir + separator + name, with exactly one separator between them.
std::string join(std::string_view dir, std::string_view name, Style style = native_style);

std::string with_trailing_separator(std::string_view path, Style style = native_style);
std::string without_trailing_separator(std::string_view path, Style style = native_style);

// The parts of a path: drive ("C:" or empty; the long prefix stays with
// the drive), directory (with its trailing separator), base name and
// extension (with its dot).
struct PathParts {
    std::string drive;
    std::string directory;
    std::string name;
    std::string extension;
};
PathParts split(std::string_view path, Style style = native_style);

// The final component of a path (the bare file name).
std::string_view file_name(std::string_view path, Style style = native_style);
// Everything before the final component, without its trailing separator.
std::string_view parent(std::string_view path, Style style = native_style);

// The part of an internal path that a destination tree repeats below the
// destination: on Windows the text after the drive designation ("\DATA\x"
// for \\?\C:\DATA\x; for UNC paths the text after the share), on Linux the
// whole absolute path ("/data/x").
std::string_view below_drive(std::string_view path, Style style = native_style);

// Compares ASCII letters without regard to case.
bool equal_ignoring_case(std::string_view a, std::string_view b);
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix);

}  // namespace veldro::paths
