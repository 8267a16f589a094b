#include "platform/FileTime.h"

namespace platform {

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian), and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int &y, int &m, int &d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        return 29;
    return days[m - 1];
}

int64_t LocalOffsetSeconds(int64_t utcSeconds) {
    time_t t = static_cast<time_t>(utcSeconds);
    struct tm local {};
    if (!localtime_r(&t, &local))
        return 0;
    return local.tm_gmtoff;
}

} // namespace

FileTime UnixToFileTime(int64_t seconds, int64_t nanoseconds) {
    int64_t ticks = seconds * static_cast<int64_t>(kTicksPerSecond) + nanoseconds / 100 +
                    static_cast<int64_t>(kUnixEpochTicks);
    return FileTime::FromTicks(ticks < 0 ? 0 : static_cast<uint64_t>(ticks));
}

int64_t FileTimeToUnix(FileTime ft) {
    return (static_cast<int64_t>(ft.Ticks()) - static_cast<int64_t>(kUnixEpochTicks)) /
           static_cast<int64_t>(kTicksPerSecond);
}

bool SystemTimeToFileTime(const SystemTime &st, FileTime &out) {
    if (st.year < 1601 || st.year > 30827 || st.month < 1 || st.month > 12 || st.day < 1 ||
        st.day > DaysInMonth(st.year, st.month) || st.hour < 0 || st.hour > 23 || st.minute < 0 ||
        st.minute > 59 || st.second < 0 || st.second > 59 || st.milliseconds < 0 ||
        st.milliseconds > 999)
        return false;
    int64_t days =
        DaysFromCivil(st.year, static_cast<unsigned>(st.month), static_cast<unsigned>(st.day));
    int64_t secs = days * 86400 + st.hour * 3600 + st.minute * 60 + st.second;
    out = UnixToFileTime(secs, int64_t{st.milliseconds} * 1000000);
    return true;
}

bool FileTimeToSystemTime(FileTime ft, SystemTime &out) {
    uint64_t ticks = ft.Ticks();
    if (ticks >= 0x8000000000000000ULL)
        return false;
    int64_t rel = static_cast<int64_t>(ticks) - static_cast<int64_t>(kUnixEpochTicks);
    int64_t secs = rel >= 0 ? rel / 10000000 : -((-rel + 9999999) / 10000000);
    int64_t rem = rel - secs * 10000000;
    int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    int64_t sod = secs - days * 86400;
    CivilFromDays(days, out.year, out.month, out.day);
    out.hour = static_cast<int>(sod / 3600);
    out.minute = static_cast<int>(sod / 60 % 60);
    out.second = static_cast<int>(sod % 60);
    out.milliseconds = static_cast<int>(rem / 10000);
    return true;
}

bool DosDateTimeToFileTime(uint16_t date, uint16_t time, FileTime &out) {
    SystemTime st;
    st.year = 1980 + (date >> 9);
    st.month = (date >> 5) & 0x0F;
    st.day = date & 0x1F;
    st.hour = time >> 11;
    st.minute = (time >> 5) & 0x3F;
    st.second = (time & 0x1F) * 2;
    return SystemTimeToFileTime(st, out);
}

bool FileTimeToDosDateTime(FileTime ft, uint16_t &date, uint16_t &time) {
    SystemTime st;
    if (!FileTimeToSystemTime(ft, st) || st.year < 1980 || st.year > 2107)
        return false;
    date = static_cast<uint16_t>(((st.year - 1980) << 9) | (st.month << 5) | st.day);
    time = static_cast<uint16_t>((st.hour << 11) | (st.minute << 5) | (st.second / 2));
    return true;
}

FileTime FileTimeToLocalFileTime(FileTime utc) {
    int64_t secs = FileTimeToUnix(utc);
    int64_t t = static_cast<int64_t>(utc.Ticks()) +
                LocalOffsetSeconds(secs) * static_cast<int64_t>(kTicksPerSecond);
    return FileTime::FromTicks(t < 0 ? 0 : static_cast<uint64_t>(t));
}

FileTime LocalFileTimeToFileTime(FileTime local) {
    int64_t secs = FileTimeToUnix(local);
    // The offset at the local instant read as UTC is close enough to find the right one.
    int64_t off = LocalOffsetSeconds(secs - LocalOffsetSeconds(secs));
    int64_t t = static_cast<int64_t>(local.Ticks()) - off * static_cast<int64_t>(kTicksPerSecond);
    return FileTime::FromTicks(t < 0 ? 0 : static_cast<uint64_t>(t));
}

SystemTime GetLocalTime() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    SystemTime st;
    FileTimeToSystemTime(FileTimeToLocalFileTime(UnixToFileTime(ts.tv_sec, ts.tv_nsec)), st);
    return st;
}

void UnixToLocalDosDateTime(int64_t seconds, uint16_t &date, uint16_t &time) {
    FileTime local = FileTimeToLocalFileTime(UnixToFileTime(seconds));
    if (!FileTimeToDosDateTime(local, date, time)) {
        date = (0 << 9) | (1 << 5) | 1; // 1980-01-01, the earliest DOS date
        time = 0;
    }
}

int64_t LocalDosDateTimeToUnix(uint16_t date, uint16_t time) {
    FileTime local;
    if (!DosDateTimeToFileTime(date, time, local))
        return 315532800; // 1980-01-01
    return FileTimeToUnix(LocalFileTimeToFileTime(local));
}

} // namespace platform
