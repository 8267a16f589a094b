// The date bounds of the LHA-style switches -jo (files last written at or after) and -job (at or
// before), read as the component's file selection reads them, so that a library that selects the
// files itself keeps the same files.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace arclib {

// "YYMMDD", "YYMMDDhhmmss", "YYYYMMDD" or "YYYYMMDDhhmmss" (a leading 'l' is dropped), local
// time; defaultTime ("hhmmss") stands in for a time that is not given. A two-digit year falls in
// the hundred years that begin 50 years before currentYear. Any other length sets no bound
// (nullopt). Throws ArcError(kArcErrCommandLine) for text of a date's length that is no date.
std::optional<int64_t> ParseDateBound(std::string_view text, std::string_view defaultTime,
                                      int currentYear);

struct DateRange {
    std::optional<int64_t> from, to; // Unix seconds, both inclusive
    bool Contains(int64_t t) const { return (!from || t >= *from) && (!to || t <= *to); }
};

} // namespace arclib
