#include "workflow/jsonl_parser.h"

#include <cstdint>

// Apart from the line parser, so that a program that only reads timestamps (the
// `usage` command) links no JSON library for it.
namespace perchwell::JSONLParser {
namespace {

// Reads exactly `count` decimal digits at `pos`.
bool digits(std::string_view s, size_t pos, size_t count, int& out) {
    if (pos + count > s.size()) {
        return false;
    }
    out = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

} // namespace

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::optional<double> parseTimestamp(std::string_view s) {
    // YYYY-MM-DDTHH:MM:SS[.f+](Z|±HH:MM)
    int year, month, day, hour, minute, second;
    if (!digits(s, 0, 4, year) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
        !digits(s, 8, 2, day) || s[10] != 'T' || !digits(s, 11, 2, hour) || s[13] != ':' ||
        !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }
    size_t pos = 19;
    double fraction = 0;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        // Nanoseconds are as fine as anyone writes; further digits are read and ignored.
        int64_t numerator = 0;
        int64_t denominator = 1;
        const size_t start = pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (pos - start < 9) {
                numerator = numerator * 10 + (s[pos] - '0');
                denominator *= 10;
            }
            ++pos;
        }
        if (pos == start) {
            return std::nullopt;
        }
        fraction = static_cast<double>(numerator) / static_cast<double>(denominator);
    }
    if (pos >= s.size()) {
        return std::nullopt;
    }
    int offsetMinutes = 0;
    if (s[pos] == 'Z') {
        ++pos;
    } else if (s[pos] == '+' || s[pos] == '-') {
        int oh, om;
        if (!digits(s, pos + 1, 2, oh) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
            !digits(s, pos + 4, 2, om) || oh > 23 || om > 59) {
            return std::nullopt;
        }
        offsetMinutes = (s[pos] == '-' ? -1 : 1) * (oh * 60 + om);
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) {
        return std::nullopt;
    }
    const int64_t seconds =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
        minute * 60 + second - offsetMinutes * 60;
    return static_cast<double>(seconds) + fraction;
}

} // namespace perchwell::JSONLParser
