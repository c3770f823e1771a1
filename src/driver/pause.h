// Pauses that let a person read the console.
#pragma once

namespace veldro::driver {

// Waits whole seconds; returns at once when neither standard output nor
// standard error is a terminal (nobody is there to read).
void pause_seconds(int seconds);

}  // namespace veldro::driver
