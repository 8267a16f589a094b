// libFuzzer target: the command-line reader of the archiver libraries, response files included.
// The input is a command line, then (after the first NUL byte) the content of a response file
// that the line may name as "@r". Besides a clean result or ArcError(kArcErrCommandLine), two
// round trips must hold, since the component writes what this reader reads: the tokens, each
// written in double quotes, read back as the same texts; and the names of the response file,
// written one per line in double quotes with CR LF, read back as the same names.
#include "FuzzSupport.h"
#include "archivers/common/ArcErrors.h"
#include "archivers/common/CommandLine.h"

#include <string>
#include <vector>

namespace {

using arclib::ArcError;

// The dialects' rules, chosen by the input's first byte.
arclib::CommandLineRules RulesFor(uint8_t selector) {
    arclib::CommandLineRules r;
    if (selector & 1)
        r.commands = {"a", "x", "e", "t", "l", "d", "u", "c", "r", "f", "v", "s"};
    if (selector & 2)
        r.separateValueSwitches = {"-f", "-o", "-C"};
    r.archiveIsFirstArgument = (selector & 4) == 0;
    r.quotedSwitches = (selector & 8) != 0;
    r.directoryAfterArchive = (selector & 16) != 0;
    return r;
}

void CheckRequire(bool ok, const char *what) {
    if (!ok)
        fuzzsupport::Scratch::Fail(what);
}

void TokensRoundTrip(const std::vector<arclib::Token> &tokens) {
    std::string line;
    for (const auto &t : tokens)
        line += " \"" + t.text + "\"";
    const std::vector<arclib::Token> again = arclib::Tokenize(line);
    CheckRequire(again.size() == tokens.size(), "quoted tokens read back as another count");
    for (size_t i = 0; i < tokens.size(); ++i)
        CheckRequire(again[i].text == tokens[i].text && again[i].quoted,
                     "a quoted token reads back changed");
}

void ResponseRoundTrip(const std::vector<std::string> &names) {
    std::string text;
    for (const auto &n : names)
        text += "\"" + n + "\"\r\n";
    const std::string path = fuzzsupport::Scratch::Get().Put("again", text);
    CheckRequire(arclib::ReadResponseFile(path) == names, "response file names read back changed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    std::string_view rest = fuzzsupport::AsText(data + 1, size - 1);
    const size_t nul = rest.find('\0');
    const std::string_view line = rest.substr(0, nul);
    const std::string_view response = nul == rest.npos ? std::string_view{} : rest.substr(nul + 1);

    auto &scratch = fuzzsupport::Scratch::Get();
    const std::string responsePath = scratch.Put("r", response);
    try {
        const std::vector<arclib::Token> tokens = arclib::Tokenize(line);
        TokensRoundTrip(tokens);
        // Only the response file made here may be read: a name the fuzzer makes up could be any
        // file of the machine.
        std::string full(line);
        for (const auto &t : tokens)
            if (!t.text.empty() && t.text[0] == '@')
                return 0;
        if (selector & 32)
            full += " @\"" + responsePath + "\"";
        arclib::CommandLine cl = arclib::ParseCommandLine(full, RulesFor(selector));
        cl.Find("-f");
        cl.FindPrefix("-");
    } catch (const ArcError &e) {
        CheckRequire(e.code() == arclib::kArcErrCommandLine, "a reader error with another code");
    }
    try {
        ResponseRoundTrip(arclib::ReadResponseFile(responsePath));
    } catch (const ArcError &e) {
        CheckRequire(e.code() == arclib::kArcErrCommandLine, "a reader error with another code");
    }
    return 0;
}
