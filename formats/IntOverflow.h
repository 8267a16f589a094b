// Integer arithmetic that reports overflow instead of wrapping (check modes are sums of caller
// values).
#pragma once

#include <stdexcept>

namespace formats {

inline int AddChecked(int a, int b) {
    int sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        throw std::overflow_error("Integer overflow");
    return sum;
}

} // namespace formats
