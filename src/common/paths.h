// Windows paths as text: their top, their directories, the directory above.
// Read by letters (common/letters.h), never byte by byte.
#ifndef PREUNINST_COMMON_PATHS_H
#define PREUNINST_COMMON_PATHS_H

#include <stddef.h>

// Whether a value names a full path: a drive's (C:\...) or a share's
// (\\server\share\...), not a device path.
bool NamesFullPath(const char* value);

// How long the top of a full path is: C:\ or \\server\share\ with the
// backslashes after it.
size_t RootLength(const char* path);

// The top of a full path as a directory of its own (C:\, \\server\share\).
bool RootOf(const char* path, char* root, size_t capacity);

// C:\ or \\server\share\: the top of a drive or of a share. path is full.
bool IsRoot(const char* path);

// A full path as a directory of its own, in place: without trailing
// backslashes, but for a root, which keeps one (C:\, \\server\share\).
// Windows reports a link's own attributes only for a path without them.
bool TrimToDirectory(char* path, size_t capacity);
bool DirectoryPath(char* path, size_t capacity, const char* full);

// Climbs to the directory above, in place; false at a root.
bool ClimbOneDirectory(char* path, size_t capacity);

// Cuts the last directory off a path that ends in a backslash, in place:
// C:\APP\SYSTEM\ becomes C:\APP\. A path that does not end in a backslash,
// or whose only backslash is the last character, stays as it is.
void StripLastDirectory(char* path);

#endif
