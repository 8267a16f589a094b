// Profile (INI) files with the semantics of the Windows profile functions as the dialog uses them:
// sections and keys compared without regard to case, values trimmed on reading, every other line of
// the file kept when a key is written, the file created by the first write. Each write goes to the
// file at once, so keys written before a failing write stay written, and replaces the file only
// by a complete new one. A file that starts with a UTF-16 byte order mark is read and written as
// UTF-16; anything else is bytes, a UTF-8 byte order mark kept. A file that cannot be read as a
// profile (not a regular file, larger than 16 MiB, broken UTF-16) reads as missing and is never
// written over.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// A write that could not be stored; the message names the file ("%s に書き込めません").
class EProfileWriteError : public std::runtime_error {
public:
    explicit EProfileWriteError(const std::string &fileName);
    std::string FileName;
};

// Longest string a read returns, in bytes (the classic 2048-byte buffer less its terminator). A
// string is never cut inside a character.
inline constexpr size_t MaxProfileString = 2047;

// Reads an integer as the profile reader does: optional sign, then decimal digits, or hexadecimal
// digits after "0x", "0X" or "$". Anything else, or a value outside 32 bits, is not a number.
// Hexadecimal takes the full 32 bits ("$FFFFFFFF" is -1).
std::optional<int> ParseProfileInteger(std::string_view text);

class ProfileFile {
public:
    explicit ProfileFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string &FileName() const { return fileName_; }

    // Why the file cannot be read ("does not exist", "is not a regular file", ...); empty when it
    // can. Reading such a file gives the defaults.
    std::string ReadProblem() const;

    // The value of the key, or def when the file, the section or the key is missing, or when the
    // value holds a NUL byte.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Not a number reads as def.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // Read as an integer; any nonzero value is true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    // Each raises EProfileWriteError when the file cannot be written or the value cannot be stored
    // as one line that reads back (it holds a line break or a NUL byte).
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value); // "1" or "0"

    // Every key of the section with its value, in the file's order (values read as ReadString
    // reads them); empty when the file or the section is missing.
    std::vector<std::pair<std::string, std::string>> ReadSection(std::string_view section) const;
    // Makes the section hold exactly these keys (the section's other lines go, the rest of the
    // file stays), in one write. EProfileWriteError as for WriteString.
    void WriteSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>> &values);

private:
    std::string fileName_;
};

} // namespace platform
