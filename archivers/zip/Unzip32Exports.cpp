// UNZIP32: the reading side of ZIP (extract, test, list, check, memory extraction), and the owner
// window that the component registers for progress of both ZIP libraries.
#include "archivers/zip/ZipExports.h"

ZIP_DEFINE_SHARED_EXPORTS()

ZIP_EXPORT int UnZip(HWND hwnd, const char *cmdLine, char *output, DWORD size) {
    arclib::OutputBuffer out(output, size);
    return arclib::GuardCode(&out, [&] {
        arclib::Progress progress(hwnd);
        return zipar::RunUnzip(cmdLine ? cmdLine : "", progress, out);
    });
}

// The owner window registered here, for ZIP32J: the component registers its progress window only
// with this library, while packing runs in the other one.
ZIP_EXPORT HWND UnZipCurrentOwnerWindow() {
    return arclib::OwnerWindows::Current();
}
