#include "support/boxes.h"

#include "common/platform.h"

#ifndef _WIN32
#include "win32/hostapi.h"
#endif

int ScriptedBoxes::Answer(const std::string& text, unsigned type) {
  shown_.push_back(text);
  const bool question = (type & 0xF) == MB_YESNO;
  if (answers_.empty()) return question ? IDNO : IDOK;
  const int answer = answers_.front();
  answers_.erase(answers_.begin());
  return answer;
}

std::vector<std::string> ScriptedBoxes::Shown() const { return shown_; }

#ifdef _WIN32

// On Windows a hook on the test's thread sees each message box as it opens,
// reads it and presses the button, as a user would.
namespace {

ScriptedBoxes* g_script = nullptr;
HHOOK g_hook = nullptr;

const int kTextControl = 0xFFFF;  // the static control that holds a box's text

LRESULT CALLBACK WatchActivation(int code, WPARAM wParam, LPARAM lParam) {
  HWND box = reinterpret_cast<HWND>(wParam);
  char name[16] = "";
  if (code == HCBT_ACTIVATE && GetClassNameA(box, name, sizeof(name)) && lstrcmpA(name, "#32770") == 0) {
    char text[4096] = "";
    GetDlgItemTextA(box, kTextControl, text, sizeof(text));
    // Yes/No or OK: which answer the box gets when the script has run out.
    const int answer = g_script->Answer(text, GetDlgItem(box, IDYES) != nullptr ? MB_YESNO : MB_OK);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

}  // namespace

ScriptedBoxes::ScriptedBoxes(std::vector<int> answers) : answers_(std::move(answers)) {
  g_script = this;
  g_hook = SetWindowsHookExA(WH_CBT, WatchActivation, nullptr, GetCurrentThreadId());
}

ScriptedBoxes::~ScriptedBoxes() {
  UnhookWindowsHookEx(g_hook);
  g_script = nullptr;
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
