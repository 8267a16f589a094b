// The component's published properties kept with a form: written with their stored defaults
// left out, read back through the setters, and kept in a section of a profile file.
#include "FakeControl.h"
#include "archives/ARCHIVES.h"
#include "formats/LHA32.h"
#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace archives;
namespace fs = std::filesystem;

namespace {

TPropertyValues With(TPropertyValues head, const TPropertyValues &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A component as a designer edits it: setting the type only stores it, no library is loaded.
void Design(TArchiveFile &a) {
    a.ComponentState = csDesigning;
    a.SetArchiverType(atZip);
    a.SetFileName("/x/it's #1.zip");
    a.SetOutputSize(8192);
    a.Options().x = 1;
    a.Options().jso = 1;
    a.Options().jx.Add("*.bak");
}

TEST(StoredComponent, AtItsDefaultsOnlyTheRecordsAlwaysWrittenPropertiesAreStored) {
    TArchiveFile a;
    EXPECT_EQ(a.WriteProperties(), TArchiverOptions().WriteProperties("Options."));
}

TEST(StoredComponent, PropertiesAreWrittenInDeclarationOrderWithoutDefaults) {
    TArchiveFile a;
    Design(a);
    EXPECT_EQ(a.WriteProperties(),
              With(With({{"ArchiverType", "atZip"}}, a.Options().WriteProperties("Options.")),
                   {{"FileName", "'/x/it''s #1.zip'"}, {"OutputSize", "8192"}}));
    const TPropertyValues options = a.Options().WriteProperties("Options.");
    EXPECT_NE(std::find(options.begin(), options.end(),
                        std::pair<std::string, std::string>{"Options.x", "1"}),
              options.end());
}

TEST(StoredComponent, ReadingResetsEveryPropertyThenTakesTheStoredOnes) {
    TArchiveFile stored;
    Design(stored);
    TArchiveFile a;
    a.ComponentState = csDesigning;
    a.SetOutputSize(5);
    a.Options().a = 2;
    a.ReadProperties(stored.WriteProperties());
    EXPECT_EQ(a.WriteProperties(), stored.WriteProperties());
    EXPECT_EQ(a.ArchiverType(), atZip);
    EXPECT_EQ(a.FileName(), "/x/it's #1.zip");
    EXPECT_EQ(a.OutputSize(), 8192);
    EXPECT_EQ(a.Options().a, -1);
    EXPECT_EQ(a.ComponentState, unsigned{csDesigning}); // csReading only while reading

    a.ReadProperties({});
    EXPECT_EQ(a.ArchiverType(), atAutoDetect);
    EXPECT_EQ(a.FileName(), UnsetString);
    EXPECT_EQ(a.OutputSize(), 0);
    EXPECT_TRUE(a.Options().jx.Empty());
}

// A stored type without a back-end is kept while reading, as a form keeps it.
TEST(StoredComponent, AStoredTypeWithoutABackEndIsKeptWhileReading) {
    TArchiveFile a;
    a.ReadProperties({{"ArchiverType", "atGCA"}});
    EXPECT_EQ(a.ArchiverType(), atGCA);
    EXPECT_EQ(a.ComponentState, 0u);
    EXPECT_THROW(a.SetArchiverType(atGCA), EArchiver); // outside reading it is refused
}

TEST(StoredComponent, ABadPropertyChangesNothing) {
    const TPropertyValues bad[] = {
        {{"Colour", "1"}},         {{"ArchiverType", "atZap"}},
        {{"OutputSize", "12k"}},   {{"FileName", "a.lzh"}}, // not a literal
        {{"Options.nosuch", "1"}}, {{"OutputSize", "1"}, {"Options.x", "many"}},
    };
    for (const auto &in : bad) {
        SCOPED_TRACE(in.back().first + " = " + in.back().second);
        TArchiveFile a;
        Design(a);
        const TPropertyValues before = a.WriteProperties();
        EXPECT_THROW(a.ReadProperties(in), EReadError);
        EXPECT_EQ(a.WriteProperties(), before);
    }
}

class StoredComponentInProfile : public ::testing::Test {
protected:
    StoredComponentInProfile() {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("quorvel_stored_" + std::to_string(random()));
        fs::create_directories(dir_);
        ini_ = (dir_ / "QUORVEL.ini").string();
        formats::TLha32::FreeDLL();
        fake::Reset();
    }
    ~StoredComponentInProfile() override {
        formats::TLha32::FreeDLL();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path dir_;
    std::string ini_;
};

TEST_F(StoredComponentInProfile, ASectionHoldsTheComponentAndTheRestOfTheFileStays) {
    std::ofstream(ini_) << "[System]\nJobKind=1\n[ArchiveFile1]\nStale=1\n";
    TArchiveFile stored;
    Design(stored);
    platform::ProfileFile ini(ini_);
    stored.WriteProperties(ini, "ArchiveFile1");
    EXPECT_EQ(ini.ReadInteger("System", "JobKind", 0), 1);
    EXPECT_EQ(ini.ReadString("ArchiveFile1", "Stale", "gone"), "gone");
    EXPECT_EQ(ini.ReadString("ArchiveFile1", "FileName", ""), "'/x/it''s #1.zip'");

    // Read as the program would: FileName selects the LHA back-end by its extension.
    fake::ScopedSearchPath path("full");
    ini.WriteString("ArchiveFile1", "FileName", "'/y/b.lzh'");
    TArchiveFile a;
    a.ReadProperties(ini, "ArchiveFile1");
    EXPECT_EQ(a.FileName(), "/y/b.lzh");
    EXPECT_EQ(a.ArchiverType(), atLha);
    ASSERT_NE(a.Archiver(), nullptr);
    EXPECT_EQ(a.OutputSize(), 8192);
    EXPECT_EQ(a.Options().x, 1);
    EXPECT_EQ(a.Options().jx.ToVector(), std::vector<std::string>{"*.bak"});
}

} // namespace
