// Text in the machine's ANSI code page for the API, UTF-8 on the host, and
// UTF-16 for the wide calls.
#include <errno.h>
#include <iconv.h>
#include <string.h>

#include <map>
#include <mutex>

#include "win32/internal.h"

namespace hostwin {
namespace {

// Code points of bytes 0x80 to 0xFF. The bytes a code page leaves open map to
// the control characters of the same value, as Windows converts them.
const unsigned short k1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};
const unsigned short k1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};
// Windows-1252 differs from Latin-1 only here.
const unsigned short k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const unsigned kReplacement = 0xFFFD;

unsigned CodePointOf(unsigned char byte, unsigned codePage) {
  if (byte < 0x80) return byte;
  if (codePage == 1250) return k1250[byte - 0x80];
  if (codePage == 1251) return k1251[byte - 0x80];
  return byte < 0xA0 ? k1252High[byte - 0x80] : byte;
}

void AppendUtf8(std::string* out, unsigned cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The byte of a single-byte code page for a code point. The fullwidth forms
// U+FF01 to U+FF5E become the ASCII characters they stand for, as Windows'
// best-fit conversion makes them; whatever else the page lacks becomes '?'.
char ByteOf(unsigned cp, unsigned codePage, bool* exact) {
  *exact = true;
  if (cp < 0x80) return static_cast<char>(cp);
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    if (CodePointOf(static_cast<unsigned char>(byte), codePage) == cp) return static_cast<char>(byte);
  }
  *exact = false;
  if (cp >= 0xFF01 && cp <= 0xFF5E) return static_cast<char>(cp - 0xFEE0);
  return '?';
}

// ---- the double-byte code pages of East Asian Windows ----
// Their letters are one or two bytes; the host's iconv knows each table,
// and which first bytes begin a letter of two is read off it too.

bool IsDoubleByte(unsigned codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

struct DoubleByteTable {
  iconv_t decode = reinterpret_cast<iconv_t>(-1);  // the code page to UTF-32LE
  iconv_t encode = reinterpret_cast<iconv_t>(-1);  // UTF-32LE to the code page
  bool lead[256] = {};
};

// One character through an iconv converter; false when it has none.
bool Convert(iconv_t converter, const char* input, size_t size, char* output, size_t capacity, size_t* made) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(input);
  char* out = output;
  size_t left = size;
  size_t room = capacity;
  if (iconv(converter, &in, &left, &out, &room) == static_cast<size_t>(-1) || left != 0) return false;
  *made = capacity - room;
  return true;
}

bool DecodeOne(const DoubleByteTable& table, const char* bytes, size_t size, char32_t* cp) {
  unsigned char out[8];
  size_t made = 0;
  if (!Convert(table.decode, bytes, size, reinterpret_cast<char*>(out), sizeof(out), &made) || made != 4) {
    return false;
  }
  *cp = out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
  return true;
}

const DoubleByteTable& TableOf(unsigned codePage) {
  // Kept to the very end of the process, whatever runs at its exit.
  static std::mutex lock;
  static std::map<unsigned, DoubleByteTable>* const tables = new std::map<unsigned, DoubleByteTable>;
  std::lock_guard<std::mutex> guard(lock);
  auto found = tables->find(codePage);
  if (found != tables->end()) return found->second;
  DoubleByteTable& table = (*tables)[codePage];
  const std::string name = "CP" + std::to_string(codePage);
  table.decode = iconv_open("UTF-32LE", name.c_str());
  table.encode = iconv_open(name.c_str(), "UTF-32LE");
  // A first byte that begins a letter of two with some second byte.
  for (unsigned first = 0x81; first <= 0xFE && table.decode != reinterpret_cast<iconv_t>(-1); ++first) {
    for (unsigned second = 0x40; second <= 0xFE && !table.lead[first]; ++second) {
      const char pair[2] = {static_cast<char>(first), static_cast<char>(second)};
      char32_t cp = 0;
      table.lead[first] = DecodeOne(table, pair, 2, &cp);
    }
  }
  return table;
}

// What Windows gives for a letter the page has no character for, and for a
// first byte with nothing after it: Windows 10 gives U+30FB, the page's
// default, in 932; '?' in the others.
char32_t DefaultCharacter(unsigned codePage) { return codePage == 932 ? 0x30FB : '?'; }

std::u32string DecodeDoubleByte(const std::string& ansi, unsigned codePage) {
  const DoubleByteTable& table = TableOf(codePage);
  std::u32string out;
  for (size_t i = 0; i < ansi.size();) {
    const unsigned char byte = static_cast<unsigned char>(ansi[i]);
    const size_t size = table.lead[byte] ? 2 : 1;
    char32_t cp = byte;
    if (byte >= 0x80 && (i + size > ansi.size() || !DecodeOne(table, &ansi[i], size, &cp))) {
      cp = DefaultCharacter(codePage);
    }
    out.push_back(cp);
    i += std::min(size, ansi.size() - i);
  }
  return out;
}

