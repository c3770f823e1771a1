// Process entry: turns the arguments into UTF-8 and hands them to the run.
#include <string>
#include <vector>

#include "driver/run.h"

#ifdef _WIN32
#include "platform/win32/wide.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        args.push_back(
            veldro::platform::win32::from_wide(argv[i]));  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    }
    return veldro::driver::run_program(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    return veldro::driver::run_program(args);
}
#endif
