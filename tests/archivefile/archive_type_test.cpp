#include "FakeControl.h"
#include "archives/ArchiveFile.h"
#include "archives/ArchiverFormats.h"
#include "formats/ARJ32.h"
#include "formats/BGA32.h"
#include "formats/CAB32.h"
#include "formats/LHA32.h"
#include "formats/RAR32.h"
#include "formats/SZIP32.h"
#include "formats/TAR32.h"
#include "formats/YZ132.h"
#include "formats/ZIP32.h"
#include "formats_support/FormatTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace archives;

namespace {

struct ExtensionCase {
    const char *name;
    TArchiverType type;
};

TEST(ArchiverTypeByExtension, WholeTable) {
    const ExtensionCase cases[] = {
        {"a.7z", at7z},        {"a.z", atTgz},        {"a.Z", atTgz},
        {"a.gz", atTgz},       {"a.tar.gz", atTgz},   {"a.tgz", atTgz},
        {"a.taz", atTgz},      {"a.a", atTar},        {"a.lib", atTar},
        {"a.tar", atTar},      {"a.deb", atTar},      {"a.rpm", atTar},
        {"a.cpio", atTar},     {"a.bz2", atBZ2},      {"a.tar.bz2", atBZ2},
        {"a.gza", atBga},      {"a.bza", atBga},      {"a.gca", atGCA},
        {"a.yz1", atYz1},      {"a.rar", atRar},      {"a.arj", atArj},
        {"a.jar", atZip},      {"a.ear", atZip},      {"a.war", atZip},
        {"a.zip", atZip},      {"a.cab", atCab},      {"a.lzh", atLha},
        {"backup.LZH", atLha}, {"/x/y/B.Zip", atZip}, {"a.TaR", atTar},
        {"a.txt", atNone},     {"a", atNone},         {"", atNone},
        {"/x.lzh/a", atNone},  {"a.lzh.", atNone},    {"a.lzhx", atNone},
        {"a.tar.xz", atNone},  {"a.bel", atNone},     {"a.LZH\xE8\xA1\xA8", atNone},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GetArchiverType(c.name, true), c.type);
    }
}

// A name of no known extension is not probed when the extension decides.
TEST(ArchiverTypeByExtension, ExtensionAloneDecides) {
    fake::ScopedSearchPath path("full");
    formats::TLha32::FreeDLL();
    fake::Reset();
    EXPECT_EQ(GetArchiverType("/no/such/a.txt", true), atNone);
    EXPECT_TRUE(fake::Calls().empty());
    formats::TLha32::FreeDLL();
}

// The detection asks the probes in this order; every row has its back-end, and every row but the
// gzip and bzip2 kinds (named by the TAR probe) and 7z its probe.
TEST(ArchiverFormats, RowsStandInProbeOrder) {
    std::vector<TArchiverType> rows;
    for (const auto &row : ArchiverFormats())
        rows.push_back(row.Type);
    const std::vector<TArchiverType> expected{atTar, atTgz, atBZ2, atRar, atArj, atZip,
                                              atBga, atYz1, atCab, atLha, at7z};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(FindArchiverFormat(atGCA), nullptr);
    EXPECT_EQ(FindArchiverFormat(atBel), nullptr);
    EXPECT_EQ(FindArchiverFormat(at7z)->Probe, nullptr);
    for (const auto &row : ArchiverFormats()) {
        SCOPED_TRACE(ArchiverTypeName(row.Type));
        EXPECT_NE(row.Create, nullptr);
        // The TAR probe names the gzip and bzip2 kinds itself; 7z has none.
        const bool probed = row.Type != atTgz && row.Type != atBZ2 && row.Type != at7z;
        EXPECT_EQ(row.Probe != nullptr, probed);
    }
}

// Probes scripted by the test: each records that it was asked and claims what it is told.
std::vector<TArchiverType> gAsked;
std::vector<TArchiverType> gClaims;

template <TArchiverType T> TArchiverType Scripted(const std::string &) {
    gAsked.push_back(T);
    for (TArchiverType claim : gClaims)
        if (claim == T || (T == atTar && (claim == atTgz || claim == atBZ2)))
            return claim;
    return atNone;
}

TArchiverType Raising(const std::string &) {
    gAsked.push_back(atNone);
    throw std::runtime_error("probe failure");
}

