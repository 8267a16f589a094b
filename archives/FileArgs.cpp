#include "archives/FileArgs.h"

#include "platform/CodePage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace archives {

namespace {

// Floating point as the runtime library's general format with 15 significant digits: fixed
// notation unless there are more than 15 integer digits or the value is below 0.0001, then d.ddEn
// with no plus sign and no leading zeros in the exponent.
std::string FloatToStr(double v) {
    if (std::isnan(v))
        return "NAN";
    if (std::isinf(v))
        return v < 0 ? "-INF" : "INF";
    if (v == 0)
        return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    // buf: [-]d.ddddddddddddddde[+-]xx
    std::string s(buf);
    const size_t ePos = s.find('e');
    const int exponent = std::atoi(s.c_str() + ePos + 1);
    const bool negative = s[0] == '-';
    std::string digits;
    for (size_t i = negative ? 1 : 0; i < ePos; ++i)
        if (s[i] != '.')
            digits += s[i];
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out = negative ? "-" : "";
    if (exponent >= 15 || exponent < -4) {
        out += digits[0];
        if (digits.size() > 1)
            out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
        return out;
    }
    const size_t intDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intDigits)
        return out + digits + std::string(intDigits - digits.size(), '0');
    return out + digits.substr(0, intDigits) + "." + digits.substr(intDigits);
}

[[noreturn]] void CastError(const char *type) {
    throw EVariantTypeCastError(std::string("Could not convert variant of type (") + type +
                                ") into type (String)");
}

struct VariantText {
    std::string operator()(TVariant::TEmpty) const { return {}; }
    std::string operator()(TVariant::TNull) const { CastError("Null"); }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(std::int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const { return FloatToStr(v); }
    std::string operator()(const std::string &v) const { return v; }
    std::string operator()(const std::u16string &v) const { return platform::WideToCodePage(v); }
    std::string operator()(const TVariant::TArray &) const { CastError("Array Variant"); }
};

} // namespace

std::string TVariant::ToString() const {
    return std::visit(VariantText{}, Value_);
}

void ForEachFileArgName(const TFileArgs &Args, const std::function<void(std::string)> &Name) {
    for (const TFileArg &arg : Args) {
        const auto &v = arg.Value();
        switch (arg.Kind()) {
        case TFileArgKind::String:
            Name(std::get<std::string>(v));
            break;
        case TFileArgKind::ShortString:
            Name(std::get<TShortString>(v).Text);
            break;
        case TFileArgKind::WideString:
            Name(platform::WideToCodePage(std::get<std::u16string>(v)));
            break;
        case TFileArgKind::PChar: {
            const char *p = std::get<const char *>(v);
            Name(p ? std::string(p) : std::string());
            break;
        }
        case TFileArgKind::Pointer:
            if (const char *const *items = std::get<TPCharArray>(v).Items)
                for (; *items != nullptr; ++items)
                    Name(*items);
            break;
        case TFileArgKind::Object:
            if (const auto *list = dynamic_cast<const TStringList *>(std::get<const TObject *>(v)))
                for (const auto &item : *list)
                    Name(item.String);
            break;
        case TFileArgKind::Variant: {
            const TVariant &var = std::get<TVariant>(v);
            if (const auto *elements = std::get_if<TVariant::TArray>(&var.Value())) {
                for (const TVariant &e : *elements)
                    Name(e.ToString());
            } else {
                Name(var.ToString());
            }
            break;
        }
        default:
            break; // numbers, characters, classes and interfaces name no file
        }
    }
}

std::unique_ptr<TStringList> ExpandFileArgs(const TFileArgs &Args) {
    auto list = std::make_unique<TStringList>();
    ForEachFileArgName(Args, [&list](std::string name) {
        if (!name.empty())
            list->Add(std::move(name));
    });
    return list;
}

} // namespace archives
