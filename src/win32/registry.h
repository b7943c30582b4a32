// The emulated registry: two roots, keys compared without regard to case,
// read from and written back to registry.reg in REGEDIT4 form.
#ifndef PREUNINST_WIN32_REGISTRY_H
#define PREUNINST_WIN32_REGISTRY_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "win32/windows.h"

namespace hostwin {

struct RegValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct RegKey {
  std::string name;
  RegKey* parent = nullptr;
  bool deleted = false;
  std::vector<RegValue> values;
  // Folded name to key; the order is the order RegEnumKeyExA reports.
  std::map<std::string, std::shared_ptr<RegKey>> children;

  RegValue* FindValue(const std::string& valueName);
  std::string FullName() const;  // HKEY_LOCAL_MACHINE\Software\...
};

class Registry {
 public:
  Registry();
  bool Load(const std::string& file, std::string* error);
  bool SaveIfChanged(std::string* error);
  void ReloadIfChangedOnDisk();
  void MarkChanged() { changed_ = true; }

  std::shared_ptr<RegKey> Root(HKEY predefined) const;

 private:
  bool Parse(const std::string& text, std::string* error);
  std::string Serialise() const;
  void RememberFileState();

  std::string file_;
  std::shared_ptr<RegKey> machine_;
  std::shared_ptr<RegKey> user_;
  bool changed_ = false;
  // What the file looked like when last read or written.
  bool fileExisted_ = false;
  ino_t inode_ = 0;
  off_t size_ = 0;
  long long modified_ = 0;
};

// HKLM\x or hkey_local_machine\X\ -> HKEY_LOCAL_MACHINE\X, folded. False for
// another root.
bool NormaliseKeyName(const std::string& name, std::string* normalised);

}  // namespace hostwin

#endif
