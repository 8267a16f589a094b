#include "archivers/common/ArcErrors.h"

namespace arclib {

const char *ArcCodeMessage(int code) {
    switch (code) {
    case kArcOk:
        return "";
    case kArcErrCommandLine:
        return "The command line cannot be read";
    case kArcErrArchiveNotFound:
        return "The archive cannot be opened";
    case kArcErrNotArchive:
        return "The file is not an archive of this format";
    case kArcErrDamaged:
        return "The archive is damaged";
    case kArcErrWriteArchive:
        return "The archive cannot be written";
    case kArcErrNoFiles:
        return "No file matched";
    case kArcErrReadSource:
        return "A file to be packed cannot be read";
    case kArcErrWriteFile:
        return "An extracted file cannot be written";
    case kArcErrUnsafePath:
        return "An entry would be written outside the destination and was refused";
    case kArcErrPassword:
        return "The entry is encrypted";
    case kArcErrUnsupported:
        return "Not supported";
    case kArcErrBufferTooSmall:
        return "The entry does not fit the buffer";
    case kArcErrNoMemory:
        return "Out of memory";
    case kArcErrInternal:
        return "Internal error";
    case kArcErrHandle:
        return "Unknown archive handle";
    case kArcErrSkipped:
        return "Some entries were skipped";
    case kArcErrUserCancel:
        return "Cancelled";
    default:
        return "Error";
    }
}

namespace {
std::string Compose(int code, const std::string &detail) {
    std::string s = ArcCodeMessage(code);
    if (!detail.empty())
        s += ": " + detail;
    return s;
}
} // namespace

ArcError::ArcError(int code, const std::string &detail)
    : std::runtime_error(Compose(code, detail)), code_(code), detail_(detail) {}

} // namespace arclib
