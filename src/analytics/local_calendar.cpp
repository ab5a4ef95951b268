#include "analytics/local_calendar.h"

#include "workflow/jsonl_parser.h"

#include <cstdio>
#include <ctime>

namespace perchwell {
namespace {

int64_t floorSeconds(double instant) {
    const auto whole = static_cast<int64_t>(instant);
    return instant < static_cast<double>(whole) ? whole - 1 : whole;
}

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The inverse of JSONLParser::daysFromCivil.
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

int64_t utcOffset(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return 0;
    }
    return local.tm_gmtoff;
}

} // namespace

int64_t LocalCalendar::dayNumber(double instant) {
    const auto seconds = floorSeconds(instant);
    return floorDiv(seconds + utcOffset(seconds), 86400);
}

double LocalCalendar::startOfDay(int64_t day) {
    int64_t y;
    unsigned m, d;
    civilFromDays(day, y, m, d);
    tm local{};
    local.tm_year = static_cast<int>(y - 1900);
    local.tm_mon = static_cast<int>(m) - 1;
    local.tm_mday = static_cast<int>(d);
    local.tm_isdst = -1;
    time_t t = mktime(&local);
    // Where midnight does not exist, mktime may land on the previous day.
    while (dayNumber(static_cast<double>(t)) < day) {
        t += 3600;
    }
    return static_cast<double>(t);
}

std::string LocalCalendar::dateText(int64_t day) {
    int64_t y;
    unsigned m, d;
    civilFromDays(day, y, m, d);
    char text[32];
    std::snprintf(text, sizeof(text), "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    return text;
}

int64_t LocalCalendar::parseDate(const std::string& text) {
    unsigned y, m, d;
    char tail;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4u-%2u-%2u%c", &y, &m, &d, &tail) != 3 || m < 1 || m > 12 || d < 1 ||
        d > 31) {
        return -1;
    }
    const int64_t day = JSONLParser::daysFromCivil(y, m, d);
    int64_t cy;
    unsigned cm, cd;
    civilFromDays(day, cy, cm, cd);
    return cm == m && cd == d ? day : -1; // 2025-02-30 is no date
}

int64_t LocalDayCache::dayNumber(double instant) {
    const auto seconds = floorSeconds(instant);
    const int64_t hour = floorDiv(seconds, 3600);
    if (hour != hour_) {
        hour_ = hour;
        offset_ = utcOffset(hour * 3600);
    }
    // Zones change their offset on the hour, so one lookup serves the whole hour.
    return floorDiv(seconds + offset_, 86400);
}

} // namespace perchwell
