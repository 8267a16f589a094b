// The compress job of the dialog: packs Source into a new archive Dest through the archive
// component and returns the component's result code (0 is success).
#pragma once

#include <string>

int CompressFile(const std::string &Source, const std::string &Dest);
