// Sweeps by name over the product's files and directories, as Windows 95
// has them: no directory is opened there, and there are no users to guard
// against (NT-family Windows walks through handles: files/walk.h). A
// directory ends in a backslash; paths are the directory and a name put
// together, nothing inserted or removed. A directory and name too long for
// their buffer are skipped, and so are a directory that is a link (never
// searched) and a found name that ends in a dot or a blank (a Win32 path
// cannot reach it as itself).
#ifndef PREUNINST_FILES_SWEEPS_H
#define PREUNINST_FILES_SWEEPS_H

// Deletes every file in directory that matches pattern (wildcards allowed).
void DeleteFiles(const char* directory, const char* pattern);

// As DeleteFiles, but a file that cannot go now goes at the next start of
// Windows, and its SharedDLLs count is dropped either way.
void DeleteSharedFiles(const char* directory, const char* pattern);

// Empties directory with all its subdirectories, then removes it. A link to
// a directory is removed, never entered.
void RemoveDirectoryTree(const char* directory);

// The product's fixed clean-up list over product root, program directory and
// user directory, and TAVFAXDV.INI in the Windows directory. programDir is
// shortened in place; the directories it climbs through at the end are
// removed when empty, but not when they are links. Always returns 0.
int CleanProductFiles(const char* productRoot, char* programDir, const char* userDir);

#endif
