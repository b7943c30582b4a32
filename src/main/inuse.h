// The check that no program or library of the product is in use.
#ifndef PREUNINST_MAIN_INUSE_H
#define PREUNINST_MAIN_INUSE_H

// 1 when none of the product's component files is in use; otherwise warns
// once, naming the first one found, and returns 0.
int CheckAllComponentsFree(const char* programDir);

#endif
