// libFuzzer target: the profile (INI) reader and writer on arbitrary file content. Reading never
// fails; writing a key either raises EProfileWriteError or stores it so that it reads back as
// written while every other section reads as before, and a second identical write changes no
// byte of the file.
#include "FuzzSupport.h"
#include "platform/Profile.h"

#include <fstream>
#include <sstream>
#include <string>

namespace {

using fuzzsupport::Scratch;

std::string FileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void Require(bool ok, const char *what) {
    if (!ok)
        Scratch::Fail(what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = Scratch::Get().Put("settings.ini", fuzzsupport::AsText(data, size));
    platform::ProfileFile ini(path);
    platform::ParseProfileInteger(fuzzsupport::AsText(data, size > 64 ? 64 : size));
    ini.ReadInteger("System", "JobKind", 0);
    ini.ReadBool("System", "SourDelete", true);
    for (const char *key : {"SourceFile", "DistFile"})
        Require(ini.ReadString("System", key, "").size() <= platform::MaxProfileString,
                "a string read longer than the limit");
    const auto otherBefore = ini.ReadSection("Other");

    // The value comes from the input too, so that quotes and blanks at its ends are tried.
    std::string value(fuzzsupport::AsText(data, size > 40 ? 40 : size));
    if (value.find_first_of("\r\n") != std::string::npos)
        value.clear();
    try {
        ini.WriteString("System", "SourceFile", value);
    } catch (const platform::EProfileWriteError &) {
        return 0;
    }
    Require(ini.ReadString("System", "SourceFile", "<none>") == value,
            "a written value reads back changed");
    Require(ini.ReadSection("Other") == otherBefore, "writing a key changed another section");
    const std::string once = FileText(path);
    ini.WriteString("System", "SourceFile", value);
    Require(FileText(path) == once, "writing the same value again changed the file");
    return 0;
}
