// The memo: free text typed by the operator at the start of a run.
#pragma once

#include <cstdio>

#include "run/run.h"

namespace veldro::config {

// Reads the memo from the console into memo_text (INI MEMO with an open
// memo file) and appends it, marked with the time, to the memo file.
void take_memo(LogOptions& logs, std::FILE* memo_file);

// The memo collection itself, from `input`; take_memo reads standard input.
void collect_memo(LogOptions& logs, std::FILE* input);

// Appends the collected memo, marked as the run's memo, to the default
// log. The driver calls it right after the run header; nothing is written
// when no memo was taken.
void write_memo_to_logs(const LogOptions& logs, OpenFiles& files);

}  // namespace veldro::config
