// The switch record that travels with every archive operation. Its fields are named by the
// switch letters of the archiver command lines; each format back-end decides which of them it
// writes and how. The record only stores values and knows nothing of formats.
//
// Not given: a numeric switch holds a negative value (-1 after construction); a string switch
// holds the unset string, exactly one NUL character (an empty string is a given value).
#pragma once

#include "archives/Classes.h"
#include "archives/StoredProperties.h"
#include "archives/StringList.h"

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace archives {

using ShortInt = std::int8_t;

// The value of a string switch that is not given: one character of code 0.
inline const std::string UnsetString(1, '\0');
inline bool IsUnsetString(std::string_view s) {
    return s.size() == 1 && s[0] == '\0';
}

// Who expands the file arguments of a pack: the archiver (they go onto its command line as they
// are) or the component (through the file list builder; the default).
enum TPackFilter : std::uint8_t { pfArchiver, pfComponent };

// Operations that may put their file list into the response file.
enum TResFileUse : std::uint8_t { ruOnPack, ruOnUnpack, ruOnRemoveItem, ruOnUpdate };

// A set of TResFileUse; bit n stands for the use of ordinal n.
class TResFileUsage {
public:
    constexpr TResFileUsage() = default;
    constexpr TResFileUsage(std::initializer_list<TResFileUse> uses) {
        for (auto u : uses)
            Include(u);
    }
    constexpr bool Contains(TResFileUse u) const { return (Bits_ >> u) & 1u; }
    constexpr void Include(TResFileUse u) { Bits_ = static_cast<std::uint8_t>(Bits_ | (1u << u)); }
    constexpr void Exclude(TResFileUse u) { Bits_ = static_cast<std::uint8_t>(Bits_ & ~(1u << u)); }
    constexpr bool Empty() const { return Bits_ == 0; }
    constexpr std::uint8_t Bits() const { return Bits_; }
    static constexpr TResFileUsage FromBits(std::uint8_t bits) {
        TResFileUsage s;
        s.Bits_ = static_cast<std::uint8_t>(bits & 0x0F);
        return s;
    }
    friend constexpr bool operator==(TResFileUsage, TResFileUsage) = default;

private:
    std::uint8_t Bits_ = 0;
};

inline constexpr TResFileUsage DefaultResFileUsage{ruOnPack, ruOnUnpack, ruOnRemoveItem};

struct TOptionProperty;

class TArchiverOptions : public TPersistent {
public:
    // Create: an empty jx, then Reset.
    TArchiverOptions();
    // A record is an object with an identity (the component owns one and publishes it); copies
    // are made with Assign.
    TArchiverOptions(const TArchiverOptions &) = delete;
    TArchiverOptions &operator=(const TArchiverOptions &) = delete;
    ~TArchiverOptions() override = default;

    std::string ClassName() const override { return "TArchiverOptions"; }

    // Every field back to its value after construction; jx is emptied, not replaced.
    void Reset();

    using TPersistent::Assign;

    // The published properties that differ from their stored defaults, in declaration order,
    // named Prefix + property name (jx as Prefix + "jx.Strings"). jyc and ResFileUsage have no
    // stored default and are always written; the five string switches are always written (unset
    // or empty, both differ from the other); the other strings and jx when not empty.
    void WriteProperties(TPropertyValues &Out, std::string_view Prefix = {}) const;
    TPropertyValues WriteProperties(std::string_view Prefix = {}) const;
    // Resets the record, then takes the values of the entries whose names start with Prefix; a
    // property that is missing keeps its default. EReadError for an unknown property under the
    // prefix or a value that does not fit.
    void ReadProperties(const TPropertyValues &In, std::string_view Prefix = {});

    // Every published property in declaration order, with its kind and stored default.
    static std::span<const TOptionProperty> Properties();
    static const TOptionProperty *FindProperty(std::string_view Name);

    // Fields in declaration order (the order Reset and AssignTo treat them).
    ShortInt a, c, e, f, h, i, l, m, n, o, p, r, s, t, u;
    std::string w; // a directory
    ShortInt x, y, z;
    ShortInt jc, jd, je, jf, jh, ji, jm, jn;
    std::string jo, job;
    ShortInt jp, jr;
    ShortInt jsb, jsc, jsd, jse, jsf, jsl, jso, jss, jst, jsv, jsz;
    ShortInt jw;
    // Exclusion list: file arguments whose files are left out when the component collects files.
    // Owned by the record; assigning a record copies its contents.
    TStringList jx;
    ShortInt jyc, jyd, jyk, jyn, jyo;
    std::string jz;
    ShortInt ga, gd, ge, gf, gj, gm, gn, go, gp;
    std::string gr;
    ShortInt gs, gu, gw;

    std::string UserOptions;  // extra switches, added verbatim after the back-end's switches
    std::string UserFileList; // extra file arguments, added verbatim after the file arguments
    TPackFilter PackFilter;
    std::string ResFileName; // response-file name
    TResFileUsage ResFileUsage;

protected:
    // To another TArchiverOptions: every field in declaration order. Anything else is refused.
    void AssignTo(TPersistent &Dest) const override;
};

struct TOptionProperty {
    enum class TKind : std::uint8_t { Number, String, StringList, PackFilter, ResFileUsage };
    std::string_view Name;
    TKind Kind;
    ShortInt TArchiverOptions::*Number = nullptr;    // Kind Number
    std::string TArchiverOptions::*String = nullptr; // Kind String
    // False for the properties always written (jyc, ResFileUsage).
    bool HasStoredDefault = true;
};

} // namespace archives
