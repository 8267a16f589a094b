#include "archives/Exceptions.h"
#include "platform/CodePage.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(CodePage, ShiftJisTrailByte5CIsNotASeparator) {
    // 表 is 0x95 0x5C in code page 932: its trail byte equals the backslash.
    const std::string name = "\x95\x5C\\a.txt";
    const PathRules win = PathRules::Windows();
    EXPECT_FALSE(IsPathDelimiter(name, 1, win));
    EXPECT_TRUE(IsPathDelimiter(name, 2, win));
    EXPECT_EQ(ExtractFileName(name, win), "a.txt");
    EXPECT_EQ(ExtractFilePath("\x95\x5C", win), "");
    EXPECT_EQ(IncludeTrailingPathDelimiter("\x95\x5C", win), "\x95\x5C\\");
    EXPECT_EQ(ShiftJisToUtf8("\x95\x5C"), "表");
    EXPECT_EQ(Utf8ToShiftJis("表"), "\x95\x5C");
}

TEST(CodePage, Utf8CharactersAndValidity) {
    const std::string s = "表/a";
    EXPECT_EQ(CharLength(s, 0), 3u);
    EXPECT_TRUE(IsCharStart(s, 3));
    EXPECT_FALSE(IsCharStart(s, 1));
    EXPECT_TRUE(IsValidUtf8(s));
    EXPECT_FALSE(IsValidUtf8("\x95\x5C"));
    EXPECT_FALSE(IsValidUtf8("\xE8\xA1")); // cut short
}

TEST(Paths, DelphiStyleNameParts) {
    EXPECT_EQ(ExtractFileName("/x/y/a.txt"), "a.txt");
    EXPECT_EQ(ExtractFilePath("/x/y/a.txt"), "/x/y/");
    EXPECT_EQ(ExtractFileExt("/x/y.d/a.tar.gz"), ".gz");
    EXPECT_EQ(ExtractFileExt("/x/y.d/a"), "");
    EXPECT_EQ(ChangeFileExt("/x/prog", ".ini"), "/x/prog.ini");
    EXPECT_EQ(ChangeFileExt("/x.d/prog.bin", ".ini"), "/x.d/prog.ini");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp/"), "/tmp");
}

TEST(FileTime, DosConversionsApplyNoTimeZone) {
    // 2001-02-03 04:05:06
    const uint16_t date = ((2001 - 1980) << 9) | (2 << 5) | 3;
    const uint16_t time = (4 << 11) | (5 << 5) | 3;
    FileTime ft;
    ASSERT_TRUE(DosDateTimeToFileTime(date, time, ft));
    EXPECT_EQ(FileTimeToUnix(ft), 981173106);
    uint16_t d2 = 0, t2 = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(ft, d2, t2));
    EXPECT_EQ(d2, date);
    EXPECT_EQ(t2, time);
    EXPECT_FALSE(DosDateTimeToFileTime((1 << 9) | (13 << 5) | 1, 0, ft)); // month 13
}

TEST(Exceptions, MessagesFillPlaceholdersAndSfxText) {
    EXPECT_EQ(archives::FormatMessage("%0:s を扱うには %1:s が 必要です。",
                                      {"LHA 形式書庫", "UNLHA32.DLL"}),
              "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。");
    EXPECT_EQ(archives::FormatMessage("%s を %s に", {"A", "B"}), "A を B に");
    archives::ESfxNoRequiredFile e("tar/tgz", "", "kmtarsef.exe");
    EXPECT_STREQ(e.what(),
                 "tar/tgz 書庫からの自己解凍書庫の作成には 'kmtarsef.exe' ファイルが必要です。");
}
