// libFuzzer target: the zip central directory reader of our own (end record, Zip64 records,
// extra fields, names), and the offset repair for zip files behind a self-extractor stub.
// ArcError is the only clean failure; the method text must fit the find record's 8 bytes.
#include "FuzzSupport.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/zip/ZipDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path =
        fuzzsupport::Scratch::Get().Put("input.zip", fuzzsupport::AsText(data, size));
    try {
        for (const zipar::ZipDirEntry &e : zipar::ReadZipDirectory(path)) {
            e.IsDirectory();
            e.IsSymlink();
            e.UnixMode();
            e.ModificationTime();
            // A decoded name is the system's text: decoding it again changes nothing.
            if (zipar::DecodeEntryName(e.name, true) != e.name)
                fuzzsupport::Scratch::Fail("a decoded entry name changes when decoded again");
            if (zipar::MethodText(e.method, e.flags).size() > 7)
                fuzzsupport::Scratch::Fail("a method text longer than the record's field");
        }
    } catch (const arclib::ArcError &) {
    }
    try {
        if (zipar::AdjustSelfExtractorOffsets(path) > 0)
            zipar::ReadZipDirectory(path);
    } catch (const arclib::ArcError &) {
    }
    return 0;
}
