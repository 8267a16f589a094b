#include "app/CompressJob.h"

#include "app/JobHook.h"
#include "archives/ARCHIVES.h"
#include "platform/Paths.h"
#include "platform/ReplacingFileWriter.h"
#include "platform/SourceFile.h"

#include <vector>

namespace {

// The library's text, on one line.
std::string OneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    for (char &c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

// A library may read a name as a mask (x?.txt as x1.txt too): the new archive is checked to hold
// exactly the source. Empty when it does; otherwise what it holds instead.
std::string NotOnlyTheSource(archives::TArchiveFile &archive, const std::string &Source) {
    std::vector<TIndividualInfoEx> entries;
    archive.ListEntries(nullptr, "*", entries);
    const std::string leaf = platform::ExtractFileName(Source);
    if (entries.size() == 1) {
        std::string name(entries[0].szFileName);
        for (char &c : name)
            if (c == '\\')
                c = '/';
        if (name == leaf || name.ends_with("/" + leaf))
            return {};
    }
    std::string held;
    for (size_t i = 0; i < entries.size() && i < 3; ++i)
        held += (i ? ", " : "") + std::string(entries[i].szFileName);
    if (entries.size() > 3)
        held += ", ...";
    return "the archiver library packed " + std::to_string(entries.size()) + " entries (" + held +
           ") instead of " + Source + " alone";
}

} // namespace

int CompressFile(const std::string &Source, const std::string &Dest) {
    std::string why;
    return CompressFile(Source, Dest, why);
}

int CompressFile(const std::string &Source, const std::string &Dest, std::string &Why) {
    platform::SourceFile source(Source);
    if (!source.Ok()) {
        Why = source.Error();
        return -1;
    }
    if (platform::SameFile(Source, Dest)) {
        Why = "the destination " + Dest + " is the source itself";
        return -1;
    }
    archives::TArchiveFile archive;
    archives::TStringList files;
    // The destination's name decides the format (and raises when it names none it can make)
    // before anything is written.
    archive.SetFileName(Dest);
    platform::ReplacingFileWriter archiveFile(Dest,
                                              platform::ReplacingFileWriter::Content::Outside);
    if (!archiveFile.Ok()) {
        Why = archiveFile.Error();
        return -1;
    }
    const std::string &temp = archiveFile.TempName();
    // The temporary name keeps the extension, so it names the same format.
    archive.SetFileName(temp);
    archive.Options().x = 1;
    archive.Options().jso = 1;
    // The job hands the library its one checked file by name: the component's own collection
    // would read the name as a mask ("x?.txt" packing x1.txt too).
    archive.Options().PackFilter = archives::pfArchiver;
    archive.Options().p = 1;
    archive.SetOutputSize(8192);
    files.Add(Source);
    CallJobHook(quorvel::TJobStage::SourceOpened, Source, temp);
    const int result = archive.PackFiles(nullptr, nullptr, "", {archives::TFileArg(&files)});
    CallJobHook(quorvel::TJobStage::Written, Source, temp);
    if (result != 0) {
        const std::string text = OneLine(archive.OutputText());
        Why = "the archiver library answered " + std::to_string(result) +
              (text.empty() ? std::string() : ": " + text);
        return result;
    }
    if (std::string changed = source.Changed(); !changed.empty()) {
        Why = changed + "; " + Dest + " is not replaced";
        return -1;
    }
    if (std::string extra = NotOnlyTheSource(archive, Source); !extra.empty()) {
        Why = extra + "; " + Dest + " is not replaced";
        return -1;
    }
    const bool replaced = archiveFile.Commit([&](std::string &why) {
        quorvel::CallJobHook(quorvel::TJobStage::BeforeReplace, Source, temp);
        why = source.Changed();
        if (!why.empty())
            why += "; " + Dest + " is not replaced";
        return why.empty();
    });
    if (!replaced) {
        Why = archiveFile.Error();
        return -1;
    }
    CallJobHook(quorvel::TJobStage::Replaced, Source, Dest);
    return 0;
}
