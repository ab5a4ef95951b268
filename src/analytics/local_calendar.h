#pragma once

#include <cstdint>
#include <string>

namespace perchwell {

// Local calendar days in the process's time zone (TZ), the user's calendar.
class LocalCalendar {
public:
    // Days since 1970-01-01 of the local date that contains `instant`.
    static int64_t dayNumber(double instant);
    // The instant at which local day `day` starts (local midnight, or the first
    // instant of the day where a time-zone change skips midnight).
    static double startOfDay(int64_t day);
    static double startOfDayContaining(double instant) { return startOfDay(dayNumber(instant)); }
    // "YYYY-MM-DD".
    static std::string dateText(int64_t day);
    // "YYYY-MM-DD" → day number; -1 for anything else.
    static int64_t parseDate(const std::string& text);
};

// dayNumber() for a stream of instants: one localtime_r per hour of time seen.
class LocalDayCache {
public:
    int64_t dayNumber(double instant);

private:
    int64_t hour_ = INT64_MIN;
    int64_t offset_ = 0; // local minus UTC seconds within that hour
};

} // namespace perchwell
