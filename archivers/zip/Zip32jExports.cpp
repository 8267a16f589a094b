// ZIP32J: the writing side of ZIP (pack, update, freshen, delete, self-extractor offsets). It also
// answers the listing, check and memory-extraction entries, so that it serves alone too.
#include "archivers/zip/ZipExports.h"

#include <dlfcn.h>

ZIP_DEFINE_SHARED_EXPORTS()

namespace {

// Progress goes to the window given to the call, else to one registered here, else to the one
// registered with UNZIP32 when that library is loaded in this process (never loaded for this).
HWND ProgressWindow(HWND hwnd) {
    if (hwnd || arclib::OwnerWindows::Current())
        return hwnd;
    void *lib = ::dlopen("libunzip32.so", RTLD_LAZY | RTLD_NOLOAD);
    if (!lib)
        return nullptr;
    HWND owner = nullptr;
    if (void *sym = ::dlsym(lib, "UnZipCurrentOwnerWindow"))
        owner = reinterpret_cast<HWND (*)()>(sym)();
    ::dlclose(lib);
    return owner;
}

} // namespace

ZIP_EXPORT int Zip(HWND hwnd, const char *cmdLine, char *output, DWORD size) {
    arclib::OutputBuffer out(output, size);
    return arclib::GuardCode(&out, [&] {
        arclib::Progress progress(ProgressWindow(hwnd));
        return zipar::RunZip(cmdLine ? cmdLine : "", progress, out);
    });
}
