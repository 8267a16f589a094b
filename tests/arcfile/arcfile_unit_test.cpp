// The parts of arcfile that need no archive: its command line, dates, JSON text, the switch
// record in a profile file and the progress line's text.
#include "tests/arcfile/ArcfileTestSupport.h"
#include "tools/arcfile/Cli.h"
#include "tools/arcfile/Commands.h"
#include "tools/arcfile/OptionsFile.h"
#include "tools/arcfile/Progress.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace arcfile;
using arcfile_test::ReadFile;
using arcfile_test::TempDir;
using arcfile_test::WriteFile;

namespace {

TEST(ArcfileCommandLine, ReadsCommandsOperandsAndSwitches) {
    const TInvocation pack =
        ParseCommandLine({"pack", "-rq", "a.zip", "--exclude=*.o", "-x", "*.tmp", "--level", "9",
                          "--base", "src", "f1", "--", "-dash"});
    EXPECT_EQ(pack.Command, TCommand::Pack);
    EXPECT_EQ(pack.Archive, "a.zip");
    EXPECT_EQ(pack.Operands, (std::vector<std::string>{"f1", "-dash"}));
    EXPECT_TRUE(pack.Recurse);
    EXPECT_TRUE(pack.Quiet);
    EXPECT_EQ(pack.Excludes, (std::vector<std::string>{"*.o", "*.tmp"}));
    EXPECT_EQ(pack.Level, 9);
    EXPECT_EQ(pack.BaseDir, "src");

    const TInvocation extract = ParseCommandLine({"--type", "zip", "extract", "x.dat", "-oout"});
    EXPECT_EQ(extract.Type, "zip");
    EXPECT_EQ(extract.OutputDir, "out");
    EXPECT_TRUE(extract.Operands.empty());

    EXPECT_TRUE(ParseCommandLine({"--help"}).Help);
    EXPECT_TRUE(ParseCommandLine({"cat", "--help"}).Help); // no operands needed then
    EXPECT_TRUE(ParseCommandLine({"--version"}).Version);
}

TEST(ArcfileCommandLine, RefusesWhatItCannotRead) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"unpack", "a.zip"},
        {"list", "--nope", "a.zip"},
        {"list", "--json=1", "a.zip"},
        {"list", "--type"},
        {"test", "a.zip", "extra"},
        {"cat", "a.zip", "e1", "e2"},
        {"delete", "a.zip"},
        {"update", "a.zip"},
        {"--exclude", "x", "list", "a.zip"},
        {"extract", "-r", "a.zip"},
        {"formats", "--type", "zip"},
        {"pack", "--level", "x", "a.zip", "f"},
        {"pack", "--older", "yesterday", "a.zip", "f"},
        {"options", "--save"},
    };
    for (const auto &args : bad) {
        std::string shown;
        for (const auto &a : args)
            shown += a + " ";
        EXPECT_THROW(ParseCommandLine(args), EUsage) << shown;
    }
}

TEST(ArcfileCommandLine, DatesTakeTheBuildersForms) {
    EXPECT_EQ(ParseDateSwitch("--newer", "20240131"), "20240131");
    EXPECT_EQ(ParseDateSwitch("--newer", "20240131235959"), "20240131235959");
    EXPECT_EQ(ParseDateSwitch("--newer", "2024-01-31"), "20240131");
    EXPECT_EQ(ParseDateSwitch("--newer", "2024-01-31 08:05"), "20240131080500");
    EXPECT_EQ(ParseDateSwitch("--newer", "2024-01-31T08:05:09"), "20240131080509");
    EXPECT_EQ(ParseDateSwitch("--newer", "2024-02-29"), "20240229");
    for (const char *bad : {"2023-02-29", "2024-13-01", "2024-04-31", "20240100", "2024013",
                            "2024-01-31 24:00", "2024-01-31 10:60", "240131", "l20240131", ""})
        EXPECT_THROW(ParseDateSwitch("--older", bad), EUsage) << bad;
}

