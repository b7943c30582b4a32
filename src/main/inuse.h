// The check that no program or library of the product is in use.
#ifndef PREUNINST_MAIN_INUSE_H
#define PREUNINST_MAIN_INUSE_H

// 1 when a search finds the path, else 0.
int FileExists(const char* path);

// 1 when the file exists and cannot be opened for exclusive reading and
// writing (another program holds it, or it is read-only); else 0.
int IsFileLocked(const char* path);

// 1 when directory+name is free; otherwise warns, naming the file, and
// returns 0.
int CheckComponentFree(const char* directory, const char* name);

// 1 when none of the product's component files is in use; otherwise warns
// once, naming the first one found, and returns 0.
int CheckAllComponentsFree(const char* programDir);

#endif
