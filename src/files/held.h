// Directories held open. On NT-family Windows a handle opened for reading
// that shares reading only keeps every other program from renaming or
// deleting that directory: both need DELETE access, which the share mode
// refuses. It does not keep an empty directory from being made a link:
// that needs only write-attributes access, which no share mode refuses
// (MS-FSA 2.1.5.10.37, 2.1.5.1.2.2). So below a held directory nothing is
// reached by its path (files/walk.h). Windows 95 opens no directory and
// holds nothing.
#ifndef PREUNINST_FILES_HELD_H
#define PREUNINST_FILES_HELD_H

#include "common/later_calls.h"
#include "common/platform.h"

// A directory as NT knows it, whatever spelling leads there: its volume and
// its ID there. Windows 8 and later tell a 128-bit file ID (ReFS documents
// the 64-bit file index as not unique); before, the volume serial number
// and the file index.
struct DirectoryIdentity {
  bool wide;  // the 128-bit ID
  ULONGLONG volume;
  FILE_ID_128 id;  // the file index in its first eight bytes where not wide
};

// Whether two identities are the very same directory: told the same way and
// equal.
bool SameIdentity(const DirectoryIdentity& left, const DirectoryIdentity& right);

// Whether two identities could be one directory. Told two ways, they could
// be where they lie on one volume: what must not be the same directory is
// kept apart only when the volumes differ.
bool MayBeSameDirectory(const DirectoryIdentity& left, const DirectoryIdentity& right);

// What a handle holds: its identity and its attributes. False when it
// cannot be told (a FileIdInfo the volume knows but cannot give included).
bool TellIdentity(HANDLE handle, FileInformationCall fileInformation, DirectoryIdentity* identity,
                  DWORD* attributes);

enum class Holding { kDirectory, kLink, kUnusable };

// Opens directory itself (no trailing backslash; a link at its end is not
// followed) and holds it. kDirectory or kLink with *handle open and
// *identity set; kUnusable, with nothing open, when it cannot be opened or
// told, or is no directory.
Holding HoldDirectory(const char* directory, FileInformationCall fileInformation, HANDLE* handle,
                      DirectoryIdentity* identity);

// The holds of one removal: every directory it stands on.
const int kMaxHeld = 64;

struct HeldDirectories {
  int count;
  HANDLE handles[kMaxHeld];
  DirectoryIdentity identities[kMaxHeld];
  bool links[kMaxHeld];  // a link on the way, opened itself
};

// Keeps handle among the holds, as no link; false, with handle closed, when
// there is no room left.
bool KeepHeld(HeldDirectories* held, HANDLE handle, const DirectoryIdentity& identity);

// Whether both hold the same directories in the same order.
bool SameHeld(const HeldDirectories& left, const HeldDirectories& right);

// Lets go of every hold on one directory, or of all of them.
void ReleaseHeldOn(HeldDirectories* held, const DirectoryIdentity& identity);
void ReleaseAllHeld(HeldDirectories* held);

#endif
