#include "archives/ArchiverOptions.h"
#include "archives/StringList.h"

#include <gtest/gtest.h>

#include <set>

using namespace archives;

namespace {

// The published properties in declaration order, as the record's users know them.
const std::vector<std::string> kNumeric = {
    "a",   "c",   "e",   "f",  "h",   "i",   "l",   "m",   "n",   "o",   "p",   "r",
    "s",   "t",   "u",   "x",  "y",   "z",   "jc",  "jd",  "je",  "jf",  "jh",  "ji",
    "jm",  "jn",  "jp",  "jr", "jsb", "jsc", "jsd", "jse", "jsf", "jsl", "jso", "jss",
    "jst", "jsv", "jsz", "jw", "jyc", "jyd", "jyk", "jyn", "jyo", "ga",  "gd",  "ge",
    "gf",  "gj",  "gm",  "gn", "go",  "gp",  "gs",  "gu",  "gw"};
const std::vector<std::string> kStringSwitches = {"w", "jo", "job", "jz", "gr"};
const std::vector<std::string> kDeclarationOrder = {
    "a",          "c",           "e",           "f",           "h",
    "i",          "l",           "m",           "n",           "o",
    "p",          "r",           "s",           "t",           "u",
    "w",          "x",           "y",           "z",           "jc",
    "jd",         "je",          "jf",          "jh",          "ji",
    "jm",         "jn",          "jo",          "job",         "jp",
    "jr",         "jsb",         "jsc",         "jsd",         "jse",
    "jsf",        "jsl",         "jso",         "jss",         "jst",
    "jsv",        "jsz",         "jw",          "jx",          "jyc",
    "jyd",        "jyk",         "jyn",         "jyo",         "jz",
    "ga",         "gd",          "ge",          "gf",          "gj",
    "gm",         "gn",          "go",          "gp",          "gr",
    "gs",         "gu",          "gw",          "UserOptions", "UserFileList",
    "PackFilter", "ResFileName", "ResFileUsage"};

ShortInt &Num(TArchiverOptions &o, const std::string &name) {
    const TOptionProperty *p = TArchiverOptions::FindProperty(name);
    EXPECT_NE(p, nullptr) << name;
    EXPECT_EQ(p->Kind, TOptionProperty::TKind::Number) << name;
    return o.*(p->Number);
}

std::string &Str(TArchiverOptions &o, const std::string &name) {
    const TOptionProperty *p = TArchiverOptions::FindProperty(name);
    EXPECT_NE(p, nullptr) << name;
    EXPECT_EQ(p->Kind, TOptionProperty::TKind::String) << name;
    return o.*(p->String);
}

// Gives every field a value different from its default (distinct per numeric switch).
void Scramble(TArchiverOptions &o) {
    for (size_t k = 0; k < kNumeric.size(); ++k)
        Num(o, kNumeric[k]) = static_cast<ShortInt>(k);
    for (const auto &s : kStringSwitches)
        Str(o, s) = "v-" + s;
    o.jx.Add("*.bak");
    o.jx.Add("tmp/*");
    o.UserOptions = "-opt";
    o.UserFileList = "extra.txt";
    o.PackFilter = pfArchiver;
    o.ResFileName = "list.txt";
    o.ResFileUsage = {ruOnUpdate};
}

void ExpectFresh(TArchiverOptions &o) {
    for (const auto &name : kNumeric)
        EXPECT_EQ(Num(o, name), -1) << name;
    for (const auto &name : kStringSwitches) {
        EXPECT_EQ(Str(o, name), std::string(1, '\0')) << name;
        EXPECT_TRUE(IsUnsetString(Str(o, name))) << name;
    }
    EXPECT_EQ(o.jx.Count(), 0);
    EXPECT_EQ(o.UserOptions, "");
    EXPECT_EQ(o.UserFileList, "");
    EXPECT_EQ(o.ResFileName, "");
    EXPECT_EQ(o.PackFilter, pfComponent);
    EXPECT_EQ(o.ResFileUsage, (TResFileUsage{ruOnPack, ruOnUnpack, ruOnRemoveItem}));
    EXPECT_FALSE(o.ResFileUsage.Contains(ruOnUpdate));
}

} // namespace

