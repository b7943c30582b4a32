// SharedDLLs reference counts and the guard around the shared runtime
// libraries for the length of one run.
#ifndef PREUNINST_REGISTRY_SHARED_DLLS_H
#define PREUNINST_REGISTRY_SHARED_DLLS_H

void ProtectSharedRuntimes(void);
void UnprotectSharedRuntimes(void);

#endif
