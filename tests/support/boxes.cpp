#include "support/boxes.h"

#include <mutex>

#include "common/platform.h"

#ifndef _WIN32
#include "win32/hostapi.h"
#endif

namespace {
std::mutex g_lock;
}

int ScriptedBoxes::Answer(const std::string& text, unsigned type) {
  std::lock_guard<std::mutex> hold(g_lock);
  shown_.push_back(text);
  const bool question = (type & 0xF) == MB_YESNO;
  if (answers_.empty()) return question ? IDNO : IDOK;
  const int answer = answers_.front();
  answers_.erase(answers_.begin());
  return answer;
}

std::vector<std::string> ScriptedBoxes::Shown() const {
  std::lock_guard<std::mutex> hold(g_lock);
  return shown_;
}

#ifdef _WIN32

// On Windows a thread watches for the message boxes of this process, reads
// them and presses the button, as a user would.
struct ScriptedBoxes::Watcher {
  ScriptedBoxes* owner = nullptr;
  HANDLE thread = nullptr;
  volatile LONG stop = 0;
};

namespace {

const int kTextControl = 0xFFFF;  // the static control that holds a box's text

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char name[16] = "";
  GetClassNameA(window, name, sizeof(name));
  if (process == GetCurrentProcessId() && lstrcmpA(name, "#32770") == 0 && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// Yes/No or OK: which answer the box gets when the script has run out.
unsigned TypeOf(HWND box) { return GetDlgItem(box, IDYES) != nullptr ? MB_YESNO : MB_OK; }

DWORD WINAPI Watch(LPVOID context) {
  ScriptedBoxes::Watcher* watcher = static_cast<ScriptedBoxes::Watcher*>(context);
  while (!watcher->stop) {
    HWND box = nullptr;
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) {
      Sleep(10);
      continue;
    }
    char text[4096] = "";
    GetDlgItemTextA(box, kTextControl, text, sizeof(text));
    const int answer = watcher->owner->Answer(text, TypeOf(box));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
    for (int waited = 0; IsWindow(box) && waited < 10000; waited += 10) Sleep(10);
  }
  return 0;
}

}  // namespace

ScriptedBoxes::ScriptedBoxes(std::vector<int> answers) : answers_(std::move(answers)), watcher_(new Watcher) {
  watcher_->owner = this;
  watcher_->thread = CreateThread(nullptr, 0, Watch, watcher_, 0, nullptr);
}

ScriptedBoxes::~ScriptedBoxes() {
  InterlockedExchange(&watcher_->stop, 1);
  WaitForSingleObject(watcher_->thread, INFINITE);
  CloseHandle(watcher_->thread);
  delete watcher_;
}

#else

namespace {
int AnswerBox(void* context, const char* text, const char*, unsigned type) {
  return static_cast<ScriptedBoxes*>(context)->Answer(text, type);
}
}  // namespace

ScriptedBoxes::ScriptedBoxes(std::vector<int> answers) : answers_(std::move(answers)) {
  HostSetMessageBoxHandler(AnswerBox, this);
}

ScriptedBoxes::~ScriptedBoxes() { HostSetMessageBoxHandler(nullptr, nullptr); }

#endif
