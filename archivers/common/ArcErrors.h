// Result codes shared by our archiver libraries, their messages, and the exception that carries a
// code from deep inside an operation to the exported C function that returns it.
#pragma once

#include <stdexcept>
#include <string>

namespace arclib {

// 0 is success. 32778 and 32800 are fixed by the interface; the others are ours, documented in
// docs/archivers.md. They sit in the 0x8000 range so that a caller can tell them from counts.
enum ArcCode : int {
    kArcOk = 0,
    kArcErrCommandLine = 32769,     // the command line cannot be read
    kArcErrArchiveNotFound = 32770, // the archive does not exist or cannot be opened
    kArcErrNotArchive = 32771,      // the file is not an archive this library reads
    kArcErrDamaged = 32772,         // the archive is damaged (bad header, data or checksum)
    kArcErrWriteArchive = 32773,    // the archive cannot be written
    kArcErrNoFiles = 32774,         // nothing to do: no file matched
    kArcErrReadSource = 32775,      // a file to be packed cannot be read
    kArcErrWriteFile = 32776,       // an extracted file cannot be written
    kArcErrUnsafePath = 32777,      // an entry would land outside the destination; refused
    kArcErrPassword = 32778,        // the entry is encrypted
    kArcErrUnsupported = 32779,     // the operation or method is not supported on this platform
    kArcErrBufferTooSmall = 32780,  // memory extraction: the entry did not fit the buffer
    kArcErrNoMemory = 32781,        // out of memory
    kArcErrInternal = 32782,        // an unexpected failure inside the library
    kArcErrHandle = 32783,          // an unknown archive handle
    kArcErrSkipped = 32784,         // some entries were skipped (existing files kept)
    kArcErrUserCancel = 32800,      // the owner window asked to stop
};

// The fixed English message of a code ("" for 0).
const char *ArcCodeMessage(int code);

// Thrown inside the libraries; the export guard turns it into its code and puts the message (and
// the detail, when given) into the output buffer.
class ArcError : public std::runtime_error {
public:
    ArcError(int code, const std::string &detail = {});
    int code() const { return code_; }
    const std::string &detail() const { return detail_; }

private:
    int code_;
    std::string detail_;
};

// Keeps in worst the more serious of worst and code, so a run that goes on after a problem
// reports the worst one: a refused unsafe entry outranks a skipped one, any error outranks both.
inline void Worst(int &worst, int code) {
    auto rank = [](int c) {
        switch (c) {
        case kArcOk:
            return 0;
        case kArcErrSkipped:
            return 1;
        case kArcErrNoFiles:
            return 2;
        case kArcErrPassword:
        case kArcErrUnsupported:
            return 3;
        case kArcErrUnsafePath:
            return 4;
        default:
            return 5;
        }
    };
    if (rank(code) > rank(worst))
        worst = code;
}

} // namespace arclib
