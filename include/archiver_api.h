/* The C interface of the archiver libraries: entry-point types, the find and progress records, and
   the window-object convention the libraries use to send "wm_arcextract" progress to their owner.
   Shared by the component and by every archiver library; usable from C and C++. */
#ifndef QUORVEL_ARCHIVER_API_H
#define QUORVEL_ARCHIVER_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void *HWND;    /* an ArcWindow, or null */
typedef void *HARC;    /* archive handle of OpenArchive; null is failure */
typedef void *HMODULE; /* loaded library */

#define FNAME_MAX32 512

/* Windows file time: 100 ns units since 1601-01-01 UTC, as two 32-bit words. */
typedef struct ARC_FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} ARC_FILETIME;

#pragma pack(push, 1)
/* Find record filled by FindFirst/FindNext (558 bytes). */
typedef struct INDIVIDUALINFO {
    DWORD dwOriginalSize;             /* 0 */
    DWORD dwCompressedSize;           /* 4 */
    DWORD dwCRC;                      /* 8 */
    UINT uFlag;                       /* 12 */
    UINT uOSType;                     /* 16 */
    WORD wRatio;                      /* 20, per mille */
    WORD wDate;                       /* 22, DOS date */
    WORD wTime;                       /* 24, DOS time */
    char szFileName[FNAME_MAX32 + 1]; /* 26 */
    char dummy1[3];                   /* 539 */
    char szAttribute[8];              /* 542 */
    char szMode[8];                   /* 550, method such as "-lh5-" */
} INDIVIDUALINFO;

/* The find record the component hands to FindFirst/FindNext (598 bytes): the library fills the
   first 558 bytes exactly as INDIVIDUALINFO; the component completes the times and 64-bit sizes
   from the optional getters, or from the DOS date/time and 32-bit sizes when a getter is absent. */
typedef struct TIndividualInfoEx {
    DWORD dwOriginalSize;             /* 0 */
    DWORD dwCompressedSize;           /* 4 */
    DWORD dwCRC;                      /* 8 */
    UINT uFlag;                       /* 12 */
    UINT uOSType;                     /* 16 */
    WORD wRatio;                      /* 20 */
    WORD wDate;                       /* 22 */
    WORD wTime;                       /* 24 */
    char szFileName[FNAME_MAX32 + 1]; /* 26 */
    char dummy1[3];                   /* 539 */
    char szAttribute[8];              /* 542 */
    char szMode[8];                   /* 550 */
    ARC_FILETIME LastWriteTime;       /* 558 */
    ARC_FILETIME LastAccessTime;      /* 566 */
    ARC_FILETIME CreationTime;        /* 574 */
    int64_t OriginalSize;             /* 582 */
    int64_t CompressedSize;           /* 590 */
} TIndividualInfoEx;

/* Second parameter of the "wm_arcextract" progress message (1074 bytes). */
typedef struct EXTRACTINGINFOEX {
    DWORD dwFileSize;                       /* 0 */
    DWORD dwWriteSize;                      /* 4 */
    char szSourceFileName[FNAME_MAX32 + 1]; /* 8 */
    char dummy1[3];                         /* 521 */
    char szDestFileName[FNAME_MAX32 + 1];   /* 524 */
    char dummy2[3];                         /* 1037 */
    DWORD dwCompressedSize;                 /* 1040 */
    DWORD dwCRC;                            /* 1044 */
    UINT uOSType;                           /* 1048 */
    WORD wRatio;                            /* 1052 */
    WORD wDate;                             /* 1054 */
    WORD wTime;                             /* 1056 */
    char szAttribute[8];                    /* 1058 */
    char szMode[8];                         /* 1066 */
} EXTRACTINGINFOEX;
#pragma pack(pop)

/* Progress states sent with "wm_arcextract" (first message parameter). */
enum {
    ARCEXTRACT_BEGIN = 0,     /* an entry begins */
    ARCEXTRACT_INPROCESS = 1, /* an entry is in progress */
    ARCEXTRACT_END = 2,       /* an entry ends */
    ARCEXTRACT_OPEN = 3,      /* the archive is opened */
    ARCEXTRACT_COPY = 4,      /* an entry is copied while an archive is rewritten */
    ARCEXTRACT_COLLECT = 2053 /* the component's own file-collection report */
};

/* Result codes every library shares. */
enum {
    ARC_OK = 0,
    ARC_ERROR_PASSWORD_FILE = 32778, /* a password is needed */
    ARC_ERROR_USER_CANCEL = 32800    /* the owner window asked to stop */
};

