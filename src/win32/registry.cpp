#include "win32/registry.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "win32/internal.h"

namespace hostwin {
namespace {

const char kMachineRoot[] = "HKEY_LOCAL_MACHINE";
const char kUserRoot[] = "HKEY_CURRENT_USER";

// Rights a key in [denied keys] refuses.
const REGSAM kDeniedRights = DELETE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

struct KeyObject : Object {
  KeyObject(std::shared_ptr<RegKey> k, REGSAM a) : Object(Kind::kKey), key(std::move(k)), access(a) {}
  std::shared_ptr<RegKey> key;
  REGSAM access;
};

bool IsPredefined(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER; }

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t at = 0; at < path.size(); at += LetterSize(path, at)) {
    if (path[at] == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.append(path, at, LetterSize(path, at));
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool IsDenied(const RegKey& key) {
  Machine* machine = CurrentMachine();
  if (machine == nullptr) return false;
  const std::string name = Fold(key.FullName());
  for (const std::string& denied : machine->settings.deniedKeys) {
    if (denied == name) return true;
  }
  return false;
}

REGSAM MapAccess(REGSAM access) {
  REGSAM mapped = access & ~(GENERIC_READ | GENERIC_WRITE | MAXIMUM_ALLOWED);
  if (access & GENERIC_READ) mapped |= KEY_READ;
  if (access & GENERIC_WRITE) mapped |= KEY_WRITE;
  return mapped;
}

// The key a handle stands for, with the rights it was opened with.
std::shared_ptr<RegKey> KeyOf(HKEY handle, REGSAM* access, LONG* status) {
  Registry* registry = CurrentRegistry();
  if (registry == nullptr) {
    *status = ERROR_BADDB;
    return nullptr;
  }
  if (IsPredefined(handle)) {
    *access = KEY_ALL_ACCESS;
    return registry->Root(handle);
  }
  KeyObject* object = static_cast<KeyObject*>(LookUp(handle, Object::Kind::kKey));
  if (object == nullptr) {
    *status = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  *access = object->access;
  return object->key;
}

// A key handle and a name below it, as one path for the call trace.
std::string KeySubject(HKEY handle, const char* name) {
  std::string key;
  if (IsPredefined(handle)) {
    key = handle == HKEY_LOCAL_MACHINE ? kMachineRoot : kUserRoot;
  } else if (KeyObject* object = static_cast<KeyObject*>(LookUp(handle, Object::Kind::kKey))) {
    key = object->key->FullName();
  }
  if (name != nullptr && name[0] != '\0') key += std::string("\\") + name;
  return key;
}

HKEY NewHandle(const std::shared_ptr<RegKey>& key, REGSAM access) {
  return static_cast<HKEY>(AddObject(new KeyObject(key, access)));
}

void MarkDeleted(RegKey* key) {
  key->deleted = true;
  for (auto& child : key->children) MarkDeleted(child.second.get());
}

// ---- REGEDIT4 text ----

std::string EscapeQuoted(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size(); at += LetterSize(text, at)) {
    if (text[at] == '\\' || text[at] == '"') out.push_back('\\');
    out.append(text, at, LetterSize(text, at));
  }
  out.push_back('"');
  return out;
}

bool PlainString(const RegValue& value) {
  if (value.type != REG_SZ || value.data.empty() || value.data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < value.data.size(); ++i) {
    const char c = value.data[i];
    if (c == '\0' || c == '\r' || c == '\n') return false;
  }
  return true;
}

std::string FormatValue(const RegValue& value) {
  std::string line = value.name.empty() ? "@" : EscapeQuoted(value.name);
  line += "=";
  if (PlainString(value)) return line + EscapeQuoted(value.data.substr(0, value.data.size() - 1));
  char number[32];
  if (value.type == REG_DWORD && value.data.size() == 4) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(value.data.data());
    snprintf(number, sizeof(number), "dword:%02x%02x%02x%02x", b[3], b[2], b[1], b[0]);
    return line + number;
  }
  if (value.type == REG_BINARY) {
    line += "hex:";
  } else {
    snprintf(number, sizeof(number), "hex(%x):", static_cast<unsigned>(value.type));
    line += number;
  }
  for (size_t i = 0; i < value.data.size(); ++i) {
    snprintf(number, sizeof(number), "%02x", static_cast<unsigned char>(value.data[i]));
    line += number;
    if (i + 1 < value.data.size()) {
      line += ",";
      if ((i + 1) % 24 == 0) line += "\\\r\n  ";
    }
  }
  return line;
}

// Every key in a section of its own, the roots too, also without values.
void SerialiseKey(const RegKey& key, const std::string& path, std::string* out) {
  *out += "[" + path + "]\r\n";
  for (const RegValue& value : key.values) *out += FormatValue(value) + "\r\n";
  *out += "\r\n";
  for (const auto& child : key.children) SerialiseKey(*child.second, path + "\\" + child.second->name, out);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string starting at text[*at] == '"'.
bool ReadQuoted(const std::string& text, size_t* at, std::string* out) {
  size_t i = *at + 1;
  out->clear();
  while (i < text.size() && text[i] != '"') {
    // REGEDIT4 knows two escapes; regedit refuses any other. The second
    // byte of a letter of two is neither.
    if (text[i] == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return false;
      ++i;
    }
    const size_t size = LetterSize(text, i);
    out->append(text, i, size);
    i += size;
  }
  if (i >= text.size()) return false;
  *at = i + 1;
  return true;
}

bool ParseHexBytes(const std::string& list, std::string* out) {
  out->clear();
  std::string digits;
  for (size_t i = 0; i <= list.size(); ++i) {
    const char c = i < list.size() ? list[i] : ',';
    if (c == ' ' || c == '\t') continue;
    if (c == ',') {
      if (digits.empty()) {
        if (i == list.size()) break;
        return false;
      }
      if (digits.size() > 2) return false;
      int byte = 0;
      for (char d : digits) byte = byte * 16 + HexDigit(d);
      out->push_back(static_cast<char>(byte));
      digits.clear();
    } else if (HexDigit(c) >= 0) {
      digits.push_back(c);
    } else {
      return false;
    }
  }
  return true;
}

bool ParseData(const std::string& data, RegValue* value, bool* remove) {
  *remove = false;
  if (data == "-") {
    *remove = true;
    return true;
  }
  if (!data.empty() && data[0] == '"') {
    size_t at = 0;
    std::string text;
    if (!ReadQuoted(data, &at, &text)) return false;
    while (at < data.size() && (data[at] == ' ' || data[at] == '\t')) ++at;
    if (at != data.size() && data[at] != ';') return false;
    value->type = REG_SZ;
    value->data = text + std::string(1, '\0');
    return true;
  }
  const std::string folded = Fold(data.substr(0, std::min<size_t>(data.size(), 6)));
  if (folded == "DWORD:") {
    const std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    unsigned long number = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return false;
      number = number * 16 + static_cast<unsigned long>(HexDigit(c));
    }
    value->type = REG_DWORD;
    value->data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) value->data[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    return true;
  }
  if (Fold(data.substr(0, 4)) == "HEX:") {
    value->type = REG_BINARY;
    return ParseHexBytes(data.substr(4), &value->data);
  }
  if (Fold(data.substr(0, 4)) == "HEX(") {
    const size_t close = data.find("):");
    if (close == std::string::npos || close == 4 || close > 12) return false;
    unsigned long type = 0;
    for (size_t i = 4; i < close; ++i) {
      if (HexDigit(data[i]) < 0) return false;
      type = type * 16 + static_cast<unsigned long>(HexDigit(data[i]));
    }
    value->type = static_cast<DWORD>(type);
    return ParseHexBytes(data.substr(close + 2), &value->data);
  }
  return false;
}

std::string TrimLine(const std::string& line) {
  size_t begin = 0;
  size_t end = line.size();
  while (begin < end && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  while (end > begin && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
  return line.substr(begin, end - begin);
}

}  // namespace

RegValue* RegKey::FindValue(const std::string& valueName) {
  for (RegValue& value : values) {
    if (EqualNoCase(value.name, valueName)) return &value;
  }
  return nullptr;
}

std::string RegKey::FullName() const {
  if (parent == nullptr) return name;
  return parent->FullName() + "\\" + name;
}

bool NormaliseKeyName(const std::string& name, std::string* normalised) {
  std::vector<std::string> parts = SplitKeyPath(name);
  if (parts.empty()) return false;
  const std::string root = Fold(parts[0]);
  if (root == "HKLM" || root == kMachineRoot) {
    parts[0] = kMachineRoot;
  } else if (root == "HKCU" || root == kUserRoot) {
    parts[0] = kUserRoot;
  } else {
    return false;
  }
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += "\\";
    out += part;
  }
  *normalised = Fold(out);
  return true;
}

Registry::Registry() : machine_(new RegKey), user_(new RegKey) {
  machine_->name = kMachineRoot;
  user_->name = kUserRoot;
}

std::shared_ptr<RegKey> Registry::Root(HKEY predefined) const {
  if (predefined == HKEY_LOCAL_MACHINE) return machine_;
  if (predefined == HKEY_CURRENT_USER) return user_;
  return nullptr;
}

bool Registry::Load(const std::string& file, std::string* error) {
  file_ = file;
  std::ifstream in(file, std::ios::binary);
  std::string text;
  if (in) {
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) {
      *error = "cannot read " + file;
      return false;
    }
    text = contents.str();
  }
  MarkDeleted(machine_.get());
  MarkDeleted(user_.get());
  machine_.reset(new RegKey);
  machine_->name = kMachineRoot;
  user_.reset(new RegKey);
  user_->name = kUserRoot;
  if (!Parse(text, error)) {
    *error = "registry.reg " + *error;
    return false;
  }
  changed_ = false;
  RememberFileState();
  return true;
}

bool Registry::Parse(const std::string& text, std::string* error) {
  std::vector<std::string> lines;
  {
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) lines.push_back(line);
  }
  std::shared_ptr<RegKey> current;
  bool sawHeader = false;
  for (size_t index = 0; index < lines.size(); ++index) {
    const std::string where = "line " + std::to_string(index + 1) + ": ";
    std::string line = TrimLine(lines[index]);
    if (!sawHeader) {
      if (line.empty()) continue;
      if (line != "REGEDIT4") {
        *error = where + "the file must begin with REGEDIT4";
        return false;
      }
      sawHeader = true;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string::npos) {
        *error = where + "unterminated key name";
        return false;
      }
      std::string name = line.substr(1, close - 1);
      const bool remove = !name.empty() && name[0] == '-';
      if (remove) name.erase(0, 1);
      std::vector<std::string> parts = SplitKeyPath(name);
      if (name.find("\\\\") != std::string::npos || parts.empty()) {
        *error = where + "malformed key name";
        return false;
      }
      std::string root;
      if (!NormaliseKeyName(parts[0], &root)) {
        *error = where + "unknown root " + parts[0];
        return false;
      }
      std::shared_ptr<RegKey> key = root == Fold(kMachineRoot) ? machine_ : user_;
      current.reset();
      for (size_t i = 1; key && i < parts.size(); ++i) {
        auto found = key->children.find(Fold(parts[i]));
        if (found != key->children.end()) {
          key = found->second;
        } else if (remove) {
          key.reset();
        } else {
          std::shared_ptr<RegKey> child(new RegKey);
          child->name = parts[i];
          child->parent = key.get();
          key->children[Fold(parts[i])] = child;
          key = child;
        }
      }
      if (remove) {
        if (key && key->parent != nullptr) {
          MarkDeleted(key.get());
          key->parent->children.erase(Fold(key->name));
        }
      } else {
        current = key;
      }
      continue;
    }
    if (!current) {
      *error = where + "value outside a key";
      return false;
    }
    // Hex data may go on over lines that end in a backslash.
    while (!line.empty() && line.back() == '\\' && index + 1 < lines.size()) {
      line.pop_back();
      line += TrimLine(lines[++index]);
    }
    RegValue value;
    size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (line[0] == '"') {
      if (!ReadQuoted(line, &at, &value.name)) {
        *error = where + "unterminated value name";
        return false;
      }
    } else {
      *error = where + "expected a value";
      return false;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size() || line[at] != '=') {
      *error = where + "expected = after the value name";
      return false;
    }
    ++at;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    bool remove = false;
    if (!ParseData(line.substr(at), &value, &remove)) {
      *error = where + "unreadable value data";
      return false;
    }
    RegValue* existing = current->FindValue(value.name);
    if (remove) {
      if (existing != nullptr)
        current->values.erase(current->values.begin() + (existing - &current->values[0]));
    } else if (existing != nullptr) {
      existing->type = value.type;
      existing->data = value.data;
    } else {
      current->values.push_back(value);
    }
  }
  return true;
}