std::string EncodeDoubleByte(const std::u32string& text, unsigned codePage, bool* lossless) {
  const DoubleByteTable& table = TableOf(codePage);
  std::string out;
  for (char32_t cp : text) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                                 static_cast<unsigned char>(cp >> 16), static_cast<unsigned char>(cp >> 24)};
    char bytes[8];
    size_t made = 0;
    if (Convert(table.encode, reinterpret_cast<const char*>(in), 4, bytes, sizeof(bytes), &made) && made > 0) {
      out.append(bytes, made);
    } else {
      out.push_back('?');
      if (lossless != nullptr) *lossless = false;
    }
  }
  return out;
}

}  // namespace

bool IsKnownDoubleByte(unsigned codePage) { return IsDoubleByte(codePage); }

bool IsLeadByte(unsigned char byte) {
  const unsigned codePage = AnsiCodePage();
  return IsDoubleByte(codePage) && TableOf(codePage).lead[byte];
}

size_t LetterSize(const std::string& text, size_t at) {
  return at + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[at])) ? 2 : 1;
}

unsigned AnsiCodePage() {
  const Machine* machine = CurrentMachine();
  return machine != nullptr ? machine->settings.codePage : 1252;
}

std::u32string DecodeUtf8(const std::string& utf8) {
  std::u32string out;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    unsigned cp = lead;
    size_t extra = 0;
    if (lead >= 0xF0 && lead < 0xF8) {
      cp = lead & 0x07;
      extra = 3;
    } else if (lead >= 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
    } else if (lead >= 0xC0) {
      cp = lead & 0x1F;
      extra = 1;
    }
    bool valid = lead < 0x80 || (extra != 0 && lead < 0xF8);
    for (size_t k = 1; valid && k <= extra; ++k) {
      const unsigned char next = i + k < utf8.size() ? static_cast<unsigned char>(utf8[i + k]) : 0;
      valid = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    out.push_back(valid ? static_cast<char32_t>(cp) : static_cast<char32_t>(kReplacement));
    i += valid ? extra + 1 : 1;
  }
  return out;
}

std::string EncodeUtf8(const std::u32string& text) {
  std::string out;
  for (char32_t cp : text) AppendUtf8(&out, cp);
  return out;
}

std::u32string DecodeUtf16(const char16_t* text, size_t length) {
  std::u32string decoded;
  for (size_t i = 0; i < length; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    decoded.push_back(cp);
  }
  return decoded;
}

std::u16string EncodeUtf16(const std::u32string& text) {
  std::u16string wide;
  for (char32_t cp : text) {
    if (cp >= 0x10000) {
      wide.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(cp));
    }
  }
  return wide;
}

std::u32string DecodeAnsi(const std::string& ansi, unsigned codePage) {
  if (codePage == kUtf8CodePage) return DecodeUtf8(ansi);
  if (IsDoubleByte(codePage)) return DecodeDoubleByte(ansi, codePage);
  std::u32string out;
  for (unsigned char byte : ansi) out.push_back(CodePointOf(byte, codePage));
  return out;
}

std::string EncodeAnsi(const std::u32string& text, unsigned codePage, bool* lossless) {
  if (lossless != nullptr) *lossless = true;
  if (codePage == kUtf8CodePage) return EncodeUtf8(text);
  if (IsDoubleByte(codePage)) return EncodeDoubleByte(text, codePage, lossless);
  std::string out;
  for (char32_t cp : text) {
    bool exact = true;
    out.push_back(ByteOf(cp, codePage, &exact));
    if (!exact && lossless != nullptr) *lossless = false;
  }
  return out;
}

bool IsKnownCodePage(unsigned codePage) {
  return codePage == 1250 || codePage == 1251 || codePage == 1252 || codePage == kUtf8CodePage ||
         IsDoubleByte(codePage);
}

std::string Utf8FromAnsi(const std::string& ansi) { return EncodeUtf8(DecodeAnsi(ansi, AnsiCodePage())); }

std::string AnsiFromUtf8(const std::string& utf8) {
  return EncodeAnsi(DecodeUtf8(utf8), AnsiCodePage(), nullptr);
}

char32_t FoldCodePoint(char32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 0x20;
  if (cp < 0xE0) return cp;
  if (cp <= 0xFE) return cp == 0xF7 ? cp : cp - 0x20;
  if (cp == 0xFF) return 0x178;
  // Latin Extended-A pairs its letters upper first, but for two runs.
  if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 && cp != 0x17F) {
    const bool upperOdd = (cp >= 0x139 && cp <= 0x148) || cp >= 0x179;
    const bool isLower = upperOdd ? cp % 2 == 0 : cp % 2 == 1;
    return isLower ? cp - 1 : cp;
  }
  if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
  if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
  if (cp == 0x491) return 0x490;
  return cp;
}

