// libFuzzer target: arbitrary bytes as a tar archive (plain, gzip, bzip2, xz, compress; cpio and ar
// too) through TAR32's listing and memory extraction.
#include "ListingFuzz.h"

extern "C" {
HARC TarOpenArchive(HWND, const char *, DWORD);
int TarCloseArchive(HARC);
int TarFindFirst(HARC, const char *, INDIVIDUALINFO *);
int TarFindNext(HARC, INDIVIDUALINFO *);
BOOL TarGetWriteTimeEx(HARC, ARC_FILETIME *);
BOOL TarGetOriginalSizeEx(HARC, int64_t *);
BOOL TarGetCompressedSizeEx(HARC, int64_t *);
int TarExtractMem(HWND, const char *, unsigned char *, DWORD, void *, WORD *, DWORD *);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using fuzzsupport::Quoted;
    static const fuzzsupport::ListingEntries lib = {TarOpenArchive,
                                                    TarCloseArchive,
                                                    TarFindFirst,
                                                    TarFindNext,
                                                    TarGetWriteTimeEx,
                                                    TarGetOriginalSizeEx,
                                                    TarGetCompressedSizeEx,
                                                    TarExtractMem,
                                                    [](const std::string &a, const std::string &n) {
                                                        return "-f " + Quoted(a) + " " + Quoted(n);
                                                    }};
    return fuzzsupport::RunListing(lib, "input.tar", data, size);
}
