// The chief header of the archive component: everything a user of TArchiveFile needs (the
// component, its switch record, file arguments, exceptions, the back-end base and the format
// table).
#pragma once

#include "archiver_api.h"
#include "archives/ArchiveFile.h"
#include "archives/Archiver.h"
#include "archives/ArchiverDll.h"
#include "archives/ArchiverFormats.h"
#include "archives/ArchiverOptions.h"
#include "archives/ArchiverType.h"
#include "archives/CmdOpt.h"
#include "archives/Exceptions.h"
#include "archives/FileArgs.h"
#include "archives/MessageWindow.h"
#include "archives/StringList.h"
