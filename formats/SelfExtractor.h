// Writing a self-extracting archive by joining files: a self-extractor stub (and, for 7z, an
// optional configuration file) followed by the archive. The ZIP, TAR and 7z back-ends share it.
#pragma once

#include "archives/Classes.h"

#include <string>
#include <string_view>
#include <vector>

namespace archives {

// A file that should be read could not be opened.
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

} // namespace archives

namespace formats {

// ArchiveName with its extension replaced by Ext; when DestDir is not empty, only the file-name
// part of that, placed in DestDir (a separator between them unless DestDir ends in one, judged
// double-byte aware).
std::string SfxTargetName(const std::string &ArchiveName, const std::string &DestDir,
                          std::string_view Ext);

// Writes Target as the whole of each of Parts, in order (an existing Target is replaced). Every
// part is opened before Target is touched, so a missing part leaves no file behind; a Target that
// is one of the parts is refused (it would be truncated before it is read); a copy that fails
// midway removes the incomplete Target. The result is executable where the system knows that
// bit, since it is a program. Trailer, when given, follows the last part (bytes a stub reads to
// find the archive). EFOpenError, EFCreateError or EWriteError naming the file.
void JoinFiles(const std::string &Target, const std::vector<std::string> &Parts,
               std::string_view Trailer = {});

} // namespace formats
