#include "archives/ArchiveFile.h"

#include "archives/ArchiverFormats.h"
#include "archives/Exceptions.h"
#include "filters/FILTERS.h"
#include "platform/Profile.h"

#include <utility>

namespace archives {

namespace {

const char *const kUndetermined = "書庫の形式を判別できません。";
const char *const kUnidentified = "書庫の形式を特定できませんでした。";

// The process-wide number of "wm_arcextract", obtained on first use.
UINT ArcExtractMessage() {
    static const UINT message = ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME);
    return message;
}

} // namespace

TArchiverType GetArchiverType(const std::string &FileName, bool ByExtension) {
    if (ByExtension) {
        const TArchiverType type = GetArchiverTypeByExtension(FileName);
        if (type != atAutoDetect)
            return type;
    }
    return DetectArchiverType(FileName);
}

TArchiveFile::TArchiveFile(void *Owner)
    : owner_(Owner), options_(std::make_unique<TArchiverOptions>()), fileName_(UnsetString) {}

// The window first: a back-end being freed must not find a window whose component is half gone.
TArchiveFile::~TArchiveFile() {
    window_.reset();
    archiver_.reset();
    options_.reset();
}

void TArchiveFile::SetArchiverType(TArchiverType Value) {
    if (ComponentState & csDesigning) {
        archiverType_ = Value;
        return;
    }
    switch (Value) {
    case atAutoDetect:
        archiverType_ = Value;
        return;
    case atNone:
        return;
    default:
        break;
    }
    const TArchiverFormat *format = FindArchiverFormat(Value);
    if (!format || !format->Create) {
        if (ComponentState & csReading) {
            archiverType_ = Value;
            return;
        }
        throw EArchiver(kUnidentified);
    }
    std::unique_ptr<TArchiver> created = format->Create(); // ENoArchiverDLL leaves all as it was
    archiver_ = std::move(created);
    archiverType_ = Value;
}

void TArchiveFile::SetFileName(const std::string &Value) {
    SetArchiverType(GetArchiverType(Value, true));
    fileName_ = Value;
}

void TArchiveFile::SetOutputSize(int Value) {
    output_.assign(Value > 0 ? static_cast<size_t>(Value) : 0, ' ');
    if (Value > 0)
        output_[0] = '\0';
}

std::string TArchiveFile::OutputText() const {
    return output_.substr(0, output_.find('\0'));
}

namespace {

constexpr std::string_view kOptionsPrefix = "Options.";

TArchiverType ParseArchiverType(const std::string &Value) {
    for (int t = atLha; t <= atAutoDetect; ++t)
        if (Value == ArchiverTypeName(static_cast<TArchiverType>(t)))
            return static_cast<TArchiverType>(t);
    throw EReadError("Invalid property value: ArchiverType = " + Value);
}

int ParseOutputSize(const std::string &Value) {
    size_t used = 0;
    int size = 0;
    try {
        size = std::stoi(Value, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used == 0 || used != Value.size())
        throw EReadError("Invalid property value: OutputSize = " + Value);
    return size;
}

} // namespace

void TArchiveFile::WriteProperties(TPropertyValues &Out) const {
    if (archiverType_ != atAutoDetect)
        Out.emplace_back("ArchiverType", ArchiverTypeName(archiverType_));
    options_->WriteProperties(Out, kOptionsPrefix);
    if (fileName_ != UnsetString)
        Out.emplace_back("FileName", QuoteStringLiteral(fileName_));
    if (OutputSize() != 0)
        Out.emplace_back("OutputSize", std::to_string(OutputSize()));
}

TPropertyValues TArchiveFile::WriteProperties() const {
    TPropertyValues out;
    WriteProperties(out);
    return out;
}

void TArchiveFile::ReadProperties(const TPropertyValues &In) {
    // Every value is checked before anything changes.
    for (const auto &[name, value] : In) {
        if (name == "ArchiverType")
            ParseArchiverType(value);
        else if (name == "FileName")
            ParseStringLiteral(value);
        else if (name == "OutputSize")
            ParseOutputSize(value);
        else if (name.rfind(kOptionsPrefix, 0) != 0)
            throw EReadError("Property " + name + " does not exist");
    }
    TArchiverOptions read;
    read.ReadProperties(In, kOptionsPrefix);

    struct TReading {
        unsigned &State;
        bool Was;
        ~TReading() {
            if (!Was)
                State &= ~csReading;
        }
    } reading{ComponentState, (ComponentState & csReading) != 0};
    ComponentState |= csReading;
    SetArchiverType(atAutoDetect);
    fileName_ = UnsetString;
    SetOutputSize(0);
    options_->Assign(read);
    for (const auto &[name, value] : In) {
        if (name == "ArchiverType")
            SetArchiverType(ParseArchiverType(value));
        else if (name == "FileName")
            SetFileName(ParseStringLiteral(value));
        else if (name == "OutputSize")
            SetOutputSize(ParseOutputSize(value));
    }
}

void TArchiveFile::WriteProperties(platform::ProfileFile &Ini, std::string_view Section) const {
    Ini.WriteSection(Section, WriteProperties());
}

void TArchiveFile::ReadProperties(const platform::ProfileFile &Ini, std::string_view Section) {
    ReadProperties(Ini.ReadSection(Section));
}

void TArchiveFile::DoProgress(int State, EXTRACTINGINFOEX *lpEis, bool &Abort) {
    if (OnProgress)
        OnProgress(*this, State, lpEis, Abort);
}

LRESULT TArchiveFile::WindowProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg != ArcExtractMessage())
        return TMessageWindow::DefWindowProc(nullptr, Msg, wParam, lParam);
    if (progressError_)
        return 1;
    bool abort = false;
    try {
        DoProgress(static_cast<int>(wParam), reinterpret_cast<EXTRACTINGINFOEX *>(lParam), abort);
    } catch (...) {
        progressError_ = std::current_exception();
        return 1;
    }
    return abort ? 1 : 0;
}

