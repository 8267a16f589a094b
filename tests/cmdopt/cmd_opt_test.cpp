#include "archives/ArchiverOptions.h"
#include "archives/CmdOpt.h"
#include "archives/Exceptions.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

using namespace archives;
namespace fs = std::filesystem;

namespace {

const std::string kUnset(1, '\0');

struct PieceCase {
    const char *what;
    std::function<void(TCmdOpt &)> build;
    std::string expected;
};

std::string ReadBytes(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TempDir {
public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("cmdopt-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

std::string Upper(const std::string &s) {
    std::string out = s;
    for (auto &c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string AddQuote(const std::string &s) {
    return s + "\"";
}

} // namespace

TEST(CmdOpt, Pieces) {
    const std::vector<PieceCase> cases = {
        {"nothing appended", [](TCmdOpt &) {}, ""},
        {"empty Add is one blank", [](TCmdOpt &c) { c.Add(""); }, " "},
        {"Add is raw", [](TCmdOpt &c) { c.Add("-+ \"x\""); }, " -+ \"x\""},
        {"number", [](TCmdOpt &c) { c.AddNumber("r", 2); }, " -r2"},
        {"number zero is given", [](TCmdOpt &c) { c.AddNumber("x", 0); }, " -x0"},
        {"number -1 not given", [](TCmdOpt &c) { c.AddNumber("x", -1); }, ""},
        {"any negative not given", [](TCmdOpt &c) { c.AddNumber("x", -128); }, ""},
        {"number without switch", [](TCmdOpt &c) { c.AddNumber("", 5); }, " -5"},
        {"number of a record field",
         [](TCmdOpt &c) {
             TArchiverOptions o;
             o.jso = 127;
             c.AddNumber("jso", o.jso);
             c.AddNumber("x", o.x);
         },
         " -jso127"},
        {"flag true", [](TCmdOpt &c) { c.AddFlag("jf", true); }, " -jf"},
        {"flag false", [](TCmdOpt &c) { c.AddFlag("jf", false); }, ""},
        {"unset string", [](TCmdOpt &c) { c.AddString("jo", kUnset); }, ""},
        {"empty value with switch", [](TCmdOpt &c) { c.AddString("jo", ""); }, " \"-jo\""},
        {"empty value, empty switch", [](TCmdOpt &c) { c.AddString("", ""); }, " \"\""},
        {"value always quoted", [](TCmdOpt &c) { c.AddString("jo", "*.txt"); }, " \"-jo*.txt\""},
        {"blank-led switch has no dash", [](TCmdOpt &c) { c.AddString(" check-all-path=", "a b"); },
         " \"check-all-path=a b\""},
        {"two NULs are a given value", [](TCmdOpt &c) { c.AddString("", std::string(2, '\0')); },
         std::string(" \"") + std::string(2, '\0') + "\""},
        {"separate value",
         [](TCmdOpt &c) {
             c.SeparateValue = true;
             c.AddString("o", "/out/");
         },
         " -o \"/out/\""},
        {"separate value, file name",
         [](TCmdOpt &c) {
             c.SeparateValue = true;
             c.AddFileName("f", "x.tar");
         },
         " -f \"x.tar\""},
        {"separate value, empty switch",
         [](TCmdOpt &c) {
             c.SeparateValue = true;
             c.AddString("", "x.tar");
             c.AddDirectory("", "/d");
         },
         " \"x.tar\" \"/d/\""},
        {"separate value, blank-led switch",
         [](TCmdOpt &c) {
             c.SeparateValue = true;
             c.AddString(" C", "dir");
         },
         " C \"dir\""},
        {"directory gets its separator", [](TCmdOpt &c) { c.AddDirectory("w", "/x/tmp"); },
         " \"-w/x/tmp/\""},
        {"directory keeps its one separator", [](TCmdOpt &c) { c.AddDirectory("w", "/x/tmp/"); },
         " \"-w/x/tmp/\""},
        {"root directory", [](TCmdOpt &c) { c.AddDirectory("", "/"); }, " \"/\""},
        {"empty directory", [](TCmdOpt &c) { c.AddDirectory("w", ""); }, ""},
        {"unset directory", [](TCmdOpt &c) { c.AddDirectory("w", kUnset); }, ""},
        {"directory ending in a multibyte character",
         [](TCmdOpt &c) { c.AddDirectory("", "/x/表"); }, " \"/x/表/\""},
        {"Windows rules: backslash added",
         [](TCmdOpt &c) {
             c.PathRules = platform::PathRules::Windows();
             c.AddDirectory("w", "C:\\TMP");
             c.AddDirectory("w", "C:\\TMP\\");
         },
         " \"-wC:\\TMP\\\" \"-wC:\\TMP\\\""},
        {"Windows rules: trail byte 0x5C is not a separator",
         [](TCmdOpt &c) {
             c.PathRules = platform::PathRules::Windows();
             c.AddDirectory("", "C:\\\x95\x5C"); // 表 in code page 932
         },
         " \"C:\\\x95\x5C\\\""},
        {"file name without filter",
         [](TCmdOpt &c) {
             c.FileNameFilter = Upper;
             c.AddFileName("", "a.txt");
             c.AddFile("", "b.txt");
         },
         " \"a.txt\" \"B.TXT\""},
        {"pieces in call order",
         [](TCmdOpt &c) {
             c.AddNumber("r", 2);
             c.AddFileName("", "x.lzh");
         },
         " -r2 \"x.lzh\""},
    };
    for (const auto &k : cases) {
        TCmdOpt c;
        k.build(c);
        EXPECT_EQ(c.CommandLine, k.expected) << k.what;
    }
}

TEST(CmdOpt, CommandWordFollowedDirectlyByTheLine) {
    TCmdOpt c;
    c.AddNumber("r", 2);
    c.AddFileName("", "x.lzh");
    EXPECT_EQ("a" + c.CommandLine, "a -r2 \"x.lzh\"");
}

TEST(CmdOpt, AddFilesQuotesEachNonEmptyNameInOrder) {
    TStringList list{"a.txt", "", "b c.txt"};
    TCmdOpt c;
    EXPECT_EQ(c.AddFiles("", {list, "d.txt"}), 3);
    EXPECT_EQ(c.CommandLine, " \"a.txt\" \"b c.txt\" \"d.txt\"");

    TArchiverOptions o;
    o.jx.Add("*.bak");
    o.jx.Add("tmp/*");
    TCmdOpt x;
    x.FileNameFilter = Upper;
    EXPECT_EQ(x.AddFiles("jx", {o.jx}), 2);
    EXPECT_EQ(x.CommandLine, " \"-jx*.BAK\" \"-jxTMP/*\"");

    TCmdOpt none;
    const TStringList empty;
    EXPECT_EQ(none.AddFiles("", {empty, ""}), 0);
    EXPECT_EQ(none.CommandLine, "");
}

TEST(CmdOpt, ValuesWithADoubleQuoteAreRefused) {
    const std::vector<std::pair<const char *, std::function<void(TCmdOpt &)>>> cases = {
        {"string value", [](TCmdOpt &c) { c.AddString("jo", "a\"b"); }},
        {"separate value",
         [](TCmdOpt &c) {
             c.SeparateValue = true;
             c.AddString("f", "a\"b");
         }},
        {"file name", [](TCmdOpt &c) { c.AddFileName("", "a\"b"); }},
        {"directory", [](TCmdOpt &c) { c.AddDirectory("w", "/x/a\"b"); }},
        {"file argument",
         [](TCmdOpt &c) {
             c.AddFiles("", {"ok.txt", "a\"b"});
         }},
        {"made by the filter",
         [](TCmdOpt &c) {
             c.FileNameFilter = AddQuote;
             c.AddFile("", "a");
         }},
    };
    for (const auto &[what, build] : cases) {
        TCmdOpt c;
        c.Add("-+");
        const std::string before = c.CommandLine;
        try {
            build(c);
            ADD_FAILURE() << what << ": not refused";
        } catch (const EArchiver &e) {
            EXPECT_NE(std::string(e.what()).find("a\""), std::string::npos) << what;
            EXPECT_NE(std::string(e.what()).find("二重引用符"), std::string::npos) << what;
        }
        // A refused value adds nothing; names before it in one AddFiles call stay.
        if (std::string(what) != "file argument") {
            EXPECT_EQ(c.CommandLine, before) << what;
        }
    }
}

TEST(CmdOpt, ResponseFileBytes) {
    TempDir dir;
    const std::string name = (dir.path() / "list.txt").string();
    const char *const items[] = {"p/1.txt", nullptr};
    TStringList list{"b c.txt", "", "日本語.txt"};
    TCmdOpt c;
    c.Add("u");
    EXPECT_EQ(c.AddResponseFile({"a.txt", list, TPCharArray{items}}, name), 4);
    EXPECT_EQ(ReadBytes(name), "\"a.txt\"\r\n\"b c.txt\"\r\n\"日本語.txt\"\r\n\"p/1.txt\"\r\n");
    EXPECT_EQ(c.CommandLine, " u \"@" + name + "\"");

    // Used again: truncated and rewritten, filter applied to every line.
    TCmdOpt again;
    again.FileNameFilter = Upper;
    EXPECT_EQ(again.AddResponseFile({"z"}, name), 1);
    EXPECT_EQ(ReadBytes(name), "\"Z\"\r\n");
    EXPECT_EQ(again.CommandLine, " \"@" + name + "\"");
}

TEST(CmdOpt, ResponseFileWithNoNamesIsEmpty) {
    TempDir dir;
    const std::string name = (dir.path() / "empty.txt").string();
    {
        std::ofstream old(name, std::ios::binary);
        old << "old contents";
    }
    TCmdOpt c;
    const TStringList blankLine{""};
    EXPECT_EQ(c.AddResponseFile({blankLine, nullptr}, name), 0);
    EXPECT_TRUE(fs::exists(name));
    EXPECT_EQ(fs::file_size(name), 0u);
    EXPECT_EQ(c.CommandLine, " \"@" + name + "\"");
}

TEST(CmdOpt, ResponseFileNameRelativeToTheCurrentFolder) {
    TempDir dir;
    const std::string saved = platform::GetCurrentDir();
    ASSERT_TRUE(platform::SetCurrentDir(dir.path().string()));
    TCmdOpt c;
    int n = -1;
    EXPECT_NO_THROW(n = c.AddResponseFile({"a"}, "rel.lst"));
    ASSERT_TRUE(platform::SetCurrentDir(saved));
    EXPECT_EQ(n, 1);
    EXPECT_EQ(ReadBytes(dir.path() / "rel.lst"), "\"a\"\r\n");
    EXPECT_EQ(c.CommandLine, " \"@rel.lst\"");
}

TEST(CmdOpt, ResponseFileErrorsAppendNothing) {
    TempDir dir;
    const std::string missing = (dir.path() / "no-such-dir" / "list.txt").string();
    TCmdOpt c;
    c.Add("x");
    try {
        c.AddResponseFile({"a"}, missing);
        ADD_FAILURE() << "created a file in a missing folder";
    } catch (const EFCreateError &e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    }
    EXPECT_EQ(c.CommandLine, " x");

    if (fs::exists("/dev/full")) {
        EXPECT_THROW(c.AddResponseFile({"a"}, "/dev/full"), EWriteError);
        EXPECT_EQ(c.CommandLine, " x");
    }
}

TEST(CmdOpt, ResponseFileRefusesQuotesBeforeTouchingTheFile) {
    TempDir dir;
    const std::string name = (dir.path() / "list.txt").string();
    {
        std::ofstream old(name, std::ios::binary);
        old << "kept";
    }
    TCmdOpt c;
    EXPECT_THROW(c.AddResponseFile({"a", "b\"c"}, name), EArchiver);
    EXPECT_EQ(ReadBytes(name), "kept");
    EXPECT_EQ(c.CommandLine, "");

    const std::string quoted = (dir.path() / "l\"st.txt").string();
    EXPECT_THROW(c.AddResponseFile({"a"}, quoted), EArchiver);
    EXPECT_FALSE(fs::exists(quoted));
    EXPECT_EQ(c.CommandLine, "");
}

TEST(CmdOpt, VariantWithoutTextPropagatesItsError) {
    TCmdOpt c;
    EXPECT_THROW(c.AddFiles("", {"a", TVariant::Null()}), EVariantTypeCastError);
    TempDir dir;
    const std::string name = (dir.path() / "list.txt").string();
    EXPECT_THROW(c.AddResponseFile({TVariant::Null()}, name), EVariantTypeCastError);
    EXPECT_FALSE(fs::exists(name));
}
