// Directories held open. On NT-family Windows a handle opened for reading
// that shares reading only keeps every other program from renaming or
// deleting that directory (both need DELETE access) and from making it a
// link (that needs write access): what was checked stays what is used.
// Windows 95 opens no directory and holds nothing.
#ifndef PREUNINST_FILES_HELD_H
#define PREUNINST_FILES_HELD_H

#include "common/platform.h"

// A directory as NT knows it, whatever spelling leads there.
struct DirectoryIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
};

bool SameIdentity(const DirectoryIdentity& left, const DirectoryIdentity& right);

enum class Holding { kDirectory, kLink, kUnusable };

// Opens directory itself (no trailing backslash; a link at its end is not
// followed) and holds it. kDirectory or kLink with *handle open and
// *identity set; kUnusable, with nothing open, when it cannot be opened or
// told, or is no directory.
Holding HoldDirectory(const char* directory, HANDLE* handle, DirectoryIdentity* identity);

// The holds of one removal: every directory it stands on.
const int kMaxHeld = 64;

struct HeldDirectories {
  int count;
  HANDLE handles[kMaxHeld];
  DirectoryIdentity identities[kMaxHeld];
};

// Keeps handle among the holds; false, with handle closed, when there is no
// room left.
bool KeepHeld(HeldDirectories* held, HANDLE handle, const DirectoryIdentity& identity);

// Whether both hold the same directories in the same order.
bool SameHeld(const HeldDirectories& left, const HeldDirectories& right);

// Lets go of every hold on one directory, or of all of them.
void ReleaseHeldOn(HeldDirectories* held, const DirectoryIdentity& identity);
void ReleaseAllHeld(HeldDirectories* held);

#endif
