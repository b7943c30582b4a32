// Sweeps over the product's files and directories. A directory ends in a
// backslash; paths are the directory and a name put together, nothing
// inserted or removed. A directory and name too long for their buffer are
// skipped, and so are a directory that is a link (a junction, a symbolic
// link: never searched) and a found name that ends in a dot or a blank (a
// Win32 path cannot reach it as itself). With hold (NT-family Windows) each
// directory a sweep works in is held open while it does (files/held.h), and
// one that cannot be held is not used.
#ifndef PREUNINST_FILES_SWEEPS_H
#define PREUNINST_FILES_SWEEPS_H

#include "files/held.h"

// Deletes every file in directory that matches pattern (wildcards allowed).
void DeleteFiles(const char* directory, const char* pattern, bool hold);

// As DeleteFiles, but a file that cannot go now goes at the next start of
// Windows, and its SharedDLLs count is dropped either way.
void DeleteSharedFiles(const char* directory, const char* pattern, bool hold);

// Cuts the last directory off a path that ends in a backslash, in place:
// C:\APP\SYSTEM\ becomes C:\APP\. A path that does not end in a backslash,
// or whose only backslash is the last character, stays as it is.
void StripLastDirectory(char* path);

// Empties directory with all its subdirectories, then removes it. A link to
// a directory is removed, never entered.
void RemoveDirectoryTree(const char* directory, bool hold);

// The product's fixed clean-up list over product root, program directory and
// user directory. programDir is shortened in place; the directories it climbs
// through at the end are removed when empty, but not when they are links.
// held: the holds on the directories the removal stands on (NT-family
// Windows; null on Windows 95), let go of each directory just before it is
// removed. Always returns 0.
int CleanProductFiles(const char* productRoot, char* programDir, const char* userDir, HeldDirectories* held);

#endif
