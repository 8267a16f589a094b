#include "formats/SelfExtractor.h"

#include "platform/Paths.h"
#include "platform/ReplacingFileWriter.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace formats {

namespace fs = std::filesystem;

std::string SfxTargetName(const std::string &ArchiveName, const std::string &DestDir,
                          std::string_view Ext) {
    std::string name = platform::ChangeFileExt(ArchiveName, Ext);
    if (DestDir.empty())
        return name;
    return platform::IncludeTrailingPathDelimiter(DestDir) + platform::ExtractFileName(name);
}

namespace {

std::string Reason() {
    return errno ? std::string(": ") + std::strerror(errno) : std::string();
}

bool SameFile(const std::string &a, const std::string &b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

} // namespace

void JoinFiles(const std::string &Target, const std::vector<std::string> &Parts,
               std::string_view Trailer) {
    std::vector<std::unique_ptr<std::ifstream>> inputs;
    for (const auto &part : Parts) {
        errno = 0;
        auto in = std::make_unique<std::ifstream>(part, std::ios::binary);
        if (!*in || fs::is_directory(part))
            throw archives::EFOpenError("Cannot open file \"" + part + "\"" + Reason());
        inputs.push_back(std::move(in));
    }
    for (const auto &part : Parts)
        if (SameFile(part, Target))
            throw archives::EFCreateError("Cannot create file \"" + Target +
                                          "\": it is one of the files it is made from");

    // An old self-extractor of the same name is replaced only by a complete new one.
    platform::ReplacingFileWriter out(Target);
    if (!out.Ok())
        throw archives::EFCreateError("Cannot create file \"" + Target + "\": " + out.Error());
    for (size_t i = 0; i < inputs.size(); ++i) {
        auto &in = *inputs[i];
        char buffer[64 * 1024];
        while (in) {
            in.read(buffer, sizeof buffer);
            if (in.gcount() > 0 &&
                !out.Write(std::string_view(buffer, static_cast<size_t>(in.gcount()))))
                throw archives::EWriteError("Stream write error: \"" + Target +
                                            "\": " + out.Error());
        }
        if (in.bad())
            throw archives::EStreamError("Stream read error: \"" + Parts[i] + "\"");
    }
    if (!Trailer.empty() && !out.Write(Trailer))
        throw archives::EWriteError("Stream write error: \"" + Target + "\": " + out.Error());
    if (!out.Commit())
        throw archives::EWriteError("Stream write error: \"" + Target + "\": " + out.Error());
    // A self-extractor is a program: whoever may read it may run it.
    std::error_code ec;
    const fs::perms p = fs::status(Target, ec).permissions();
    if (!ec) {
        fs::perms exec = fs::perms::none;
        if ((p & fs::perms::owner_read) != fs::perms::none)
            exec |= fs::perms::owner_exec;
        if ((p & fs::perms::group_read) != fs::perms::none)
            exec |= fs::perms::group_exec;
        if ((p & fs::perms::others_read) != fs::perms::none)
            exec |= fs::perms::others_exec;
        fs::permissions(Target, exec, fs::perm_options::add, ec);
    }
}

} // namespace formats
