#include "registry/cleanup.h"

#include "common/platform.h"
#include "common/strings.h"
#include "registry/values.h"

namespace {

const char kModemKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UniModem\\DeviceSpecific";
const char kPortMark[] = "TAVPORT";
const char kModemPrefix[] = "TAV CAPI";
const char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// Roots as names: a table of handles would need code to run before main,
// and the Windows program has no C runtime to run it.
enum class Root { kMachine, kUser };
enum class Action { kDeleteTree, kRemoveValue, kPorts, kModems };

struct Removal {
  Root root;
  Action action;
  const char* keyPath;  // null for a tree: the Directories key passed in
  const char* valueName;
};

const Removal kRemovals[] = {
    {Root::kMachine, Action::kDeleteTree, nullptr, nullptr},
    {Root::kUser, Action::kDeleteTree, nullptr, nullptr},
    {Root::kMachine, Action::kPorts, nullptr, nullptr},
    {Root::kMachine, Action::kModems, nullptr, nullptr},
    {Root::kMachine, Action::kDeleteTree, "System\\CurrentControlSet\\Services\\VxD\\VPORT", nullptr},
    {Root::kMachine, Action::kDeleteTree, "System\\CurrentControlSet\\Services\\VxD\\VTAVCAPI", nullptr},
    {Root::kMachine, Action::kDeleteTree, "SOFTWARE\\Classes\\.trm", nullptr},
    {Root::kMachine, Action::kDeleteTree, "SOFTWARE\\Classes\\TAV-TRM", nullptr},
    {Root::kMachine, Action::kDeleteTree,
     "SOFTWARE\\Classes\\Interface\\{9B24D7E0-3C05-11CF-A61F-0000B3D5E6A1}", nullptr},
    {Root::kMachine, Action::kDeleteTree, "SOFTWARE\\Classes\\.ses", nullptr},
    {Root::kMachine, Action::kDeleteTree, "SOFTWARE\\Classes\\TAV-TERM", nullptr},
    {Root::kMachine, Action::kDeleteTree,
     "SOFTWARE\\Classes\\Interface\\{0F8E2C40-5A16-11CF-B3D2-4A7700E10000}", nullptr},
    {Root::kMachine, Action::kDeleteTree, "SOFTWARE\\Classes\\.sff", nullptr},
    {Root::kMachine, Action::kDeleteTree, "SOFTWARE\\Classes\\TAV-FAX", nullptr},
    {Root::kMachine, Action::kDeleteTree,
     "SOFTWARE\\Classes\\Interface\\{62E0F302-B7A4-11CF-9C4D-0000A47B21E5}", nullptr},
    {Root::kMachine, Action::kDeleteTree,
     "SOFTWARE\\Classes\\Interface\\{62E0F300-B7A4-11CF-9C4D-0000A47B21E5}", nullptr},
    {Root::kMachine, Action::kDeleteTree,
     "SOFTWARE\\Classes\\Interface\\{3C51A0B0-D942-11CE-8E27-0000A41F7C30}", nullptr},
    {Root::kMachine, Action::kDeleteTree,
     "SOFTWARE\\Classes\\Interface\\{3C51A0B1-D942-11CE-8E27-0000A41F7C30}", nullptr},
    {Root::kMachine, Action::kDeleteTree, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\TAVCC",
     nullptr},
    {Root::kUser, Action::kRemoveValue, kRunOnceKey, "LineDesk"},
    {Root::kUser, Action::kRemoveValue, kRunOnceKey, "Install"},
    {Root::kMachine, Action::kDeleteTree, "System\\CurrentControlSet\\Services\\VxD\\QBPATCH", nullptr},
    {Root::kMachine, Action::kDeleteTree, "System\\CurrentControlSet\\Services\\VxD\\QBLDR", nullptr},
    {Root::kMachine, Action::kDeleteTree, "System\\CurrentControlSet\\Services\\VxD\\QBDVXD", nullptr},
};

HKEY HandleOf(Root root) { return root == Root::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// The mark must be TAVPORT exactly. The data is read as a string that ends at
// its first zero byte or at its length, whichever comes first, so that a value
// stored without a terminator is never read past.
bool IsProductPort(const char* data, DWORD size) {
  DWORD length = 0;
  while (length < size && data[length] != '\0') ++length;
  const DWORD markLength = static_cast<DWORD>(StrLength(kPortMark));
  if (length != markLength) return false;
  for (DWORD i = 0; i < length; ++i) {
    if (data[i] != kPortMark[i]) return false;
  }
  return true;
}

bool IsProductModem(const char* name) {
  return StrLength(name) >= 8 && AsciiEqualNoCase(name, kModemPrefix, 8);
}

}  // namespace

void CleanRegistry(const char* directoriesKeyPath) {
  for (const Removal& removal : kRemovals) {
    const HKEY root = HandleOf(removal.root);
    const char* keyPath = removal.keyPath != nullptr ? removal.keyPath : directoriesKeyPath;
    switch (removal.action) {
      case Action::kDeleteTree:
        RegDeleteKeyTree(root, keyPath);
        break;
      case Action::kRemoveValue:
        RegRemoveValue(root, keyPath, removal.valueName);
        break;
      case Action::kPorts:
        RemovePortEntries();
        break;
      case Action::kModems:
        RemoveModemEntries();
        break;
    }
  }
}

void RemovePortEntries(void) {
  for (int number = 1; number <= 9; ++number) {
    char portName[260];
    if (StrFormat(portName, CountOf(portName), "COM%i", number)) RemovePortEntry(portName);
  }
}

void RemovePortEntry(const char* portName) {
  char enumKey[260];
  char classKey[260];
  if (!StrFormat(enumKey, CountOf(enumKey), "Enum\\Root\\ports\\%s", portName) ||
      !StrFormat(classKey, CountOf(classKey), "System\\CurrentControlSet\\Services\\Class\\Ports\\%s",
                 portName)) {
    return;
  }
  char mark[260];
  DWORD type = REG_NONE;
  DWORD size = CountOf(mark);
  if (RegReadValue(HKEY_LOCAL_MACHINE, enumKey, "HardWareID", &type, reinterpret_cast<BYTE*>(mark), &size) !=
      0) {
    return;
  }
  if (!IsProductPort(mark, size)) return;
  // The mark goes last: a run cut off between the two keys leaves it for the
  // next run, which then takes the rest.
  RegDeleteKeyTree(HKEY_LOCAL_MACHINE, classKey);
  RegDeleteKeyTree(HKEY_LOCAL_MACHINE, enumKey);
}

void RemoveModemEntries(void) {
  HKEY modems;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kModemKey, 0, DELETE | KEY_ENUMERATE_SUB_KEYS, &modems) !=
      ERROR_SUCCESS) {
    return;
  }
  DWORD index = 0;
  for (;;) {
    char name[256];
    DWORD length = CountOf(name);
    if (RegEnumKeyExA(modems, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    // A deleted subkey's place goes to the next one: look at the same index
    // again, or two product modems in a row would leave the second behind.
    if (IsProductModem(name) && RegDeleteKeyTree(modems, name) == ERROR_SUCCESS) continue;
    ++index;
  }
  RegCloseKey(modems);
}
