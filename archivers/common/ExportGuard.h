// Every exported C function of our libraries runs its body through one of these guards, so that no
// exception crosses the C boundary: an ArcError becomes its code, anything else an internal-error
// or out-of-memory code, with the message in the output buffer when there is one.
#pragma once

#include "archivers/common/ArcErrors.h"
#include "archivers/common/OutputBuffer.h"

#include <new>
#include <utility>

namespace arclib {

// Runs body() (returning int) and returns its result, or the code of what it threw.
namespace detail {
// Puts a message into the output; never throws (a report that cannot be made is dropped).
inline void Report(OutputBuffer *out, const char *text) noexcept {
    if (!out)
        return;
    try {
        out->Line(text);
    } catch (...) {
    }
}
} // namespace detail

// Runs body() (returning int) and returns its result, or the code of what it threw. The message
// is written while the exception is still alive.
template <class F> int GuardCode(OutputBuffer *out, F &&body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (const ArcError &e) {
        detail::Report(out, e.what());
        return e.code();
    } catch (const std::bad_alloc &) {
        detail::Report(out, ArcCodeMessage(kArcErrNoMemory));
        return kArcErrNoMemory;
    } catch (const std::exception &e) {
        detail::Report(out, e.what());
        return kArcErrInternal;
    } catch (...) {
        detail::Report(out, ArcCodeMessage(kArcErrInternal));
        return kArcErrInternal;
    }
}

// Runs body() and returns its result, or failed when it throws.
template <class R, class F> R Guard(R failed, F &&body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return failed;
    }
}

} // namespace arclib
