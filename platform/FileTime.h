// Windows file times (100 ns since 1601-01-01) and DOS date/time words, converted to and from the
// platform's times. DOS values carry no time zone: the conversions between DOS and file times apply
// no shift, as the Windows conversions do not.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

struct FileTime {
    uint32_t low = 0;
    uint32_t high = 0;
    uint64_t Ticks() const { return (uint64_t{high} << 32) | low; }
    static FileTime FromTicks(uint64_t t) {
        return {static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32)};
    }
};

// Broken-down calendar time, as the Windows SYSTEMTIME has it.
struct SystemTime {
    int year = 1601, month = 1, day = 1, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL; // 1970-01-01 as a file time

FileTime UnixToFileTime(int64_t seconds, int64_t nanoseconds = 0);
int64_t FileTimeToUnix(FileTime ft); // whole seconds since 1970, UTC

// False for a DOS date or time whose fields are out of range.
bool DosDateTimeToFileTime(uint16_t date, uint16_t time, FileTime &out);
bool FileTimeToDosDateTime(FileTime ft, uint16_t &date, uint16_t &time);

// Calendar conversions without a time zone.
bool FileTimeToSystemTime(FileTime ft, SystemTime &out);
bool SystemTimeToFileTime(const SystemTime &st, FileTime &out);

// UTC to local time of the machine's time zone, and back.
FileTime FileTimeToLocalFileTime(FileTime utc);
FileTime LocalFileTimeToFileTime(FileTime local);

// The current local time.
SystemTime GetLocalTime();

// DOS date and time of a Unix time in local time (as archivers store them).
void UnixToLocalDosDateTime(int64_t seconds, uint16_t &date, uint16_t &time);
// Unix time of a DOS date and time read as local time.
int64_t LocalDosDateTimeToUnix(uint16_t date, uint16_t time);

} // namespace platform