const TArchiverFormat kScripted[] = {
    {atTar, nullptr, Scripted<atTar>}, {atTgz, nullptr, nullptr},
    {atBZ2, nullptr, nullptr},         {atRar, nullptr, Scripted<atRar>},
    {atArj, nullptr, Scripted<atArj>}, {atZip, nullptr, Scripted<atZip>},
    {atBga, nullptr, Scripted<atBga>}, {atYz1, nullptr, Scripted<atYz1>},
    {atCab, nullptr, Scripted<atCab>}, {atLha, nullptr, Scripted<atLha>},
    {at7z, nullptr, nullptr},
};

struct ProbeCase {
    std::vector<TArchiverType> claims;
    TArchiverType expected;
};

TEST(ContentDetection, EveryProbeIsAskedAndTheLastClaimWins) {
    const ProbeCase cases[] = {
        {{}, atNone},
        {{atTgz}, atTgz},
        {{atBZ2, atRar}, atRar},
        {{atRar, atArj}, atArj},
        {{atArj, atZip}, atZip},
        {{atZip, atBga}, atBga},
        {{atBga, atYz1}, atYz1},
        {{atYz1, atCab}, atCab},
        {{atZip, atLha}, atLha}, // a self-extracting LHA archive that ZIP also accepts
        {{atTar, atRar, atArj, atZip, atBga, atYz1, atCab, atLha}, atLha},
        {{atTar, atCab}, atCab},
    };
    const std::vector<TArchiverType> order{atTar, atRar, atArj, atZip, atBga, atYz1, atCab, atLha};
    for (const auto &c : cases) {
        SCOPED_TRACE(ArchiverTypeName(c.expected));
        gAsked.clear();
        gClaims = c.claims;
        EXPECT_EQ(DetectArchiverType("setup.exe", kScripted), c.expected);
        EXPECT_EQ(gAsked, order);
    }
}

TEST(ContentDetection, AProbeThatRaisesClaimsNothing) {
    const TArchiverFormat formats[] = {{atZip, nullptr, Scripted<atZip>},
                                       {atCab, nullptr, Raising}};
    gAsked.clear();
    gClaims = {atZip};
    EXPECT_EQ(DetectArchiverType("x", formats), atZip);
    EXPECT_EQ(gAsked.size(), 2u);
}

// The real LHA probe through the fake library, after a ZIP probe that also claims the file.
TEST(ContentDetection, SelfExtractingLhaThatZipAlsoClaimsIsLha) {
    fake::ScopedSearchPath path("full");
    formats::TLha32::FreeDLL();
    fake::Reset();
    const TArchiverFormat formats[] = {
        {atZip, nullptr, Scripted<atZip>},
        {atLha, nullptr, ProbeAs<atLha, formats::IsLhaArchive>},
    };
    gClaims = {atZip};
    EXPECT_EQ(DetectArchiverType("setup.exe", formats), atLha);
    fake::SetResult("UnlhaCheckArchive", 0);
    EXPECT_EQ(DetectArchiverType("setup.exe", formats), atZip);
    // The built-in table: ".exe" is decided by content.
    fake::Reset();
    EXPECT_EQ(GetArchiverType("setup.exe", true), atLha);
    EXPECT_EQ(fake::CallsTo("UnlhaCheckArchive").size(), 1u);
    formats::TLha32::FreeDLL();
}

// The probes of the whole table bind every format's library; each test below starts and ends
// with none, so no fake stays bound for a later test.
void FreeEveryBinding() {
    formats::TTar32::FreeDLL();
    formats::TRar32::FreeDLL();
    formats::TArj32::FreeDLL();
    formats::TZip32::FreeDLL();
    formats::TBGA32::FreeDLL();
    formats::TYZ1::FreeDLL();
    formats::TCab32::FreeDLL();
    formats::TLha32::FreeDLL();
    formats::TSevenZip32::FreeDLL();
}

class FakeFormats : public ::testing::Test {
protected:
    void SetUp() override {
        FreeEveryBinding();
        fake::Reset();
    }
    void TearDown() override { FreeEveryBinding(); }

    fake::ScopedSearchPath path_{"full"};
};

template <class T> bool IsA(TArchiver *Archiver) {
    return dynamic_cast<T *>(Archiver) != nullptr;
}

