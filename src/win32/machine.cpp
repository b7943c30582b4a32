// The emulated machine: its settings from machine.ini, the last-error value,
// the handle table, and the host API that opens, saves and bends it.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "win32/internal.h"
#include "win32/registry.h"

namespace hostwin {
namespace {

std::unique_ptr<Machine> g_machine;
bool g_openAttempted = false;
thread_local DWORD g_lastError = 0;
std::set<Object*> g_objects;

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) {
    --end;
  }
  return text.substr(begin, end - begin);
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsAbsoluteWindowsPath(const std::string& path) {
  return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// \\SERVER\SHARE, with or without a final backslash.
bool IsShareRoot(const std::string& path) {
  if (path.size() < 5 || path[0] != '\\' || path[1] != '\\') return false;
  const size_t separator = path.find('\\', 2);
  if (separator == std::string::npos || separator == 2) return false;
  const std::string share = path.substr(separator + 1);
  return !share.empty() && share.find('\\') == (share.back() == '\\' ? share.size() - 1 : std::string::npos);
}

// GetWindowsDirectoryA reports no trailing backslash but for a drive root.
std::string WithoutTrailingBackslash(const std::string& path) {
  std::string out(path);
  while (out.size() > 3 && (out.back() == '\\' || out.back() == '/')) out.pop_back();
  return out;
}

bool ParseSettings(const std::string& file, Settings* settings, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return true;  // every setting has a default
  std::string section;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string text = Trim(line);
    if (text.empty() || text[0] == ';') continue;
    const std::string where = "machine.ini line " + std::to_string(number) + ": ";
    if (text[0] == '[') {
      if (text.back() != ']') {
        *error = where + "unterminated section header";
        return false;
      }
      section = Fold(Trim(text.substr(1, text.size() - 2)));
      if (section != "MACHINE" && section != "IN USE" && section != "DENIED KEYS" && section != "SHARES" &&
          section != "SUBSTITUTES" && section != "FAIL CALLS" && section != "RACES" &&
          section != "SECURITY") {
        *error = where + "unknown section [" + text.substr(1, text.size() - 2) + "]";
        return false;
      }
      continue;
    }
    if (section == "MACHINE") {
      const size_t equals = text.find('=');
      if (equals == std::string::npos) {
        *error = where + "expected name=value";
        return false;
      }
      const std::string name = Fold(Trim(text.substr(0, equals)));
      const std::string value = Trim(text.substr(equals + 1));
      if (name == "PLATFORM") {
        const std::string platform = Fold(value);
        if (platform != "NT" && platform != "95") {
          *error = where + "platform must be nt or 95";
          return false;
        }
        settings->nt = platform == "NT";
      } else if (name == "SHORT NAMES" || name == "WOW64" || name == "CALL COUNTS") {
        const std::string answer = Fold(value);
        if (answer != "YES" && answer != "NO") {
          *error = where + Trim(text.substr(0, equals)) + " must be yes or no";
          return false;
        }
        bool* setting = name == "WOW64"         ? &settings->wow64
                        : name == "CALL COUNTS" ? &settings->callCounts
                                                : &settings->shortNames;
        *setting = answer == "YES";
      } else if (name == "VERSION") {
        // NT 4, 2000, XP, Vista, 7 or 10.
        const unsigned known[] = {400, 500, 501, 600, 601, 1000};
        unsigned major = 0;
        unsigned minor = 0;
        char rest = '\0';
        bool valid = sscanf(value.c_str(), "%u.%u%c", &major, &minor, &rest) == 2 && minor < 100;
        const unsigned version = major * 100 + minor;
        valid = valid && std::find(std::begin(known), std::end(known), version) != std::end(known);
        if (!valid) {
          *error = where + "version must be 4.0, 5.0, 5.1, 6.0, 6.1 or 10.0";
          return false;
        }
        settings->version = version;
      } else if (name == "CODE PAGE") {
        char* end = nullptr;
        const unsigned long page = strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || !IsKnownCodePage(static_cast<unsigned>(page))) {
          *error = where + "code page must be 1250, 1251, 1252 or 65001";
          return false;
        }
        settings->codePage = static_cast<unsigned>(page);
      } else if (name == "WINDOWS" || name == "SYSTEM" || name == "CURRENT") {
        if (!IsAbsoluteWindowsPath(value)) {
          *error = where + "expected a full path such as C:\\WINDOWS";
          return false;
        }
        if (name == "WINDOWS") settings->windows = WithoutTrailingBackslash(value);
        if (name == "SYSTEM") settings->system = WithoutTrailingBackslash(value);
        if (name == "CURRENT") settings->current = value;
      } else if (name == "ROOT ACL") {
        const std::string kind = Fold(value);
        if (kind != "ADMIN" && kind != "VISTA" && kind != "NT4") {
          *error = where + "root acl must be admin, vista or nt4";
          return false;
        }
        settings->rootAcl = kind == "ADMIN"   ? RootAcl::kAdmin
                            : kind == "VISTA" ? RootAcl::kVista
                                              : RootAcl::kNt4;
      } else if (name == "USER") {
        if (!ParseSid(value, &settings->user)) {
          *error = where + "user must be a SID such as S-1-5-21-1-2-3-500";
          return false;
        }
      } else if (name == "ADMINISTRATORS") {
        settings->administrators.clear();
        size_t at = 0;
        while (at <= value.size() && !value.empty()) {
          const size_t comma = std::min(value.find(',', at), value.size());
          std::vector<BYTE> sid;
          if (!ParseSid(Trim(value.substr(at, comma - at)), &sid)) {
            *error = where + "administrators must be SIDs separated by commas";
            return false;
          }
          settings->administrators.push_back(sid);
          at = comma + 1;
        }
      } else if (name == "ACLS") {
        std::string reason;
        if (!ParseAclsSetting(value, settings, &reason)) {
          *error = where + reason;
          return false;
        }
      } else {
        *error = where + "unknown setting " + Trim(text.substr(0, equals));
        return false;
      }
    } else if (section == "IN USE") {
      if (!IsAbsoluteWindowsPath(text)) {
        *error = where + "expected a full path";
        return false;
      }
      settings->inUse.push_back(text);
    } else if (section == "SHARES" || section == "SUBSTITUTES") {
      const size_t equals = text.find('=');
      const std::string place = equals == std::string::npos ? "" : Trim(text.substr(0, equals));
      const std::string target = equals == std::string::npos ? "" : Trim(text.substr(equals + 1));
      const bool share = section == "SHARES";
      const bool placeOk =
          share ? IsShareRoot(place) : place.size() == 2 && place[1] == ':' && IsDriveLetter(place[0]);
      if (!placeOk || !IsAbsoluteWindowsPath(target)) {
        *error = where + (share ? "expected \\\\SERVER\\SHARE=C:\\PATH" : "expected Z:=C:\\PATH");
        return false;
      }
      if (share) {
        settings->shares.emplace_back(Fold(WithoutTrailingBackslash(place)), target);
      } else {
        settings->substitutes.emplace_back(FoldChar(place[0]), target);
      }
    } else if (section == "FAIL CALLS") {
      FailCall call;
      std::string reason;
      if (!ParseFailCall(text, &call, &reason)) {
        *error = where + reason;
        return false;
      }
      settings->failCalls.push_back(call);
    } else if (section == "RACES") {
      Race race;
      std::string reason;
      if (!ParseRace(text, &race, &reason)) {
        *error = where + reason;
        return false;
      }
      settings->races.push_back(race);
    } else if (section == "SECURITY") {
      SecurityLine parsed;
      std::string reason;
      if (!ParseSecurityLine(text, &parsed, &reason)) {
        *error = where + reason;
        return false;
      }
      settings->security.push_back(parsed);
    } else if (section == "DENIED KEYS") {
      std::string key;
      if (!NormaliseKeyName(text, &key)) {
        *error = where + "expected a key under HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER";
        return false;
      }
      settings->deniedKeys.push_back(key);
    } else {
      *error = where + "text outside a section";
      return false;
    }
  }
  // Since Vista the Windows directory and Program Files keep their own
  // descriptor, not the root's: TrustedInstaller owns them, and Users only
  // read. First, so that a [security] line for them wins.
  if (settings->rootAcl == RootAcl::kVista) {
    const char kOwn[] =
        "owner S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464; protected; "
        "allow S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464 full inherit; "
        "allow S-1-5-18 full inherit; allow S-1-5-32-544 full inherit; allow S-1-5-32-545 read inherit";
    for (const std::string& path : {settings->windows, std::string("C:\\Program Files")}) {
      SecurityLine own;
      std::string reason;
      if (ParseSecurityLine(path + " = " + kOwn, &own, &reason)) settings->security.insert(settings->security.begin(), own);
    }
  }
  return true;
}

