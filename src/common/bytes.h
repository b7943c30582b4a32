// Little-endian numbers read byte by byte out of what Windows wrote into a
// buffer, where nothing says they are aligned.
#ifndef PREUNINST_COMMON_BYTES_H
#define PREUNINST_COMMON_BYTES_H

#include <stddef.h>

#include "common/platform.h"

inline unsigned ByteAt(const BYTE* data, size_t at) { return data[at]; }
inline unsigned WordAt(const BYTE* data, size_t at) { return ByteAt(data, at) | ByteAt(data, at + 1) << 8; }
inline DWORD LongAt(const BYTE* data, size_t at) {
  return WordAt(data, at) | static_cast<DWORD>(WordAt(data, at + 2)) << 16;
}

#endif