// The extension selects the back-end, whatever the case of its letters.
TEST_F(FakeFormats, CabArjAndRarNamesSelectTheirBackEnds) {
    struct Case {
        const char *name;
        TArchiverType type;
        bool (*is)(TArchiver *);
    } cases[] = {
        {"/x/a.cab", atCab, IsA<formats::TCab32>}, {"/x/A.CAB", atCab, IsA<formats::TCab32>},
        {"/x/a.arj", atArj, IsA<formats::TArj32>}, {"/x/a.Arj", atArj, IsA<formats::TArj32>},
        {"/x/a.rar", atRar, IsA<formats::TRar32>}, {"/x/a.RAR", atRar, IsA<formats::TRar32>},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TArchiveFile arc;
        arc.SetFileName(c.name);
        EXPECT_EQ(arc.ArchiverType(), c.type);
        EXPECT_TRUE(c.is(arc.Archiver()));
        EXPECT_EQ(arc.FileName(), c.name);
    }
    // The ARJ back-end is an LHA one in its dialect, but loads only its own library.
    EXPECT_EQ(formats::LhaDll, nullptr);
    EXPECT_NE(formats::ArjDll, nullptr);
}

// Each real probe asks its own library: a file only one library opens is of that format, named
// ".dat" (the extension says nothing) or ".exe" (decided by content).
TEST_F(FakeFormats, ContentDetectionFindsCabArjAndRar) {
    formats_test::ScratchDir dir;
    formats_test::WriteFile(dir / "a.dat", "bytes");
    formats_test::WriteFile(dir / "setup.exe", "bytes");
    // The libraries of the other formats recognise nothing.
    const auto refuseOthers = [] {
        fake::SetResult("UnlhaCheckArchive", 0);
        fake::SetResult("UnZipCheckArchive", 0);
        fake::SetResult("UnzipCheckArchive", 0);
        fake::SetResult("BgaOpenArchive", 0);
        fake::SetResult("Yz1OpenArchive", 0);
    };
    struct Case {
        std::vector<const char *> opening; // the libraries of these entries open the file
        TArchiverType expected;
    } cases[] = {
        {{}, atNone},
        {{"CabOpenArchive"}, atCab},
        {{"UnarjOpenArchive"}, atArj},
        {{"UnrarOpenArchive"}, atRar},
        // When several claim a file, CAB wins over ARJ over RAR.
        {{"UnrarOpenArchive", "UnarjOpenArchive"}, atArj},
        {{"UnarjOpenArchive", "CabOpenArchive"}, atCab},
        {{"UnrarOpenArchive", "UnarjOpenArchive", "CabOpenArchive"}, atCab},
    };
    for (const char *name : {"a.dat", "setup.exe"}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(name) + " " + ArchiverTypeName(c.expected));
            fake::Reset();
            refuseOthers();
            for (const char *entry : {"CabOpenArchive", "UnarjOpenArchive", "UnrarOpenArchive"})
                if (std::find(c.opening.begin(), c.opening.end(), std::string(entry)) ==
                    c.opening.end())
                    fake::SetResult(entry, 0);
            if (std::string(name) == "a.dat") {
                EXPECT_EQ(GetArchiverType(name, true), atNone); // the name says nothing
                EXPECT_EQ(GetArchiverType(name, false), c.expected);
            } else {
                EXPECT_EQ(GetArchiverType(name, true), c.expected); // ".exe": by content
            }
            for (const char *entry : {"CabOpenArchive", "UnarjOpenArchive", "UnrarOpenArchive"}) {
                auto opens = fake::CallsTo(entry);
                ASSERT_EQ(opens.size(), 1u) << entry; // every probe is asked
                EXPECT_EQ(opens[0].text, dir / name);
            }
        }
    }
    // The component resolves such a file when it is used, and keeps the format.
    fake::Reset();
    refuseOthers();
    fake::SetResult("UnarjOpenArchive", 0);
    fake::SetResult("UnrarOpenArchive", 0);
    TArchiveFile arc;
    arc.SetFileName(dir / "a.dat");
    EXPECT_EQ(arc.ArchiverType(), atAutoDetect);
    std::vector<TIndividualInfoEx> entries;
    EXPECT_EQ(arc.ListEntries(nullptr, "*", entries), 0);
    EXPECT_EQ(arc.ArchiverType(), atCab);
    EXPECT_NE(dynamic_cast<formats::TCab32 *>(arc.Archiver()), nullptr);
}

} // namespace
