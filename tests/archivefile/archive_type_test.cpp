#include "FakeControl.h"
#include "archives/ArchiveFile.h"
#include "archives/ArchiverFormats.h"
#include "formats/LHA32.h"

#include <gtest/gtest.h>

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

// The detection asks the probes in this order; each row without a back-end yet is skipped.
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
    ASSERT_NE(FindArchiverFormat(atLha)->Create, nullptr);
    ASSERT_NE(FindArchiverFormat(atLha)->Probe, nullptr);
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

} // namespace
