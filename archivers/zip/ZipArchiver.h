// The work behind the exported entries of UNZIP32 and ZIP32J. Each function may throw
// arclib::ArcError; the exported wrappers turn that into the result code.
#pragma once

#include "archiver_api.h"
#include "archivers/common/OutputBuffer.h"
#include "archivers/common/Progress.h"

#include <string>

namespace zipar {

// The zip dialect: pack, update (-u), freshen (-f), delete (-d), self-extractor offsets (-A).
int RunZip(const std::string &commandLine, arclib::Progress &progress, arclib::OutputBuffer &out);

// The unzip dialect: extract (-x, or no command word), test (-t).
int RunUnzip(const std::string &commandLine, arclib::Progress &progress, arclib::OutputBuffer &out);

// The unzip dialect with one entry name: its data into buffer.
int RunExtractMem(const std::string &commandLine, unsigned char *buffer, DWORD size, DWORD *written,
                  uint32_t *unixTime, WORD *attributes, arclib::Progress &progress);

// Non-zero for a readable zip file. Modes: the low bits 2 ask for every entry's data and CRC to be
// checked; otherwise the central directory and the headers are checked.
BOOL CheckZip(const std::string &path, int mode);

// A listing handle for OpenArchive, or null.
HARC OpenZip(const std::string &path);

} // namespace zipar
