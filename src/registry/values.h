// Reading, writing and removing one registry value, and removing a key with
// everything below it. Each call opens the key it needs and closes it again.
#ifndef PREUNINST_REGISTRY_VALUES_H
#define PREUNINST_REGISTRY_VALUES_H

#include "common/platform.h"

// 0 read, 1 not read. type and the first byte of data are cleared before
// anything else; a failed query sets size to 0, a key that cannot be opened
// leaves it as the caller set it.
int RegReadValue(HKEY root, const char* keyPath, const char* valueName, DWORD* type, BYTE* data, DWORD* size);

// Whether the value is there, whatever its type and length.
bool RegValueExists(HKEY root, const char* keyPath, const char* valueName);

// 0 stored, 1 not stored. Creates the key when it is missing.
int RegWriteValue(HKEY root, const char* keyPath, const char* valueName, DWORD type, const BYTE* data,
                  DWORD size);

// 0 removed, 1 not removed.
int RegRemoveValue(HKEY root, const char* keyPath, const char* valueName);

// Deletes the key and all its subkeys, children before parents. Returns the
// first Win32 error met (0 when everything is gone); what was deleted before
// that stays deleted, the rest stays in place.
LONG RegDeleteKeyTree(HKEY root, const char* keyPath);

#endif
