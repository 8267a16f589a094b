#include "formats/SelfExtractor.h"

#include "platform/Paths.h"
#include "platform/ReplacingFileWriter.h"

namespace formats {

std::string SfxTargetName(const std::string &ArchiveName, const std::string &DestDir,
                          std::string_view Ext) {
    std::string name = platform::ChangeFileExt(ArchiveName, Ext);
    if (DestDir.empty())
        return name;
    return platform::IncludeTrailingPathDelimiter(DestDir) + platform::ExtractFileName(name);
}

void JoinFiles(const std::string &Target, const std::vector<std::string> &Parts,
               std::string_view Trailer) {
    // An old self-extractor of the same name is replaced only by a complete new one, and a
    // self-extractor is a program: whoever may read it may run it.
    const platform::JoinResult r = platform::JoinFiles(Target, Parts, Trailer, true);
    using F = platform::JoinResult::Failure;
    switch (r.failure) {
    case F::None:
        return;
    case F::OpenPart:
        throw archives::EFOpenError("Cannot open file \"" + r.file + "\": " + r.why);
    case F::TargetIsPart:
    case F::Create:
        throw archives::EFCreateError("Cannot create file \"" + r.file + "\": " + r.why);
    case F::Read:
        throw archives::EStreamError("Stream read error: \"" + r.file + "\"");
    case F::Write:
        throw archives::EWriteError("Stream write error: \"" + r.file + "\": " + r.why);
    }
}

} // namespace formats
