#include "tools/arcfile/OptionsFile.h"

#include "archives/StoredProperties.h"
#include "platform/Profile.h"
#include "platform/ReplacingFileWriter.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace arcfile {

using archives::TPropertyValues;

namespace {

constexpr const char *kFormPrefix = "Options.";

std::string Trim(const std::string &s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    const size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool SameText(const std::string &a, const std::string &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool StartsWithText(const std::string &s, const std::string &prefix) {
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

// "[Name]" -> "Name"; empty for a line that is no section header.
std::string SectionOf(const std::string &line) {
    const std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']')
        return Trim(t.substr(1, t.size() - 2));
    return {};
}

std::vector<std::string> ReadLines(const std::string &fileName, bool &exists) {
    std::ifstream in(fileName, std::ios::binary);
    exists = static_cast<bool>(in);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

} // namespace

void ReadOptionsFile(const std::string &FileName, const std::string &Section,
                     archives::TArchiverOptions &Options) {
    bool exists = false;
    const std::vector<std::string> lines = ReadLines(FileName, exists);
    if (!exists)
        throw std::runtime_error(FileName + ": cannot read the options file");
    TPropertyValues values;
    bool inSection = false, found = false;
    for (const auto &line : lines) {
        const std::string header = SectionOf(line);
        if (!header.empty()) {
            inSection = SameText(header, Section);
            found = found || inSection;
            continue;
        }
        const std::string t = Trim(line);
        if (!inSection || t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        const size_t eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        values.emplace_back(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
    }
    if (!found)
        throw std::runtime_error(FileName + ": no section [" + Section + "]");
    // A section written for the component holds its other properties too; only its Options
    // belong to the record then.
    bool formStyle = false;
    for (auto &[name, value] : values)
        if (StartsWithText(name, kFormPrefix)) {
            formStyle = true;
            name = kFormPrefix + name.substr(std::string(kFormPrefix).size());
        }
    Options.ReadProperties(values, formStyle ? kFormPrefix : "");
}

void WriteOptionsFile(const std::string &FileName, const std::string &Section,
                      const archives::TArchiverOptions &Options) {
    bool exists = false;
    const std::vector<std::string> lines = ReadLines(FileName, exists);
    std::string body = "[" + Section + "]\n";
    for (const auto &[name, value] : Options.WriteProperties())
        body += name + "=" + value + "\n";

    std::string out;
    if (!exists)
        out = "; arcfile switch record: one key per switch that differs from its default\n"
              "; (numbers as decimals, strings as quoted literals, #0 for the unset string).\n"
              "; A switch missing here is not given. Read with: arcfile ... --options FILE\n";
    bool written = false, skipping = false;
    for (const auto &line : lines) {
        const std::string header = SectionOf(line);
        if (!header.empty()) {
            skipping = SameText(header, Section);
            if (skipping && !written) {
                out += body;
                written = true;
            }
            if (skipping)
                continue;
        }
        if (!skipping)
            out += line + "\n";
    }
    if (!written)
        out += (out.empty() || out.ends_with("\n\n") ? "" : "\n") + body;

    platform::ReplacingFileWriter writer(FileName);
    if (!writer.Ok() || !writer.Write(out) || !writer.Commit())
        throw platform::EProfileWriteError(FileName);
}

} // namespace arcfile
