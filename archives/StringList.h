// An ordered list of strings, each with an optional associated object, as the switch record's
// exclusion list `jx` and the file lists of a pack run use it. The list does not own the
// associated objects. It may be kept sorted under a comparison of the caller's choice, and then
// decides what to do with a string that compares equal to one already present.
#pragma once

#include "archives/Classes.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace archives {

enum class TDuplicates { dupIgnore, dupAccept, dupError };

// Index out of range, or a duplicate refused by dupError.
class EStringListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TStringItem {
    std::string String;
    TObject *Object = nullptr; // not owned
};

class TStringList : public TPersistent {
public:
    // Negative, zero or positive as a is before, equal to or after b.
    using TCompare = std::function<int(std::string_view a, std::string_view b)>;

    TStringList() = default;
    TStringList(std::initializer_list<std::string> strings);
    TStringList(const TStringList &) = default;
    TStringList &operator=(const TStringList &) = default;

    std::string ClassName() const override { return "TStringList"; }

    // From another string list: its strings and associated objects replace this list's contents
    // (sorting and duplicate settings stay). Anything else is refused.
    void Assign(const TPersistent *Source) override;
    using TPersistent::Assign;

    int Count() const { return static_cast<int>(Items_.size()); }
    bool Empty() const { return Items_.empty(); }
    const std::string &operator[](int Index) const { return At(Index).String; }
    const std::string &Strings(int Index) const { return At(Index).String; }
    void PutString(int Index, std::string S);
    TObject *Objects(int Index) const { return At(Index).Object; }
    void PutObject(int Index, TObject *Object) { AtMut(Index).Object = Object; }

    // Returns the index the string went to; with a sorted list and dupIgnore, the index of the
    // string already present.
    int Add(std::string S) { return AddObject(std::move(S), nullptr); }
    int AddObject(std::string S, TObject *Object);
    void AddStrings(const TStringList &Other);
    // Not allowed on a sorted list.
    void Insert(int Index, std::string S, TObject *Object = nullptr);
    void Delete(int Index);
    void Clear() { Items_.clear(); }

    // Index of the first string equal under the list's comparison, or -1.
    int IndexOf(std::string_view S) const;
    // Sorted lists only: true when found; Index is where it is or where it would go.
    bool Find(std::string_view S, int &Index) const;

    bool Sorted() const { return Sorted_; }
    void SetSorted(bool Value);
    TDuplicates Duplicates = TDuplicates::dupIgnore;
    bool CaseSensitive() const { return CaseSensitive_; }
    void SetCaseSensitive(bool Value);
    // Replaces the comparison (null restores the one CaseSensitive chooses); re-sorts a sorted
    // list.
    void SetCompare(TCompare Compare);
    int CompareStrings(std::string_view a, std::string_view b) const;

    std::vector<std::string> ToVector() const;
    auto begin() const { return Items_.begin(); }
    auto end() const { return Items_.end(); }

    friend bool operator==(const TStringList &a, const TStringList &b) {
        return a.ToVector() == b.ToVector();
    }

private:
    const TStringItem &At(int Index) const;
    TStringItem &AtMut(int Index);
    void Sort();

    std::vector<TStringItem> Items_;
    bool Sorted_ = false;
    bool CaseSensitive_ = false;
    TCompare Compare_;
};

} // namespace archives
