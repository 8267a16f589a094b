#include "app/QuorvelLogic.h"

#include "app/CompressJob.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/ReplacingFileWriter.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace quorvel {

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

TFormValues ReadSettings(const std::string &iniName) {
    const platform::ProfileFile ini(iniName);
    TFormValues v;
    v.JobKind = ClampJobKind(ini.ReadInteger(SettingsSection, "JobKind", 0));
    v.SourceFile = ini.ReadString(SettingsSection, "SourceFile", "");
    v.DistFile = ini.ReadString(SettingsSection, "DistFile", "");
    v.SourDelete = ini.ReadBool(SettingsSection, "SourDelete", true);
    v.OverWrite = ini.ReadBool(SettingsSection, "OverWrite", true);
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

bool HasNulByte(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + name);
    std::string buf(ChunkSize, '\0');
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto n = static_cast<size_t>(in.gcount());
        if (std::memchr(buf.data(), '\0', n) != nullptr)
            return true;
    }
    if (in.bad())
        throw std::runtime_error("cannot read " + name);
    return false;
}

// Copies source into the writer, as text lines with CR LF ends or byte for byte.
bool CopyContent(const std::string &source, bool asText, platform::ReplacingFileWriter &out) {
    std::ifstream in(source, std::ios::binary);
    if (!in)
        return false;
    std::string buf(ChunkSize, '\0');
    std::string converted;
    bool afterCr = false;  // the last byte was a CR: an LF right after it belongs to it
    bool openLine = false; // bytes written since the last line end
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto n = static_cast<size_t>(in.gcount());
        if (!asText) {
            if (!out.Write(std::string_view(buf.data(), n)))
                return false;
            continue;
        }
        converted.clear();
        for (size_t i = 0; i < n; ++i) {
            const char c = buf[i];
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
        if (!out.Write(converted))
            return false;
    }
    if (in.bad())
        return false;
    if (openLine && !out.Write("\r\n"))
        return false;
    return true;
}

} // namespace

bool CopyJob(const std::string &source, const std::string &dest, bool overWrite,
             bool sourceDelete) {
    try {
        if (!platform::FileExists(source) || dest.empty())
            return false;
        if (platform::FileExists(dest) && !overWrite)
            return false;
        std::error_code ec;
        // Deleting the source of a copy onto itself would delete the only copy.
        if (sourceDelete && std::filesystem::equivalent(source, dest, ec))
            return false;
        const bool asText = !HasNulByte(source);
        platform::ReplacingFileWriter out(dest);
        if (!out.Ok() || !CopyContent(source, asText, out) || !out.Commit())
            return false;
        if (sourceDelete && !platform::DeleteFile(source))
            return false;
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

TQuorvelLogic::TQuorvelLogic(IQuorvelView &view, std::string programPath, TCompressFunc compress)
    : view_(view), settingsFile_(SettingsFileName(programPath)),
      title_(ApplicationTitle(programPath)), compress_(std::move(compress)) {
    if (!compress_)
        compress_ = [](const std::string &s, const std::string &d) { return ::CompressFile(s, d); };
}

void TQuorvelLogic::FormCreate(const std::vector<std::string> &args) {
    view_.RemoveCloseCommand();
    view_.SetValues(ReadSettings(settingsFile_));
    for (const std::string &arg : args) {
        if (IsCommandWord(arg, "exec")) {
            view_.HideForm();
            DoJob();
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
    view_.ShowMessageBox(PlainBox(title_, ok ? SuccessText : FailureText));
}

bool TQuorvelLogic::DoJob() {
    const TFormValues v = view_.Values();
    lastJobResult_ = false; // stays false when the job raises
    bool ok = false;
    if (platform::FileExists(v.SourceFile)) {
        switch (ClampJobKind(v.JobKind)) {
        case jkCopy:
            ok = CopyJob(v.SourceFile, v.DistFile, v.OverWrite, v.SourDelete);
            break;
        case jkCompress:
            // Any code but 0 means no archive was made, so the source stays.
            ok = CompressFile(v.SourceFile, v.DistFile) == 0 &&
                 (!v.SourDelete || platform::DeleteFile(v.SourceFile));
            break;
        case jkDelete:
            ok = platform::DeleteFile(v.SourceFile);
            break;
        default:
            ok = true;
            break;
        }
    }
    lastJobResult_ = ok;
    return ok;
}

int TQuorvelLogic::CompressFile(const std::string &Source, const std::string &Dest) {
    return compress_(Source, Dest);
}

void TQuorvelLogic::ShowException(const std::exception &e) {
    view_.ShowMessageBox(PlainBox(title_, e.what()));
}

} // namespace quorvel
