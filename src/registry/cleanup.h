// The product's registry entries, removed after a successful uninstall.
#ifndef PREUNINST_REGISTRY_CLEANUP_H
#define PREUNINST_REGISTRY_CLEANUP_H

// Runs the fixed list of removals in order; no failure stops the list.
void CleanRegistry(const char* directoriesKeyPath);

// The suite's serial ports COM1 to COM9: those whose enumeration key is
// marked TAVPORT lose that key and their class key.
void RemovePortEntries(void);
void RemovePortEntry(const char* portName);

// Every modem whose name starts with TAV CAPI.
void RemoveModemEntries(void);

#endif
