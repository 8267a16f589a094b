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
template <class F> int GuardCode(OutputBuffer *out, F &&body) noexcept {
    int code = kArcErrInternal;
    const char *what = nullptr;
    try {
        return std::forward<F>(body)();
    } catch (const ArcError &e) {
        code = e.code();
        what = e.what();
    } catch (const std::bad_alloc &) {
        code = kArcErrNoMemory;
    } catch (const std::exception &e) {
        what = e.what();
    } catch (...) {
    }
    if (out) {
        try {
            out->Line(what ? what : ArcCodeMessage(code));
        } catch (...) {
        }
    }
    return code;
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