/* Entry points, C calling convention. The main command entry is the library's prefix alone. */
typedef int (*ArcCommandProc)(HWND hwnd, const char *cmdLine, char *output, DWORD size);
typedef HARC (*ArcOpenArchiveProc)(HWND hwnd, const char *archive, DWORD mode);
typedef int (*ArcCloseArchiveProc)(HARC harc);
typedef int (*ArcFindFirstProc)(HARC harc, const char *wildName, INDIVIDUALINFO *info);
typedef int (*ArcFindNextProc)(HARC harc, INDIVIDUALINFO *info);
typedef BOOL (*ArcCheckArchiveProc)(const char *archive, int mode);
typedef BOOL (*ArcSetOwnerWindowExProc)(HWND hwnd, void *callback);
typedef BOOL (*ArcKillOwnerWindowExProc)(HWND hwnd);
typedef int (*ArcExtractMemProc)(HWND hwnd, const char *cmdLine, unsigned char *buffer, DWORD size,
                                 void *time, WORD *attr, DWORD *written);
typedef BOOL (*ArcGetTimeExProc)(HARC harc, ARC_FILETIME *time);
typedef BOOL (*ArcGetSizeExProc)(HARC harc, int64_t *size);
typedef int (*ArcGetArchiveTypeProc)(const char *archive);
typedef int (*ArcSetDefaultPasswordProc)(HARC harc, const char *password);
typedef int (*ArcPasswordDialogProc)(HWND hwnd, char *buffer, DWORD size);

/* Window objects. A window handle points at an object whose first member is its window procedure;
   sending a message calls that procedure on the caller's thread. Registered message numbers are
   derived from the name alone (case-insensitive, 0xC000..0xFFFF), so every module of the process
   agrees on them without linking to the program. */
typedef LRESULT (*ArcWindowProc)(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
typedef struct ArcWindow {
    ArcWindowProc proc;
} ArcWindow;

#define ARC_WM_ARCEXTRACT_NAME "wm_arcextract"

static inline UINT ArcRegisterWindowMessage(const char *name) {
    uint32_t h = 2166136261u; /* FNV-1a over the lower-cased name */
    for (; name && *name; ++name) {
        unsigned char c = (unsigned char)*name;
        if (c >= 'A' && c <= 'Z')
            c = (unsigned char)(c - 'A' + 'a');
        h = (h ^ c) * 16777619u;
    }
    return 0xC000u + (h % 0x4000u);
}

static inline LRESULT ArcSendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!hwnd || !((ArcWindow *)hwnd)->proc)
        return 0;
    return ((ArcWindow *)hwnd)->proc(hwnd, msg, wParam, lParam);
}

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(INDIVIDUALINFO) == 558, "INDIVIDUALINFO is 558 bytes");
static_assert(offsetof(INDIVIDUALINFO, wDate) == 22 && offsetof(INDIVIDUALINFO, wTime) == 24);
static_assert(offsetof(INDIVIDUALINFO, szFileName) == 26 &&
              offsetof(INDIVIDUALINFO, dummy1) == 539);
static_assert(offsetof(INDIVIDUALINFO, szAttribute) == 542 &&
              offsetof(INDIVIDUALINFO, szMode) == 550);
static_assert(sizeof(TIndividualInfoEx) == 598, "TIndividualInfoEx is 598 bytes");
static_assert(offsetof(TIndividualInfoEx, wDate) == offsetof(INDIVIDUALINFO, wDate) &&
              offsetof(TIndividualInfoEx, wTime) == offsetof(INDIVIDUALINFO, wTime) &&
              offsetof(TIndividualInfoEx, szFileName) == offsetof(INDIVIDUALINFO, szFileName) &&
              offsetof(TIndividualInfoEx, szAttribute) == offsetof(INDIVIDUALINFO, szAttribute) &&
              offsetof(TIndividualInfoEx, szMode) == offsetof(INDIVIDUALINFO, szMode));
static_assert(offsetof(TIndividualInfoEx, LastWriteTime) == 558 &&
              offsetof(TIndividualInfoEx, LastAccessTime) == 566 &&
              offsetof(TIndividualInfoEx, CreationTime) == 574);
static_assert(offsetof(TIndividualInfoEx, OriginalSize) == 582 &&
              offsetof(TIndividualInfoEx, CompressedSize) == 590);
static_assert(sizeof(EXTRACTINGINFOEX) == 1074, "EXTRACTINGINFOEX is 1074 bytes");
static_assert(offsetof(EXTRACTINGINFOEX, szSourceFileName) == 8);
static_assert(offsetof(EXTRACTINGINFOEX, szDestFileName) == 524);
static_assert(offsetof(EXTRACTINGINFOEX, dwCompressedSize) == 1040);
static_assert(offsetof(EXTRACTINGINFOEX, wDate) == 1054 &&
              offsetof(EXTRACTINGINFOEX, szMode) == 1066);
#else
_Static_assert(sizeof(INDIVIDUALINFO) == 558, "INDIVIDUALINFO is 558 bytes");
_Static_assert(sizeof(EXTRACTINGINFOEX) == 1074, "EXTRACTINGINFOEX is 1074 bytes");
_Static_assert(sizeof(TIndividualInfoEx) == 598, "TIndividualInfoEx is 598 bytes");
#endif

#endif
