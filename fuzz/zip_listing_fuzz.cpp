// libFuzzer target: arbitrary bytes as a zip archive through UNZIP32's listing (its own
// central directory reader and libarchive) and memory extraction.
#include "ListingFuzz.h"

extern "C" {
HARC UnZipOpenArchive(HWND, const char *, DWORD);
int UnZipCloseArchive(HARC);
int UnZipFindFirst(HARC, const char *, INDIVIDUALINFO *);
int UnZipFindNext(HARC, INDIVIDUALINFO *);
BOOL UnzipGetWriteTimeEx(HARC, ARC_FILETIME *);
BOOL UnZipGetOriginalSizeEx(HARC, int64_t *);
BOOL UnZipGetCompressedSizeEx(HARC, int64_t *);
int UnZipExtractMem(HWND, const char *, unsigned char *, DWORD, void *, WORD *, DWORD *);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using fuzzsupport::Quoted;
    static const fuzzsupport::ListingEntries lib = {
        UnZipOpenArchive,
        UnZipCloseArchive,
        UnZipFindFirst,
        UnZipFindNext,
        UnzipGetWriteTimeEx,
        UnZipGetOriginalSizeEx,
        UnZipGetCompressedSizeEx,
        UnZipExtractMem,
        [](const std::string &a, const std::string &n) { return Quoted(a) + " " + Quoted(n); }};
    return fuzzsupport::RunListing(lib, "input.zip", data, size);
}
