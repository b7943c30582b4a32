// Sweeps over the product's files and directories.
#ifndef PREUNINST_FILES_SWEEPS_H
#define PREUNINST_FILES_SWEEPS_H

// Cuts the last directory off a path that ends in a backslash, in place:
// C:\APP\SYSTEM\ becomes C:\APP\. A path that does not end in a backslash,
// or whose only backslash is the last character, stays as it is.
void StripLastDirectory(char* path);

// Deletes every match of pattern in directory at once or, when that is
// refused, at the next start of Windows, and drops its SharedDLLs count.
void DeleteSharedFiles(const char* directory, const char* pattern);

// The product's fixed clean-up list over product root, program directory and
// user directory. programDir is shortened in place. Always returns 0.
int CleanProductFiles(const char* productRoot, char* programDir, const char* userDir);

#endif