void TArchiveFile::StartProgress(TArchiver &Arc) {
    if (!OnProgress)
        return;
    ArcExtractMessage();
    if (!window_)
        window_ = std::make_unique<TMessageWindow>([this](UINT Msg, WPARAM wParam, LPARAM lParam) {
            return WindowProc(Msg, wParam, lParam);
        });
    try {
        Arc.SetOwnerWindow(window_->Handle(), nullptr);
    } catch (...) {
        // Without the registration the operation still runs, only without progress.
    }
}

void TArchiveFile::EndProgress(TArchiver &Arc) {
    if (!OnProgress || !window_)
        return;
    try {
        Arc.KillOwnerWindow(window_->Handle());
    } catch (...) {
    }
}

template <class F> int TArchiveFile::Run(TArchiver &Arc, F &&Operation) {
    progressError_ = nullptr;
    StartProgress(Arc);
    int result = 0;
    try {
        result = Operation();
    } catch (...) {
        commandLine_ = Arc.CommandLine;
        EndProgress(Arc);
        throw;
    }
    commandLine_ = Arc.CommandLine;
    EndProgress(Arc);
    if (progressError_)
        std::rethrow_exception(std::exchange(progressError_, nullptr));
    return result;
}

TArchiver &TArchiveFile::Resolve() {
    if (archiverType_ == atAutoDetect)
        SetArchiverType(GetArchiverType(fileName_, false));
    if (!archiver_)
        throw EArchiver(kUndetermined);
    return *archiver_;
}

int TArchiveFile::PackStep(TArchiver &Arc, HWND Wnd, TArchiverOptions &Options,
                           const std::string &BaseDir, const TFileArgs &Files) {
    const bool useResFile = Options.ResFileUsage.Contains(ruOnPack);
    return Run(Arc, [&] {
        return Arc.Pack(Wnd, fileName_, Options, BaseDir, Files, useResFile, output_);
    });
}

