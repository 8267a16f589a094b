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

namespace archives {

namespace {

// Content probes run top to bottom and a later claim overrules an earlier one, so LHA (a
// self-extracting LHA archive that a ZIP reader also accepts) wins over CAB over YZ1 over BGA over
// ZIP over ARJ over RAR over TAR. The TAR probe names its own type (tar, gzip or bzip2). 7z has no
// probe. atGCA and atBel have no row: they are refused.
const TArchiverFormat kFormats[] = {
    {atTar, NewArchiver<formats::TTar32>, formats::GetTarArchiverType},
    {atTgz, NewArchiver<formats::TTgz32>, nullptr},
    {atBZ2, NewArchiver<formats::TBZ232>, nullptr},
    {atRar, NewArchiver<formats::TRar32>, ProbeAs<atRar, formats::IsRarArchive>},
    {atArj, NewArchiver<formats::TArj32>, ProbeAs<atArj, formats::IsArjArchive>},
    {atZip, NewArchiver<formats::TZip32>, ProbeAs<atZip, formats::IsZipArchive>},
    {atBga, NewArchiver<formats::TBGA32>, ProbeAs<atBga, formats::IsBgaArchive>},
    {atYz1, NewArchiver<formats::TYZ1>, ProbeAs<atYz1, formats::IsYz1Archive>},
    {atCab, NewArchiver<formats::TCab32>, ProbeAs<atCab, formats::IsCabArchive>},
    {atLha, NewArchiver<formats::TLha32>, ProbeAs<atLha, formats::IsLhaArchive>},
    {at7z, NewArchiver<formats::TSevenZip32>, nullptr}, // no probe
};

} // namespace

std::span<const TArchiverFormat> ArchiverFormats() {
    return kFormats;
}

const TArchiverFormat *FindArchiverFormat(TArchiverType Type,
                                          std::span<const TArchiverFormat> Formats) {
    for (const auto &row : Formats)
        if (row.Type == Type)
            return &row;
    return nullptr;
}

TArchiverType DetectArchiverType(const std::string &FileName,
                                 std::span<const TArchiverFormat> Formats) {
    TArchiverType found = atNone;
    for (const auto &row : Formats) {
        if (!row.Probe)
            continue;
        TArchiverType claim = atNone;
        try {
            claim = row.Probe(FileName);
        } catch (...) {
            claim = atNone;
        }
        if (claim != atNone)
            found = claim;
    }
    return found;
}

} // namespace archives
