// The compress job of the dialog: packs exactly the one file Source (its name taken literally,
// whatever characters it holds) into a new archive Dest through the archive component. The
// archive is made under a temporary name in Dest's folder that keeps Dest's extension, so the
// format is the one Dest names, and is renamed over Dest only when it is complete and the source is
// still the file it was when the job began. Dest is never deleted first: a job that makes no
// archive leaves it as it was. Returns the component's result (0 is success, library codes
// unchanged), or -1 when the job itself refused or failed (Why says why; for a library code, Why
// carries the code and the library's text). Errors of the component (no format, a missing library)
// are raised.
#pragma once

#include <string>

int CompressFile(const std::string &Source, const std::string &Dest);
int CompressFile(const std::string &Source, const std::string &Dest, std::string &Why);
