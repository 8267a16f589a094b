#include "archives/ArchiverOptions.h"
#include "archives/FileArgs.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

using namespace archives;

namespace {
std::vector<std::string> Names(const TFileArgs &args) {
    return ExpandFileArgs(args)->ToVector();
}
using V = std::vector<std::string>;
} // namespace

TEST(FileArgs, EveryKindInOrder) {
    const char *const items[] = {"p1", "", "p2", nullptr};
    const char *const emptyArray[] = {nullptr};
    TStringList list{"l1", "", "l2"};
    TArchiverOptions notAList;
    struct Case {
        const char *what;
        TFileArg arg;
        TFileArgKind kind;
        V names;
    };
    const std::vector<Case> cases = {
        {"8-bit string", std::string("s8"), TFileArgKind::String, {"s8"}},
        {"short string", TShortString("short"), TFileArgKind::ShortString, {"short"}},
        {"wide string", std::u16string(u"日本"), TFileArgKind::WideString, {"日本"}},
        {"character pointer", "pc", TFileArgKind::PChar, {"pc"}},
        {"nil character pointer", static_cast<const char *>(nullptr), TFileArgKind::PChar, {}},
        {"array of character pointers", TPCharArray{items}, TFileArgKind::Pointer, {"p1", "p2"}},
        {"empty array of character pointers", TPCharArray{emptyArray}, TFileArgKind::Pointer, {}},
        {"nil pointer", nullptr, TFileArgKind::Pointer, {}},
        {"string list", &list, TFileArgKind::Object, {"l1", "l2"}},
        {"other object", &notAList, TFileArgKind::Object, {}},
        {"nil object", static_cast<const TObject *>(nullptr), TFileArgKind::Object, {}},
        {"variant string", TVariant("v"), TFileArgKind::Variant, {"v"}},
        {"variant integer", TVariant(42), TFileArgKind::Variant, {"42"}},
        {"variant Boolean", TVariant(true), TFileArgKind::Variant, {"True"}},
        {"variant empty", TVariant(), TFileArgKind::Variant, {}},
        {"variant wide", TVariant(std::u16string(u"w")), TFileArgKind::Variant, {"w"}},
        {"variant array",
         TVariant::Array({"a1", 2, "", 1.5}),
         TFileArgKind::Variant,
         {"a1", "2", "1.5"}},
        {"integer", 7, TFileArgKind::Integer, {}},
        {"Boolean", true, TFileArgKind::Boolean, {}},
        {"character", 'c', TFileArgKind::Char, {}},
        {"floating point", 2.5, TFileArgKind::Extended, {}},
        {"currency", TCurrency{10000}, TFileArgKind::Currency, {}},
        {"class", TClassRef{&typeid(TStringList)}, TFileArgKind::Class, {}},
        {"wide character", u'w', TFileArgKind::WideChar, {}},
        {"interface", TInterfaceRef{&list}, TFileArgKind::Interface, {}},
        {"64-bit integer", std::int64_t{1} << 40, TFileArgKind::Int64, {}},
    };
    TFileArgs all;
    V expected;
    for (const auto &c : cases) {
        EXPECT_EQ(c.arg.Kind(), c.kind) << c.what;
        EXPECT_EQ(Names({c.arg}), c.names) << c.what;
        all.push_back(c.arg);
        expected.insert(expected.end(), c.names.begin(), c.names.end());
    }
    EXPECT_EQ(Names(all), expected);
}

TEST(FileArgs, VariantArrayAndStringKeepTheirOrder) {
    EXPECT_EQ(Names({TVariant::Array({"x", "y", "z"}), std::string("w")}), (V{"x", "y", "z", "w"}));
    EXPECT_EQ(Names({"w", TVariant::Array({"x", "y", "z"})}), (V{"w", "x", "y", "z"}));
}

TEST(FileArgs, DuplicatesKeptEmptiesOnlyDroppedByTheExpansion) {
    TStringList list{"a", "", "a"};
    EXPECT_EQ(Names({list, "a"}), (V{"a", "a", "a"}));
    V all;
    ForEachFileArgName({list, ""}, [&all](std::string s) { all.push_back(std::move(s)); });
    EXPECT_EQ(all, (V{"a", "", "a", ""}));
}

TEST(FileArgs, VariantsWithoutTextRaise) {
    EXPECT_THROW(Names({TVariant::Null()}), EVariantTypeCastError);
    EXPECT_THROW(Names({TVariant::Array({"a", TVariant::Array({"b"})})}), EVariantTypeCastError);
    EXPECT_THROW(Names({TVariant::Array({TVariant::Null()})}), EVariantTypeCastError);
    EXPECT_THROW(TVariant::Array({}).ToString(), EVariantTypeCastError);
}

TEST(FileArgs, VariantText) {
    const std::vector<std::pair<TVariant, std::string>> cases = {
        {TVariant(), ""},
        {TVariant(false), "False"},
        {TVariant(-5), "-5"},
        {TVariant(std::int64_t{1} << 40), "1099511627776"},
        {TVariant(0.0), "0"},
        {TVariant(1.5), "1.5"},
        {TVariant(-0.25), "-0.25"},
        {TVariant(100.0), "100"},
        {TVariant(1.0 / 3), "0.333333333333333"},
        {TVariant(123456789012345.0), "123456789012345"},
        {TVariant(1e15), "1E15"},
        {TVariant(1e20), "1E20"},
        {TVariant(0.00001), "1E-5"},
        {TVariant(0.0001), "0.0001"},
        {TVariant(-2.5e-7), "-2.5E-7"},
        {TVariant(std::u16string(u"\xD800x")), "?x"},
    };
    for (const auto &[v, text] : cases)
        EXPECT_EQ(v.ToString(), text);
}

TEST(FileArgs, WideTextInTheCodePage) {
    using platform::CodePage;
    EXPECT_EQ(platform::WideToCodePage(u"a表", CodePage::Utf8), "a表");
    EXPECT_EQ(platform::WideToCodePage(u"a表", CodePage::ShiftJis), "a\x95\x5C");
    EXPECT_EQ(platform::WideToCodePage(u"\U0001F600", CodePage::Utf8), "\U0001F600");
    EXPECT_EQ(platform::WideToCodePage(u"\U0001F600", CodePage::ShiftJis), "?");
    EXPECT_EQ(platform::WideToCodePage(u"\xDC00", CodePage::Utf8), "?");
}

TEST(FileArgs, ShortStringHoldsAtMost255Bytes) {
    EXPECT_EQ(TShortString(std::string(300, 'n')).Text.size(), 255u);
}
