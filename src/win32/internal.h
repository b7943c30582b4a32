// Shared pieces of the host layer: the emulated machine, its handles, and the
// text and path helpers its parts use.
#ifndef PREUNINST_WIN32_INTERNAL_H
#define PREUNINST_WIN32_INTERNAL_H

#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "win32/hostapi.h"
#include "win32/windows.h"

namespace hostwin {

// NTSTATUS values of the native calls.
const DWORD kStatusSuccess = 0;
const DWORD kStatusBufferOverflow = 0x80000005;
const DWORD kStatusNoMoreFiles = 0x80000006;
const DWORD kStatusNotImplemented = 0xC0000002;
const DWORD kStatusInvalidInfoClass = 0xC0000003;
const DWORD kStatusInfoLengthMismatch = 0xC0000004;
const DWORD kStatusInvalidHandle = 0xC0000008;
const DWORD kStatusInvalidParameter = 0xC000000D;
const DWORD kStatusNoSuchFile = 0xC000000F;
const DWORD kStatusAccessDenied = 0xC0000022;
const DWORD kStatusObjectNameInvalid = 0xC0000033;
const DWORD kStatusObjectNameNotFound = 0xC0000034;
const DWORD kStatusSharingViolation = 0xC0000043;
const DWORD kStatusFileIsADirectory = 0xC00000BA;
const DWORD kStatusDirectoryNotEmpty = 0xC0000101;
const DWORD kStatusNotADirectory = 0xC0000103;
const DWORD kStatusCannotDelete = 0xC0000121;

// ---- text: the machine's ANSI code page in the API, UTF-8 on the host ----
const unsigned kUtf8CodePage = 65001;
unsigned AnsiCodePage();
bool IsKnownCodePage(unsigned codePage);
std::u32string DecodeUtf8(const std::string& utf8);
std::string EncodeUtf8(const std::u32string& text);
std::u32string DecodeAnsi(const std::string& ansi, unsigned codePage);
// UTF-16 as Windows keeps names, surrogate pairs joined.
std::u32string DecodeUtf16(const char16_t* text, size_t length);
std::u16string EncodeUtf16(const std::u32string& text);
// lossless (may be null) tells whether every character had a byte of its own.
std::string EncodeAnsi(const std::u32string& text, unsigned codePage, bool* lossless);
// Whether a byte begins a letter of two bytes in the machine's code page
// (932, 936, 949, 950), and how many bytes the letter at text[at] takes.
bool IsKnownDoubleByte(unsigned codePage);
bool IsLeadByte(unsigned char byte);
size_t LetterSize(const std::string& text, size_t at);
// Host names and message texts in the machine's code page, and back.
std::string Utf8FromAnsi(const std::string& ansi);
std::string AnsiFromUtf8(const std::string& utf8);
// Upper case as Windows compares names, letter by letter in Unicode.
char32_t FoldCodePoint(char32_t cp);
std::u32string FoldText(const std::u32string& text);
// Does an ANSI name name this host file? Compared in Unicode, so that a name
// that reached the program only through a best-fit letter does not.
bool SameNameNoCase(const std::string& hostName, const std::string& ansiName);
// Upper case of ANSI text letter by letter (registry names, machine.ini):
// ASCII and the Windows-1252 letters of one byte, nothing in a letter of two.
char FoldChar(char c);
std::string Fold(const std::string& text);
bool EqualNoCase(const std::string& left, const std::string& right);

// ---- the machine ----
// One failure of [fail calls]: the nth call of a Win32 function fails with
// error, or ends the process.
struct FailCall {
  std::string name;
  unsigned long nth = 0;
  DWORD error = 0;
  bool exit = false;
};

// One line of [races]: just before the nth call of a Win32 function,
// another process changes the disk (swap, link, rename or hollow).
struct Race {
  std::string line;  // as given, for races.txt
  std::string name;
  unsigned long nth = 0;
  std::string action;  // swap, link, rename or hollow
  std::string path;    // Windows paths, in the ANSI code page once read
  std::string target;
};

// One access entry of [security]: allow or deny SID the rights mask,
// for the path itself, for it and what is below (inherit), or only below.
struct SecurityEntry {
  bool deny = false;
  std::vector<BYTE> sid;  // binary, as Windows lays a SID out
  DWORD mask = 0;
  bool inherit = false;
  bool inheritOnly = false;
};

// A line of [security]: PATH = [owner SID][; ENTRY]...
struct SecurityLine {
  std::string path;         // a Windows path, in the ANSI code page once read
  std::vector<BYTE> owner;  // empty: none given
  std::vector<SecurityEntry> entries;
  bool isProtected = false;
  bool nullDacl = false;
};

// What C:\ and every other drive root is given by "root acl".
enum class RootAcl { kAdmin, kVista, kNt4 };

struct Settings {
  bool nt = true;
  unsigned version = 1000;  // on nt: 100 * major + minor (400 is NT 4, 1000 Windows 10)
  std::string windows = "C:\\WINDOWS";
  std::string system;  // empty: derived from windows and the platform
  std::string current = "C:\\";
  bool shortNames = true;               // false: a volume without 8.3 names
  bool wow64 = false;                   // 64-bit Windows under the 32-bit program
  unsigned codePage = 1252;             // the ANSI code page
  bool callCounts = false;              // write calls.txt when the run ends
  std::vector<std::string> inUse;       // Windows paths of files held by other programs
  std::vector<std::string> deniedKeys;  // folded, with the full root name
  // A share root (\\SERVER\SHARE, folded) or a drive letter (Z) and the full
  // Windows path it leads to.
  std::vector<std::pair<std::string, std::string>> shares;
  std::vector<std::pair<char, std::string>> substitutes;
  std::vector<FailCall> failCalls;
  std::vector<Race> races;
  RootAcl rootAcl = RootAcl::kAdmin;
  std::vector<BYTE> user;                         // empty: the default account
  std::vector<std::vector<BYTE>> administrators;  // further members of Administrators
  bool allWithoutAcls = false;                    // acls=no
  std::string drivesWithoutAcls;                  // the letters acls= names, upper case
  std::vector<SecurityLine> security;
};

class Registry;

struct Machine {
  std::string directory;  // host directory of the machine
  Settings settings;
  std::unique_ptr<Registry> registry;  // loaded on first use
};

// The machine in use, opened on first use from PREUNINST_MACHINE; null when
// there is none or it cannot be read (the reason is kept for the host main).
Machine* CurrentMachine();
Registry* CurrentRegistry();
std::string SystemDirectory(const Settings& settings);

// ---- calls: counted, and failing on demand ----
// A line of [fail calls] (NAME N [ERROR|exit]); false with the reason.
bool ParseFailCall(const std::string& line, FailCall* call, std::string* error);
// A line of [races] (NAME N = ACTION PATH = TARGET); false with the reason.
bool ParseRace(const std::string& line, Race* race, std::string* error);
// Carries out a race as another process would, obeying sharing: 0, or the
// error that refused it.
DWORD CarryOutRace(const Race& race);
// Counting (and failing) applies to the program under test only: the machine
// it opens itself, not the one a started program finds.
void StartCounting();
void StopCounting();
// Programs started and not yet waited for: they are waited for at the end.
void NoteChild(int pid, bool running);
// Libraries still loaded when the program ends are let go then, as Windows
// does, while the layer they may call is still there: all of them when the
// run was cut off, else those a failing FreeLibrary kept.
void UnloadLibraries(bool all);
// And memory a failing LocalFree or NetApiBufferFree kept is freed then.
void FreeKeptMemory();
void KeepMemory(void* memory);

// The first thing each Win32 function of the layer makes: the call is
// counted, and Fails() when [fail calls] names it (the last error is then
// set) or the process ends here. Calls the layer makes inside another call
// are no calls of the program's.
class ApiCall {
 public:
  // subject: what the call is about (a path, a key, a handle's subject), for
  // the trace a test may ask for in PREUNINST_CALL_TRACE.
  explicit ApiCall(const char* name, const std::string& subject = std::string());
  ~ApiCall();
  ApiCall(const ApiCall&) = delete;
  ApiCall& operator=(const ApiCall&) = delete;
  bool Fails() const { return fails_; }
  DWORD Error() const { return error_; }