bool Open(const char* directory, bool loadRegistryNow, std::string* error) {
  if (directory == nullptr || directory[0] == '\0') {
    *error = "no emulated machine: set PREUNINST_MACHINE to its directory";
    return false;
  }
  struct stat info;
  if (stat(directory, &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = std::string("no emulated machine at ") + directory;
    return false;
  }
  char absolute[PATH_MAX];
  if (realpath(directory, absolute) == nullptr) {
    *error = std::string("cannot reach the machine at ") + directory;
    return false;
  }
  std::unique_ptr<Machine> machine(new Machine);
  machine->directory = absolute;
  if (!ParseSettings(JoinHost(machine->directory, "machine.ini"), &machine->settings, error)) {
    return false;
  }
  // machine.ini is UTF-8 text; the program sees its paths in its code page.
  Settings& settings = machine->settings;
  const auto ansi = [&settings](std::string* text) {
    *text = EncodeAnsi(DecodeUtf8(*text), settings.codePage, nullptr);
  };
  for (std::string* path : {&settings.windows, &settings.system, &settings.current}) ansi(path);
  for (std::string& path : settings.inUse) ansi(&path);
  for (auto& share : settings.shares) ansi(&share.second);
  for (auto& substitute : settings.substitutes) ansi(&substitute.second);
  for (SecurityLine& line : settings.security) ansi(&line.path);
  for (Race& race : settings.races) {
    ansi(&race.path);
    ansi(&race.target);
  }
  g_machine = std::move(machine);
  if (loadRegistryNow) {
    std::unique_ptr<Registry> registry(new Registry);
    if (!registry->Load(JoinHost(g_machine->directory, "registry.reg"), error)) {
      g_machine.reset();
      return false;
    }
    g_machine->registry = std::move(registry);
  }
  return true;
}

}  // namespace

