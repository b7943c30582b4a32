// Drives one whole-program scenario inside Wine, as a user at the screen
// would: imports the machine's registry, starts the programs that hold files
// open, starts the program under test, reads every message box it shows
// (caption, text, buttons), presses the button the scenario says, and writes
// what it saw in the same form the host layer prints on the terminal.
//
//   winrun [--import=REGFILE] [--hold=PATH]... [--answers=yes,no,...]
//          [--pause=PREFIX] --boxes=FILE --exit=FILE --standin=EXE -- COMMAND LINE
//
// With --pause, before it presses a box's button it writes PREFIX<n>.box
// (the box's place on the screen: left top right bottom) and waits until
// PREFIX<n>.shot appears, so that the box can be photographed.
#include <windows.h>

#include <string>
#include <vector>

namespace {

const int kTextControl = 0xFFFF;  // the static control holding a box's text

struct Options {
  std::string import;
  std::vector<std::string> holds;
  std::vector<std::string> answers;
  std::string boxes;
  std::string exitFile;
  std::string standIn;
  std::string pause;
  int boxesShown = 0;
  std::string commandLine;
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= text.size() && !text.empty()) {
    size_t end = text.find(separator, at);
    if (end == std::string::npos) end = text.size();
    parts.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

bool Parse(const std::string& line, Options* options) {
  size_t at = 0;
  // Skip our own name.
  if (!line.empty() && line[0] == '"') {
    at = line.find('"', 1);
    at = at == std::string::npos ? line.size() : at + 1;
  } else {
    at = line.find(' ');
    if (at == std::string::npos) at = line.size();
  }
  for (;;) {
    while (at < line.size() && line[at] == ' ') ++at;
    if (at >= line.size()) return false;
    if (line.compare(at, 3, "-- ") == 0) {
      options->commandLine = line.substr(at + 3);
      return !options->commandLine.empty();
    }
    size_t end = line.find(' ', at);
    if (end == std::string::npos) end = line.size();
    const std::string word = line.substr(at, end - at);
    at = end;
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    if (name == "--import")
      options->import = value;
    else if (name == "--hold")
      options->holds.push_back(value);
    else if (name == "--answers")
      options->answers = Split(value, ',');
    else if (name == "--boxes")
      options->boxes = value;
    else if (name == "--exit")
      options->exitFile = value;
    else if (name == "--standin")
      options->standIn = value;
    else if (name == "--pause")
      options->pause = value;
    else
      return false;
  }
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void Append(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

bool Start(std::string commandLine, PROCESS_INFORMATION* process) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        process) != 0;
}

DWORD RunAndWait(const std::string& commandLine) {
  PROCESS_INFORMATION process = {};
  if (!Start(commandLine, &process)) return 0xFFFFFFFF;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

// UTF-8 of a window's text, read as Unicode so that the program's ANSI code
// page shows in what is compared.
std::string Utf8(const wchar_t* text) {
  char out[8192];
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out), nullptr, nullptr);
  return length > 0 ? std::string(out) : std::string();
}

struct Search {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  Search* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t name[16] = L"";
  GetClassNameW(window, name, 16);
  if (owner == search->process && lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window)) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

void Answer(HWND box, Options* options) {
  wchar_t caption[1024] = L"";
  wchar_t text[4096] = L"";
  GetWindowTextW(box, caption, 1024);
  GetDlgItemTextW(box, kTextControl, text, 4096);
  const bool question = GetDlgItem(box, IDYES) != nullptr;
  std::string record = "=== " + Utf8(caption) + " ===\n" + Utf8(text) + "\n";
  int button = IDOK;
  if (question) {
    std::string answer = "no";
    if (!options->answers.empty()) {
      answer = options->answers.front();
      options->answers.erase(options->answers.begin());
    }
    button = answer == "yes" ? IDYES : IDNO;
    record += button == IDYES ? "(Ja/Nein) Ja\n" : "(Ja/Nein) Nein\n";
  } else {
    record += "[OK]\n";
  }
  Append(options->boxes, record);
  if (!options->pause.empty()) {
    const std::string name = options->pause + std::to_string(++options->boxesShown);
    RECT place = {};
    GetWindowRect(box, &place);
    // Drawn first, then shown where the screen can be read.
    UpdateWindow(box);
    Sleep(300);
    Append(name + ".box", std::to_string(place.left) + " " + std::to_string(place.top) + " " +
                              std::to_string(place.right) + " " + std::to_string(place.bottom) + "\n");
    for (int waited = 0; !Exists(name + ".shot") && waited < 60000; waited += 20) Sleep(20);
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
  for (int waited = 0; IsWindow(box) && waited < 20000; waited += 10) Sleep(10);
}

}  // namespace

int main() {
  Options options;
  if (!Parse(GetCommandLineA(), &options) || options.boxes.empty() || options.exitFile.empty()) {
    MessageBoxA(nullptr, "usage: winrun [--import=F] [--hold=P]... [--answers=..] --boxes=F --exit=F -- CMD",
                "winrun", MB_OK);
    return 99;
  }
  if (!options.import.empty() && RunAndWait("regedit.exe /S " + options.import) != 0) return 98;

  // Other programs that hold files open without sharing, each signalling
  // when it does.
  std::vector<PROCESS_INFORMATION> holders;
  const std::string release = options.exitFile + ".release";
  for (size_t i = 0; i < options.holds.size(); ++i) {
    const std::string ready = options.exitFile + ".ready" + std::to_string(i);
    PROCESS_INFORMATION holder = {};
    if (!Start(
            options.standIn + " --hold=" + options.holds[i] + " --ready=" + ready + " --release=" + release,
            &holder)) {
      return 97;
    }
    holders.push_back(holder);
    for (int waited = 0; !Exists(ready); waited += 20) {
      if (waited > 30000 || WaitForSingleObject(holder.hProcess, 0) == WAIT_OBJECT_0) return 96;
      Sleep(20);
    }
  }

  PROCESS_INFORMATION program = {};
  DWORD code = 0xFFFFFFFF;
  if (Start(options.commandLine, &program)) {
    while (WaitForSingleObject(program.hProcess, 20) == WAIT_TIMEOUT) {
      Search search = {program.dwProcessId, nullptr};
      EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
      if (search.box != nullptr) Answer(search.box, &options);
    }
    GetExitCodeProcess(program.hProcess, &code);
    CloseHandle(program.hProcess);
    CloseHandle(program.hThread);
  }
  Append(options.exitFile, std::to_string(code) + "\n");

  Append(release, "");
  for (PROCESS_INFORMATION& holder : holders) {
    if (WaitForSingleObject(holder.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(holder.hProcess, 1);
    CloseHandle(holder.hProcess);
    CloseHandle(holder.hThread);
  }
  return 0;
}
