// The scriptable fake archiver library. Built once per library name and variant; the build defines
// FAKE_LIBRARY, FAKE_VARIANT and one FAKE_ENTRY_<SLOT> per exported entry (its exported name), so
// an entry a variant lacks is simply not defined. All behaviour lives in the shared control library
// (FakeControl.cpp); this file only forwards the C calls to it and keeps exceptions out of C.
#include "FakeControl.h"

#define FAKE_STR2(x) #x
#define FAKE_STR(x) FAKE_STR2(x)
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const fake::detail::Origin kOrigin{FAKE_LIBRARY, FAKE_VARIANT};

template <class R, class F> R Guard(R failure, F f) noexcept {
    try {
        return f();
    } catch (...) {
        return failure;
    }
}

constexpr int kFailure = -1;

__attribute__((constructor)) void OnLoad() {
    Guard(0, [] {
        fake::detail::Attach(kOrigin);
        return 0;
    });
}

__attribute__((destructor)) void OnUnload() {
    Guard(0, [] {
        fake::detail::Detach(kOrigin);
        return 0;
    });
}

} // namespace

#define FAKE_COMMAND_ENTRY(NAME)                                                                   \
    FAKE_EXPORT int NAME(HWND wnd, const char *cmd, char *out, DWORD size) {                       \
        return Guard(kFailure, [&] {                                                               \
            return fake::detail::Command(kOrigin, FAKE_STR(NAME), wnd, cmd, out, size);            \
        });                                                                                        \
    }

#ifdef FAKE_ENTRY_COMMAND
FAKE_COMMAND_ENTRY(FAKE_ENTRY_COMMAND)
#endif
#ifdef FAKE_ENTRY_ZIP
FAKE_COMMAND_ENTRY(FAKE_ENTRY_ZIP)
#endif
#ifdef FAKE_ENTRY_UNZIP
FAKE_COMMAND_ENTRY(FAKE_ENTRY_UNZIP)
#endif

#ifdef FAKE_ENTRY_OPENARCHIVE
FAKE_EXPORT HARC FAKE_ENTRY_OPENARCHIVE(HWND wnd, const char *archive, DWORD mode) {
    return Guard(HARC{}, [&] {
        return fake::detail::OpenArchive(kOrigin, FAKE_STR(FAKE_ENTRY_OPENARCHIVE), wnd, archive,
                                         mode);
    });
}
#endif

#ifdef FAKE_ENTRY_CLOSEARCHIVE
FAKE_EXPORT int FAKE_ENTRY_CLOSEARCHIVE(HARC arc) {
    return Guard(kFailure, [&] {
        return fake::detail::CloseArchive(kOrigin, FAKE_STR(FAKE_ENTRY_CLOSEARCHIVE), arc);
    });
}
#endif

#ifdef FAKE_ENTRY_FINDFIRST
FAKE_EXPORT int FAKE_ENTRY_FINDFIRST(HARC arc, const char *wild, INDIVIDUALINFO *info) {
    return Guard(kFailure, [&] {
        return fake::detail::FindFirst(kOrigin, FAKE_STR(FAKE_ENTRY_FINDFIRST), arc, wild, info);
    });
}
#endif

#ifdef FAKE_ENTRY_FINDNEXT
FAKE_EXPORT int FAKE_ENTRY_FINDNEXT(HARC arc, INDIVIDUALINFO *info) {
    return Guard(kFailure, [&] {
        return fake::detail::FindNext(kOrigin, FAKE_STR(FAKE_ENTRY_FINDNEXT), arc, info);
    });
}
#endif

#ifdef FAKE_ENTRY_CHECKARCHIVE
FAKE_EXPORT BOOL FAKE_ENTRY_CHECKARCHIVE(const char *archive, int mode) {
    return Guard(BOOL{0}, [&] {
        return fake::detail::CheckArchive(kOrigin, FAKE_STR(FAKE_ENTRY_CHECKARCHIVE), archive,
                                          mode);
    });
}
#endif

#ifdef FAKE_ENTRY_SETOWNERWINDOWEX
FAKE_EXPORT BOOL FAKE_ENTRY_SETOWNERWINDOWEX(HWND wnd, void *callback) {
    return Guard(BOOL{0}, [&] {
        return fake::detail::SetOwnerWindowEx(kOrigin, FAKE_STR(FAKE_ENTRY_SETOWNERWINDOWEX), wnd,
                                              callback);
    });
}
#endif

