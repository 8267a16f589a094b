// The archive formats the component knows, in their fixed ordinal order, and the detection of a
// format from an archive name's extension.
#pragma once

#include <string>

namespace archives {

enum TArchiverType {
    atLha,
    atZip,
    atCab,
    atArj,
    atTar,
    atTgz,
    atBZ2,
    atRar,
    atBga,
    atYz1,
    atGCA, // recognised by name, no back-end
    atBel, // recognised by name, no back-end
    at7z,
    atNone,      // no format found
    atAutoDetect // decided from the content when the archive is used
};

// The format named by the extension of FileName (ASCII letters compared without regard to case);
// atNone when the extension names none, atAutoDetect for ".exe", whose content decides.
TArchiverType GetArchiverTypeByExtension(const std::string &FileName);

// Short name of a type for messages and tests ("atLha", ...).
const char *ArchiverTypeName(TArchiverType Type);

} // namespace archives
