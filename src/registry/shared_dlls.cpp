#include "registry/shared_dlls.h"

void ProtectSharedRuntimes(void) {
  // Still missing: making the runtime libraries read-only and raising the
  // AWLHUT32.DLL count.
}

void UnprotectSharedRuntimes(void) {
  // Still missing: undoing what ProtectSharedRuntimes does.
}
