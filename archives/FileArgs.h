// File arguments: the loosely typed values that operations taking files accept, in the order the
// caller gives them, and their expansion into a plain list of names. Each value keeps its kind,
// because the kind decides what names it stands for: strings, character pointers and nil-ended
// arrays of character pointers give their text, a string list gives its lines, a variant its
// text (an array variant one text per element), and numbers, characters, classes, interfaces and
// objects other than string lists give nothing.
#pragma once

#include "archives/Classes.h"
#include "archives/StringList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <variant>
#include <vector>

namespace archives {

// A string of at most 255 bytes (longer text is cut).
struct TShortString {
    TShortString() = default;
    explicit TShortString(std::string_view s) : Text(s.substr(0, 255)) {}
    std::string Text;
};

// An untyped pointer taken as an array of pointers to NUL-terminated strings ended by a null
// entry. The array must outlive the argument.
struct TPCharArray {
    const char *const *Items = nullptr;
};

// Kinds that stand for no name.
struct TCurrency {
    std::int64_t Scaled = 0; // value times 10000
};
struct TClassRef {
    const std::type_info *Type = nullptr;
};
struct TInterfaceRef {
    const void *Pointer = nullptr;
};

// A variant value. An array variant holds the elements of its first dimension, low bound first.
class TVariant {
public:
    struct TEmpty {
        friend bool operator==(TEmpty, TEmpty) = default;
    };
    struct TNull {
        friend bool operator==(TNull, TNull) = default;
    };
    using TArray = std::vector<TVariant>;
    using TValue = std::variant<TEmpty, TNull, bool, std::int64_t, double, std::string,
                                std::u16string, TArray>;

    TVariant() = default;
    TVariant(bool v) : Value_(v) {}
    TVariant(int v) : Value_(std::int64_t{v}) {}
    TVariant(std::int64_t v) : Value_(v) {}
    TVariant(double v) : Value_(v) {}
    TVariant(std::string v) : Value_(std::move(v)) {}
    TVariant(const char *v) : Value_(std::string(v ? v : "")) {}
    TVariant(std::u16string v) : Value_(std::move(v)) {}
    static TVariant Null() {
        TVariant v;
        v.Value_ = TNull{};
        return v;
    }
    static TVariant Array(TArray elements) {
        TVariant v;
        v.Value_ = std::move(elements);
        return v;
    }

    bool IsEmpty() const { return std::holds_alternative<TEmpty>(Value_); }
    bool IsNull() const { return std::holds_alternative<TNull>(Value_); }
    bool IsArray() const { return std::holds_alternative<TArray>(Value_); }
    const TValue &Value() const { return Value_; }

    // The variant's text: Empty gives "", Boolean "True"/"False", numbers in decimal (floating
    // point with 15 significant digits), wide text in the system code page. Null and arrays have
    // no text: EVariantTypeCastError.
    std::string ToString() const;

private:
    TValue Value_;
};

enum class TFileArgKind {
    String,      // 8-bit string
    ShortString, // short string
    WideString,  // UTF-16 string
    PChar,       // pointer to NUL-terminated characters
    Pointer,     // untyped pointer: nil-ended array of character pointers
    Object,      // an object (a string list gives its lines) or nil
    Variant,
    Integer,
    Boolean,
    Char,
    Extended, // floating point
    Currency,
    Class,
    WideChar,
    Interface,
    Int64,
};

class TFileArg {
public:
    using TValue = std::variant<std::string, TShortString, std::u16string, const char *,
                                TPCharArray, const TObject *, TVariant, int, bool, char, double,
                                TCurrency, TClassRef, char16_t, TInterfaceRef, std::int64_t>;

    TFileArg(std::string v) : Value_(std::in_place_index<0>, std::move(v)) {}
    TFileArg(TShortString v) : Value_(std::in_place_index<1>, std::move(v)) {}
    TFileArg(std::u16string v) : Value_(std::in_place_index<2>, std::move(v)) {}
    TFileArg(const char *v) : Value_(std::in_place_index<3>, v) {}
    TFileArg(TPCharArray v) : Value_(std::in_place_index<4>, v) {}
    TFileArg(std::nullptr_t) : Value_(std::in_place_index<4>, TPCharArray{}) {}
    TFileArg(const TObject *v) : Value_(std::in_place_index<5>, v) {}
    TFileArg(const TObject &v) : Value_(std::in_place_index<5>, &v) {}
    // The argument keeps only the address: a temporary object would be gone before use.
    TFileArg(const TObject &&) = delete;
    TFileArg(TVariant v) : Value_(std::in_place_index<6>, std::move(v)) {}
    TFileArg(int v) : Value_(std::in_place_index<7>, v) {}
    TFileArg(bool v) : Value_(std::in_place_index<8>, v) {}
    TFileArg(char v) : Value_(std::in_place_index<9>, v) {}
    TFileArg(double v) : Value_(std::in_place_index<10>, v) {}
    TFileArg(TCurrency v) : Value_(std::in_place_index<11>, v) {}
    TFileArg(TClassRef v) : Value_(std::in_place_index<12>, v) {}
    TFileArg(char16_t v) : Value_(std::in_place_index<13>, v) {}
    TFileArg(TInterfaceRef v) : Value_(std::in_place_index<14>, v) {}
    TFileArg(std::int64_t v) : Value_(std::in_place_index<15>, v) {}

    TFileArgKind Kind() const { return static_cast<TFileArgKind>(Value_.index()); }
    const TValue &Value() const { return Value_; }

private:
    TValue Value_;
};

// An open list of file arguments, in the caller's order.
using TFileArgs = std::vector<TFileArg>;

// Calls Name for every text the arguments stand for, in order, empty texts included. A variant
// without text form raises EVariantTypeCastError (names before it have been passed on).
void ForEachFileArgName(const TFileArgs &Args, const std::function<void(std::string)> &Name);

// A new unsorted list (duplicates kept) of the non-empty names the arguments stand for, in order.
// The caller owns it.
std::unique_ptr<TStringList> ExpandFileArgs(const TFileArgs &Args);

} // namespace archives
