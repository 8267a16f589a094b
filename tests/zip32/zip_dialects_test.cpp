// The ZIP pieces below the entry points: reading the two dialects, selecting entries with
// the file-name filter's wildcard syntax, and decoding entry names.
#include "archivers/common/ArcErrors.h"
#include "archivers/zip/ZipDialects.h"
#include "archivers/zip/ZipDirectory.h"

#include <gtest/gtest.h>

using namespace zipar;

TEST(ZipDialect, BackEndPackLineReadsArchiveBaseAndFiles) {
    // The line the back-end writes with every option unset, and one with most switches on.
    ZipCommand c = ParseZipCommand(R"( -D  "/a/x.zip" "/src/" "a.txt" )");
    EXPECT_EQ(c.line.archive, "/a/x.zip");
    EXPECT_EQ(c.line.directory, "/src/");
    EXPECT_EQ(c.line.files, std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(c.sw.noFolderEntries);
    EXPECT_FALSE(c.sw.recurse);
    EXPECT_EQ(c.sw.level, -1);

    c = ParseZipCommand(R"( -S -v -q -r -o -u -j -FF -k -9 -J  "/a/x.zip" "b c.txt" )");
    EXPECT_TRUE(c.sw.hidden && c.sw.verbose && c.sw.quiet && c.sw.recurse);
    EXPECT_TRUE(c.sw.archiveTimeLatest && c.sw.update && c.sw.junkPaths && c.sw.fix);
    EXPECT_EQ(c.sw.level, 9);
    EXPECT_TRUE(c.line.directory.empty());
    EXPECT_EQ(c.line.files, std::vector<std::string>{"b c.txt"});
}

TEST(ZipDialect, CommandWordsAndSelfExtractorTarget) {
    EXPECT_TRUE(ParseZipCommand(R"(-d  "/a/x.zip" "b.txt" )").sw.remove);
    // Deleting has no directory: a folder entry right after the archive is a name.
    const ZipCommand d = ParseZipCommand(R"(-d  "/a/x.zip" "dir/" "b.txt" )");
    EXPECT_TRUE(d.line.directory.empty());
    EXPECT_EQ(d.line.files, (std::vector<std::string>{"dir/", "b.txt"}));
    EXPECT_TRUE(ParseZipCommand(R"(-f  "/a/x.zip" "/b/" "c.txt" )").sw.freshen);
    // -A takes the rest of the line, unquoted, blanks included.
    EXPECT_EQ(ParseZipCommand("-A /out dir/X.EXE").sfxTarget, "/out dir/X.EXE");
}

TEST(ZipDialect, MalformedLinesAreCommandLineErrors) {
    for (const char *line : {"", " -D  ", R"( -D "/a/x.zip)", "-A "}) {
        try {
            ParseZipCommand(line);
            ADD_FAILURE() << "accepted: " << line;
        } catch (const arclib::ArcError &e) {
            EXPECT_EQ(e.code(), arclib::kArcErrCommandLine) << line;
        }
    }
}

TEST(UnzipDialect, ExtractTestAndMemoryLines) {
    UnzipCommand c = ParseUnzipCommand(R"(-x -o --i -j  "/a/x.zip" "/out/" "[-]a.txt" )");
    EXPECT_TRUE(c.sw.overwrite && c.sw.junkPaths);
    EXPECT_FALSE(c.sw.test);
    EXPECT_EQ(c.line.directory, "/out/");
    EXPECT_EQ(c.line.files, std::vector<std::string>{"[-]a.txt"});
    // Memory extraction: no directory, the entry right after the archive.
    c = ParseUnzipCommand(R"( --i  "/a/x.zip" "dir/f.txt" )");
    EXPECT_TRUE(c.line.directory.empty());
    EXPECT_EQ(c.line.files, std::vector<std::string>{"dir/f.txt"});
    EXPECT_TRUE(ParseUnzipCommand(R"(-t "/a/x.zip")").sw.test);
}

TEST(ZipSelector, FilterSyntaxMatchesWholeNames) {
    struct Case {
        std::vector<std::string> patterns;
        const char *name;
        bool match;
    } cases[] = {
        {{"[[]a]-b.txt"}, "[a]-b.txt", true}, // "[[]" is a literal '['
        {{"[[]a]-b.txt"}, "a-b.txt", false},
        {{"[-]x.txt"}, "-x.txt", true}, // "[-]" is a literal leading '-'
        {{"dir/f.txt"}, "dir/f.txt", true},
        {{"f.txt"}, "dir/f.txt", false}, // whole names only
        {{"*.txt"}, "dir/f.txt", true},  // '*' crosses folders
        {{"dir"}, "dir/", true},         // a folder entry without its '/'
        {{"*.*"}, "README", true},       // "*.*" is every entry
        {{}, "anything", true},
        {{"?.txt"}, "表.txt", true}, // '?' is one character, not one byte
        {{"a.txt", "b.txt"}, "b.txt", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ZipSelector(c.patterns).Matches(c.name), c.match) << c.name;
}

TEST(ZipNames, ShiftJisTrailByteIsNotASeparator) {
    // 表 is 95 5C in code page 932: the 0x5C belongs to the character.
    EXPECT_EQ(DecodeEntryName("\x95\x5C\x82\xBE\x82\xE6/\x88\xEA\x97\x97\x95\x5C.txt"),
              "表だよ/一覧表.txt");
    EXPECT_EQ(DecodeEntryName("\x83\x5C\x83t\x83g\\readme.txt"), "ソフト/readme.txt");
    // Valid UTF-8 stays as it is; a Windows backslash becomes a folder separator.
    EXPECT_EQ(DecodeEntryName("表示.txt"), "表示.txt");
    EXPECT_EQ(DecodeEntryName("arc\\test"), "arc/test");
}

TEST(ZipNames, MethodTexts) {
    EXPECT_EQ(MethodText(0, 0), "Stored");
    EXPECT_EQ(MethodText(8, 0), "Defl:N");
    EXPECT_EQ(MethodText(8, 2), "Defl:X");
    EXPECT_LE(MethodText(65535, 0).size(), 7u);
}

TEST(ZipDialect, ALevelIsOneNumberHeldToNine) {
    const struct {
        const char *line;
        int level;
    } cases[] = {
        {R"(-0 "/a/x.zip" "b")", 0},     {R"(-5 "/a/x.zip" "b")", 5},  {R"(-10 "/a/x.zip" "b")", 9},
        {R"(-99999 "/a/x.zip" "b")", 9}, {R"(-r9 "/a/x.zip" "b")", 9}, {R"(-3r "/a/x.zip" "b")", 3},
        {R"(-09 "/a/x.zip" "b")", 9},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseZipCommand(c.line).sw.level, c.level) << c.line;
    EXPECT_TRUE(ParseZipCommand(R"(-3r "/a/x.zip" "b")").sw.recurse);
}
