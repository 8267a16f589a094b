#include "archivers/common/CommandLine.h"

#include "archivers/common/ArcErrors.h"

#include <algorithm>
#include <fstream>

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
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ArcError(kArcErrCommandLine, "cannot read the response file " + path);
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
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
    if (in.bad())
        throw ArcError(kArcErrCommandLine, "cannot read the response file " + path);
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
