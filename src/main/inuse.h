// The check that no program or library of the product is in use.
#ifndef PREUNINST_MAIN_INUSE_H
#define PREUNINST_MAIN_INUSE_H

// 0 when the file is not there or can be opened for exclusive reading and
// writing; else 1 (another program holds it, it is read-only, or the open
// failed otherwise).
int IsFileLocked(const char* path);

// 1 when directory+name is free; otherwise warns, naming the file, and
// returns 0.
int CheckComponentFree(const char* directory, const char* name);

// 1 when none of the product's component files is in use; otherwise warns
// once, naming the first one found, and returns 0.
int CheckAllComponentsFree(const char* programDir);

#endif
