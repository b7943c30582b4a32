#include "registry/cleanup.h"

void CleanRegistry(const char* directoriesKeyPath) {
  // Still missing: the fixed list of key and value removals, ports and modems.
  (void)directoriesKeyPath;
}