Machine* CurrentMachine() {
  if (!g_machine && !g_openAttempted) {
    g_openAttempted = true;
    std::string error;
    Open(getenv("PREUNINST_MACHINE"), false, &error);
  }
  return g_machine.get();
}

Registry* CurrentRegistry() {
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return nullptr;
  if (!machine->registry) {
    std::unique_ptr<Registry> registry(new Registry);
    std::string error;
    if (!registry->Load(JoinHost(machine->directory, "registry.reg"), &error)) return nullptr;
    machine->registry = std::move(registry);
  }
  return machine->registry.get();
}

unsigned WindowsVersion() {
  const Machine* machine = CurrentMachine();
  return machine == nullptr ? Settings().version : machine->settings.nt ? machine->settings.version : 400;
}

std::string SystemDirectory(const Settings& settings) {
  if (!settings.system.empty()) return settings.system;
  return WithoutTrailingBackslash(settings.windows) + (settings.nt ? "\\SYSTEM32" : "\\SYSTEM");
}

bool SaveRegistry(std::string* error) {
  if (!g_machine || !g_machine->registry) return true;
  return g_machine->registry->SaveIfChanged(error);
}

void RefreshRegistryFromDisk() {
  if (g_machine && g_machine->registry) g_machine->registry->ReloadIfChangedOnDisk();
}

HANDLE AddObject(Object* object, const std::string& subject) {
  object->subject = subject;
  g_objects.insert(object);
  return object;
}

Object* LookUp(HANDLE handle, Object::Kind kind) {
  Object* object = static_cast<Object*>(handle);
  if (g_objects.count(object) == 0 || object->kind != kind) return nullptr;
  return object;
}

std::vector<Object*> ObjectsOf(Object::Kind kind) {
  std::vector<Object*> found;
  for (Object* object : g_objects) {
    if (object->kind == kind) found.push_back(object);
  }
  return found;
}

std::string SubjectOf(const void* handle) {
  Object* object = static_cast<Object*>(const_cast<void*>(handle));
  return g_objects.count(object) != 0 ? object->subject : std::string();
}

void KeepOpen(const void* handle) {
  Object* object = static_cast<Object*>(const_cast<void*>(handle));
  if (g_objects.count(object) != 0) object->kept = true;
}

void CloseObjectsAtEnd(bool all) {
  for (auto it = g_objects.begin(); it != g_objects.end();) {
    if (!all && !(*it)->kept) {
      ++it;
      continue;
    }
    delete *it;
    it = g_objects.erase(it);
  }
}

bool RemoveObject(HANDLE handle) {
  Object* object = static_cast<Object*>(handle);
  if (g_objects.erase(object) == 0) return false;
  delete object;
  return true;
}

}  // namespace hostwin

using namespace hostwin;

extern "C" DWORD WINAPI GetLastError(void) {
  const ApiCall call("GetLastError");
  return g_lastError;
}

extern "C" void WINAPI SetLastError(DWORD code) { g_lastError = code; }

bool HostOpenMachine(const char* directory, std::string* error) {
  HostCloseMachine();
  g_openAttempted = true;
  if (directory == nullptr) directory = getenv("PREUNINST_MACHINE");
  if (!Open(directory, true, error)) return false;
  StartCounting();
  return true;
}

bool HostSaveMachine(std::string* error) { return SaveRegistry(error); }

void HostCloseMachine() {
  StopCounting();
  g_machine.reset();
  g_openAttempted = false;
}

std::string HostPathOf(const char* windowsPath) {
  const Resolved resolved = ResolvePath(windowsPath);
  if (resolved.error != 0 && !resolved.exists && resolved.parentHost.empty()) return "";
  return resolved.host;
}

void HostDenyKey(const char* keyPath) {
  Machine* machine = CurrentMachine();
  std::string key;
  if (machine != nullptr && NormaliseKeyName(keyPath, &key)) {
    machine->settings.deniedKeys.push_back(key);
  }
}

void HostMarkInUse(const char* windowsPath) {
  Machine* machine = CurrentMachine();
  if (machine != nullptr) {
    machine->settings.inUse.push_back(windowsPath);
  }
}