int TArchiveFile::PackFiles(HWND Wnd, TArchiverOptions *Options, const std::string &BaseDir,
                            const TFileArgs &Files) {
    TArchiver &arc = Resolve();
    TArchiverOptions &options = OptionsFor(Options);
    arc.RequireDLL();
    int result = 0;
    if (options.PackFilter == pfArchiver) {
        result = PackStep(arc, Wnd, options, BaseDir, Files);
    } else {
        // The builder writes into the record it is given; the caller's stays untouched.
        TArchiverOptions copy;
        copy.Assign(options);
        bool abort = false;
        TStringList names = filters::ExpandFileList(
            copy, BaseDir,
            [this](int State, EXTRACTINGINFOEX *Info, bool &Abort) {
                DoProgress(State, Info, Abort);
            },
            Files, abort);
        if (abort)
            return ARC_ERROR_USER_CANCEL;
        if (names.Count() > 0) {
            copy.jx.Clear(); // the exclusions were applied while collecting
            result = PackStep(arc, Wnd, copy, BaseDir, TFileArgs{TFileArg(&names)});
        } else if (!output_.empty()) {
            output_[0] = '\0';
        }
    }
    commandLine_ = arc.CommandLine;
    return result;
}

int TArchiveFile::ExtractFiles(HWND Wnd, TArchiverOptions *Options, const std::string &DestDir,
                               const TFileArgs &Files) {
    TArchiver &arc = Resolve();
    TArchiverOptions &options = OptionsFor(Options);
    arc.RequireDLL();
    const bool useResFile = options.ResFileUsage.Contains(ruOnUnpack);
    return Run(arc, [&] {
        return arc.Extract(Wnd, fileName_, options, DestDir, Files, useResFile, output_);
    });
}

int TArchiveFile::DeleteFiles(HWND Wnd, TArchiverOptions *Options, const std::string &BaseDir,
                              const TFileArgs &Files) {
    TArchiver &arc = Resolve();
    TArchiverOptions &options = OptionsFor(Options);
    arc.RequireDLL();
    const bool useResFile = options.ResFileUsage.Contains(ruOnRemoveItem);
    return Run(arc, [&] {
        return arc.Delete(Wnd, fileName_, options, BaseDir, Files, useResFile, output_);
    });
}

int TArchiveFile::UpdateFiles(HWND Wnd, TArchiverOptions *Options, const std::string &BaseDir,
                              const TFileArgs &Files) {
    TArchiver &arc = Resolve();
    TArchiverOptions &options = OptionsFor(Options);
    arc.RequireDLL();
    const bool useResFile = options.ResFileUsage.Contains(ruOnUpdate);
    return Run(arc, [&] {
        return arc.Update(Wnd, fileName_, options, BaseDir, Files, useResFile, output_);
    });
}

int TArchiveFile::MakeSfx(HWND Wnd, TArchiverOptions *Options, const std::string &DestDir) {
    TArchiver &arc = Resolve();
    TArchiverOptions &options = OptionsFor(Options);
    arc.RequireDLL();
    return Run(arc, [&] { return arc.MakeSfx(Wnd, fileName_, options, DestDir, output_); });
}

int TArchiveFile::ExtractMem(HWND Wnd, TArchiverOptions *Options, const std::string &EntryName,
                             void *Buffer, DWORD BufferSize, DWORD *WrittenSize) {
    TArchiver &arc = Resolve();
    TArchiverOptions &options = OptionsFor(Options);
    arc.RequireDLL();
    return Run(arc, [&] {
        return arc.ExtractMem(Wnd, fileName_, options, EntryName, Buffer, BufferSize, WrittenSize);
    });
}

int TArchiveFile::CheckArchive(int Mode, int Flags) {
    TArchiver &arc = Resolve();
    arc.RequireDLL();
    return arc.CheckArchive(fileName_, Mode, Flags);
}

int TArchiveFile::ListEntries(HWND Wnd, const std::string &WildName,
                              std::vector<TIndividualInfoEx> &Entries) {
    TArchiver &arc = Resolve();
    arc.RequireDLL();
    HARC handle = arc.OpenArchive(Wnd, fileName_, 0);
    if (!handle)
        throw EArchiver(FormatMessage("%s を開けません。", {fileName_}));
    // The handle is closed on every path, also when the library's listing raises.
    struct Closer {
        TArchiver &arc;
        HARC handle;
        ~Closer() {
            try {
                arc.CloseArchive(handle);
            } catch (...) {
            }
        }
    } closer{arc, handle};
    TIndividualInfoEx info{};
    int result = arc.FindFirst(handle, &info, WildName);
    while (result == 0) {
        Entries.push_back(info);
        info = TIndividualInfoEx{};
        result = arc.FindNext(handle, &info);
    }
    return result == -1 ? 0 : result;
}

} // namespace archives
