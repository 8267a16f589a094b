#include "archives/StringList.h"

#include <gtest/gtest.h>

using namespace archives;

TEST(StringList, KeepsOrderDuplicatesAndAssociatedObjects) {
    TStringList other;
    TStringList l;
    l.Add("b");
    l.AddObject("a", &other);
    l.Add("b");
    l.Insert(0, "first");
    EXPECT_EQ(l.ToVector(), (std::vector<std::string>{"first", "b", "a", "b"}));
    EXPECT_EQ(l.Objects(2), &other);
    EXPECT_EQ(l.Objects(1), nullptr);
    EXPECT_EQ(l.IndexOf("B"), 1); // letter case ignored by default
    l.SetCaseSensitive(true);
    EXPECT_EQ(l.IndexOf("B"), -1);
    l.Delete(0);
    EXPECT_EQ(l[0], "b");
    EXPECT_THROW(l.Delete(3), EStringListError);
    EXPECT_THROW((void)l.Strings(-1), EStringListError);
}

TEST(StringList, SortedListHonoursItsDuplicateRule) {
    TStringList l;
    l.SetSorted(true);
    EXPECT_EQ(l.Add("b.txt"), 0);
    EXPECT_EQ(l.Add("A.txt"), 0);
    EXPECT_EQ(l.Add("a.TXT"), 0); // equal without regard to case: ignored
    EXPECT_EQ(l.ToVector(), (std::vector<std::string>{"A.txt", "b.txt"}));
    l.Duplicates = TDuplicates::dupError;
    EXPECT_THROW(l.Add("B.TXT"), EStringListError);
    l.Duplicates = TDuplicates::dupAccept;
    l.Add("B.TXT");
    EXPECT_EQ(l.Count(), 3);
    EXPECT_THROW(l.Insert(0, "x"), EStringListError);
    // A comparison of the caller's choice re-sorts.
    l.SetCompare([](std::string_view a, std::string_view b) { return b.compare(a); });
    EXPECT_EQ(l.ToVector(), (std::vector<std::string>{"b.txt", "B.TXT", "A.txt"}));
}

TEST(StringList, AssignCopiesContentsNotSettings) {
    TStringList source{"z", "y"};
    TStringList target;
    target.SetSorted(true);
    target.Add("old");
    target.Assign(source);
    EXPECT_EQ(target.ToVector(), (std::vector<std::string>{"y", "z"}));
    EXPECT_TRUE(target.Sorted());
    target.Assign(target);
    EXPECT_EQ(target.Count(), 2);
    target.AddStrings(target);
    EXPECT_EQ(target.Count(), 2); // sorted, duplicates ignored
}
