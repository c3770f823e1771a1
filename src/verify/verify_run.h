// --VERIFY=FILE: the copies an earlier run made, checked against its hash
// log, DFXML or audit set. Nothing is copied and no source is read.
#pragma once

#include <cstdio>
#include <string>

#include "run/run.h"
#include "verify/record.h"

namespace veldro::verify {

// Reads the record named by --VERIFY, checks every copy it names (below
// -d when the copies were moved there) and writes the console summary, the
// verification log beside the default log and a DFXML when one is named.
// The run's status: 0 when every copy matched and nothing was added, 9
// otherwise, 6 for a record that cannot be read or is of no known kind.
int verify_copies(const Run& s);

// Reads a whole record from `stream`; false with `error` when it is not one.
bool read_record(std::FILE* stream, Record& record, std::string& error);

}  // namespace veldro::verify
