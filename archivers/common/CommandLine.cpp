#include "archivers/common/CommandLine.h"

#include "archivers/common/ArcErrors.h"
#include "archivers/common/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace arclib {

std::vector<Token> Tokenize(std::string_view line) {
    std::vector<Token> tokens;
    Token cur;
    bool inToken = false, inQuote = false;
    for (char c : line) {
        if (inQuote) {
            if (c == '"')
                inQuote = false;
            else
                cur.text += c;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inToken) {
                tokens.push_back(std::move(cur));
                cur = Token{};
                inToken = false;
            }
            continue;
        }
        inToken = true;
        if (c == '"') {
            inQuote = true;
            cur.quoted = true;
        } else {
            cur.text += c;
        }
    }
    if (inQuote)
        throw ArcError(kArcErrCommandLine, "a double quote is not closed");
    if (inToken)
        tokens.push_back(std::move(cur));
    return tokens;
}

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool Contains(const std::vector<std::string> &v, std::string_view s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

} // namespace

std::vector<std::string> ReadResponseFile(const std::string &path) {
    // Opened without blocking and checked before reading: a FIFO or a device named as a response
    // file would hang the caller or feed it without end.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0)
        throw ArcError(kArcErrCommandLine,
                       "cannot read the response file " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw ArcError(kArcErrCommandLine, "the response file " + path + " is not a regular file");
    const ArcError tooLarge(kArcErrCommandLine, "the response file " + path + " is larger than " +
                                                    std::to_string(kMaxResponseFileSize >> 20) +
                                                    " MiB");
    if (st.st_size > kMaxResponseFileSize)
        throw tooLarge;
    // Read up to one byte past the limit, so a file that grew after fstat is caught too.
    std::string text;
    if (!ReadUpTo(fd.get(), text, static_cast<size_t>(kMaxResponseFileSize) + 1))
        throw ArcError(kArcErrCommandLine,
                       "cannot read the response file " + path + ": " + std::strerror(errno));
    if (text.size() > static_cast<size_t>(kMaxResponseFileSize))
        throw tooLarge;
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        std::string line =
            text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        pos = eol == std::string::npos ? text.size() : eol + 1;
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        // A line is one name; quotes around it are dropped, blanks inside are kept.
        std::string name;
        for (char c : line)
            if (c != '"')
                name += c;
        size_t b = name.find_first_not_of(" \t");
        if (b == std::string::npos)
            continue;
        if (line.find('"') == std::string::npos) // unquoted: surrounding blanks are not part of it
            name = name.substr(b, name.find_last_not_of(" \t") - b + 1);
        if (!name.empty())
            names.push_back(std::move(name));
    }
    return names;
}

CommandLine ParseCommandLine(std::string_view line, const CommandLineRules &rules) {
    CommandLine cl;
    std::vector<Token> tokens = Tokenize(line);
    size_t i = 0;
    if (!tokens.empty() && !tokens[0].quoted && Contains(rules.commands, Lower(tokens[0].text))) {
        cl.command = Lower(tokens[0].text);
        i = 1;
    }
    bool switchesEnded = false;
    bool haveArchive = false;
    bool afterArchive = false; // the token right after the archive name
    for (; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        bool justAfterArchive = afterArchive;
        afterArchive = false;
        bool looksLikeSwitch = !switchesEnded && t.text.size() > 1 && t.text[0] == '-' &&
                               (!t.quoted || (rules.quotedSwitches && !haveArchive));
        if (!switchesEnded && !t.quoted && t.text == "--") {
            switchesEnded = true;
            continue;
        }
        if (looksLikeSwitch) {
            Switch sw{t.text, {}};
            if (Contains(rules.separateValueSwitches, t.text)) {
                if (i + 1 >= tokens.size())
                    throw ArcError(kArcErrCommandLine, "the switch " + t.text + " needs a value");
                sw.value = tokens[++i].text;
            }
            cl.switches.push_back(std::move(sw));
            continue;
        }
        if (rules.archiveIsFirstArgument && !haveArchive) {
            cl.archive = t.text;
            haveArchive = true;
            afterArchive = true;
            continue;
        }
        if (rules.directoryAfterArchive && justAfterArchive && !t.text.empty() &&
            t.text.back() == '/') {
            cl.directory = t.text;
            continue;
        }
        if (t.text.size() > 1 && t.text[0] == '@') {
            for (auto &n : ReadResponseFile(t.text.substr(1)))
                cl.files.push_back(std::move(n));
            continue;
        }
        if (!t.text.empty())
            cl.files.push_back(t.text);
    }
    return cl;
}

const Switch *CommandLine::Find(std::string_view text) const {
    for (auto it = switches.rbegin(); it != switches.rend(); ++it)
        if (it->text == text)
            return &*it;
    return nullptr;
}

const Switch *CommandLine::FindPrefix(std::string_view prefix) const {
    for (auto it = switches.rbegin(); it != switches.rend(); ++it)
        if (it->text.compare(0, prefix.size(), prefix) == 0)
            return &*it;
    return nullptr;
}

} // namespace arclib