std::string Registry::Serialise() const {
  std::string out = "REGEDIT4\r\n\r\n";
  SerialiseKey(*machine_, kMachineRoot, &out);
  SerialiseKey(*user_, kUserRoot, &out);
  return out;
}

void Registry::RememberFileState() {
  struct stat info;
  fileExisted_ = stat(file_.c_str(), &info) == 0;
  if (fileExisted_) {
    inode_ = info.st_ino;
    size_ = info.st_size;
    modified_ = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
  }
}

bool Registry::SaveIfChanged(std::string* error) {
  if (!changed_) return true;
  const std::string text = Serialise();
  const std::string temporary = file_ + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot write " + temporary + ": " + strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote <= 0) {
      ok = false;
    } else {
      done += static_cast<size_t>(wrote);
    }
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  // A rename replaces the old file in one step: a reader sees the old or the
  // new registry, never half of one.
  if (!ok || rename(temporary.c_str(), file_.c_str()) != 0) {
    *error = "cannot write " + file_ + ": " + strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  changed_ = false;
  RememberFileState();
  return true;
}

void Registry::ReloadIfChangedOnDisk() {
  if (changed_) return;
  struct stat info;
  const bool exists = stat(file_.c_str(), &info) == 0;
  if (exists == fileExisted_ &&
      (!exists ||
       (info.st_ino == inode_ && info.st_size == size_ &&
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec == modified_))) {
    return;
  }
  std::string error;
  Load(file_, &error);
}

}  // namespace hostwin

