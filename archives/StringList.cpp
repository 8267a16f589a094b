#include "archives/StringList.h"

#include <algorithm>

namespace archives {

namespace {
int CompareBytes(std::string_view a, std::string_view b) {
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

unsigned char AsciiLower(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

// Letter case of ASCII letters only: the bytes of double-byte characters must compare as they
// are.
int CompareAsciiNoCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = AsciiLower(a[i]);
        const unsigned char y = AsciiLower(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}
} // namespace

TStringList::TStringList(std::initializer_list<std::string> strings) {
    for (const auto &s : strings)
        Add(s);
}

void TStringList::Assign(const TPersistent *Source) {
    if (const auto *other = dynamic_cast<const TStringList *>(Source)) {
        if (other == this)
            return;
        Items_ = other->Items_;
        if (Sorted_)
            Sort();
        return;
    }
    TPersistent::Assign(Source);
}

const TStringItem &TStringList::At(int Index) const {
    if (Index < 0 || Index >= Count())
        throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
    return Items_[static_cast<size_t>(Index)];
}

TStringItem &TStringList::AtMut(int Index) {
    return const_cast<TStringItem &>(static_cast<const TStringList *>(this)->At(Index));
}

void TStringList::PutString(int Index, std::string S) {
    if (Sorted_)
        throw EStringListError("Operation not allowed on sorted list");
    AtMut(Index).String = std::move(S);
}

int TStringList::AddObject(std::string S, TObject *Object) {
    if (!Sorted_) {
        Items_.push_back({std::move(S), Object});
        return Count() - 1;
    }
    int index = 0;
    if (Find(S, index)) {
        if (Duplicates == TDuplicates::dupIgnore)
            return index;
        if (Duplicates == TDuplicates::dupError)
            throw EStringListError("String list does not allow duplicates");
    }
    Items_.insert(Items_.begin() + index, TStringItem{std::move(S), Object});
    return index;
}

void TStringList::AddStrings(const TStringList &Other) {
    if (&Other == this) {
        const TStringList copy(Other);
        AddStrings(copy);
        return;
    }
    for (const auto &item : Other.Items_)
        AddObject(item.String, item.Object);
}

void TStringList::Insert(int Index, std::string S, TObject *Object) {
    if (Sorted_)
        throw EStringListError("Operation not allowed on sorted list");
    if (Index < 0 || Index > Count())
        throw EStringListError("List index out of bounds (" + std::to_string(Index) + ")");
    Items_.insert(Items_.begin() + Index, TStringItem{std::move(S), Object});
}

void TStringList::Delete(int Index) {
    At(Index);
    Items_.erase(Items_.begin() + Index);
}

int TStringList::CompareStrings(std::string_view a, std::string_view b) const {
    if (Compare_)
        return Compare_(a, b);
    return CaseSensitive_ ? CompareBytes(a, b) : CompareAsciiNoCase(a, b);
}

int TStringList::IndexOf(std::string_view S) const {
    if (Sorted_) {
        int index = 0;
        return Find(S, index) ? index : -1;
    }
    for (size_t i = 0; i < Items_.size(); ++i)
        if (CompareStrings(Items_[i].String, S) == 0)
            return static_cast<int>(i);
    return -1;
}

bool TStringList::Find(std::string_view S, int &Index) const {
    // The first of equal strings, so that IndexOf agrees with an unsorted search.
    const auto it = std::lower_bound(Items_.begin(), Items_.end(), S,
                                     [this](const TStringItem &item, std::string_view s) {
                                         return CompareStrings(item.String, s) < 0;
                                     });
    Index = static_cast<int>(it - Items_.begin());
    return it != Items_.end() && CompareStrings(it->String, S) == 0;
}

void TStringList::Sort() {
    std::stable_sort(Items_.begin(), Items_.end(),
                     [this](const TStringItem &a, const TStringItem &b) {
                         return CompareStrings(a.String, b.String) < 0;
                     });
}

void TStringList::SetSorted(bool Value) {
    if (Value && !Sorted_)
        Sort();
    Sorted_ = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
    CaseSensitive_ = Value;
    if (Sorted_)
        Sort();
}

void TStringList::SetCompare(TCompare Compare) {
    Compare_ = std::move(Compare);
    if (Sorted_)
        Sort();
}

std::vector<std::string> TStringList::ToVector() const {
    std::vector<std::string> out;
    out.reserve(Items_.size());
    for (const auto &item : Items_)
        out.push_back(item.String);
    return out;
}

} // namespace archives
