// libFuzzer target: arbitrary bytes as a 7z archive through 7-zip32's listing and memory
// extraction.
#include "ListingFuzz.h"

extern "C" {
HARC SevenZipOpenArchive(HWND, const char *, DWORD);
int SevenZipCloseArchive(HARC);
int SevenZipFindFirst(HARC, const char *, INDIVIDUALINFO *);
int SevenZipFindNext(HARC, INDIVIDUALINFO *);
BOOL SevenZipGetWriteTimeEx(HARC, ARC_FILETIME *);
BOOL SevenZipGetOriginalSizeEx(HARC, int64_t *);
BOOL SevenZipGetCompressedSizeEx(HARC, int64_t *);
int SevenZipExtractMem(HWND, const char *, unsigned char *, DWORD, void *, WORD *, DWORD *);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using fuzzsupport::Quoted;
    static const fuzzsupport::ListingEntries lib = {SevenZipOpenArchive,
                                                    SevenZipCloseArchive,
                                                    SevenZipFindFirst,
                                                    SevenZipFindNext,
                                                    SevenZipGetWriteTimeEx,
                                                    SevenZipGetOriginalSizeEx,
                                                    SevenZipGetCompressedSizeEx,
                                                    SevenZipExtractMem,
                                                    [](const std::string &a, const std::string &n) {
                                                        return "x " + Quoted(a) + " " + Quoted(n);
                                                    }};
    return fuzzsupport::RunListing(lib, "input.7z", data, size);
}