TEST(ArcfileJson, EscapesAndKeepsUtf8) {
    EXPECT_EQ(JsonString("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(JsonString("表.txt"), "\"表.txt\"");
    // A Latin-1 name is no UTF-8: each such byte becomes U+FFFD, so the text stays valid JSON.
    EXPECT_EQ(JsonString("caf\xE9.txt"), "\"caf\xEF\xBF\xBD.txt\"");
    EXPECT_EQ(JsonString("\xE8\xA1"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\""); // cut character
    EXPECT_TRUE(IsValidUtf8("表だよ/a"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80")); // overlong
    EXPECT_FALSE(IsValidUtf8("\xE8\xA1")); // cut
    EXPECT_FALSE(IsValidUtf8("a\x80"));    // stray continuation
}

TEST(ArcfileOptionsFile, RoundTripsEveryKindOfSwitch) {
    TempDir tmp;
    const std::string file = (tmp.path / "o.ini").string();
    archives::TArchiverOptions source;
    source.x = 0;
    source.jm = 9;
    source.w = "/tmp/work dir";
    source.jo = "";
    source.jx.Add("*.o");
    source.jx.Add("it's");
    source.UserOptions = " -mx=9";
    source.PackFilter = archives::pfArchiver;
    source.ResFileUsage = archives::TResFileUsage{archives::ruOnUpdate};
    WriteOptionsFile(file, "Job", source);

    archives::TArchiverOptions read;
    read.a = 5; // reading starts from the defaults
    ReadOptionsFile(file, "JOB", read);
    EXPECT_EQ(read.WriteProperties(), source.WriteProperties());
    EXPECT_EQ(read.a, -1);

    // Written again, the section is replaced, not doubled.
    WriteOptionsFile(file, "job", archives::TArchiverOptions{});
    const std::string text = ReadFile(file);
    EXPECT_EQ(text.find("[Job]"), text.rfind("[Job]")) << text;
    EXPECT_EQ(text.find("x=0"), std::string::npos) << text;
}

TEST(ArcfileOptionsFile, ReadsTheComponentsFormSection) {
    TempDir tmp;
    const std::string file = (tmp.path / "form.ini").string();
    WriteFile(file, "[Archive]\r\nArchiverType=atZip\r\nOPTIONS.x = 0 \r\nOptions.jx.Strings=('a' "
                    "'b')\r\n");
    archives::TArchiverOptions o;
    ReadOptionsFile(file, "archive", o);
    EXPECT_EQ(o.x, 0);
    EXPECT_EQ(o.jx.Count(), 2);
}

TEST(ArcfileProgress, LineShowsCountsBytesAndTheCurrentName) {
    TProgressLine line(false);
    line.SetTotals(2, 200);
    EXTRACTINGINFOEX info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.szSourceFileName, "dir/first.txt");
    line.Report(ARCEXTRACT_BEGIN, &info);
    info.dwWriteSize = 50;
    line.Report(ARCEXTRACT_INPROCESS, &info);
    EXPECT_EQ(line.BytesDone(), 50u);
    info.dwFileSize = 100;
    line.Report(ARCEXTRACT_END, &info);
    EXPECT_EQ(line.EntriesDone(), 1u);
    EXPECT_EQ(line.BytesDone(), 100u);
    const std::string text = line.Text(100);
    EXPECT_NE(text.find("[##########----------]  50%"), std::string::npos) << text;
    EXPECT_NE(text.find("1/2 entries  100 B"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("dir/first.txt")) << text;
    // A narrow terminal cuts the name from its beginning, never the counts.
    const std::string narrow = line.Text(60);
    EXPECT_LE(narrow.size(), 60u);
    EXPECT_EQ(narrow.find("dir/"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find("1/2 entries"), std::string::npos) << narrow;
    EXPECT_EQ(HumanBytes(1536), "1.5 KiB");
    EXPECT_EQ(HumanBytes(3ull << 30), "3.0 GiB");
}

} // namespace
