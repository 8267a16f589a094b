#include "archives/ArchiverOptions.h"

#include <array>
#include <charconv>

namespace archives {

namespace {
using K = TOptionProperty::TKind;
using O = TArchiverOptions;

constexpr TOptionProperty Num(std::string_view name, ShortInt O::*field, bool stored = true) {
    return {name, K::Number, field, nullptr, stored};
}
constexpr TOptionProperty Str(std::string_view name, std::string O::*field) {
    return {name, K::String, nullptr, field, true};
}

// Declaration order; Reset, AssignTo and the stored form all walk this table.
constexpr std::array<TOptionProperty, 68> kProperties{{
    Num("a", &O::a),
    Num("c", &O::c),
    Num("e", &O::e),
    Num("f", &O::f),
    Num("h", &O::h),
    Num("i", &O::i),
    Num("l", &O::l),
    Num("m", &O::m),
    Num("n", &O::n),
    Num("o", &O::o),
    Num("p", &O::p),
    Num("r", &O::r),
    Num("s", &O::s),
    Num("t", &O::t),
    Num("u", &O::u),
    Str("w", &O::w),
    Num("x", &O::x),
    Num("y", &O::y),
    Num("z", &O::z),
    Num("jc", &O::jc),
    Num("jd", &O::jd),
    Num("je", &O::je),
    Num("jf", &O::jf),
    Num("jh", &O::jh),
    Num("ji", &O::ji),
    Num("jm", &O::jm),
    Num("jn", &O::jn),
    Str("jo", &O::jo),
    Str("job", &O::job),
    Num("jp", &O::jp),
    Num("jr", &O::jr),
    Num("jsb", &O::jsb),
    Num("jsc", &O::jsc),
    Num("jsd", &O::jsd),
    Num("jse", &O::jse),
    Num("jsf", &O::jsf),
    Num("jsl", &O::jsl),
    Num("jso", &O::jso),
    Num("jss", &O::jss),
    Num("jst", &O::jst),
    Num("jsv", &O::jsv),
    Num("jsz", &O::jsz),
    Num("jw", &O::jw),
    {"jx", K::StringList},
    Num("jyc", &O::jyc, false),
    Num("jyd", &O::jyd),
    Num("jyk", &O::jyk),
    Num("jyn", &O::jyn),
    Num("jyo", &O::jyo),
    Str("jz", &O::jz),
    Num("ga", &O::ga),
    Num("gd", &O::gd),
    Num("ge", &O::ge),
    Num("gf", &O::gf),
    Num("gj", &O::gj),
    Num("gm", &O::gm),
    Num("gn", &O::gn),
    Num("go", &O::go),
    Num("gp", &O::gp),
    Str("gr", &O::gr),
    Num("gs", &O::gs),
    Num("gu", &O::gu),
    Num("gw", &O::gw),
    Str("UserOptions", &O::UserOptions),
    Str("UserFileList", &O::UserFileList),
    {"PackFilter", K::PackFilter},
    Str("ResFileName", &O::ResFileName),
    {"ResFileUsage", K::ResFileUsage, nullptr, nullptr, false},
}};

// The string switches start unset; the component settings start empty.
bool StartsUnset(const TOptionProperty &p) {
    return p.Kind == K::String && p.Name != "UserOptions" && p.Name != "UserFileList" &&
           p.Name != "ResFileName";
}

constexpr std::array<std::string_view, 2> kPackFilterNames{"pfArchiver", "pfComponent"};
constexpr std::array<std::string_view, 4> kResFileUseNames{"ruOnPack", "ruOnUnpack",
                                                           "ruOnRemoveItem", "ruOnUpdate"};

std::string FormatSet(TResFileUsage set) {
    std::string out = "[";
    for (size_t b = 0; b < kResFileUseNames.size(); ++b) {
        if (!set.Contains(static_cast<TResFileUse>(b)))
            continue;
        if (out.size() > 1)
            out += ", ";
        out += kResFileUseNames[b];
    }
    return out + "]";
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void InvalidValue(std::string_view name, std::string_view value) {
    throw EReadError("Invalid property value: " + std::string(name) + " = " + std::string(value));
}

TResFileUsage ParseSet(std::string_view name, std::string_view text) {
    text = TrimBlanks(text);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']')
        InvalidValue(name, text);
    TResFileUsage set;
    std::string_view rest = text.substr(1, text.size() - 2);
    while (!TrimBlanks(rest).empty()) {
        const size_t comma = rest.find(',');
        const std::string_view item = TrimBlanks(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        bool known = false;
        for (size_t b = 0; b < kResFileUseNames.size(); ++b)
            if (item == kResFileUseNames[b]) {
                set.Include(static_cast<TResFileUse>(b));
                known = true;
            }
        if (!known)
            InvalidValue(name, text);
    }
    return set;
}

ShortInt ParseShortInt(std::string_view name, std::string_view text) {
    text = TrimBlanks(text);
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < -128 || value > 127)
        InvalidValue(name, text);
    return static_cast<ShortInt>(value);
}
} // namespace

std::span<const TOptionProperty> TArchiverOptions::Properties() {
    return kProperties;
}

const TOptionProperty *TArchiverOptions::FindProperty(std::string_view Name) {
    for (const auto &p : kProperties)
        if (p.Name == Name)
            return &p;
    return nullptr;
}

TArchiverOptions::TArchiverOptions() {
    Reset();
}

void TArchiverOptions::Reset() {
    for (const auto &p : kProperties) {
        switch (p.Kind) {
        case K::Number:
            this->*p.Number = -1;
            break;
        case K::String:
            // Not the UnsetString constant: a record may be built during static initialisation.
            this->*p.String = StartsUnset(p) ? std::string(1, '\0') : std::string();
            break;
        case K::StringList:
            jx.Clear();
            break;
        case K::PackFilter:
            PackFilter = pfComponent;
            break;
        case K::ResFileUsage:
            ResFileUsage = DefaultResFileUsage;
            break;
        }
    }
}

void TArchiverOptions::AssignTo(TPersistent &Dest) const {
    auto *target = dynamic_cast<TArchiverOptions *>(&Dest);
    if (target == nullptr) {
        TPersistent::AssignTo(Dest);
        return;
    }
    // Copying a record onto itself must not empty its jx on the way.
    if (target == this)
        return;
    for (const auto &p : kProperties) {
        switch (p.Kind) {
        case K::Number:
            target->*p.Number = this->*p.Number;
            break;
        case K::String:
            target->*p.String = this->*p.String;
            break;
        case K::StringList:
            target->jx.Assign(jx);
            break;
        case K::PackFilter:
            target->PackFilter = PackFilter;
            break;
        case K::ResFileUsage:
            target->ResFileUsage = ResFileUsage;
            break;
        }
    }
}

void TArchiverOptions::WriteProperties(TPropertyValues &Out, std::string_view Prefix) const {
    const std::string prefix(Prefix);
    for (const auto &p : kProperties) {
        const std::string name = prefix + std::string(p.Name);
        switch (p.Kind) {
        case K::Number: {
            const ShortInt v = this->*p.Number;
            if (!p.HasStoredDefault || v != -1)
                Out.emplace_back(name, std::to_string(v));
            break;
        }
        case K::String: {
            // An empty string switch is a given value that differs from the unset string it
            // starts as; leaving it out would read back as "not given".
            const std::string &v = this->*p.String;
            if (!v.empty() || StartsUnset(p))
                Out.emplace_back(name, QuoteStringLiteral(v));
            break;
        }
        case K::StringList:
            if (!jx.Empty())
                Out.emplace_back(name + ".Strings", QuoteStringListLiteral(jx.ToVector()));
            break;
        case K::PackFilter:
            if (PackFilter != pfComponent)
                Out.emplace_back(name, std::string(kPackFilterNames.at(PackFilter)));
            break;
        case K::ResFileUsage:
            Out.emplace_back(name, FormatSet(ResFileUsage));
            break;
        }
    }
}

TPropertyValues TArchiverOptions::WriteProperties(std::string_view Prefix) const {
    TPropertyValues out;
    WriteProperties(out, Prefix);
    return out;
}

void TArchiverOptions::ReadProperties(const TPropertyValues &In, std::string_view Prefix) {
    // Read into a fresh record first, so a bad value leaves this one as it was.
    TArchiverOptions read;
    for (const auto &[fullName, value] : In) {
        if (fullName.size() < Prefix.size() || fullName.compare(0, Prefix.size(), Prefix) != 0)
            continue;
        std::string_view name = std::string_view(fullName).substr(Prefix.size());
        const bool isList = name == "jx.Strings";
        const TOptionProperty *p = FindProperty(isList ? std::string_view("jx") : name);
        if (p == nullptr || (p->Kind == K::StringList) != isList)
            throw EReadError("Property " + std::string(name) + " does not exist");
        switch (p->Kind) {
        case K::Number:
            read.*p->Number = ParseShortInt(name, value);
            break;
        case K::String:
            read.*p->String = ParseStringLiteral(value);
            break;
        case K::StringList:
            read.jx.Clear();
            for (auto &line : ParseStringListLiteral(value))
                read.jx.Add(std::move(line));
            break;
        case K::PackFilter: {
            const std::string_view v = TrimBlanks(value);
            if (v == kPackFilterNames[pfArchiver])
                read.PackFilter = pfArchiver;
            else if (v == kPackFilterNames[pfComponent])
                read.PackFilter = pfComponent;
            else
                InvalidValue(name, value);
            break;
        }
        case K::ResFileUsage:
            read.ResFileUsage = ParseSet(name, value);
            break;
        }
    }
    Assign(read);
}

} // namespace archives
