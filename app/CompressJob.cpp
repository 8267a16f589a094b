#include "app/CompressJob.h"

#include "archives/Exceptions.h"

// The archive component is not part of this build yet. Raising (rather than returning a code)
// keeps the dialog from touching the source or the destination.
int CompressFile(const std::string &Source, const std::string &Dest) {
    throw archives::EArchiver("Compression is not available in this build: cannot compress " +
                              Source + " to " + Dest + ".");
}
