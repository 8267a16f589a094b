#include "app/QuorvelLogic.h"

#include "app/CompressJob.h"
#include "app/JobHook.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/ReplacingFileWriter.h"
#include "platform/SourceFile.h"

#include <cstring>

namespace quorvel {

namespace {
TJobHook &Hook() {
    static TJobHook hook;
    return hook;
}
} // namespace

void SetJobHook(TJobHook Hook_) {
    Hook() = std::move(Hook_);
}

void CallJobHook(TJobStage Stage, const std::string &Source, const std::string &NewFile) {
    if (Hook())
        Hook()(Stage, Source, NewFile);
}

int ClampJobKind(int index) {
    if (index < jkNone)
        return jkNone;
    if (index > jkDelete)
        return jkDelete;
    return index;
}

std::string SettingsFileName(const std::string &programPath) {
    return platform::ChangeFileExt(programPath, ".ini");
}

std::string ApplicationTitle(const std::string &programPath) {
    return platform::ChangeFileExt(platform::ExtractFileName(programPath), "");
}

namespace {

// An integer key: a value that is not a number reads as the default, with a warning.
int ReadNumber(const platform::ProfileFile &ini, const char *key, int def,
               std::vector<std::string> *warnings) {
    const std::string text = ini.ReadString(SettingsSection, key, "");
    if (text.empty())
        return def;
    if (auto n = platform::ParseProfileInteger(text))
        return *n;
    if (warnings != nullptr)
        warnings->push_back("settings " + ini.FileName() + ": " + key + "=" + text +
                            " is not a number; the default " + std::to_string(def) + " is used");
    return def;
}

} // namespace

TFormValues ReadSettings(const std::string &iniName, std::vector<std::string> *Warnings) {
    const platform::ProfileFile ini(iniName);
    if (Warnings != nullptr)
        if (std::string problem = ini.ReadProblem(); !problem.empty())
            Warnings->push_back("settings " + iniName + " " + problem + "; the defaults are used");
    TFormValues v;
    v.JobKind = ClampJobKind(ReadNumber(ini, "JobKind", 0, Warnings));
    v.SourceFile = ini.ReadString(SettingsSection, "SourceFile", "");
    v.DistFile = ini.ReadString(SettingsSection, "DistFile", "");
    v.SourDelete = ReadNumber(ini, "SourDelete", 1, Warnings) != 0;
    v.OverWrite = ReadNumber(ini, "OverWrite", 1, Warnings) != 0;
    return v;
}

void WriteSettings(const std::string &iniName, const TFormValues &values) {
    platform::ProfileFile ini(iniName);
    ini.WriteInteger(SettingsSection, "JobKind", values.JobKind);
    ini.WriteString(SettingsSection, "SourceFile", values.SourceFile);
    ini.WriteString(SettingsSection, "DistFile", values.DistFile);
    ini.WriteBool(SettingsSection, "SourDelete", values.SourDelete);
    ini.WriteBool(SettingsSection, "OverWrite", values.OverWrite);
}

std::string JobText(const TFormValues &values) {
    const std::string source = platform::ExtractFileName(values.SourceFile);
    const std::string dest = platform::ExtractFileName(values.DistFile);
    switch (ClampJobKind(values.JobKind)) {
    case jkCopy:
        return "File Copy " + source + " to " + dest;
    case jkCompress:
        return "File Compres " + source + " to " + dest;
    case jkDelete:
        return "File Delete as " + source;
    default:
        return "";
    }
}

std::string JobName(const TFormValues &values) {
    switch (ClampJobKind(values.JobKind)) {
    case jkCopy:
        return "Copy " + values.SourceFile + " to " + values.DistFile;
    case jkCompress:
        return "Compress " + values.SourceFile + " to " + values.DistFile;
    case jkDelete:
        return "Delete " + values.SourceFile;
    default:
        return "No job";
    }
}

std::string ConfirmationText(const TFormValues &values) {
    return "May I do the " + JobText(values) + "?";
}

platform::MessageBoxText ConfirmationBox(const std::string &text) {
    return {"確認", text, {"はい(&Y)", "いいえ(&N)"}, platform::MessageBoxIcon::Question};
}

platform::MessageBoxText PlainBox(const std::string &title, const std::string &text) {
    return {title, text, {"OK"}, platform::MessageBoxIcon::None};
}

bool IsCommandWord(const std::string &arg, const std::string &word) {
    if (arg.size() != word.size())
        return false;
    for (size_t i = 0; i < arg.size(); ++i) {
        char c = arg[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

namespace {

constexpr size_t ChunkSize = 64 * 1024;

// Reads the whole source through its recorded descriptor; false (Why set) on a read error or
// when it does not hold the size recorded (it was cut or grew while being read).
template <class F> bool ReadAll(platform::SourceFile &in, std::string &why, F &&chunk) {
    if (!in.Rewind()) {
        why = in.Error();
        return false;
    }
    std::string buf(ChunkSize, '\0');
    int64_t total = 0;
    for (;;) {
        const ssize_t n = in.Read(buf.data(), buf.size());
        if (n < 0) {
            why = in.Error();
            return false;
        }
        if (n == 0)
            break;
        total += n;
        if (!chunk(std::string_view(buf.data(), static_cast<size_t>(n))))
            return false;
    }
    if (total != in.Identity().Size) {
        why = in.Changed();
        if (why.empty())
            why = "the source " + in.FileName() + " read " + std::to_string(total) +
                  " bytes instead of " + std::to_string(in.Identity().Size);
        return false;
    }
    return true;
}

bool HasNulByte(platform::SourceFile &in, bool &nul, std::string &why) {
    nul = false;
    return ReadAll(in, why, [&](std::string_view data) {
        nul = nul || data.find('\0') != std::string_view::npos;
        return true;
    });
}

// Copies the source into the writer, as text lines with CR LF ends or byte for byte.
bool CopyContent(platform::SourceFile &in, bool asText, platform::ReplacingFileWriter &out,
                 std::string &why) {
    std::string converted;
    bool afterCr = false;  // the last byte was a CR: an LF right after it belongs to it
    bool openLine = false; // bytes written since the last line end
    const bool read = ReadAll(in, why, [&](std::string_view data) {
        if (!asText)
            return out.Write(data);
        converted.clear();
        for (const char c : data) {
            if (c == '\r') {
                converted += "\r\n";
                afterCr = true;
                openLine = false;
            } else if (c == '\n') {
                if (!afterCr)
                    converted += "\r\n";
                afterCr = false;
                openLine = false;
            } else {
                converted += c;
                afterCr = false;
                openLine = true;
            }
        }
        return out.Write(converted);
    });
    if (read && openLine)
        out.Write("\r\n");
    if (!out.Ok())
        why = out.Error();
    return read && out.Ok();
}

} // namespace

bool CopyJob(const std::string &source, const std::string &dest, bool overWrite, bool sourceDelete,
             std::string *Why) {
    std::string why;
    const auto fail = [&](std::string reason) {
        if (Why != nullptr)
            *Why = std::move(reason);
        return false;
    };
    try {
        platform::SourceFile in(source);
        if (!in.Ok())
            return fail(in.Error());
        if (dest.empty())
            return fail("no destination file is given");
        if (platform::FileExists(dest) && !overWrite)
            return fail(dest + " exists and \"Over Write Enable\" is off");
        // Deleting the source of a copy onto itself would delete the only copy.
        if (sourceDelete && platform::SameFile(source, dest))
            return fail("the destination " + dest + " is the source itself");
        platform::ReplacingFileWriter out(dest);
        if (!out.Ok())
            return fail(out.Error());
        CallJobHook(TJobStage::SourceOpened, source, dest);
        bool nul = false;
        if (!HasNulByte(in, nul, why) || !CopyContent(in, !nul, out, why))
            return fail(why + "; " + dest + " is not replaced");
        CallJobHook(TJobStage::Written, source, dest);
        if (why = in.Changed(); !why.empty())
            return fail(why + "; " + dest + " is not replaced");
        const bool replaced = out.Commit([&](std::string &reason) {
            CallJobHook(TJobStage::BeforeReplace, source, out.TempName());
            reason = in.Changed();
            if (!reason.empty())
                reason += "; " + dest + " is not replaced";
            return reason.empty();
        });
        if (!replaced)
            return fail(out.Error());
        CallJobHook(TJobStage::Replaced, source, dest);
        if (sourceDelete && !in.Delete(why))
            return fail(why + "; the copy is made and the source is kept");
        return true;
    } catch (const std::exception &e) {
        return fail(e.what());
    }
}

TQuorvelLogic::TQuorvelLogic(IQuorvelView &view, std::string programPath, TCompressFunc compress)
    : view_(view), settingsFile_(SettingsFileName(programPath)),
      title_(ApplicationTitle(programPath)), compress_(std::move(compress)) {
    if (!compress_)
        compress_ = [](const std::string &s, const std::string &d, std::string &why) {
            return ::CompressFile(s, d, why);
        };
}

void TQuorvelLogic::FormCreate(const std::vector<std::string> &args) {
    view_.RemoveCloseCommand();
    std::vector<std::string> warnings;
    view_.SetValues(ReadSettings(settingsFile_, &warnings));
    for (const std::string &w : warnings)
        view_.Note(w);
    for (const std::string &arg : args) {
        if (IsCommandWord(arg, "exec")) {
            view_.HideForm();
            if (!DoJob()) {
                view_.Note(lastJobError_);
                view_.Note(FailureText);
            }
        } else if (IsCommandWord(arg, "exit")) {
            view_.Terminate();
        }
    }
}

void TQuorvelLogic::APLTerminateSwOn() {
    if (view_.ShowMessageBox(ConfirmationBox(ExitQuestion)) == 0)
        view_.Terminate();
}

void TQuorvelLogic::SaveSwOn() {
    WriteSettings(settingsFile_, view_.Values());
}

void TQuorvelLogic::FileNameSelectSwON(TFileButton sender) {
    const std::optional<std::string> chosen = view_.ChooseFile();
    if (!chosen)
        return;
    TFormValues v = view_.Values();
    (sender == TFileButton::Source ? v.SourceFile : v.DistFile) = *chosen;
    view_.SetValues(v);
}

void TQuorvelLogic::ExecuteON() {
    if (view_.ShowMessageBox(ConfirmationBox(ConfirmationText(view_.Values()))) != 0)
        return;
    const bool ok = DoJob();
    view_.ShowMessageBox(PlainBox(title_, ok ? std::string(SuccessText)
                                             : std::string(FailureText) + "\n" + lastJobError_));
}

bool TQuorvelLogic::DoJob() {
    const TFormValues v = view_.Values();
    lastJobResult_ = false; // stays false when the job raises
    lastJobError_.clear();
    const std::string job = JobName(v);
    const auto fail = [&](const std::string &why) {
        lastJobError_ = job + ": " + why;
        return false;
    };
    const int kind = ClampJobKind(v.JobKind);
    if (!platform::FileExists(v.SourceFile)) {
        platform::SourceFile missing(v.SourceFile);
        return fail(missing.Ok() ? "the source " + v.SourceFile + " does not exist"
                                 : missing.Error());
    }
    if (kind == jkNone) {
        lastJobResult_ = true;
        return true;
    }
    // Refused at once when it is not a regular file; its identity is what a delete checks.
    platform::SourceFile source(v.SourceFile);
    if (!source.Ok())
        return fail(source.Error());
    std::string why;
    switch (kind) {
    case jkCopy:
        if (!CopyJob(v.SourceFile, v.DistFile, v.OverWrite, v.SourDelete, &why))
            return fail(why);
        break;
    case jkCompress: {
        int result;
        try {
            result = CompressFile(v.SourceFile, v.DistFile, why);
        } catch (const std::exception &e) {
            fail(e.what());
            throw;
        }
        // Any code but 0 means no archive was made, so the source stays.
        if (result != 0)
            return fail(why.empty() ? "the archiver library answered " + std::to_string(result)
                                    : why);
        if (v.SourDelete && !source.Delete(why))
            return fail(why + "; the archive is made and the source is kept");
        break;
    }
    case jkDelete:
        if (!source.Delete(why))
            return fail(why);
        break;
    }
    lastJobResult_ = true;
    return true;
}

int TQuorvelLogic::CompressFile(const std::string &Source, const std::string &Dest) {
    std::string why;
    return CompressFile(Source, Dest, why);
}

int TQuorvelLogic::CompressFile(const std::string &Source, const std::string &Dest,
                                std::string &Why) {
    return compress_(Source, Dest, Why);
}

void TQuorvelLogic::ShowException(const std::exception &e) {
    view_.ShowMessageBox(PlainBox(title_, e.what()));
}

} // namespace quorvel
