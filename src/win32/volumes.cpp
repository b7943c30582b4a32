// Drives and volumes of the emulated machine: which letters there are, what
// a substituted drive shows, and the serial number of the volume a file
// lies on. Every drive_x directory is a volume of its own.
#include <string.h>
#include <sys/stat.h>

#include "win32/internal.h"

namespace hostwin {

bool DriveOfHost(const std::string& host, std::string* drive, char* letter) {
  const Machine* machine = CurrentMachine();
  if (machine == nullptr) return false;
  const std::string prefix = machine->directory + "/drive_";
  if (host.compare(0, prefix.size(), prefix) != 0 || host.size() < prefix.size() + 1) return false;
  const char x = host[prefix.size()];
  if (x < 'a' || x > 'z' || (host.size() > prefix.size() + 1 && host[prefix.size() + 1] != '/')) return false;
  *drive = host.substr(0, prefix.size() + 1);
  *letter = static_cast<char>(x - 'a' + 'A');
  return true;
}

std::string WindowsPathOfHost(const std::string& host) {
  std::string drive;
  char letter = 0;
  if (!DriveOfHost(host, &drive, &letter)) return std::string();
  std::string windows = std::string(1, letter) + ":\\";
  std::string rest = host.substr(drive.size());
  while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  for (const char c : rest) windows.push_back(c == '/' ? '\\' : c);
  return AnsiFromUtf8(windows);
}

DWORD VolumeSerialOfHost(const std::string& host) {
  std::string drive;
  char letter = 0;
  if (DriveOfHost(host, &drive, &letter)) return 0x5A00003Cu | (static_cast<DWORD>(letter) << 8);
  struct stat status;
  return stat(host.c_str(), &status) == 0 ? static_cast<DWORD>(status.st_dev) : 0;
}

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char Upper(char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); }

const std::string* SubstituteOf(const Machine& machine, char letter) {
  for (const auto& substitute : machine.settings.substitutes) {
    if (substitute.first == Upper(letter)) return &substitute.second;
  }
  return nullptr;
}

bool DriveDirectoryExists(const Machine& machine, char letter) {
  struct stat status;
  const std::string drive = JoinHost(machine.directory, std::string("drive_") + static_cast<char>(Upper(letter) - 'A' + 'a'));
  return stat(drive.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// X:\ or \\SERVER\SHARE\ (the share one of the machine's): the root of a
// drive or share, as GetVolumeInformationA and GetDriveTypeA take it.
enum class Root { kNone, kDrive, kShare };

Root KindOfRoot(const Machine& machine, const std::string& text) {
  if (text.size() == 3 && IsLetter(text[0]) && text[1] == ':' && text[2] == '\\') return Root::kDrive;
  if (text.size() < 5 || text[0] != '\\' || text[1] != '\\' || text.back() != '\\') return Root::kNone;
  const std::string share = Fold(text.substr(0, text.size() - 1));
  for (const auto& known : machine.settings.shares) {
    if (known.first == share) return Root::kShare;
  }
  return Root::kNone;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

}  // namespace hostwin

using namespace hostwin;

extern "C" DWORD WINAPI GetLogicalDrives(void) {
  const ApiCall call("GetLogicalDrives");
  if (call.Fails()) return 0;
  const Machine* machine = CurrentMachine();
  if (machine == nullptr) return 0;
  DWORD drives = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (DriveDirectoryExists(*machine, letter) || SubstituteOf(*machine, letter) != nullptr) {
      drives |= 1u << (letter - 'A');
    }
  }
  return drives;
}

extern "C" UINT WINAPI GetDriveTypeA(LPCSTR root) {
  const ApiCall call("GetDriveTypeA", root != nullptr ? root : "");
  if (call.Fails()) return DRIVE_UNKNOWN;
  const Machine* machine = CurrentMachine();
  if (machine == nullptr) return DRIVE_UNKNOWN;
  const std::string text = root != nullptr ? root : machine->settings.current.substr(0, 3);
  // Every drive of the machine is a fixed disk, a substituted one too (it
  // reports the drive it shows); a share is remote, even one of this machine.
  switch (KindOfRoot(*machine, text.size() == 2 ? text + "\\" : text)) {
    case Root::kDrive: {
      const std::string* substitute = SubstituteOf(*machine, text[0]);
      return substitute != nullptr || DriveDirectoryExists(*machine, text[0]) ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
    }
    case Root::kShare:
      return DRIVE_REMOTE;
    default:
      return DRIVE_NO_ROOT_DIR;
  }
}

extern "C" BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial,
                                             LPDWORD maximumComponentLength, LPDWORD flags, LPSTR fileSystem,
                                             DWORD fileSystemSize) {
  const ApiCall call("GetVolumeInformationA", root != nullptr ? root : "");
  if (call.Fails()) return FALSE;
  const Machine* machine = CurrentMachine();
  if (machine == nullptr || root == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (KindOfRoot(*machine, root) == Root::kNone) return Fail(ERROR_DIR_NOT_ROOT);
  const Resolved resolved = ResolvePath(root);
  if (resolved.error != 0 || !resolved.exists) return Fail(ERROR_PATH_NOT_FOUND);
  // A substituted drive and a share report the volume they lie on.
  const std::string real = RealHostPath(resolved.host, false);
  // On NT a volume keeps security descriptors (NTFS) unless "acls" names
  // it as one without (FAT, as on Windows 95).
  const bool acls = machine->settings.nt && HasPersistentAcls(real);
  const char* const system = acls ? "NTFS" : "FAT";
  if ((name != nullptr && nameSize < 1) || (fileSystem != nullptr && fileSystemSize <= strlen(system))) {
    return Fail(ERROR_BAD_LENGTH);
  }
  if (name != nullptr) name[0] = '\0';
  if (fileSystem != nullptr) memcpy(fileSystem, system, strlen(system) + 1);
  if (serial != nullptr) *serial = VolumeSerialOfHost(real);
  if (maximumComponentLength != nullptr) *maximumComponentLength = 255;
  if (flags != nullptr) *flags = acls ? FILE_PERSISTENT_ACLS : 0;
  return TRUE;
}

extern "C" DWORD WINAPI QueryDosDeviceA(LPCSTR device, LPSTR target, DWORD size) {
  const ApiCall call("QueryDosDeviceA", device != nullptr ? device : "");
  if (call.Fails()) return 0;
  const Machine* machine = CurrentMachine();
  // Windows 95 has no DOS device names to ask for.
  if (machine == nullptr || !machine->settings.nt) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (device == nullptr || target == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::string name(device);
  if (name.size() != 2 || !IsLetter(name[0]) || name[1] != ':') return Fail(ERROR_FILE_NOT_FOUND);
  std::string answer;
  if (const std::string* substitute = SubstituteOf(*machine, name[0])) {
    answer = "\\??\\" + *substitute;
  } else if (DriveDirectoryExists(*machine, name[0])) {
    answer = "\\Device\\HarddiskVolume" + std::to_string(Upper(name[0]) - 'A' + 1);
  } else {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  // The list of names ends in an empty one.
  answer.append(2, '\0');
  if (size < answer.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(target, answer.data(), answer.size());
  return static_cast<DWORD>(answer.size());
}