TEST(ArchiverOptions, PropertyTableFollowsDeclarationOrderAndNamesDistinctFields) {
    std::vector<std::string> names;
    std::set<const void *> fields;
    TArchiverOptions o;
    for (const auto &p : TArchiverOptions::Properties()) {
        names.emplace_back(p.Name);
        if (p.Number)
            fields.insert(&(o.*p.Number));
        if (p.String)
            fields.insert(&(o.*p.String));
    }
    EXPECT_EQ(names, kDeclarationOrder);
    // 57 numeric + 5 string switches + UserOptions, UserFileList, ResFileName.
    EXPECT_EQ(fields.size(), 57u + 5u + 3u);
    EXPECT_EQ(kNumeric.size(), 57u);
}

TEST(ArchiverOptions, FreshRecordGivesNoSwitchValue) {
    TArchiverOptions o;
    ExpectFresh(o);
    EXPECT_EQ(o.ClassName(), "TArchiverOptions");
    // The named fields are the ones the table reaches.
    o.x = 1;
    o.jso = 0;
    o.gw = 5;
    EXPECT_EQ(Num(o, "x"), 1);
    EXPECT_EQ(Num(o, "jso"), 0);
    EXPECT_EQ(Num(o, "gw"), 5);
}

TEST(ArchiverOptions, UnsetStringIsNotTheEmptyString) {
    EXPECT_TRUE(IsUnsetString(std::string(1, '\0')));
    EXPECT_FALSE(IsUnsetString(""));
    EXPECT_FALSE(IsUnsetString(std::string(2, '\0')));
    EXPECT_FALSE(IsUnsetString("0"));
}

TEST(ArchiverOptions, ResetRestoresEveryValueAndKeepsTheListObject) {
    TArchiverOptions o;
    Scramble(o);
    const TStringList *list = &o.jx;
    o.Reset();
    ExpectFresh(o);
    EXPECT_EQ(&o.jx, list);
}

