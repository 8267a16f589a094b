// The Debian package: cpack writes it from the built tree, and it holds the programs, the
// component and archiver libraries and the manual pages, depends on what they link, and its
// arcfile finds the archiver libraries where the package puts them.
#include "tests/arcfile/ArcfileTestSupport.h"

#include <gtest/gtest.h>

#include <regex>

using namespace arcfile_test;

namespace {

TEST(ArcfilePackage, DebHoldsTheProgramsAndLibraries) {
    if (!HaveTool("dpkg-deb") || !HaveTool("dpkg-shlibdeps"))
        GTEST_SKIP() << "dpkg-deb and dpkg-shlibdeps (dpkg-dev) are needed to build the package";
    TempDir tmp;
    std::string out;
    ASSERT_EQ(archtest::Shell("cd " + Quote(tmp.str()) + " && " + Quote(CPACK_COMMAND) +
                                  " -G DEB --config " + Quote(CPACK_CONFIG) + " -B " +
                                  Quote(tmp.str()),
                              &out),
              0)
        << out;
    std::vector<fs::path> debs;
    for (const auto &e : fs::directory_iterator(tmp.path))
        if (e.path().extension() == ".deb")
            debs.push_back(e.path());
    ASSERT_EQ(debs.size(), 1u) << out;
    const std::string deb = debs[0].string();
    EXPECT_TRUE(std::regex_match(debs[0].filename().string(),
                                 std::regex(R"(quorvel_\d+\.\d+\.\d+_[a-z0-9]+\.deb)")))
        << deb;

    ASSERT_EQ(archtest::Shell("dpkg-deb -c " + Quote(deb), &out), 0) << out;
    std::vector<std::string> wanted = {
        "./usr/bin/arcfile",
        "./usr/lib/libquorvel.so.0",
        "./usr/lib/libunlha32.so",
        "./usr/lib/libunzip32.so",
        "./usr/lib/libzip32j.so",
        "./usr/lib/libtar32.so",
        "./usr/lib/lib7-zip32.so",
        "./usr/include/quorvel/archives/ARCHIVES.h",
        "./usr/lib/pkgconfig/quorvel.pc",
        "./usr/share/man/man1/arcfile.1",
        "./usr/share/man/man1/QUORVEL.1",
        "./usr/share/bash-completion/completions/arcfile",
    };
    if (HAVE_DIALOG) {
        wanted.push_back("./usr/bin/QUORVEL");
    }
    for (const auto &path : wanted)
        EXPECT_TRUE(std::regex_search(out, std::regex(" " + path + "( |\n|$)"))) << path << "\n"
                                                                                 << out;

    ASSERT_EQ(archtest::Shell("dpkg-deb -f " + Quote(deb) + " Package Depends Maintainer", &out),
              0);
    EXPECT_NE(out.find("Package: quorvel"), std::string::npos) << out;
    for (const char *dependency : {"libarchive13", "libc6", "libstdc++6", "zlib1g"})
        EXPECT_NE(out.find(dependency), std::string::npos) << dependency << "\n" << out;
    if (HAVE_DIALOG) {
        EXPECT_NE(out.find("libqt6widgets6"), std::string::npos) << out;
    }

    // Unpacked anywhere, the program finds the archiver libraries beside it, as installed.
    ASSERT_EQ(
        archtest::Shell("dpkg-deb -x " + Quote(deb) + " " + Quote((tmp.path / "root").string())),
        0);
    ASSERT_EQ(
        archtest::Shell(Quote((tmp.path / "root/usr/bin/arcfile").string()) + " formats", &out), 0)
        << out;
    EXPECT_NE(out.find((tmp.path / "root/usr/lib/libunlha32.so").string()), std::string::npos)
        << out;
    EXPECT_NE(out.find((tmp.path / "root/usr/lib/lib7-zip32.so").string()), std::string::npos)
        << out;
}

} // namespace
