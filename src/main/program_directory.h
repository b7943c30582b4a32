// Whether the directory value names a place the removal may work in.
#ifndef PREUNINST_MAIN_PROGRAM_DIRECTORY_H
#define PREUNINST_MAIN_PROGRAM_DIRECTORY_H

#include "common/platform.h"

// The directory value made full as Windows makes a path (/ separates, . and
// .. and doubled separators go), or false when it is no place for the
// suite: not a full path, a device path, a drive or share root, a link or
// mount point itself, Windows or its system directories or a directory
// above or inside them (whatever spelling leads there), a directory that
// holds none of the suite's programs, or no existing directory at all.
bool ResolveProgramDirectory(const char* value, char* resolved, DWORD capacity, int isNt);

// Whether a value names a full path: a drive's (C:\...) or a share's
// (\\server\share\...), not a device path.
bool NamesFullPath(const char* value);

#endif
