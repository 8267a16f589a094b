#include "archives/Exceptions.h"

#include <cctype>

namespace archives {

std::string FormatMessage(std::string_view fmt, const std::vector<std::string> &args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%' || i + 1 >= fmt.size()) {
            out += fmt[i];
            continue;
        }
        if (fmt[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        size_t index = next;
        if (std::isdigit(static_cast<unsigned char>(fmt[j]))) {
            size_t k = j;
            size_t n = 0;
            while (k < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[k])))
                n = n * 10 + static_cast<size_t>(fmt[k++] - '0');
            if (k < fmt.size() && fmt[k] == ':') {
                index = n;
                j = k + 1;
            }
        }
        if (j < fmt.size() && fmt[j] == 's') {
            if (index < args.size())
                out += args[index];
            next = index + 1;
            i = j;
        } else {
            out += fmt[i];
        }
    }
    return out;
}

ESfxNoRequiredFile::ESfxNoRequiredFile(std::string arcType, std::string platform,
                                       std::string requiredFile)
    : EArchiver(arcType + " 書庫からの" + platform + "自己解凍書庫の作成には '" + requiredFile +
                "' ファイルが必要です。"),
      ArcType(std::move(arcType)), Platform(std::move(platform)),
      RequiredFile(std::move(requiredFile)) {}

} // namespace archives
