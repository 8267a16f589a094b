// TArchiveFile: the component through which an application works with one archive file. It holds
// the archive's name, picks the format from the name's extension or, when the extension says
// nothing, from the file's content, keeps one format back-end for that format, owns a switch
// record and an output buffer, and runs archive operations through the back-end. Library progress
// arrives on a hidden window object of the component and is passed to OnProgress, which may stop
// the run.
#pragma once

#include "archiver_api.h"
#include "archives/Archiver.h"
#include "archives/ArchiverOptions.h"
#include "archives/ArchiverType.h"
#include "archives/FileArgs.h"
#include "archives/MessageWindow.h"
#include "archives/StoredProperties.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class ProfileFile;
}

namespace archives {

class TArchiveFile;

// State is the progress message's first parameter ("wm_arcextract" states, or 2053 for a file the
// component collected), lpEis its record; setting Abort asks to stop.
using TArchiverProgressEvent =
    std::function<void(TArchiveFile &Sender, int State, EXTRACTINGINFOEX *lpEis, bool &Abort)>;

// The format of FileName: by its extension (ByExtension true; ".exe" falls through to the
// content), or by asking every content probe in turn, a later probe overruling an earlier one.
// atNone when nothing claims it. Never raises.
TArchiverType GetArchiverType(const std::string &FileName, bool ByExtension);

// While a component is read from stored settings (csReading) or edited in a designer
// (csDesigning), setting the type only stores it.
enum TComponentStateFlag : unsigned { csReading = 1u << 0, csDesigning = 1u << 1 };

class TArchiveFile {
public:
    // Owner is kept for the caller's bookkeeping only; the component frees itself.
    explicit TArchiveFile(void *Owner = nullptr);
    ~TArchiveFile();
    TArchiveFile(const TArchiveFile &) = delete;
    TArchiveFile &operator=(const TArchiveFile &) = delete;

    void *Owner() const { return owner_; }
    unsigned ComponentState = 0;

    TArchiverType ArchiverType() const { return archiverType_; }
    // Creates the back-end of a format anew (ENoArchiverDLL when its library is missing; nothing
    // changes then); atAutoDetect keeps the back-end; atNone changes nothing; a format without a
    // back-end raises "書庫の形式を特定できませんでした。".
    void SetArchiverType(TArchiverType Value);

    const std::string &FileName() const { return fileName_; }
    // Selects the format named by the extension (a name whose extension names none keeps the
    // current type and back-end), then stores the name; not stored when the selection raises.
    void SetFileName(const std::string &Value);

    TArchiverOptions &Options() { return *options_; }
    const TArchiverOptions &Options() const { return *options_; }

    // The last command line the back-end built, copied after each operation.
    const std::string &CommandLine() const { return commandLine_; }

    // The buffer the library writes its text into; its length is OutputSize.
    std::string &Output() { return output_; }
    const std::string &Output() const { return output_; }
    int OutputSize() const { return static_cast<int>(output_.size()); }
    // A positive size gives a buffer whose first character is NUL (it reads as empty text).
    void SetOutputSize(int Value);
    // The library's text: Output up to its first NUL.
    std::string OutputText() const;

    TArchiverProgressEvent OnProgress;

    // The current back-end, or null.
    TArchiver *Archiver() const { return archiver_.get(); }
    // The hidden progress window, null until the first operation with an OnProgress handler.
    HWND ProgressWindow() const { return window_ ? window_->Handle() : nullptr; }

    // Packs Files (relative to BaseDir, which may be empty) into FileName. Options, when given,
    // replaces the component's own for this call. With PackFilter pfComponent the component
    // collects the files itself on a private copy of the options (the caller's record stays as it
    // was); nothing to pack gives 0 without a library call, and an abort from OnProgress while
    // collecting gives 32800. Otherwise the library's result, unchanged.
    int PackFiles(HWND Wnd, TArchiverOptions *Options, const std::string &BaseDir,
                  const TFileArgs &Files);

    // The other operations of the back-ends. Each resolves the format as PackFiles does, hands
    // Files to the library as they are, and returns the library's result unchanged; a format
    // that lacks the operation raises its EArchiver.
    int ExtractFiles(HWND Wnd, TArchiverOptions *Options, const std::string &DestDir,
                     const TFileArgs &Files);
    int DeleteFiles(HWND Wnd, TArchiverOptions *Options, const std::string &BaseDir,
                    const TFileArgs &Files);
    int UpdateFiles(HWND Wnd, TArchiverOptions *Options, const std::string &BaseDir,
                    const TFileArgs &Files);
    int MakeSfx(HWND Wnd, TArchiverOptions *Options, const std::string &DestDir);
    int ExtractMem(HWND Wnd, TArchiverOptions *Options, const std::string &EntryName, void *Buffer,
                   DWORD BufferSize, DWORD *WrittenSize);
    // The library's check: non-zero for a sound archive.
    int CheckArchive(int Mode, int Flags);
    // The entries whose names match WildName ("*" for all), as the library lists them. Raises
    // EArchiver when the archive cannot be opened; a listing error other than the end of the
    // list is returned, with the entries read before it in Entries.
    int ListEntries(HWND Wnd, const std::string &WildName, std::vector<TIndividualInfoEx> &Entries);

    // The published properties kept with a form, in declaration order, those holding their
    // stored defaults left out: ArchiverType (default atAutoDetect, as its identifier), the
    // switch record's as "Options." + its names (with its own defaults), FileName (default the
    // unset string, as a string literal) and OutputSize (default 0). OnProgress is not stored.
    void WriteProperties(TPropertyValues &Out) const;
    TPropertyValues WriteProperties() const;
    // Reads them back as a form is read: marked csReading meanwhile (a stored atGCA is kept),
    // every property first back to its default, then each through its setter in the order
    // stored (FileName selects by its extension, as setting it does). EReadError for an
    // unknown property or a value that does not fit; ENoArchiverDLL as the setters raise it.
    void ReadProperties(const TPropertyValues &In);
    // The same, as the keys of one section of a profile (INI) file; writing replaces the
    // section. platform::EProfileWriteError when the file cannot be written.
    void WriteProperties(platform::ProfileFile &Ini, std::string_view Section) const;
    void ReadProperties(const platform::ProfileFile &Ini, std::string_view Section);

    // Calls OnProgress when one is assigned. The file list builder reports through it too.
    void DoProgress(int State, EXTRACTINGINFOEX *lpEis, bool &Abort);

private:
    TArchiver &Resolve();
    TArchiverOptions &OptionsFor(TArchiverOptions *Options) {
        return Options ? *Options : *options_;
    }
    // Runs one library operation between the start and the end of progress reporting, and
    // copies the back-end's command line afterwards, also when the operation raises.
    template <class F> int Run(TArchiver &Arc, F &&Operation);
    int PackStep(TArchiver &Arc, HWND Wnd, TArchiverOptions &Options, const std::string &BaseDir,
                 const TFileArgs &Files);
    void StartProgress(TArchiver &Arc);
    void EndProgress(TArchiver &Arc);
    LRESULT WindowProc(UINT Msg, WPARAM wParam, LPARAM lParam);

    void *owner_;
    TArchiverType archiverType_ = atAutoDetect;
    std::unique_ptr<TArchiver> archiver_;
    std::unique_ptr<TArchiverOptions> options_;
    std::string fileName_;
    std::string commandLine_;
    std::string output_;
    std::unique_ptr<TMessageWindow> window_;
    // An exception out of OnProgress while a library runs: it cannot cross the library, so the
    // window answers "stop" and the exception is raised again once the library has returned.
    std::exception_ptr progressError_;
};

} // namespace archives
