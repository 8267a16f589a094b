#include "archives/CmdOpt.h"

#include "archives/ArchiverOptions.h"
#include "archives/Exceptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace archives {

namespace {

// The builder writes values between double quotes and cannot escape one inside them.
void RequireNoQuote(std::string_view value, const char *where) {
    if (value.find('"') != std::string_view::npos)
        throw EArchiver(FormatMessage("「%s」は二重引用符を含むため、%sに指定できません。",
                                      {std::string(value), where}));
}

constexpr const char *kOnCommandLine = "コマンドライン";
constexpr const char *kInResponseFile = "レスポンスファイル";

struct FileCloser {
    void operator()(std::FILE *f) const {
        if (f)
            std::fclose(f);
    }
};

} // namespace

void TCmdOpt::Add(std::string_view Text) {
    CommandLine += ' ';
    CommandLine += Text;
}

void TCmdOpt::AddString(std::string_view Switch, std::string_view Value) {
    if (IsUnsetString(Value))
        return;
    RequireNoQuote(Value, kOnCommandLine);
    std::string piece;
    if (Switch.empty()) {
        piece = "\"" + std::string(Value) + "\"";
    } else {
        const std::string name =
            Switch.front() == ' ' ? std::string(Switch.substr(1)) : "-" + std::string(Switch);
        if (SeparateValue)
            piece = name + " \"" + std::string(Value) + "\"";
        else
            piece = "\"" + name + std::string(Value) + "\"";
    }
    Add(piece);
}

void TCmdOpt::AddNumber(std::string_view Switch, int Value) {
    if (Value >= 0)
        Add("-" + std::string(Switch) + std::to_string(Value));
}

void TCmdOpt::AddFlag(std::string_view Switch, bool Value) {
    if (Value)
        Add("-" + std::string(Switch));
}

void TCmdOpt::AddFileName(std::string_view Switch, std::string_view FileName) {
    AddString(Switch, FileName);
}

void TCmdOpt::AddDirectory(std::string_view Switch, std::string_view Directory) {
    if (Directory.empty() || IsUnsetString(Directory))
        return;
    AddFileName(Switch, platform::IncludeTrailingPathDelimiter(Directory, PathRules));
}

std::string TCmdOpt::FilterFileName(const std::string &FileName) const {
    return FileNameFilter ? FileNameFilter(FileName) : FileName;
}

void TCmdOpt::AddFile(std::string_view Switch, const std::string &FileName) {
    AddFileName(Switch, FilterFileName(FileName));
}

int TCmdOpt::AddFiles(std::string_view Switch, const TFileArgs &Files) {
    const auto names = ExpandFileArgs(Files);
    for (const auto &item : *names)
        AddFile(Switch, item.String);
    return names->Count();
}

int TCmdOpt::AddResponseFile(const TFileArgs &Files, const std::string &ResFileName) {
    const auto names = ExpandFileArgs(Files);
    std::string text;
    for (const auto &item : *names) {
        const std::string name = FilterFileName(item.String);
        RequireNoQuote(name, kInResponseFile);
        text += "\"" + name + "\"\r\n";
    }
    // Refuse before the file is touched, so a refused reference leaves no new list behind.
    const std::string reference = "@" + ResFileName;
    RequireNoQuote(reference, kOnCommandLine);

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(ResFileName.c_str(), "wb"));
    if (!file)
        throw EFCreateError("Cannot create file \"" + ResFileName + "\". " + std::strerror(errno));
    const bool written =
        text.empty() || std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    // The data may only reach the disk when the buffer is flushed or the file closed.
    const bool flushed = written && std::fflush(file.get()) == 0;
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !flushed || !closed)
        throw EWriteError("Stream write error: \"" + ResFileName + "\"");

    AddFileName("", reference);
    return names->Count();
}

} // namespace archives
