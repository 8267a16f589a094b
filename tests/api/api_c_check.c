/* The interface header must compile as C: the libraries may be written in either language. */
#include "archiver_api.h"

size_t api_c_individualinfo_size(void) { return sizeof(INDIVIDUALINFO); }
size_t api_c_extractinginfo_size(void) { return sizeof(EXTRACTINGINFOEX); }
UINT api_c_message(const char *name) { return ArcRegisterWindowMessage(name); }
