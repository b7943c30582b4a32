// Whether the directory value names a place the removal may work in.
#ifndef PREUNINST_MAIN_PROGRAM_DIRECTORY_H
#define PREUNINST_MAIN_PROGRAM_DIRECTORY_H

#include "common/platform.h"
#include "files/held.h"

// The directory value made full as Windows makes a path (/ separates, . and
// .. and doubled separators go), or false when it is no place for the
// suite: not a full path, a device path, a drive or share root, a link or
// mount point itself, Windows or its system directories or a directory
// above or inside them (wherever it really is, whatever spelling leads
// there), a directory that holds none of the suite's programs, or no
// existing directory at all. On NT-family Windows (isNt not 0) the
// directory and every directory above it, as spelt and where they really
// are, are held in held from before they are checked (the caller lets go of
// them, also when the result is false); a share that is no drive root of
// this machine, a link on the way that does not lead straight to its place,
// or one that Windows cannot follow (before Vista) make it no place. On
// Windows 95 a value on a substituted drive or a share of this machine is
// none either.
bool ResolveProgramDirectory(const char* value, char* resolved, DWORD capacity, int isNt, HeldDirectories* held);

// Holds a resolved program directory's places again, as the check did
// (NT-family Windows); false when one of them cannot be held. Whether they
// are the same directories is for the caller to compare.
bool HoldProgramDirectory(const char* resolved, HeldDirectories* held);

// Whether a value names a full path: a drive's (C:\...) or a share's
// (\\server\share\...), not a device path.
bool NamesFullPath(const char* value);

#endif