std::u32string FoldText(const std::u32string& text) {
  std::u32string out(text);
  for (char32_t& cp : out) cp = FoldCodePoint(cp);
  return out;
}

bool SameNameNoCase(const std::string& hostName, const std::string& ansiName) {
  return FoldText(DecodeUtf8(hostName)) == FoldText(DecodeAnsi(ansiName, AnsiCodePage()));
}

char FoldChar(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  if (byte >= 'a' && byte <= 'z') return static_cast<char>(byte - 0x20);
  if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return static_cast<char>(byte - 0x20);
  switch (byte) {
    case 0x9A:
      return static_cast<char>(0x8A);
    case 0x9C:
      return static_cast<char>(0x8C);
    case 0x9E:
      return static_cast<char>(0x8E);
    case 0xFF:
      return static_cast<char>(0x9F);
    default:
      return c;
  }
}

std::string Fold(const std::string& text) {
  std::string out(text);
  // In a double-byte code page only the letters of one byte are ASCII or
  // Latin; a letter of two stays as it is, its second byte too.
  const bool doubleByte = IsDoubleByte(AnsiCodePage());
  for (size_t i = 0; i < out.size(); i += doubleByte ? LetterSize(out, i) : 1) {
    const bool ascii = static_cast<unsigned char>(out[i]) < 0x80;
    if (!doubleByte || (ascii && LetterSize(out, i) == 1)) out[i] = FoldChar(out[i]);
  }
  return out;
}

bool EqualNoCase(const std::string& left, const std::string& right) {
  return left.size() == right.size() && Fold(left) == Fold(right);
}

}  // namespace hostwin

using namespace hostwin;

namespace {

// The code page a conversion call names; 0 when the machine has no such page.
unsigned ResolveCodePage(UINT codePage) {
  if (codePage == CP_ACP) return AnsiCodePage();
  return IsKnownCodePage(codePage) ? codePage : 0;
}

}  // namespace

extern "C" int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR source, int sourceLength,
                                          LPWSTR target, int targetLength) {
  const ApiCall call("MultiByteToWideChar");
  if (call.Fails()) return 0;
  const unsigned page = ResolveCodePage(codePage);
  if (page == 0 || source == nullptr || sourceLength < -1 || targetLength < 0 ||
      (targetLength > 0 && target == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1: the whole string and its terminator.
  const size_t length = sourceLength == -1 ? strlen(source) + 1 : static_cast<size_t>(sourceLength);
  const std::u16string wide = EncodeUtf16(DecodeAnsi(std::string(source, length), page));
  if (targetLength == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(targetLength)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(target, wide.data(), wide.size() * sizeof(WCHAR));
  return static_cast<int>(wide.size());
}

extern "C" int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR source, int sourceLength,
                                          LPSTR target, int targetLength, LPCSTR, LPBOOL usedDefault) {
  const ApiCall call("WideCharToMultiByte");
  if (call.Fails()) return 0;
  const unsigned page = ResolveCodePage(codePage);
  if (page == 0 || source == nullptr || sourceLength < -1 || targetLength < 0 ||
      (targetLength > 0 && target == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = 0;
  if (sourceLength == -1) {
    while (source[length] != 0) ++length;
    ++length;
  } else {
    length = static_cast<size_t>(sourceLength);
  }
  bool lossless = true;
  const std::string bytes = EncodeAnsi(DecodeUtf16(source, length), page, &lossless);
  if (usedDefault != nullptr) *usedDefault = lossless ? FALSE : TRUE;
  if (targetLength == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<size_t>(targetLength)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(target, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE byte) {
  const ApiCall call("IsDBCSLeadByte");
  return IsLeadByte(byte) ? TRUE : FALSE;
}

// A first byte with nothing after it is a letter of its own, as in
// Windows and Wine.
extern "C" LPSTR WINAPI CharNextA(LPCSTR at) {
  const ApiCall call("CharNextA");
  if (at == nullptr || *at == '\0') return const_cast<LPSTR>(at);
  return const_cast<LPSTR>(at + (IsLeadByte(static_cast<unsigned char>(at[0])) && at[1] != '\0' ? 2 : 1));
}

extern "C" LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR at) {
  const ApiCall call("CharPrevA");
  if (start == nullptr || at == nullptr || at <= start) return const_cast<LPSTR>(start);
  // The letters are found from the start: a second byte alone cannot tell.
  const char* letter = start;
  for (;;) {
    const char* next = letter + (IsLeadByte(static_cast<unsigned char>(letter[0])) && letter[1] != '\0' ? 2 : 1);
    if (next >= at) return const_cast<LPSTR>(letter);
    letter = next;
  }
}
