// The Windows and the system directory with something after them. Both calls
// report a result that does not fit without filling the buffer, so nothing
// is ever built on a buffer they did not fill.
#ifndef PREUNINST_COMMON_PLACES_H
#define PREUNINST_COMMON_PLACES_H

#include "common/platform.h"

// The directory followed by suffix (for instance "\\"). False, with the
// buffer empty, when the directory cannot be had or the whole does not fit.
bool WindowsDirectoryWith(char* buffer, UINT capacity, const char* suffix);
bool SystemDirectoryWith(char* buffer, UINT capacity, const char* suffix);

#endif
