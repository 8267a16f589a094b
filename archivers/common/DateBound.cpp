#include "archivers/common/DateBound.h"

#include "archivers/common/ArcErrors.h"

#include <ctime>
#include <string>

namespace arclib {

namespace {

int Digits(std::string_view text, size_t at, size_t n, std::string_view whole) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw ArcError(kArcErrCommandLine, "not a date: " + std::string(whole));
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

} // namespace

std::optional<int64_t> ParseDateBound(std::string_view text, std::string_view defaultTime,
                                      int currentYear) {
    const std::string_view whole = text;
    if (text.size() > 1 && text[0] == 'l')
        text.remove_prefix(1);
    const size_t n = text.size();
    if (n != 6 && n != 8 && n != 12 && n != 14)
        return std::nullopt;
    const bool longYear = n == 8 || n == 14;
    const size_t dateLen = longYear ? 8 : 6;
    int year = Digits(text, 0, longYear ? 4 : 2, whole);
    if (!longYear) {
        const int start = currentYear - 50;
        year += (start / 100) * 100;
        if (year < start)
            year += 100;
    }
    const size_t m = longYear ? 4 : 2;
    const int month = Digits(text, m, 2, whole);
    const int day = Digits(text, m + 2, 2, whole);
    const std::string_view time = n > dateLen ? text.substr(dateLen) : defaultTime;
    const int hour = Digits(time, 0, 2, whole), minute = Digits(time, 2, 2, whole),
              second = Digits(time, 4, 2, whole);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        throw ArcError(kArcErrCommandLine, "not a date: " + std::string(whole));
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

} // namespace arclib
