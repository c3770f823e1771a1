// Selection criteria: age (in days or against dates), size, and the newer
// test between a source and its destination.
#pragma once

#include <cstdint>

#include "platform/fs.h"
#include "run/run.h"

namespace veldro::plan {

// The age in whole calendar days of the time chosen by `letter` ('A'/'a'
// last access, 'C'/'c' creation, anything else last write): today's local
// day number minus that of the time's local date. A file written
// yesterday at 23:59 is 1 day old at 00:01 today; a file dated in the
// future has a negative age. Today is the run's, taken at its first age.
std::int32_t age_in_days(Run& s, const platform::FileTimeSet& times, int letter);

// The age criteria, when age_select is set: the date form when any of the
// A, C, W letters was given, else the days form. True when the file passes
// (or no age criterion is in force).
bool passes_age_criteria(Run& s, const platform::FindRecord& entry);

// -G and -L: true when the size passes.
bool passes_size_criteria(const Run& s, const platform::FindRecord& entry);

// The newer test's difference in 100-ns units between the source's chosen
// time and the destination's same time (a destination that does not exist
// counts as infinitely old, so the difference is positive). With --ZERO a
// zero-dated source gives 1.
std::int64_t newer_difference(const Run& s, const platform::FindRecord& entry, const platform::FindRecord* destination);

}  // namespace veldro::plan
