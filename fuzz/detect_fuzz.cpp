// libFuzzer target: the component's content detection, every probe of the format table asked
// about arbitrary file content (the probes load the archiver libraries built beside this
// program). A probe never raises: any exception, crash or leak is a finding.
#include "FuzzSupport.h"
#include "archives/ArchiverFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // No extension, so that no probe can lean on the name.
    const std::string path =
        fuzzsupport::Scratch::Get().Put("input", fuzzsupport::AsText(data, size));
    try {
        for (const archives::TArchiverFormat &row : archives::ArchiverFormats())
            if (row.Probe)
                row.Probe(path);
        archives::DetectArchiverType(path);
    } catch (...) {
        fuzzsupport::Scratch::Fail("a content probe raised");
    }
    return 0;
}