TEST(ArchiverOptions, AssignCopiesEveryFieldAndTheTargetOwnsItsList) {
    TArchiverOptions source;
    Scramble(source);
    source.jx.Clear();
    TStringList other; // an object to associate with a line
    source.jx.Add("one");
    source.jx.AddObject("two", &other);
    source.jx.Add("three");

    TArchiverOptions target;
    target.jx.Add("stale");
    target.Assign(source);

    for (const auto &name : kNumeric)
        EXPECT_EQ(Num(target, name), Num(source, name)) << name;
    for (const auto &name : kStringSwitches)
        EXPECT_EQ(Str(target, name), Str(source, name)) << name;
    EXPECT_EQ(target.jx.ToVector(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(target.jx.Objects(1), &other);
    EXPECT_EQ(target.UserOptions, "-opt");
    EXPECT_EQ(target.UserFileList, "extra.txt");
    EXPECT_EQ(target.PackFilter, pfArchiver);
    EXPECT_EQ(target.ResFileName, "list.txt");
    EXPECT_EQ(target.ResFileUsage, TResFileUsage{ruOnUpdate});

    source.jx.Clear();
    EXPECT_EQ(target.jx.Count(), 3);
    EXPECT_EQ(target.WriteProperties().size(), kDeclarationOrder.size())
        << "every property of the copy differs from its default";
}

TEST(ArchiverOptions, AssignOntoItselfKeepsTheRecord) {
    TArchiverOptions o;
    Scramble(o);
    o.Assign(o);
    EXPECT_EQ(o.jx.ToVector(), (std::vector<std::string>{"*.bak", "tmp/*"}));
    EXPECT_EQ(o.x, Num(o, "x"));
    EXPECT_EQ(o.PackFilter, pfArchiver);
}

TEST(ArchiverOptions, AssignmentBetweenUnrelatedClassesIsRefused) {
    TArchiverOptions o;
    TStringList list{"a"};
    struct Case {
        std::function<void()> assign;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[&] { list.Assign(o); }, "TArchiverOptions を TStringList に代入することはできません"},
        {[&] { o.Assign(list); }, "TStringList を TArchiverOptions に代入することはできません"},
        {[&] { o.Assign(nullptr); }, "nil を TArchiverOptions に代入することはできません"},
    };
    for (const auto &c : cases) {
        try {
            c.assign();
            ADD_FAILURE() << "no refusal for: " << c.message;
        } catch (const EConvertError &e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    // Nothing was changed by the refused assignments.
    EXPECT_EQ(list.ToVector(), std::vector<std::string>{"a"});
    ExpectFresh(o);
}

TEST(ArchiverOptions, FreshRecordStoresOnlyThePropertiesWithoutDefaultAndTheUnsetStrings) {
    TArchiverOptions o;
    const TPropertyValues expected = {
        {"w", "#0"},
        {"jo", "#0"},
        {"job", "#0"},
        {"jyc", "-1"},
        {"jz", "#0"},
        {"gr", "#0"},
        {"ResFileUsage", "[ruOnPack, ruOnUnpack, ruOnRemoveItem]"},
    };
    EXPECT_EQ(o.WriteProperties(), expected);
}

TEST(ArchiverOptions, StoredValuesSkipDefaultsAndUseThePrefix) {
    TArchiverOptions o;
    o.x = 0;
    o.jso = 1;
    o.jyc = 3;
    o.w = "";       // empty is a given value: written, unlike UserOptions
    o.jo = "it's";  // quote doubled
    o.job = "a\tb"; // control character as #9
    o.jx.Add("*.bak");
    o.jx.Add("");
    o.PackFilter = pfArchiver;
    o.ResFileName = "r.txt";
    o.ResFileUsage = {};
    const TPropertyValues expected = {
        {"Options.w", "''"},
        {"Options.x", "0"},
        {"Options.jo", "'it''s'"},
        {"Options.job", "'a'#9'b'"},
        {"Options.jso", "1"},
        {"Options.jx.Strings", "('*.bak' '')"},
        {"Options.jyc", "3"},
        {"Options.jz", "#0"},
        {"Options.gr", "#0"},
        {"Options.PackFilter", "pfArchiver"},
        {"Options.ResFileName", "'r.txt'"},
        {"Options.ResFileUsage", "[]"},
    };
    EXPECT_EQ(o.WriteProperties("Options."), expected);
}

TEST(ArchiverOptions, StoredValuesRoundTrip) {
    TArchiverOptions source;
    Scramble(source);
    source.w = "dir with 'quote' and \x01 byte/";
    source.gr = "";
    source.jx.Add("");
    source.jx.Add("日本語/*.txt");

    const std::string text = PropertiesToText(source.WriteProperties("Options."));
    TPropertyValues read = PropertiesFromText(text);
    read.emplace_back("FileName", "'x.lzh'"); // another object's property: not ours

    TArchiverOptions target;
    target.a = 9; // stale value: reading starts from the defaults
    target.ReadProperties(read, "Options.");
    EXPECT_EQ(target.WriteProperties(), source.WriteProperties());
    EXPECT_EQ(target.w, source.w);
    EXPECT_EQ(target.gr, "");
    EXPECT_EQ(target.jx.ToVector(), source.jx.ToVector());
    EXPECT_EQ(Num(target, "a"), 0);
}

TEST(ArchiverOptions, MissingStoredValuesTakeTheirDefaults) {
    TArchiverOptions o;
    Scramble(o);
    o.ReadProperties({{"x", "2"}});
    EXPECT_EQ(o.x, 2);
    o.x = -1;
    ExpectFresh(o);
}

TEST(ArchiverOptions, BadStoredValuesAreRefusedAndChangeNothing) {
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"x", "128"},
        {"x", "-129"},
        {"x", "one"},
        {"x", ""},
        {"w", "abc"},
        {"w", "'open"},
        {"w", "#256"},
        {"jx.Strings", "'a'"},
        {"jx", "('a')"},
        {"PackFilter", "pfX"},
        {"ResFileUsage", "[ruOnPack, ruX]"},
        {"ResFileUsage", "ruOnPack"},
        {"nosuch", "1"},
    };
    for (const auto &[name, value] : bad) {
        TArchiverOptions o;
        o.x = 7;
        EXPECT_THROW(o.ReadProperties({{name, value}}), EReadError) << name << " = " << value;
        EXPECT_EQ(o.x, 7) << name;
    }
}

TEST(ArchiverOptions, ResFileUsageIsASetOfFourBits) {
    TResFileUsage s;
    EXPECT_TRUE(s.Empty());
    s.Include(ruOnUpdate);
    EXPECT_EQ(s.Bits(), 0x08);
    s.Include(ruOnPack);
    EXPECT_EQ(s.Bits(), 0x09);
    s.Exclude(ruOnUpdate);
    EXPECT_EQ(s, TResFileUsage{ruOnPack});
    EXPECT_EQ(DefaultResFileUsage.Bits(), 0x07);
    EXPECT_EQ(TResFileUsage::FromBits(0xFF).Bits(), 0x0F);
}
