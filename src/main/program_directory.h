// Whether the directory value names a place the removal may work in: the
// suite's, and away from Windows.
#ifndef PREUNINST_MAIN_PROGRAM_DIRECTORY_H
#define PREUNINST_MAIN_PROGRAM_DIRECTORY_H

#include "common/later_calls.h"
#include "common/platform.h"
#include "files/walk.h"
#include "main/real_place.h"

// The directory value made full as Windows makes a path (/ separates, . and
// .. and doubled separators go), or false when it is no place for the
// suite: not a full path, a device path, a drive or share root, a link or
// mount point itself, Windows or its system directories or a directory
// above or inside them (wherever it really is, whatever spelling leads
// there), a directory that holds none of the suite's programs, or no
// existing directory at all. On NT-family Windows (isNt not 0) the
// directory's places are held in places from before they are checked (the
// caller lets go of them, also when the result is false); a share that is
// no drive root of this machine, a link on the way that does not lead
// straight to its place, or one that Windows cannot follow (before Vista)
// make it no place. On Windows 95 a value on a substituted drive or a share
// of this machine is none either.
bool ResolveProgramDirectory(const char* value, char* resolved, DWORD capacity, int isNt, const LaterCalls& calls,
                             ProgramPlaces* places);

// Holds a resolved program directory's places again, as the check did
// (NT-family Windows); false when one of them cannot be held. Whether they
// are the same directories is for the caller to compare.
bool HoldProgramDirectory(const char* resolved, const LaterCalls& calls, ProgramPlaces* places);

// The product's directories for the walk, from the held places of the
// program directory and the resolved value: R is P where the value ends in
// a backslash, else the directory above; U is USER, or P's name and USER,
// in the directory above P. A drive root the walk needs is opened for it;
// CloseProductTree lets go of it. False when a name cannot be had.
bool OpenProductTree(const ProgramPlaces& places, const char* resolved, ProductTree* tree);
void CloseProductTree(ProductTree* tree);

#endif
