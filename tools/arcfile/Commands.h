// Runs one arcfile invocation against the archive component and gives the exit status:
// 0 success, 1 the library reported an error (its code and output printed), 2 bad usage or an
// error of the component (its message printed), 130 cancelled.
#pragma once

#include "tools/arcfile/Cli.h"

#include <cstdio>
#include <string>
#include <vector>

namespace arcfile {

enum TExitStatus { exOk = 0, exLibrary = 1, exUsage = 2, exCancelled = 130 };

// Parses Args (argv without the program name) and runs the command; Out receives the command's
// data (listings, entry bytes), Err messages and the progress line (drawn only when ErrIsTty).
int Main(const std::vector<std::string> &Args, std::FILE *Out, std::FILE *Err, bool ErrIsTty);

// Text as a JSON string literal, quotes included. Bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string &Text);
bool IsValidUtf8(const std::string &Text);

} // namespace arcfile
