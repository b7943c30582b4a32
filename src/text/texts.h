// The fixed texts (Windows-1252 bytes) and the fixed name lists.
#ifndef PREUNINST_TEXT_TEXTS_H
#define PREUNINST_TEXT_TEXTS_H

#include <stddef.h>

extern const char kCaption[];
extern const char kConfirmationPrefix[];
extern const char kProductTitle[];
extern const char kRestartNotice[];
extern const char kComponentInUseWarning[];

// The product's Directories key is built from a format and five parts.
extern const char kDirectoriesKeyFormat[];
extern const char* const kDirectoriesKeyParts[5];
extern const char kDirectoryValueName[];

// Builds Software\<maker>\<product> Version <n>\Directories into keyPath.
bool BuildDirectoriesKeyPath(char* keyPath, size_t capacity);

// Component files tested for use, in this order: first in the program
// directory, then in the system directory.
extern const char* const kProgramComponents[3];
extern const char* const kSystemComponents[9];

// The suite's own program files: a program directory holds at least one.
extern const char* const kSuiteProgramFiles[7];

// The product's clean-up list, in its order: file patterns swept in the
// product root, the program directory or the user directory (or a
// subdirectory of one), then the program directory's data directories,
// removed with all they hold.
enum class SweepBase { kRoot, kProgram, kUser };

struct FileSweep {
  SweepBase base;
  const char* subdirectory;  // below the base; null for the base itself
  const char* pattern;
};

extern const FileSweep kFileSweeps[12];
extern const char* const kDataDirectories[8];

#endif
