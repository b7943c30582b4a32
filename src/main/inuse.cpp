#include "main/inuse.h"

int CheckAllComponentsFree(const char* programDir) {
  // Still missing: testing the twelve component files and the warning.
  (void)programDir;
  return 1;
}
