// Whether anyone but administrators could have put the code there that the
// removal runs elevated: the program or library itself, the program
// directory P and every directory above it, each read through a handle the
// removal holds, so that what is judged is what runs.
#ifndef PREUNINST_FILES_TRUST_H
#define PREUNINST_FILES_TRUST_H

#include "common/platform.h"
#include "files/held.h"

// What one object's descriptor says: only administrators can change it,
// someone else can, or it cannot be told.
enum class Trust { kTrusted, kOpen, kUnknown };

// The objects a check reads; each kind has its own rights that change
// what runs.
enum class CodeObject { kFile, kProgramDirectory, kDirectoryAbove };

// Who counts as an administrator besides SYSTEM, Administrators and
// TrustedInstaller.
struct Administrators {
  PSID user;  // the token's own user
  const LOCALGROUP_MEMBERS_INFO_0* members;
  DWORD memberCount;
  bool powerUsers;  // before Vista
};

// One descriptor as GetSecurityInfo gives it: the owner first, then each
// entry of the DACL (null: a null DACL) that applies to the object itself.
// The ACL is walked by its own sizes; one that does not add up is kUnknown.
Trust TrustOfDescriptor(PSID owner, const ACL* dacl, CodeObject object, const Administrators& administrators);

// Whether the program and library files (each opened with GENERIC_READ,
// sharing reading only, and kept open until it runs; INVALID_HANDLE_VALUE
// for one that is not there, null for one that could not be opened) may run
// elevated: nobody but administrators can have changed them, P, a directory
// above or a link on the way, or Windows' own system directory is open to
// others too, so that there is no boundary left to keep. root is the
// drive's root; held are the directories below it, from the top down, P
// last; each handle has READ_CONTROL. Before Vista Power Users count as
// administrators. For NT-family Windows only (Windows 95 has no accounts);
// false when anything cannot be read or told.
bool MayRunCodeFrom(HANDLE root, const HeldDirectories& held, const HANDLE* files, int fileCount);

#endif
