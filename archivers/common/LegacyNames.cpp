#include "archivers/common/LibArchive.h"

#include "archivers/common/ArcErrors.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <iconv.h>
#include <string>

// Entry names: UTF-8 where the archive says so, and the legacy code pages of old archives.
namespace arclib {

void SetLinkTarget(archive_entry *e, const std::string &utf8) {
    if (platform::IsValidUtf8(utf8))
        archive_entry_set_symlink_utf8(e, utf8.c_str());
    else
        archive_entry_copy_symlink(e, utf8.c_str());
}

void SetEntryName(archive_entry *e, const std::string &utf8) {
    if (platform::IsValidUtf8(utf8))
        archive_entry_set_pathname_utf8(e, utf8.c_str());
    else
        archive_entry_copy_pathname(e, utf8.c_str());
}

namespace {
// Strict conversion to UTF-8; false when any byte sequence is invalid in the source charset.
bool Convert(const char *charset, std::string_view in, std::string &out) {
    iconv_t cd = ::iconv_open("UTF-8", charset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string src(in);
    out.assign(src.size() * 4 + 4, '\0');
    char *inp = src.data();
    size_t inLeft = src.size();
    char *outp = out.data();
    size_t outLeft = out.size();
    size_t r = ::iconv(cd, &inp, &inLeft, &outp, &outLeft);
    ::iconv_close(cd);
    if (r == static_cast<size_t>(-1) || inLeft != 0)
        return false;
    out.resize(out.size() - outLeft);
    return true;
}

bool HasHalfWidthKatakanaOnly(const std::string &utf8) {
    // U+FF61..U+FF9F are EF BD A1..EF BE 9F; true when every non-ASCII character is one of them.
    bool any = false;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c == 0xEF && i + 2 < utf8.size() &&
            ((static_cast<unsigned char>(utf8[i + 1]) == 0xBD &&
              static_cast<unsigned char>(utf8[i + 2]) >= 0xA1) ||
             (static_cast<unsigned char>(utf8[i + 1]) == 0xBE &&
              static_cast<unsigned char>(utf8[i + 2]) <= 0x9F))) {
            any = true;
            i += 3;
            continue;
        }
        return false;
    }
    return any;
}
} // namespace

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

LegacyCharset ChooseLegacyCharset(const std::vector<std::string> &rawNames) {
    bool anyInvalid = false;
    for (const auto &n : rawNames)
        anyInvalid = anyInvalid || !platform::IsValidUtf8(n);
    if (!anyInvalid)
        return LegacyCharset::None; // every name reads as UTF-8: take them so
    bool sjisAll = true, eucAll = true, katakanaOnly = true;
    std::string out;
    for (const auto &n : rawNames) {
        if (IsAscii(n))
            continue;
        if (sjisAll) {
            sjisAll = Convert("CP932", n, out);
            katakanaOnly = katakanaOnly && sjisAll && HasHalfWidthKatakanaOnly(out);
        }
        if (eucAll)
            eucAll = Convert("EUC-JP", n, out);
    }
    // Read as CP932, names of nothing but half-width katakana are more likely EUC-JP kanji.
    if (sjisAll && !(katakanaOnly && eucAll))
        return LegacyCharset::Cp932;
    if (eucAll)
        return LegacyCharset::EucJp;
    return LegacyCharset::None;
}

std::string LegacyNameToUtf8(std::string_view raw, LegacyCharset cs) {
    if (cs != LegacyCharset::None && !IsAscii(raw)) {
        std::string out;
        if (Convert(cs == LegacyCharset::Cp932 ? "CP932" : "EUC-JP", raw, out))
            return out;
    }
    return LegacyNameToUtf8(raw);
}

std::string LegacyNameToUtf8(std::string_view raw) {
    if (platform::IsValidUtf8(raw))
        return std::string(raw);
    std::string sjis, euc;
    bool sjisOk = Convert("CP932", raw, sjis);
    bool eucOk = Convert("EUC-JP", raw, euc);
    if (sjisOk && eucOk && HasHalfWidthKatakanaOnly(sjis))
        return euc;
    if (sjisOk)
        return sjis;
    if (eucOk)
        return euc;
    return std::string(raw);
}

std::string LinkTarget(archive_entry *e) {
    if (const char *l = archive_entry_symlink_utf8(e))
        return l;
    if (const char *h = archive_entry_hardlink_utf8(e))
        return h;
    const char *raw = archive_entry_symlink(e);
    if (!raw)
        raw = archive_entry_hardlink(e);
    return raw ? LegacyNameToUtf8(raw) : std::string();
}

std::string EntryName(archive_entry *e) {
    if (const char *n = archive_entry_pathname_utf8(e))
        return n;
    // Names in no known character set (old tar, cpio, ar headers): the raw bytes.
    const char *raw = archive_entry_pathname(e);
    return raw ? LegacyNameToUtf8(raw) : std::string();
}

} // namespace arclib
