// What libarchive itself reads from a cabinet, for the CAB32 tests.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <string>
#include <utility>
#include <vector>

namespace cabtest {

// libarchive converts names by the thread's locale: UTF-8 names need a UTF-8 locale.
class Utf8Locale {
public:
    Utf8Locale() : mine_(::newlocale(LC_ALL_MASK, "C.UTF-8", nullptr)) {
        if (mine_)
            previous_ = ::uselocale(mine_);
    }
    ~Utf8Locale() {
        if (mine_) {
            ::uselocale(previous_);
            ::freelocale(mine_);
        }
    }
    Utf8Locale(const Utf8Locale &) = delete;
    Utf8Locale &operator=(const Utf8Locale &) = delete;

private:
    locale_t mine_;
    locale_t previous_ = nullptr;
};

// Names and contents in the cabinet's order; ok when it read to the end without an error or a
// warning (a bad checksum is one).
inline std::vector<std::pair<std::string, std::string>> ReadBack(const std::string &cabinet,
                                                                 bool *ok) {
    Utf8Locale utf8;
    std::vector<std::pair<std::string, std::string>> files;
    archive *a = archive_read_new();
    archive_read_support_format_cab(a);
    *ok = archive_read_open_filename(a, cabinet.c_str(), 65536) == ARCHIVE_OK;
    archive_entry *e = nullptr;
    int r = ARCHIVE_FATAL;
    while (*ok && (r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        std::string data;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            data.append(buf, static_cast<size_t>(n));
        *ok = n == 0;
        const char *name = archive_entry_pathname_utf8(e);
        files.emplace_back(name ? name : "", data);
    }
    *ok = *ok && r == ARCHIVE_EOF;
    archive_read_free(a);
    return files;
}

} // namespace cabtest