#ifdef FAKE_ENTRY_KILLOWNERWINDOWEX
FAKE_EXPORT BOOL FAKE_ENTRY_KILLOWNERWINDOWEX(HWND wnd) {
    return Guard(BOOL{0}, [&] {
        return fake::detail::KillOwnerWindowEx(kOrigin, FAKE_STR(FAKE_ENTRY_KILLOWNERWINDOWEX),
                                               wnd);
    });
}
#endif

#ifdef FAKE_ENTRY_EXTRACTMEM
FAKE_EXPORT int FAKE_ENTRY_EXTRACTMEM(HWND wnd, const char *cmd, unsigned char *buffer, DWORD size,
                                      void *time, WORD *attr, DWORD *written) {
    return Guard(kFailure, [&] {
        return fake::detail::ExtractMem(kOrigin, FAKE_STR(FAKE_ENTRY_EXTRACTMEM), wnd, cmd, buffer,
                                        size, time, attr, written);
    });
}
#endif

#define FAKE_TIME_ENTRY(NAME, KIND)                                                                \
    FAKE_EXPORT BOOL NAME(HARC arc, ARC_FILETIME *time) {                                          \
        return Guard(BOOL{0}, [&] {                                                                \
            return fake::detail::GetTime(kOrigin, FAKE_STR(NAME), arc, time,                       \
                                         fake::detail::TimeKind::KIND);                            \
        });                                                                                        \
    }
#define FAKE_SIZE_ENTRY(NAME, KIND)                                                                \
    FAKE_EXPORT BOOL NAME(HARC arc, int64_t *size) {                                               \
        return Guard(BOOL{0}, [&] {                                                                \
            return fake::detail::GetSize(kOrigin, FAKE_STR(NAME), arc, size,                       \
                                         fake::detail::SizeKind::KIND);                            \
        });                                                                                        \
    }

#ifdef FAKE_ENTRY_GETWRITETIMEEX
FAKE_TIME_ENTRY(FAKE_ENTRY_GETWRITETIMEEX, Write)
#endif
#ifdef FAKE_ENTRY_GETCREATETIMEEX
FAKE_TIME_ENTRY(FAKE_ENTRY_GETCREATETIMEEX, Create)
#endif
#ifdef FAKE_ENTRY_GETACCESSTIMEEX
FAKE_TIME_ENTRY(FAKE_ENTRY_GETACCESSTIMEEX, Access)
#endif
#ifdef FAKE_ENTRY_GETORIGINALSIZEEX
FAKE_SIZE_ENTRY(FAKE_ENTRY_GETORIGINALSIZEEX, Original)
#endif
#ifdef FAKE_ENTRY_GETCOMPRESSEDSIZEEX
FAKE_SIZE_ENTRY(FAKE_ENTRY_GETCOMPRESSEDSIZEEX, Compressed)
#endif

#ifdef FAKE_ENTRY_GETARCHIVETYPE
FAKE_EXPORT int FAKE_ENTRY_GETARCHIVETYPE(const char *archive) {
    return Guard(kFailure, [&] {
        return fake::detail::GetArchiveType(kOrigin, FAKE_STR(FAKE_ENTRY_GETARCHIVETYPE), archive);
    });
}
#endif

#ifdef FAKE_ENTRY_SETDEFAULTPASSWORD
FAKE_EXPORT int FAKE_ENTRY_SETDEFAULTPASSWORD(HARC arc, const char *password) {
    return Guard(kFailure, [&] {
        return fake::detail::SetDefaultPassword(kOrigin, FAKE_STR(FAKE_ENTRY_SETDEFAULTPASSWORD),
                                                arc, password);
    });
}
#endif

#ifdef FAKE_ENTRY_PASSWORDDIALOG
FAKE_EXPORT int FAKE_ENTRY_PASSWORDDIALOG(HWND wnd, char *buffer, DWORD size) {
    return Guard(kFailure, [&] {
        return fake::detail::PasswordDialog(kOrigin, FAKE_STR(FAKE_ENTRY_PASSWORDDIALOG), wnd,
                                            buffer, size);
    });
}
#endif
