// Deleting a file now, or at the next start of Windows when it is in use.
#ifndef PREUNINST_FILES_SCHEDULE_H
#define PREUNINST_FILES_SCHEDULE_H

#include <stddef.h>

#include "common/platform.h"

// Deletes path at once; when that is refused, asks the system to delete it at
// the next start (NT); when that is refused too (Windows 95), adds
// NUL=<short path> to the section Rename of WININIT.INI.
void DeleteOrScheduleFile(const char* path);

// Adds key=value as the first line of [section] in the INI file, or appends
// the section with that line when there is none. Existing lines are never
// changed; when a write fails part-way the file is put back as it was.
void IniAddEntry(const char* section, const char* key, const char* value, const char* file);

// What IniAddEntry writes into text (size bytes, a zero byte after them):
// entry and the offset it goes in at. False when the entry does not fit.
bool PlanIniEntry(const char* text, DWORD size, const char* section, const char* key, const char* value,
                  char* entry, size_t capacity, DWORD* insertAt);

#endif
