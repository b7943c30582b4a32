// The product's registry entries removed after a successful uninstall.
#ifndef PREUNINST_REGISTRY_CLEANUP_H
#define PREUNINST_REGISTRY_CLEANUP_H

void CleanRegistry(const char* directoriesKeyPath);

#endif
