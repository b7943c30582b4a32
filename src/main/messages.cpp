#include "main/messages.h"

#include "common/strings.h"
#include "text/texts.h"

namespace {

const UINT kTextCodePage = 1252;

// Appends text converted from a code page; false when it cannot be.
bool AppendWide(WCHAR* wide, int capacity, int* used, UINT codePage, const char* text) {
  const int converted = MultiByteToWideChar(codePage, 0, text, -1, wide + *used, capacity - *used);
  if (converted <= 0) return false;
  *used += converted - 1;  // the next part overwrites the terminator
  return true;
}

}  // namespace

int ShowMessage(const char* text, const char* tail, UINT type) {
  // Shown in Unicode, the fixed text read as Windows-1252 and the tail in
  // the system's own code page, the box reads right on every Windows, not
  // only where the ANSI code page is 1252.
  WCHAR wideText[720];
  WCHAR wideCaption[32];
  int textUsed = 0;
  int captionUsed = 0;
  if (AppendWide(wideText, CountOf(wideText), &textUsed, kTextCodePage, text) &&
      (tail == nullptr || AppendWide(wideText, CountOf(wideText), &textUsed, CP_ACP, tail)) &&
      AppendWide(wideCaption, CountOf(wideCaption), &captionUsed, kTextCodePage, kCaption)) {
    const int answer = MessageBoxW(nullptr, wideText, wideCaption, type);
    if (answer != 0) return answer;
  }
  // Without the conversion (no 1252 table, a text too long) or the Unicode
  // box, the box as the bytes read in the ANSI code page: a box is never
  // skipped, and its answer never assumed.
  char ansiText[720];
  if (!StrCopy(ansiText, CountOf(ansiText), text) || !StrAppend(ansiText, CountOf(ansiText), tail)) return 0;
  return MessageBoxA(nullptr, ansiText, kCaption, type);
}
