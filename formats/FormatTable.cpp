// The format table: one row per format back-end, kept among the formats as a list of every
// format the component knows.
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

using namespace formats;

// Content probes run top to bottom and a later claim overrules an earlier one, so LHA (a
// self-extracting LHA archive that a ZIP reader also accepts) wins over CAB over YZ1 over BGA over
// ZIP over ARJ over RAR over TAR. The TAR probe names its own type (tar, gzip or bzip2). 7z has no
// probe. atGCA and atBel have no row: they are refused. The gzip and bzip2 rows share the TAR
// library, and so its binding.
const TArchiverFormat kFormats[] = {
    {atTar, NewArchiver<TTar32>, GetTarArchiverType, TTar32::FreeDLL},
    {atTgz, NewArchiver<TTgz32>, nullptr, TTgz32::FreeDLL},
    {atBZ2, NewArchiver<TBZ232>, nullptr, TBZ232::FreeDLL},
    {atRar, NewArchiver<TRar32>, ProbeAs<atRar, IsRarArchive>, TRar32::FreeDLL},
    {atArj, NewArchiver<TArj32>, ProbeAs<atArj, IsArjArchive>, TArj32::FreeDLL},
    {atZip, NewArchiver<TZip32>, ProbeAs<atZip, IsZipArchive>, TZip32::FreeDLL},
    {atBga, NewArchiver<TBGA32>, ProbeAs<atBga, IsBgaArchive>, TBGA32::FreeDLL},
    {atYz1, NewArchiver<TYZ1>, ProbeAs<atYz1, IsYz1Archive>, TYZ1::FreeDLL},
    {atCab, NewArchiver<TCab32>, ProbeAs<atCab, IsCabArchive>, TCab32::FreeDLL},
    {atLha, NewArchiver<TLha32>, ProbeAs<atLha, IsLhaArchive>, TLha32::FreeDLL},
    {at7z, NewArchiver<TSevenZip32>, nullptr, TSevenZip32::FreeDLL}, // no probe
};

} // namespace

std::span<const TArchiverFormat> ArchiverFormats() {
    return kFormats;
}

} // namespace archives
