// The product's clean-up on NT-family Windows, through handles. Everything
// below a held directory is opened relative to its parent's handle without
// following a link, read from its handle and deleted through a handle, so
// that nothing below the top is ever reached by a path: a directory made a
// link meanwhile is removed as a link, never entered, and a name swapped
// in leads nowhere else. Windows 95 sweeps by name (files/sweeps.h).
#ifndef PREUNINST_FILES_WALK_H
#define PREUNINST_FILES_WALK_H

#include "common/later_calls.h"
#include "common/platform.h"
#include "files/held.h"

typedef NTSTATUS(NTAPI* CreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* QueryDirectoryCall)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                            FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI* SetInformationCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
typedef NTSTATUS(NTAPI* CloseCall)(HANDLE);

// The calls of NTDLL the walk stands on, and how it tells a directory.
struct NativeCalls {
  CreateFileCall createFile;
  QueryDirectoryCall queryDirectory;
  SetInformationCall setInformation;
  CloseCall close;
  FileInformationCall fileInformation;  // KERNEL32's, where there is one
};

// Looks them up in NTDLL: every NT has them, Windows 95 none. False when
// one is missing.
bool FindNativeCalls(const LaterCalls& later, NativeCalls* calls);

// A name as NT keeps it: UTF-16, no terminator; at most 255 letters, as
// on every Windows file system.
const ULONG kMaxNameLength = 255;

struct WideName {
  WCHAR text[kMaxNameLength];
  ULONG length;
};

// The length bytes of an ANSI name of this machine's code page, as NT
// keeps it, and suffix (ASCII) after them; false when it cannot be had or
// is too long.
bool WidenName(const char* name, size_t length, const char* suffix, WideName* wide);

// Where the clean-up works, as directories the removal holds (a drive
// root opened for the walk stands where no directory is held above P).
struct ProductTree {
  HANDLE program;      // P
  HANDLE above;        // the directory above P
  HANDLE aboveParent;  // the directory above that; INVALID_HANDLE_VALUE when above is a drive's root
  bool rootIsProgram;  // the product root R is P (the value ended in a backslash), else the one above
  bool aboveMayGo;     // above, as spelt, is no link of the user's and no drive's root
  WideName userName;     // U, in above
  WideName programName;  // P, in above
  WideName aboveName;    // above, in aboveParent
  DirectoryIdentity programIdentity;
  DirectoryIdentity aboveIdentity;
  HANDLE driveRoot;  // a drive's root opened for the walk, or INVALID_HANDLE_VALUE
};

// Opens what name (length letters, no path) is in directory, relative to
// its handle, with NtCreateFile's access, sharing and options; a link is
// opened itself only where options say so.
NTSTATUS OpenNameIn(CreateFileCall create, HANDLE directory, const WCHAR* name, ULONG length, ACCESS_MASK access,
                    ULONG share, ULONG options, HANDLE* opened);

// The product's fixed clean-up list: files in R, P and U, P's data
// directories with all they hold, then P and the directory above it when
// they have become empty, each let go of in held first, its parent still
// held, and removed only where it is still that very directory.
void CleanProductTree(const NativeCalls& calls, const ProductTree& tree, HeldDirectories* held);

// Deletes every file in the directory that matches pattern, by its long
// name; no subdirectory, no link to one.
void DeleteMatchesIn(const NativeCalls& calls, HANDLE directory, const char* pattern);

// Empties the directory named name in parent with all below it, then
// removes it; a link there is removed itself, never entered.
void RemoveTreeBelow(const NativeCalls& calls, HANDLE parent, const WideName& name);

#endif
