// The compress job of the dialog: packs Source into a new archive Dest through the archive
// component (the format follows from Dest's extension) and returns the component's result code
// (0 is success). An existing Dest is replaced only by a new archive: when the job makes none, or
// raises, the old file stays. Errors of the component (no format, a missing library) are raised.
#pragma once

#include <string>

int CompressFile(const std::string &Source, const std::string &Dest);
