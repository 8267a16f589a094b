#include "formats/PrefixArchiver.h"

#include "platform/Paths.h"

namespace formats {

using archives::TArchiverDll;

void TPrefixBinding::Load() const {
    if (Dll)
        return;
    Dll = std::make_unique<TArchiverDll>(FormatName, DllName, Prefix);
    Dll->LoadDLL();
}

void TPrefixBinding::Free() const {
    Dll.reset();
}

TArchiverDll &TPrefixBinding::Get() const {
    if (!Dll)
        Dll = std::make_unique<TArchiverDll>(FormatName, DllName, Prefix);
    return *Dll;
}

TPrefixArchiver::TPrefixArchiver(const archives::TArchiverClass &Class,
                                 const TPrefixBinding &Binding)
    : TArchiver(Class), binding_(Binding) {}

HARC TPrefixArchiver::OpenArchive(HWND Wnd, const std::string &ArchiveName, DWORD Mode) {
    return Dll().OpenArchive(Wnd, platform::ExpandFileName(ArchiveName), Mode);
}

int TPrefixArchiver::FindFirst(HARC Arc, TIndividualInfoEx *Info, const std::string &WildName) {
    return Dll().FindFirst(Arc, WildName, Info);
}

int TPrefixArchiver::FindNext(HARC Arc, TIndividualInfoEx *Info) {
    return Dll().FindNext(Arc, Info);
}

int TPrefixArchiver::CloseArchive(HARC Arc) {
    return Dll().CloseArchive(Arc);
}

int TPrefixArchiver::CheckArchive(const std::string &ArchiveName, int Mode, int Flags) {
    return Dll().CheckArchive(ArchiveName, Mode + Flags);
}

bool TPrefixArchiver::SetOwnerWindow(HWND Wnd, void *ArcProc) {
    TArchiver::SetOwnerWindow(Wnd, ArcProc);
    return Dll().SetOwnerWindowEx(Wnd, ArcProc) != 0;
}

bool TPrefixArchiver::KillOwnerWindow(HWND Wnd) {
    const bool ok = Dll().KillOwnerWindowEx(Wnd) != 0;
    TArchiver::KillOwnerWindow(Wnd);
    return ok;
}

int TPrefixArchiver::Execute(const TPrefixBinding &Binding, HWND Wnd,
                             const std::string &CommandLine, std::string &Output) {
    return Binding.Get().Command(Wnd, CommandLine, Output.empty() ? nullptr : Output.data(),
                                 static_cast<DWORD>(Output.size()));
}

int TPrefixArchiver::ExecuteMem(const TPrefixBinding &Binding, HWND Wnd,
                                const std::string &CommandLine, void *Buffer, DWORD BufferSize,
                                DWORD *WrittenSize) {
    return Binding.Get().ExtractMem(Wnd, CommandLine, static_cast<unsigned char *>(Buffer),
                                    BufferSize, nullptr, nullptr, WrittenSize);
}

bool PrefixProbe(const TPrefixBinding &Binding, const std::string &FileName,
                 const std::function<bool(TArchiverDll &, const std::string &)> &Ask) noexcept {
    try {
        Binding.Load();
        return Ask(Binding.Get(), platform::ExpandFileName(FileName));
    } catch (...) {
        return false;
    }
}

} // namespace formats
