#include "plan/criteria.h"

#include "times/file_times.h"
#include "util/dates.h"

namespace veldro::plan {

namespace {

// Today's local day number, taken once into the run's state: the run
// measures every age from the same day.
std::int32_t today_day_number(Run& s) {
    if (s.today == 0) {
        const util::CalendarDate date = util::today();
        s.today = util::day_number(date.month, date.day, date.year);
    }
    return s.today;
}

bool inside_band(const Run& s, const platform::FileTime& t) {
    return s.selection.younger_cutoff < t.ticks && t.ticks < s.selection.older_cutoff;
}

}  // namespace

std::int32_t age_in_days(Run& s, const platform::FileTimeSet& times, int letter) {
    times::CalendarParts local;
    if (!times::file_time_to_calendar(times::to_local_file_time(times::chosen_time(times, letter)).ticks, local)) {
        return 0;
    }
    return today_day_number(s) - util::day_number(local.month, local.day, local.year);
}

bool passes_age_criteria(Run& s, const platform::FindRecord& entry) {
    const SelectionOptions& sel = s.selection;
    if (sel.age_select == 0) {
        return true;
    }
    if (sel.date_use_access != 0 || sel.date_use_create != 0 || sel.date_use_write != 0) {
        return (sel.date_use_access != 0 && inside_band(s, entry.times.last_access)) ||
               (sel.date_use_create != 0 && inside_band(s, entry.times.creation)) ||
               (sel.date_use_write != 0 && inside_band(s, entry.times.last_write));
    }
    const std::int32_t days = age_in_days(s, entry.times, sel.time_field);
    return days >= sel.older_days && days < sel.younger_days;
}

bool passes_size_criteria(const Run& s, const platform::FindRecord& entry) {
    const SelectionOptions& sel = s.selection;
    const auto size = static_cast<std::int64_t>(entry.size);
    if (sel.greater_select != 0 && size < sel.greater_size) {
        return false;
    }
    return !(sel.less_select != 0 && size > sel.less_size);
}

std::int64_t newer_difference(const Run& s, const platform::FindRecord& entry,
                              const platform::FindRecord* destination) {
    if (s.copy.zero_dates != 0 && times::is_zero_dated(entry.times)) {
        return 1;
    }
    const platform::FileTime& source_time = times::chosen_time(entry.times, s.selection.time_field);
    if (destination == nullptr) {
        // Nothing to be newer than: always a copy, whatever the source's
        // time (even one the file system could not tell).
        const auto local = static_cast<std::int64_t>(times::to_local_file_time(source_time).ticks);
        return local > 0 ? local : 1;
    }
    // Both times are taken at the same offset from UTC, so their
    // difference is that of the UTC times: exact to the 100-ns unit, and
    // not bent by a change of daylight saving between the two instants.
    const platform::FileTime& dest_time = times::chosen_time(destination->times, s.selection.time_field);
    return static_cast<std::int64_t>(source_time.ticks - dest_time.ticks);
}

}  // namespace veldro::plan
