// The switch record kept as a section of a profile file, in its stored-default form: one key per
// published property that differs from its stored default ("x=0", "jx.Strings=('a' 'b')",
// "w=#0"). A section a form wrote for the component names them "Options.x" and so on, among the
// component's other properties; both spellings are read.
#pragma once

#include "archives/ArchiverOptions.h"

#include <string>

namespace arcfile {

inline constexpr const char *kDefaultSection = "Options";

// Reads Section of FileName into Options (reset first). std::runtime_error naming the file for a
// missing file or section; EReadError for an unknown property or a value that does not fit.
void ReadOptionsFile(const std::string &FileName, const std::string &Section,
                     archives::TArchiverOptions &Options);

// Writes Options into Section of FileName (other sections and lines of the file are kept; keys of
// the section that Options does not write are removed). A new file starts with a comment on the
// form. platform::EProfileWriteError when the file cannot be written.
void WriteOptionsFile(const std::string &FileName, const std::string &Section,
                      const archives::TArchiverOptions &Options);

} // namespace arcfile