 private:
  bool fails_ = false;
  DWORD error_ = 0;
};

// ---- security (NT): descriptors of files and directories, access checks ----
// A SID in its text form (S-1-5-32-544) as Windows lays it out in memory.
bool ParseSid(const std::string& text, std::vector<BYTE>* sid);
// A value of "acls" (yes, no, or drives such as D:,E:) and a line of
// [security]; false with the reason.
bool ParseAclsSetting(const std::string& value, Settings* settings, std::string* error);
bool ParseSecurityLine(const std::string& line, SecurityLine* parsed, std::string* error);
// GENERIC_* of a file or directory as the specific rights they stand for.
ACCESS_MASK MapFileAccess(ACCESS_MASK access);
// Whether the program may open the file or directory at host (the link
// itself with linkItself) with access, as Windows' access check decides for
// its token: 0, or ERROR_ACCESS_DENIED. Nothing is refused on Windows 95
// nor on a volume without ACLs.
DWORD CheckAccess(const std::string& host, ACCESS_MASK access, bool linkItself = false);
// Deleting or renaming: DELETE on the object, or FILE_DELETE_CHILD on the
// directory that holds it.
DWORD CheckDelete(const std::string& host);
// Making a file or a directory in the directory parentHost.
DWORD CheckCreate(const std::string& parentHost, bool directory);
// Whether the volume that holds a host path keeps security descriptors.
bool HasPersistentAcls(const std::string& host);

// ---- handles ----
struct Object {
  enum class Kind { kFile, kFind, kProcess, kThread, kModule, kKey, kToken };
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Kind kind;
  std::string subject;  // what it stands for: a path, a pattern, a command line, a key
  bool kept = false;    // a failing close left it open
};

HANDLE AddObject(Object* object, const std::string& subject = std::string());  // takes ownership
Object* LookUp(HANDLE handle, Object::Kind kind);
// Every open handle of a kind.
std::vector<Object*> ObjectsOf(Object::Kind kind);
// What a handle stands for, for the call trace; empty for an unknown one.
std::string SubjectOf(const void* handle);
bool RemoveObject(HANDLE handle);  // deletes the object
// A handle a failing close call left open.
void KeepOpen(const void* handle);
// When the program ends, what a failing close kept goes with it, as Windows
// closes a process's handles; all that is open when the run was cut off.
// Anything else an ended run left open is a leak the sanitizers report.
void CloseObjectsAtEnd(bool all);

// The Windows version on nt, 100 * major + minor; Windows 95 is 400 too.
unsigned WindowsVersion();

// ---- files ----
// An open file or directory. Each keeps its share mode against every other
// opener of the same file or directory (or of the link itself, when the
// link was opened) in this process; another process sees a file's handle
// by its flock.
struct FileObject : Object {
  FileObject(int f, DWORD a, DWORD s, dev_t d, ino_t i)
      : Object(Kind::kFile), fd(f), access(a), share(s), device(d), inode(i) {}
  // A directory, or a link opened itself, with its share mode.
  FileObject(int f, DWORD a, DWORD s, dev_t d, ino_t i, bool l)
      : Object(Kind::kFile), fd(f), access(a), directory(true), link(l), share(s), device(d), inode(i) {}
  ~FileObject() override;
  int fd;
  DWORD access;
  bool directory = false;
  bool link = false;
  DWORD share = 0;
  dev_t device = 0;
  ino_t inode = 0;
  bool locked = false;    // holds a flock that other processes see
  std::string host;       // what was opened, the link itself for a link
  std::string finalPath;  // what GetFinalPathNameByHandleA gives
  // Opened relative to a directory's handle (NtCreateFile): that
  // directory, held by a descriptor of its own, and the host name in it.
  int parentFd = -1;
  std::string hostName;
  // NtQueryDirectoryFile's place in the listing it took at its first call,
  // and the mask that call gave, which a restart keeps.
  std::u32string mask;
  std::vector<std::string> listing;
  size_t listed = 0;
  bool listingTaken = false;
};

FileObject* FileOf(HANDLE handle);
// What a handle's file or directory is on the host now: its descriptor,
// read back, whatever was renamed meanwhile.
std::string HostPathOfHandle(const FileObject& file);
DWORD ErrorFromErrno(int error);
// Whether the file, directory or link that (device, inode) names may be
// opened with access and share beside the handles open on it, as MS-FSA
// 2.1.5.1.2.2 checks sharing: only reading, writing and deleting take part.
bool SharingAllows(dev_t device, ino_t inode, DWORD access, DWORD share);
// Whether an access takes part in sharing at all.
bool TakesPartInSharing(DWORD access);
// Takes the lock another process sees on a file's descriptor for a handle
// that takes part in sharing: exclusive without sharing, else shared.
// False when another process's lock stands against it.
bool LockForOthers(int fd, DWORD share);
// The attributes Windows would report for the entry name of a host
// directory, by its descriptor.
bool AttributesAt(int directoryFd, const std::string& name, DWORD* attributes);
// Whether [in use] names the host file (device, inode), in any spelling.
bool IsInUseFile(dev_t device, ino_t inode);
// A directory made a link by another process keeps its identity on
// Windows: the link (device, inode) now stands for the directory.
void NoteLinkMadeFrom(dev_t linkDevice, ino_t linkInode, dev_t device, ino_t inode);
bool IsLinkMadeFrom(dev_t linkDevice, ino_t linkInode, dev_t device, ino_t inode);

// ---- paths ----
// A Windows path resolved on the machine.
struct Resolved {
  DWORD error = 0;         // set when the path or its parent cannot be used
  std::string host;        // host path of the last component (as found, or as given)
  std::string parentHost;  // host directory that holds it
  std::string windows;     // normalised full Windows path, for comparisons
  bool exists = false;
  bool isDriveRoot = false;
};

Resolved ResolvePath(const char* path);
// Separators in ANSI text, read letter by letter: in a double-byte code
// page the second byte of a letter may be a backslash and is none.
size_t FindSeparator(const std::string& text, size_t from);  // npos: none
size_t LastSeparator(const std::string& text);
bool EndsWithSeparator(const std::string& text);
// The full form GetFullPathNameA gives: relative paths taken from current,
// names spelt as given, a final separator kept; the disk is not looked at.
std::string FullPathName(const std::string& path, const std::string& current);
// The entries of a host directory that Windows can show, with their names in
// the ANSI code page, in the same order; false when it cannot be read.
bool ListDirectory(const std::string& hostDirectory, std::vector<std::string>* hostNames,
                   std::vector<std::string>* names);
// Finds a name in a host directory without regard to case; the exact spelling
// is tried first so that names found by a search cost no directory scan.
bool FindChild(const std::string& hostDirectory, const std::string& ansiName, std::string* hostName);
std::string JoinHost(const std::string& directory, const std::string& name);

// Where a host file really is: every link on its way resolved, and a link
// at its end too unless the link itself is meant.
std::string RealHostPath(const std::string& host, bool linkItself);

// ---- drives and volumes ----
// The host directory of the machine's drive that holds a host path, and its
// letter; false for a path on no drive.
bool DriveOfHost(const std::string& host, std::string* drive, char* letter);
// The Windows path of a host path on one of the machine's drives, names in
// the ANSI code page; empty elsewhere.
std::string WindowsPathOfHost(const std::string& host);
// The serial number of the volume a host path (links resolved) lies on.
DWORD VolumeSerialOfHost(const std::string& host);

// The attributes Windows would report for a host file (lstat semantics: a
// link to a directory is a directory with the reparse-point bit).
bool HostAttributes(const std::string& hostPath, DWORD* attributes);

// 8.3 names.
bool ShortNamesEnabled();
bool IsShortName(const std::string& ansiName);
// The short name of each entry of a directory listing, in the same order;
// the long names themselves on a volume without 8.3 names.
std::vector<std::string> ShortNames(const std::vector<std::string>& ansiNames);
// The short name of an existing host file, among the others of its directory.
std::string ShortNameOf(const std::string& hostPath);

// Windows wildcard matching of one name, without regard to case.
bool WildcardMatch(const std::string& pattern, const std::string& name);
bool WildcardMatch(const std::u32string& pattern, const std::u32string& name);

// Is the file one that [in use] names, in whatever spelling?
bool IsNamedInUse(const Resolved& resolved);
// Is the file held by another program ([in use] or another open file's lock)?
bool IsHeldElsewhere(const Resolved& resolved);
// Whether a directory handle's share mode keeps anyone from renaming or
// deleting what a host path names (a link itself). Nothing keeps an empty
// directory from being made a link.
bool MayDeleteOrRename(const std::string& host);
// A host path with . and .. taken away by its letters, links not followed.
std::string NormalHostPath(const std::string& host);

// Writes the registry back when it changed; reloads it when a started program
// changed the file meanwhile.
bool SaveRegistry(std::string* error);
void RefreshRegistryFromDisk();

}  // namespace hostwin

#endif
