// The component's exception family. Every failure the component raises is an EArchiver (or a
// subclass) carrying the exact message text callers show to the user.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace archives {

// Fills "%s" (in order) and "%0:s", "%1:s", ... (by index) placeholders, as the message texts use
// them.
std::string FormatMessage(std::string_view fmt, const std::vector<std::string> &args);

class EArchiver : public std::runtime_error {
public:
    explicit EArchiver(const std::string &message) : std::runtime_error(message) {}
};

class ENoArchiverDLL : public EArchiver {
public:
    using EArchiver::EArchiver;
};

class EEntryNotFound : public EArchiver {
public:
    using EArchiver::EArchiver;
};

class ESfxNoRequiredFile : public EArchiver {
public:
    ESfxNoRequiredFile(std::string arcType, std::string platform, std::string requiredFile);
    std::string ArcType;
    std::string Platform;
    std::string RequiredFile;
};

} // namespace archives