using namespace hostwin;

namespace {

// Walks from a key down a relative path; createMissing adds the keys that are
// not there yet (which needs the right to create subkeys of their parents).
LONG Walk(std::shared_ptr<RegKey> key, const char* subKey, bool createMissing,
          std::shared_ptr<RegKey>* result) {
  if (key->deleted) return ERROR_KEY_DELETED;
  const std::string path = subKey != nullptr ? subKey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  for (const std::string& part : SplitKeyPath(path)) {
    if (part.size() > 255) return ERROR_INVALID_PARAMETER;
    auto found = key->children.find(Fold(part));
    if (found != key->children.end()) {
      key = found->second;
      continue;
    }
    if (!createMissing) return ERROR_FILE_NOT_FOUND;
    if (IsDenied(*key)) return ERROR_ACCESS_DENIED;
    std::shared_ptr<RegKey> child(new RegKey);
    child->name = part;
    child->parent = key.get();
    key->children[Fold(part)] = child;
    CurrentRegistry()->MarkChanged();
    key = child;
  }
  *result = key;
  return ERROR_SUCCESS;
}

// The key behind a handle, when it is still there and the handle was opened
// with the rights the call needs.
LONG UsableKey(HKEY handle, REGSAM needed, std::shared_ptr<RegKey>* key) {
  REGSAM held = 0;
  LONG status = ERROR_SUCCESS;
  *key = KeyOf(handle, &held, &status);
  if (!*key) return status;
  if ((*key)->deleted) return ERROR_KEY_DELETED;
  if ((held & needed) != needed) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// The existing key a handle and a relative path name.
LONG KeyAt(HKEY handle, LPCSTR subKey, std::shared_ptr<RegKey>* key) {
  REGSAM held = 0;
  LONG status = ERROR_SUCCESS;
  *key = KeyOf(handle, &held, &status);
  if (!*key) return status;
  return Walk(*key, subKey, false, key);
}

}  // namespace

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY handle, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  const ApiCall call("RegOpenKeyExA", KeySubject(handle, subKey));
  if (call.Fails()) return call.Error();
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<RegKey> key;
  const LONG status = KeyAt(handle, subKey, &key);
  if (status != ERROR_SUCCESS) return status;
  REGSAM wanted = MapAccess(access);
  if (access & MAXIMUM_ALLOWED) wanted |= IsDenied(*key) ? KEY_READ : KEY_ALL_ACCESS;
  if (IsDenied(*key) && (wanted & kDeniedRights) != 0) return ERROR_ACCESS_DENIED;
  *result = NewHandle(key, wanted);
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyA(HKEY handle, LPCSTR subKey, PHKEY result) {
  const ApiCall call("RegCreateKeyA", KeySubject(handle, subKey));
  if (call.Fails()) return call.Error();
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  REGSAM held = 0;
  LONG status = ERROR_SUCCESS;
  std::shared_ptr<RegKey> key = KeyOf(handle, &held, &status);
  if (!key) return status;
  // No subkey gives back the handle passed in.
  if (subKey == nullptr || subKey[0] == '\0') {
    if (key->deleted) return ERROR_KEY_DELETED;
    *result = handle;
    return ERROR_SUCCESS;
  }
  if (!IsPredefined(handle) && (held & KEY_CREATE_SUB_KEY) == 0) {
    std::shared_ptr<RegKey> existing;
    if (Walk(key, subKey, false, &existing) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  }
  status = Walk(key, subKey, true, &key);
  if (status != ERROR_SUCCESS) return status;
  *result = NewHandle(key, IsDenied(*key) ? KEY_READ : KEY_ALL_ACCESS);
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                                           LPDWORD size) {
  const ApiCall call("RegQueryValueExA", KeySubject(handle, name));
  if (call.Fails()) return call.Error();
  std::shared_ptr<RegKey> key;
  const LONG status = UsableKey(handle, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  RegValue* value = key->FindValue(name != nullptr ? name : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  const DWORD length = static_cast<DWORD>(value->data.size());
  if (size == nullptr) return ERROR_SUCCESS;
  if (data != nullptr && *size < length) {
    *size = length;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) memcpy(data, value->data.data(), length);
  *size = length;
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data,
                                         DWORD size) {
  const ApiCall call("RegSetValueExA", KeySubject(handle, name));
  if (call.Fails()) return call.Error();
  std::shared_ptr<RegKey> key;
  const LONG status = UsableKey(handle, KEY_SET_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  const std::string valueName = name != nullptr ? name : "";
  const std::string bytes = size != 0 ? std::string(reinterpret_cast<const char*>(data), size) : "";
  RegValue* value = key->FindValue(valueName);
  if (value == nullptr) {
    key->values.push_back(RegValue{valueName, type, bytes});
  } else {
    value->type = type;
    value->data = bytes;
  }
  CurrentRegistry()->MarkChanged();
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteValueA(HKEY handle, LPCSTR name) {
  const ApiCall call("RegDeleteValueA", KeySubject(handle, name));
  if (call.Fails()) return call.Error();
  std::shared_ptr<RegKey> key;
  const LONG status = UsableKey(handle, KEY_SET_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  RegValue* value = key->FindValue(name != nullptr ? name : "");
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  key->values.erase(key->values.begin() + (value - &key->values[0]));
  CurrentRegistry()->MarkChanged();
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY handle, LPCSTR subKey) {
  const ApiCall call("RegDeleteKeyA", KeySubject(handle, subKey));
  if (call.Fails()) return call.Error();
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<RegKey> key;
  const LONG status = KeyAt(handle, subKey, &key);
  if (status != ERROR_SUCCESS) return status;
  // The roots cannot go, and NT (unlike Windows 95) refuses a key that still
  // has subkeys.
  if (key->parent == nullptr || IsDenied(*key) || !key->children.empty()) return ERROR_ACCESS_DENIED;
  key->deleted = true;
  key->parent->children.erase(Fold(key->name));
  CurrentRegistry()->MarkChanged();
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumKeyExA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD,
                                        LPSTR className, LPDWORD classSize, FILETIME* lastWrite) {
  const ApiCall call("RegEnumKeyExA", KeySubject(handle, nullptr));
  if (call.Fails()) return call.Error();
  std::shared_ptr<RegKey> key;
  const LONG status = UsableKey(handle, KEY_ENUMERATE_SUB_KEYS, &key);
  if (status != ERROR_SUCCESS) return status;
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (index >= key->children.size()) return ERROR_NO_MORE_ITEMS;
  auto child = key->children.begin();
  std::advance(child, index);
  const std::string& childName = child->second->name;
  if (childName.size() + 1 > *nameSize) return ERROR_MORE_DATA;
  memcpy(name, childName.c_str(), childName.size() + 1);
  *nameSize = static_cast<DWORD>(childName.size());
  if (className != nullptr && classSize != nullptr && *classSize > 0) {
    className[0] = '\0';
    *classSize = 0;
  }
  if (lastWrite != nullptr) *lastWrite = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegEnumValueA(HKEY handle, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD,
                                        LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  const ApiCall call("RegEnumValueA", KeySubject(handle, nullptr));
  if (call.Fails()) return call.Error();
  std::shared_ptr<RegKey> key;
  const LONG status = UsableKey(handle, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& value = key->values[index];
  if (value.name.size() + 1 > *nameSize) return ERROR_MORE_DATA;
  if (data != nullptr && dataSize != nullptr && value.data.size() > *dataSize) {
    *dataSize = static_cast<DWORD>(value.data.size());
    return ERROR_MORE_DATA;
  }
  memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameSize = static_cast<DWORD>(value.name.size());
  if (type != nullptr) *type = value.type;
  if (data != nullptr && dataSize != nullptr) memcpy(data, value.data.data(), value.data.size());
  if (dataSize != nullptr) *dataSize = static_cast<DWORD>(value.data.size());
  return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY handle) {
  const ApiCall call("RegCloseKey", KeySubject(handle, nullptr));
  if (call.Fails()) {
    KeepOpen(handle);
    return call.Error();
  }
  if (IsPredefined(handle)) return ERROR_SUCCESS;
  if (LookUp(handle, Object::Kind::kKey) == nullptr) return ERROR_INVALID_HANDLE;
  RemoveObject(handle);
  return ERROR_SUCCESS;
}
