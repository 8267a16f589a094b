// arcfile: the archive component on the command line.
#include "tools/arcfile/Commands.h"

#include <unistd.h>

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return arcfile::Main(args, stdout, stderr, ::isatty(STDERR_FILENO) == 1);
}
