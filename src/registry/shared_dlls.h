// SharedDLLs reference counts, and the guard around three shared libraries
// in the system directory for the length of one run.
#ifndef PREUNINST_REGISTRY_SHARED_DLLS_H
#define PREUNINST_REGISTRY_SHARED_DLLS_H

#include "common/platform.h"

// Counters on a REG_DWORD value of four bytes, unsigned. Lowering stops at
// 0 and never removes the value; raising creates a missing one as 1. A count
// of 0xFFFFFFFF is never changed, and neither is a value of another type or
// length (raising then gives 1, lowering a new count of 0).
void DecrementDwordValue(HKEY root, const char* keyPath, const char* valueName, DWORD* newCount);
int IncrementDwordValue(HKEY root, const char* keyPath, const char* valueName);

// The count of directory+fileName (fileName may be null: the directory alone
// names the file) under SharedDLLs; 0 when there is none, or when the value
// is no four-byte REG_DWORD.
DWORD SharedDllGetCount(const char* directory, const char* fileName);
int SharedDllAddRef(const char* directory, const char* fileName);
DWORD SharedDllRelease(const char* directory, const char* fileName);
int SharedDllForget(const char* directory, const char* fileName);
// Mode 1 forgets the count and gives 0; any other mode releases one.
DWORD SharedDllReleaseOrForget(const char* directory, const char* fileName, int mode);

const int kAttributeChangeFailed = 3001;
int SetReadOnly(const char* directory, const char* fileName);
int ClearReadOnly(const char* directory, const char* fileName);

// The guard of one run. Protect returns how many references it added to
// AWLHUT32.DLL's count (0 to 2); Unprotect takes away that many and no more,
// so that a guard that could not be set never lowers another program's count.
int ProtectSharedRuntimes(void);
void UnprotectSharedRuntimes(int added);

#endif
